// CodeConvert and the host conversion service behind it: the records the filter hands to the
// service (captured on their way by the definitions below), its failure paths, CheckValidCode,
// OASYS lines to the usual output charsets, the destination capacity, and CutStr.
#include <dlfcn.h>
#include <unicode/ucnv.h>
#include <unicode/utf16.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <tuple>

#include "filter_harness.h"

namespace {

using namespace oasys_test;

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

// What the filter handed to the service in the last conversion.
struct Captured {
    KrmConversionParams params{}; KrmSourceCharsetRecord sourceRecord{}; KrmConversionRequest request{};
    uint32_t initCalls = 0, charsetCalls = 0, convertCalls = 0, termCalls = 0;
} captured;

template <typename Fn>
Fn hostFunction(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

} // namespace

// The filter calls the host's conversion service through the dynamic linker, so these definitions
// in the test program stand in front of the host's: each notes what it was given and hands the
// call on to the host unchanged.
extern "C" {
int32_t cconvInitConvert(KrmConversionContext* context, const KrmConversionParams* params, const HostOptions* options) {
    static const auto host = hostFunction<decltype(&cconvInitConvert)>("cconvInitConvert");
    ++captured.initCalls;
    if (params != nullptr) captured.params = *params;
    return host(context, params, options);
}
int32_t cconvChgCharset(KrmConversionContext* context, const KrmSourceCharsetRecord* record, const SrcInfo* srcInfo) {
    static const auto host = hostFunction<decltype(&cconvChgCharset)>("cconvChgCharset");
    ++captured.charsetCalls;
    if (record != nullptr) captured.sourceRecord = *record;
    return host(context, record, srcInfo);
}
int32_t cconvConvert(KrmConversionContext* context) {
    static const auto host = hostFunction<decltype(&cconvConvert)>("cconvConvert");
    ++captured.convertCalls;
    captured.request = context->request;
    return host(context);
}
int32_t cconvTermConvert(KrmConversionContext* context) {
    static const auto host = hostFunction<decltype(&cconvTermConvert)>("cconvTermConvert");
    ++captured.termCalls;
    return host(context);
}
}

namespace {

constexpr uint32_t kUntouched = 0xDEADBEEF;
struct Converted {
    uint32_t result = 0;
    uint32_t length = kUntouched; // destinationLength after the call
    Bytes bytes;                  // the converted bytes (length of them)
};

// CodeConvert(source in sourceCharset -> options' output charset), with the source length given
// unless overridden; nothing may be written past the result (the caller's room after it is its own).
Converted codeConvert(const std::string& sourceCharset, const HostOptions& options, const Bytes& source,
                      uint32_t firstConversion = 0, CallContext* context = nullptr,
                      std::optional<int32_t> sourceLength = std::nullopt) {
    constexpr uint8_t kGuardByte = 0xA5;
    std::vector<uint8_t> destination(KRM_CONV_DEST_CAPACITY + 64, kGuardByte);
    SrcInfo srcInfo{};
    std::strncpy(srcInfo.sourceCharset, sourceCharset.c_str(), sizeof srcInfo.sourceCharset - 1);
    HostOptions copy = options;
    CallContext ownContext{};
    Converted out;
    out.result = CodeConvert(&srcInfo, &copy, source.data(), destination.data(),
                             sourceLength.value_or(static_cast<int32_t>(source.size())), &out.length, firstConversion,
                             context != nullptr ? context : &ownContext);
    const size_t end = out.length <= KRM_CONV_DEST_CAPACITY ? out.length : KRM_CONV_DEST_CAPACITY;
    EXPECT_TRUE(std::all_of(destination.begin() + end, destination.end(), [](uint8_t b) { return b == kGuardByte; }))
        << "written past the result";
    if (out.length != kUntouched && out.length <= KRM_CONV_DEST_CAPACITY)
        out.bytes.assign(destination.begin(), destination.begin() + out.length);
    return out;
}
Converted codeConvert(const std::string& sourceCharset, const std::string& output, const Bytes& source) {
    return codeConvert(sourceCharset, makeOptions(output), source);
}

// Host counters back to zero and no conversion left open after each test.
class ConversionTest : public HostCheckedTest {
protected:
    void SetUp() override {
        HostCheckedTest::SetUp();
        captured = Captured{};
    }
    void TearDown() override {
        HostCheckedTest::TearDown();
        EXPECT_EQ(KRMTest_LiveConversions(), 0) << "a conversion was left without cconvTermConvert";
    }
    TempDir dir;
};

const Bytes kLine = bytesOf("A\x82\xA0\r\n"); // 'A', あ, CR LF

TEST_F(ConversionTest, ParametersCarryOptionsFlagAndParameterTextByteForByte) {
    HostOptions options = makeOptions("UTF-8");
    options.conversionOption = 0x12345678;
    std::strcpy(options.conversionParam, "param=1");
    for (uint32_t first : {1u, 0u}) {
        ASSERT_EQ(codeConvert("OASYS_WIN", options, kLine, first).result, 1u);
        const KrmConversionParams& p = captured.params;
        EXPECT_EQ(std::tuple(p.conversionOption, p.firstConversion, p.one, p.one2, p.zero),
                  std::tuple(0x12345678u, first, 1u, 1u, 0u));
        EXPECT_STREQ(p.paramText, "param=1");
        for (size_t i = std::strlen("param=1"); i < sizeof p.paramText; ++i) ASSERT_EQ(p.paramText[i], 0) << i;
    }
    EXPECT_EQ(std::tuple(captured.sourceRecord.words[0], captured.sourceRecord.words[1], captured.sourceRecord.words[2]),
              std::tuple(1u, 0u, 1u));
    const KrmConversionRequest& r = captured.request;
    EXPECT_EQ(r.sourceLength, kLine.size());
    EXPECT_EQ(r.capacity, static_cast<uint32_t>(KRM_CONV_DEST_CAPACITY));
    EXPECT_EQ(r.reserved1 | r.reserved3 | r.reserved7 | r.convertedLength, 0u);

    // Without a source record or options there is nothing to convert.
    SrcInfo srcInfo{};
    uint32_t length = kUntouched;
    EXPECT_EQ(CodeConvert(nullptr, &options, kLine.data(), nullptr, 5, &length, 0, nullptr), 0u);
    EXPECT_EQ(CodeConvert(&srcInfo, nullptr, kLine.data(), nullptr, 5, &length, 0, nullptr), 0u);
    EXPECT_EQ(length, kUntouched);
    // A parameter text without NUL is copied only up to the end of its field.
    std::memset(options.conversionParam, 'p', sizeof options.conversionParam);
    ASSERT_EQ(codeConvert("OASYS_WIN", options, kLine).result, 1u);
    EXPECT_EQ(std::strlen(captured.params.paramText), sizeof options.conversionParam);
}

TEST_F(ConversionTest, OnlyTheExactNameIso88591GivesQuestionMark) {
    // Other spellings keep the charset's own substitution (0x1A for Latin-1); the '?' does not stick.
    const struct {
        const char* charset; uint16_t substitute; const char* kanjiBecomes; // 日 (0x93FA) converted
    } cases[] = {{"ISO-8859-1", 0x3F, "?"}, {"iso-8859-1", 0, "\x1A"}, {"ISO-8859-1", 0x3F, "?"},
                 {"ISO-8859-15", 0, "\x1A"}, {"UTF-8", 0, "\xE6\x97\xA5"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.charset);
        const Converted out = codeConvert("OASYS_WIN", c.charset, bytesOf("a\x93\xFA"));
        ASSERT_EQ(out.result, 1u);
        EXPECT_EQ(captured.params.substitute1, c.substitute);
        EXPECT_EQ(captured.params.substitute2, c.substitute);
        EXPECT_EQ(out.bytes, bytesOf(std::string("a") + c.kanjiBecomes));
    }
}

// Each way a conversion fails: which service steps ran, whether destinationLength was written
// and whether the conversion was terminated.
TEST_F(ConversionTest, EachFailingStepEndsTheConversion) {
    const struct {
        const char* what; const char* source; const char* output; std::optional<KrmService> failing;
        std::optional<int32_t> sourceLength; uint32_t initCalls, convertCalls, termCalls; bool lengthWritten;
    } cases[] = {
        {"init switch", "OASYS_WIN", "UTF-8", KRM_SVC_CONV_INIT, {}, 1, 0, 0, false},
        {"unknown output charset", "OASYS_WIN", "NO-SUCH-CHARSET", {}, {}, 1, 0, 0, false},
        {"empty output charset, no locale default", "OASYS_WIN", "", {}, {}, 1, 0, 0, false},
        {"charset switch", "OASYS_WIN", "UTF-8", KRM_SVC_CONV_CHARSET, {}, 1, 0, 1, false},
        {"unknown source charset", "NO-SUCH-SOURCE", "UTF-8", {}, {}, 1, 0, 1, false},
        {"convert switch", "OASYS_WIN", "UTF-8", KRM_SVC_CONV_CONVERT, {}, 1, 1, 1, true},
        {"negative source length, refused before the service", "OASYS_WIN", "UTF-8", {}, -1, 0, 0, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        captured = Captured{};
        if (c.failing) KRMTest_FailAt(*c.failing, 1);
        const Converted out = codeConvert(c.source, makeOptions(c.output), kLine, 0, nullptr, c.sourceLength);
        KRMTest_ResetFailures();
        EXPECT_EQ(out.result, 0u);
        EXPECT_EQ(out.length != kUntouched, c.lengthWritten);
        EXPECT_EQ(std::tuple(captured.initCalls, captured.convertCalls, captured.termCalls),
                  std::tuple(c.initCalls, c.convertCalls, c.termCalls));
    }
}

TEST(CheckValidCode, FindsVisibleCharactersInBothUnitModes) {
    const struct { const char* name; Bytes bytes; uint32_t unitMode, visible; } cases[] = {
        {"SjisBlanks", {0x20, 0x20, 0x81, 0x40}, 0, 0}, {"SjisLetter", {0x20, 0x41}, 0, 1},
        {"Sjis8142", {0x81, 0x42}, 0, 0},               {"SjisHiragana", {0x82, 0xA0}, 0, 1},
        {"SjisTrail40", {0x89, 0x40}, 0, 0},            {"SjisEmpty", {}, 0, 0},
        {"SjisDel", {0x7F}, 0, 1},
        {"SjisLoneLeadAtEnd", {0x20, 0x93}, 0, 1},      {"SjisLone81AtEnd", {0x20, 0x81}, 0, 0},
        {"Ucs2Letter", {0x00, 0x41}, 1, 1},             {"Ucs2Space", {0x00, 0x20}, 1, 0},
        {"Ucs2Del", {0x00, 0x7F}, 1, 1},                {"Ucs2Latin1", {0x00, 0xE9}, 1, 0},
        {"Ucs2Row30Zero", {0x30, 0x00}, 1, 0},          {"Ucs2Row30", {0x30, 0x42}, 1, 0},
        {"Ucs2LowZero", {0x4E, 0x00}, 1, 0},            {"Ucs2Kanji", {0x4E, 0x01}, 1, 1},
        {"Ucs2OddLength", {0x00, 0x20, 0x41}, 1, 0},    {"Ucs2EmptyAnyMode", {}, 7, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // An exact-size heap copy, so that a read past the end is caught by the address sanitizer.
        auto exact = std::make_unique<uint8_t[]>(std::max<size_t>(c.bytes.size(), 1));
        std::copy(c.bytes.begin(), c.bytes.end(), exact.get());
        EXPECT_EQ(CheckValidCode(exact.get(), static_cast<uint32_t>(c.bytes.size()), c.unitMode), c.visible);
    }
}

const std::string kToJis = "\x1B$B", kToAscii = "\x1B(B";
const std::string kGetaUtf8 = "\xE3\x80\x93", kGetaSjis = "\x81\xAC"; // 〓, what OASYS-only codes become

TEST_F(ConversionTest, LinesConvertToEachOutputCharset) {
    const std::string ucs2 = std::string("\x00\x41\x65\xE5", 4); // A 日
    const struct {
        const char* name; const char* source; std::string input; const char* output; std::string expected;
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

// UTF-8 output of Shift-JIS based text is written without ICU's encoder; it must give what ICU
// gives, for every one- and two-byte code (ICU's UTF-16 output encoded to UTF-8 by ICU) and for a
// result that overflows the capacity inside a character.
TEST_F(ConversionTest, Utf8OutputIsIcusForEveryOneAndTwoByteCode) {
    for (const char* source : {"OASYS_WIN", "WINDOWS31J"}) {
        for (unsigned code = 0; code <= 0xFFFF; ++code) {
            if (code > 0xFF && (code >> 8) < 0x80) continue; // a two-byte code has a lead byte from 0x80
            const Bytes input = code <= 0xFF ? Bytes{static_cast<uint8_t>(code)}
                                             : Bytes{static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code)};
            const Converted utf8 = codeConvert(source, "UTF-8", input);
            const Converted utf16 = codeConvert(source, "UTF-16BE", input);
            ASSERT_EQ(utf8.result, 1u);
            ASSERT_EQ(asText(utf8.bytes), icuConvert("UTF-8", "UTF-16BE", asText(utf16.bytes)))
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

// Converters are kept between lines: a stateful charset left in JIS mode by one line (also by one
// that did not fit) starts the next in ASCII.
TEST_F(ConversionTest, ConvertersAreReusedWithoutLeakingStateBetweenLines) {
    EXPECT_EQ(codeConvert("OASYS_WIN", "ISO-2022-JP", bytesOf("\x93\xFA")).bytes, bytesOf(kToJis + "\x46\x7C" + kToAscii));
    EXPECT_EQ(codeConvert("OASYS_WIN", "ISO-2022-JP", bytesOf("a")).bytes, bytesOf("a"));
    Bytes kanji; // more than the destination holds: the conversion stops in JIS mode
    for (int i = 0; i < KRM_CONV_DEST_CAPACITY / 2; ++i) kanji.insert(kanji.end(), {0x93, 0xFA});
    EXPECT_EQ(codeConvert("OASYS_WIN", "ISO-2022-JP", kanji).result, 0u);
    EXPECT_EQ(codeConvert("OASYS_WIN", "ISO-2022-JP", bytesOf("a")).bytes, bytesOf("a"));
}

// Each name asked twice: the second answer comes from the converter the first one left open.
TEST(CharsetUsable, TellsUsableNamesAndTheirSmallestUnit) {
    const std::string tooLong(KRM_CHARSET_NAME_MAX, 'U');
    const struct {
        const char* name;
        int32_t usable;
        uint32_t unit;
    } cases[] = {{"UTF-8", 1, 1}, {"Shift_JIS", 1, 1}, {"UTF-16BE", 1, 2}, {"UTF-32", 1, 4},
                 {"NO-SUCH-CHARSET", 0, kUntouched}, {"", 0, kUntouched}, {tooLong.c_str(), 0, kUntouched}};
    for (const auto& c : cases)
        for (int round = 0; round < 2; ++round) {
            uint32_t unit = kUntouched;
            EXPECT_EQ(KRM_CharsetUsable(c.name, &unit), c.usable) << c.name;
            EXPECT_EQ(unit, c.unit) << c.name;
            EXPECT_EQ(KRM_CharsetUsable(c.name, nullptr), c.usable) << c.name;
        }
    EXPECT_EQ(KRM_CharsetUsable(nullptr, nullptr), 0);
}

TEST(CharsetIsUtf8, AnyNameOfUtf8AndNothingElse) {
    for (const auto& [name, utf8] : {std::pair{"UTF-8", 1}, {"utf8", 1}, {"UTF8", 1}, {"Shift_JIS", 0}, {"NO-SUCH", 0}})
        EXPECT_EQ(KRM_CharsetIsUtf8(name), utf8) << name;
    EXPECT_EQ(KRM_CharsetIsUtf8(nullptr), 0);
}

// ア is 83 41 in Shift_JIS: two bytes from three of UTF-8.
TEST(ConvertFromUtf8, CountsWhatItWroteOrWouldNeed) {
    const std::string katakanaA = "\xE3\x82\xA2";
    const struct {
        const char* charset;
        size_t capacity;
        int32_t result;
        size_t produced;
    } cases[] = {{"Shift_JIS", 8, 0, 2}, {"Shift_JIS", 1, -1, 2}, {"NO-SUCH-CHARSET", 8, -1, 0}};
    for (const auto& c : cases) {
        char output[8] = {};
        size_t produced = 99;
        EXPECT_EQ(KRM_ConvertFromUtf8(c.charset, katakanaA.data(), katakanaA.size(), output, c.capacity, &produced),
                  c.result) << c.charset << " into " << c.capacity;
        EXPECT_EQ(produced, c.produced) << c.charset << " into " << c.capacity;
        EXPECT_EQ(KRM_ConvertFromUtf8(c.charset, katakanaA.data(), katakanaA.size(), output, c.capacity, nullptr),
                  c.result);
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
    // A needless escape to ASCII in front: the byte kept is written again, without it.
    text = bytesOf("\x1B(BAB");
    options = makeOptions("ISO-2022-JP");
    EXPECT_EQ(CutStr(text.data(), 5, 1, &options), 1u);
    EXPECT_EQ(text[0], 'A');
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
