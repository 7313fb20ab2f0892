// Properties: the file a name leads to, the format block decoder and the three packagings' variants,
// into a heap record of the exact host size (the address sanitizer sees any write past its end).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>

#include "filter_harness.h"

namespace oasys_test {
namespace {

constexpr uint32_t kAllSlots[] = {KRM_PROP_TITLE,    KRM_PROP_AUTHOR,        KRM_PROP_KEYWORDS,
                                  KRM_PROP_CATEGORY, KRM_PROP_COMMENTS,      KRM_PROP_MODIFIED,
                                  KRM_PROP_DOCUMENT_TYPE, KRM_PROP_CREATED,  KRM_PROP_LAST_AUTHOR};
std::string u8(std::u8string_view text) { return {reinterpret_cast<const char*>(text.data()), text.size()}; }
const std::string kSeparatedType = u8(u8"OASYS2文書"), kCombinedType = u8(u8"OASYS2結合文書"),
                  kCompoundType = u8(u8"OASYS2複合文書");

// A format block with every property set (ASCII texts, plain in any output charset).
PropertyFields fullFields() {
    return {.title = "Quarterly report", .author = "Yamada", .comments = "Figures for the third quarter",
            .category = "Finance", .lastAuthor = "Suzuki", .keywords = {"sales", "2024"},
            .created = {0x98, 0x12, 0x31, 0x23, 0x59}, .modified = {0x01, 0x02, 0x03, 0x04, 0x05}};
}
using Slots = std::map<uint32_t, std::string>; // slot offset -> text; every other slot empty
const Slots kFullSlots = {{KRM_PROP_TITLE, "Quarterly report"},       {KRM_PROP_CREATED, u8(u8"98年12月31日23時59分")},
                          {KRM_PROP_MODIFIED, u8(u8"01年02月03日04時05分")}, {KRM_PROP_AUTHOR, "Yamada"},
                          {KRM_PROP_COMMENTS, "Figures for the third quarter"}, {KRM_PROP_CATEGORY, "Finance"},
                          {KRM_PROP_KEYWORDS, "sales;2024;"},          {KRM_PROP_LAST_AUTHOR, "Suzuki"}};
const Slots kBeforeMarker = {{KRM_PROP_TITLE, "Quarterly report"}, {KRM_PROP_CREATED, u8(u8"98年12月31日23時59分")},
                             {KRM_PROP_MODIFIED, u8(u8"01年02月03日04時05分")}};
// The slots with some texts changed (an empty text empties the slot).
Slots with(Slots slots, const Slots& changes) {
    for (const auto& [s, text] : changes) text.empty() ? void(slots.erase(s)) : void(slots[s] = text);
    return slots;
}

class PropertyTest : public HostCheckedTest {
protected:
    void SetUp() override {
        HostCheckedTest::SetUp();
        std::strcpy(srcInfo.sourceCharset, KRM_CHARSET_WINDOWS31J);
    }
    void clearRecord() { std::memset(record->bytes, 0xEE, sizeof record->bytes); }
    std::string slot(uint32_t offset) const { return slotText(*record, offset); }
    // Every slot holds the text given for it (empty when not given), and no other byte is set.
    void expectSlots(const Slots& expected) const {
        std::vector<bool> inText(KRM_PROPERTY_RECORD_SIZE, false);
        for (uint32_t s : kAllSlots) {
            const auto found = expected.find(s);
            EXPECT_EQ(slot(s), found == expected.end() ? "" : found->second) << "slot " << s;
            std::fill_n(inText.begin() + s, slot(s).size(), true);
        }
        size_t stray = 0;
        for (size_t i = 0; i < KRM_PROPERTY_RECORD_SIZE; ++i) stray += !inText[i] && record->bytes[i] != 0;
        EXPECT_EQ(stray, 0u) << "bytes outside the slot texts";
    }
    bool recordIsZero() const {
        return std::all_of(record->bytes, record->bytes + KRM_PROPERTY_RECORD_SIZE, [](uint8_t b) { return b == 0; });
    }
    // GetProperty as the host calls it; the record is the call's.
    FilterRun get(const std::string& name, uint16_t formatCode) {
        FilterRun run = callEntry(Entry::Properties, dir / name, {}, formatCode, options);
        record = std::move(run.record);
        expectHostCountersZero();
        return run;
    }
    void writeFormat(const std::string& name) { writeFile(dir / name, makePropertyBlock(fullFields())); }
    // A variant on a plain file holding content.
    int32_t onFile(const Bytes& content, int32_t (*variant)(uint32_t, SrcInfo*, HostOptions*, PropertyRecord*, CallContext*)) {
        const OpenSource file(dir / "doc.OAS", content);
        clearRecord();
        context = {};
        return variant(file.handle(), &srcInfo, &options, record.get(), &context);
    }
    int32_t onCompound(const std::filesystem::path& path) {
        const uint16_t code = KRM_FORMAT_COMPOUND;
        clearRecord();
        return GetOasCompProperty(path.c_str(), &srcInfo, &options, record.get(), &code, &context);
    }

