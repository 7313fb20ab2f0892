// The text entry point that writes into the host's output stream: its own table of codes, what
// reaches the stream, and its log, named after the source.
#include <gtest/gtest.h>

#include <optional>

#include "entry_support.h"

using namespace entry_test;

namespace {

// A host memory stream, released at the end of the test.
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
        if (KRM_StreamGetMemory(handle_, &data, &length) != 0 || data == nullptr) {
            return {};
        }
        return std::string(reinterpret_cast<const char*>(data), length);
    }

private:
    uint32_t handle_;
};

// What the stream holds afterwards.
enum class Written { Text, Nothing, Some };

struct StreamCase {
    const char* name;
    fs::path (*makeSource)(const fs::path& dir);
    uint16_t formatCode;
    std::optional<FailSwitch> fail;
    int32_t expected;
    Written written;
    uint32_t extraFlags = 0;
    uint32_t maxOutput = 0;
};

const StreamCase kStreamCases[] = {
    {"success", visibleSeparated, kSeparated, {}, KRM_OK, Written::Text},
    {"empty body", [](const fs::path& dir) { return separatedDocument(dir, {}); }, kSeparated, {}, KRM_OK,
     Written::Nothing},
    {"SrcInfo allocation fails", visibleSeparated, kSeparated, FailSwitch{KRM_SVC_MALLOC, 1}, KRM_ERR_NO_MEMORY,
     Written::Nothing},
    {"body file missing",
     [](const fs::path& dir) {
         writeFile(dir / "a.FMT", formatBlock());
         return dir / "a.FMT";
     },
     kSeparated, {}, KRM_ERR_OPEN, Written::Nothing},
    {"format file missing",
     [](const fs::path& dir) {
         writeFile(dir / "a.DOC", visibleBody());
         return dir / "a.DOC";
     },
     kSeparated, {}, KRM_ERR_OPEN, Written::Nothing},
    // Clean-up closes the body, then the format file.
    {"body close fails", visibleSeparated, kSeparated, FailSwitch{KRM_SVC_FILE_CLOSE, 1}, KRM_ERR_BROKEN,
     Written::Text},
    {"format close fails", visibleSeparated, kSeparated, FailSwitch{KRM_SVC_FILE_CLOSE, 2}, KRM_ERR_BROKEN,
     Written::Text},
    {"unknown format code", visibleSeparated, kUnknownFormat, {}, KRM_ERR_UNSUPPORTED, Written::Nothing},
    {"mixed-case name",
     [](const fs::path& dir) {
         writeFile(dir / "a.Doc", visibleBody());
         writeFile(dir / "a.Fmt", formatBlock());
         return dir / "a.Doc";
     },
     kSeparated, {}, KRM_ERR_UNSUPPORTED, Written::Nothing},
    {"source path too long",
     [](const fs::path& dir) { return dir / (std::string(1100, 'x') + ".FMT"); }, kSeparated, {},
     KRM_ERR_UNSUPPORTED, Written::Nothing},
    // Password, no text, broken body and write failures all reach the host as "no text".
    {"password flag", [](const fs::path& dir) { return separatedDocument(dir, visibleBody(), kPasswordFlag); },
     kSeparated, {}, KRM_ERR_NO_TEXT, Written::Nothing},
    {"stream write fails", visibleSeparated, kSeparated, FailSwitch{KRM_SVC_WRITE_STREAM, 1}, KRM_ERR_NO_TEXT,
     Written::Nothing},
    {"no visible text", [](const fs::path& dir) { return separatedDocument(dir, noTextBody()); }, kSeparated, {},
     KRM_ERR_NO_TEXT, Written::Nothing},
    {"body without end byte", [](const fs::path& dir) { return separatedDocument(dir, unendedBody()); }, kSeparated,
     {}, KRM_ERR_NO_TEXT, Written::Text},
    {"output limit reached", [](const fs::path& dir) { return separatedDocument(dir, longBody()); }, kSeparated, {},
     KRM_ERR_OUTPUT_LIMIT, Written::Some, KRM_OPT_SIZE_LIMIT, 12},
    {"combined document",
     [](const fs::path& dir) {
         writeFile(dir / "a.oas", makeCombinedDocument(formatBlock(), visibleBody()));
         return dir / "a.oas";
     },
     kCombined, {}, KRM_OK, Written::Text},
    {"combined document missing", [](const fs::path& dir) { return dir / "none.oas"; }, kCombined, {}, KRM_ERR_OPEN,
     Written::Nothing},
    {"compound document",
     [](const fs::path& dir) {
         writeCompoundDocument(dir / "a.ole", formatBlock(), visibleBody());
         return dir / "a.ole";
     },
     kCompound, {}, KRM_OK, Written::Text},
    {"compound document without text",
     [](const fs::path& dir) {
         writeCompoundDocument(dir / "a.ole", formatBlock(), noTextBody());
         return dir / "a.ole";
     },
     kCompound, {}, KRM_ERR_NO_TEXT, Written::Nothing},
    {"not a compound file",
     [](const fs::path& dir) {
         writeFile(dir / "a.ole", visibleBody());
         return dir / "a.ole";
     },
     kCompound, {}, KRM_ERR_OPEN, Written::Nothing},
};

class StreamEntry : public HostCheckedTest {};

