// The text entry points that write into a file: return codes and the fate of the output file,
// the files opened for each name form, the log lines, a host-supplied CallerRecord, and paths
// that do not fit the filter's buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "entry_support.h"

using namespace entry_test;

namespace {

class TextEntry : public HostCheckedTest {
protected:
    int32_t extract(const fs::path& source, uint16_t formatCode, HostOptions options = loggingOptions()) {
        return GetTextWithErrCallback(source.c_str(), output.c_str(), &options, &formatCode, 0);
    }
    std::vector<std::string> logLines() const { return readLogLines(logFileOf(output)); }

    TempDir dir;
    fs::path output = dir / "out.txt";
};

// ---- Return codes and the output file ---------------------------------------------------------------

enum class Decoder { Called, NotCalled, Either };

struct CodeCase {
    const char* name;
    fs::path (*makeSource)(const fs::path& dir);
    uint16_t formatCode;
    std::optional<FailSwitch> fail;
    int32_t expected;
    bool outputStays;
    Decoder decoder = Decoder::Either;
    uint32_t extraFlags = 0;
    uint32_t maxOutput = 0;
    const char* outputName = "out.txt";
};

const CodeCase kCodeCases[] = {
    {"success", visibleSeparated, kSeparated, {}, KRM_OK, true, Decoder::Called},
    {"SrcInfo allocation fails", visibleSeparated, kSeparated, FailSwitch{KRM_SVC_MALLOC, 1}, KRM_ERR_NO_MEMORY, false,
     Decoder::NotCalled},
    {"output folder missing", visibleSeparated, kSeparated, {}, KRM_ERR_OPEN, false, Decoder::NotCalled, 0, 0,
     "missing/out.txt"},
    {"output open fails", visibleSeparated, kSeparated, FailSwitch{KRM_SVC_FILE_OPEN, 1}, KRM_ERR_OPEN, false,
     Decoder::NotCalled},
    {"body file missing",
     [](const fs::path& dir) {
         writeFile(dir / "a.FMT", formatBlock());
         return dir / "a.FMT";
     },
     kSeparated, {}, KRM_ERR_OPEN, false, Decoder::NotCalled},
    {"format file missing",
     [](const fs::path& dir) {
         writeFile(dir / "a.DOC", visibleBody());
         return dir / "a.DOC";
     },
     kSeparated, {}, KRM_ERR_OPEN, false, Decoder::NotCalled},
    {"format file open fails", visibleSeparated, kSeparated, FailSwitch{KRM_SVC_FILE_OPEN, 3}, KRM_ERR_OPEN, false,
     Decoder::NotCalled},
    // Clean-up closes the output first, then the body, then the format file.
    {"output close fails", visibleSeparated, kSeparated, FailSwitch{KRM_SVC_FILE_CLOSE, 1}, KRM_ERR_BROKEN, true},
    {"body close fails", visibleSeparated, kSeparated, FailSwitch{KRM_SVC_FILE_CLOSE, 2}, KRM_ERR_BROKEN, false},
    {"format close fails", visibleSeparated, kSeparated, FailSwitch{KRM_SVC_FILE_CLOSE, 3}, KRM_ERR_BROKEN, false},
    {"password flag",
     [](const fs::path& dir) { return separatedDocument(dir, visibleBody(), kPasswordFlag); }, kSeparated, {},
     KRM_ERR_PASSWORD, false, Decoder::NotCalled},
    {"password flag among others",
     [](const fs::path& dir) { return separatedDocument(dir, visibleBody(), 0x0018); }, kSeparated, {},
     KRM_ERR_PASSWORD, false, Decoder::NotCalled},
    {"flag word without the password bit",
     [](const fs::path& dir) { return separatedDocument(dir, visibleBody(), 0xFFF7); }, kSeparated, {}, KRM_OK,
     true, Decoder::Called},
    {"unknown format code", visibleSeparated, kUnknownFormat, {}, KRM_ERR_UNSUPPORTED, false, Decoder::NotCalled},
    {"unknown format code, output close fails", visibleSeparated, kUnknownFormat,
     FailSwitch{KRM_SVC_FILE_CLOSE, 1}, KRM_ERR_BROKEN, true, Decoder::NotCalled},
    {"mixed-case name",
     [](const fs::path& dir) {
         writeFile(dir / "a.Doc", visibleBody());
         writeFile(dir / "a.Fmt", formatBlock());
         return dir / "a.Doc";
     },
     kSeparated, {}, KRM_ERR_UNSUPPORTED, false, Decoder::NotCalled},
    {"name without a marker",
     [](const fs::path& dir) {
         writeFile(dir / "a.txt", visibleBody());
         return dir / "a.txt";
     },
     kSeparated, {}, KRM_ERR_UNSUPPORTED, false, Decoder::NotCalled},
    {"empty body", [](const fs::path& dir) { return separatedDocument(dir, {}); }, kSeparated, {}, KRM_OK, false,
     Decoder::NotCalled},
    {"no visible text", [](const fs::path& dir) { return separatedDocument(dir, noTextBody()); }, kSeparated, {},
     KRM_ERR_NO_TEXT, false, Decoder::Called},
    {"body without end byte", [](const fs::path& dir) { return separatedDocument(dir, unendedBody()); }, kSeparated,
     {}, KRM_ERR_BROKEN, false, Decoder::Called},
    {"output write fails", visibleSeparated, kSeparated, FailSwitch{KRM_SVC_FILE_WRITE, 1}, KRM_ERR_WRITE, false,
     Decoder::Called},
    {"output limit reached", [](const fs::path& dir) { return separatedDocument(dir, longBody()); }, kSeparated, {},
     KRM_ERR_OUTPUT_LIMIT, true, Decoder::Called, KRM_OPT_SIZE_LIMIT, 12},
    {"combined document",
     [](const fs::path& dir) {
         writeFile(dir / "a.oas", makeCombinedDocument(formatBlock(), visibleBody()));
         return dir / "a.oas";
     },
     kCombined, {}, KRM_OK, true},
    {"combined document missing", [](const fs::path& dir) { return dir / "none.oas"; }, kCombined, {}, KRM_ERR_OPEN,
     false},
    {"compound document",
     [](const fs::path& dir) {
         writeCompoundDocument(dir / "a.ole", formatBlock(), visibleBody());
         return dir / "a.ole";
     },
     kCompound, {}, KRM_OK, true},
    {"not a compound file",
     [](const fs::path& dir) {
         writeFile(dir / "a.ole", visibleBody());
         return dir / "a.ole";
     },
     kCompound, {}, KRM_ERR_OPEN, false},
};

TEST_F(TextEntry, ReturnCodesAndTheFateOfTheOutputFile) {
    for (const CodeCase& c : kCodeCases) {
        SCOPED_TRACE(c.name);
        TempDir caseDir;
        const fs::path source = c.makeSource(caseDir.path());
        const fs::path out = caseDir / c.outputName;
        HostOptions options = loggingOptions(c.extraFlags, c.maxOutput);
        uint16_t formatCode = c.formatCode;
        if (c.fail) {
            KRMTest_FailAt(c.fail->service, c.fail->n);
        }
        EXPECT_EQ(GetTextWithErrCallback(source.c_str(), out.c_str(), &options, &formatCode, 0), c.expected);
        KRMTest_ResetFailures();
        expectHostCountersZero();

        EXPECT_EQ(fs::exists(out), c.outputStays);
        if (c.expected == KRM_OK && c.outputStays) {
            EXPECT_EQ(readFile(out), bytes(kVisibleText));
        }
        if (c.outputStays && c.expected == KRM_ERR_OUTPUT_LIMIT) {
            EXPECT_GT(fs::file_size(out), 0u);
        }
        const auto lines = readLogLines(logFileOf(out));
        if (c.decoder != Decoder::Either) {
            EXPECT_EQ(hasLine(lines, kDecoderStart), c.decoder == Decoder::Called);
        }
        // Every call that got as far as the log ends with its own log closed (counters above), and
        // success is the only code that says so in the log.
        EXPECT_EQ(hasLine(lines, kSuccessLine), c.expected == KRM_OK);
    }
}

// A failed allocation stops the call before the output exists; the log has the start lines only.
TEST_F(TextEntry, FailedAllocationLogsOnlyTheStart) {
    const fs::path source = separatedDocument(dir.path(), visibleBody());
    KRMTest_FailAt(KRM_SVC_MALLOC, 1);
    EXPECT_EQ(extract(source, kSeparated), KRM_ERR_NO_MEMORY);
    EXPECT_EQ(logLines(), (std::vector<std::string>{kStartLine1, kStartLine2}));
}

// An unknown format code: the output is created, then closed and removed, and nothing else opened.
TEST_F(TextEntry, UnknownFormatCodeCreatesAndRemovesTheOutput) {
    const fs::path source = separatedDocument(dir.path(), visibleBody());
    EXPECT_EQ(extract(source, kUnknownFormat), KRM_ERR_UNSUPPORTED);
    EXPECT_FALSE(fs::exists(output));
    const std::vector<std::string> expected = {
        kStartLine1, kStartLine2, kAllocLine, fileLine("Open Txtfile: ", output), kFreeLine,
        fileLine("Close Txtfile: ", output),
    };
    EXPECT_EQ(logLines(), expected);
}

// A missing .FMT file: the body file was opened and is closed again without a log line.
TEST_F(TextEntry, MissingFormatFileClosesTheBodyFile) {
    writeFile(dir / "a.DOC", visibleBody());
    EXPECT_EQ(extract(dir / "a.DOC", kSeparated), KRM_ERR_OPEN);
    EXPECT_FALSE(fs::exists(output));
    const std::vector<std::string> expected = {
        kStartLine1, kStartLine2, kAllocLine, fileLine("Open Txtfile: ", output),
        fileLine("Open Appfile: ", dir / "a.DOC"), kFreeLine, fileLine("Close Txtfile: ", output),
    };
    EXPECT_EQ(logLines(), expected);
}

// ---- Name derivation -------------------------------------------------------------------------------

struct NameCase {
    const char* name;
    const char* given;   // relative to the test folder
    const char* body;    // the file read as the body
    const char* format;  // the file read as the format file
};

const NameCase kNameCases[] = {
    {"format file named", "a.FMT", "a.DOC", "a.FMT"},
    {"format file named, lower case", "a.fmt", "a.doc", "a.fmt"},
    {"group file named", "a.GRP", "a.DOC", "a.FMT"},
    {"group file named, lower case", "a.grp", "a.doc", "a.fmt"},
    {"body file named", "a.DOC", "a.DOC", "a.FMT"},
    {"body file named, lower case", "a.doc", "a.doc", "a.fmt"},
    // The first occurrence counts, wherever it stands: here in the folder name.
    {"marker in a folder name", "x.DOC.d/a.FMT", "x.DOC.d/a.DOC", "x.FMT"},
    {"upper case wins over lower case", "x.fmt.d/a.FMT", "x.fmt.d/a.DOC", "x.fmt.d/a.FMT"},
};

TEST_F(TextEntry, FilesOpenedForEachNameForm) {
    for (const NameCase& c : kNameCases) {
        SCOPED_TRACE(c.name);
        TempDir caseDir;
        const fs::path body = caseDir / c.body;
        const fs::path format = caseDir / c.format;
        fs::create_directories(body.parent_path());
        writeFile(body, visibleBody());
        writeFile(format, formatBlock());
        const fs::path given = caseDir / c.given;
        if (!fs::exists(given)) {
            writeFile(given, bytes("GROUP FILE\r\n\x1A"));
        }
        const fs::path out = caseDir / "out.txt";
        HostOptions options = loggingOptions();
        const uint16_t formatCode = kSeparated;
        EXPECT_EQ(GetTextWithErrCallback(given.c_str(), out.c_str(), &options, &formatCode, 0), KRM_OK);
        expectHostCountersZero();
        const auto lines = readLogLines(logFileOf(out));
        const std::vector<std::string> opens = {fileLine("Open Appfile: ", body), fileLine("Open Fmtfile: ", format)};
        const auto appAt = std::find(lines.begin(), lines.end(), opens[0]);
        ASSERT_NE(appAt, lines.end());
        ASSERT_NE(appAt + 1, lines.end());
        EXPECT_EQ(*(appAt + 1), opens[1]);
        EXPECT_TRUE(hasLine(lines, fileLine("Close Appfile: ", body)));
        EXPECT_TRUE(hasLine(lines, fileLine("Close Fmtfile: ", format)));
    }
}

// ---- Log lines -------------------------------------------------------------------------------------

TEST_F(TextEntry, CompleteLogOfASeparatedDocument) {
    writeSeparated(dir / "a", visibleBody(), formatBlock());
    ASSERT_EQ(extract(dir / "a.FMT", kSeparated), KRM_OK);
    const std::vector<std::string> expected = {
        kStartLine1,
        kStartLine2,
        kAllocLine,
        fileLine("Open Txtfile: ", output),
        fileLine("Open Appfile: ", dir / "a.DOC"),
        fileLine("Open Fmtfile: ", dir / "a.FMT"),
        kDecoderStart,
        kDecoderEnd,
        kFreeLine,
        fileLine("Close Txtfile: ", output),
        fileLine("Close Appfile: ", dir / "a.DOC"),
        fileLine("Close Fmtfile: ", dir / "a.FMT"),
        kSuccessLine,
    };
    EXPECT_EQ(withoutDecoderLines(logLines()), expected);
}

// The other packagings log the source path and their reader's own bracket lines.
TEST_F(TextEntry, LogOfCombinedAndCompoundDocuments) {
    struct Case {
        const char* name;
        uint16_t formatCode;
        const char* start;
        const char* end;
    };
    const Case cases[] = {
        {"a.oas", kCombined, "GetDocContent() starting\r\n", "GetDocContent() end\r\n"},
        {"a.ole", kCompound, "GetOleTextContent() starting\r\n", "GetOleTextContent() end\r\n"},
    };
    writeFile(dir / "a.oas", makeCombinedDocument(formatBlock(), visibleBody()));
    writeCompoundDocument(dir / "a.ole", formatBlock(), visibleBody());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(logFileOf(output));
        const fs::path source = dir / c.name;
        EXPECT_EQ(extract(source, c.formatCode), KRM_OK);
        auto lines = logLines();
        ASSERT_GE(lines.size(), 8u);
        const std::vector<std::string> head = {kStartLine1, kStartLine2, kAllocLine, fileLine("Open Txtfile: ", output),
                                               fileLine("Open Appfile: ", source), c.start};
        EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + head.size()), head);
        const std::vector<std::string> tail = {c.end, kFreeLine, fileLine("Close Txtfile: ", output),
                                               fileLine("Close Appfile: ", source), kSuccessLine};
        EXPECT_EQ(std::vector<std::string>(lines.end() - tail.size(), lines.end()), tail);
    }
}

