// The host conversion service seen through CodeConvert: OASYS body lines to the usual output
// charsets, the destination capacity, and CutStr on every kind of charset.
#include <unicode/ucnv.h>
#include <unicode/utf16.h>

#include <cstring>
#include <memory>
#include <string>

#include "conversion_support.h"

namespace conversion_test {
namespace {

const std::string kToJis = "\x1B$B", kToAscii = "\x1B(B";
const std::string kGetaUtf8 = "\xE3\x80\x93", kGetaSjis = "\x81\xAC"; // 〓, what OASYS-only codes become

TEST_F(ConversionTest, LinesConvertToEachOutputCharset) {
    const std::string ucs2 = std::string("\x00\x41\x65\xE5", 4); // A 日
    const struct {
        const char* name;
        const char* source; // charset of the source bytes
        std::string input;
        const char* output;
        std::string expected;
    } cases[] = {
        {"ControlsSjis", "OASYS_WIN", "\x1A\x1C\x7F\r\n", "Shift_JIS", "\x1A\x1C\x7F\r\n"},
        {"KanaUtf16", "OASYS_WIN", "\x82\xA0", "UTF-16LE", "\x42\x30"},
        {"KanjiIso2022", "OASYS_WIN", "a\x93\xFA\x96\x7B\r\n", "ISO-2022-JP", "a" + kToJis + "\x46\x7C\x4B\x5C" + kToAscii + "\r\n"},
        {"HalfWidthKanaEuc", "OASYS_WIN", "\xB1", "EUC-JP", "\x8E\xB1"},
        {"HalfWidthKanaIso2022", "OASYS_WIN", "\xB1", "ISO-2022-JP", kToJis + "\x25\x22" + kToAscii},
        {"UserAreaFirstUtf8", "OASYS_WIN", "\xF0\x40", "UTF-8", "\xEE\x80\x80"},
        {"UserAreaLastUtf8", "OASYS_WIN", "\xF9\xFC", "UTF-8", "\xEE\x9D\x97"},
        {"UserAreaSjis", "OASYS_WIN", "\xF0\x40", "Shift_JIS", "\xF0\x40"},
        {"OasysCodeEB", "OASYS_WIN", "\xEB\x40x", "UTF-8", kGetaUtf8 + "x"},
        {"OasysCodeEF", "OASYS_WIN", "\xEF\xFCx", "UTF-8", kGetaUtf8 + "x"},
        {"OasysCodeFCA8", "OASYS_WIN", "\xFC\xA8\xFC\xC8", "UTF-8", kGetaUtf8 + kGetaUtf8},
        {"OasysLeadA0", "OASYS_WIN", "\xA0\x41", "UTF-8", kGetaUtf8},
        {"OasysCodeSjis", "OASYS_WIN", "\xEC\x50", "Shift_JIS", kGetaSjis},
        {"NecIbmExtensionIsWin31j", "OASYS_WIN", "\xED\x40", "UTF-8", "\xE7\xBA\x8A"},
        {"LoneLeadAtEnd", "OASYS_WIN", "a\x93", "UTF-8", "a" + kGetaUtf8},
        {"LeadWithoutTrail", "OASYS_WIN", "\x81\x20", "UTF-8", kGetaUtf8 + " "},
        {"SingleBytesWithoutCharacter", "OASYS_WIN", "\x80\xFD", "UTF-8", kGetaUtf8 + kGetaUtf8},
        {"Win31jLeadA0IsSingle", "WINDOWS31J", "\xA0\x41", "UTF-8", kGetaUtf8 + "A"},
        {"Win31jText", "WINDOWS31J", "\x93\xFA\x96\x7B", "UTF-8", "\xE6\x97\xA5\xE6\x9C\xAC"},
        {"Ucs2ToUtf8", "ISO-10646-UCS-2", ucs2, "UTF-8", "A\xE6\x97\xA5"},
        {"Ucs2LoneSurrogate", "ISO-10646-UCS-2", std::string("\xD8\x00\x00\x41", 4), "UTF-8", kGetaUtf8 + "A"},
        {"Ucs2MissingInSjis", "ISO-10646-UCS-2", std::string("\x0E\x01", 2), "Shift_JIS", kGetaSjis},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Converted out = codeConvert(c.source, c.output, bytesOf(c.input));
        ASSERT_EQ(out.result, 1u);
        EXPECT_EQ(out.bytes, bytesOf(c.expected));
    }
}

TEST_F(ConversionTest, ResultOfExactlyTheCapacityFitsOneMoreByteFails) {
    const Converted exact = codeConvert("OASYS_WIN", "UTF-16LE", Bytes(KRM_CONV_DEST_CAPACITY / 2, 'a'));
    EXPECT_EQ(exact.result, 1u);
    EXPECT_EQ(exact.length, static_cast<uint32_t>(KRM_CONV_DEST_CAPACITY));
    const Converted over = codeConvert("OASYS_WIN", "UTF-16LE", Bytes(KRM_CONV_DEST_CAPACITY / 2 + 1, 'a'));
    EXPECT_EQ(over.result, 0u);
    EXPECT_LE(over.length, static_cast<uint32_t>(KRM_CONV_DEST_CAPACITY));
    EXPECT_EQ(captured().termCalls, 2u) << "both conversions terminated";
}

// UTF-8 output of Shift-JIS based text is written without ICU's encoder; it must give what ICU
// gives, for every one- and two-byte code (ICU's UTF-16 output encoded to UTF-8 by ICU) and for a
// result that overflows the capacity inside a character.
std::string icuUtf8FromUtf16be(const Bytes& utf16) {
    std::string out(utf16.size() * 2 + 4, '\0');
    UErrorCode status = U_ZERO_ERROR;
    const int32_t n = ucnv_convert("UTF-8", "UTF-16BE", out.data(), static_cast<int32_t>(out.size()),
                                   reinterpret_cast<const char*>(utf16.data()), static_cast<int32_t>(utf16.size()), &status);
    out.resize(U_SUCCESS(status) ? n : 0);
    return out;
}

TEST_F(ConversionTest, Utf8OutputIsIcusForEveryOneAndTwoByteCode) {
    for (const char* source : {"OASYS_WIN", "WINDOWS31J"}) {
        for (unsigned code = 0; code <= 0xFFFF; ++code) {
            if (code > 0xFF && (code >> 8) < 0x80) continue; // a two-byte code has a lead byte from 0x80
            const Bytes input = code <= 0xFF ? Bytes{static_cast<uint8_t>(code)}
                                             : Bytes{static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code)};
            const Converted utf8 = codeConvert(source, "UTF-8", input);
            const Converted utf16 = codeConvert(source, "UTF-16BE", input);
            ASSERT_EQ(utf8.result, 1u);
            ASSERT_EQ(std::string(utf8.bytes.begin(), utf8.bytes.end()), icuUtf8FromUtf16be(utf16.bytes))
                << source << " code " << std::hex << code;
        }
    }
    Bytes kana;
    for (size_t i = 0; i < KRM_CONV_DEST_CAPACITY / 3 + 1; ++i) kana.insert(kana.end(), {0x82, 0xA0}); // あ
    const Converted over = codeConvert("OASYS_WIN", "UTF-8", kana);
    EXPECT_EQ(over.result, 0u);
    EXPECT_EQ(over.length, static_cast<uint32_t>(KRM_CONV_DEST_CAPACITY));
    EXPECT_EQ(over.bytes.back(), 0x81) << "the bytes of the last character that fit";
}

TEST_F(ConversionTest, ConvertersAreReusedWithoutLeakingStateBetweenLines) {
    // A stateful charset left in JIS mode by one line must start the next in ASCII.
    EXPECT_EQ(codeConvert("OASYS_WIN", "ISO-2022-JP", bytesOf("\x93\xFA")).bytes, bytesOf(kToJis + "\x46\x7C" + kToAscii));
    EXPECT_EQ(codeConvert("OASYS_WIN", "ISO-2022-JP", bytesOf("a")).bytes, bytesOf("a"));
    // The '?' asked for by one conversion does not stick to the next one on the same charset.
    for (const char* name : {"ISO-8859-1", "iso-8859-1", "ISO-8859-1"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(codeConvert("OASYS_WIN", name, bytesOf("\x93\xFA")).bytes,
                  bytesOf(std::strcmp(name, "ISO-8859-1") == 0 ? "?" : "\x1A"));
    }
}

TEST_F(ConversionTest, CutStrFailsAboveTheRoomForAnUnknownCharsetOrItsSwitch) {
    Bytes text = bytesOf("abcdef");
    HostOptions options = makeOptions("NO-SUCH-CHARSET");
    EXPECT_GT(CutStr(text.data(), 6, 3, &options), 3u);
    EXPECT_EQ(CutStr(text.data(), 6, 6, &options), 6u) << "nothing to cut";
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
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

Bytes encode(UConverter* c, std::u16string_view text) {
    std::string encoded(text.size() * 8 + 16, '\0');
    UErrorCode status = U_ZERO_ERROR;
    ucnv_reset(c);
    const int32_t length = ucnv_fromUChars(c, encoded.data(), static_cast<int32_t>(encoded.size()), text.data(),
                                           static_cast<int32_t>(text.size()), &status);
    return U_SUCCESS(status) ? Bytes(encoded.begin(), encoded.begin() + length) : Bytes{};
}

TEST_F(ConversionTest, CutStrGivesTheLongestWholePrefixThatFitsForEveryRoom) {
    // A, b, あ, 日, space, ｱ, 丂 (three bytes in EUC-JP), 𠮟 (a surrogate pair), CR LF; the
    // characters a charset cannot hold are left out of its text.
    const std::u16string sample = u"Ab\u3042\u65E5 \uFF71\u4E02\U00020B9F\r\n";
    for (const char* charset : {"UTF-8", "Shift_JIS", "EUC-JP", "UTF-16LE", "UTF-16BE", "ISO-2022-JP", "windows-31j"}) {
        SCOPED_TRACE(charset);
        UErrorCode status = U_ZERO_ERROR;
        const Converter icu(ucnv_open(charset, &status));
        ASSERT_TRUE(U_SUCCESS(status));
        ucnv_setFromUCallBack(icu.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
        std::u16string whole;
        for (size_t at = 0; at < sample.size();) {
            const size_t units = U16_IS_LEAD(sample[at]) ? 2 : 1;
            if (const auto one = std::u16string_view(sample).substr(at, units); !encode(icu.get(), one).empty())
                whole += one;
            at += units;
        }
        const Bytes line = encode(icu.get(), whole);
        ASSERT_FALSE(line.empty());
        const HostOptions options = makeOptions(charset);
        for (uint32_t room = 0; room <= line.size() + 1; ++room) {
            Bytes expected;
            for (size_t units = 1; units <= whole.size(); ++units) {
                if (U16_IS_LEAD(whole[units - 1])) continue; // inside a surrogate pair
                if (const Bytes prefix = encode(icu.get(), std::u16string_view(whole).substr(0, units)); prefix.size() <= room)
                    expected = prefix;
            }
            Bytes text = line;
            const uint32_t cut = CutStr(text.data(), static_cast<uint32_t>(text.size()), room, &options);
            ASSERT_EQ(cut, expected.size()) << "room " << room;
            EXPECT_EQ(Bytes(text.begin(), text.begin() + cut), expected) << "room " << room;
        }
    }
}

} // namespace
} // namespace conversion_test
