// GetProperty: which file a name leads to, format codes, the log of a call, and the bounds of
// every copy into the host's record.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <string>
#include <vector>

#include "property_test_support.h"

// ---- An output charset that makes every text longer than any slot ------------------------------
// The conversion service of this test program: the host's own conversion, whose output is then
// repeated up to the destination's capacity while `expandOutput` is set. Repeating whole outputs
// keeps the character boundaries of the charset, so the host's CutStr can cut it properly.
namespace {
bool recordOutputs = false;
bool expandOutput = false;
std::vector<std::string> naturalOutputs; // each conversion's output before any repetition
} // namespace

extern "C" int32_t cconvConvert(KrmConversionContext* context) {
    using Convert = int32_t (*)(KrmConversionContext*);
    static const auto hostConvert = reinterpret_cast<Convert>(dlsym(RTLD_NEXT, "cconvConvert"));
    const int32_t result = hostConvert(context);
    KrmConversionRequest& request = context->request;
    if (result != 0 || !(recordOutputs || expandOutput)) return result;
    const std::string natural(reinterpret_cast<const char*>(request.destination), request.convertedLength);
    naturalOutputs.push_back(natural);
    if (!expandOutput || natural.empty()) return result;
    uint32_t length = 0;
    while (length + natural.size() <= request.capacity) {
        std::copy(natural.begin(), natural.end(), request.destination + length);
        length += static_cast<uint32_t>(natural.size());
    }
    request.convertedLength = length;
    return result;
}

