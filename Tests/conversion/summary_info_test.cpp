// SummaryInfo on compound files: properties written by libgsf's own metadata writer, hand-built
// property sets (unset and pre-1970 dates, a Windows-31J set, hostile sets), files without
// summary information, files that are not compound files, and slot bounds.
#include <unicode/ucnv.h>

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

std::string inCharset(const std::string& utf8, const char* charset) {
    std::string out(utf8.size() * 4 + 16, '\0');
    UErrorCode status = U_ZERO_ERROR;
    const int32_t n = ucnv_convert(charset, "UTF-8", out.data(), static_cast<int32_t>(out.size()), utf8.data(),
                                   static_cast<int32_t>(utf8.size()), &status);
    EXPECT_TRUE(U_SUCCESS(status)) << charset;
    out.resize(U_SUCCESS(status) ? static_cast<size_t>(n) : 0);
    return out;
}

// The text of a slot up to its terminator (unitSize bytes of zero on a unit boundary).
std::string slotText(const PropertyRecord& record, uint32_t offset, size_t unitSize = 1) {
    std::string text;
    for (size_t i = offset; i + unitSize <= sizeof record.bytes; i += unitSize) {
        bool zero = true;
        for (size_t k = 0; k < unitSize; ++k) zero = zero && record.bytes[i + k] == 0;
        if (zero) break;
        text.append(reinterpret_cast<const char*>(record.bytes + i), unitSize);
    }
    return text;
}

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
        for (const auto& [slot, text] : slots) EXPECT_EQ(slotText(*result.record, slot), inCharset(text, charset)) << slot;
        EXPECT_EQ(result.record->bytes[KRM_PROP_DOCUMENT_TYPE], kFill) << "the document type belongs to the filter";
    }
}

struct Property {
    uint32_t pid; Bytes value; // type word and payload
};
void putU32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
Bytes typed(uint32_t type, const Bytes& payload) {
    Bytes b;
    putU32(b, type);
    b.insert(b.end(), payload.begin(), payload.end());
    while (b.size() % 4 != 0) b.push_back(0);
    return b;
}
Bytes codepage(uint16_t cp) { return typed(2, {static_cast<uint8_t>(cp), static_cast<uint8_t>(cp >> 8)}); }
Bytes lpstr(const std::string& text) {
    Bytes payload;
    putU32(payload, static_cast<uint32_t>(text.size() + 1));
    payload.insert(payload.end(), text.begin(), text.end());
    payload.push_back(0);
    return typed(0x1E, payload);
}
Bytes lpwstr(const std::u16string& text) { // counted in characters, its terminator included
    Bytes payload;
    putU32(payload, static_cast<uint32_t>(text.size() + 1));
    for (const char16_t unit : text + u'\0') payload.insert(payload.end(), {uint8_t(unit), uint8_t(unit >> 8)});
    return typed(0x1F, payload);
}
Bytes filetime(std::chrono::sys_seconds when) { // 100 ns units since 1601
    constexpr int64_t kSecondsFrom1601To1970 = 11'644'473'600;
    const auto value = static_cast<uint64_t>(when.time_since_epoch().count() + kSecondsFrom1601To1970) * 10'000'000u;
    Bytes payload;
    for (int i = 0; i < 8; ++i) payload.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return typed(0x40, payload);
}

