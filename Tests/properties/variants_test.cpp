// The three packagings: document-type slot, where the format block is found, and what each
// failure leaves in the record.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "property_test_support.h"

namespace oasys_test {
namespace {

enum class Packaging { Separated, Combined, Compound };

const Bytes kBodyText = concat({bytes("ABC"), crlf(), endOfText()});

class VariantTest : public PropertyTest {
protected:
    // Writes a document of the packaging around the format block and runs its variant.
    int32_t run(Packaging packaging, const Bytes& block) {
        switch (packaging) {
        case Packaging::Separated:
            writeFile(dir / "doc.FMT", block);
            return runOnFile(dir / "doc.FMT", GetOasSepProperty);
        case Packaging::Combined:
            writeFile(dir / "doc.OAS", makeCombinedDocument(block, kBodyText));
            return runOnFile(dir / "doc.OAS", GetOasCombProperty);
        case Packaging::Compound:
            writeCompoundDocument(dir / "doc.OLE", block, kBodyText);
            return runCompound(dir / "doc.OLE");
        }
        return -1;
    }
    int32_t runOnFile(const std::filesystem::path& path,
                      int32_t (*variant)(uint32_t, SrcInfo*, HostOptions*, PropertyRecord*, CallContext*)) {
        OpenFile file(path);
        EXPECT_NE(file.handle(), 0u);
        return variant(file.handle(), &srcInfo, &options, record.get(), &context);
    }
    int32_t runCompound(const std::filesystem::path& path) {
        const uint16_t code = KRM_FORMAT_COMPOUND;
        return GetOasCompProperty(path.c_str(), &srcInfo, &options, record.get(), &code, &context);
    }
    // Opens a log for the variant (the entry normally does it) and returns its lines afterwards.
    void openLog() {
        options.optionFlags |= KRM_OPT_LOG;
        GetLogFileName((dir / "variant").c_str(), "ve2", context.logFileName);
        context.logHandle = krm_logfopen(options.optionFlags, context.logFileName);
    }
    std::vector<std::string> closeLog() {
        krm_logfclose(options.optionFlags, context.logHandle);
        return readLogLines(context.logFileName);
    }
};

// ---- Document-type slot -------------------------------------------------------------------------

struct TypeCase {
    const char* name;
    Packaging packaging;
    const char* charset;
    std::string expected;
};

const TypeCase kTypeCases[] = {
    {"SeparatedUtf8", Packaging::Separated, "UTF-8", kUtf8Separated},
    {"CombinedUtf8", Packaging::Combined, "UTF-8", kUtf8Combined},
    {"CompoundUtf8", Packaging::Compound, "UTF-8", kUtf8Compound},
    {"SeparatedShiftJis", Packaging::Separated, "Shift_JIS", kSjisSeparated},
    {"CombinedShiftJis", Packaging::Combined, "Shift_JIS", kSjisCombined},
    {"CompoundShiftJis", Packaging::Compound, "Shift_JIS", kSjisCompound},
};

class DocumentType : public VariantTest, public ::testing::WithParamInterface<TypeCase> {};

TEST_P(DocumentType, NamesThePackagingInTheOutputCharset) {
    const TypeCase& c = GetParam();
    options = makeOptions(c.charset);
    EXPECT_EQ(run(c.packaging, makePropertyBlock(fullFields())), KRM_OK);
    EXPECT_EQ(slot(KRM_PROP_DOCUMENT_TYPE), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Packagings, DocumentType, ::testing::ValuesIn(kTypeCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Separated and combined: the format block ---------------------------------------------------

class FormatBlockVariants : public VariantTest, public ::testing::WithParamInterface<Packaging> {};

TEST_P(FormatBlockVariants, ClearTheRecordAndFillEverySlot) {
    ASSERT_EQ(run(GetParam(), makePropertyBlock(fullFields())), KRM_OK);
    EXPECT_EQ(slot(KRM_PROP_TITLE), "Quarterly report");
    EXPECT_EQ(slot(KRM_PROP_AUTHOR), "Yamada");
    EXPECT_EQ(slot(KRM_PROP_KEYWORDS), "sales;2024;");
    EXPECT_EQ(slot(KRM_PROP_CATEGORY), "Finance");
    EXPECT_EQ(slot(KRM_PROP_COMMENTS), "Figures for the third quarter");
    EXPECT_EQ(slot(KRM_PROP_MODIFIED), kModifiedUtf8);
    EXPECT_EQ(slot(KRM_PROP_CREATED), kCreatedUtf8);
    EXPECT_EQ(slot(KRM_PROP_LAST_AUTHOR), "Suzuki");
    EXPECT_EQ(strayBytes(), 0u) << "the record is cleared before it is filled";
}

// A block marker other than 2 fails the decoder; the variant reports 3000 and keeps what was
// written before the marker.
TEST_P(FormatBlockVariants, ReportBrokenWhenTheDecoderFails) {
    PropertyFields fields = fullFields();
    fields.blockMarker = 0;
    EXPECT_EQ(run(GetParam(), makePropertyBlock(fields)), KRM_ERR_BROKEN);
    EXPECT_EQ(filledSlots(),
              (std::vector<uint32_t>{KRM_PROP_TITLE, KRM_PROP_MODIFIED, KRM_PROP_DOCUMENT_TYPE, KRM_PROP_CREATED}));
}

// A failed conversion of the document-type text: 3000 and a cleared record. The separated
// variant writes no log line for it; the other two log the converted length first.
TEST_P(FormatBlockVariants, FailedDocumentTypeConversionLeavesTheRecordCleared) {
    openLog();
    KRMTest_FailAt(KRM_SVC_CONV_INIT, 1);
    EXPECT_EQ(run(GetParam(), makePropertyBlock(fullFields())), KRM_ERR_BROKEN);
    const auto lines = closeLog();
    EXPECT_TRUE(std::all_of(record->bytes, record->bytes + KRM_PROPERTY_RECORD_SIZE, [](uint8_t b) { return b == 0; }));
    const auto ends = std::count(lines.begin(), lines.end(), "Codeconvert end , get dstBuff( 0 bytes )\r\n");
    EXPECT_EQ(ends, GetParam() == Packaging::Separated ? 0 : 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "GetKRMProperty() starting\r\n"), 0);
}

INSTANTIATE_TEST_SUITE_P(Packagings, FormatBlockVariants, ::testing::Values(Packaging::Separated, Packaging::Combined),
                         [](const auto& info) { return info.param == Packaging::Separated ? "Separated" : "Combined"; });

TEST_F(VariantTest, SeparatedFormatFileShorterThanTheMarker) {
    PropertyFields fields = fullFields();
    fields.size = 1280; // the marker at 1280 is the first byte missing
    EXPECT_EQ(run(Packaging::Separated, makePropertyBlock(fields)), KRM_ERR_BROKEN);
    EXPECT_EQ(filledSlots(),
              (std::vector<uint32_t>{KRM_PROP_TITLE, KRM_PROP_MODIFIED, KRM_PROP_DOCUMENT_TYPE, KRM_PROP_CREATED}));
}

// ---- Combined: the walk to the first block ------------------------------------------------------

CombinedPart formatPart(const Bytes& blocks, size_t directoryLength) {
    CombinedPart part;
    part.name = "REPORT.FMT";
    part.directoryLength = directoryLength;
    part.blocks = blocks;
    return part;
}
CombinedPart bodyPart() {
    CombinedPart part;
    part.name = "REPORT.DOC";
    part.blocks = layBlocks(kBodyText, {}, true).bytes;
    return part;
}

struct LayoutCase {
    const char* name;
    size_t directoryLength;
    bool blockHeader; // without it the format block follows the block-list identifier directly
};

const LayoutCase kLayoutCases[] = {
    {"ShortDirectory", 21, true},      {"UsualDirectory", 32, true},   {"LongDirectory", 700, true},
    {"ShortDirectoryNoBlock", 21, false}, {"NoBlock", 32, false},      {"LongDirectoryNoBlock", 700, false},
};

class CombinedLayout : public VariantTest, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(CombinedLayout, FindsTheFormatBlockOfTheFirstPart) {
    const LayoutCase& c = GetParam();
    const Bytes block = makePropertyBlock(fullFields());
    const Bytes blocks = c.blockHeader ? concat({blockHeader(static_cast<uint16_t>(block.size())), block}) : block;
    writeFile(dir / "doc.OAS", makeCombined({formatPart(blocks, c.directoryLength), bodyPart()}));

    EXPECT_EQ(runOnFile(dir / "doc.OAS", GetOasCombProperty), KRM_OK);
    EXPECT_EQ(slot(KRM_PROP_TITLE), "Quarterly report");
    EXPECT_EQ(slot(KRM_PROP_LAST_AUTHOR), "Suzuki");
    EXPECT_EQ(slot(KRM_PROP_DOCUMENT_TYPE), kUtf8Combined);
}

INSTANTIATE_TEST_SUITE_P(Layouts, CombinedLayout, ::testing::ValuesIn(kLayoutCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct DamageCase {
    const char* name;
    size_t offset; // byte of a usual combined document (directory of 32 bytes) that is changed
};

// The four identifiers in front of the first block: document, part, directory, block list.
const DamageCase kDamageCases[] = {
    {"DocumentBegin", 0}, {"PartBegin", 5}, {"DirectoryTag", 9}, {"BlocksBegin", 12 + 32 + 3}};

class CombinedDamage : public VariantTest, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(CombinedDamage, WrongIdentifierLeavesOnlyTheDocumentType) {
    Bytes file = makeCombinedDocument(makePropertyBlock(fullFields()), kBodyText);
    file[GetParam().offset] ^= 0x01;
    writeFile(dir / "doc.OAS", file);

    EXPECT_EQ(runOnFile(dir / "doc.OAS", GetOasCombProperty), KRM_ERR_BROKEN);
    EXPECT_EQ(filledSlots(), std::vector<uint32_t>{KRM_PROP_DOCUMENT_TYPE});
    EXPECT_EQ(slot(KRM_PROP_DOCUMENT_TYPE), kUtf8Combined);
    EXPECT_EQ(strayBytes(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Identifiers, CombinedDamage, ::testing::ValuesIn(kDamageCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(VariantTest, CombinedFileShorterThanItsHeader) {
    writeFile(dir / "doc.OAS", Bytes{0xF1, 0x10, 0x80});
    EXPECT_EQ(runOnFile(dir / "doc.OAS", GetOasCombProperty), KRM_ERR_BROKEN);
    EXPECT_EQ(filledSlots(), std::vector<uint32_t>{KRM_PROP_DOCUMENT_TYPE});
}

// ---- Compound: summary information --------------------------------------------------------------

SummaryFields fullSummary() {
    SummaryFields s;
    s.title = "Annual plan";
    s.subject = "Planning";
    s.author = "Tanaka";
    s.keywords = "plan budget";
    s.comments = "Draft for the board";
    s.lastAuthor = "Sato";
    s.created = 1680674820;   // 2023-04-05 06:07:00 UTC
    s.lastSaved = 1733003100; // 2024-11-30 21:45:00 UTC
    return s;
}

TEST_F(VariantTest, CompoundSlotsComeFromTheSummaryInformation) {
    // The format stream has properties of its own; none of them may appear.
    writeCompoundDocument(dir / "doc.OLE", makePropertyBlock(fullFields()), kBodyText, fullSummary());
    EXPECT_EQ(runCompound(dir / "doc.OLE"), KRM_OK);
    EXPECT_EQ(slot(KRM_PROP_TITLE), "Annual plan");
    EXPECT_EQ(slot(KRM_PROP_AUTHOR), "Tanaka");
    EXPECT_EQ(slot(KRM_PROP_KEYWORDS), "plan budget");
    EXPECT_EQ(slot(KRM_PROP_COMMENTS), "Draft for the board");
    EXPECT_EQ(slot(KRM_PROP_CREATED), fromUtf8(u8"23年04月05日06時07分"));
    EXPECT_EQ(slot(KRM_PROP_MODIFIED), fromUtf8(u8"24年11月30日21時45分"));
    EXPECT_EQ(slot(KRM_PROP_LAST_AUTHOR), "Sato");
    EXPECT_EQ(slot(KRM_PROP_DOCUMENT_TYPE), kUtf8Compound);
    EXPECT_EQ(slot(KRM_PROP_CATEGORY), "");
}

TEST_F(VariantTest, CompoundWithoutSummaryHasOnlyTheDocumentType) {
    writeCompoundDocument(dir / "doc.OLE", makePropertyBlock(fullFields()), kBodyText);
    EXPECT_EQ(runCompound(dir / "doc.OLE"), KRM_OK);
    EXPECT_EQ(filledSlots(), std::vector<uint32_t>{KRM_PROP_DOCUMENT_TYPE});
    EXPECT_EQ(strayBytes(), 0u);
}

TEST_F(VariantTest, CompoundFailingSummaryKeepsItsCodeAndStillNamesTheType) {
    writeCompoundDocument(dir / "doc.OLE", makePropertyBlock(fullFields()), kBodyText, fullSummary());
    openLog();
    KRMTest_FailAt(KRM_SVC_SUMMARY_INFO, 1);
    const int32_t code = runCompound(dir / "doc.OLE");
    const auto lines = closeLog();

    EXPECT_EQ(code, KRM_ERR_BROKEN) << "the failing service's own code";
    EXPECT_EQ(slot(KRM_PROP_DOCUMENT_TYPE), kUtf8Compound);
    const std::string path = (dir / "doc.OLE").string();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Close OLEfile: " + path + "\r\n"), lines.end());
    // The storage is closed: the fixture's counters show it when the test ends.
}

TEST_F(VariantTest, CompoundFailedDocumentTypeConversionClosesTheFile) {
    writeCompoundDocument(dir / "doc.OLE", makePropertyBlock(fullFields()), kBodyText);
    KRMTest_FailAt(KRM_SVC_CONV_CONVERT, 1);
    EXPECT_EQ(runCompound(dir / "doc.OLE"), KRM_ERR_BROKEN);
    EXPECT_EQ(slot(KRM_PROP_DOCUMENT_TYPE), "");
}

TEST_F(VariantTest, NotACompoundFile) {
    writeFile(dir / "plain.OLE", makePropertyBlock(fullFields()));
    openLog();
    EXPECT_EQ(runCompound(dir / "plain.OLE"), KRM_ERR_OPEN);
    const auto lines = closeLog();
    EXPECT_EQ(lines, std::vector<std::string>{"Open OLEfile: " + (dir / "plain.OLE").string() + "\r\n"});
    EXPECT_TRUE(std::all_of(record->bytes, record->bytes + KRM_PROPERTY_RECORD_SIZE, [](uint8_t b) { return b == 0; }));
}

} // namespace
} // namespace oasys_test
