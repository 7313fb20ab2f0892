// What the decoder makes of each body code: class actions, control codes, half-width fillers,
// single-byte F4 mode, the frame prefix, table mode and its restart; each body also cut by a block
// header at every offset.
#include <gtest/gtest.h>

#include <cstring>

#include "decoder_support.h"

using namespace decoder_test;

namespace {

const std::string kF4On = "\xEF\xC0" "6";
const std::string kF4Off = "\xEF\xC0" ";";

const TextCase kBodyCases[] = {
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
    {"ruled lines mapped", "\x84\x9F\x84\xAA\xEE\x4B\xEE\x7F\xED\xFC" "A\r\n", "──　┼A\r\n", KRM_OK,
     KRM_OPT_RULED_LINES},
    // control codes
    {"0xEFA9 is a full-width space", "A\xEF\xA9" "B\r\n", "A　B\r\n"},
    {"0xEFA0 breaks the line", "A\xEF\xA0" "B\r\nC\r\n", "A\r\nBC\r\n"},
    {"0xEFA0 before the line end", "A\xEF\xA0\r\nB\r\n", "A\r\nB\r\n"},
    {"0xEFA2 outside table mode", "A\xEF\xA2" "B\r\n", "AB\r\n"},
    {"0xEFAF and 0xEFBF skip three bytes", "A\xEF\xAF" "xyzB\xEF\xBF\x82\xA0zC\r\n", "ABC\r\n"},
    {"codes without a row", "A\xEF\xB0\xEF\x95\xEF\x96\xEF\xFC" "B\r\n", "AB\r\n"},
    {"0xEFCD record skipped", "A\xEF\xCD" "05xyzB\r\n", "AB\r\n"},
    {"0xEFCD record of length 2", "A\xEF\xCD" "02B\r\n", "AB\r\n"},
    {"0xEFCD record of length 0 is empty", "A\xEF\xCD" "00B\r\n", "AB\r\n"},
    {"0xEFCD digit that is not hex", "A\xEF\xCD" "0:xB\r\n", "AB\r\n"}, // ':' counts as 3
    {"header code at a character boundary", std::string("A\xF0\x04\x00\x05", 5) + "B\r\n", "AB\r\n", KRM_OK, 0, 1},
    // table mode
    {"box top restarts the line", "abc\x84\xA1\x84\x9F\x84\x9F\x84\xA2\r\n", "\r\nabc┌──┐\r\n", KRM_OK,
     KRM_OPT_RULED_LINES},
    {"box top without mapping", "abc\x84\xA1\r\n", "\r\nabc　\r\n"},
    {"whole box",
     "\x84\xA1\x84\x9F\x84\xA2\r\n\x84\xA0" "A\xEF\xA0\xEF\xA2\x84\xA0\r\n\x84\xA4\x84\x9F\x84\xA3\r\n"
     "B\xEF\xA0\r\nC\xEF\xA0\r\n",
     "\r\n┌─┐\r\n│A　　│\r\n└─┘\r\nB　\r\nC\r\n", KRM_OK, KRM_OPT_RULED_LINES},
    {"restart gives back the filler counter", "\xDE\r\n \x84\xA1\r\n", "ﾞ\r\n\r\n┌\r\n", KRM_OK, KRM_OPT_RULED_LINES},
    {"restart gives back F4 mode", kF4On + "\r\n\xF4\x9F" + kF4Off + "\x84\xA1\r\n", "\r\n\r\n!┌\r\n", KRM_OK,
     KRM_OPT_RULED_LINES},
    {"restart gives back the frame prefix", "\xFC\xA3\r\nAB\x98\x67\x84\xA1\r\n", "　\r\n\r\n枠┌\r\n", KRM_OK,
     KRM_OPT_RULED_LINES},
    {"restart gives back the break-written flag", "A\xEF\xA0" "B\x84\xA1\r\n\x84\xA3\r\nC\r\nD\r\n",
     "\r\nA　B┌\r\n┘\r\nC\r\nD\r\n", KRM_OK, KRM_OPT_RULED_LINES},
    {"restart drops pending Unicode output", "_\xEF\xCC" "07\xCA" "3042\x84\xA1\r\n", "\r\nあ┌\r\n", KRM_OK,
     KRM_OPT_RULED_LINES},
    {"second top-left in table mode", "\x84\xA1\r\n\x84\xA1\r\n\x84\xA3\r\n\x84\xA3\r\nA\xEF\xA0\r\n",
     "\r\n┌\r\n┌\r\n┘\r\n┘\r\nA　\r\n", KRM_OK, KRM_OPT_RULED_LINES},
};

class BodyCodes : public HostCheckedTest {};

TEST_F(BodyCodes, EveryCaseWholeAndCutAtEveryOffset) {
    for (const TextCase& c : kBodyCases) expectDecodedAtEveryCut(c);
}

// A body read from a compound-file stream, cut by headers, decodes as from a plain file.
TEST_F(BodyCodes, CompoundStreamSourceDecodesAlike) {
    const Bytes text = body("A\x82\xA0\xEF\xAF" "xyz\r\nB_\xEF\xCC" "07\xCA" "3042\xEF\xCD" "05xyzC\r\n");
    DecodeSetup setup;
    setup.source = Source::CompoundStream;
    const Decoded d = decodeInBlocks(text, {7, 20}, setup);
    EXPECT_EQ(d.code, KRM_OK);
    EXPECT_EQ(d.text, "Aあ\r\nBあC\r\n");
    EXPECT_EQ(d.position, text.size() + 12);
}

TEST_F(BodyCodes, SourceCharsetAndParameterTextAreSet) {
    DecodeSetup setup;
    std::strcpy(setup.options.conversionParam, "param-text");
    const Decoded d = decode(body("_\xEF\xCC" "07\xCA" "4E01\r\n"), setup);
    EXPECT_EQ(d.code, KRM_OK);
    EXPECT_STREQ(d.srcInfo.sourceCharset, "OASYS_WIN") << "back to OASYS text after a Unicode record";
    EXPECT_STREQ(d.srcInfo.conversionParam, "param-text");
}

} // namespace
