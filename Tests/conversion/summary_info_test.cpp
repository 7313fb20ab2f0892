// SummaryInfo on compound files: properties written by libgsf's own metadata writer and hand-built
// property sets (unset and pre-1970 dates, a Windows-31J set, hostile sets).
#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include "filter_harness.h"

namespace {

using namespace oasys_test;

constexpr uint8_t kFill = 0xCC; // what the host's record held before the call
constexpr uint16_t kCompound = KRM_FORMAT_COMPOUND;

struct SummaryResult {
    int32_t code; std::unique_ptr<PropertyRecord> record;
};
SummaryResult summaryOf(const std::filesystem::path& path, const char* charset = "UTF-8") {
    const HostOptions options = makeOptions(charset);
    auto record = std::make_unique<PropertyRecord>();
    std::memset(record->bytes, kFill, sizeof record->bytes);
    const int32_t code = SummaryInfo(path.c_str(), &options, record.get(), &kCompound);
    return {code, std::move(record)};
}

const CompoundStream kBodyStream{"DOC1.DOC", {'x'}};

class SummaryInfoTest : public HostCheckedTest {
protected:
    TempDir dir;
};

TEST_F(SummaryInfoTest, WrittenPropertiesFillEverySlotInTheOutputCharset) {
    writeCompound(dir / "doc.oas", {kBodyStream},
                  SummaryFields{.title = "日本語の題", .subject = "not in the record", .author = "著者",
                                .keywords = "a;b;キー", .comments = "メモ", .lastAuthor = "最終",
                                .created = 1'699'999'980 /* 2023-11-14 22:13:00 UTC */,
                                .lastSaved = 946'782'000 /* 2000-01-02 03:00:00 UTC */});
    const std::pair<uint32_t, std::string> slots[] = {
        {KRM_PROP_TITLE, "日本語の題"}, {KRM_PROP_AUTHOR, "著者"}, {KRM_PROP_KEYWORDS, "a;b;キー"},
        {KRM_PROP_CATEGORY, ""}, {KRM_PROP_COMMENTS, "メモ"}, {KRM_PROP_MODIFIED, "00年01月02日03時00分"},
        {KRM_PROP_CREATED, "23年11月14日22時13分"}, {KRM_PROP_LAST_AUTHOR, "最終"}};
    for (const char* charset : {"UTF-8", "Shift_JIS", "EUC-JP", "ISO-2022-JP"}) {
        SCOPED_TRACE(charset);
        const SummaryResult result = summaryOf(dir / "doc.oas", charset);
        ASSERT_EQ(result.code, KRM_OK);
        for (const auto& [slot, text] : slots) EXPECT_EQ(slotText(*result.record, slot), icuConvert(charset, "UTF-8", text)) << slot;
        EXPECT_EQ(result.record->bytes[KRM_PROP_DOCUMENT_TYPE], kFill) << "the document type belongs to the filter";
    }
}

void writeWithSet(const std::filesystem::path& path, const Bytes& set, const Bytes& documentSet = {}) {
    std::vector<CompoundStream> streams = {kBodyStream, {"\005SummaryInformation", set}};
    if (!documentSet.empty()) streams.push_back({"\005DocumentSummaryInformation", documentSet});
    writeCompound(path, streams);
}

TEST_F(SummaryInfoTest, HandBuiltSetOfCodePage932WithUnsetPre1970AndMistypedValues) {
    using namespace std::chrono;
    writeWithSet(dir / "doc.oas", propertySetStream({{1, codepage(932)},
                                                     {2, lpstr("\x93\xFA\x96\x7B")},
                                                     {4, typed(3, {1, 0, 0, 0})}, // author as an integer
                                                     {12, typed(0x40, Bytes(8, 0))},
                                                     {13, filetime(sys_days{1960y / May / 6} + 7h + 8min + 9s)},
                                                     {8, filetime(sys_days{2001y / January / 1})}}), // type mismatch
                 propertySetStream({{2, lpwstr(u"Fin\u4E00ance")}}, {.documentSummary = true})); // the category
    const SummaryResult result = summaryOf(dir / "doc.oas");
    ASSERT_EQ(result.code, KRM_OK);
    EXPECT_EQ(slotText(*result.record, KRM_PROP_TITLE), "日本");
    EXPECT_EQ(slotText(*result.record, KRM_PROP_AUTHOR), "");
    EXPECT_EQ(slotText(*result.record, KRM_PROP_CREATED), "") << "a date of zero is no date";
    EXPECT_EQ(slotText(*result.record, KRM_PROP_MODIFIED), "60年05月06日07時08分");
    EXPECT_EQ(slotText(*result.record, KRM_PROP_LAST_AUTHOR), "");
    EXPECT_EQ(slotText(*result.record, KRM_PROP_CATEGORY), "Fin一ance") << "a unit of 00 4E is no terminator";
}

TEST_F(SummaryInfoTest, HostileSetIsRefusedWithoutReadingOutsideTheStream) {
    const std::vector<Property> titleOnly = {{2, lpstr("title")}};
    const auto layout = [](auto change) { SetLayout l; change(l); return l; };
    const struct { const char* name; std::vector<Property> properties; SetLayout layout; int32_t code; } cases[] = {
        {"Sound", titleOnly, {}, KRM_OK},
        {"EmptyTextInAnUnknownCodepage", {{1, codepage(9999)}, {2, lpstr("")}}, {}, KRM_OK},
        {"OtherSetOnly", titleOnly, layout([](SetLayout& l) { l.summaryFmtid = false; }), KRM_OK},
        {"BadByteOrder", titleOnly, layout([](SetLayout& l) { l.byteOrder = 0xFEFF; }), KRM_ERR_BROKEN},
        {"SetListPastEnd", titleOnly, layout([](SetLayout& l) { l.setCount = 0xFFFFFFFF, l.summaryFmtid = false; }), KRM_ERR_BROKEN},
        {"SetOffsetPastEnd", titleOnly, layout([](SetLayout& l) { l.setOffset = 0x7FFFFFF0; }), KRM_ERR_BROKEN},
        {"PropertyCountHuge", titleOnly, layout([](SetLayout& l) { l.propertyCount = 0x20000000; }), KRM_ERR_BROKEN},
        {"ValueOffsetPastSet", titleOnly, layout([](SetLayout& l) { l.lastValueOffset = 0xFFFFFFF0; }), KRM_ERR_BROKEN},
        {"StringLongerThanSet", {{2, typed(0x1E, {0xFF, 0xFF, 0xFF, 0x7F, 'a'})}}, {}, KRM_ERR_BROKEN},
        {"FiletimeCutShort", {{13, typed(0x40, {1, 2, 3})}}, {}, KRM_ERR_BROKEN},
        {"StreamOverOneMiB", {{2, lpstr(std::string((1 << 20) + 1, 'x'))}}, {}, KRM_ERR_BROKEN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeWithSet(dir / "doc.oas", propertySetStream(c.properties, c.layout));
        EXPECT_EQ(summaryOf(dir / "doc.oas").code, c.code);
    }
}

} // namespace
