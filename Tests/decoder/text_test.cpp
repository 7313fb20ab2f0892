// What the decoder makes of each body code and embedded record, whole and cut by a block header at
// every offset; the character classes of GetCodeType; the ruled-line and arrow mappings.
#include <gtest/gtest.h>

#include <cstring>

#include "filter_harness.h"

using namespace oasys_test;

namespace {

const std::string kF4On = "\xEF\xC0" "6";
const std::string kF4Off = "\xEF\xC0" ";";
constexpr uint32_t kRuled = KRM_OPT_RULED_LINES;

std::string times(size_t count, const std::string& piece) { return asText(repeated(bytes(piece), count)); }

const TextCase kTextCases[] = {
    // plain characters
    {"single, double, kana, IBM extension", "AB\tC\x82\xA0\x88\xEA\xB1\xDD\xFA\x40\r\n\r\n", "AB\tCあ一ｱﾝⅰ\r\n\r\n"},
    {"invalid byte, bad trail byte, OASYS extension", "A\x80" "B\x82\x30" "C\xEC\x40" "D\r\n", "A〓B〓C〓D\r\n"},
    {"lone LF", "A\nB\r\n", "A〓B\r\n"},
    {"CR without LF", "A\rB\r\n", "A〓\r\n"},
    // half-width fillers
    {"voiced mark drops a space", "\xB6\xDE \r\n", "ｶﾞ\r\n"},
    {"voiced mark halves a full-width space", "\xB6\xDE\x81\x40\r\n", "ｶﾞ \r\n"},
    {"two marks drop a full-width space", "\xDE\xDF\x81\x40|\r\n", "ﾞﾟ|\r\n"},
    {"full-width space without marks", "\x81\x40|\r\n", "　|\r\n"},
    {"filler counter crosses line ends", "\xDE\r\n |\r\n", "ﾞ\r\n|\r\n"},
    {"vertical line clears the counter", "\xDE\x84\xA0 |\r\n", "ﾞ　 |\r\n"},
    {"other ruled lines keep the counter", "\xDE\x84\x9F |\r\n", "ﾞ　|\r\n"},
    // single-byte F4 mode
    {"F4 mode", kF4On + "\xF4\x9F\xF4\xFC\xF4\xDD" + kF4Off + "A\r\n", "!~_A\r\n"},
    {"F4 mode leaves other leads", kF4On + "\xF5\x40" "A\r\n", "\xEE\x8E\xAC" "A\r\n"},
    {"F4 mode off", kF4On + kF4Off + "\xF4\x9F" "A\r\n", "\xEE\x8D\x8E" "A\r\n"},
    {"F4 mode other parameter keeps it", kF4On + "\xEF\xC0" "A" "\xF4\x9F\r\n", "!\r\n"},
    // frame prefix
    {"frame after its prefix", "\xFC\xA3\x98\x67\r\n", "枠\r\n"},
    {"prefix alone", "A\xFC\xA3\r\n", "A　\r\n"},
    {"other FC specials", "\xFC\x9F\xFC\xA6" "A\r\n", "　　A\r\n"},
    {"frame prefix lasts over a line end", "\xFC\xA3\r\n\x98\x67\r\n", "　\r\n枠\r\n"},
    {"frame at line start with one byte", "\xFC\xA3\r\nA\x98\x67\r\n", "　\r\nA枠\r\n"},
    {"frame takes only whole characters", "\xFC\xA3" "B\x98\x67\r\n", "　枠\r\n"},
    {"frame takes two single bytes", "\xFC\xA3\r\nAB\x98\x67\r\n", "　\r\n枠\r\n"},
    // arrows and ruled lines
    {"arrows", "\xEC\x4F\xEC\x52\xEF\x8D\xEF\x90" "A\r\n", "↓→→↓A\r\n"},
    {"arrows and ruled lines are no visible text", "\xEC\x4F\x84\x9F\r\n", "↓　\r\n", KRM_ERR_NO_TEXT},
    {"ruled lines as spaces", "\x84\x9F\xED\xDF\xEE\x7F" "A\r\n", "　　　A\r\n"},
    {"ruled lines mapped", "\x84\x9F\x84\xAA\xEE\x4B\xEE\x7F\xED\xFC" "A\r\n", "──　┼A\r\n", KRM_OK, kRuled},
    // control codes
    {"0xEFA9 is a full-width space", "A\xEF\xA9" "B\r\n", "A　B\r\n"},
    {"0xEFA0 breaks the line", "A\xEF\xA0" "B\r\nC\r\n", "A\r\nBC\r\n"},
    {"0xEFA0 before the line end", "A\xEF\xA0\r\nB\r\n", "A\r\nB\r\n"},
    {"0xEFA2 outside table mode", "A\xEF\xA2" "B\r\n", "AB\r\n"},
    {"0xEFAF and 0xEFBF skip three bytes", "A\xEF\xAF" "xyzB\xEF\xBF\x82\xA0zC\r\n", "ABC\r\n"},
    {"codes without a row", "A\xEF\xB0\xEF\x95\xEF\x96\xEF\xFC" "B\r\n", "AB\r\n"},
    {"0xEFCD record skipped", "A\xEF\xCD" "05xyzB\r\n", "AB\r\n"},
    {"0xEFCD record holding F0 and 04 apart", "A\xEF\xCD" "06\xF0x\x04yB\r\n", "AB\r\n"},
    {"0xEFCD record of length 2", "A\xEF\xCD" "02B\r\n", "AB\r\n"},
    {"0xEFCD record of length 0 is empty", "A\xEF\xCD" "00B\r\n", "AB\r\n"},
    {"0xEFCD digit that is not hex", "A\xEF\xCD" "0:xB\r\n", "AB\r\n"}, // ':' counts as 3
    {"header code at a character boundary", std::string("A\xF0\x04\x00\x05", 5) + "B\r\n", "AB\r\n", KRM_OK, 0, 1},
    // table mode
    {"box top restarts the line", "abc\x84\xA1\x84\x9F\x84\x9F\x84\xA2\r\n", "\r\nabc┌──┐\r\n", KRM_OK, kRuled},
    {"box top without mapping", "abc\x84\xA1\r\n", "\r\nabc　\r\n"},
    {"whole box", "\x84\xA1\x84\x9F\x84\xA2\r\n\x84\xA0" "A\xEF\xA0\xEF\xA2\x84\xA0\r\n\x84\xA4\x84\x9F\x84\xA3\r\n"
     "B\xEF\xA0\r\nC\xEF\xA0\r\n",
     "\r\n┌─┐\r\n│A　　│\r\n└─┘\r\nB　\r\nC\r\n", KRM_OK, kRuled},
    {"restart gives back the filler counter", "\xDE\r\n \x84\xA1\r\n", "ﾞ\r\n\r\n┌\r\n", KRM_OK, kRuled},
    {"restart gives back F4 mode", kF4On + "\r\n\xF4\x9F" + kF4Off + "\x84\xA1\r\n", "\r\n\r\n!┌\r\n", KRM_OK, kRuled},
    {"restart gives back the frame prefix", "\xFC\xA3\r\nAB\x98\x67\x84\xA1\r\n", "　\r\n\r\n枠┌\r\n", KRM_OK, kRuled},
    {"restart gives back the break-written flag", "A\xEF\xA0" "B\x84\xA1\r\n\x84\xA3\r\nC\r\nD\r\n",
     "\r\nA　B┌\r\n┘\r\nC\r\nD\r\n", KRM_OK, kRuled},
    {"restart drops pending Unicode output", "_\xEF\xCC" "07\xCA" "3042\x84\xA1\r\n", "\r\nあ┌\r\n", KRM_OK, kRuled},
    {"second top-left in table mode", "\x84\xA1\r\n\x84\xA1\r\n\x84\xA3\r\n\x84\xA3\r\nA\xEF\xA0\r\n",
     "\r\n┌\r\n┌\r\n┘\r\n┘\r\nA　\r\n", KRM_OK, kRuled},
    // Unicode records
    {"after an underscore", "A_" + unicodeRecord(0x3042) + "B\r\n", "AあB\r\n"},
    {"after the substitute mark", "A\x81\xAC" + unicodeRecord(0x3042) + "\r\n", "Aあ\r\n"},
    {"several in one line keep their order",
     "x_" + unicodeRecord(0x3042) + "y_" + unicodeRecord(0x3044) + "_" + unicodeRecord(0x4E00) + "z\r\n", "xあyい一z\r\n"},
    {"only a Unicode character makes the text visible", " _" + unicodeRecord(0x4E01) + "\r\n", " 丁\r\n"},
    {"kana row characters are no visible text", " _" + unicodeRecord(0x3042) + "\r\n", " あ\r\n", KRM_ERR_NO_TEXT},
    {"without a substitute", "A" + unicodeRecord(0x3042) + "\r\n", "", KRM_ERR_BROKEN},
    {"underscore as a trail byte is no substitute", "\x83\x5F" + unicodeRecord(0x3042) + "\r\n", "", KRM_ERR_BROKEN},
    // A line end clears every character mark of the line, also past its first 64 bytes.
    {"marks of a long line are gone in the next",
     "A" + times(40, "\x83\x5F") + "\r\n" + times(34, "\x83\x5F") + unicodeRecord(0x3042) + "\r\n",
     "A" + times(40, "ダ") + "\r\n", KRM_ERR_BROKEN},
    {"mark bytes across two characters are no substitute", "\x81\x81\xAC" + unicodeRecord(0x3042) + "\r\n", "",
     KRM_ERR_BROKEN},
    {"earlier lines stay written", "A\r\nB" + unicodeRecord(0x3042) + "\r\n", "A\r\n", KRM_ERR_BROKEN},
    // ECS4 contents that are neither
    {"other content skipped", "A\xEF\xCC" "05xyzB\r\n", "AB\r\n"},
    {"no content: digits only", "A\xEF\xCC" "02B!xy\r\n", "AB!xy\r\n"},
    {"length below 2 is empty", "A\xEF\xCC" "01\xCA" "3042\r\n", "Aﾊ3042\r\n"},
    {"Unicode tag with a short content is skipped", "A_\xEF\xCC" "04\xCA" "30B\r\n", "A_0B\r\n"},
    {"B without ! is skipped", "A\xEF\xCC" "0BB?0123456C\r\n", "AC\r\n"},
    {"! after another tag is no object", "A\xEF\xCC" "0BX!012345!C\r\n", "AC\r\n"},
    {"object record too short for its type", "A\xEF\xCC" "06B!01C\r\n", "AC\r\n"},
    // object data
    {"type ! skips to the next 0xEF", "A" + objectRecord('!') + "abcdefgh\x01\x02\xEF\xA9" "B\r\n", "A　B\r\n", KRM_OK, 0,
     24},
    {"type ! data right at 0xEF", "A" + objectRecord('!') + "\xEF\xA9" "B\r\n", "A　B\r\n", KRM_OK, 0, 14},
    {"type # before text skips nothing", "A" + objectRecord('#') + "Zq\r\n", "AZq\r\n", KRM_OK, 0, 1},
    {"type # first byte 0xE0 is text", "A" + objectRecord('#') + "\xE0\x40\r\n", "A漾\r\n", KRM_OK, 0, 1},
    {"type # passes a control byte", "A" + objectRecord('#') + "\x01xy\xEF\xA9" "B\r\n", "A　B\r\n", KRM_OK, 0, 17},
    {"type # passes data from 0xE1", "A" + objectRecord('#') + "\xE1xy\xEF\xA9" "B\r\n", "A　B\r\n", KRM_OK, 0, 17},
    {"type $ passes eight bytes first", "A" + objectRecord('$') + "\xEF\xEF\xEF\xEF\xEF\xEF\xEF\xEFxy\xEF\xA9" "B\r\n",
     "A　B\r\n", KRM_OK, 0, 14},
    {"type ' skips its count", "A" + objectRecord('\'', "0003") + "xyzB\r\n", "AB\r\n"},
    {"type ' with count 0", "A" + objectRecord('\'', "0000") + "B\r\n", "AB\r\n"},
    {"type ' stops at 0xEF", "A" + objectRecord('\'', "0009") + "x\xEF\xA9" "B\r\n", "A　B\r\n", KRM_OK, 0, 1},
    {"other type skips nothing", "A" + objectRecord('%') + "B\r\n", "AB\r\n"},
    {"object data without 0xEF ends at the body end", "A\r\n" + objectRecord('!') + "no escape here\r\n", "A\r\n",
     KRM_ERR_BROKEN},
    {"type $ without 0xEF", "A\r\n" + objectRecord('$') + "no escape here at all\r\n", "A\r\n", KRM_ERR_BROKEN},
};

class DecoderText : public HostCheckedTest {};

TEST_F(DecoderText, EveryCaseWholeAndCutAtEveryOffset) {
    for (const TextCase& c : kTextCases) expectDecodedAtEveryCut(c);
}

// Length digits that are not hexadecimal can announce far more than 255 bytes ('z' counts as 67:
// "zz" is 1139). Read in the split way, the content stays within the record buffer and what the
// digits announce is still passed over; the count digits of an object end it there too.
TEST_F(DecoderText, OverlongSplitRecordStaysInItsBuffer) {
    const FilterRun d = decodeInBlocks(body("A\xEF\xCC" "zz" + std::string(1137, 'x') + "B\r\n"), {500, 1000});
    EXPECT_EQ(d.code, KRM_OK);
    EXPECT_EQ(d.text, "AB\r\n");
    const std::string objectContent = "B!012345'" + std::string(1124, 'y') + "0002";
    const FilterRun object = decodeInBlocks(body("A\xEF\xCC" "zz" + objectContent + "qrB\r\n"), {300});
    EXPECT_EQ(object.code, KRM_OK);
    EXPECT_EQ(object.text, "AB\r\n");
}

// So many Unicode records in one line that their text outgrows one buffer: nothing lost or
// reordered, also when the output limit cuts it; SrcInfo names OASYS text again and holds the
// parameter text.
TEST_F(DecoderText, VeryManyUnicodeRecordsInOneLine) {
    std::string text = "<", expected = "<";
    for (uint32_t i = 0; i < 7000; ++i) { // U+3042 to U+3091, three bytes each in UTF-8
        text += "_" + unicodeRecord(static_cast<uint16_t>(0x3042 + i % 80));
        expected += {'\xE3', static_cast<char>(0x81 + (0x02 + i % 80) / 64), static_cast<char>(0x80 + (0x02 + i % 80) % 64)};
    }
    text += ">\r\n";
    expected += ">\r\n";
    RunSetup setup;
    std::strcpy(setup.options.conversionParam, "param-text");
    const FilterRun d = decode(body(text), setup);
    EXPECT_EQ(d.code, KRM_OK);
    EXPECT_TRUE(d.text == expected) << "sizes " << d.text.size() << " and " << expected.size();
    EXPECT_STREQ(d.srcInfo.sourceCharset, "OASYS_WIN") << "OASYS text again after a Unicode record";
    EXPECT_STREQ(d.srcInfo.conversionParam, "param-text");
    const FilterRun cut = decode(body(text), flagged(KRM_OPT_SIZE_LIMIT, 17000));
    EXPECT_EQ(cut.code, KRM_ERR_OUTPUT_LIMIT);
    EXPECT_TRUE(cut.text.size() > 16990u && cut.text.size() <= 17000u && expected.starts_with(cut.text));
}


// following: the source bytes after the first byte ("": the source ends); advance: the bytes
// consumed after the first byte.
struct CodeTypeCase {
    uint8_t first; const char* following; int32_t expectedClass; uint32_t advance;
};

// Every row of the class table at its edges, the block-header cases, and a lead byte or CR as the
// last byte of the source (no second byte to read, still one position consumed).
const CodeTypeCase kCodeTypeCases[] = {
    {0x1A, "", CODE_EOF, 0}, {0x09, "", CODE_SINGLE, 0}, {0x20, "", CODE_SINGLE, 0}, {0x7E, "", CODE_SINGLE, 0},
    {0xA1, "", CODE_SINGLE, 0}, {0xDF, "", CODE_SINGLE, 0}, {0x0A, "", CODE_INVALID, 0}, {0x00, "", CODE_INVALID, 0},
    {0x1F, "", CODE_INVALID, 0}, {0x7F, "", CODE_INVALID, 0}, {0x80, "", CODE_INVALID, 0},
    {0xFD, "", CODE_INVALID, 0}, {0xFF, "", CODE_INVALID, 0}, {0x0D, "\x0A", CODE_CRLF, 1},
    {0x0D, "\x41", CODE_INVALID, 1}, {0x0D, "\xF0\x04", CODE_BLOCK_BREAK, 2}, {0x0D, "", CODE_INVALID, 1},
    {0x82, "", CODE_INVALID, 1}, {0xEF, "", CODE_INVALID, 1}, {0xFC, "", CODE_INVALID, 1},
    {0x82, "\xF0\x04", CODE_BLOCK_BREAK, 2}, {0x82, "\xF0\x05", CODE_DOUBLE, 1}, {0x82, "\xF0", CODE_DOUBLE, 1},
    {0xEF, "\xF0\x41", CODE_CONTROL, 1}, {0x81, "\x40", CODE_DOUBLE, 1}, {0x82, "\xFC", CODE_DOUBLE, 1},
    {0x82, "\x7F", CODE_DOUBLE, 1}, {0x82, "\x3F", CODE_INVALID, 1}, {0x82, "\xFD", CODE_INVALID, 1},
    {0xA0, "\x40", CODE_DOUBLE, 1}, {0xE0, "\x40", CODE_DOUBLE, 1}, {0xEA, "\xFC", CODE_DOUBLE, 1},
    {0x84, "\x9F", CODE_RULED_LINE, 1}, {0x84, "\xBE", CODE_RULED_LINE, 1}, {0x84, "\xBF", CODE_DOUBLE, 1},
    {0x84, "\x9E", CODE_DOUBLE, 1}, {0x84, "\x3F", CODE_INVALID, 1}, {0x98, "\x67", CODE_FRAME, 1},
    {0x98, "\x68", CODE_DOUBLE, 1}, {0x97, "\x67", CODE_DOUBLE, 1}, {0xED, "\xDF", CODE_RULED_LINE, 1},
    {0xED, "\xFC", CODE_RULED_LINE, 1}, {0xED, "\x40", CODE_OASYS_EXT, 1}, {0xED, "\xDE", CODE_OASYS_EXT, 1},
    {0xEE, "\x40", CODE_RULED_LINE, 1}, {0xEE, "\x7F", CODE_RULED_LINE, 1}, {0xEE, "\x9E", CODE_RULED_LINE, 1},
    {0xEE, "\x9F", CODE_OASYS_EXT, 1}, {0xEE, "\xDE", CODE_OASYS_EXT, 1}, {0xEE, "\xDF", CODE_RULED_LINE, 1},
    {0xEE, "\xFC", CODE_RULED_LINE, 1}, {0xEE, "\xFD", CODE_INVALID, 1}, {0xEB, "\x40", CODE_USER_DEFINED, 1},
    {0xEC, "\x4E", CODE_OASYS_EXT, 1}, {0xEC, "\x4F", CODE_ARROW, 1}, {0xEC, "\x52", CODE_ARROW, 1},
    {0xEC, "\x53", CODE_OASYS_EXT, 1}, {0xEF, "\x40", CODE_OASYS_EXT, 1}, {0xEF, "\x8C", CODE_OASYS_EXT, 1},
    {0xEF, "\x8D", CODE_ARROW, 1}, {0xEF, "\x90", CODE_ARROW, 1}, {0xEF, "\x91", CODE_OASYS_EXT, 1},
    {0xEF, "\x94", CODE_OASYS_EXT, 1}, {0xEF, "\x95", CODE_CONTROL, 1}, {0xEF, "\x96", CODE_CONTROL, 1},
    {0xEF, "\x97", CODE_OASYS_EXT, 1}, {0xEF, "\x9E", CODE_OASYS_EXT, 1}, {0xEF, "\x9F", CODE_CONTROL, 1},
    {0xEF, "\xFC", CODE_CONTROL, 1}, {0xEF, "\xFD", CODE_INVALID, 1}, {0xF0, "\x04", CODE_CONTROL, 1},
    {0xF0, "\x40", CODE_USER_DEFINED, 1}, {0xF4, "\x9F", CODE_USER_DEFINED, 1}, {0xF9, "\xFC", CODE_USER_DEFINED, 1},
    {0xF1, "\x04", CODE_INVALID, 1}, {0xFA, "\x40", CODE_IBM_EXT, 1}, {0xFB, "\xFC", CODE_IBM_EXT, 1},
    {0xFC, "\x40", CODE_IBM_EXT, 1}, {0xFC, "\x4B", CODE_IBM_EXT, 1}, {0xFC, "\x4C", CODE_INVALID, 1},
    {0xFC, "\x9E", CODE_INVALID, 1}, {0xFC, "\x9F", CODE_FC_SPECIAL, 1}, {0xFC, "\xA3", CODE_FC_SPECIAL, 1},
    {0xFC, "\xA6", CODE_FC_SPECIAL, 1}, {0xFC, "\xA7", CODE_INVALID, 1}, {0xFC, "\xA8", CODE_OASYS_EXT, 1},
    {0xFC, "\xC8", CODE_OASYS_EXT, 1}, {0xFC, "\xC9", CODE_INVALID, 1}, {0xFC, "\xFC", CODE_INVALID, 1},
};

TEST_F(DecoderText, CodeTypeOfEveryRowAndEdge) {
    TempDir dir;
    for (const CodeTypeCase& c : kCodeTypeCases) {
        const Bytes following = bytes(c.following);
        SCOPED_TRACE(testing::Message() << std::hex << "first 0x" << int(c.first) << " following "
                                        << testing::PrintToString(following));
        // A marker byte stands before the following bytes, so that position 1 is the byte after b1.
        const OpenSource source(dir / "src", concat({bytes("\x7E"), following}));
        uint8_t character[2] = {c.first, 0x55};
        uint32_t position = 1;
        EXPECT_EQ(GetCodeType(source.handle(), character, &position, 0), c.expectedClass);
        EXPECT_EQ(position - 1, c.advance);
        EXPECT_EQ(character[0], c.first);
        if (c.advance == 0 || !following.empty()) {
            EXPECT_EQ(character[1], c.advance == 0 ? 0x55 : following[0]) << "second byte stored only when read";
        }
    }
}


// Every code of a range, one after the other in one line, drawn with mapping on: the expected
// boxes are the shapes of the format's tables (0xEE7F lies in no range and draws nothing; a line
// with a top-left corner opens a box and is read again).
Bytes codeRun(uint16_t low, uint16_t high) {
    Bytes run;
    for (uint32_t code = low; code <= high; ++code) run.insert(run.end(), {uint8_t(code >> 8), uint8_t(code)});
    return run;
}

TEST_F(DecoderText, EveryMappedCodeDrawsItsShape) {
    const struct { uint16_t low, high; std::string drawn; } cases[] = {
        {0xEDDF, 0xEDFC, "\r\n─┌┐┬┤┬┬┬┬┬┬┬┬┤┤┤┤┤┤┤┤┼┼┼┼┼┼┬┤┼"},
        {0xEE40, 0xEE7F, "\r\n┌┐└┘─│┴├┬┤┼　　│─│─┴┴├├┬┬┤┤┼┼├├┴┼┼┌┐└┘─│┴├┬┤┼　　│─│─┴┴├├┬┬┤┤┼┼┤┤┴┼"},
        {0xEE80, 0xEE9E, "\r\n┼┌┐└┘─│┴├┬┤┼　　│─│─┴┴├├┬┬┤┤┼┼┬┬┼"},
        {0xEEDF, 0xEEFC, "│└┘┴├┴┴┴┴┴┴┴┴├├├├├├├├┼┼┼┼┼┼┴├┼"},
        {0x849F, 0x84BE, "\r\n─│┌┐┘└├┬┤┴┼─│┌┐┘└├┬┤┴┼├┬┤┴┼├┬┤┴┼"},
        {0xEC4F, 0xEC52, "↓↑←→"},
        {0xEF8D, 0xEF90, "→←↑↓"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.low);
        const FilterRun d = decode(concat({codeRun(c.low, c.high), bytes("A\r\n\x1A")}), flagged(kRuled));
        EXPECT_EQ(d.code, KRM_OK);
        EXPECT_EQ(d.text, c.drawn + "A\r\n");
    }
}

// The exported mappers append nothing for the codes just outside their ranges.
TEST(MappingTables, CodesOutsideTheRangesAppendNothing) {
    using Mapper = void (*)(const uint8_t*, uint8_t*, uint32_t*, uint32_t);
    const std::pair<Mapper, std::vector<uint16_t>> outside[] = {
        {KeitoJis, {0xEDDE, 0xEDFD, 0xEE3F, 0xEE7F, 0xEE9F, 0xEEDE, 0xEEFD, 0x849E, 0x84BF, 0xEC4F}},
        {ArtoJisAr, {0xEC4E, 0xEC53, 0xEF8C, 0xEF91, 0xEDDF}}};
    for (const auto& [mapper, codes] : outside) {
        for (uint16_t code : codes) {
            const uint8_t character[2] = {uint8_t(code >> 8), uint8_t(code)};
            std::array<uint8_t, 4> output{};
            uint32_t length = 1;
            mapper(character, output.data(), &length, static_cast<uint32_t>(IsCPUBigEndian()));
            EXPECT_EQ(length, 1u) << std::hex << code;
            EXPECT_EQ(output, (std::array<uint8_t, 4>{})) << std::hex << code;
        }
    }
}

} // namespace