TEST_F(StreamEntry, ReturnCodesAndWhatReachesTheStream) {
    for (const StreamCase& c : kStreamCases) {
        SCOPED_TRACE(c.name);
        TempDir caseDir;
        const fs::path source = c.makeSource(caseDir.path());
        HostOptions options = loggingOptions(c.extraFlags, c.maxOutput);
        const uint16_t formatCode = c.formatCode;
        {
            MemoryStream stream;
            if (c.fail) {
                KRMTest_FailAt(c.fail->service, c.fail->n);
            }
            EXPECT_EQ(GetTextStreamWithErrCallback(source.c_str(), stream.handle(), &options, &formatCode, 0),
                      c.expected);
            KRMTest_ResetFailures();
            switch (c.written) {
            case Written::Text:
                EXPECT_EQ(stream.text(), kVisibleText);
                break;
            case Written::Nothing:
                EXPECT_EQ(stream.text(), "");
                break;
            case Written::Some:
                EXPECT_FALSE(stream.text().empty());
                break;
            }
        }
        expectHostCountersZero();
        // No output file is made beside the source.
        for (const auto& entry : fs::directory_iterator(caseDir.path())) {
            EXPECT_EQ(entry.path().extension() == ".txt", false) << entry.path();
        }
        const auto lines = readLogLines(logFileOf(source));
        EXPECT_EQ(hasLine(lines, kSuccessLine), c.expected == KRM_OK);
    }
}

TEST_F(StreamEntry, CompleteLogIsNamedAfterTheSource) {
    TempDir dir;
    writeSeparated(dir / "a", visibleBody(), formatBlock());
    HostOptions options = loggingOptions();
    const uint16_t formatCode = kSeparated;
    {
        MemoryStream stream;
        ASSERT_EQ(GetTextStreamWithErrCallback((dir / "a.FMT").c_str(), stream.handle(), &options, &formatCode, 0),
                  KRM_OK);
    }
    const std::vector<std::string> expected = {
        kStartLine1,
        kStartLine2,
        kAllocLine,
        fileLine("Open Appfile: ", dir / "a.DOC"),
        fileLine("Open Fmtfile: ", dir / "a.FMT"),
        kDecoderStart,
        kDecoderEnd,
        kFreeLine,
        fileLine("Close Appfile: ", dir / "a.DOC"),
        fileLine("Close Fmtfile: ", dir / "a.FMT"),
        kSuccessLine,
    };
    EXPECT_EQ(withoutDecoderLines(readLogLines(logFileOf(dir / "a.FMT"))), expected);
}

// The compound storage is closed before the result step, right after SrcInfo is freed.
TEST_F(StreamEntry, CompoundStorageClosedAfterSrcInfoIsFreed) {
    TempDir dir;
    writeCompoundDocument(dir / "a.ole", formatBlock(), noTextBody());
    HostOptions options = loggingOptions();
    const uint16_t formatCode = kCompound;
    {
        MemoryStream stream;
        EXPECT_EQ(GetTextStreamWithErrCallback((dir / "a.ole").c_str(), stream.handle(), &options, &formatCode, 0),
                  KRM_ERR_NO_TEXT);
    }
    const auto lines = readLogLines(logFileOf(dir / "a.ole"));
    ASSERT_GE(lines.size(), 3u);
    const std::vector<std::string> tail = {"GetOleTextContent() end\r\n", kFreeLine,
                                           fileLine("Close Appfile: ", dir / "a.ole")};
    EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()), tail);
}

TEST_F(StreamEntry, RefusalLogsNoFileAndClosesTheLog) {
    TempDir dir;
    writeSeparated(dir / "a", visibleBody(), formatBlock());
    HostOptions options = loggingOptions();
    const uint16_t formatCode = kUnknownFormat;
    {
        MemoryStream stream;
        EXPECT_EQ(GetTextStreamWithErrCallback((dir / "a.FMT").c_str(), stream.handle(), &options, &formatCode, 0),
                  KRM_ERR_UNSUPPORTED);
    }
    const std::vector<std::string> expected = {kStartLine1, kStartLine2, kAllocLine, kFreeLine};
    EXPECT_EQ(readLogLines(logFileOf(dir / "a.FMT")), expected);
}

TEST_F(StreamEntry, MissingArgumentsAreRefused) {
    TempDir dir;
    writeSeparated(dir / "a", visibleBody(), formatBlock());
    HostOptions options = loggingOptions();
    const uint16_t formatCode = kSeparated;
    MemoryStream stream;
    const std::string source = (dir / "a.FMT").string();
    EXPECT_EQ(GetTextStreamWithErrCallback(nullptr, stream.handle(), &options, &formatCode, 0), KRM_ERR_UNSUPPORTED);
    EXPECT_EQ(GetTextStreamWithErrCallback(source.c_str(), stream.handle(), nullptr, &formatCode, 0),
              KRM_ERR_UNSUPPORTED);
    EXPECT_EQ(GetTextStreamWithErrCallback(source.c_str(), stream.handle(), &options, nullptr, 0),
              KRM_ERR_UNSUPPORTED);
    EXPECT_FALSE(fs::exists(logFileOf(source)));
    EXPECT_EQ(stream.text(), "");
}

} // namespace
