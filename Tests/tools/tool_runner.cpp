#include "tool_runner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

#include <unicode/ucnv.h>

extern char** environ;

namespace tool_test {

using namespace oasys_test;

ToolRun runTool(const fs::path& tool, const std::vector<std::string>& arguments) {
    TempDir capture;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, (capture / "out").c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (capture / "err").c_str(), O_WRONLY | O_CREAT, 0600);
    std::vector<std::string> argv{tool.string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("cannot start " + argv[0]);
    int waitStatus = 0;
    waitpid(pid, &waitStatus, 0);
    return {WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1, readText(capture / "out"), readText(capture / "err")};
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
