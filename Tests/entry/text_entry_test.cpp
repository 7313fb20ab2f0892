// The text entry points, into a file (GetTextWithErrCallback, GetText5WithErrCallback) and into the
// host's output stream (GetTextStreamWithErrCallback): return codes with the fate of the output,
// the log lines, the files opened for each name form, a host-supplied CallerRecord, and paths and
// arguments the filter cannot work with.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>

#include "oasys_writer.h"
#include "test_util.h"

using namespace oasys_test;
namespace fs = std::filesystem;

namespace {

constexpr uint16_t kSeparated = KRM_FORMAT_SEPARATED;
constexpr uint16_t kCombined = KRM_FORMAT_COMBINED;
constexpr uint16_t kCompound = KRM_FORMAT_COMPOUND;
constexpr uint16_t kUnknownFormat = 4711;
const std::string kVisibleText = "ABC\r\n";

// The test documents, made in a fresh folder; the path handed to the entry is returned.
enum class Doc {
    Visible, Empty, NoText, Unended, Long, Password, BodyMissing, FormatMissing, MixedCase,
    PathFits, PathTooLong, Combined, CombinedMissing, Compound, CompoundNoText, NotCompound,
};

Bytes formatBlock(uint16_t flagWord = 0) {
    PropertyFields fields;
    fields.flagWord = flagWord;
    return makePropertyBlock(fields);
}

// A source path of exactly `length` characters below dir (the name derived from it may not fit).
fs::path pathOfLength(const fs::path& dir, size_t length) {
    return dir / (std::string(length - dir.string().size() - 1 - 4, 'x') + ".FMT");
}

fs::path makeSource(Doc doc, const fs::path& dir) {
    const Bytes visible = bytes("ABC\r\n\x1A");
    const auto separated = [&](const Bytes& body, uint16_t flagWord = 0) {
        writeSeparated(dir / "a", body, formatBlock(flagWord));
        return dir / "a.FMT";
    };
    const auto single = [&](const char* name, const Bytes& content) {
        writeFile(dir / name, content);
        return dir / name;
    };
    switch (doc) {
    case Doc::Visible: return separated(visible);
    case Doc::Empty: return separated({});
    case Doc::NoText: return separated(bytes("\x1A"));
    case Doc::Unended: return separated(bytes("ABC\r\nDEF"));
    case Doc::Long: return separated(bytes("ABCDEFGH\r\nIJKLMNOP\r\n\x1A"));
    case Doc::Password: return separated(visible, 0x0008);
    case Doc::BodyMissing: return single("a.FMT", formatBlock());
    case Doc::FormatMissing: return single("a.DOC", visible);
    case Doc::MixedCase: single("a.Fmt", formatBlock()); return single("a.Doc", visible);
    case Doc::PathFits: return pathOfLength(dir, 1019);     // with ".DOC" the name still fits 1024
    case Doc::PathTooLong: return pathOfLength(dir, 1020);  // room for the extension is missing
    case Doc::Combined: return single("a.oas", makeCombinedDocument(formatBlock(), visible));
    case Doc::CombinedMissing: return dir / "none.oas";
    case Doc::Compound: writeCompoundDocument(dir / "a.ole", formatBlock(), visible); return dir / "a.ole";
    case Doc::CompoundNoText: writeCompoundDocument(dir / "a.ole", formatBlock(), bytes("\x1A")); return dir / "a.ole";
    case Doc::NotCompound: return single("a.ole", visible);
    }
    return {};
}

// Host failures, each at the call where it hits the same step in either entry. The file entry opens
// the output, the body and the format file, and closes them in that order; the stream entry has no
// output file.
enum class Fault { None, Alloc, OutputFolderMissing, OutputClose, BodyClose, FormatClose, Write };
enum class Entry { File, Stream };

void armFault(Fault fault, Entry entry) {
    const bool file = entry == Entry::File;
    switch (fault) {
    case Fault::None: case Fault::OutputFolderMissing: break;
    case Fault::Alloc: KRMTest_FailAt(KRM_SVC_MALLOC, 1); break;
    case Fault::OutputClose: KRMTest_FailAt(KRM_SVC_FILE_CLOSE, 1); break;
    case Fault::BodyClose: KRMTest_FailAt(KRM_SVC_FILE_CLOSE, file ? 2 : 1); break;
    case Fault::FormatClose: KRMTest_FailAt(KRM_SVC_FILE_CLOSE, file ? 3 : 2); break;
    case Fault::Write: KRMTest_FailAt(file ? KRM_SVC_FILE_WRITE : KRM_SVC_WRITE_STREAM, 1); break;
    }
}

// A host memory stream, released at the end of its scope.
class MemoryStream {
public:
    MemoryStream() : handle_(KRM_StreamCreateMemory()) {}
    ~MemoryStream() { KRM_StreamRelease(handle_); }
    MemoryStream(const MemoryStream&) = delete;
    MemoryStream& operator=(const MemoryStream&) = delete;
    uint32_t handle() const { return handle_; }
    std::string text() const {
        const uint8_t* data = nullptr;
        size_t length = 0;
        if (KRM_StreamGetMemory(handle_, &data, &length) != 0 || data == nullptr) return {};
        return std::string(reinterpret_cast<const char*>(data), length);
    }
private:
    uint32_t handle_;
};

// The host names a log after a path with the tag "ve2": the output path for the file entry, the
// source path for the stream entry.
fs::path logFileOf(const fs::path& path) { return path.string() + ".ve2.log"; }
HostOptions loggingOptions(uint32_t extraFlags = 0, uint32_t maxOutput = 0) {
    return makeOptions("UTF-8", KRM_OPT_LOG | extraFlags, maxOutput);
}
bool hasLine(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}
const std::string kStartLine = "Lib krm_zori2 export function: GetText():\r\n";
const std::string kDecoderStart = "GetTextContent() starting\r\n";
const std::string kSuccessLine = "GetText() end successfully\r\n";

struct Call {
    int32_t code;
    std::string text;                // the output file's or stream's content
    bool outputExists = false;
    std::vector<std::string> log;
};

Call extract(Entry entry, const fs::path& source, const fs::path& output, uint16_t formatCode, Fault fault,
             uint32_t limit = 0) {
    HostOptions options = loggingOptions(limit != 0 ? KRM_OPT_SIZE_LIMIT : 0, limit);
    Call call{};
    armFault(fault, entry);
    if (entry == Entry::File) {
        call.code = GetTextWithErrCallback(source.c_str(), output.c_str(), &options, &formatCode, 0);
        KRMTest_ResetFailures();
        call.outputExists = fs::exists(output);
        const Bytes text = call.outputExists ? readFile(output) : Bytes{};
        call.text.assign(text.begin(), text.end());
        call.log = readLogLines(logFileOf(output));
    } else {
        {
            MemoryStream stream;
            call.code = GetTextStreamWithErrCallback(source.c_str(), stream.handle(), &options, &formatCode, 0);
            KRMTest_ResetFailures();
            call.text = stream.text();
        }
        call.log = readLogLines(logFileOf(source));
    }
    return call;
}

class TextEntry : public HostCheckedTest {};

// ---- Return codes and what is left in the output ------------------------------------------------

constexpr int32_t kFileOnly = -1;                    // the case has no counterpart in the stream entry
enum class Written { Text, Nothing, Some };           // the stream's content afterwards
enum class Decoder { Called, NotCalled, Either };

struct CodeCase {
    const char* name;
    Doc doc;
    uint16_t formatCode;
    Fault fault;
    int32_t fileCode;
    bool outputStays;
    int32_t streamCode;
    Written written;
    Decoder decoder;
    uint32_t limit = 0;
};

// Password, missing text, a broken body and failed writes all reach the stream's host as "no text".
const CodeCase kCodeCases[] = {
    {"success", Doc::Visible, kSeparated, Fault::None, KRM_OK, true, KRM_OK, Written::Text, Decoder::Called},
    {"empty body", Doc::Empty, kSeparated, Fault::None, KRM_OK, false, KRM_OK, Written::Nothing, Decoder::NotCalled},
    {"SrcInfo allocation fails", Doc::Visible, kSeparated, Fault::Alloc, KRM_ERR_NO_MEMORY, false,
     KRM_ERR_NO_MEMORY, Written::Nothing, Decoder::NotCalled},
    {"output folder missing", Doc::Visible, kSeparated, Fault::OutputFolderMissing, KRM_ERR_OPEN, false, kFileOnly,
     Written::Nothing, Decoder::NotCalled},
    {"body file missing", Doc::BodyMissing, kSeparated, Fault::None, KRM_ERR_OPEN, false, KRM_ERR_OPEN,
     Written::Nothing, Decoder::NotCalled},
    {"format file missing", Doc::FormatMissing, kSeparated, Fault::None, KRM_ERR_OPEN, false, KRM_ERR_OPEN,
     Written::Nothing, Decoder::NotCalled},
    {"output close fails", Doc::Visible, kSeparated, Fault::OutputClose, KRM_ERR_BROKEN, true, kFileOnly,
     Written::Nothing, Decoder::Called},
    {"body close fails", Doc::Visible, kSeparated, Fault::BodyClose, KRM_ERR_BROKEN, false, KRM_ERR_BROKEN,
     Written::Text, Decoder::Called},
    {"format close fails", Doc::Visible, kSeparated, Fault::FormatClose, KRM_ERR_BROKEN, false, KRM_ERR_BROKEN,
     Written::Text, Decoder::Called},
    {"password flag", Doc::Password, kSeparated, Fault::None, KRM_ERR_PASSWORD, false, KRM_ERR_NO_TEXT,
     Written::Nothing, Decoder::NotCalled},
    {"unknown format code", Doc::Visible, kUnknownFormat, Fault::None, KRM_ERR_UNSUPPORTED, false,
     KRM_ERR_UNSUPPORTED, Written::Nothing, Decoder::NotCalled},
    {"unknown format code, output close fails", Doc::Visible, kUnknownFormat, Fault::OutputClose, KRM_ERR_BROKEN,
     true, kFileOnly, Written::Nothing, Decoder::NotCalled},
    {"mixed-case name", Doc::MixedCase, kSeparated, Fault::None, KRM_ERR_UNSUPPORTED, false, KRM_ERR_UNSUPPORTED,
     Written::Nothing, Decoder::NotCalled},
    {"longest source path", Doc::PathFits, kSeparated, Fault::None, KRM_ERR_OPEN, false, KRM_ERR_OPEN,
     Written::Nothing, Decoder::NotCalled},
    {"source path one too long", Doc::PathTooLong, kSeparated, Fault::None, KRM_ERR_UNSUPPORTED, false,
     KRM_ERR_UNSUPPORTED, Written::Nothing, Decoder::NotCalled},
    {"no visible text", Doc::NoText, kSeparated, Fault::None, KRM_ERR_NO_TEXT, false, KRM_ERR_NO_TEXT,
     Written::Nothing, Decoder::Called},
    {"body without end byte", Doc::Unended, kSeparated, Fault::None, KRM_ERR_BROKEN, false, KRM_ERR_NO_TEXT,
     Written::Text, Decoder::Called},
    {"write fails", Doc::Visible, kSeparated, Fault::Write, KRM_ERR_WRITE, false, KRM_ERR_NO_TEXT, Written::Nothing,
     Decoder::Called},
    {"output limit reached", Doc::Long, kSeparated, Fault::None, KRM_ERR_OUTPUT_LIMIT, true, KRM_ERR_OUTPUT_LIMIT,
     Written::Some, Decoder::Called, 12},
    {"combined document missing", Doc::CombinedMissing, kCombined, Fault::None, KRM_ERR_OPEN, false, KRM_ERR_OPEN,
     Written::Nothing, Decoder::NotCalled},
    {"not a compound file", Doc::NotCompound, kCompound, Fault::None, KRM_ERR_OPEN, false, KRM_ERR_OPEN,
     Written::Nothing, Decoder::NotCalled},
    {"compound document without text", Doc::CompoundNoText, kCompound, Fault::None, KRM_ERR_NO_TEXT, false,
     KRM_ERR_NO_TEXT, Written::Nothing, Decoder::Called},
};

TEST_F(TextEntry, ReturnCodesAndWhatIsLeftInTheOutput) {
    for (const CodeCase& c : kCodeCases) {
        for (const Entry entry : {Entry::File, Entry::Stream}) {
            if (entry == Entry::Stream && c.streamCode == kFileOnly) continue;
            SCOPED_TRACE(testing::Message() << c.name << (entry == Entry::File ? " (file)" : " (stream)"));
            TempDir dir;
            const fs::path source = makeSource(c.doc, dir.path());
            const fs::path output = dir / (c.fault == Fault::OutputFolderMissing ? "missing/out.txt" : "out.txt");
            const Call call = extract(entry, source, output, c.formatCode, c.fault, c.limit);
            expectHostCountersZero();
            if (entry == Entry::File) {
                EXPECT_EQ(call.code, c.fileCode);
                EXPECT_EQ(call.outputExists, c.outputStays);
                if (c.fileCode == KRM_OK && c.outputStays) {
                    EXPECT_EQ(call.text, kVisibleText);
                }
            } else {
                EXPECT_EQ(call.code, c.streamCode);
                if (c.written != Written::Some) {
                    EXPECT_EQ(call.text, c.written == Written::Text ? kVisibleText : "");
                }
                for (const auto& file : fs::directory_iterator(dir.path())) {
                    EXPECT_NE(file.path().extension(), ".txt") << "no output file beside the source";
                }
            }
            if (c.limit != 0) { // the text up to the limit
                EXPECT_FALSE(call.text.empty());
                EXPECT_LE(call.text.size(), c.limit);
            }
            if (c.decoder != Decoder::Either) {
                EXPECT_EQ(hasLine(call.log, kDecoderStart), c.decoder == Decoder::Called);
            }
            // Success is the only code that the log reports as such.
            EXPECT_EQ(hasLine(call.log, kSuccessLine), call.code == KRM_OK);
        }
    }
}

// ---- Log lines ----------------------------------------------------------------------------------

// The log with each reader's own lines left out: everything between the first reader's starting
// line and the last reader's end line (the decoder's, the combined or the compound walk's).
std::vector<std::string> withoutReaderLines(const std::vector<std::string>& lines) {
    const auto endsWith = [](const std::string& line, std::string_view tail) {
        return line.size() >= tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
    };
    const auto start = std::find_if(lines.begin(), lines.end(),
                                    [&](const std::string& l) { return endsWith(l, "Content() starting\r\n"); });
    const auto end = std::find_if(lines.rbegin(), lines.rend(),
                                  [&](const std::string& l) { return endsWith(l, "Content() end\r\n"); });
    if (start == lines.end() || end == lines.rend() || end.base() - 1 < start) return lines;
    std::vector<std::string> result(lines.begin(), start + 1);
    result.insert(result.end(), end.base() - 1, lines.end());
    return result;
}

struct LogCase {
    const char* name;
    Entry entry;
    Doc doc;
    uint16_t formatCode;
    Fault fault;
    // Lines without their "\r\n"; $OUT, $SRC, $DOC and $FMT stand for the output, the source and
    // the two separated files.
    std::vector<std::string> lines;
};

const std::string S1 = "Lib krm_zori2 export function: GetText():", S2 = "Start operating .....",
                  kAlloc = "Memory allocate for srcInfo: 532 bytes", kFree = "Memory free for srcInfo: 532 bytes",
                  kOk = "GetText() end successfully";

const LogCase kLogCases[] = {
    {"separated", Entry::File, Doc::Visible, kSeparated, Fault::None,
     {S1, S2, kAlloc, "Open Txtfile: $OUT", "Open Appfile: $DOC", "Open Fmtfile: $FMT", "GetTextContent() starting",
      "GetTextContent() end", kFree, "Close Txtfile: $OUT", "Close Appfile: $DOC", "Close Fmtfile: $FMT", kOk}},
    {"allocation fails", Entry::File, Doc::Visible, kSeparated, Fault::Alloc, {S1, S2}},
    {"unknown format code creates and removes the output", Entry::File, Doc::Visible, kUnknownFormat, Fault::None,
     {S1, S2, kAlloc, "Open Txtfile: $OUT", kFree, "Close Txtfile: $OUT"}},
    {"missing format file: body closed without a line", Entry::File, Doc::FormatMissing, kSeparated, Fault::None,
     {S1, S2, kAlloc, "Open Txtfile: $OUT", "Open Appfile: $DOC", kFree, "Close Txtfile: $OUT"}},
    {"combined", Entry::File, Doc::Combined, kCombined, Fault::None,
     {S1, S2, kAlloc, "Open Txtfile: $OUT", "Open Appfile: $SRC", "GetDocContent() starting", "GetDocContent() end",
      kFree, "Close Txtfile: $OUT", "Close Appfile: $SRC", kOk}},
    {"compound", Entry::File, Doc::Compound, kCompound, Fault::None,
     {S1, S2, kAlloc, "Open Txtfile: $OUT", "Open Appfile: $SRC", "GetOleTextContent() starting",
      "GetOleTextContent() end", kFree, "Close Txtfile: $OUT", "Close Appfile: $SRC", kOk}},
    {"stream, separated", Entry::Stream, Doc::Visible, kSeparated, Fault::None,
     {S1, S2, kAlloc, "Open Appfile: $DOC", "Open Fmtfile: $FMT", "GetTextContent() starting", "GetTextContent() end",
      kFree, "Close Appfile: $DOC", "Close Fmtfile: $FMT", kOk}},
    {"stream, unknown format code", Entry::Stream, Doc::Visible, kUnknownFormat, Fault::None, {S1, S2, kAlloc, kFree}},
    // The stream entry closes the storage right after SrcInfo is freed.
    {"stream, compound without text", Entry::Stream, Doc::CompoundNoText, kCompound, Fault::None,
     {S1, S2, kAlloc, "Open Appfile: $SRC", "GetOleTextContent() starting", "GetOleTextContent() end", kFree,
      "Close Appfile: $SRC"}},
};

TEST_F(TextEntry, LogLinesInOrder) {
    for (const LogCase& c : kLogCases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const fs::path source = makeSource(c.doc, dir.path());
        const fs::path output = dir / "out.txt";
        const Call call = extract(c.entry, source, output, c.formatCode, c.fault);
        expectHostCountersZero();
        std::vector<std::string> expected;
        for (std::string line : c.lines) {
            for (const auto& [token, path] : {std::pair{"$OUT", output}, {"$SRC", source}, {"$DOC", dir / "a.DOC"},
                                              {"$FMT", dir / "a.FMT"}}) {
                if (const auto at = line.find(token); at != std::string::npos) line.replace(at, 4, path.string());
            }
            expected.push_back(line + "\r\n");
        }
        EXPECT_EQ(withoutReaderLines(call.log), expected);
    }
}

// ---- Name forms ---------------------------------------------------------------------------------

struct NameCase {
    const char* given;   // relative to the test folder
    const char* body;    // the file read as the body
    const char* format;  // the file read as the format file
};

const NameCase kNameCases[] = {
    {"a.FMT", "a.DOC", "a.FMT"},
    {"a.fmt", "a.doc", "a.fmt"},
    {"a.GRP", "a.DOC", "a.FMT"},
    {"a.grp", "a.doc", "a.fmt"},
    {"a.DOC", "a.DOC", "a.FMT"},
    {"a.doc", "a.doc", "a.fmt"},
    // The first occurrence counts, wherever it stands: here in a folder name.
    {"x.DOC.d/a.FMT", "x.DOC.d/a.DOC", "x.FMT"},
    {"x.fmt.d/a.FMT", "x.fmt.d/a.DOC", "x.fmt.d/a.FMT"},  // upper case is looked for first
    {"x.GRP.d/a.FMT", "x.GRP.d/a.DOC", "x.GRP.d/a.FMT"},  // the format name before the group name
};

TEST_F(TextEntry, FilesOpenedInOrderForEachNameForm) {
    for (const NameCase& c : kNameCases) {
        SCOPED_TRACE(c.given);
        TempDir dir;
        const fs::path body = dir / c.body, format = dir / c.format, given = dir / c.given;
        fs::create_directories(body.parent_path());
        writeFile(body, bytes("ABC\r\n\x1A"));
        writeFile(format, formatBlock());
        if (!fs::exists(given)) writeFile(given, bytes("GROUP FILE\r\n\x1A"));
        const Call call = extract(Entry::File, given, dir / "out.txt", kSeparated, Fault::None);
        EXPECT_EQ(call.code, KRM_OK);
        expectHostCountersZero();
        const auto opened = std::find(call.log.begin(), call.log.end(), "Open Appfile: " + body.string() + "\r\n");
        ASSERT_TRUE(opened != call.log.end() && opened + 1 != call.log.end());
        EXPECT_EQ(opened[1], "Open Fmtfile: " + format.string() + "\r\n");
        EXPECT_TRUE(hasLine(call.log, "Close Appfile: " + body.string() + "\r\n"));
        EXPECT_TRUE(hasLine(call.log, "Close Fmtfile: " + format.string() + "\r\n"));
    }
}

// ---- CallerRecord -------------------------------------------------------------------------------

// A supplied record lends its log: the call neither opens a log of its own nor closes the host's,
// on any exit.
TEST_F(TextEntry, SuppliedCallerRecordLendsItsLogOnEveryExit) {
    TempDir dir;
    const fs::path source = makeSource(Doc::Visible, dir.path());
    const fs::path output = dir / "out.txt";
    const fs::path hostLog = dir / "host.log";
    HostOptions options = loggingOptions();
    CallerRecord record{};
    std::strcpy(record.pathText, "host text");
    record.logHandle = krm_logfopen(options.optionFlags, hostLog.c_str());
    const struct {
        uint16_t formatCode;
        Fault fault;
        int32_t expected;
    } cases[] = {
        {kSeparated, Fault::Alloc, KRM_ERR_NO_MEMORY},
        {kUnknownFormat, Fault::None, KRM_ERR_UNSUPPORTED},
        {kSeparated, Fault::BodyClose, KRM_ERR_BROKEN},
        {kSeparated, Fault::None, KRM_OK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        armFault(c.fault, Entry::File);
        EXPECT_EQ(GetText5WithErrCallback(source.c_str(), output.c_str(), &options, &c.formatCode, &record, 0),
                  c.expected);
        KRMTest_ResetFailures();
        EXPECT_EQ(KRMTest_Counters().openLogs, 1) << "the host's log stays open, no other is left";
    }
    EXPECT_FALSE(fs::exists(logFileOf(output))) << "no log of its own";
    EXPECT_STREQ(record.pathText, "host text");
    krm_logfclose(options.optionFlags, record.logHandle);

    const auto lines = readLogLines(hostLog);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), kStartLine), 4);
    EXPECT_TRUE(hasLine(lines, "Open Txtfile: " + output.string() + "\r\n"));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), kSuccessLine);
}