// ---- CallerRecord ----------------------------------------------------------------------------------

TEST_F(TextEntry, SuppliedCallerRecordLendsItsLog) {
    writeSeparated(dir / "a", visibleBody(), formatBlock());
    const fs::path hostLog = dir / "host.log";
    HostOptions options = loggingOptions();
    CallerRecord record{};
    std::strcpy(record.pathText, "host text");
    record.logHandle = krm_logfopen(options.optionFlags, hostLog.c_str());
    const KrmHostCounters before = KRMTest_Counters();
    ASSERT_EQ(before.openLogs, 1);

    const uint16_t formatCode = kSeparated;
    EXPECT_EQ(GetText5WithErrCallback((dir / "a.FMT").c_str(), output.c_str(), &options, &formatCode, &record, 0),
              KRM_OK);
    EXPECT_EQ(KRMTest_Counters().openLogs, 1) << "the host's log stays open, no other is left";
    EXPECT_FALSE(fs::exists(logFileOf(output))) << "no log of its own";
    EXPECT_STREQ(record.pathText, "host text");
    krm_logfclose(options.optionFlags, record.logHandle);

    const auto lines = readLogLines(hostLog);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), kStartLine1);
    EXPECT_TRUE(hasLine(lines, fileLine("Open Txtfile: ", output)));
    EXPECT_EQ(lines.back(), kSuccessLine);
}

