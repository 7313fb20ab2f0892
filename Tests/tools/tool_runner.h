// Runs a built tool as a separate process and collects its exit status, standard output and
// standard error; documents and the fixture shared by the tool tests.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "oasys_writer.h"
#include "test_util.h"

namespace tool_test {

namespace fs = std::filesystem;
using oasys_test::Bytes;

struct ToolRun {
    int status = -1; // exit status; -1 when the tool did not exit normally
    std::string out;
    std::string err;
    int signal = 0;  // the signal that ended the tool, 0 when it exited
};

inline const fs::path kOasys2txt = OASYS2TXT_PATH;
inline const fs::path kOasysinfo = OASYSINFO_PATH;
inline const fs::path kExamplesDir = EXAMPLES_DIR;
inline const fs::path kExpectedDir = EXPECTED_DIR;

// Runs the tool with these arguments; standard input from stdinFile when given, else empty.
ToolRun runTool(const fs::path& tool, const std::vector<std::string>& arguments,
                const std::optional<fs::path>& stdinFile = std::nullopt);
// Runs a shell command line under a pseudo-terminal (util-linux script), output as one text.
ToolRun runOnTerminal(const std::string& commandLine);
// Runs the tool with standard output on a pipe whose reader has gone.
ToolRun runIntoClosedPipe(const fs::path& tool, const std::vector<std::string>& arguments);

// A tool running in the background; finish() waits for it and collects what it wrote.
class BackgroundTool {
public:
    BackgroundTool(const fs::path& tool, const std::vector<std::string>& arguments);
    pid_t pid() const { return pid_; }
    ToolRun finish();

private:
    oasys_test::TempDir capture_;
    pid_t pid_ = -1;
};

// A case description as a test name (letters, digits and '_').
std::string testNameOf(const char* description);
// Every '@' of the text replaced by the folder.
std::string expand(std::string text, const fs::path& folder);

std::string readText(const fs::path& path);
// Text converted from UTF-8 with ICU, as the expected bytes of another charset.
std::string convertFromUtf8(const std::string& utf8, const char* charset);

// A body with these ASCII or Shift-JIS lines, each ended by CR LF, and the end mark.
Bytes bodyOf(const std::vector<std::string>& lines);
// A body of this many numbered lines ("Line <n> of a long document, with words"): about 1 MB for
// 30 000.
Bytes longBody(int lines);
// A format block with this title, password flag word and default fields.
Bytes formatOf(const std::string& title = "T", uint16_t flagWord = 0);

enum class Kind { Separated, Combined, Compound };
// Writes a document of the packaging at dir/name (name without extension for separated
// documents, which get .DOC/.FMT); returns the path to give the tools.
fs::path writeDocument(Kind kind, const fs::path& dir, const std::string& name, const Bytes& body,
                       const Bytes& format);

// Each test gets a fresh folder; the host counters of the test process stay at zero.
class ToolTest : public oasys_test::HostCheckedTest {
protected:
    oasys_test::TempDir dir;
};

} // namespace tool_test
