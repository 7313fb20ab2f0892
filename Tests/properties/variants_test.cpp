// The three packagings: document-type slot, where the format block is found, and what each
// failure leaves in the record.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "property_test_support.h"

namespace oasys_test {
namespace {

enum class Packaging { Separated, Combined, Compound };

const Bytes kBodyText = concat({bytes("ABC"), crlf(), endOfText()});
const std::string kUtf8Combined = fromUtf8(u8"OASYS2結合文書");
const std::string kUtf8Compound = fromUtf8(u8"OASYS2複合文書");

class VariantTest : public PropertyTest {
protected:
    // Writes a document of the packaging around the format block and runs its variant on a
    // cleared context and a record filled with 0xEE.
    int32_t run(Packaging packaging, const Bytes& block, const std::optional<SummaryFields>& summary = {}) {
        std::memset(record->bytes, 0xEE, sizeof record->bytes);
        context = {};
        switch (packaging) {
        case Packaging::Separated:
            writeFile(dir / "doc.FMT", block);
            return runOnFile(dir / "doc.FMT", GetOasSepProperty);
        case Packaging::Combined:
            writeFile(dir / "doc.OAS", makeCombinedDocument(block, kBodyText));
            return runOnFile(dir / "doc.OAS", GetOasCombProperty);
        case Packaging::Compound:
            writeCompoundDocument(dir / "doc.OLE", block, kBodyText, summary);
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
    // Runs with a log opened as the entry would open it; returns the lines of that log.
    std::vector<std::string> logged(const std::function<void()>& call) {
        options.optionFlags |= KRM_OPT_LOG;
        GetLogFileName((dir / "variant").c_str(), "ve2", context.logFileName);
        context.logHandle = krm_logfopen(options.optionFlags, context.logFileName);
        call();
        krm_logfclose(options.optionFlags, context.logHandle);
        return readLogLines(context.logFileName);
    }
};

// The document type names the packaging in the output charset; the separated and combined
// variants clear the record and fill every slot from the format block, the compound one only
// what its summary information holds.
TEST_F(VariantTest, DocumentTypeAndSlots) {
    const Slots formatSlots = fullFieldSlots();
    const struct {
        const char* name;
        Packaging packaging;
        const char* charset;
        std::string documentType;
        std::optional<Slots> others = std::nullopt; // checked for the UTF-8 rows
    } cases[] = {
        {"separated, UTF-8", Packaging::Separated, "UTF-8", fromUtf8(u8"OASYS2文書"), formatSlots},
        {"combined, UTF-8", Packaging::Combined, "UTF-8", kUtf8Combined, formatSlots},
        {"compound without summary, UTF-8", Packaging::Compound, "UTF-8", kUtf8Compound, Slots{}},
        {"separated, Shift_JIS", Packaging::Separated, "Shift_JIS", "OASYS2\x95\xB6\x8F\x91"},
        {"combined, Shift_JIS", Packaging::Combined, "Shift_JIS", "OASYS2\x8C\x8B\x8D\x87\x95\xB6\x8F\x91"},
        {"compound, Shift_JIS", Packaging::Compound, "Shift_JIS", "OASYS2\x95\xA1\x8D\x87\x95\xB6\x8F\x91"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        options = makeOptions(c.charset);
        EXPECT_EQ(run(c.packaging, makePropertyBlock(fullFields())), KRM_OK);
        EXPECT_EQ(slot(KRM_PROP_DOCUMENT_TYPE), c.documentType);
        if (c.others) expectSlots(with(*c.others, {{KRM_PROP_DOCUMENT_TYPE, c.documentType}}));
        expectHostCountersZero();
    }
}

// A block marker other than 2 fails the decoder: 3000, with what was written before the marker.
// A failed conversion of the document-type text: 3000 and a cleared record.
TEST_F(VariantTest, FailuresOfTheFormatBlockAndOfTheDocumentType) {
    PropertyFields badMarker = fullFields();
    badMarker.blockMarker = 0;
    Slots beforeMarker = fullFieldSlots();
    std::erase_if(beforeMarker, [](const auto& s) {
        return s.first != KRM_PROP_TITLE && s.first != KRM_PROP_CREATED && s.first != KRM_PROP_MODIFIED;
    });
    for (Packaging packaging : {Packaging::Separated, Packaging::Combined}) {
        SCOPED_TRACE(packaging == Packaging::Separated ? "separated" : "combined");
        EXPECT_EQ(run(packaging, makePropertyBlock(badMarker)), KRM_ERR_BROKEN);
        const std::string type = slot(KRM_PROP_DOCUMENT_TYPE);
        expectSlots(with(beforeMarker, {{KRM_PROP_DOCUMENT_TYPE, type}}));
        EXPECT_FALSE(type.empty());
    }
    for (Packaging packaging : {Packaging::Separated, Packaging::Combined, Packaging::Compound}) {
        KRMTest_FailAt(KRM_SVC_CONV_CONVERT, 1);
        EXPECT_EQ(run(packaging, makePropertyBlock(fullFields())), KRM_ERR_BROKEN);
        KRMTest_ResetFailures();
        EXPECT_TRUE(recordIsZero());
        expectHostCountersZero();
    }
}

// The combined variant walks the first part's identifiers to its first block; a wrong or
// missing identifier leaves only the document type.
TEST_F(VariantTest, CombinedWalkToTheFormatBlock) {
    const Bytes block = makePropertyBlock(fullFields());
    auto withFormatPart = [&](size_t directoryLength, bool withHeader) {
        CombinedPart format, body;
        format.name = "REPORT.FMT";
        format.directoryLength = directoryLength;
        format.blocks = withHeader ? concat({blockHeader(static_cast<uint16_t>(block.size())), block}) : block;
        body.name = "REPORT.DOC";
        body.blocks = layBlocks(kBodyText, {}, true).bytes;
        return makeCombined({format, body});
    };
    auto damaged = [&](size_t offset) {
        Bytes file = makeCombinedDocument(block, kBodyText);
        file[offset] ^= 0x01;
        return file;
    };
    const Slots all = with(fullFieldSlots(), {{KRM_PROP_DOCUMENT_TYPE, kUtf8Combined}});
    const Slots typeOnly = {{KRM_PROP_DOCUMENT_TYPE, kUtf8Combined}};
    const struct {
        const char* name;
        Bytes file;
        int32_t code;
        const Slots& expected;
    } cases[] = {
        {"short directory", withFormatPart(21, true), KRM_OK, all},
        {"long directory", withFormatPart(700, true), KRM_OK, all},
        // without a block header the format block follows the block-list identifier directly
        {"first part without blocks", withFormatPart(32, false), KRM_OK, all},
        {"document identifier", damaged(0), KRM_ERR_BROKEN, typeOnly},
        {"part identifier", damaged(5), KRM_ERR_BROKEN, typeOnly},
        {"directory tag", damaged(9), KRM_ERR_BROKEN, typeOnly},
        {"block-list identifier", damaged(12 + 32 + 3), KRM_ERR_BROKEN, typeOnly},
        {"shorter than its header", Bytes{0xF1, 0x10, 0x80}, KRM_ERR_BROKEN, typeOnly},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::memset(record->bytes, 0xEE, sizeof record->bytes);
        writeFile(dir / "doc.OAS", c.file);
        EXPECT_EQ(runOnFile(dir / "doc.OAS", GetOasCombProperty), c.code);
        expectSlots(c.expected);
    }
}

// The compound variant takes every slot from the summary information, none from the format
// stream; a failing SummaryInfo keeps its own code, still names the type and closes the file.
TEST_F(VariantTest, CompoundSummaryInformation) {
    SummaryFields summary;
    summary.title = "Annual plan";
    summary.subject = "Planning";
    summary.author = "Tanaka";
    summary.keywords = "plan budget";
    summary.comments = "Draft for the board";
    summary.lastAuthor = "Sato";
    summary.created = 1680674820;   // 2023-04-05 06:07:00 UTC
    summary.lastSaved = 1733003100; // 2024-11-30 21:45:00 UTC
    EXPECT_EQ(run(Packaging::Compound, makePropertyBlock(fullFields()), summary), KRM_OK);
    expectSlots({{KRM_PROP_TITLE, "Annual plan"},
                 {KRM_PROP_AUTHOR, "Tanaka"},
                 {KRM_PROP_KEYWORDS, "plan budget"},
                 {KRM_PROP_COMMENTS, "Draft for the board"},
                 {KRM_PROP_CREATED, fromUtf8(u8"23年04月05日06時07分")},
                 {KRM_PROP_MODIFIED, fromUtf8(u8"24年11月30日21時45分")},
                 {KRM_PROP_LAST_AUTHOR, "Sato"},
                 {KRM_PROP_DOCUMENT_TYPE, kUtf8Compound}});

    const std::string path = (dir / "doc.OLE").string();
    KRMTest_FailAt(KRM_SVC_SUMMARY_INFO, 1);
    int32_t code = -1;
    const auto lines = logged([&] { code = runCompound(dir / "doc.OLE"); });
    EXPECT_EQ(code, KRM_ERR_BROKEN) << "the failing service's own code";
    EXPECT_EQ(slot(KRM_PROP_DOCUMENT_TYPE), kUtf8Compound);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Close OLEfile: " + path + "\r\n"), lines.end());
}

TEST_F(VariantTest, NotACompoundFile) {
    writeFile(dir / "plain.OLE", makePropertyBlock(fullFields()));
    int32_t code = -1;
    const auto lines = logged([&] { code = runCompound(dir / "plain.OLE"); });
    EXPECT_EQ(code, KRM_ERR_OPEN);
    EXPECT_EQ(lines, std::vector<std::string>{"Open OLEfile: " + (dir / "plain.OLE").string() + "\r\n"});
    EXPECT_TRUE(recordIsZero());
}

} // namespace
} // namespace oasys_test