    TempDir dir;
    std::unique_ptr<PropertyRecord> record = std::make_unique<PropertyRecord>();
    HostOptions options = makeOptions("UTF-8");
    SrcInfo srcInfo{};
    CallContext context{};
};


// Only the format file is opened, found by the first of ".DOC", ".doc", ".GRP", ".grp" in the
// path (folders included; the order of the search decides, not the place); a format name is taken
// as it stands; other names are refused.
TEST_F(PropertyTest, NameRulesOpenOnlyTheFormatFile) {
    const struct {
        std::string given;
        std::vector<std::string> existing; // format files written before the call
        int32_t code;
        std::string opened;                // the format file the call opens (empty: none)
    } cases[] = {
        {"report.DOC", {"report.FMT"}, KRM_OK, "report.FMT"},
        {"old.files/report.doc", {"old.files/report.fmt"}, KRM_OK, "old.files/report.fmt"},
        {"report.GRP", {"report.FMT"}, KRM_OK, "report.FMT"},
        {"report.FMT", {"report.FMT"}, KRM_OK, "report.FMT"},
        {"x.DOCS/report.FMT", {"x.DOCS/report.FMT", "x.FMT"}, KRM_OK, "x.FMT"},
        {"a.GRP.DOC", {"a.GRP.FMT", "a.FMT"}, KRM_OK, "a.GRP.FMT"},
        {"c.grp.GRP", {"c.grp.FMT", "c.fmt"}, KRM_OK, "c.grp.FMT"},
        {"report.Doc", {"report.FMT", "report.fmt"}, KRM_ERR_UNSUPPORTED, ""},
        {"report.txt", {"report.FMT"}, KRM_ERR_UNSUPPORTED, ""},
        {"report.DOC", {"report.DOC"}, KRM_ERR_OPEN, ""},
    };
    options.optionFlags = KRM_OPT_LOG;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.given);
        std::filesystem::remove_all(dir.path());
        std::filesystem::create_directories(dir / "old.files");
        std::filesystem::create_directories(dir / "x.DOCS");
        for (const std::string& f : c.existing) writeFormat(f);
        const FilterRun run = get(c.given, KRM_FORMAT_SEPARATED);
        EXPECT_EQ(run.code, c.code);
        const std::string opened = (dir / c.opened).string();
        EXPECT_EQ(hasLine(run.log, "Open Appfile: " + opened + "\r\n"), !c.opened.empty());
        EXPECT_EQ(hasLine(run.log, "Close Appfile: " + opened + "\r\n"), !c.opened.empty());
        if (!c.opened.empty()) { EXPECT_EQ(slot(KRM_PROP_TITLE), "Quarterly report"); }
    }
}

// Refused before any file is opened: an extension alone (even when the bare format name exists in
// the working folder), format codes just outside the range, null arguments; a failed allocation.
TEST_F(PropertyTest, RefusalsAndFailures) {
    writeFormat(".DOC");
    writeFormat(".FMT");
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const uint16_t separated = KRM_FORMAT_SEPARATED;
    EXPECT_EQ(GetProperty(".grp", &options, record.get(), &separated), KRM_ERR_OPEN);
    EXPECT_EQ(GetProperty(".FMT", &options, record.get(), &separated), KRM_OK) << "a format name as it stands";
    std::filesystem::current_path(previous);
    for (uint16_t code : {uint16_t{9999}, uint16_t{10003}}) {
        EXPECT_EQ(get(".FMT", code).code, KRM_ERR_UNSUPPORTED) << code;
        EXPECT_EQ(record->bytes[0], 0xEE) << "the record is not touched";
    }
    const std::string source = (dir / ".FMT").string();
    EXPECT_EQ(GetProperty(nullptr, &options, record.get(), &separated), KRM_ERR_UNSUPPORTED);
    EXPECT_EQ(GetProperty(source.c_str(), nullptr, record.get(), &separated), KRM_ERR_UNSUPPORTED);
    EXPECT_EQ(GetProperty(source.c_str(), &options, nullptr, &separated), KRM_ERR_UNSUPPORTED);
    EXPECT_EQ(GetProperty(source.c_str(), &options, record.get(), nullptr), KRM_ERR_UNSUPPORTED);
    KRMTest_FailAt(KRM_SVC_MALLOC, 1);
    EXPECT_EQ(get(".FMT", separated).code, KRM_ERR_NO_MEMORY);
}


