// Runs a built tool as a separate process and collects its exit status, standard output and
// standard error; the documents the tool tests give it.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "oasys_writer.h"
#include "test_util.h"

namespace tool_test {

namespace fs = std::filesystem;
using oasys_test::Bytes;

struct ToolRun {
    int status = -1; // exit status; -1 when the tool did not exit normally
    std::string out, err;
};

inline const fs::path kOasys2txt = OASYS2TXT_PATH;
inline const fs::path kOasysinfo = OASYSINFO_PATH;
inline const fs::path kExamplesDir = EXAMPLES_DIR;
inline const fs::path kExpectedDir = EXPECTED_DIR;

// Runs the tool with these arguments, standard input empty.
ToolRun runTool(const fs::path& tool, const std::vector<std::string>& arguments);
std::string readText(const fs::path& path);
// Text converted from UTF-8 with ICU, as the expected bytes of another charset.
std::string convertFromUtf8(const std::string& utf8, const char* charset);

// A body with these ASCII or Shift-JIS lines, each ended by CR LF, and the end mark.
Bytes bodyOf(const std::vector<std::string>& lines);
// A format block with this title and password flag word.
Bytes formatOf(const std::string& title = "T", uint16_t flagWord = 0);
enum class Kind { Separated, Combined, Compound };
// Writes dir/name.DOC+.FMT, dir/name.oas or dir/name.ole; returns the path to give the tools.
fs::path writeDocument(Kind kind, const fs::path& dir, const std::string& name, const Bytes& body,
                       const Bytes& format = formatOf());

// Each test gets a fresh folder; the host counters of the test process stay at zero.
class ToolTest : public oasys_test::HostCheckedTest {
protected:
    oasys_test::TempDir dir;
};

} // namespace tool_test
