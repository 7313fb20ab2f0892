// oasys2txt run as a user runs it: the samples against their expected text, every exit status
// with its message, output charsets, detection of the packaging, standard output against a file,
// standard input.
#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <string_view>

#include "sample_documents.h"
#include "test_util.h"
#include "tool_runner.h"

using namespace tool_test;
using namespace oasys_test;
using namespace std::literals;

namespace {

const std::string kSampleText = readText(kExpectedDir / "sample_combined.txt");

class Oasys2txt : public HostCheckedTest {
protected:
    TempDir dir;
};

// ---- Samples -------------------------------------------------------------------------------------

TEST_F(Oasys2txt, SamplesGiveTheirExpectedText) {
    for (const auto& sample : oasys_examples::sampleFiles()) {
        SCOPED_TRACE(sample.name);
        const fs::path output = dir / (sample.name + ".txt");
        const ToolRun run = runTool(kOasys2txt, {(kExamplesDir / sample.name).string(), output.string()});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, "");
        const std::string expectedName = fs::path(sample.name).stem().string() + ".txt";
        EXPECT_EQ(readText(output), readText(kExpectedDir / expectedName));
    }
}

TEST_F(Oasys2txt, CommittedSamplesAreWhatTheGeneratorMakes) {
    oasys_examples::writeSamples(dir.path());
    // The compound sample goes through libgsf's writer; its text stands for it (above), the plain
    // files are compared byte for byte.
    for (const char* name : {"sample_separated.DOC", "sample_separated.FMT", "sample_combined.oas"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(readText(dir / name), readText(kExamplesDir / name));
    }
}

// ---- Exit status and message ---------------------------------------------------------------------

enum class Target { File, Stdout };

struct StatusCase {
    const char* name;
    std::function<std::vector<std::string>(const fs::path& dir, const fs::path& output)> arguments;
    Target target;
    int status;
    const char* message; // part of standard error; empty: nothing on standard error
    bool outputStays;
};

std::vector<std::string> withOutput(std::vector<std::string> arguments, Target target, const fs::path& output) {
    if (target == Target::File) arguments.push_back(output.string());
    return arguments;
}

fs::path visibleCombined(const fs::path& dir) {
    return writeDocument(Kind::Combined, dir, "doc", bodyOf({"Hello"}), formatOf());
}

const StatusCase kStatusCases[] = {
    {"success", [](auto& d, auto&) { return std::vector<std::string>{visibleCombined(d).string()}; }, Target::File, 0,
     "", true},
    {"output limit",
     [](auto& d, auto&) { return std::vector<std::string>{"--max-bytes", "3", visibleCombined(d).string()}; },
     Target::File, 1, "maximum output size", true},
    {"no visible text",
     [](auto& d, auto&) {
         return std::vector<std::string>{writeDocument(Kind::Separated, d, "blank", bodyOf({"", ""}), formatOf()).string()};
     },
     Target::File, 2, "no visible text", false},
    {"no visible text to stdout",
     [](auto& d, auto&) {
         return std::vector<std::string>{writeDocument(Kind::Combined, d, "blank", bodyOf({""}), formatOf()).string()};
     },
     Target::Stdout, 2, "no visible text", false},
    {"password",
     [](auto& d, auto&) {
         return std::vector<std::string>{
             writeDocument(Kind::Separated, d, "secret", bodyOf({"Hidden"}), formatOf("T", 0x0008)).string()};
     },
     Target::File, 3, "password-protected", false},
    // The stream entry reports a protected document as "no text"; the tool still names the cause.
    {"password to stdout",
     [](auto& d, auto&) {
         return std::vector<std::string>{
             writeDocument(Kind::Compound, d, "secret", bodyOf({"Hidden"}), formatOf("T", 0x0018)).string()};
     },
     Target::Stdout, 3, "password-protected", false},
    {"not OASYS",
     [](auto& d, auto&) {
         writeFile(d / "notes.txt", bytes("plain text\n"));
         return std::vector<std::string>{(d / "notes.txt").string()};
     },
     Target::File, 4, "not an OASYS document", false},
    {"compound file without the OASYS stream list",
     [](auto& d, auto&) {
         writeCompound(d / "other.ole", {{"WordDocument", bytes("abc")}});
         return std::vector<std::string>{(d / "other.ole").string()};
     },
     Target::File, 4, "not an OASYS document", false},
    {"broken combined document",
     [](auto& d, auto&) {
         writeFile(d / "broken.oas", concat({bytes("\xF1\x10\x80\x00"sv), bytes("\xF7\x7E\x80\x00\x12\x34"sv)}));
         return std::vector<std::string>{(d / "broken.oas").string()};
     },
     Target::File, 5, "broken", false},
    {"missing document",
     [](auto& d, auto&) { return std::vector<std::string>{(d / "missing.DOC").string()}; }, Target::File, 6,
     "no such file", false},
    {"separated document without its format file",
     [](auto& d, auto&) {
         writeFile(d / "lone.DOC", bodyOf({"Hello"}));
         return std::vector<std::string>{(d / "lone.DOC").string()};
     },
     Target::File, 6, "format file lone.FMT is missing", false},
    {"output cannot be created",
     [](auto& d, auto&) {
         writeFile(d / "plainfile", bytes("x"));
         return std::vector<std::string>{visibleCombined(d).string(), (d / "plainfile" / "out.txt").string()};
     },
     Target::Stdout, 7, "cannot create", false},
    {"output folder missing",
     [](auto& d, auto&) {
         return std::vector<std::string>{visibleCombined(d).string(), (d / "missing" / "out.txt").string()};
     },
     Target::Stdout, 7, "cannot create", false},
    {"unknown option", [](auto&, auto&) { return std::vector<std::string>{"--frobnicate", "x.DOC"}; }, Target::File, 64,
     "unknown option --frobnicate", false},
    {"unknown charset",
     [](auto& d, auto&) { return std::vector<std::string>{"-enc", "NO-SUCH-CHARSET", visibleCombined(d).string()}; },
     Target::File, 64, "unknown output charset NO-SUCH-CHARSET", false},
    {"bad number", [](auto& d, auto&) { return std::vector<std::string>{"-j", "0", "-o", d.string(), "x.DOC"}; },
     Target::Stdout, 64, "-j needs a number", false},
    {"several documents without -o",
     [](auto&, auto&) { return std::vector<std::string>{"a.DOC", "b.DOC", "c.DOC"}; }, Target::Stdout, 64,
     "several documents need -o DIR", false},
};

class ExitStatus : public ::testing::TestWithParam<StatusCase> {
protected:
    TempDir dir;
};

TEST_P(ExitStatus, StatusAndMessage) {
    const StatusCase& c = GetParam();
    const fs::path output = dir / "out.txt";
    const ToolRun run = runTool(kOasys2txt, withOutput(c.arguments(dir.path(), output), c.target, output));
    EXPECT_EQ(run.status, c.status) << run.err;
    if (*c.message) {
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(run.err.rfind("oasys2txt: ", 0), 0u) << "messages start with the tool's name: " << run.err;
    } else {
        EXPECT_EQ(run.err, "");
    }
    if (c.target == Target::File) {
        EXPECT_EQ(fs::exists(output), c.outputStays);
        EXPECT_EQ(run.out, "") << "nothing on standard output when the text goes to a file";
    }
    // Text handed to standard output stays there; a failed document has handed over no visible text.
    if (c.status >= 2 && c.target == Target::Stdout) {
        EXPECT_EQ(run.out.find_first_not_of("\r\n "), std::string::npos) << run.out;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ExitStatus, ::testing::ValuesIn(kStatusCases),
                         [](const auto& info) { return testNameOf(info.param.name); });

TEST_F(Oasys2txt, OutputLimitKeepsTheTextUpToTheLimit) {
    const fs::path output = dir / "out.txt";
    const fs::path sample = kExamplesDir / "sample_combined.oas";
    const ToolRun limited = runTool(kOasys2txt, {"--max-bytes", "20", sample.string(), output.string()});
    EXPECT_EQ(limited.status, 1) << limited.err;
    const std::string text = readText(output);
    EXPECT_LE(text.size(), 20u);
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(kSampleText.substr(0, text.size()), text);
}

TEST_F(Oasys2txt, AFullStandardOutputIsAnOutputError) {
    // The stream entry reports the failed write as "no text"; the tool finds the real cause.
    const std::string command =
        "exec " + kOasys2txt.string() + " " + (kExamplesDir / "sample_compound.oas").string() + " > /dev/full";
    const ToolRun run = runTool("/bin/sh", {"-c", command});
    EXPECT_EQ(run.status, 7) << run.err;
    EXPECT_NE(run.err.find("sample_compound.oas: writing to standard output failed"), std::string::npos) << run.err;
}

TEST_F(Oasys2txt, NoFolderIsMadeForASingleTextFile) {
    runTool(kOasys2txt, {visibleCombined(dir.path()).string(), (dir / "missing" / "out.txt").string()});
    EXPECT_FALSE(fs::exists(dir / "missing"));
}

// ---- Charsets ----------------------------------------------------------------------------------------

TEST_F(Oasys2txt, OutputCharsets) {
    const fs::path sample = kExamplesDir / "sample_separated.DOC";
    for (const char* charset : {"UTF-8", "Shift_JIS", "EUC-JP", "UTF-16LE"}) {
        SCOPED_TRACE(charset);
        const fs::path output = dir / (std::string(charset) + ".txt");
        const ToolRun run = runTool(kOasys2txt, {"-enc", charset, sample.string(), output.string()});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(readText(output), convertFromUtf8(kSampleText, charset));
    }
}

TEST_F(Oasys2txt, ListsCharsetsThatItAccepts) {
    const ToolRun run = runTool(kOasys2txt, {"-listenc"});
    ASSERT_EQ(run.status, 0) << run.err;
    for (const char* name : {"\nUTF-8\n", "\nUTF-16LE\n", "\nEUC-JP\n"})
        EXPECT_NE(("\n" + run.out).find(name), std::string::npos) << name;
}

// ---- Packaging detection --------------------------------------------------------------------------------

struct DetectionCase {
    const char* name;
    std::function<fs::path(const fs::path& dir)> write;
    const char* packaging; // in the report
};

const Bytes kHello = bodyOf({"Hello"});

const DetectionCase kDetectionCases[] = {
    {"separated named by .DOC", [](auto& d) { return writeDocument(Kind::Separated, d, "a", kHello, formatOf()); },
     "separated"},
    {"separated named by .FMT",
     [](auto& d) { return writeSeparated(d / "a", kHello, formatOf()).fmt; }, "separated"},
    {"separated named by .grp, lower case",
     [](auto& d) { return writeSeparated(d / "a", kHello, formatOf(), true, true).grp; }, "separated"},
    {"separated in mixed case",
     [](auto& d) {
         writeFile(d / "Mixed.Doc", kHello);
         writeFile(d / "Mixed.Fmt", formatOf());
         return d / "Mixed.Doc";
     },
     "separated"},
    {"separated under a folder that looks like a member",
     [](auto& d) {
         fs::create_directories(d / "old.FMT.d");
         return writeDocument(Kind::Separated, d / "old.FMT.d", "a.b", kHello, formatOf());
     },
     "separated"},
    {"combined by its bytes, any name",
     [](auto& d) {
         writeFile(d / "combined.DOC", makeCombinedDocument(formatOf(), kHello));
         return d / "combined.DOC";
     },
     "combined"},
    {"compound by its bytes", [](auto& d) { return writeDocument(Kind::Compound, d, "c", kHello, formatOf()); },
     "compound"},
};

class Detection : public ::testing::TestWithParam<DetectionCase> {
protected:
    TempDir dir;
};

TEST_P(Detection, FindsThePackagingAndTheText) {
    const fs::path document = GetParam().write(dir.path());
    const fs::path output = dir / "out.txt";
    const fs::path report = dir / "report.json";
    const ToolRun run = runTool(kOasys2txt, {"--report", report.string(), document.string(), output.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readText(output), "Hello\r\n");
    EXPECT_NE(readText(report).find(std::string("\"packaging\":\"") + GetParam().packaging + "\""), std::string::npos)
        << readText(report);
}

INSTANTIATE_TEST_SUITE_P(Cases, Detection, ::testing::ValuesIn(kDetectionCases),
                         [](const auto& info) { return testNameOf(info.param.name); });

TEST_F(Oasys2txt, ForcedPackagingIsPassedToTheFilter) {
    // A combined document declared compound is not a compound file: the filter cannot open it.
    const fs::path document = visibleCombined(dir.path());
    const ToolRun run = runTool(kOasys2txt, {"--packaging", "compound", document.string(), (dir / "o.txt").string()});
    EXPECT_EQ(run.status, 6) << run.err;
    const ToolRun fine = runTool(kOasys2txt, {"--packaging", "combined", document.string()});
    EXPECT_EQ(fine.status, 0) << fine.err;
    EXPECT_EQ(fine.out, "Hello\r\n");
}

// ---- Standard output, standard input ---------------------------------------------------------------------

TEST_F(Oasys2txt, StandardOutputHoldsTheSameTextAsAFile) {
    for (const auto& sample : oasys_examples::sampleFiles()) {
        SCOPED_TRACE(sample.name);
        const fs::path document = kExamplesDir / sample.name;
        const ToolRun toStdout = runTool(kOasys2txt, {document.string()});
        const ToolRun toDash = runTool(kOasys2txt, {"-enc", "EUC-JP", document.string(), "-"});
        EXPECT_EQ(toStdout.status, 0) << toStdout.err;
        EXPECT_EQ(toStdout.out, kSampleText);
        EXPECT_EQ(toDash.out, convertFromUtf8(kSampleText, "EUC-JP"));
        EXPECT_EQ(toStdout.err, "");
    }
}

TEST_F(Oasys2txt, ReadsCombinedAndCompoundDocumentsFromStandardInput) {
    for (const char* name : {"sample_combined.oas", "sample_compound.oas"}) {
        SCOPED_TRACE(name);
        const ToolRun run = runTool(kOasys2txt, {"-"}, kExamplesDir / name);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, kSampleText);
    }
    const ToolRun separated = runTool(kOasys2txt, {"-"}, kExamplesDir / "sample_separated.DOC");
    EXPECT_EQ(separated.status, 4);
    EXPECT_NE(separated.err.find("standard input: not an OASYS document"), std::string::npos) << separated.err;
}

TEST_F(Oasys2txt, RuledLinesOptionChangesOnlyRuledLines) {
    const fs::path sample = kExamplesDir / "sample_combined.oas";
    const ToolRun run = runTool(kOasys2txt, {"--ruled-lines", "--no-loop-guard", sample.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, kSampleText);
}

TEST_F(Oasys2txt, WritesTheFilterLogIntoTheLogDirectory) {
    const fs::path logs = dir / "logs";
    const fs::path output = dir / "out.txt";
    const ToolRun run = runTool(kOasys2txt, {"--log", logs.string(), (kExamplesDir / "sample_combined.oas").string(),
                                             output.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> lines = readLogLines(logs / "out.txt.ve2.log");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "GetText() end successfully\r\n");
}

} // namespace
