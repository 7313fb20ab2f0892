// CodeConvert: the records it hands to the conversion service, its failure paths, and
// CheckValidCode in both unit modes.
#include <cstring>
#include <memory>

#include "conversion_support.h"

namespace conversion_test {
namespace {

const Bytes kLine = bytesOf("A\x82\xA0\r\n"); // 'A', あ, CR LF

TEST_F(ConversionTest, ParametersCarryOptionsFlagAndParameterTextByteForByte) {
    HostOptions options = makeOptions("UTF-8");
    options.conversionOption = 0x12345678;
    std::strcpy(options.conversionParam, "param=1");
    for (uint32_t first : {1u, 0u}) {
        ASSERT_EQ(codeConvert("OASYS_WIN", options, kLine, first).result, 1u);
        const KrmConversionParams& p = captured().params;
        EXPECT_EQ(p.conversionOption, 0x12345678u);
        EXPECT_EQ(p.firstConversion, first);
        EXPECT_EQ(p.one, 1u);
        EXPECT_EQ(p.one2, 1u);
        EXPECT_EQ(p.zero, 0u);
        EXPECT_STREQ(p.paramText, "param=1");
        for (size_t i = std::strlen("param=1"); i < sizeof p.paramText; ++i) ASSERT_EQ(p.paramText[i], 0) << i;
    }
    EXPECT_EQ(captured().sourceRecord.words[0], 1u);
    EXPECT_EQ(captured().sourceRecord.words[1], 0u);
    EXPECT_EQ(captured().sourceRecord.words[2], 1u);
    const KrmConversionRequest& r = captured().request;
    EXPECT_EQ(r.sourceLength, kLine.size());
    EXPECT_EQ(r.capacity, static_cast<uint32_t>(KRM_CONV_DEST_CAPACITY));
    EXPECT_EQ(r.reserved1 | r.reserved3 | r.reserved7 | r.convertedLength, 0u);

    // A parameter text without NUL is copied only up to the end of its field.
    std::memset(options.conversionParam, 'p', sizeof options.conversionParam);
    ASSERT_EQ(codeConvert("OASYS_WIN", options, kLine).result, 1u);
    EXPECT_EQ(std::strlen(captured().params.paramText), sizeof options.conversionParam);
}

TEST_F(ConversionTest, LowestVariantBitWins) {
    const struct {
        uint32_t flags, variant;
    } cases[] = {{0, 0},    {0x8, 1},  {0x18, 1}, {0x10, 2}, {0x90, 2},
                 {0x20, 3}, {0x60, 3}, {0x40, 4}, {0x80, 5}, {0x100, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flags);
        ASSERT_EQ(codeConvert("OASYS_WIN", makeOptions("UTF-8", c.flags), kLine).result, 1u);
        EXPECT_EQ(captured().params.variant, c.variant);
    }
}

TEST_F(ConversionTest, OnlyTheExactNameIso88591GivesQuestionMark) {
    // Other spellings keep the charset's own substitution (0x1A for Latin-1), which the output shows.
    const struct {
        const char* charset;
        uint16_t substitute;
        const char* kanjiBecomes; // 日 (0x93FA) converted
    } cases[] = {{"ISO-8859-1", 0x3F, "?"},
                 {"iso-8859-1", 0, "\x1A"},
                 {"ISO-8859-15", 0, "\x1A"},
                 {"UTF-8", 0, "\xE6\x97\xA5"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.charset);
        const Converted out = codeConvert("OASYS_WIN", c.charset, bytesOf("a\x93\xFA"));
        ASSERT_EQ(out.result, 1u);
        EXPECT_EQ(captured().params.substitute1, c.substitute);
        EXPECT_EQ(captured().params.substitute2, c.substitute);
        EXPECT_EQ(out.bytes, bytesOf(std::string("a") + c.kanjiBecomes));
    }
}

// Each way a conversion fails: which service steps ran, whether destinationLength was written
// and whether the conversion was terminated.
TEST_F(ConversionTest, EachFailingStepEndsTheConversion) {
    const struct {
        const char* what;
        const char* source;
        const char* output;
        std::optional<KrmService> failing;
        std::optional<int32_t> sourceLength;
        uint32_t initCalls, convertCalls, termCalls;
        bool lengthWritten;
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
        captured() = Captured{};
        if (c.failing) KRMTest_FailAt(*c.failing, 1);
        const Converted out = codeConvert(c.source, makeOptions(c.output), kLine, 0, nullptr, c.sourceLength);
        KRMTest_ResetFailures();
        EXPECT_EQ(out.result, 0u);
        EXPECT_EQ(out.length != kUntouched, c.lengthWritten);
        EXPECT_EQ(captured().initCalls, c.initCalls);
        EXPECT_EQ(captured().convertCalls, c.convertCalls);
        EXPECT_EQ(captured().termCalls, c.termCalls);
    }
}

TEST_F(ConversionTest, LogShowsTheConversionAlsoWhenInitFails) {
    const auto logPath = dir / "convert.log";
    CallContext context{};
    context.logHandle = krm_logfopen(KRM_OPT_LOG, logPath.c_str());
    KRMTest_FailAt(KRM_SVC_CONV_INIT, 1);
    EXPECT_EQ(codeConvert("OASYS_WIN", makeOptions("UTF-8", KRM_OPT_LOG), kLine, 0, &context).result, 0u);
    krm_logfclose(KRM_OPT_LOG, context.logHandle);
    EXPECT_EQ(oasys_test::readLogLines(logPath),
              std::vector<std::string>{"Codeconvert starting convert OASYS_WIN srcBuff( 5 bytes ) to UTF-8\r\n"});
}

TEST(CheckValidCode, FindsVisibleCharactersInBothUnitModes) {
    const struct {
        const char* name;
        Bytes bytes;
        uint32_t unitMode, visible;
    } cases[] = {
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

} // namespace
} // namespace conversion_test
