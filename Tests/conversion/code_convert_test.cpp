// CodeConvert: the records it hands to the conversion service, its failure paths, and
// CheckValidCode in both unit modes.
#include <cstring>
#include <filesystem>
#include <memory>

#include "conversion_support.h"
#include "oasys_writer.h"

namespace conversion_test {
namespace {

using oasys_test::makeOptions;

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
}

TEST_F(ConversionTest, ParameterTextWithoutNulIsCopiedOnlyUpToItsField) {
    HostOptions options = makeOptions("UTF-8");
    std::memset(options.conversionParam, 'p', sizeof options.conversionParam); // no NUL in the field
    ASSERT_EQ(codeConvert("OASYS_WIN", options, kLine).result, 1u);
    EXPECT_EQ(std::strlen(captured().params.paramText), sizeof options.conversionParam);
}

struct VariantCase {
    uint32_t flags;
    uint32_t variant;
};
class ConversionVariant : public ConversionTest, public ::testing::WithParamInterface<VariantCase> {};
TEST_P(ConversionVariant, LowestVariantBitWins) {
    ASSERT_EQ(codeConvert("OASYS_WIN", makeOptions("UTF-8", GetParam().flags), kLine).result, 1u);
    EXPECT_EQ(captured().params.variant, GetParam().variant);
}
INSTANTIATE_TEST_SUITE_P(Flags, ConversionVariant,
                         ::testing::Values(VariantCase{0, 0}, VariantCase{0x8, 1}, VariantCase{0x18, 1},
                                           VariantCase{0x10, 2}, VariantCase{0x90, 2}, VariantCase{0x20, 3},
                                           VariantCase{0x60, 3}, VariantCase{0x40, 4}, VariantCase{0x80, 5},
                                           VariantCase{0x100, 0}, VariantCase{0xF8, 1}, VariantCase{0x2 | 0x80, 5}));

// Only the exact name "ISO-8859-1" asks for '?'; other spellings keep the charset's own
// substitution (0x1A for Latin-1), which the output shows.
struct SubstituteCase {
    const char* charset;
    uint16_t substitute;
    const char* kanjiBecomes; // 日 (0x93FA) converted
};
class LatinSubstitute : public ConversionTest, public ::testing::WithParamInterface<SubstituteCase> {};
TEST_P(LatinSubstitute, OnlyTheExactNameGivesQuestionMark) {
    const Converted out = codeConvert("OASYS_WIN", GetParam().charset, bytesOf("a\x93\xFA"));
    ASSERT_EQ(out.result, 1u);
    EXPECT_EQ(captured().params.substitute1, GetParam().substitute);
    EXPECT_EQ(captured().params.substitute2, GetParam().substitute);
    EXPECT_EQ(out.bytes, bytesOf(std::string("a") + GetParam().kanjiBecomes));
}
INSTANTIATE_TEST_SUITE_P(Names, LatinSubstitute,
                         ::testing::Values(SubstituteCase{"ISO-8859-1", 0x3F, "?"},
                                           SubstituteCase{"iso-8859-1", 0, "\x1A"},
                                           SubstituteCase{"ISO-8859-15", 0, "\x1A"},
                                           SubstituteCase{"UTF-8", 0, "\xE6\x97\xA5"}));

// Each step of the service failing in turn: the result, whether destinationLength was written and
// whether the conversion was terminated.
struct FailureCase {
    KrmService service;
    bool lengthWritten;
    uint32_t termCalls;
    uint32_t convertCalls;
};
class ConversionFailure : public ConversionTest, public ::testing::WithParamInterface<FailureCase> {};
TEST_P(ConversionFailure, EachFailingStepEndsTheConversion) {
    KRMTest_FailAt(GetParam().service, 1);
    const Converted out = codeConvert("OASYS_WIN", "UTF-8", kLine);
    EXPECT_EQ(out.result, 0u);
    EXPECT_EQ(out.length != kUntouched, GetParam().lengthWritten);
    EXPECT_EQ(captured().initCalls, 1u);
    EXPECT_EQ(captured().convertCalls, GetParam().convertCalls);
    EXPECT_EQ(captured().termCalls, GetParam().termCalls);
}
INSTANTIATE_TEST_SUITE_P(Steps, ConversionFailure,
                         ::testing::Values(FailureCase{KRM_SVC_CONV_INIT, false, 0, 0},
                                           FailureCase{KRM_SVC_CONV_CHARSET, false, 1, 0},
                                           FailureCase{KRM_SVC_CONV_CONVERT, true, 1, 1}));

TEST_F(ConversionTest, UnknownOutputCharsetFailsAtInitWithoutTerm) {
    const Converted out = codeConvert("OASYS_WIN", "NO-SUCH-CHARSET", kLine);
    EXPECT_EQ(out.result, 0u);
    EXPECT_EQ(out.length, kUntouched);
    EXPECT_EQ(captured().termCalls, 0u);
    EXPECT_EQ(codeConvert("OASYS_WIN", "", kLine).result, 0u) << "no locale default for an empty name";
}

TEST_F(ConversionTest, UnknownSourceCharsetFailsAfterInitAndTerminates) {
    const Converted out = codeConvert("NO-SUCH-SOURCE", "UTF-8", kLine);
    EXPECT_EQ(out.result, 0u);
    EXPECT_EQ(out.length, kUntouched);
    EXPECT_EQ(captured().termCalls, 1u);
}

TEST_F(ConversionTest, NegativeSourceLengthIsRefusedBeforeTheService) {
    SrcInfo srcInfo{};
    std::strcpy(srcInfo.sourceCharset, "OASYS_WIN");
    HostOptions options = makeOptions("UTF-8");
    uint8_t destination[KRM_CONV_DEST_CAPACITY];
    uint32_t length = kUntouched;
    CallContext context{};
    EXPECT_EQ(CodeConvert(&srcInfo, &options, kLine.data(), destination, -1, &length, 0, &context), 0u);
    EXPECT_EQ(length, kUntouched);
    EXPECT_EQ(captured().initCalls, 0u);
}

TEST_F(ConversionTest, LogShowsTheConversionAlsoWhenInitFails) {
    oasys_test::TempDir dir;
    const std::filesystem::path logPath = dir / "convert.log";
    const HostOptions options = makeOptions("UTF-8", KRM_OPT_LOG);
    CallContext context{};
    context.logHandle = krm_logfopen(KRM_OPT_LOG, logPath.c_str());
    KRMTest_FailAt(KRM_SVC_CONV_INIT, 1);
    EXPECT_EQ(codeConvert("OASYS_WIN", options, kLine, 0, &context).result, 0u);
    krm_logfclose(KRM_OPT_LOG, context.logHandle);
    const auto lines = oasys_test::readLogLines(logPath);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Codeconvert starting convert OASYS_WIN srcBuff( 5 bytes ) to UTF-8\r\n");
}

// ---- CheckValidCode ------------------------------------------------------------------------------
struct ValidCase {
    const char* name;
    Bytes bytes;
    uint32_t unitMode;
    uint32_t visible;
};
class CheckValid : public ::testing::TestWithParam<ValidCase> {};
TEST_P(CheckValid, FindsVisibleCharacters) {
    const Bytes& b = GetParam().bytes;
    // An exact-size heap copy, so that a read past the end is caught by the address sanitizer.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[b.size() + (b.empty() ? 1 : 0)]);
    std::copy(b.begin(), b.end(), exact.get());
    EXPECT_EQ(CheckValidCode(exact.get(), static_cast<uint32_t>(b.size()), GetParam().unitMode), GetParam().visible);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, CheckValid,
    ::testing::Values(ValidCase{"SjisBlanks", {0x20, 0x20, 0x81, 0x40}, 0, 0}, ValidCase{"SjisLetter", {0x20, 0x41}, 0, 1},
                      ValidCase{"Sjis8142", {0x81, 0x42}, 0, 0}, ValidCase{"SjisHiragana", {0x82, 0xA0}, 0, 1},
                      ValidCase{"SjisTrail40", {0x89, 0x40}, 0, 0}, ValidCase{"SjisEmpty", {}, 0, 0},
                      ValidCase{"SjisControls", {0x0D, 0x0A, 0x09, 0x00}, 0, 0}, ValidCase{"SjisDel", {0x7F}, 0, 1},
                      ValidCase{"SjisLoneLeadAtEnd", {0x20, 0x93}, 0, 1},
                      ValidCase{"SjisLone81AtEnd", {0x20, 0x81}, 0, 0},
                      ValidCase{"SjisHalfWidthKanaPair", {0xB1, 0x40}, 0, 0},
                      ValidCase{"SjisHalfWidthKana", {0xB1, 0xB2}, 0, 1},
                      ValidCase{"Ucs2Letter", {0x00, 0x41}, 1, 1}, ValidCase{"Ucs2Space", {0x00, 0x20}, 1, 0},
                      ValidCase{"Ucs2Row30Zero", {0x30, 0x00}, 1, 0}, ValidCase{"Ucs2Row30", {0x30, 0x42}, 1, 0},
                      ValidCase{"Ucs2LowZero", {0x4E, 0x00}, 1, 0}, ValidCase{"Ucs2Kanji", {0x4E, 0x01}, 1, 1},
                      ValidCase{"Ucs2OddLength", {0x00, 0x20, 0x41}, 1, 0}, ValidCase{"Ucs2Empty", {}, 7, 0},
                      ValidCase{"Ucs2Del", {0x00, 0x7F}, 1, 1}, ValidCase{"Ucs2Latin1", {0x00, 0xE9}, 1, 0}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace conversion_test