// A refused call with a supplied record leaves the host's log open as well.
TEST_F(TextEntry, SuppliedCallerRecordStaysOpenOnEveryExit) {
    writeSeparated(dir / "a", visibleBody(), formatBlock());
    const fs::path hostLog = dir / "host.log";
    HostOptions options = loggingOptions();
    CallerRecord record{};
    record.logHandle = krm_logfopen(options.optionFlags, hostLog.c_str());
    const struct {
        uint16_t formatCode;
        std::optional<FailSwitch> fail;
        int32_t expected;
    } cases[] = {
        {kSeparated, FailSwitch{KRM_SVC_MALLOC, 1}, KRM_ERR_NO_MEMORY},
        {kUnknownFormat, {}, KRM_ERR_UNSUPPORTED},
        {kSeparated, FailSwitch{KRM_SVC_FILE_CLOSE, 2}, KRM_ERR_BROKEN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        if (c.fail) {
            KRMTest_FailAt(c.fail->service, c.fail->n);
        }
        EXPECT_EQ(GetText5WithErrCallback((dir / "a.FMT").c_str(), output.c_str(), &options, &c.formatCode, &record,
                                          0),
                  c.expected);
        KRMTest_ResetFailures();
        EXPECT_EQ(KRMTest_Counters().openLogs, 1);
    }
    krm_logfclose(options.optionFlags, record.logHandle);
    EXPECT_FALSE(fs::exists(logFileOf(output)));
}

// ---- Paths that do not fit -------------------------------------------------------------------------

// The body name is derived in a 1024-byte buffer with room kept for a four-character extension.
TEST_F(TextEntry, SourcePathThatDoesNotFitIsRefused) {
    const struct {
        size_t length;
        int32_t expected;
    } cases[] = {
        {1019, KRM_ERR_OPEN},        // fits: derived, then not found
        {1020, KRM_ERR_UNSUPPORTED}, // with an extension it would not fit
        {1023, KRM_ERR_UNSUPPORTED},
        {1024, KRM_ERR_UNSUPPORTED},
        {5000, KRM_ERR_UNSUPPORTED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        const std::string source = std::string(c.length - 4, 'x') + ".FMT";
        ASSERT_EQ(source.size(), c.length);
        EXPECT_EQ(extract(source, kSeparated), c.expected);
        expectHostCountersZero();
        EXPECT_FALSE(fs::exists(output));
        const auto lines = logLines();
        EXPECT_TRUE(hasLine(lines, fileLine("Close Txtfile: ", output)));
        fs::remove(logFileOf(output));
    }
}

// An output path longer than the CallerRecord's path text is kept cut there; the output itself
// is made at its full path.
TEST_F(TextEntry, LongOutputPathIsCopiedCut) {
    writeSeparated(dir / "a", visibleBody(), formatBlock());
    const fs::path out = longPathBelow(dir.path(), 1300, "out.txt");
    ASSERT_GT(out.string().size(), static_cast<size_t>(KRM_PATH_MAX));
    HostOptions options = makeOptions();
    const uint16_t formatCode = kSeparated;
    EXPECT_EQ(GetTextWithErrCallback((dir / "a.FMT").c_str(), out.c_str(), &options, &formatCode, 0), KRM_OK);
    EXPECT_EQ(readFile(out), bytes(kVisibleText));
}

// Without a source, an output path, options or a format code there is nothing to work on.
TEST_F(TextEntry, MissingArgumentsAreRefused) {
    writeSeparated(dir / "a", visibleBody(), formatBlock());
    HostOptions options = loggingOptions();
    const uint16_t formatCode = kSeparated;
    const std::string source = (dir / "a.FMT").string();
    const struct {
        const char* source;
        const char* output;
        HostOptions* options;
        const uint16_t* formatCode;
    } cases[] = {
        {nullptr, output.c_str(), &options, &formatCode},
        {source.c_str(), nullptr, &options, &formatCode},
        {source.c_str(), output.c_str(), nullptr, &formatCode},
        {source.c_str(), output.c_str(), &options, nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetTextWithErrCallback(c.source, c.output, c.options, c.formatCode, 0), KRM_ERR_UNSUPPORTED);
        expectHostCountersZero();
        EXPECT_FALSE(fs::exists(output));
    }
}

} // namespace