TEST_F(PropertyTest, FormatBlockFieldsToSlots) {
    std::string tenFull, tenJoined;
    for (char c = 'a'; c < 'a' + 10; ++c) {
        tenFull += std::string(20, c);
        tenJoined += std::string(20, c) + ";";
    }
    const struct {
        const char* name;
        std::function<void(PropertyFields&)> change;
        std::vector<std::pair<size_t, std::string>> rawBytes; // placed after the fields, as they stand
        uint32_t result;
        Slots expected;
    } cases[] = {
        {"all fields", [](PropertyFields&) {}, {}, 1, kFullSlots},
        {"skip byte set", [](PropertyFields& f) { f.skipByte = 1; }, {}, 1, with(kFullSlots, {{KRM_PROP_TITLE, ""}})},
        {"marker 0", [](PropertyFields& f) { f.blockMarker = 0; }, {}, 0, kBeforeMarker},
        {"marker 3", [](PropertyFields& f) { f.blockMarker = 3; }, {}, 0, kBeforeMarker},
        // Date digits are not validated: nibble 0xA becomes ':' (0x30 + 10), 0xF becomes '?'.
        {"date nibbles above nine", [](PropertyFields& f) { f.modified = {0x07, 0x13, 0x01, 0xF0, 0xA5}; }, {}, 1,
         with(kFullSlots, {{KRM_PROP_MODIFIED, u8(u8"07年13月01日?0時:5分")}})},
        // A field that fills its size is taken whole, and not a byte of what follows it.
        {"title without NUL", [](PropertyFields&) {}, {{11, std::string(50, 'T') + "ZZ"}}, 1,
         with(kFullSlots, {{KRM_PROP_TITLE, std::string(50, 'T')}})},
        {"author without NUL", [](PropertyFields&) {}, {{1286, std::string(30, 'A') + "ZZ"}}, 1,
         with(kFullSlots, {{KRM_PROP_AUTHOR, std::string(30, 'A')}, {KRM_PROP_COMMENTS, "ZZgures for the third quarter"}})},
        {"category without NUL", [](PropertyFields& f) { f.keywords[0] = "NEXT"; }, {{1398, "0123456789ABCDEF"}}, 1,
         with(kFullSlots, {{KRM_PROP_CATEGORY, "0123456789ABCDEF"}, {KRM_PROP_KEYWORDS, "NEXT;2024;"}})},
        {"last author without NUL", [](PropertyFields&) {}, {{1638, std::string(30, 'L') + "ZZ"}}, 1,
         with(kFullSlots, {{KRM_PROP_LAST_AUTHOR, std::string(30, 'L')}})},
        {"keywords with gaps", [](PropertyFields& f) { f.keywords = {"ABC", "", "DEF"}; }, {}, 1,
         with(kFullSlots, {{KRM_PROP_KEYWORDS, "ABC;DEF;"}})},
        // An entry whose first byte is NUL adds nothing, whatever stands behind that byte.
        {"keyword entry starting with NUL", [](PropertyFields& f) { f.keywords = {}; },
         {{1414 + 20 * 3, std::string("\0HIDDEN", 7)}, {1414 + 20 * 4, "SHOWN"}}, 1,
         with(kFullSlots, {{KRM_PROP_KEYWORDS, "SHOWN;"}})},
        {"keywords all full", [](PropertyFields& f) { f.keywords = {}; }, {{1414, tenFull + "after the list"}}, 1,
         with(kFullSlots, {{KRM_PROP_KEYWORDS, tenJoined}})},
        // The block ends early: what was read stays, the rest is empty; a date that could not be
        // read comes from the zero-filled date buffer.
        {"ends before the marker", [](PropertyFields& f) { f.size = 1000; }, {}, 0, kBeforeMarker},
        {"ends inside the title", [](PropertyFields& f) { f.size = 20; }, {}, 0,
         {{KRM_PROP_TITLE, "Quarterly"}, {KRM_PROP_CREATED, u8(u8"00年00月00日00時00分")},
          {KRM_PROP_MODIFIED, u8(u8"00年00月00日00時00分")}}},
    };
    constexpr uint32_t kBlockStart = 37; // placed after some leading bytes, as inside a combined file
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PropertyFields fields = fullFields();
        c.change(fields);
        Bytes block = makePropertyBlock(fields);
        for (const auto& [offset, raw] : c.rawBytes) putField(block, offset, raw);
        const OpenSource file(dir / "doc.FMT", concat({Bytes(kBlockStart, 0xF0), block}));
        std::memset(record->bytes, 0, sizeof record->bytes);
        EXPECT_EQ(GetKRMProperty(file.handle(), kBlockStart, &srcInfo, &options, record.get(), 0, &context), c.result);
        expectSlots(c.expected);
    }
    // A failed conversion stops the decoder at that field: the slots before it stay filled.
    const uint32_t order[] = {KRM_PROP_TITLE,    KRM_PROP_CREATED,  KRM_PROP_MODIFIED, KRM_PROP_AUTHOR,
                              KRM_PROP_COMMENTS, KRM_PROP_CATEGORY, KRM_PROP_KEYWORDS, KRM_PROP_LAST_AUTHOR};
    const OpenSource file(dir / "full.FMT", makePropertyBlock(fullFields()));
    for (uint32_t failing = 1; failing <= 8; ++failing) {
        KRMTest_FailAt(KRM_SVC_CONV_CONVERT, failing);
        std::memset(record->bytes, 0, sizeof record->bytes);
        EXPECT_EQ(GetKRMProperty(file.handle(), 0, &srcInfo, &options, record.get(), 0, &context), 0u) << failing;
        KRMTest_ResetFailures();
        for (uint32_t i = 0; i < 8; ++i) EXPECT_EQ(slot(order[i]).empty(), i + 1 >= failing) << failing << " " << i;
    }
}