// ---- Paths and arguments ------------------------------------------------------------------------

// An output path longer than the CallerRecord's path text is kept cut there; the output itself is
// made at its full path.
TEST_F(TextEntry, LongOutputPathIsCopiedCut) {
    TempDir dir;
    const fs::path source = makeSource(Doc::Visible, dir.path());
    fs::path folder = dir.path();
    while (folder.string().size() < 1300) folder /= std::string(200, 'd');
    fs::create_directories(folder);
    const fs::path output = folder / "out.txt";
    const Call call = extract(Entry::File, source, output, kSeparated, Fault::None);
    EXPECT_EQ(call.code, KRM_OK);
    EXPECT_EQ(call.text, kVisibleText);
}

// Without a source, an output, options or a format code there is nothing to work on.
TEST_F(TextEntry, MissingArgumentsAreRefused) {
    TempDir dir;
    const std::string source = makeSource(Doc::Visible, dir.path()).string();
    const std::string output = (dir / "out.txt").string();
    HostOptions options = loggingOptions();
    const uint16_t format = kSeparated;
    MemoryStream stream;
    const uint32_t s = stream.handle();
    const std::function<int32_t()> calls[] = {
        [&] { return GetTextWithErrCallback(nullptr, output.c_str(), &options, &format, 0); },
        [&] { return GetTextWithErrCallback(source.c_str(), nullptr, &options, &format, 0); },
        [&] { return GetTextWithErrCallback(source.c_str(), output.c_str(), nullptr, &format, 0); },
        [&] { return GetTextWithErrCallback(source.c_str(), output.c_str(), &options, nullptr, 0); },
        [&] { return GetTextStreamWithErrCallback(nullptr, s, &options, &format, 0); },
        [&] { return GetTextStreamWithErrCallback(source.c_str(), s, nullptr, &format, 0); },
        [&] { return GetTextStreamWithErrCallback(source.c_str(), s, &options, nullptr, 0); },
    };
    for (size_t i = 0; i < std::size(calls); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(calls[i](), KRM_ERR_UNSUPPORTED);
        EXPECT_EQ(KRMTest_Counters().openFiles, 0);
        EXPECT_EQ(KRMTest_Counters().openLogs, 0);
        EXPECT_EQ(KRMTest_Counters().outstandingBlocks, 0);
        EXPECT_FALSE(fs::exists(output));
    }
    EXPECT_FALSE(fs::exists(logFileOf(source)));
    EXPECT_EQ(stream.text(), "");
}

} // namespace
