// The host conversion service seen through CodeConvert: OASYS body lines to the usual output
// charsets, the destination capacity, and CutStr on every kind of charset.
#include <unicode/ucnv.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "conversion_support.h"

namespace conversion_test {
namespace {

using oasys_test::makeOptions;

struct LineCase {
    const char* name;
    const char* source;     // charset of the source bytes
    std::string input;
    const char* output;     // output charset
    std::string expected;
};
class LineConversion : public ConversionTest, public ::testing::WithParamInterface<LineCase> {};
TEST_P(LineConversion, ConvertsLikeTheTable) {
    const Converted out = codeConvert(GetParam().source, GetParam().output, bytesOf(GetParam().input));
    ASSERT_EQ(out.result, 1u);
    EXPECT_EQ(out.bytes, bytesOf(GetParam().expected));
}

const std::string kEsc = "\x1B";
const std::string kToJis = kEsc + "$B", kToAscii = kEsc + "(B";
const std::string kGetaUtf8 = "\xE3\x80\x93", kGetaSjis = "\x81\xAC";

INSTANTIATE_TEST_SUITE_P(
    OasysWin, LineConversion,
    ::testing::Values(
        LineCase{"AsciiUtf8", "OASYS_WIN", "Ab 1\r\n", "UTF-8", "Ab 1\r\n"},
        LineCase{"AsciiUtf16", "OASYS_WIN", "A\r\n", "UTF-16LE", std::string("A\0\r\0\n\0", 6)},
        LineCase{"AsciiIso2022", "OASYS_WIN", "Ab\r\n", "ISO-2022-JP", "Ab\r\n"},
        LineCase{"ControlsUtf8", "OASYS_WIN", "\x1A\x1C\x7F", "UTF-8", "\x1A\x1C\x7F"},
        LineCase{"ControlsSjis", "OASYS_WIN", "\x1A\x1C\x7F\r\n", "Shift_JIS", "\x1A\x1C\x7F\r\n"},
        LineCase{"ControlsWin31j", "OASYS_WIN", "\x1A\x1C\x7F", "windows-31j", "\x1A\x1C\x7F"},
        LineCase{"KanaUtf8", "OASYS_WIN", "\x82\xA0", "UTF-8", "\xE3\x81\x82"},
        LineCase{"KanaSjis", "OASYS_WIN", "\x82\xA0", "Shift_JIS", "\x82\xA0"},
        LineCase{"KanaEuc", "OASYS_WIN", "\x82\xA0", "EUC-JP", "\xA4\xA2"},
        LineCase{"KanaUtf16", "OASYS_WIN", "\x82\xA0", "UTF-16LE", "\x42\x30"},
        LineCase{"KanjiIso2022", "OASYS_WIN", "a\x93\xFA\x96\x7B\r\n", "ISO-2022-JP", "a" + kToJis + "\x46\x7C\x4B\x5C" + kToAscii + "\r\n"},
        LineCase{"KanjiEuc", "OASYS_WIN", "\x93\xFA", "EUC-JP", "\xC6\xFC"},
        LineCase{"HalfWidthKanaUtf8", "OASYS_WIN", "\xB1", "UTF-8", "\xEF\xBD\xB1"},
        LineCase{"HalfWidthKanaEuc", "OASYS_WIN", "\xB1", "EUC-JP", "\x8E\xB1"},
        LineCase{"HalfWidthKanaIso2022", "OASYS_WIN", "\xB1", "ISO-2022-JP", kToJis + "\x25\x22" + kToAscii},
        LineCase{"UserAreaFirstUtf8", "OASYS_WIN", "\xF0\x40", "UTF-8", "\xEE\x80\x80"},
        LineCase{"UserAreaLastUtf8", "OASYS_WIN", "\xF9\xFC", "UTF-8", "\xEE\x9D\x97"},
        LineCase{"UserAreaSjis", "OASYS_WIN", "\xF0\x40", "Shift_JIS", "\xF0\x40"},
        LineCase{"OasysCodeEB", "OASYS_WIN", "\xEB\x40x", "UTF-8", kGetaUtf8 + "x"},
        LineCase{"OasysCodeEF", "OASYS_WIN", "\xEF\xFCx", "UTF-8", kGetaUtf8 + "x"},
        LineCase{"OasysCodeFCA8", "OASYS_WIN", "\xFC\xA8\xFC\xC8", "UTF-8", kGetaUtf8 + kGetaUtf8},
        LineCase{"OasysLeadA0", "OASYS_WIN", "\xA0\x41", "UTF-8", kGetaUtf8},
        LineCase{"OasysCodeSjis", "OASYS_WIN", "\xEC\x50", "Shift_JIS", kGetaSjis},
        LineCase{"OasysCodeEuc", "OASYS_WIN", "\xEC\x50", "EUC-JP", "\xA2\xAE"},
        LineCase{"NecIbmExtensionIsWin31j", "OASYS_WIN", "\xED\x40", "UTF-8", "\xE7\xBA\x8A"},
        LineCase{"LoneLeadAtEnd", "OASYS_WIN", "a\x93", "UTF-8", "a" + kGetaUtf8},
        LineCase{"LeadWithoutTrail", "OASYS_WIN", "\x81\x20", "UTF-8", kGetaUtf8 + " "},
        LineCase{"SingleBytesWithoutCharacter", "OASYS_WIN", "\x80\xFD", "UTF-8", kGetaUtf8 + kGetaUtf8},
        LineCase{"Win31jLeadA0IsSingle", "WINDOWS31J", "\xA0\x41", "UTF-8", kGetaUtf8 + "A"},
        LineCase{"Win31jText", "WINDOWS31J", "\x93\xFA\x96\x7B", "UTF-8", "\xE6\x97\xA5\xE6\x9C\xAC"},
        LineCase{"Ucs2ToUtf8", "ISO-10646-UCS-2", std::string("\x00\x41\x65\xE5", 4), "UTF-8", "A\xE6\x97\xA5"},
        LineCase{"Ucs2ToSjis", "ISO-10646-UCS-2", std::string("\x00\x41\x65\xE5", 4), "Shift_JIS", "A\x93\xFA"},
        LineCase{"Ucs2LoneSurrogate", "ISO-10646-UCS-2", std::string("\xD8\x00\x00\x41", 4), "UTF-8", kGetaUtf8 + "A"},
        LineCase{"Ucs2MissingInSjis", "ISO-10646-UCS-2", std::string("\x0E\x01", 2), "Shift_JIS", kGetaSjis}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConversionTest, ResultOfExactlyTheCapacityFitsOneMoreByteFails) {
    const Bytes fits(KRM_CONV_DEST_CAPACITY / 2, 'a'); // UTF-16: two bytes each
    const Converted exact = codeConvert("OASYS_WIN", "UTF-16LE", fits);
    EXPECT_EQ(exact.result, 1u);
    EXPECT_EQ(exact.length, static_cast<uint32_t>(KRM_CONV_DEST_CAPACITY));

    const Bytes tooLong(KRM_CONV_DEST_CAPACITY / 2 + 1, 'a');
    const Converted over = codeConvert("OASYS_WIN", "UTF-16LE", tooLong);
    EXPECT_EQ(over.result, 0u);
    EXPECT_LE(over.length, static_cast<uint32_t>(KRM_CONV_DEST_CAPACITY));
    EXPECT_EQ(captured().termCalls, 2u) << "both conversions terminated";
}

TEST_F(ConversionTest, ConvertersAreReusedWithoutLeakingStateBetweenLines) {
    // A stateful charset left in JIS mode by one line must start the next in ASCII.
    EXPECT_EQ(codeConvert("OASYS_WIN", "ISO-2022-JP", bytesOf("\x93\xFA")).bytes, bytesOf(kToJis + "\x46\x7C" + kToAscii));
    EXPECT_EQ(codeConvert("OASYS_WIN", "ISO-2022-JP", bytesOf("a")).bytes, bytesOf("a"));
    // The '?' asked for by one conversion does not stick to the next one on the same charset.
    EXPECT_EQ(codeConvert("OASYS_WIN", "ISO-8859-1", bytesOf("\x93\xFA")).bytes, bytesOf("?"));
    HostOptions options = makeOptions("ISO-8859-1");
    std::strcpy(options.outputCharset, "iso-8859-1");
    EXPECT_EQ(codeConvert("OASYS_WIN", options, bytesOf("\x93\xFA")).bytes, bytesOf("\x1A"));
    EXPECT_EQ(codeConvert("OASYS_WIN", "ISO-8859-1", bytesOf("\x93\xFA")).bytes, bytesOf("?"));
}

// ---- CutStr --------------------------------------------------------------------------------------
struct CutCase {
    const char* name;
    const char* charset;
    std::string text;
    uint32_t room;
    uint32_t expected;
};
class Cut : public ConversionTest, public ::testing::WithParamInterface<CutCase> {};
TEST_P(Cut, KeepsWholeCharactersWithinTheRoom) {
    const HostOptions options = makeOptions(GetParam().charset);
    Bytes text = bytesOf(GetParam().text);
    EXPECT_EQ(CutStr(text.data(), static_cast<uint32_t>(text.size()), GetParam().room, &options), GetParam().expected);
}
const std::string kUtf8Sample = "a\xE3\x81\x82" "b";                       // a あ b
const std::string kSjisSample = "a\x82\xA0" "b";                           // a あ b
const std::string kEucSample = "a\x8F\xB0\xA1\x8E\xB1" "b";                // a, JIS X 0212 (3 bytes), ｱ, b
const std::string kUtf16Sample = std::string("A\0\x42\xD8\x9F\xDF" "B\0", 8); // A, U+20B9F, B
const std::string kIso2022Sample = "ab" + kToJis + "\x46\x7C\x4B\x5C" + kToAscii + "c";
INSTANTIATE_TEST_SUITE_P(
    Charsets, Cut,
    ::testing::Values(CutCase{"Utf8RoomZero", "UTF-8", kUtf8Sample, 0, 0}, CutCase{"Utf8InsideChar", "UTF-8", kUtf8Sample, 2, 1},
                      CutCase{"Utf8InsideChar2", "UTF-8", kUtf8Sample, 3, 1}, CutCase{"Utf8AfterChar", "UTF-8", kUtf8Sample, 4, 4},
                      CutCase{"Utf8RoomIsLength", "UTF-8", kUtf8Sample, 5, 5}, CutCase{"Utf8RoomAbove", "UTF-8", kUtf8Sample, 99, 5},
                      CutCase{"SjisInsideChar", "Shift_JIS", kSjisSample, 2, 1}, CutCase{"SjisAfterChar", "Shift_JIS", kSjisSample, 3, 3},
                      CutCase{"EucInside3Byte", "EUC-JP", kEucSample, 3, 1}, CutCase{"EucAfter3Byte", "EUC-JP", kEucSample, 4, 4},
                      CutCase{"EucInsideKana", "EUC-JP", kEucSample, 5, 4},
                      CutCase{"Utf16InsideUnit", "UTF-16LE", kUtf16Sample, 1, 0},
                      CutCase{"Utf16InsidePair", "UTF-16LE", kUtf16Sample, 5, 2},
                      CutCase{"Utf16AfterPair", "UTF-16LE", kUtf16Sample, 6, 6},
                      CutCase{"Iso2022InAscii", "ISO-2022-JP", kIso2022Sample, 1, 1},
                      CutCase{"Iso2022InsideEscape", "ISO-2022-JP", kIso2022Sample, 4, 2},
                      CutCase{"Iso2022InsideKanjiRun", "ISO-2022-JP", kIso2022Sample, 9, 2},
                      CutCase{"Iso2022ClosedAfterFirstKanji", "ISO-2022-JP", kIso2022Sample, 10, 10},
                      CutCase{"Iso2022BeforeReturnEscape", "ISO-2022-JP", kIso2022Sample, 11, 10},
                      CutCase{"Iso2022AfterReturnEscape", "ISO-2022-JP", kIso2022Sample, 12, 12},
                      CutCase{"Iso2022RoomZero", "ISO-2022-JP", kIso2022Sample, 0, 0},
                      CutCase{"UnknownCharsetNeedsNoCut", "NO-SUCH-CHARSET", "abc", 3, 3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConversionTest, CutStrFailsAboveTheRoomForAnUnknownCharsetOrItsSwitch) {
    Bytes text = bytesOf("abcdef");
    HostOptions options = makeOptions("NO-SUCH-CHARSET");
    EXPECT_GT(CutStr(text.data(), 6, 3, &options), 3u);
    options = makeOptions("UTF-8");
    KRMTest_FailAt(KRM_SVC_CUTSTR, 1);
    EXPECT_GT(CutStr(text.data(), 6, 3, &options), 3u);
    EXPECT_EQ(CutStr(text.data(), 6, 3, &options), 3u);
}

// Oracle: for every room, the cut must be the longest encoding of a whole-character prefix of the
// text (closed back to the initial state for a stateful charset, as ICU closes it) that fits, and
// the bytes kept must be exactly that encoding.
struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
std::u16string strictDecode(UConverter* c, const Bytes& bytes, bool& ok) {
    std::u16string out(bytes.size() + 8, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    ucnv_reset(c);
    const int32_t length = ucnv_toUChars(c, out.data(), static_cast<int32_t>(out.size()),
                                         reinterpret_cast<const char*>(bytes.data()), static_cast<int32_t>(bytes.size()),
                                         &status);
    ok = U_SUCCESS(status);
    out.resize(ok ? static_cast<size_t>(length) : 0);
    return out;
}
Bytes encodePrefix(UConverter* c, const std::u16string& whole, size_t units) {
    std::string encoded(units * 8 + 16, '\0');
    UErrorCode status = U_ZERO_ERROR;
    ucnv_reset(c);
    const int32_t length = ucnv_fromUChars(c, encoded.data(), static_cast<int32_t>(encoded.size()), whole.data(),
                                           static_cast<int32_t>(units), &status);
    return U_SUCCESS(status) ? Bytes(encoded.begin(), encoded.begin() + length) : Bytes{};
}

class CutOracle : public ConversionTest, public ::testing::WithParamInterface<const char*> {};
TEST_P(CutOracle, EveryRoomGivesTheLongestWholePrefixThatFits) {
    const char* charset = GetParam();
    // A, b, あ, 日, space, ｱ, CR LF converted from an OASYS line
    const Converted line = codeConvert("OASYS_WIN", charset, bytesOf("Ab\x82\xA0\x93\xFA \xB1\r\n"));
    ASSERT_EQ(line.result, 1u);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UConverter, ConverterCloser> icu(ucnv_open(charset, &status));
    ASSERT_TRUE(U_SUCCESS(status));
    ucnv_setToUCallBack(icu.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    ucnv_setFromUCallBack(icu.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    bool ok = false;
    const std::u16string whole = strictDecode(icu.get(), line.bytes, ok);
    ASSERT_TRUE(ok);
    const HostOptions options = makeOptions(charset);
    const auto length = static_cast<uint32_t>(line.bytes.size());
    for (uint32_t room = 0; room <= length + 1; ++room) {
        Bytes expected;
        for (size_t units = 0; units <= whole.size(); ++units)
            if (const Bytes prefix = encodePrefix(icu.get(), whole, units); prefix.size() <= room) expected = prefix;
        Bytes text = line.bytes;
        const uint32_t cut = CutStr(text.data(), length, room, &options);
        ASSERT_EQ(cut, expected.size()) << charset << " room " << room;
        EXPECT_EQ(Bytes(text.begin(), text.begin() + cut), expected) << charset << " room " << room;
    }
}
INSTANTIATE_TEST_SUITE_P(Charsets, CutOracle,
                         ::testing::Values("UTF-8", "Shift_JIS", "EUC-JP", "UTF-16LE", "UTF-16BE", "ISO-2022-JP",
                                           "windows-31j"));

} // namespace
} // namespace conversion_test
