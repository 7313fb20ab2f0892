// Embedded records: Unicode characters in place of their substitutes, object records and the
// skipping of their data, and records whose digits or contents are damaged.
#include <gtest/gtest.h>

#include "decoder_support.h"

using namespace decoder_test;

namespace {

std::string times(size_t count, const std::string& piece) {
    std::string text;
    for (size_t i = 0; i < count; ++i) text += piece;
    return text;
}

const TextCase kRecordCases[] = {
    // Unicode records
    {"after an underscore", "A_" + unicodeRecord(0x3042) + "B\r\n", "AあB\r\n"},
    {"after the substitute mark", "A\x81\xAC" + unicodeRecord(0x3042) + "\r\n", "Aあ\r\n"},
    {"several in one line keep their order",
     "x_" + unicodeRecord(0x3042) + "y_" + unicodeRecord(0x3044) + "_" + unicodeRecord(0x4E00) + "z\r\n",
     "xあyい一z\r\n"},
    {"only a Unicode character makes the text visible", " _" + unicodeRecord(0x4E01) + "\r\n", " 丁\r\n"},
    {"kana row Unicode characters are no visible text", " _" + unicodeRecord(0x3042) + "\r\n", " あ\r\n",
     KRM_ERR_NO_TEXT},
    {"without a substitute", "A" + unicodeRecord(0x3042) + "\r\n", "", KRM_ERR_BROKEN},
    {"underscore as a trail byte is no substitute", "\x83\x5F" + unicodeRecord(0x3042) + "\r\n", "", KRM_ERR_BROKEN},
    // Fault guarded: a line end must clear every character mark the line set, also past the first
    // 64 bytes, or a trail byte '_' of the next line is taken for a character start.
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
    {"object record too short for its type", "A\xEF\xCC" "06B!01C\r\n", "AC\r\n"},
    // object data
    {"type ! skips to the next 0xEF", "A" + objectRecord('!') + "abcdefgh\x01\x02\xEF\xA9" "B\r\n", "A　B\r\n",
     KRM_OK, 0, 24},
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

class Records : public HostCheckedTest {};

TEST_F(Records, EveryCaseWholeAndCutAtEveryOffset) {
    for (const TextCase& c : kRecordCases) expectDecodedAtEveryCut(c);
}

// Two headers in one record (blocks of at least two bytes): in its digits and in its content.
TEST_F(Records, TwoHeadersInOneRecord) {
    const Bytes text = body("X_" + unicodeRecord(0x3042) + "Y\r\n");
    for (size_t first = 1; first + 2 < text.size(); ++first) {
        for (size_t second = first + 2; second < text.size(); ++second) {
            SCOPED_TRACE(testing::Message() << "cuts at " << first << " and " << second);
            const Decoded d = decodeInBlocks(text, {first, second});
            EXPECT_EQ(d.code, KRM_OK);
            EXPECT_EQ(d.text, "XあY\r\n");
        }
    }
}

// Fault guarded: length digits that are not hexadecimal can announce far more than 255 bytes.
// With a header inside that span the content is read in the split way: it must stay within the
// record buffer, and what the digits announce is still passed over.
TEST_F(Records, OverlongSplitRecordStaysInItsBuffer) {
    // 'z' counts as 67, so "zz" announces 67 * 16 + 67 = 1139 bytes, 1137 of them content.
    const Decoded d = decodeInBlocks(body("A\xEF\xCC" "zz" + std::string(1137, 'x') + "B\r\n"), {500, 1000});
    EXPECT_EQ(d.code, KRM_OK);
    EXPECT_EQ(d.text, "AB\r\n");
    const std::string objectContent = "B!012345'" + std::string(1124, 'y') + "0002";
    const Decoded object = decodeInBlocks(body("A\xEF\xCC" "zz" + objectContent + "qrB\r\n"), {300});
    EXPECT_EQ(object.code, KRM_OK);
    EXPECT_EQ(object.text, "AB\r\n") << "the count digits end the content, also beyond the record buffer";
}

// Fault guarded: a line with so many Unicode records that their converted text outgrows one
// buffer loses nothing and reorders nothing, also when the output limit cuts it.
TEST_F(Records, VeryManyUnicodeRecordsInOneLine) {
    std::string text = "<", expected = "<";
    for (int i = 0; i < 7000; ++i) {
        const uint32_t unit = 0x3042 + (i % 80);
        text += "_" + unicodeRecord(static_cast<uint16_t>(unit));
        expected += static_cast<char>(0xE0 | (unit >> 12));
        expected += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
        expected += static_cast<char>(0x80 | (unit & 0x3F));
    }
    text += ">\r\n";
    expected += ">\r\n";
    const Decoded d = decode(body(text));
    EXPECT_EQ(d.code, KRM_OK);
    EXPECT_TRUE(d.text == expected) << "sizes " << d.text.size() << " and " << expected.size();

    DecodeSetup limited;
    limited.options = makeOptions("UTF-8", KRM_OPT_SIZE_LIMIT, 17000);
    const Decoded cut = decode(body(text), limited);
    EXPECT_EQ(cut.code, KRM_ERR_OUTPUT_LIMIT);
    EXPECT_GT(cut.text.size(), 16990u);
    EXPECT_TRUE(cut.text.size() <= 17000u && expected.starts_with(cut.text));
}

} // namespace
