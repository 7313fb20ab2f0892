// Character classes of GetCodeType and the ruled-line and arrow mappings, row by row.
#include <gtest/gtest.h>

#include <vector>

#include "decoder_support.h"

using namespace decoder_test;

namespace {

struct CodeTypeCase {
    uint8_t first;
    const char* following; // the source bytes after the first byte ("": the source ends)
    int32_t expectedClass;
    uint32_t advance; // bytes consumed after the first byte
};

// Every row of the class table at its edges, the block-header cases, and a lead byte or CR as the
// last byte of the source (no second byte to read, still one position consumed).
const CodeTypeCase kCodeTypeCases[] = {
    {0x1A, "", CODE_EOF, 0}, {0x09, "", CODE_SINGLE, 0}, {0x20, "", CODE_SINGLE, 0}, {0x7E, "", CODE_SINGLE, 0},
    {0xA1, "", CODE_SINGLE, 0}, {0xDF, "", CODE_SINGLE, 0}, {0x0A, "", CODE_INVALID, 0}, {0x00, "", CODE_INVALID, 0},
    {0x1F, "", CODE_INVALID, 0}, {0x7F, "", CODE_INVALID, 0}, {0x80, "", CODE_INVALID, 0}, {0xFD, "", CODE_INVALID, 0},
    {0xFF, "", CODE_INVALID, 0},
    // CR, and lead bytes with the source ending or a block header after them
    {0x0D, "\x0A", CODE_CRLF, 1}, {0x0D, "\x41", CODE_INVALID, 1}, {0x0D, "\xF0\x04", CODE_BLOCK_BREAK, 2},
    {0x0D, "", CODE_INVALID, 1}, {0x82, "", CODE_INVALID, 1}, {0xEF, "", CODE_INVALID, 1}, {0xFC, "", CODE_INVALID, 1},
    {0x82, "\xF0\x04", CODE_BLOCK_BREAK, 2}, {0x82, "\xF0\x05", CODE_DOUBLE, 1}, {0x82, "\xF0", CODE_DOUBLE, 1},
    {0xEF, "\xF0\x41", CODE_CONTROL, 1},
    // ordinary double-byte codes
    {0x81, "\x40", CODE_DOUBLE, 1}, {0x82, "\xFC", CODE_DOUBLE, 1}, {0x82, "\x7F", CODE_DOUBLE, 1},
    {0x82, "\x3F", CODE_INVALID, 1}, {0x82, "\xFD", CODE_INVALID, 1}, {0xA0, "\x40", CODE_DOUBLE, 1},
    {0xE0, "\x40", CODE_DOUBLE, 1}, {0xEA, "\xFC", CODE_DOUBLE, 1},
    // ruled lines and the frame character
    {0x84, "\x9F", CODE_RULED_LINE, 1}, {0x84, "\xBE", CODE_RULED_LINE, 1}, {0x84, "\xBF", CODE_DOUBLE, 1},
    {0x84, "\x9E", CODE_DOUBLE, 1}, {0x84, "\x3F", CODE_INVALID, 1}, {0x98, "\x67", CODE_FRAME, 1},
    {0x98, "\x68", CODE_DOUBLE, 1}, {0xED, "\xDF", CODE_RULED_LINE, 1}, {0xED, "\xFC", CODE_RULED_LINE, 1},
    {0xED, "\x40", CODE_OASYS_EXT, 1}, {0xED, "\xDE", CODE_OASYS_EXT, 1}, {0xEE, "\x40", CODE_RULED_LINE, 1},
    {0xEE, "\x7F", CODE_RULED_LINE, 1}, {0xEE, "\x9E", CODE_RULED_LINE, 1}, {0xEE, "\x9F", CODE_OASYS_EXT, 1},
    {0xEE, "\xDE", CODE_OASYS_EXT, 1}, {0xEE, "\xDF", CODE_RULED_LINE, 1}, {0xEE, "\xFC", CODE_RULED_LINE, 1},
    {0xEE, "\xFD", CODE_INVALID, 1},
    // user-defined, arrows, OASYS extensions, control codes
    {0xEB, "\x40", CODE_USER_DEFINED, 1}, {0xEC, "\x4E", CODE_OASYS_EXT, 1}, {0xEC, "\x4F", CODE_ARROW, 1},
    {0xEC, "\x52", CODE_ARROW, 1}, {0xEC, "\x53", CODE_OASYS_EXT, 1}, {0xEF, "\x40", CODE_OASYS_EXT, 1},
    {0xEF, "\x8C", CODE_OASYS_EXT, 1}, {0xEF, "\x8D", CODE_ARROW, 1}, {0xEF, "\x90", CODE_ARROW, 1},
    {0xEF, "\x91", CODE_OASYS_EXT, 1}, {0xEF, "\x94", CODE_OASYS_EXT, 1}, {0xEF, "\x95", CODE_CONTROL, 1},
    {0xEF, "\x96", CODE_CONTROL, 1}, {0xEF, "\x97", CODE_OASYS_EXT, 1}, {0xEF, "\x9E", CODE_OASYS_EXT, 1},
    {0xEF, "\x9F", CODE_CONTROL, 1}, {0xEF, "\xFC", CODE_CONTROL, 1}, {0xEF, "\xFD", CODE_INVALID, 1},
    {0xF0, "\x04", CODE_CONTROL, 1}, {0xF0, "\x40", CODE_USER_DEFINED, 1}, {0xF4, "\x9F", CODE_USER_DEFINED, 1},
    {0xF9, "\xFC", CODE_USER_DEFINED, 1}, {0xF1, "\x04", CODE_INVALID, 1},
    // IBM extensions and the 0xFC row
    {0xFA, "\x40", CODE_IBM_EXT, 1}, {0xFB, "\xFC", CODE_IBM_EXT, 1}, {0xFC, "\x40", CODE_IBM_EXT, 1},
    {0xFC, "\x4B", CODE_IBM_EXT, 1}, {0xFC, "\x4C", CODE_INVALID, 1}, {0xFC, "\x9E", CODE_INVALID, 1},
    {0xFC, "\x9F", CODE_FC_SPECIAL, 1}, {0xFC, "\xA3", CODE_FC_SPECIAL, 1}, {0xFC, "\xA6", CODE_FC_SPECIAL, 1},
    {0xFC, "\xA7", CODE_INVALID, 1}, {0xFC, "\xA8", CODE_OASYS_EXT, 1}, {0xFC, "\xC8", CODE_OASYS_EXT, 1},
    {0xFC, "\xC9", CODE_INVALID, 1}, {0xFC, "\xFC", CODE_INVALID, 1},
};

class CodeType : public HostCheckedTest {};

TEST_F(CodeType, EveryRowAndEdge) {
    TempDir dir;
    for (const CodeTypeCase& c : kCodeTypeCases) {
        const Bytes following = bytes(c.following);
        SCOPED_TRACE(testing::Message() << std::hex << "first 0x" << int(c.first) << " following "
                                        << testing::PrintToString(following));
        // A marker byte stands before the following bytes, so that position 1 is the byte after b1.
        writeFile(dir / "src", concat({bytes("\x7E"), following}));
        const uint32_t source = KRM_FileOpen((dir / "src").c_str(), "rb");
        uint8_t character[2] = {c.first, 0x55};
        uint32_t position = 1;
        EXPECT_EQ(GetCodeType(source, character, &position, 0), c.expectedClass);
        KRM_FileClose(source);
        EXPECT_EQ(position - 1, c.advance);
        EXPECT_EQ(character[0], c.first) << "the first byte stays";
        const uint8_t second = c.advance == 0 || following.empty() ? 0x55 : following[0];
        if (c.advance == 0 || !following.empty()) {
            EXPECT_EQ(character[1], second) << "second byte stored only when read";
        }
    }
}

// ---- Ruled-line and arrow mapping -----------------------------------------------------------------

using Mapper = void (*)(const uint8_t*, uint8_t*, uint32_t*, uint32_t);
struct MappedRange {
    const char* name;
    Mapper mapper;
    uint16_t low; // the range low..low+size-1 maps row by row onto the table
    const uint16_t* table;
    std::vector<uint16_t> expected; // the rows of the format description, typed out independently
};

const MappedRange kRanges[] = {
    {"kei1", KeitoJis, 0xEDDF, kei1_table,
     {0x849F, 0x84A1, 0x84A2, 0x84A6, 0x84A7, 0x84A6, 0x84A6, 0x84A6, 0x84A6, 0x84A6, 0x84A6, 0x84A6, 0x84A6, 0x84A7,
      0x84A7, 0x84A7, 0x84A7, 0x84A7, 0x84A7, 0x84A7, 0x84A7, 0x84A9, 0x84A9, 0x84A9, 0x84A9, 0x84A9, 0x84A9, 0x84A6,
      0x84A7, 0x84A9}},
    {"kei2", KeitoJis, 0xEE40, kei2_table,
     {0x84A1, 0x84A2, 0x84A4, 0x84A3, 0x849F, 0x84A0, 0x84A8, 0x84A5, 0x84A6, 0x84A7, 0x84A9, 0x8140, 0x8140, 0x84A0,
      0x849F, 0x84A0, 0x849F, 0x84A8, 0x84A8, 0x84A5, 0x84A5, 0x84A6, 0x84A6, 0x84A7, 0x84A7, 0x84A9, 0x84A9, 0x84A5,
      0x84A5, 0x84A8, 0x84A9, 0x84A9, 0x84A1, 0x84A2, 0x84A4, 0x84A3, 0x849F, 0x84A0, 0x84A8, 0x84A5, 0x84A6, 0x84A7,
      0x84A9, 0x8140, 0x8140, 0x84A0, 0x849F, 0x84A0, 0x849F, 0x84A8, 0x84A8, 0x84A5, 0x84A5, 0x84A6, 0x84A6, 0x84A7,
      0x84A7, 0x84A9, 0x84A9, 0x84A7, 0x84A7, 0x84A8, 0x84A9}},
    {"kei3", KeitoJis, 0xEE80, kei3_table,
     {0x84A9, 0x84A1, 0x84A2, 0x84A4, 0x84A3, 0x849F, 0x84A0, 0x84A8, 0x84A5, 0x84A6, 0x84A7, 0x84A9, 0x8140, 0x8140,
      0x84A0, 0x849F, 0x84A0, 0x849F, 0x84A8, 0x84A8, 0x84A5, 0x84A5, 0x84A6, 0x84A6, 0x84A7, 0x84A7, 0x84A9, 0x84A9,
      0x84A6, 0x84A6, 0x84A9}},
    {"kei4", KeitoJis, 0xEEDF, kei4_table,
     {0x84A0, 0x84A4, 0x84A3, 0x84A8, 0x84A5, 0x84A8, 0x84A8, 0x84A8, 0x84A8, 0x84A8, 0x84A8, 0x84A8, 0x84A8, 0x84A5,
      0x84A5, 0x84A5, 0x84A5, 0x84A5, 0x84A5, 0x84A5, 0x84A5, 0x84A9, 0x84A9, 0x84A9, 0x84A9, 0x84A9, 0x84A9, 0x84A8,
      0x84A5, 0x84A9}},
    {"jis", KeitoJis, 0x849F, jis_table,
     {0x849F, 0x84A0, 0x84A1, 0x84A2, 0x84A3, 0x84A4, 0x84A5, 0x84A6, 0x84A7, 0x84A8, 0x84A9, 0x849F, 0x84A0, 0x84A1,
      0x84A2, 0x84A3, 0x84A4, 0x84A5, 0x84A6, 0x84A7, 0x84A8, 0x84A9, 0x84A5, 0x84A6, 0x84A7, 0x84A8, 0x84A9, 0x84A5,
      0x84A6, 0x84A7, 0x84A8, 0x84A9}},
    {"arrow1", ArtoJisAr, 0xEC4F, arrow1_table, {0x81AB, 0x81AA, 0x81A9, 0x81A8}},
    {"arrow2", ArtoJisAr, 0xEF8D, arrow2_table, {0x81A8, 0x81A9, 0x81AA, 0x81AB}},
};

// Each exported table entry is its row, and each code of the range appends that row at the given
// length, lead byte first whatever the processor's byte order, and nothing beyond it.
TEST(MappingTables, EveryCodeOfEveryRangeAppendsItsRow) {
    const uint32_t hostOrder = static_cast<uint32_t>(IsCPUBigEndian());
    for (const MappedRange& r : kRanges) {
        for (size_t i = 0; i < r.expected.size(); ++i) {
            const uint32_t code = r.low + i;
            SCOPED_TRACE(testing::Message() << r.name << std::hex << " code " << code);
            EXPECT_EQ(r.table[i], r.expected[i]);
            const uint8_t character[2] = {uint8_t(code >> 8), uint8_t(code)};
            std::array<uint8_t, 16> output{};
            uint32_t length = 10;
            r.mapper(character, output.data(), &length, hostOrder);
            EXPECT_EQ(length, 12u);
            EXPECT_EQ(output[10] << 8 | output[11], r.expected[i]);
            EXPECT_EQ(output[12], 0);
        }
    }
}

TEST(MappingTables, CodesOutsideTheRangesAppendNothing) {
    const uint32_t hostOrder = static_cast<uint32_t>(IsCPUBigEndian());
    const std::pair<Mapper, std::vector<uint16_t>> outside[] = {
        {KeitoJis, {0xEE7F, 0xEE9F, 0xEEDE, 0x84BF, 0x849E, 0xEDDE, 0xEEFD, 0xEC4F}},
        {ArtoJisAr, {0xEC4E, 0xEC53, 0xEF8C, 0xEF91, 0xEDDF}}};
    for (const auto& [mapper, codes] : outside) {
        for (uint16_t code : codes) {
            const uint8_t character[2] = {uint8_t(code >> 8), uint8_t(code)};
            std::array<uint8_t, 4> output{};
            uint32_t length = 1;
            mapper(character, output.data(), &length, hostOrder);
            EXPECT_EQ(length, 1u) << std::hex << code;
            EXPECT_EQ(output, (std::array<uint8_t, 4>{})) << std::hex << code;
        }
    }
}

} // namespace
