// The entry points as a host calls them: return codes with the fate of the output, arguments the
// filter cannot work with; and the table of golden logs (golden_logs.txt) of the entries, readers
// and decoder paths.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>

#include "filter_harness.h"

using namespace oasys_test;
namespace fs = std::filesystem;

namespace {

constexpr uint16_t kSeparated = KRM_FORMAT_SEPARATED, kCombined = KRM_FORMAT_COMBINED, kCompound = KRM_FORMAT_COMPOUND;
constexpr uint16_t kUnknownFormat = 4711;
const std::string kVisibleText = "ABC\r\n";

enum class Doc {
    Visible, Empty, NoText, Unended, Long, Password, BodyMissing, FormatMissing, MixedCase,
    PathFits, PathTooLong, Combined, CombinedMissing, Compound, CompoundNoText, NotCompound,
};

// A source path of exactly `length` characters below dir (the name derived from it may not fit).
fs::path pathOfLength(const fs::path& dir, size_t length) {
    return dir / (std::string(length - dir.string().size() - 1 - 4, 'x') + ".FMT");
}

// The document made in dir; the path handed to the entry is returned.
fs::path makeSource(Doc doc, const fs::path& dir) {
    const Bytes visible = body(kVisibleText);
    const auto separated = [&](const Bytes& bodyBytes, uint16_t flagWord = 0) {
        writeSeparated(dir / "a", bodyBytes, formatBlock(flagWord));
        return dir / "a.FMT";
    };
    const auto single = [&](const char* name, const Bytes& content) {
        writeFile(dir / name, content);
        return dir / name;
    };
    switch (doc) {
    case Doc::Visible: return separated(visible);
    case Doc::Empty: return separated({});
    case Doc::NoText: return separated(endOfText());
    case Doc::Unended: return separated(bytes("ABC\r\nDEF"));
    case Doc::Long: return separated(body("ABCDEFGH\r\nIJKLMNOP\r\n"));
    case Doc::Password: return separated(visible, 0x0008);
    case Doc::BodyMissing: return single("a.FMT", formatBlock());
    case Doc::FormatMissing: return single("a.DOC", visible);
    case Doc::MixedCase: single("a.Fmt", formatBlock()); return single("a.Doc", visible);
    case Doc::PathFits: return pathOfLength(dir, 1019);    // with ".DOC" the name still fits 1024
    case Doc::PathTooLong: return pathOfLength(dir, 1020); // room for the extension is missing
    case Doc::Combined: return single("a.oas", makeCombinedDocument(formatBlock(), visible));
    case Doc::CombinedMissing: return dir / "none.oas";
    case Doc::Compound: writeCompoundDocument(dir / "a.ole", formatBlock(), visible); return dir / "a.ole";
    case Doc::CompoundNoText: writeCompoundDocument(dir / "a.ole", formatBlock(), endOfText()); return dir / "a.ole";
    case Doc::NotCompound: return single("a.ole", visible);
    }
    return {};
}

// Host failures, each at the call where it hits the same step in either entry. The file entry opens
// the output, the body and the format file, and closes them in that order; the stream entry has no
// output file.
enum class Fault { None, Alloc, OutputFolderMissing, OutputClose, BodyClose, FormatClose, Write, Convert };

void armFault(Fault fault, bool fileEntry) {
    switch (fault) {
    case Fault::None: case Fault::OutputFolderMissing: break;
    case Fault::Alloc: KRMTest_FailAt(KRM_SVC_MALLOC, 1); break;
    case Fault::OutputClose: KRMTest_FailAt(KRM_SVC_FILE_CLOSE, 1); break;
    case Fault::BodyClose: KRMTest_FailAt(KRM_SVC_FILE_CLOSE, fileEntry ? 2 : 1); break;
    case Fault::FormatClose: KRMTest_FailAt(KRM_SVC_FILE_CLOSE, fileEntry ? 3 : 2); break;
    case Fault::Write: KRMTest_FailAt(fileEntry ? KRM_SVC_FILE_WRITE : KRM_SVC_WRITE_STREAM, 1); break;
    case Fault::Convert: KRMTest_FailAt(KRM_SVC_CONV_CONVERT, 1); break;
    }
}

FilterRun extract(Entry entry, const fs::path& source, const fs::path& output, uint16_t formatCode, Fault fault,
                  uint32_t limit = 0) {
    armFault(fault, entry != Entry::Stream);
    return callEntry(entry, source, output, formatCode,
                     makeOptions("UTF-8", KRM_OPT_LOG | (limit != 0 ? KRM_OPT_SIZE_LIMIT : 0), limit));
}

const std::string kDecoderStart = "GetTextContent() starting\r\n", kSuccessLine = "GetText() end successfully\r\n";

class TextEntry : public HostCheckedTest {};


constexpr int32_t kFileOnly = -1; // the case has no counterpart in the stream entry
enum class Written { Text, Nothing, Some }; // the stream's content afterwards

struct CodeCase {
    const char* name; Doc doc; uint16_t formatCode; Fault fault; int32_t fileCode; bool outputStays;
    int32_t streamCode; Written written; bool decoderCalled; uint32_t limit = 0;
};

// Password, missing text, a broken body and failed writes all reach the stream's host as "no text".
constexpr int32_t OK = KRM_OK, OPEN = KRM_ERR_OPEN, BROKEN = KRM_ERR_BROKEN, UNSUPPORTED = KRM_ERR_UNSUPPORTED,
                  NO_TEXT = KRM_ERR_NO_TEXT;
using enum Doc;
using enum Fault;
using enum Written;
const CodeCase kCodeCases[] = {
    {"success", Visible, kSeparated, None, OK, true, OK, Text, true},
    {"empty body", Empty, kSeparated, None, OK, false, OK, Nothing, false},
    {"SrcInfo allocation fails", Visible, kSeparated, Alloc, KRM_ERR_NO_MEMORY, false, KRM_ERR_NO_MEMORY, Nothing, false},
    {"output folder missing", Visible, kSeparated, OutputFolderMissing, OPEN, false, kFileOnly, Nothing, false},
    {"body file missing", BodyMissing, kSeparated, None, OPEN, false, OPEN, Nothing, false},
    {"format file missing", FormatMissing, kSeparated, None, OPEN, false, OPEN, Nothing, false},
    {"output close fails", Visible, kSeparated, OutputClose, BROKEN, true, kFileOnly, Nothing, true},
    {"body close fails", Visible, kSeparated, BodyClose, BROKEN, false, BROKEN, Text, true},
    {"format close fails", Visible, kSeparated, FormatClose, BROKEN, false, BROKEN, Text, true},
    {"password flag", Password, kSeparated, None, KRM_ERR_PASSWORD, false, NO_TEXT, Nothing, false},
    {"unknown format code", Visible, kUnknownFormat, None, UNSUPPORTED, false, UNSUPPORTED, Nothing, false},
    {"unknown format code, close fails", Visible, kUnknownFormat, OutputClose, BROKEN, true, kFileOnly, Nothing, false},
    {"mixed-case name", MixedCase, kSeparated, None, UNSUPPORTED, false, UNSUPPORTED, Nothing, false},
    {"longest source path", PathFits, kSeparated, None, OPEN, false, OPEN, Nothing, false},
    {"source path one too long", PathTooLong, kSeparated, None, UNSUPPORTED, false, UNSUPPORTED, Nothing, false},
    {"no visible text", NoText, kSeparated, None, NO_TEXT, false, NO_TEXT, Nothing, true},
    {"body without end byte", Unended, kSeparated, None, BROKEN, false, NO_TEXT, Text, true},
    {"write fails", Visible, kSeparated, Write, KRM_ERR_WRITE, false, NO_TEXT, Nothing, true},
    {"output limit reached", Long, kSeparated, None, KRM_ERR_OUTPUT_LIMIT, true, KRM_ERR_OUTPUT_LIMIT, Some, true, 12},
    {"combined document missing", CombinedMissing, kCombined, None, OPEN, false, OPEN, Nothing, false},
    {"not a compound file", NotCompound, kCompound, None, OPEN, false, OPEN, Nothing, false},
    {"compound document without text", CompoundNoText, kCompound, None, NO_TEXT, false, NO_TEXT, Nothing, true},
};

TEST_F(TextEntry, ReturnCodesAndWhatIsLeftInTheOutput) {
    for (const CodeCase& c : kCodeCases) {
        for (const Entry entry : {Entry::File, Entry::Stream}) {
            if (entry == Entry::Stream && c.streamCode == kFileOnly) continue;
            SCOPED_TRACE(testing::Message() << c.name << (entry == Entry::File ? " (file)" : " (stream)"));
            TempDir dir;
            const fs::path output = dir / (c.fault == Fault::OutputFolderMissing ? "missing/out.txt" : "out.txt");
            const FilterRun call = extract(entry, makeSource(c.doc, dir.path()), output, c.formatCode, c.fault, c.limit);
            expectHostCountersZero();
            if (entry == Entry::File) {
                EXPECT_EQ(call.code, c.fileCode);
                EXPECT_EQ(call.outputExists, c.outputStays);
                if (c.fileCode == KRM_OK && c.outputStays) { EXPECT_EQ(call.text, kVisibleText); }
            } else {
                EXPECT_EQ(call.code, c.streamCode);
                if (c.written != Written::Some) { EXPECT_EQ(call.text, c.written == Written::Text ? kVisibleText : ""); }
                EXPECT_FALSE(fs::exists(output)) << "no output file beside the source";
            }
            if (c.limit != 0) { // the text up to the limit
                EXPECT_FALSE(call.text.empty());
                EXPECT_LE(call.text.size(), c.limit);
            }
            EXPECT_EQ(hasLine(call.log, kDecoderStart), c.decoderCalled);
            EXPECT_EQ(hasLine(call.log, kSuccessLine), call.code == KRM_OK) << "only success is logged as such";
        }
    }
}


// Without a source, an output, options or a format code there is nothing to work on: nothing is
// opened or written.
TEST_F(TextEntry, MissingArguments) {
    TempDir dir;
    const std::string source = makeSource(Doc::Visible, dir.path()).string(), output = (dir / "out.txt").string();
    HostOptions options = makeOptions("UTF-8", KRM_OPT_LOG);
    const uint16_t format = kSeparated;
    const uint32_t stream = KRM_StreamCreateMemory();
    for (int missing = 0; missing < 4; ++missing) { // source, output, options, format code
        const auto unless = [&](int which, auto* given) { return missing == which ? nullptr : given; };
        EXPECT_EQ(GetTextWithErrCallback(unless(0, source.c_str()), unless(1, output.c_str()), unless(2, &options),
                                         unless(3, &format), 0), KRM_ERR_UNSUPPORTED) << missing;
        if (missing != 1) {
            EXPECT_EQ(GetTextStreamWithErrCallback(unless(0, source.c_str()), stream, unless(2, &options), unless(3, &format), 0),
                      KRM_ERR_UNSUPPORTED) << missing;
        }
        EXPECT_EQ(KRMTest_Counters().openFiles + KRMTest_Counters().openLogs + KRMTest_Counters().outstandingBlocks, 0);
    }
    EXPECT_FALSE(fs::exists(output));
    KRM_StreamRelease(stream);
    EXPECT_FALSE(fs::exists(source + ".ve2.log"));
}


// Each row makes its run in a fresh folder; the log must equal the text of the same name in
// golden_logs.txt, with the folder written "$DIR" and the "\r\n" of each line left out. Running
// the test with KRM_WRITE_GOLDEN_LOGS=<file> writes the logs found instead (to look them over).
const fs::path kGoldenFile = fs::path(__FILE__).parent_path() / "golden_logs.txt";
using Maker = std::function<FilterRun(const fs::path& dir)>;

Maker entry(Entry kind, Doc doc, uint16_t formatCode, Fault fault = Fault::None) {
    return [=](const fs::path& dir) {
        const fs::path source = makeSource(doc, dir);
        if (kind == Entry::Properties) armFault(fault, true);
        return kind == Entry::Properties ? callEntry(kind, source, {}, formatCode, makeOptions("UTF-8", KRM_OPT_LOG))
                                         : extract(kind, source, dir / "out.txt", formatCode, fault);
    };
}
Maker decoded(const std::string& text, std::vector<size_t> cuts = {}, uint32_t flags = 0, uint32_t maximum = 0) {
    return [=](const fs::path&) {
        const RunSetup setup = flagged(KRM_OPT_LOG | flags, maximum);
        return cuts.empty() ? decode(body(text), setup) : decodeInBlocks(body(text), cuts, setup);
    };
}
Maker compoundRead(const std::vector<StreamListEntry>& entries, bool withList = true) {
    return [=](const fs::path&) {
        std::vector<CompoundStream> streams = {{"DOC1.FMT", formatBlock()}, {"DOC1.DOC", sampleBody()}};
        if (withList) streams.push_back({KRM_STREAM_LIST_NAME, makeStreamList(entries)});
        return readCompound(streams, flagged(KRM_OPT_LOG));
    };
}

Maker combinedRead(const Bytes& doc) {
    return [=](const fs::path&) { return readCombined(doc, flagged(KRM_OPT_LOG)); };
}
// F4 FD across the end of a directory without a name entry is an entry all the same.
Bytes tagAcrossDirectoryEnd() {
    Bytes doc = makeCombined({{.withEntryTag = false, .directoryLength = 32}});
    doc[12 + 31] = 0xF4, doc[12 + 32] = 0xFD;
    return doc;
}

std::map<std::string, std::vector<std::string>> readGoldenLogs() {
    std::map<std::string, std::vector<std::string>> logs;
    std::ifstream in(kGoldenFile);
    std::string line, name;
    while (std::getline(in, line)) {
        if (line.starts_with("== ")) logs[name = line.substr(3)];
        else if (!name.empty() && !line.empty()) logs[name].push_back(line + "\r\n");
    }
    return logs;
}

TEST_F(TextEntry, GoldenLogs) {
    const std::string dollarData = "\xEF\xEF\xEF\xEF\xEF\xEF\xEF\xEFxy\xEF\xA9" "B\r\n";
    const std::pair<const char*, Maker> rows[] = {
        {"text: separated", entry(Entry::File, Doc::Visible, kSeparated)},
        {"text: allocation fails", entry(Entry::File, Doc::Visible, kSeparated, Fault::Alloc)},
        {"text: unknown format code", entry(Entry::File, Doc::Visible, kUnknownFormat)},
        {"text: missing format file", entry(Entry::File, Doc::FormatMissing, kSeparated)},
        {"text: combined", entry(Entry::File, Doc::Combined, kCombined)},
        {"text: compound", entry(Entry::File, Doc::Compound, kCompound)},
        {"stream: separated", entry(Entry::Stream, Doc::Visible, kSeparated)},
        {"stream: unknown format code", entry(Entry::Stream, Doc::Visible, kUnknownFormat)},
        {"stream: compound without text", entry(Entry::Stream, Doc::CompoundNoText, kCompound)},
        {"properties: separated", entry(Entry::Properties, Doc::Visible, kSeparated)},
        {"properties: combined", entry(Entry::Properties, Doc::Combined, kCombined)},
        {"properties: compound", entry(Entry::Properties, Doc::Compound, kCompound)},
        {"properties: failing conversion", entry(Entry::Properties, Doc::Visible, kSeparated, Fault::Convert)},
        {"compound reader: body listed first", compoundRead({{"DOC1.DOC", "1"}, {"DOC1.FMT", "2"}})},
        {"compound reader: no stream list", compoundRead({}, false)},
        {"combined reader: no body part", combinedRead(makeCombined({{.name = "REPORT.FMT"}}))},
        {"combined reader: entry tag across the directory's end", combinedRead(tagAcrossDirectoryEnd())},
        {"decoder: plain line", decoded("AB\r\n")},
        {"decoder: header at a character boundary", decoded(std::string("A\xF0\x04\x00\x05", 5) + "B\r\n")},
        {"decoder: skipped record", decoded("A\xEF\xCD" "05xyzB\r\n")},
        {"decoder: Unicode record", decoded("A_" + unicodeRecord(0x3042) + "B\r\n")},
        {"decoder: Unicode record split in its content", decoded("A_" + unicodeRecord(0x3042) + "B\r\n", {7})},
        {"decoder: object data scanned", decoded("A" + objectRecord('!') + "xy\xEF\xA9" "B\r\n")},
        {"decoder: object data scanned across a header", decoded("A" + objectRecord('!') + "xyz\xEF\xA9" "B\r\n", {16})},
        {"decoder: object '#' before text", decoded("A" + objectRecord('#') + "Zq\r\n")},
        {"decoder: object '$'", decoded("A" + objectRecord('$') + dollarData)},
        {"decoder: object '$' split in its content", decoded("A" + objectRecord('$') + dollarData, {7})},
        {"decoder: object with a byte count", decoded("A" + objectRecord('\'', "0003") + "xyzB\r\n")},
        {"decoder: counted object data across a header", decoded("A" + objectRecord('\'', "0003") + "xyzB\r\n", {19})},
        {"decoder: header inside a character", decoded("A\x82\xA0\r\n", {2})},
        {"decoder: cut at the output limit", decoded("AB\r\nCD\r\n", {}, KRM_OPT_SIZE_LIMIT, 6)},
    };
    const auto golden = readGoldenLogs();
    const char* writeTo = std::getenv("KRM_WRITE_GOLDEN_LOGS");
    std::ofstream found(writeTo != nullptr ? writeTo : "/dev/null");
    for (const auto& [name, make] : rows) {
        SCOPED_TRACE(name);
        TempDir dir;
        std::vector<std::string> log = make(dir.path()).log;
        expectHostCountersZero();
        found << "== " << name << "\n";
        for (std::string& line : log) {
            for (size_t at; (at = line.find(dir.path().string())) != std::string::npos;)
                line.replace(at, dir.path().string().size(), "$DIR");
            found << line.substr(0, line.size() - 2) << "\n";
        }
        const auto expected = golden.find(name);
        EXPECT_TRUE(expected != golden.end() && log == expected->second) << testing::PrintToString(log);
    }
}

} // namespace
