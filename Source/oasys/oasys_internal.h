// Inside liboasys: documents, their descriptors, the per-call binding of names, and how results
// are filled. The C interface is oasys.h; nothing here crosses it.
#pragma once

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "krm_types.h"
#include "oasys.h"

namespace oasys {

// Owns one open file descriptor.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void reset(int fd = -1);
    // Closes now; false when the system reports the close failed.
    bool close();

private:
    int fd_ = -1;
};

// A result under construction: every failure path of the library ends in fail().
class Outcome {
public:
    explicit Outcome(oasys_result* result, oasys_packaging packaging = OASYS_PACKAGING_AUTO);
    oasys_status ok();
    oasys_status fail(oasys_status status, const std::string& message, int systemError = 0);
    void setPackaging(oasys_packaging packaging) { result_.packaging = packaging; }
    void setFilterCode(int32_t code) { result_.filter_code = code; }
    void setBytes(uint64_t bytes) { result_.bytes = bytes; }

private:
    // ok() and fail() both end here, where the result is handed to the caller.
    oasys_status finish(oasys_status status, const std::string& message, int systemError);

    oasys_result* target_;
    oasys_result result_{};
};

// The message for a system failure: what was tried and the system's reason.
std::string systemMessage(const std::string& what, int error);

// The status and the words for a return code of the filter's text or property entry.
oasys_status statusOfFilterCode(int32_t code, oasys_packaging packaging);
std::string causeOfFilterCode(int32_t code);

} // namespace oasys

// An open document: its descriptors, kept from the open to oasys_close.
struct oasys_document {
    oasys_packaging packaging = OASYS_PACKAGING_AUTO;
    oasys::UniqueFd source;  // combined or compound file; a separated document's .DOC body
    oasys::UniqueFd format;  // a separated document's .FMT file
    std::string name = "document"; // the name the filter is given: from the path, else "document"
    std::string sourceMissing; // why the body is not there (separated documents only)
    std::string formatMissing; // why the format file is not there
};

namespace oasys {

// The names under which a document and an output are handed to the filter for one call (they show
// in its log). The members of a separated document are bound as the document's name with
// upper-case extensions, which is all the filter needs to find one from the other.
inline constexpr std::string_view kBodyExtension = ".DOC";
inline constexpr std::string_view kFormatExtension = ".FMT";
inline constexpr std::string_view kGroupExtension = ".GRP";
inline constexpr const char* kOutputName = "text";

// One call's binding of the document's descriptors (and an output) to names the filter opens.
class CallBinding {
public:
    CallBinding() = default;
    CallBinding(const CallBinding&) = delete;
    CallBinding& operator=(const CallBinding&) = delete;
    ~CallBinding();
    // Binds the document and, when given, the output descriptor and the log path.
    oasys_status bind(const oasys_document& document, int outputFd, const char* logPath, Outcome& outcome);
    // prefix + name.
    std::string path(const char* name) const { return prefix_ + name; }
    // The document's path as the filter's entries take it: the body (or the .FMT file when
    // forProperties for a separated document), or the whole file.
    std::string sourcePath(const oasys_document& document, bool forProperties) const;

private:
    uint32_t handle_ = 0;
    std::string prefix_;
};

// The filter's option record from ours; BAD_ARGUMENT (through outcome) for a value out of range.
oasys_status hostOptionsOf(const oasys_options* options, HostOptions& host, Outcome& outcome);
uint16_t formatCodeOf(oasys_packaging packaging);

// Appends to a growing buffer, keeping four zero bytes after the data; false when out of memory.
bool appendToBuffer(oasys_buffer& buffer, const char* data, size_t size);

// A new anonymous in-memory file (memfd) open for reading and writing; invalid with errno set.
UniqueFd anonymousFile();

// Runs the body of a C entry point: no exception crosses the interface; running out of memory is
// reported as such.
template <class Body>
oasys_status guarded(oasys_result* result, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return Outcome(result).fail(OASYS_OUTPUT_ERROR, "out of memory", ENOMEM);
    }
}

// UNREADABLE with the reason when a member the call reads is missing: a separated document's
// format file always, its body when the call reads the text.
oasys_status membersPresent(const oasys_document& document, bool readsBody, Outcome& outcome);

// Whether a compound file is an OASYS document: BROKEN when it cannot be opened as a compound
// file, NOT_OASYS without the stream list.
oasys_status checkCompound(const oasys_document& document, Outcome& outcome);

// The password flag of the document's format block, read as the filter's readers read it.
oasys_status passwordOf(const oasys_document& document, bool& passwordSet, Outcome& outcome);

} // namespace oasys
