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
    void writeFormat(const std::string& name) { writeFile(dir / name, makePropertyBlock(fullFields())); }
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

struct NameCase {
    const char* name;
    std::string given;                 // inside the test folder
    std::vector<std::string> existing; // files written (format blocks) before the call
    int32_t expectedCode;
    std::string opened;                // the format file the call opens (empty: none)
};

const NameCase kNameCases[] = {
    {"UpperDoc", "report.DOC", {"report.FMT"}, KRM_OK, "report.FMT"},
    {"LowerDocInDottedFolder", "old.files/report.doc", {"old.files/report.fmt"}, KRM_OK, "old.files/report.fmt"},
    {"UpperGroup", "report.GRP", {"report.FMT"}, KRM_OK, "report.FMT"},
    {"LowerGroup", "report.grp", {"report.fmt"}, KRM_OK, "report.fmt"},
    {"UpperFormat", "report.FMT", {"report.FMT"}, KRM_OK, "report.FMT"},
    {"LowerFormat", "report.fmt", {"report.fmt"}, KRM_OK, "report.fmt"},
    // ".DOC" is searched first and anywhere in the path, folders included.
    {"DocInFolderName", "x.DOCS/report.FMT", {"x.DOCS/report.FMT", "x.FMT"}, KRM_OK, "x.FMT"},
    // When several texts stand in the path, the order of the search decides, not their place.
    {"DocBeforeGroup", "a.GRP.DOC", {"a.GRP.FMT", "a.FMT"}, KRM_OK, "a.GRP.FMT"},
    {"UpperDocBeforeLowerDoc", "a.doc.DOC", {"a.doc.FMT", "a.fmt"}, KRM_OK, "a.doc.FMT"},
    {"LowerDocBeforeGroup", "b.GRP.doc", {"b.GRP.fmt", "b.FMT"}, KRM_OK, "b.GRP.fmt"},
    {"UpperGroupBeforeLowerGroup", "c.grp.GRP", {"c.grp.FMT", "c.fmt"}, KRM_OK, "c.grp.FMT"},
    {"GroupBeforeFormat", "d.FMT.grp", {"d.FMT.fmt", "d.FMT"}, KRM_OK, "d.FMT.fmt"},
    {"MixedCase", "report.Doc", {"report.FMT", "report.fmt"}, KRM_ERR_UNSUPPORTED, ""},
    {"OtherExtension", "report.txt", {"report.FMT"}, KRM_ERR_UNSUPPORTED, ""},
    {"BodyWithoutFormatFile", "report.DOC", {"report.DOC"}, KRM_ERR_OPEN, ""},
};

class NameRules : public GetPropertyTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(NameRules, OpenOnlyTheFormatFile) {
    const NameCase& c = GetParam();
    std::filesystem::create_directories(dir / "old.files");
    std::filesystem::create_directories(dir / "x.DOCS");
    for (const std::string& f : c.existing) writeFormat(f);
    options.optionFlags = KRM_OPT_LOG;

    EXPECT_EQ(call(in(c.given), KRM_FORMAT_SEPARATED), c.expectedCode);

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

INSTANTIATE_TEST_SUITE_P(Names, NameRules, ::testing::ValuesIn(kNameCases),
                         [](const auto& info) { return std::string(info.param.name); });

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

// Paths live in 1024-byte buffers: a path that fills them with its NUL works, a longer one is
// refused with 22 even when the file exists, and no buffer is overrun (the sanitizer run shows it).
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
    const std::string fits = in(relative + "/r.FMT");
    ASSERT_EQ(fits.size(), 1023u);
    writeFile(fits, makePropertyBlock(fullFields()));
    EXPECT_EQ(call(fits, KRM_FORMAT_SEPARATED), KRM_OK);

    std::filesystem::create_directories(dir / (relative + "g"));
    const std::string tooLong = in(relative + "g/r.FMT");
    ASSERT_EQ(tooLong.size(), 1024u);
    writeFile(tooLong, makePropertyBlock(fullFields()));
    EXPECT_EQ(call(tooLong, KRM_FORMAT_SEPARATED), KRM_ERR_OPEN);
    EXPECT_EQ(call(tooLong + std::string(3000, 'x') + ".DOC", KRM_FORMAT_SEPARATED), KRM_ERR_OPEN);
}

// ---- Format codes -------------------------------------------------------------------------------

class FormatCodes : public GetPropertyTest, public ::testing::WithParamInterface<uint16_t> {};

TEST_P(FormatCodes, OutsideTheRangeAreRefused) {
    writeFormat("report.FMT");
    options.optionFlags = KRM_OPT_LOG;
    EXPECT_EQ(call(in("report.FMT"), GetParam()), KRM_ERR_UNSUPPORTED);
    EXPECT_EQ(logOf(in("report.FMT")), joined({kBanner, {kFreeLine}}));
    EXPECT_EQ(record->bytes[0], 0xEE) << "the record is not touched";
}