namespace oasys_test {
namespace {

class GetPropertyTest : public PropertyTest {
protected:
    void TearDown() override {
        recordOutputs = false;
        expandOutput = false;
        naturalOutputs.clear();
        PropertyTest::TearDown();
    }
    int32_t call(const std::string& source, uint16_t formatCode) {
        const int32_t code = GetProperty(source.c_str(), &options, record.get(), &formatCode);
        expectHostCountersZero();
        return code;
    }
    // The log of a call on source, without the conversion service's own lines.
    std::vector<std::string> logOf(const std::string& source) const {
        char name[KRM_PATH_MAX];
        GetLogFileName(source.c_str(), "ve2", name);
        std::vector<std::string> lines = readLogLines(name);
        std::erase_if(lines, [](const std::string& l) { return l.starts_with("Codeconvert starting"); });
        return lines;
    }
    std::string in(const std::string& name) const { return (dir / name).string(); }
    void writeFormat(const std::string& name, const PropertyFields& fields = fullFields()) {
        writeFile(dir / name, makePropertyBlock(fields));
    }
};

const std::vector<std::string> kBanner = {"Lib krm_zori2 export function: GetProperty():\r\n",
                                          "Start operating .....\r\n",
                                          "Memory allocate for pSrcInfo: 532 bytes\r\n"};
const std::string kFreeLine = "Memory free for pSrcInfo: 532 bytes\r\n";

std::vector<std::string> joined(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// ---- File names of a separated document ---------------------------------------------------------

// Only the format file is opened, found by the first of ".DOC", ".doc", ".GRP", ".grp" in the
// path (folders included); a format name is taken as it stands; other names are refused.
TEST_F(GetPropertyTest, NameRulesOpenOnlyTheFormatFile) {
    const struct {
        const char* name;
        std::string given;                 // inside the test folder
        std::vector<std::string> existing; // format files written before the call
        int32_t code;
        std::string opened;                // the format file the call opens (empty: none)
    } cases[] = {
        {"upper doc", "report.DOC", {"report.FMT"}, KRM_OK, "report.FMT"},
        {"lower doc in a dotted folder", "old.files/report.doc", {"old.files/report.fmt"}, KRM_OK,
         "old.files/report.fmt"},
        {"upper group", "report.GRP", {"report.FMT"}, KRM_OK, "report.FMT"},
        {"upper format", "report.FMT", {"report.FMT"}, KRM_OK, "report.FMT"},
        {"doc in a folder name", "x.DOCS/report.FMT", {"x.DOCS/report.FMT", "x.FMT"}, KRM_OK, "x.FMT"},
        // When several texts stand in the path, the order of the search decides, not their place.
        {"doc before group", "a.GRP.DOC", {"a.GRP.FMT", "a.FMT"}, KRM_OK, "a.GRP.FMT"},
        {"upper group before lower group", "c.grp.GRP", {"c.grp.FMT", "c.fmt"}, KRM_OK, "c.grp.FMT"},
        {"mixed case", "report.Doc", {"report.FMT", "report.fmt"}, KRM_ERR_UNSUPPORTED, ""},
        {"other extension", "report.txt", {"report.FMT"}, KRM_ERR_UNSUPPORTED, ""},
        {"body without its format file", "report.DOC", {"report.DOC"}, KRM_ERR_OPEN, ""},
    };
    options.optionFlags = KRM_OPT_LOG;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(dir.path());
        std::filesystem::create_directories(dir / "old.files");
        std::filesystem::create_directories(dir / "x.DOCS");
        for (const std::string& f : c.existing) writeFormat(f);
        std::memset(record->bytes, 0xEE, sizeof record->bytes);

        EXPECT_EQ(call(in(c.given), KRM_FORMAT_SEPARATED), c.code);
        const auto lines = logOf(in(c.given));
        const auto opened = std::find_if(lines.begin(), lines.end(), [](const auto& l) { return l.starts_with("Open Appfile: "); });
        if (c.opened.empty()) {
            EXPECT_EQ(lines, joined({kBanner, {kFreeLine}}));
        } else {
            ASSERT_NE(opened, lines.end());
            EXPECT_EQ(*opened, "Open Appfile: " + in(c.opened) + "\r\n");
            EXPECT_NE(std::find(lines.begin(), lines.end(), "Close Appfile: " + in(c.opened) + "\r\n"), lines.end());
            EXPECT_EQ(slot(KRM_PROP_TITLE), "Quarterly report");
        }
    }
}

// Nothing left before the extension: refused with 22 before any file is opened, even when the
// bare format name exists in the working folder.
TEST_F(GetPropertyTest, ExtensionAloneIsRefused) {
    writeFormat(".FMT");
    writeFormat(".fmt");
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const int32_t upper = call(".DOC", KRM_FORMAT_SEPARATED);
    const int32_t lower = call(".grp", KRM_FORMAT_SEPARATED);
    const int32_t formatItself = call(".FMT", KRM_FORMAT_SEPARATED);
    std::filesystem::current_path(previous);
    EXPECT_EQ(upper, KRM_ERR_OPEN);
    EXPECT_EQ(lower, KRM_ERR_OPEN);
    EXPECT_EQ(formatItself, KRM_OK) << "a format name is taken as it stands";
}

// Fault guarded: paths live in 1024-byte buffers. A path that fills them with its NUL works, a
// longer one is refused with 22 even when the file exists, and no buffer is overrun (the
// sanitizer run shows it).
TEST_F(GetPropertyTest, PathLengthAtTheBufferSize) {
    const size_t folderLength = 1023 - in("").size() - std::string("/r.FMT").size();
    // Folders of at most 200 characters each (a name may not pass 255), none of them empty.
    std::string relative;
    while (relative.size() < folderLength) {
        if (!relative.empty()) relative += '/';
        const size_t left = folderLength - relative.size();
        size_t part = std::min<size_t>(200, left);
        if (left - part == 1) --part;
        relative += std::string(part, 'f');
    }
    std::filesystem::create_directories(dir / relative);
    std::filesystem::create_directories(dir / (relative + "g"));
    writeFormat(relative + "/r.FMT");
    writeFormat(relative + "g/r.FMT");
    const std::string fits = in(relative + "/r.FMT");
    const std::string tooLong = in(relative + "g/r.FMT");
    ASSERT_EQ(fits.size(), 1023u);
    ASSERT_EQ(tooLong.size(), 1024u);
    EXPECT_EQ(call(fits, KRM_FORMAT_SEPARATED), KRM_OK);
    EXPECT_EQ(call(tooLong, KRM_FORMAT_SEPARATED), KRM_ERR_OPEN);
    EXPECT_EQ(call(tooLong + std::string(3000, 'x') + ".DOC", KRM_FORMAT_SEPARATED), KRM_ERR_OPEN);
}

// ---- Refusals and failures ----------------------------------------------------------------------

TEST_F(GetPropertyTest, FormatCodesJustOutsideTheRangeAreRefused) {
    writeFormat("report.FMT");
    options.optionFlags = KRM_OPT_LOG;
    for (uint16_t code : {uint16_t{9999}, uint16_t{10003}}) {
        EXPECT_EQ(call(in("report.FMT"), code), KRM_ERR_UNSUPPORTED) << code;
        EXPECT_EQ(logOf(in("report.FMT")), joined({kBanner, {kFreeLine}})) << code;
        EXPECT_EQ(record->bytes[0], 0xEE) << "the record is not touched";
    }
}

// Fault guarded: a host that passes a null argument gets a refusal, not a crash; nothing is opened.
TEST_F(GetPropertyTest, NullArgumentsAreRefused) {
    const uint16_t code = KRM_FORMAT_SEPARATED;
    const std::string source = in("report.FMT");
    writeFormat("report.FMT");
    EXPECT_EQ(GetProperty(nullptr, &options, record.get(), &code), KRM_ERR_UNSUPPORTED);
    EXPECT_EQ(GetProperty(source.c_str(), nullptr, record.get(), &code), KRM_ERR_UNSUPPORTED);
    EXPECT_EQ(GetProperty(source.c_str(), &options, nullptr, &code), KRM_ERR_UNSUPPORTED);
    EXPECT_EQ(GetProperty(source.c_str(), &options, record.get(), nullptr), KRM_ERR_UNSUPPORTED);
    expectHostCountersZero();
}

TEST_F(GetPropertyTest, NoMemoryForSrcInfo) {
    writeFormat("report.FMT");
    KRMTest_FailAt(KRM_SVC_MALLOC, 1);
    EXPECT_EQ(call(in("report.FMT"), KRM_FORMAT_SEPARATED), KRM_ERR_NO_MEMORY);
}

// ---- Log of a successful call -------------------------------------------------------------------

TEST_F(GetPropertyTest, SuccessLogOrder) {
    // Converted lengths of the fields of fullFields() in UTF-8, in decoding order: title, created,
    // modified, author, comments, category, keywords, last author.
    std::vector<std::string> decoder = {"GetKRMProperty() starting\r\n"};
    for (int length : {16, 25, 25, 6, 29, 7, 11, 6})
        decoder.push_back("Codeconvert end , get dstBuff( " + std::to_string(length) + " bytes )\r\n");
    decoder.push_back("GetKRMProperty() end\r\n");
    auto typeLine = [](int length) { return "Codeconvert end , get dstBuff( " + std::to_string(length) + " bytes )\r\n"; };
    const std::string doc = in("report.DOC"), fmt = in("report.FMT"), oas = in("report.OAS"), ole = in("report.OLE");
    writeFormat("report.FMT");
    writeFile(oas, makeCombinedDocument(makePropertyBlock(fullFields()), bytes("A\x1A")));
    writeCompoundDocument(ole, makePropertyBlock(fullFields()), bytes("A\x1A"));
    const struct {
        const char* name;
        std::string source;
        uint16_t code;
        std::vector<std::string> lines; // between the banner and the success line
    } cases[] = {
        {"separated", doc, KRM_FORMAT_SEPARATED,
         joined({{"Open Appfile: " + fmt + "\r\n", "GetOasSepProperty() starting\r\n", typeLine(12)},
                 decoder,
                 {"GetOasSepProperty() end\r\n", kFreeLine, "Close Appfile: " + fmt + "\r\n"}})},
        {"combined", oas, KRM_FORMAT_COMBINED,
         joined({{"Open Appfile: " + oas + "\r\n", "GetOasCombProperty() starting\r\n", typeLine(18)},
                 decoder,
                 {"GetOasCpmbProperty() end\r\n", kFreeLine, "Close Appfile: " + oas + "\r\n"}})},
        {"compound", ole, KRM_FORMAT_COMPOUND,
         {"GetOasCompProperty() starting\r\n", "Open OLEfile: " + ole + "\r\n", "SummaryInfo() starting\r\n",
          "SummaryInfo() end\r\n", typeLine(18), "Open stream: OasysStreamFileList\r\n",
          "Close OLEfile: " + ole + "\r\n", "GetOasCompProperty() end\r\n", kFreeLine}},
    };
    options.optionFlags = KRM_OPT_LOG;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(call(c.source, c.code), KRM_OK);
        EXPECT_EQ(logOf(c.source), joined({kBanner, c.lines, {"GetProperty() end successfully:\r\n"}}));
    }
    // A failing variant ends its log with the clean-up lines, without the success line.
    PropertyFields badMarker = fullFields();
    badMarker.blockMarker = 0;
    writeFormat("report.FMT", badMarker);
    EXPECT_EQ(call(fmt, KRM_FORMAT_SEPARATED), KRM_ERR_BROKEN);
    const auto lines = logOf(fmt);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
              (std::vector<std::string>{kFreeLine, "Close Appfile: " + fmt + "\r\n"}));
}