// A property set stream holding one set with these properties, laid out as given: the
// SummaryInformation set F29F85E0-4FF9-1068-AB91-08002B27B3D9, or DocumentSummaryInformation
// D5CDD502-2E9C-101B-9397-08002B2CF9AE, or (summaryFmtid false) another set.
struct SetLayout {
    uint16_t byteOrder = 0xFFFE;
    uint32_t setCount = 1;
    bool summaryFmtid = true, documentSummary = false;
    std::optional<uint32_t> setOffset;      // default: right after the header
    std::optional<uint32_t> propertyCount;  // default: the real count
    std::optional<uint32_t> lastValueOffset; // default: the real offset
};
Bytes propertySetStream(const std::vector<Property>& properties, const SetLayout& layout = {}) {
    constexpr uint8_t kSummary[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                      0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
    constexpr uint8_t kDocumentSummary[16] = {0x02, 0xD5, 0xCD, 0xD5, 0x9C, 0x2E, 0x1B, 0x10,
                                              0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE};
    const uint8_t* const kFmtid = layout.documentSummary ? kDocumentSummary : kSummary;
    Bytes s = {static_cast<uint8_t>(layout.byteOrder), static_cast<uint8_t>(layout.byteOrder >> 8), 0, 0};
    putU32(s, 0x00020006);           // system identifier
    s.insert(s.end(), 16, 0);        // class id
    putU32(s, layout.setCount);
    s.insert(s.end(), kFmtid, kFmtid + 16);
    if (!layout.summaryFmtid) s[28] ^= 0xFF;
    putU32(s, layout.setOffset.value_or(48));
    Bytes set;
    uint32_t offset = 8 + 8 * static_cast<uint32_t>(properties.size());
    Bytes values;
    putU32(set, 0); // size, patched below
    putU32(set, layout.propertyCount.value_or(static_cast<uint32_t>(properties.size())));
    for (size_t i = 0; i < properties.size(); ++i) {
        putU32(set, properties[i].pid);
        putU32(set, i + 1 == properties.size() && layout.lastValueOffset ? *layout.lastValueOffset : offset);
        offset += static_cast<uint32_t>(properties[i].value.size());
        values.insert(values.end(), properties[i].value.begin(), properties[i].value.end());
    }
    set.insert(set.end(), values.begin(), values.end());
    const auto size = static_cast<uint32_t>(set.size());
    for (int i = 0; i < 4; ++i) set[i] = static_cast<uint8_t>(size >> (8 * i));
    s.insert(s.end(), set.begin(), set.end());
    return s;
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
                 propertySetStream({{2, lpwstr(u"Finance")}}, {.documentSummary = true})); // the category
    const SummaryResult result = summaryOf(dir / "doc.oas");
    ASSERT_EQ(result.code, KRM_OK);
    EXPECT_EQ(slotText(*result.record, KRM_PROP_TITLE), "日本");
    EXPECT_EQ(slotText(*result.record, KRM_PROP_AUTHOR), "");
    EXPECT_EQ(slotText(*result.record, KRM_PROP_CREATED), "") << "a date of zero is no date";
    EXPECT_EQ(slotText(*result.record, KRM_PROP_MODIFIED), "60年05月06日07時08分");
    EXPECT_EQ(slotText(*result.record, KRM_PROP_LAST_AUTHOR), "");
    EXPECT_EQ(slotText(*result.record, KRM_PROP_CATEGORY), "Finance");
}

TEST_F(SummaryInfoTest, HostileSetIsRefusedWithoutReadingOutsideTheStream) {
    const std::vector<Property> titleOnly = {{2, lpstr("title")}};
    const auto layout = [](auto change) { SetLayout l; change(l); return l; };
    const struct { const char* name; std::vector<Property> properties; SetLayout layout; int32_t code; } cases[] = {
        {"Sound", titleOnly, {}, KRM_OK},
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

TEST_F(SummaryInfoTest, FilesWithoutSummaryInformation) {
    writeCompound(dir / "doc.oas", {kBodyStream});
    writeFile(dir / "plain.txt", bytes("just text, no compound file header"));
    const struct { const char* what; const char* name; bool failSwitch; int32_t code; } cases[] = {
        {"compound file without the stream", "doc.oas", false, KRM_OK},
        {"the service's failure switch", "doc.oas", true, KRM_ERR_BROKEN},
        {"not a compound file", "plain.txt", false, KRM_ERR_OPEN},
        {"missing file", "missing.oas", false, KRM_ERR_OPEN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.failSwitch) KRMTest_FailAt(KRM_SVC_SUMMARY_INFO, 1);
        const SummaryResult result = summaryOf(dir / c.name);
        EXPECT_EQ(result.code, c.code);
        if (c.code != KRM_OK) continue;
        for (uint32_t slot : {KRM_PROP_TITLE, KRM_PROP_AUTHOR, KRM_PROP_KEYWORDS, KRM_PROP_CATEGORY, KRM_PROP_COMMENTS,
                              KRM_PROP_MODIFIED, KRM_PROP_CREATED, KRM_PROP_LAST_AUTHOR})
            EXPECT_EQ(result.record->bytes[slot], 0) << slot;
        EXPECT_EQ(result.record->bytes[KRM_PROP_DOCUMENT_TYPE], kFill);
    }
}

} // namespace
