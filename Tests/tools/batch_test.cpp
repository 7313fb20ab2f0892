// oasys2txt over many documents: one text file per document under -o DIR, the same files with one
// worker or two, the report, the summary, the exit status of the worst document, and the progress
// bar, which shows only on a terminal.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <regex>
#include <sstream>

#include "tool_runner.h"

namespace tool_test {
namespace {

using namespace oasys_test;

constexpr int kDocuments = 210; // 70 of each packaging

std::string nameOf(int i) {
    char name[16];
    std::snprintf(name, sizeof name, "doc%03d", i);
    return name;
}

// doc000..doc<count-1> alternately at the top and in part1/, cycling through the three packagings.
void writeBatch(const fs::path& root, int count) {
    fs::create_directories(root / "part1");
    for (int i = 0; i < count; ++i) {
        const Bytes body = bodyOf({"Document " + std::to_string(i), "\x93\xFA\x96\x7B line " + std::to_string(i % 7)});
        writeDocument(static_cast<Kind>(i % 3), i % 2 ? root / "part1" : root, nameOf(i), body, formatOf());
    }
}

std::map<std::string, std::string> treeContents(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file()) files[entry.path().lexically_relative(root).string()] = readText(entry.path());
    return files;
}

struct ReportLine {
    std::string path, packaging, code, outcome, bytes;
};

std::vector<ReportLine> readReport(const fs::path& file) {
    static const std::regex line(R"re(\{"path":"([^"]*)","packaging":"?([a-z]+)"?,"code":(\w+),"outcome":"([a-z-]+)",)re"
                                 R"re("reason":(?:null|"[^"]*"),"bytes":(\w+),"ms":\d+\})re");
    std::vector<ReportLine> lines;
    std::istringstream in(readText(file));
    for (std::string text; std::getline(in, text);) {
        std::smatch m;
        EXPECT_TRUE(std::regex_match(text, m, line)) << text;
        if (!m.empty()) lines.push_back({m[1], m[2], m[3], m[4], m[5]});
    }
    return lines;
}

using Batch = ToolTest;

TEST_F(Batch, TwoWorkersWriteTheSameFilesAsOneAndTheReportIsRight) {
    const fs::path input = dir / "in";
    writeBatch(input, kDocuments);
    // A protected document, a document without text, and a file that is no document at all.
    writeDocument(Kind::Separated, input / "part1", "secret", bodyOf({"Hidden"}), formatOf("T", 0x0008));
    writeDocument(Kind::Combined, input, "blank", bodyOf({""}), formatOf());
    writeFile(input / "readme.txt", bytes("not a document\n"));

    for (const char* workers : {"1", "2"}) {
        const ToolRun run = runTool(kOasys2txt, {"-r", "-j", workers, "-o", (dir / "out" += workers).string(),
                                                 "--report", (dir / "r" += workers).string(), input.string()});
        // The protected document is the worst outcome, wherever it stands in the batch.
        EXPECT_EQ(run.status, 3) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("oasys2txt: 212 documents: 210 ok, 1 no-text, 1 password\n"), std::string::npos)
            << run.err;
        EXPECT_NE(run.err.find("secret.DOC': the document is password-protected"), std::string::npos);
        EXPECT_NE(run.err.find("blank.oas': the document holds no visible text"), std::string::npos);
        EXPECT_EQ(run.err.find('\r'), std::string::npos) << "no progress bar when standard error is no terminal";
    }

    const auto files = treeContents(dir / "out1");
    EXPECT_EQ(files, treeContents(dir / "out2"));
    ASSERT_EQ(files.size(), static_cast<size_t>(kDocuments));
    for (int i = 0; i < kDocuments; ++i) {
        const std::string name = (i % 2 ? "part1/" : "") + nameOf(i) + (i % 3 == 0 ? ".DOC" : i % 3 == 1 ? ".oas" : ".ole") + ".txt";
        ASSERT_TRUE(files.count(name)) << name;
        EXPECT_EQ(files.at(name), "Document " + std::to_string(i) + "\r\n日本 line " + std::to_string(i % 7) + "\r\n");
    }

    const std::vector<ReportLine> report = readReport(dir / "r1");
    ASSERT_EQ(report.size(), 212u);
    std::map<std::string, int> outcomes, packagings;
    for (const ReportLine& line : report) {
        ++outcomes[line.outcome];
        ++packagings[line.packaging];
        const fs::path text = dir / "out1" / (fs::path(line.path).lexically_relative(input).string() + ".txt");
        if (line.outcome == "ok") {
            EXPECT_EQ(line.code, "0");
            EXPECT_EQ(line.bytes, std::to_string(fs::file_size(text))) << line.path;
        } else {
            EXPECT_EQ(line.bytes, "0") << line.path;
            EXPECT_FALSE(fs::exists(text)) << "a failed document leaves no text file: " << text;
            EXPECT_EQ(line.code, line.outcome == "password" ? "3001" : "3003") << line.path;
        }
    }
    EXPECT_EQ(outcomes, (std::map<std::string, int>{{"ok", 210}, {"no-text", 1}, {"password", 1}}));
    EXPECT_EQ(packagings, (std::map<std::string, int>{{"separated", 71}, {"combined", 71}, {"compound", 70}}));

    // One worker or two: the same report but for the times.
    const std::regex times(R"("ms":\d+)");
    EXPECT_EQ(std::regex_replace(readText(dir / "r1"), times, ""), std::regex_replace(readText(dir / "r2"), times, ""));
}

TEST_F(Batch, TheWorstOutcomeWinsWhateverTheOrder) {
    // Named one by one: a missing document (6) between a good one and a protected one (3).
    const fs::path good = writeDocument(Kind::Combined, dir.path(), "good", bodyOf({"Hello"}), formatOf());
    const fs::path secret = writeDocument(Kind::Separated, dir.path(), "secret", bodyOf({"x"}), formatOf("T", 8));
    const ToolRun run = runTool(kOasys2txt, {"-o", (dir / "out").string(), good.string(), (dir / "gone.oas").string(),
                                             secret.string()});
    EXPECT_EQ(run.status, 6) << run.err;
    EXPECT_NE(run.err.find("gone.oas': cannot open"), std::string::npos) << run.err;
    EXPECT_EQ(readText(dir / "out" / "good.oas.txt"), "Hello\r\n");
}

TEST_F(Batch, ProgressBarShowsOnATerminalOnlyAndQuietKeepsItAndTheSummaryBack) {
    writeBatch(dir / "in", 30);
    const std::string in = " " + (dir / "in").string();
    const ToolRun terminal = runOnTerminal(kOasys2txt.string() + " -r -j 2 -o " + (dir / "out").string() + in);
    EXPECT_EQ(terminal.status, 0) << terminal.out;
    for (const char* piece : {"\r[", "] 30/30", "doc/s", "ETA", "30 documents: 30 ok"})
        EXPECT_NE(terminal.out.find(piece), std::string::npos) << piece << "\n" << terminal.out;

    // Without -r only the 15 documents of the top folder count.
    const ToolRun quiet = runOnTerminal(kOasys2txt.string() + " -q -o " + (dir / "quiet").string() + in);
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out, "");
    EXPECT_EQ(treeContents(dir / "quiet").size(), 15u);
}

} // namespace
} // namespace tool_test
