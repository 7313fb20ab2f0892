// oasysinfo run as a user runs it: the samples' properties against expected files, ISO dates and
// their century rule, JSON with escaped line breaks, output charsets, failures.
#include <gtest/gtest.h>

#include <array>

#include "sample_documents.h"
#include "test_util.h"
#include "tool_runner.h"

using namespace tool_test;
using namespace oasys_test;

namespace {

class Oasysinfo : public HostCheckedTest {
protected:
    TempDir dir;
};

TEST_F(Oasysinfo, SamplesGiveTheirExpectedProperties) {
    for (const auto& sample : oasys_examples::sampleFiles()) {
        SCOPED_TRACE(sample.name);
        const std::string stem = fs::path(sample.name).stem().string();
        const ToolRun run = runTool(kOasysinfo, {(kExamplesDir / sample.name).string()});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out, readText(kExpectedDir / (stem + ".info")));
        const ToolRun json = runTool(kOasysinfo, {"--json", (kExamplesDir / sample.name).string()});
        EXPECT_EQ(json.status, 0) << json.err;
        std::string shown = json.out;
        shown.replace(shown.find(kExamplesDir.string()), kExamplesDir.string().size(), "EXAMPLES");
        EXPECT_EQ(shown, readText(kExpectedDir / (stem + ".json")));
    }
}

struct DateCase {
    std::array<uint8_t, 5> stored;
    const char* shown;
};

// Two stored year digits: 80-99 are 19xx, 00-79 are 20xx.
const DateCase kDateCases[] = {
    {{0x98, 0x12, 0x31, 0x23, 0x59}, "1998-12-31T23:59"}, {{0x80, 0x01, 0x01, 0x00, 0x00}, "1980-01-01T00:00"},
    {{0x79, 0x06, 0x15, 0x12, 0x05}, "2079-06-15T12:05"}, {{0x00, 0x02, 0x29, 0x08, 0x30}, "2000-02-29T08:30"},
    // Digits that are no date stay as stored.
    {{0x05, 0x13, 0x01, 0x00, 0x00}, "05年13月01日00時00分"}, {{0x05, 0x01, 0x01, 0x00, 0xA5}, "05年01月01日00時:5分"},
};

TEST_F(Oasysinfo, IsoDates) {
    for (const DateCase& c : kDateCases) {
        SCOPED_TRACE(c.shown);
        PropertyFields fields;
        fields.created = c.stored;
        writeSeparated(dir / "d", bodyOf({"x"}), makePropertyBlock(fields));
        const ToolRun run = runTool(kOasysinfo, {"-isodates", (dir / "d.DOC").string()});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find(std::string("Created:            ") + c.shown + "\n"), std::string::npos) << run.out;
    }
}

TEST_F(Oasysinfo, JsonEscapesLineBreaksAndQuotes) {
    PropertyFields fields;
    fields.title = "say \"hi\"";
    fields.comments = "line one\r\nline two";
    writeSeparated(dir / "d", bodyOf({"x"}), makePropertyBlock(fields));
    const ToolRun run = runTool(kOasysinfo, {"--json", (dir / "d.FMT").string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(R"("title":"say \"hi\"")"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(R"("comments":"line one\r\nline two")"), std::string::npos) << run.out;
    // The zero-filled date of the block is kept as stored; it is no date.
    EXPECT_NE(run.out.find(R"("created":{"stored":"00年00月00日00時00分","iso":null})"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << "one line";
}

TEST_F(Oasysinfo, PasswordFlagOfEachPackaging) {
    for (const Kind kind : {Kind::Separated, Kind::Combined, Kind::Compound}) {
        for (const uint16_t flagWord : {uint16_t{0}, uint16_t{0x0008}}) {
            const fs::path document =
                writeDocument(kind, dir.path(), "p" + std::to_string(static_cast<int>(kind)) + std::to_string(flagWord),
                              bodyOf({"x"}), formatOf("T", flagWord));
            SCOPED_TRACE(document.string());
            const ToolRun run = runTool(kOasysinfo, {document.string()});
            EXPECT_EQ(run.status, 0) << run.err;
            EXPECT_NE(run.out.find(flagWord ? "Password protected: yes\n" : "Password protected: no\n"),
                      std::string::npos)
                << run.out;
        }
    }
}

TEST_F(Oasysinfo, OutputCharsets) {
    const fs::path sample = kExamplesDir / "sample_combined.oas";
    const std::string utf8 = readText(kExpectedDir / "sample_combined.info");
    for (const char* charset : {"Shift_JIS", "EUC-JP", "UTF-16LE"}) {
        SCOPED_TRACE(charset);
        const ToolRun run = runTool(kOasysinfo, {"-enc", charset, sample.string()});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, convertFromUtf8(utf8, charset));
    }
}

struct FailureCase {
    std::vector<std::string> arguments; // "@" stands for the temp dir
    int status;
    const char* message;
};

const FailureCase kFailureCases[] = {
    {{"@/none.oas"}, 6, "oasysinfo: @/none.oas: no such file"},
    {{"@/plain.txt"}, 4, "oasysinfo: @/plain.txt: not an OASYS document"},
    {{"@/lone.DOC"}, 6, "format file lone.FMT is missing"},
    {{"-enc", "BOGUS", "@/plain.txt"}, 64, "unknown output charset BOGUS"},
    {{"--json", "-enc", "EUC-JP", "@/plain.txt"}, 64, "--json writes UTF-8"},
    {{"--packaging", "zip", "@/plain.txt"}, 64, "unknown packaging zip"},
    {{}, 64, "give exactly one document"},
};

TEST_F(Oasysinfo, Failures) {
    writeFile(dir / "plain.txt", bytes("hello\n"));
    writeFile(dir / "lone.DOC", bodyOf({"x"}));
    auto expand = [&](std::string text) {
        for (size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, dir.path().string());
        return text;
    };
    for (const FailureCase& c : kFailureCases) {
        std::vector<std::string> arguments;
        for (const std::string& a : c.arguments) arguments.push_back(expand(a));
        SCOPED_TRACE(c.message);
        const ToolRun run = runTool(kOasysinfo, arguments);
        EXPECT_EQ(run.status, c.status);
        EXPECT_NE(run.err.find(expand(c.message)), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
}

} // namespace