INSTANTIATE_TEST_SUITE_P(JustOutside, FormatCodes, ::testing::Values(9999, 10003, 0, 65535));

TEST_F(GetPropertyTest, MissingCombinedOrCompoundFile) {
    options.optionFlags = KRM_OPT_LOG;
    EXPECT_EQ(call(in("none.OAS"), KRM_FORMAT_COMBINED), KRM_ERR_OPEN);
    EXPECT_EQ(logOf(in("none.OAS")), joined({kBanner, {kFreeLine}}));

    EXPECT_EQ(call(in("none.OLE"), KRM_FORMAT_COMPOUND), KRM_ERR_OPEN);
    EXPECT_EQ(logOf(in("none.OLE")),
              joined({kBanner,
                      {"GetOasCompProperty() starting\r\n", "Open OLEfile: " + in("none.OLE") + "\r\n",
                       "GetOasCompProperty() end\r\n", kFreeLine}}));
}

// A host that passes a null argument gets a refusal, not a crash; nothing is opened.
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

// Converted lengths of the fields of fullFields() in UTF-8, in decoding order.
const std::vector<std::string> kDecoderLines = {
    "GetKRMProperty() starting\r\n",
    "Codeconvert end , get dstBuff( 16 bytes )\r\n", // title
    "Codeconvert end , get dstBuff( 25 bytes )\r\n", // created
    "Codeconvert end , get dstBuff( 25 bytes )\r\n", // modified
    "Codeconvert end , get dstBuff( 6 bytes )\r\n",  // author
    "Codeconvert end , get dstBuff( 29 bytes )\r\n", // comments
    "Codeconvert end , get dstBuff( 7 bytes )\r\n",  // category
    "Codeconvert end , get dstBuff( 11 bytes )\r\n", // keywords
    "Codeconvert end , get dstBuff( 6 bytes )\r\n",  // last author
    "GetKRMProperty() end\r\n"};

TEST_F(GetPropertyTest, SeparatedLogOrder) {
    writeFormat("report.FMT");
    options.optionFlags = KRM_OPT_LOG;
    ASSERT_EQ(call(in("report.DOC"), KRM_FORMAT_SEPARATED), KRM_OK);
    const std::string fmt = in("report.FMT");
    EXPECT_EQ(logOf(in("report.DOC")),
              joined({kBanner,
                      {"Open Appfile: " + fmt + "\r\n", "GetOasSepProperty() starting\r\n",
                       "Codeconvert end , get dstBuff( 12 bytes )\r\n"},
                      kDecoderLines,
                      {"GetOasSepProperty() end\r\n", kFreeLine, "Close Appfile: " + fmt + "\r\n",
                       "GetProperty() end successfully:\r\n"}}));
}

TEST_F(GetPropertyTest, CombinedLogOrder) {
    writeFile(dir / "report.OAS", makeCombinedDocument(makePropertyBlock(fullFields()), bytes("A\x1A")));
    options.optionFlags = KRM_OPT_LOG;
    const std::string source = in("report.OAS");
    ASSERT_EQ(call(source, KRM_FORMAT_COMBINED), KRM_OK);
    EXPECT_EQ(logOf(source),
              joined({kBanner,
                      {"Open Appfile: " + source + "\r\n", "GetOasCombProperty() starting\r\n",
                       "Codeconvert end , get dstBuff( 18 bytes )\r\n"},
                      kDecoderLines,
                      {"GetOasCpmbProperty() end\r\n", kFreeLine, "Close Appfile: " + source + "\r\n",
                       "GetProperty() end successfully:\r\n"}}));
}

TEST_F(GetPropertyTest, CompoundLogOrder) {
    writeCompoundDocument(dir / "report.OLE", makePropertyBlock(fullFields()), bytes("A\x1A"));
    options.optionFlags = KRM_OPT_LOG;
    const std::string source = in("report.OLE");
    ASSERT_EQ(call(source, KRM_FORMAT_COMPOUND), KRM_OK);
    EXPECT_EQ(logOf(source),
              joined({kBanner,
                      {"GetOasCompProperty() starting\r\n", "Open OLEfile: " + source + "\r\n",
                       "SummaryInfo() starting\r\n", "SummaryInfo() end\r\n",
                       "Codeconvert end , get dstBuff( 18 bytes )\r\n", "Open stream: OasysStreamFileList\r\n",
                       "Close OLEfile: " + source + "\r\n", "GetOasCompProperty() end\r\n", kFreeLine,
                       "GetProperty() end successfully:\r\n"}}));
}

