#include "tool_runner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <stdexcept>

#include <unicode/ucnv.h>

extern char** environ;

namespace tool_test {

using namespace oasys_test;

namespace {

// Starts argv with standard input from stdinFile (else /dev/null), standard output to stdoutFd
// (else the file "stdout" of the capture folder) and standard error to its file "stderr".
pid_t spawn(const std::vector<std::string>& argv, const fs::path& capture, const std::optional<fs::path>& stdinFile,
            int stdoutFd = -1) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, stdinFile ? stdinFile->c_str() : "/dev/null", O_RDONLY,
                                     0);
    if (stdoutFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, (capture / "stdout").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (capture / "stderr").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("cannot start " + argv[0]);
    return pid;
}

ToolRun collect(pid_t pid, const fs::path& capture) {
    int waitStatus = 0;
    waitpid(pid, &waitStatus, 0);
    const fs::path out = capture / "stdout";
    return {WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1, fs::exists(out) ? readText(out) : "",
            readText(capture / "stderr"), WIFSIGNALED(waitStatus) ? WTERMSIG(waitStatus) : 0};
}

ToolRun spawnAndWait(const std::vector<std::string>& argv, const std::optional<fs::path>& stdinFile) {
    TempDir capture;
    return collect(spawn(argv, capture.path(), stdinFile), capture.path());
}

std::vector<std::string> commandOf(const fs::path& tool, const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{tool.string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return argv;
}

} // namespace

ToolRun runTool(const fs::path& tool, const std::vector<std::string>& arguments,
                const std::optional<fs::path>& stdinFile) {
    return spawnAndWait(commandOf(tool, arguments), stdinFile);
}

ToolRun runIntoClosedPipe(const fs::path& tool, const std::vector<std::string>& arguments) {
    int ends[2];
    if (pipe(ends) != 0) throw std::runtime_error("cannot make a pipe");
    close(ends[0]);
    TempDir capture;
    const pid_t pid = spawn(commandOf(tool, arguments), capture.path(), std::nullopt, ends[1]);
    close(ends[1]);
    return collect(pid, capture.path());
}

BackgroundTool::BackgroundTool(const fs::path& tool, const std::vector<std::string>& arguments)
    : pid_(spawn(commandOf(tool, arguments), capture_.path(), std::nullopt)) {}

ToolRun BackgroundTool::finish() { return collect(pid_, capture_.path()); }

ToolRun runOnTerminal(const std::string& commandLine) {
    return spawnAndWait({"/usr/bin/script", "-qec", commandLine, "/dev/null"}, std::nullopt);
}

std::string testNameOf(const char* description) {
    std::string name = description;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

std::string expand(std::string text, const fs::path& folder) {
    for (size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, folder.string());
    return text;
}

std::string readText(const fs::path& path) {
    const Bytes content = readFile(path);
    return {content.begin(), content.end()};
}

std::string convertFromUtf8(const std::string& utf8, const char* charset) {
    std::string out(utf8.size() * 4 + 16, '\0');
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = ucnv_convert(charset, "UTF-8", out.data(), static_cast<int32_t>(out.size()), utf8.data(),
                                        static_cast<int32_t>(utf8.size()), &status);
    if (U_FAILURE(status)) throw std::runtime_error(std::string("ICU cannot convert to ") + charset);
    out.resize(static_cast<size_t>(length));
    return out;
}

Bytes bodyOf(const std::vector<std::string>& lines) {
    Bytes body;
    for (const std::string& line : lines) body = concat({body, bytes(line), crlf()});
    return concat({body, endOfText()});
}

Bytes longBody(int lines) {
    Bytes body;
    for (int i = 0; i < lines; ++i) {
        const std::string line = "Line " + std::to_string(i) + " of a long document, with words\r\n";
        body.insert(body.end(), line.begin(), line.end());
    }
    const Bytes end = endOfText();
    body.insert(body.end(), end.begin(), end.end());
    return body;
}

Bytes formatOf(const std::string& title, uint16_t flagWord) {
    PropertyFields fields;
    fields.title = title;
    fields.flagWord = flagWord;
    return makePropertyBlock(fields);
}

fs::path writeDocument(Kind kind, const fs::path& dir, const std::string& name, const Bytes& body,
                       const Bytes& format) {
    switch (kind) {
    case Kind::Separated: return writeSeparated(dir / name, body, format).doc;
    case Kind::Combined: writeFile(dir / (name + ".oas"), makeCombinedDocument(format, body, {3})); break;
    case Kind::Compound: writeCompoundDocument(dir / (name + ".ole"), format, body); break;
    }
    return dir / (name + (kind == Kind::Combined ? ".oas" : ".ole"));
}

} // namespace tool_test
