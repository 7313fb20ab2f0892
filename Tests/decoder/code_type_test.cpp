// Character classes of GetCodeType and the ruled-line and arrow mappings, row by row.
#include <gtest/gtest.h>

#include <vector>

#include "decoder_support.h"

using namespace decoder_test;

namespace {

struct CodeTypeCase {
    uint8_t first;
    const char* following; // the source bytes after the first byte
    int32_t expectedClass;
    uint32_t advance;      // bytes the call consumes after the first byte
};

// Classes (first byte, following bytes). A following text of "" means nothing may be read.
const CodeTypeCase kCodeTypeCases[] = {
    // single bytes and the end byte
    {0x1A, "", CODE_EOF, 0},
    {0x09, "", CODE_SINGLE, 0},
    {0x20, "", CODE_SINGLE, 0},
    {0x7E, "", CODE_SINGLE, 0},
    {0xA1, "", CODE_SINGLE, 0},
    {0xDF, "", CODE_SINGLE, 0},
    {0x0A, "", CODE_INVALID, 0},
    {0x00, "", CODE_INVALID, 0},
    {0x1F, "", CODE_INVALID, 0},
    {0x7F, "", CODE_INVALID, 0},
    {0x80, "", CODE_INVALID, 0},
    {0xFD, "", CODE_INVALID, 0},
    {0xFF, "", CODE_INVALID, 0},
    // CR
    {0x0D, "\x0A", CODE_CRLF, 1},
    {0x0D, "\x41", CODE_INVALID, 1},
    {0x0D, "\xF0\x04", CODE_BLOCK_BREAK, 2},
    // ordinary double-byte codes
    {0x81, "\x40", CODE_DOUBLE, 1},
    {0x82, "\xFC", CODE_DOUBLE, 1},
    {0x82, "\x7F", CODE_DOUBLE, 1},
    {0x82, "\x3F", CODE_INVALID, 1},
    {0x82, "\xFD", CODE_INVALID, 1},
    {0xA0, "\x40", CODE_DOUBLE, 1},
    {0xE0, "\x40", CODE_DOUBLE, 1},
    {0xEA, "\xFC", CODE_DOUBLE, 1},
    // block header after a lead byte
    {0x82, "\xF0\x04", CODE_BLOCK_BREAK, 2},
    {0x82, "\xF0\x05", CODE_DOUBLE, 1},
    {0xEF, "\xF0\x41", CODE_CONTROL, 1},
    // ruled lines and the frame character
    {0x84, "\x9F", CODE_RULED_LINE, 1},
    {0x84, "\xBE", CODE_RULED_LINE, 1},
    {0x84, "\xBF", CODE_DOUBLE, 1},
    {0x84, "\x9E", CODE_DOUBLE, 1},
    {0x84, "\x3F", CODE_INVALID, 1},
    {0x98, "\x67", CODE_FRAME, 1},
    {0x98, "\x68", CODE_DOUBLE, 1},
    {0xED, "\xDF", CODE_RULED_LINE, 1},
    {0xED, "\xFC", CODE_RULED_LINE, 1},
    {0xED, "\x40", CODE_OASYS_EXT, 1},
    {0xED, "\xDE", CODE_OASYS_EXT, 1},
    {0xEE, "\x40", CODE_RULED_LINE, 1},
    {0xEE, "\x7F", CODE_RULED_LINE, 1},
    {0xEE, "\x9E", CODE_RULED_LINE, 1},
    {0xEE, "\x9F", CODE_OASYS_EXT, 1},
    {0xEE, "\xDE", CODE_OASYS_EXT, 1},
    {0xEE, "\xDF", CODE_RULED_LINE, 1},
    {0xEE, "\xFC", CODE_RULED_LINE, 1},
    {0xEE, "\xFD", CODE_INVALID, 1},
    // user-defined, arrows, OASYS extensions, control codes
    {0xEB, "\x40", CODE_USER_DEFINED, 1},
    {0xEC, "\x4E", CODE_OASYS_EXT, 1},
    {0xEC, "\x4F", CODE_ARROW, 1},
    {0xEC, "\x52", CODE_ARROW, 1},
    {0xEC, "\x53", CODE_OASYS_EXT, 1},
    {0xEF, "\x40", CODE_OASYS_EXT, 1},
    {0xEF, "\x8C", CODE_OASYS_EXT, 1},
    {0xEF, "\x8D", CODE_ARROW, 1},
    {0xEF, "\x90", CODE_ARROW, 1},
    {0xEF, "\x91", CODE_OASYS_EXT, 1},
    {0xEF, "\x94", CODE_OASYS_EXT, 1},
    {0xEF, "\x95", CODE_CONTROL, 1},
    {0xEF, "\x96", CODE_CONTROL, 1},
    {0xEF, "\x97", CODE_OASYS_EXT, 1},
    {0xEF, "\x9E", CODE_OASYS_EXT, 1},
    {0xEF, "\x9F", CODE_CONTROL, 1},
    {0xEF, "\xFC", CODE_CONTROL, 1},
    {0xEF, "\xFD", CODE_INVALID, 1},
    {0xF0, "\x04", CODE_CONTROL, 1},
    {0xF0, "\x40", CODE_USER_DEFINED, 1},
    {0xF4, "\x9F", CODE_USER_DEFINED, 1},
    {0xF9, "\xFC", CODE_USER_DEFINED, 1},
    {0xF1, "\x04", CODE_INVALID, 1},
    // IBM extensions and the 0xFC row
    {0xFA, "\x40", CODE_IBM_EXT, 1},
    {0xFB, "\xFC", CODE_IBM_EXT, 1},
    {0xFC, "\x40", CODE_IBM_EXT, 1},
    {0xFC, "\x4B", CODE_IBM_EXT, 1},
    {0xFC, "\x4C", CODE_INVALID, 1},
    {0xFC, "\x9E", CODE_INVALID, 1},
    {0xFC, "\x9F", CODE_FC_SPECIAL, 1},
    {0xFC, "\xA3", CODE_FC_SPECIAL, 1},
    {0xFC, "\xA6", CODE_FC_SPECIAL, 1},
    {0xFC, "\xA7", CODE_INVALID, 1},
    {0xFC, "\xA8", CODE_OASYS_EXT, 1},
    {0xFC, "\xC8", CODE_OASYS_EXT, 1},
    {0xFC, "\xC9", CODE_INVALID, 1},
    {0xFC, "\xFC", CODE_INVALID, 1},
};

Bytes followingBytes(const CodeTypeCase& c) { return bytes(c.following); }

class CodeType : public HostCheckedTest {
protected:
    struct Result {
        int32_t codeClass;
        uint32_t position;
        uint8_t second;
    };
    // The source holds a marker before the following bytes, so that position 1 is the byte after b1.
    Result classify(uint8_t first, const Bytes& following) {
        TempDir dir;
        writeFile(dir / "src", concat({bytes("\x7E"), following}));
        const uint32_t source = KRM_FileOpen((dir / "src").c_str(), "rb");
        std::array<uint8_t, 2> character{first, 0x55};
        uint32_t position = 1;
        const int32_t codeClass = GetCodeType(source, character.data(), &position, 0);
        KRM_FileClose(source);
        EXPECT_EQ(character[0], first) << "the first byte stays";
        return {codeClass, position - 1, character[1]};
    }
};

TEST_F(CodeType, EveryRowAndEdge) {
    for (const CodeTypeCase& c : kCodeTypeCases) {
        const Bytes following = followingBytes(c);
        const Result r = classify(c.first, following);
        SCOPED_TRACE(testing::Message() << std::hex << "first 0x" << int(c.first) << " following "
                                        << testing::PrintToString(following));
        EXPECT_EQ(r.codeClass, c.expectedClass);
        EXPECT_EQ(r.position, c.advance);
        if (c.advance == 0) EXPECT_EQ(r.second, 0x55) << "no second byte read";
        else EXPECT_EQ(r.second, following[0]) << "second byte stored";
    }
}

TEST_F(CodeType, HeaderAfterCrLeavesF0InTheBuffer) {
    const Result r = classify(0x0D, bytes(std::string_view("\xF0\x04\x00\x10", 4)));
    EXPECT_EQ(r.codeClass, CODE_BLOCK_BREAK);
    EXPECT_EQ(r.second, 0xF0);
    EXPECT_EQ(r.position, 2u);
}

// The last byte of the source is a lead byte or CR: no second byte can be read.
TEST_F(CodeType, LeadOrCrAtTheEndOfTheSourceIsInvalid) {
    for (uint8_t first : {uint8_t{0x0D}, uint8_t{0x82}, uint8_t{0xEF}, uint8_t{0xFC}}) {
        const Result r = classify(first, {});
        EXPECT_EQ(r.codeClass, CODE_INVALID) << int(first);
        EXPECT_EQ(r.position, 1u);
    }
    const Result afterF0 = classify(0x82, bytes("\xF0"));
    EXPECT_EQ(afterF0.codeClass, CODE_DOUBLE) << "F0 without 04 is an ordinary trail byte";
    EXPECT_EQ(afterF0.position, 1u);
}

// ---- Ruled-line and arrow mapping -----------------------------------------------------------------

struct TableCase {
    const char* name;
    const uint16_t* table;
    std::vector<uint16_t> expected;
};

// The rows of the format description, typed out again independently of the library's tables.
const TableCase kTables[] = {
    {"kei1", kei1_table, {0x849F, 0x84A1, 0x84A2, 0x84A6, 0x84A7, 0x84A6, 0x84A6, 0x84A6, 0x84A6, 0x84A6,
                          0x84A6, 0x84A6, 0x84A6, 0x84A7, 0x84A7, 0x84A7, 0x84A7, 0x84A7, 0x84A7, 0x84A7,
                          0x84A7, 0x84A9, 0x84A9, 0x84A9, 0x84A9, 0x84A9, 0x84A9, 0x84A6, 0x84A7, 0x84A9}},
    {"kei2", kei2_table, {0x84A1, 0x84A2, 0x84A4, 0x84A3, 0x849F, 0x84A0, 0x84A8, 0x84A5, 0x84A6, 0x84A7, 0x84A9,
                          0x8140, 0x8140, 0x84A0, 0x849F, 0x84A0, 0x849F, 0x84A8, 0x84A8, 0x84A5, 0x84A5, 0x84A6,
                          0x84A6, 0x84A7, 0x84A7, 0x84A9, 0x84A9, 0x84A5, 0x84A5, 0x84A8, 0x84A9, 0x84A9, 0x84A1,
                          0x84A2, 0x84A4, 0x84A3, 0x849F, 0x84A0, 0x84A8, 0x84A5, 0x84A6, 0x84A7, 0x84A9, 0x8140,
                          0x8140, 0x84A0, 0x849F, 0x84A0, 0x849F, 0x84A8, 0x84A8, 0x84A5, 0x84A5, 0x84A6, 0x84A6,
                          0x84A7, 0x84A7, 0x84A9, 0x84A9, 0x84A7, 0x84A7, 0x84A8, 0x84A9}},
    {"kei3", kei3_table, {0x84A9, 0x84A1, 0x84A2, 0x84A4, 0x84A3, 0x849F, 0x84A0, 0x84A8, 0x84A5, 0x84A6, 0x84A7,
                          0x84A9, 0x8140, 0x8140, 0x84A0, 0x849F, 0x84A0, 0x849F, 0x84A8, 0x84A8, 0x84A5, 0x84A5,
                          0x84A6, 0x84A6, 0x84A7, 0x84A7, 0x84A9, 0x84A9, 0x84A6, 0x84A6, 0x84A9}},
    {"kei4", kei4_table, {0x84A0, 0x84A4, 0x84A3, 0x84A8, 0x84A5, 0x84A8, 0x84A8, 0x84A8, 0x84A8, 0x84A8,
                          0x84A8, 0x84A8, 0x84A8, 0x84A5, 0x84A5, 0x84A5, 0x84A5, 0x84A5, 0x84A5, 0x84A5,
                          0x84A5, 0x84A9, 0x84A9, 0x84A9, 0x84A9, 0x84A9, 0x84A9, 0x84A8, 0x84A5, 0x84A9}},
    {"jis", jis_table, {0x849F, 0x84A0, 0x84A1, 0x84A2, 0x84A3, 0x84A4, 0x84A5, 0x84A6, 0x84A7, 0x84A8, 0x84A9,
                        0x849F, 0x84A0, 0x84A1, 0x84A2, 0x84A3, 0x84A4, 0x84A5, 0x84A6, 0x84A7, 0x84A8, 0x84A9,
                        0x84A5, 0x84A6, 0x84A7, 0x84A8, 0x84A9, 0x84A5, 0x84A6, 0x84A7, 0x84A8, 0x84A9}},
    {"arrow1", arrow1_table, {0x81AB, 0x81AA, 0x81A9, 0x81A8}},
    {"arrow2", arrow2_table, {0x81A8, 0x81A9, 0x81AA, 0x81AB}},
};

TEST(MappingTables, EveryEntryMatchesItsRow) {
    for (const TableCase& t : kTables)
        for (size_t i = 0; i < t.expected.size(); ++i)
            EXPECT_EQ(t.table[i], t.expected[i]) << t.name << " entry " << i;
}

struct MapperRange {
    void (*mapper)(const uint8_t*, uint8_t*, uint32_t*, uint32_t);
    uint16_t low;
    uint16_t high;
    const uint16_t* table;
};
const MapperRange kMapperRanges[] = {
    {KeitoJis, 0xEDDF, 0xEDFC, kei1_table}, {KeitoJis, 0xEE40, 0xEE7E, kei2_table},
    {KeitoJis, 0xEE80, 0xEE9E, kei3_table}, {KeitoJis, 0xEEDF, 0xEEFC, kei4_table},
    {KeitoJis, 0x849F, 0x84BE, jis_table},  {ArtoJisAr, 0xEC4F, 0xEC52, arrow1_table},
    {ArtoJisAr, 0xEF8D, 0xEF90, arrow2_table},
};

// Appends at the given length, lead byte first, whatever the processor's byte order.
TEST(MappingTables, EveryCodeOfEveryRangeAppendsItsTarget) {
    const uint32_t hostOrder = static_cast<uint32_t>(IsCPUBigEndian());
    for (const MapperRange& r : kMapperRanges) {
        for (uint32_t code = r.low; code <= r.high; ++code) {
            const uint8_t character[2] = {uint8_t(code >> 8), uint8_t(code)};
            std::array<uint8_t, 16> output{};
            uint32_t length = 10;
            r.mapper(character, output.data(), &length, hostOrder);
            const uint16_t target = r.table[code - r.low];
            EXPECT_EQ(length, 12u) << std::hex << code;
            EXPECT_EQ(output[10], target >> 8) << std::hex << code;
            EXPECT_EQ(output[11], target & 0xFF) << std::hex << code;
            EXPECT_EQ(output[12], 0) << "nothing beyond the two bytes";
        }
    }
}

TEST(MappingTables, CodesOutsideTheRangesAppendNothing) {
    const uint32_t hostOrder = static_cast<uint32_t>(IsCPUBigEndian());
    const std::vector<uint16_t> ruledOutside = {0xEE7F, 0xEE9F, 0xEEDE, 0x84BF, 0x849E, 0xEDDE, 0xEEFD, 0xEC4F};
    const std::vector<uint16_t> arrowOutside = {0xEC4E, 0xEC53, 0xEF8C, 0xEF91, 0xEDDF};
    using Mapper = void (*)(const uint8_t*, uint8_t*, uint32_t*, uint32_t);
    const std::pair<Mapper, std::vector<uint16_t>> mappers[] = {{KeitoJis, ruledOutside}, {ArtoJisAr, arrowOutside}};
    for (const auto& [mapper, codes] : mappers) {
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

TEST(MappingTables, ExamplesFromTheFormat) {
    const uint32_t hostOrder = static_cast<uint32_t>(IsCPUBigEndian());
    const struct {
        uint16_t code;
        uint16_t target;
    } examples[] = {{0xEDDF, 0x849F}, {0xEDFC, 0x84A9}, {0xEE4B, 0x8140}, {0xEE4C, 0x8140}, {0xEE6B, 0x8140},
                    {0xEE8D, 0x8140}, {0x84AA, 0x849F}, {0x84A5, 0x84A5}, {0xEDE0, 0x84A1}};
    for (auto e : examples) {
        const uint8_t character[2] = {uint8_t(e.code >> 8), uint8_t(e.code)};
        uint8_t output[2] = {};
        uint32_t length = 0;
        KeitoJis(character, output, &length, hostOrder);
        EXPECT_EQ(output[0] << 8 | output[1], e.target) << std::hex << e.code;
    }
    const struct {
        uint16_t code;
        uint16_t target;
    } arrows[] = {{0xEC4F, 0x81AB}, {0xEF90, 0x81AB}, {0xEC52, 0x81A8}, {0xEF8D, 0x81A8}};
    for (auto e : arrows) {
        const uint8_t character[2] = {uint8_t(e.code >> 8), uint8_t(e.code)};
        uint8_t output[2] = {};
        uint32_t length = 0;
        ArtoJisAr(character, output, &length, hostOrder);
        EXPECT_EQ(output[0] << 8 | output[1], e.target) << std::hex << e.code;
    }
}

} // namespace
