// One way to run the filter on documents made by the test document writer: a reader or the text
// decoder called directly (with the log, output, SrcInfo and CallContext an entry would hand
// over), or an entry point called as a host calls it. Every run gives back the code, the text,
// the log lines and what the call left in its records.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "oasys_writer.h"
#include "test_util.h"

namespace oasys_test {

// The log leaves out the conversion service's "Codeconvert starting" lines; GetProperty's record
// holds 0xEE before the call.
struct FilterRun {
    int32_t code = -1; std::string text; bool outputExists = false; uint32_t position = 0; CallContext context{};
    SrcInfo srcInfo{}; std::vector<std::string> log; std::unique_ptr<PropertyRecord> record;
};

// toStream: output into a host memory stream; callerSupplied false: the caller record is the entry's own.
struct RunSetup {
    HostOptions options = makeOptions("UTF-8"); std::optional<uint32_t> bodySize; uint32_t start = 0;
    uint32_t firstBlockFlag = 0; bool toStream = false; CallerRecord* caller = nullptr; bool callerSupplied = true;
};
RunSetup flagged(uint32_t flags, uint32_t maxOutput = 0);

FilterRun decode(const Bytes& body, RunSetup setup = {}); // GetTextContent
// The text in blocks cut at these offsets, the first with its own header as in a combined document.
FilterRun decodeInBlocks(const Bytes& text, const std::vector<size_t>& cuts, RunSetup setup = {});
// GetDocTextContent on a combined document; GetOleTextContent on a compound file of these streams.
FilterRun readCombined(const Bytes& doc, RunSetup setup = {});
FilterRun readCompound(const std::vector<CompoundStream>& streams, RunSetup setup = {});

// An entry point as a host calls it; the log is the one named after the output or the source.
enum class Entry { File, Stream, File5, Properties };
FilterRun callEntry(Entry entry, const std::filesystem::path& source, const std::filesystem::path& output,
              uint16_t formatCode, const HostOptions& options, CallerRecord* caller = nullptr);

// An open host plain file holding content.
class OpenSource {
public:
    OpenSource(const std::filesystem::path& path, const Bytes& content);
    ~OpenSource();
    OpenSource(const OpenSource&) = delete;
    OpenSource& operator=(const OpenSource&) = delete;
    uint32_t handle() const { return handle_; }
private:
    uint32_t handle_ = 0;
};

bool hasLine(const std::vector<std::string>& log, const std::string& line);
std::string slotText(const PropertyRecord& record, uint32_t offset); // up to its NUL
Bytes repeated(const Bytes& content, size_t n);
std::string asText(const Bytes& b);
std::string icuConvert(const char* to, const char* from, std::string_view text); // "" when ICU fails
Bytes body(std::string_view text); // the text, then the end byte
Bytes sampleBody();                // "Hello", "World"
Bytes formatBlock(uint16_t flagWord = 0, size_t size = 1700); // flag word 0x0008: password
// An ECS4 record of one UTF-16 unit, as text (the substitute in front of it is separate).
std::string unicodeRecord(uint16_t unit);
// An ECS4 object record: "B!", six filler bytes, the type, then the rest of the content.
std::string objectRecord(char type, const std::string& rest = "");

// A body text (without its end byte) and what the decoder makes of it; cuts are tried below
// cutsBelow only (object data are scanned without the header test).
struct TextCase {
    const char* name; std::string text; std::string expected; int32_t code = KRM_OK; uint32_t flags = 0;
    size_t cutsBelow = SIZE_MAX;
};
// Decoded whole and cut by a block header at every offset, it gives the expected text and code.
void expectDecodedAtEveryCut(const TextCase& c);

} // namespace oasys_test
