// oasys2txt over trees an attacker or an unlucky user prepared: links planted in the output tree,
// folders and files it may not read, paths too long for the system, an interruption in the
// middle of a batch, a reader that goes away.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <sstream>
#include <thread>

#include "tool_runner.h"

namespace tool_test {
namespace {

using namespace oasys_test;
using namespace std::literals;

const Bytes kHello = bodyOf({"Hello"});

// Every entry under root but the skipped folders: its kind, a link's target, a file's content
// (pipes and devices are never opened).
std::map<std::string, std::string> snapshot(const fs::path& root, const std::vector<fs::path>& skip) {
    std::map<std::string, std::string> entries;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        if (std::find(skip.begin(), skip.end(), it->path()) != skip.end()) {
            it.disable_recursion_pending();
            continue;
        }
        const fs::file_status status = it->symlink_status();
        std::string state = std::to_string(static_cast<int>(status.type()));
        if (fs::is_symlink(status)) state += " -> " + fs::read_symlink(it->path()).string();
        if (fs::is_regular_file(status)) state += " " + readText(it->path());
        entries[it->path().lexically_relative(root).string()] = state;
    }
    return entries;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

using Safety = ToolTest;

TEST_F(Safety, ABatchChangesNothingOutsideItsOutputFolderWhateverLinksArePlanted) {
    const fs::path victims = dir / "victims", elsewhere = dir / "elsewhere", in = dir / "in", out = in / "out",
                   logs = dir / "logs";
    for (const fs::path& folder : {victims, elsewhere, in / "sub", out, logs}) fs::create_directories(folder);
    writeFile(victims / "v1", bytes("victim one\n"));
    writeFile(victims / "v2", bytes("victim two\n"));
    writeDocument(Kind::Combined, in, "a", kHello, formatOf());
    writeFile(in / "b.oas", bytes("\xF1\x10\x80\x00\xF7\x7E\x80\x00\x12\x34"sv)); // broken
    writeDocument(Kind::Compound, in / "sub", "c", kHello, formatOf());
    writeDocument(Kind::Separated, in, "d", kHello, formatOf());
    // Planted in the output tree and the log folder: links to files and to a folder elsewhere.
    fs::create_symlink(victims / "v1", out / "a.oas.txt");
    fs::create_symlink(victims / "v2", out / "b.oas.txt");
    fs::create_symlink(elsewhere, out / "sub");
    fs::create_symlink(victims / "v1", logs / "a.oas.ve2.log");
    fs::create_symlink(elsewhere, logs / "sub");
    // In the input tree: a link to a folder elsewhere, a device behind a link, a pipe.
    fs::create_symlink(elsewhere, in / "away");
    fs::create_symlink("/dev/zero", in / "zero.oas");
    ASSERT_EQ(mkfifo((in / "fifo.oas").c_str(), 0644), 0);
    const auto before = snapshot(dir.path(), {out, logs});

    const ToolRun run = runTool(kOasys2txt, {"-r", "-j", "2", "-o", out.string(), "--log", logs.string(), "--report",
                                             (out / "report").string(), in.string()});

    EXPECT_EQ(snapshot(dir.path(), {out, logs}), before) << "nothing outside the output and log folders changes";
    EXPECT_TRUE(fs::is_empty(elsewhere));
    EXPECT_EQ(run.status, 7) << run.err; // sub/c.ole: its text's folder is a planted link
    EXPECT_NE(run.err.find("/out/sub is a symbolic link; it is not followed"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("4 documents: 2 ok, 1 broken, 1 output-error"), std::string::npos) << run.err;
    // A link at a text's name is replaced by the text; a failed document leaves it as it was.
    EXPECT_FALSE(fs::is_symlink(out / "a.oas.txt"));
    EXPECT_EQ(readText(out / "a.oas.txt"), "Hello\r\n");
    EXPECT_TRUE(fs::is_symlink(out / "b.oas.txt"));
    EXPECT_EQ(readText(out / "d.DOC.txt"), "Hello\r\n");
    EXPECT_NE(readText(logs / "a.oas.ve2.log").find("GetText() end successfully"), std::string::npos);
    EXPECT_EQ(linesOf(readText(out / "report")).size(), 4u);
}

TEST_F(Safety, AnInterruptedBatchFinishesWhatRunsWritesItsReportAndLeavesNoTemporaryFile) {
    constexpr int kCopies = 300;
    const SeparatedPaths original = writeSeparated(dir / "original", longBody(3000), formatOf());
    const std::string text = runTool(kOasys2txt, {original.doc.string()}).out;
    fs::create_directories(dir / "in");
    for (int i = 0; i < kCopies; ++i) {
        fs::create_hard_link(original.doc, dir / "in" / ("doc" + std::to_string(i) + ".DOC"));
        fs::create_hard_link(original.fmt, dir / "in" / ("doc" + std::to_string(i) + ".FMT"));
    }

    for (const auto& [signal, status] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}}) {
        SCOPED_TRACE(signal);
        const fs::path out = dir / ("out" + std::to_string(signal));
        fs::create_directories(out);
        BackgroundTool tool(kOasys2txt, {"-j", "2", "-o", out.string(), "--report", (dir / "report").string(),
                                         (dir / "in").string()});
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (std::distance(fs::directory_iterator(out), fs::directory_iterator()) < 3 &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        kill(tool.pid(), signal);
        const ToolRun run = tool.finish();

        EXPECT_EQ(run.status, status) << run.err;
        EXPECT_NE(run.err.find(" not started"), std::string::npos) << run.err;
        size_t texts = 0;
        for (const auto& entry : fs::directory_iterator(out)) {
            EXPECT_EQ(entry.path().extension(), ".txt") << "no temporary file is left: " << entry.path();
            EXPECT_EQ(readText(entry.path()), text) << "a text under its final name is complete";
            ++texts;
        }
        EXPECT_LT(texts, static_cast<size_t>(kCopies));
        EXPECT_EQ(linesOf(readText(dir / "report")).size(), texts) << "one report line per finished document";
    }
}

TEST_F(Safety, UnreadableFoldersAndFilesHaveTheirReportLines) {
    const std::vector<std::string> asNobody = {"--reuid=65534", "--regid=65534", "--clear-groups",
                                               kOasys2txt.string()};
    auto withArguments = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), asNobody.begin(), asNobody.end());
        return arguments;
    };
    if (geteuid() != 0 || !fs::exists("/usr/bin/setpriv") ||
        runTool("/usr/bin/setpriv", withArguments({"--version"})).status != 0)
        GTEST_SKIP() << "needs root, setpriv (util-linux) and a build an unprivileged user may run";
    const fs::path in = dir / "in", out = dir / "out";
    fs::create_directories(in / "locked");
    fs::create_directories(out);
    writeDocument(Kind::Combined, in, "ok", kHello, formatOf());
    writeDocument(Kind::Combined, in, "secret", kHello, formatOf());
    writeDocument(Kind::Combined, in / "locked", "x", kHello, formatOf());
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(in / "locked", fs::perms::owner_all);
    fs::permissions(in / "secret.oas", fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_EQ(chown(out.c_str(), 65534, 65534), 0);

    const ToolRun run = runTool("/usr/bin/setpriv", withArguments({"-r", "-o", out.string(), "--report",
                                                                   (out / "report").string(), in.string()}));
    EXPECT_EQ(run.status, 6) << run.err;
    EXPECT_NE(run.err.find("locked': the folder cannot be read: Permission denied"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("secret.oas': cannot open"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("3 documents: 1 ok, 2 unreadable"), std::string::npos) << run.err;
    EXPECT_EQ(linesOf(readText(out / "report")).size(), 3u);
}

TEST_F(Safety, PathsTooLongForTheSystemHaveTheirReportLines) {
    // Twenty folders of 250 bytes each, made one beneath the other: beyond the system's 4096 bytes
    // for a path.
    fs::create_directories(dir / "in");
    writeDocument(Kind::Combined, dir / "in", "top", kHello, formatOf());
    const Bytes document = readFile(dir / "in" / "top.oas");
    int folder = open((dir / "in").c_str(), O_RDONLY | O_DIRECTORY);
    for (int depth = 0; depth < 20 && folder >= 0; ++depth) {
        const std::string name(250, 'd');
        mkdirat(folder, name.c_str(), 0755);
        const int next = openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY);
        close(folder);
        folder = next;
    }
    ASSERT_GE(folder, 0);
    const int deepest = openat(folder, "deep.oas", O_WRONLY | O_CREAT, 0644);
    ASSERT_EQ(write(deepest, document.data(), document.size()), static_cast<ssize_t>(document.size()));
    close(deepest);
    close(folder);

    const ToolRun run = runTool(kOasys2txt, {"-r", "-o", (dir / "out").string(), "--report",
                                             (dir / "report").string(), (dir / "in").string()});
    EXPECT_EQ(run.status, 6) << run.err;
    EXPECT_NE(run.err.find("File name too long"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("2 documents: 1 ok, 1 unreadable"), std::string::npos) << run.err;
    EXPECT_NE(readText(dir / "report").find("\"outcome\":\"unreadable\",\"reason\":"), std::string::npos);
    runTool("/bin/rm", {"-rf", (dir / "in").string(), (dir / "out").string()}); // deeper than remove_all reaches
}

TEST_F(Safety, AClosedPipeEndsTheToolQuietly) {
    const fs::path document = writeSeparated(dir / "long", longBody(20000), formatOf()).doc;
    fs::create_directories(dir / "tmp");
    setenv("TMPDIR", (dir / "tmp").c_str(), 1);
    const ToolRun run = runIntoClosedPipe(kOasys2txt, {"--log", (dir / "logs").string(), document.string()});
    unsetenv("TMPDIR");
    EXPECT_EQ(run.signal, SIGPIPE);
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(fs::is_empty(dir / "tmp")) << "the private log folder is removed";
}

} // namespace
} // namespace tool_test