// A failing variant: its code, the clean-up lines, no success line.
TEST_F(GetPropertyTest, FailingVariantLogsNoSuccess) {
    PropertyFields fields = fullFields();
    fields.blockMarker = 0;
    writeFile(dir / "report.FMT", makePropertyBlock(fields));
    options.optionFlags = KRM_OPT_LOG;
    EXPECT_EQ(call(in("report.FMT"), KRM_FORMAT_SEPARATED), KRM_ERR_BROKEN);
    const auto lines = logOf(in("report.FMT"));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], kFreeLine);
    EXPECT_EQ(lines.back(), "Close Appfile: " + in("report.FMT") + "\r\n");
}

// ---- Copies into the record stay inside each slot's room --------------------------------------------

// Slots in the order the separated variant converts them, with the room up to the next slot
// (or the record's end) less the byte that keeps the text terminated.
struct SlotRoom {
    uint32_t slot;
    uint32_t room;
};
const SlotRoom kConversionOrder[] = {
    {KRM_PROP_DOCUMENT_TYPE, 255}, {KRM_PROP_TITLE, 1027},    {KRM_PROP_CREATED, 255},
    {KRM_PROP_MODIFIED, 7219},     {KRM_PROP_AUTHOR, 1027},   {KRM_PROP_COMMENTS, 4111},
    {KRM_PROP_CATEGORY, 1027},     {KRM_PROP_KEYWORDS, 1027}, {KRM_PROP_LAST_AUTHOR, 11007}};

struct WideCase {
    const char* name;
    const char* charset;
    uint32_t unit; // bytes of one character of the charset (for these texts)
};
const WideCase kWideCases[] = {{"Utf16LE", "UTF-16LE", 2}, {"Utf32", "UTF-32", 4}};

// Long fields: every text field filled to its size, ten full keyword entries.
PropertyFields longFields() {
    PropertyFields f = fullFields();
    f.title = std::string(50, 'T');
    f.author = std::string(30, 'A');
    f.comments = std::string(80, 'C');
    f.category = std::string(16, 'K');
    f.lastAuthor = std::string(30, 'L');
    for (size_t k = 0; k < f.keywords.size(); ++k) f.keywords[k] = std::string(20, static_cast<char>('a' + k));
    return f;
}

class WideOutput : public GetPropertyTest, public ::testing::WithParamInterface<WideCase> {
protected:
    void SetUp() override {
        GetPropertyTest::SetUp();
        options = makeOptions(GetParam().charset);
        writeFile(dir / "long.FMT", makePropertyBlock(longFields()));
    }
};

// Without expansion every long field fits its slot whole.
TEST_P(WideOutput, LongFieldsArriveWhole) {
    recordOutputs = true;
    ASSERT_EQ(call(in("long.FMT"), KRM_FORMAT_SEPARATED), KRM_OK);
    ASSERT_EQ(naturalOutputs.size(), std::size(kConversionOrder));
    for (size_t i = 0; i < std::size(kConversionOrder); ++i) {
        const auto [s, room] = kConversionOrder[i];
        const std::string& natural = naturalOutputs[i];
        ASSERT_LE(natural.size(), room) << "slot " << s;
        EXPECT_EQ(slotBytes(s, natural.size()), natural) << "slot " << s;
        EXPECT_EQ(record->bytes[s + natural.size()], 0) << "slot " << s;
    }
}

// An output longer than the room is cut on a character boundary within it; the rest of the room,
// the next slot and everything after the record stay untouched.
TEST_P(WideOutput, ExpandedTextsAreCutToTheirRoom) {
    expandOutput = true;
    ASSERT_EQ(call(in("long.FMT"), KRM_FORMAT_SEPARATED), KRM_OK);
    ASSERT_EQ(naturalOutputs.size(), std::size(kConversionOrder));
    const uint32_t unit = GetParam().unit;
    for (size_t i = 0; i < std::size(kConversionOrder); ++i) {
        const auto [s, room] = kConversionOrder[i];
        std::string repeated;
        while (repeated.size() < room) repeated += naturalOutputs[i];
        const size_t kept = room / unit * unit;
        EXPECT_EQ(slotBytes(s, kept), repeated.substr(0, kept)) << "slot " << s;
        EXPECT_EQ(slotBytes(s + kept, room + 1 - kept), std::string(room + 1 - kept, '\0')) << "slot " << s;
    }
}

// A cut the host cannot make within the room is a failure, never an overlong copy.
TEST_P(WideOutput, FailedCutIsBroken) {
    expandOutput = true;
    KRMTest_FailAt(KRM_SVC_CUTSTR, 1);
    EXPECT_EQ(call(in("long.FMT"), KRM_FORMAT_SEPARATED), KRM_ERR_BROKEN);
    EXPECT_TRUE(std::all_of(record->bytes, record->bytes + KRM_PROPERTY_RECORD_SIZE, [](uint8_t b) { return b == 0; }));
}

INSTANTIATE_TEST_SUITE_P(Charsets, WideOutput, ::testing::ValuesIn(kWideCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace oasys_test