// ---- Copies into the record stay inside each slot's room --------------------------------------------

// Fault guarded: every copy into the host's record is bounded by its slot. Slots in the order the
// separated variant converts them, with the room up to the next slot (or the record's end) less
// the byte that keeps the text terminated.
TEST_F(GetPropertyTest, SlotCopiesStayInsideTheirRoom) {
    const struct {
        uint32_t slot;
        uint32_t room;
    } order[] = {{KRM_PROP_DOCUMENT_TYPE, 255}, {KRM_PROP_TITLE, 1027},    {KRM_PROP_CREATED, 255},
                 {KRM_PROP_MODIFIED, 7219},     {KRM_PROP_AUTHOR, 1027},   {KRM_PROP_COMMENTS, 4111},
                 {KRM_PROP_CATEGORY, 1027},     {KRM_PROP_KEYWORDS, 1027}, {KRM_PROP_LAST_AUTHOR, 11007}};
    // Every text field filled to its size, ten full keyword entries.
    PropertyFields longFields = fullFields();
    longFields.title = std::string(50, 'T');
    longFields.author = std::string(30, 'A');
    longFields.comments = std::string(80, 'C');
    longFields.category = std::string(16, 'K');
    longFields.lastAuthor = std::string(30, 'L');
    for (size_t k = 0; k < 10; ++k) longFields.keywords[k] = std::string(20, static_cast<char>('a' + k));
    writeFormat("long.FMT", longFields);

    for (const auto& [charset, unit] : {std::pair{"UTF-16LE", 2u}, std::pair{"UTF-32", 4u}}) {
        SCOPED_TRACE(charset);
        options = makeOptions(charset);
        // Without expansion every long field arrives whole and terminated.
        naturalOutputs.clear();
        recordOutputs = true;
        ASSERT_EQ(call(in("long.FMT"), KRM_FORMAT_SEPARATED), KRM_OK);
        recordOutputs = false;
        ASSERT_EQ(naturalOutputs.size(), std::size(order));
        const std::vector<std::string> natural = naturalOutputs;
        for (size_t i = 0; i < std::size(order); ++i) {
            const auto [s, room] = order[i];
            ASSERT_LE(natural[i].size(), room) << "slot " << s;
            EXPECT_EQ(slotBytes(s, natural[i].size() + 1), natural[i] + '\0') << "slot " << s;
        }
        // An output longer than the room is cut on a character boundary within it; the rest of
        // the room, the next slot and everything after the record stay untouched.
        expandOutput = true;
        ASSERT_EQ(call(in("long.FMT"), KRM_FORMAT_SEPARATED), KRM_OK);
        for (size_t i = 0; i < std::size(order); ++i) {
            const auto [s, room] = order[i];
            std::string repeated;
            while (repeated.size() < room) repeated += natural[i];
            const size_t kept = room / unit * unit;
            EXPECT_EQ(slotBytes(s, kept), repeated.substr(0, kept)) << "slot " << s;
            EXPECT_EQ(slotBytes(s + kept, room + 1 - kept), std::string(room + 1 - kept, '\0')) << "slot " << s;
        }
        // A cut the host cannot make within the room is a failure, never an overlong copy.
        KRMTest_FailAt(KRM_SVC_CUTSTR, 1);
        EXPECT_EQ(call(in("long.FMT"), KRM_FORMAT_SEPARATED), KRM_ERR_BROKEN);
        KRMTest_ResetFailures();
        expandOutput = false;
        EXPECT_TRUE(recordIsZero());
    }
}

} // namespace
} // namespace oasys_test