const Bytes kBodyText = body("ABC\r\n");

// The document type names the packaging in the output charset; the separated and combined variants
// fill every slot from the format block; a block marker other than 2 fails the decoder (3000, with
// what was written before the marker), and a failed conversion of the type text clears the record.
TEST_F(PropertyTest, VariantsOnFilesNameTheirTypeAndFillTheSlots) {
    PropertyFields badMarker = fullFields();
    badMarker.blockMarker = 0;
    const auto separated = [](const Bytes& block) { return block; };
    const auto combined = [](const Bytes& block) { return makeCombinedDocument(block, kBodyText); };
    const struct {
        std::function<Bytes(const Bytes&)> document;
        int32_t (*variant)(uint32_t, SrcInfo*, HostOptions*, PropertyRecord*, CallContext*);
        const std::string& type;
        const char* sjisType;
    } cases[] = {{separated, GetOasSepProperty, kSeparatedType, "OASYS2\x95\xB6\x8F\x91"},
                 {combined, GetOasCombProperty, kCombinedType, "OASYS2\x8C\x8B\x8D\x87\x95\xB6\x8F\x91"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        options = makeOptions("UTF-8");
        EXPECT_EQ(onFile(c.document(makePropertyBlock(fullFields())), c.variant), KRM_OK);
        expectSlots(with(kFullSlots, {{KRM_PROP_DOCUMENT_TYPE, c.type}}));
        EXPECT_EQ(onFile(c.document(makePropertyBlock(badMarker)), c.variant), KRM_ERR_BROKEN);
        expectSlots(with(kBeforeMarker, {{KRM_PROP_DOCUMENT_TYPE, c.type}}));
        KRMTest_FailAt(KRM_SVC_CONV_CONVERT, 1);
        EXPECT_EQ(onFile(c.document(makePropertyBlock(fullFields())), c.variant), KRM_ERR_BROKEN);
        EXPECT_TRUE(recordIsZero());
        options = makeOptions("Shift_JIS");
        EXPECT_EQ(onFile(c.document(makePropertyBlock(fullFields())), c.variant), KRM_OK);
        EXPECT_EQ(slot(KRM_PROP_DOCUMENT_TYPE), c.sjisType);
    }
}

// The combined variant walks the first part's identifiers to its first block; a wrong or missing
// identifier leaves only the document type.
TEST_F(PropertyTest, CombinedWalkToTheFormatBlock) {
    const Bytes block = makePropertyBlock(fullFields());
    const auto withFormatPart = [&](size_t directoryLength, bool withHeader) {
        const Bytes blocks = withHeader ? concat({blockHeader(static_cast<uint16_t>(block.size())), block}) : block;
        return makeCombined({{.name = "REPORT.FMT", .directoryLength = directoryLength, .blocks = blocks},
                             {.name = "REPORT.DOC", .blocks = layBlocks(kBodyText, {}, true).bytes}});
    };
    const auto damaged = [&](size_t offset) {
        Bytes file = makeCombinedDocument(block, kBodyText);
        file[offset] ^= 0x01;
        return file;
    };
    const Slots all = with(kFullSlots, {{KRM_PROP_DOCUMENT_TYPE, kCombinedType}});
    const Slots typeOnly = {{KRM_PROP_DOCUMENT_TYPE, kCombinedType}};
    const struct { const char* name; Bytes file; int32_t code; const Slots& expected; } cases[] = {
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
        EXPECT_EQ(onFile(c.file, GetOasCombProperty), c.code);
        expectSlots(c.expected);
    }
}

// The compound variant takes every slot from the summary information, none from the format
// stream; a failing SummaryInfo keeps its own code, still names the type and closes the file; a
// file that is no compound file is refused with a cleared record.
TEST_F(PropertyTest, CompoundVariantReadsTheSummaryInformation) {
    const SummaryFields summary{.title = "Annual plan", .subject = "Planning", .author = "Tanaka",
                                .keywords = "plan budget", .comments = "Draft for the board", .lastAuthor = "Sato",
                                .created = 1680674820 /* 2023-04-05 06:07 UTC */, .lastSaved = 1733003100};
    writeCompoundDocument(dir / "doc.OLE", makePropertyBlock(fullFields()), kBodyText, summary);
    EXPECT_EQ(onCompound(dir / "doc.OLE"), KRM_OK);
    expectSlots({{KRM_PROP_TITLE, "Annual plan"}, {KRM_PROP_AUTHOR, "Tanaka"}, {KRM_PROP_KEYWORDS, "plan budget"},
                 {KRM_PROP_COMMENTS, "Draft for the board"}, {KRM_PROP_CREATED, u8(u8"23年04月05日06時07分")},
                 {KRM_PROP_MODIFIED, u8(u8"24年11月30日21時45分") /* 1733003100 */}, {KRM_PROP_LAST_AUTHOR, "Sato"},
                 {KRM_PROP_DOCUMENT_TYPE, kCompoundType}});
    writeCompoundDocument(dir / "bare.OLE", makePropertyBlock(fullFields()), kBodyText);
    EXPECT_EQ(onCompound(dir / "bare.OLE"), KRM_OK);
    expectSlots({{KRM_PROP_DOCUMENT_TYPE, kCompoundType}});
    KRMTest_FailAt(KRM_SVC_CONV_CONVERT, 1);
    EXPECT_EQ(onCompound(dir / "bare.OLE"), KRM_ERR_BROKEN);
    EXPECT_TRUE(recordIsZero());

    options = makeOptions("UTF-8", KRM_OPT_LOG);
    GetLogFileName((dir / "variant").c_str(), "ve2", context.logFileName);
    const auto logged = [&](const std::filesystem::path& path, int32_t code) {
        context.logHandle = krm_logfopen(options.optionFlags, context.logFileName);
        EXPECT_EQ(onCompound(path), code);
        krm_logfclose(options.optionFlags, context.logHandle);
        return readLogLines(context.logFileName);
    };
    KRMTest_FailAt(KRM_SVC_SUMMARY_INFO, 1);
    EXPECT_TRUE(hasLine(logged(dir / "doc.OLE", KRM_ERR_BROKEN), "Close OLEfile: " + (dir / "doc.OLE").string() + "\r\n"));
    EXPECT_EQ(slot(KRM_PROP_DOCUMENT_TYPE), kCompoundType);
    writeFile(dir / "plain.OLE", makePropertyBlock(fullFields()));
    EXPECT_EQ(logged(dir / "plain.OLE", KRM_ERR_OPEN),
              std::vector<std::string>{"Open OLEfile: " + (dir / "plain.OLE").string() + "\r\n"});
    EXPECT_TRUE(recordIsZero());
}

} // namespace
} // namespace oasys_test
