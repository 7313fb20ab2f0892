// Running the container readers directly on documents made by the test document writer: the
// readers get a log, an output file, a SrcInfo block and a CallContext exactly as an entry point
// would hand them over, and everything is released again (host counters checked) before the
// result is looked at.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "oasys_writer.h"
#include "test_util.h"

namespace oasys_test {

constexpr uint32_t kLogOnly = KRM_OPT_LOG;
constexpr uint32_t kLogAndGuards = KRM_OPT_LOG | KRM_OPT_LOOP_GUARD;
inline const std::string kDecoderStart = "GetTextContent() starting\r\n";

struct ReaderRun {
    int32_t code = -1;
    std::vector<std::string> log;
    std::string text;       // the output file's content
    CallContext context{};  // as the reader left it (log handle cleared)
};

class ContainerTest : public HostCheckedTest {
protected:
    TempDir dir;

    // The combined document doc through GetDocTextContent.
    ReaderRun runCombined(const Bytes& doc, uint32_t flags = kLogOnly, const CallContext& preset = {});
    // A compound file of these streams through GetOleTextContent.
    ReaderRun runCompound(const std::vector<CompoundStream>& streams, uint32_t flags = kLogOnly,
                          const CallContext& preset = {});
    // fn on an open plain file holding content, then on the same content as a compound stream.
    void withFile(const Bytes& content, const std::function<void(uint32_t file)>& fn);
    void withStream(const Bytes& content, const std::function<void(uint32_t stream)>& fn);

private:
    using ReaderCall = std::function<int32_t(uint32_t output, SrcInfo*, HostOptions*, CallContext*)>;
    ReaderRun runReader(uint32_t flags, const CallContext& preset, const ReaderCall& call);
};

bool hasLine(const std::vector<std::string>& log, const std::string& line);
// content repeated n times.
Bytes repeated(const Bytes& content, size_t n);
// A small body of visible text ("Hello", "World"), ended by the end-of-text byte.
Bytes sampleBody();
// A format block with the given flag word, of the given size.
Bytes formatBlock(uint16_t flagWord = 0, size_t size = 1700);

}  // namespace oasys_test
