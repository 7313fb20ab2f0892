// Text extraction. The filter writes the text into a file bound to a name it can open (a
// temporary file beside a destination file, a new file of the caller's, or an anonymous file in
// memory); once its code is known the text is delivered to the caller's sink or dropped. So a
// failure never touches what the caller had, the exact outcome is known with one extraction, and
// a damaged document's text can be kept (salvage) or dropped (strict).
#include "oasys_internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "krm_zori2.h"

namespace oasys {
namespace {

constexpr size_t kChunkSize = 64 * 1024;
constexpr mode_t kNewFileMode = 0666; // narrowed by the umask, as any new file
constexpr mode_t kPermissionBits = 07777;
constexpr const char* kTemporaryName = ".oasys-text-XXXXXX"; // hidden, beside the destination

// Hands the first size bytes of a file to put, a chunk at a time; false (errno set) when reading
// fails or put refuses.
bool forEachChunk(int fd, uint64_t size, const std::function<bool(const char*, size_t)>& put) {
    std::array<char, kChunkSize> chunk{};
    for (uint64_t done = 0; done < size;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(chunk.size(), size - done));
        const ssize_t got = ::pread(fd, chunk.data(), want, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got == 0) errno = EIO; // the text shrank under us
            return false;
        }
        if (!put(chunk.data(), static_cast<size_t>(got))) return false;
        done += static_cast<uint64_t>(got);
    }
    return true;
}

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t put = ::write(fd, data, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            if (put == 0) errno = EIO;
            return false;
        }
        data += put;
        size -= static_cast<size_t>(put);
    }
    return true;
}

// The process's umask, read without changing it (changing it would race with other threads).
mode_t currentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    }
    return 022;
}

// Where the filter's text goes, and how it reaches the caller.
class Sink {
public:
    virtual ~Sink() = default;
    // Makes the file the filter writes into.
    virtual oasys_status prepare(Outcome& outcome) {
        text_ = anonymousFile();
        if (!text_.valid()) return outcome.fail(OASYS_OUTPUT_ERROR, systemMessage("cannot hold the text", errno), errno);
        return OASYS_OK;
    }
    virtual int textFd() const { return text_.get(); }
    // Delivers the text (keep) or drops it.
    virtual oasys_status finish(bool keep, uint64_t size, Outcome& outcome) = 0;

protected:
    UniqueFd text_;
};

// A file path: a temporary file beside the destination, renamed over it only when text is kept;
// a destination that is not a regular file written directly.
class PathSink : public Sink {
public:
    explicit PathSink(std::string destination) : destination_(std::move(destination)) {}
    ~PathSink() override {
        if (!temporary_.empty()) ::unlink(temporary_.c_str());
    }

    oasys_status prepare(Outcome& outcome) override {
        if (const oasys_status status = chooseTarget(outcome); status != OASYS_OK) return status;
        if (direct_) return Sink::prepare(outcome);
        const size_t slash = target_.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : target_.substr(0, slash == 0 ? 1 : slash);
        // A name of its own, so that a destination name of any length leaves room for it.
        std::string pattern = folder + "/" + kTemporaryName;
        text_.reset(::mkostemp(pattern.data(), O_CLOEXEC));
        if (!text_.valid() && (errno == EACCES || errno == EPERM) && replacesFile_ &&
            ::access(target_.c_str(), W_OK) == 0) {
            // A folder that takes no new file, with a file we may write: it is rewritten in place,
            // still only once the text is to be kept.
            direct_ = truncate_ = true;
            return Sink::prepare(outcome);
        }
        if (!text_.valid())
            return outcome.fail(OASYS_OUTPUT_ERROR, systemMessage("cannot create a file in " + folder, errno), errno);
        temporary_ = pattern;
        if (::fchmod(text_.get(), mode_) != 0)
            return outcome.fail(OASYS_OUTPUT_ERROR, systemMessage("cannot set the mode of " + temporary_, errno), errno);
        return OASYS_OK;
    }

    oasys_status finish(bool keep, uint64_t size, Outcome& outcome) override {
        if (direct_) return keep ? writeDirectly(size, outcome) : OASYS_OK;
        const std::string temporary = std::exchange(temporary_, std::string());
        if (!keep) {
            ::unlink(temporary.c_str());
            return OASYS_OK;
        }
        if (!text_.close() || ::rename(temporary.c_str(), target_.c_str()) != 0) {
            const int error = errno;
            ::unlink(temporary.c_str());
            return outcome.fail(OASYS_OUTPUT_ERROR, systemMessage("cannot write " + destination_, error), error);
        }
        return OASYS_OK;
    }

private:
    // Which file is replaced: the destination, or the regular file a link at it leads to.
    oasys_status chooseTarget(Outcome& outcome) {
        target_ = destination_;
        mode_ = kNewFileMode & ~currentUmask();
        struct stat status {};
        if (::lstat(destination_.c_str(), &status) != 0) {
            if (errno == ENOENT) return OASYS_OK;
            return outcome.fail(OASYS_OUTPUT_ERROR, systemMessage("cannot write " + destination_, errno), errno);
        }
        if (S_ISLNK(status.st_mode)) {
            if (::stat(destination_.c_str(), &status) != 0) return OASYS_OK; // a dangling link is replaced
            if (S_ISREG(status.st_mode)) {
                std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(destination_.c_str(), nullptr), std::free);
                if (!resolved)
                    return outcome.fail(OASYS_OUTPUT_ERROR, systemMessage("cannot follow " + destination_, errno), errno);
                target_ = resolved.get();
            }
        }
        if (S_ISDIR(status.st_mode))
            return outcome.fail(OASYS_OUTPUT_ERROR, destination_ + " is a directory", EISDIR);
        if (S_ISREG(status.st_mode)) {
            mode_ = status.st_mode & kPermissionBits;
            replacesFile_ = true;
        } else {
            direct_ = true; // a device or a pipe: written as it is, never replaced
        }
        return OASYS_OK;
    }

    oasys_status writeDirectly(uint64_t size, Outcome& outcome) {
        UniqueFd out(::open(destination_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | (truncate_ ? O_TRUNC : 0)));
        const bool written = out.valid() && forEachChunk(text_.get(), size, [&](const char* data, size_t length) {
                                 return writeAll(out.get(), data, length);
                             });
        if (!written || !out.close()) {
            const int error = errno;
            return outcome.fail(OASYS_OUTPUT_ERROR, systemMessage("cannot write " + destination_, error), error);
        }
        return OASYS_OK;
    }

    const std::string destination_;
    std::string target_;
    std::string temporary_;
    mode_t mode_ = kNewFileMode;
    bool replacesFile_ = false; // an existing regular file is replaced
    bool direct_ = false;       // the destination is written in place
    bool truncate_ = false;     // ... and truncated first
};

// The caller's own regular file: the filter writes straight into it, and a text not kept is
// emptied out again.
class CallerFileSink : public Sink {
public:
    explicit CallerFileSink(int fd) : fd_(fd) {}

    oasys_status prepare(Outcome& outcome) override {
        struct stat status {};
        if (::fstat(fd_, &status) != 0)
            return outcome.fail(OASYS_BAD_ARGUMENT, systemMessage("the descriptor cannot be used", errno), errno);
        if (!S_ISREG(status.st_mode)) return outcome.fail(OASYS_BAD_ARGUMENT, "a regular file is needed", EINVAL);
        const int flags = ::fcntl(fd_, F_GETFL);
        if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY || (flags & O_APPEND) != 0)
            return outcome.fail(OASYS_BAD_ARGUMENT, "a file open for writing, not for appending, is needed", EBADF);
        return OASYS_OK;
    }
    int textFd() const override { return fd_; }

    oasys_status finish(bool keep, uint64_t, Outcome& outcome) override {
        if (keep || ::ftruncate(fd_, 0) == 0) return OASYS_OK;
        return outcome.fail(OASYS_OUTPUT_ERROR, systemMessage("cannot empty the file", errno), errno);
    }

private:
    int fd_;
};

// Delivers through a writer of the caller's kind.
class ForwardingSink : public Sink {
public:
    using Writer = std::function<bool(const char*, size_t)>;
    ForwardingSink(Writer writer, std::string what) : writer_(std::move(writer)), what_(std::move(what)) {}

    oasys_status finish(bool keep, uint64_t size, Outcome& outcome) override {
        if (!keep) return OASYS_OK;
        errno = 0;
        if (!forEachChunk(text_.get(), size, writer_)) {
            const int error = errno;
            const std::string what = "cannot write to " + what_;
            return error != 0 ? outcome.fail(OASYS_OUTPUT_ERROR, systemMessage(what, error), error)
                              : outcome.fail(OASYS_OUTPUT_ERROR, what);
        }
        return OASYS_OK;
    }

private:
    Writer writer_;
    std::string what_;
};

uint64_t sizeOf(int fd) {
    struct stat status {};
    return ::fstat(fd, &status) == 0 && status.st_size > 0 ? static_cast<uint64_t>(status.st_size) : 0;
}

// Keeps the text of a damaged document unless the caller is strict; a damaged document that
// gave no text leaves nothing.
bool keepsText(oasys_status status, bool strict, uint64_t size) {
    return status == OASYS_OK || status == OASYS_OUTPUT_LIMIT || (status == OASYS_BROKEN && !strict && size > 0);
}

oasys_status extract(oasys_document* document, const oasys_options* options, Sink& sink, Outcome& outcome) {
    HostOptions host{};
    if (const oasys_status status = hostOptionsOf(options, host, outcome); status != OASYS_OK) return status;
    if (const oasys_status status = membersPresent(*document, true, outcome); status != OASYS_OK) return status;
    if (const oasys_status status = sink.prepare(outcome); status != OASYS_OK) return status;

    CallBinding binding;
    const char* logPath = options != nullptr ? options->log_path : nullptr;
    if (const oasys_status status = binding.bind(*document, sink.textFd(), logPath, outcome); status != OASYS_OK)
        return status;
    const uint16_t formatCode = formatCodeOf(document->packaging);
    const int32_t code = GetTextWithErrCallback(binding.sourcePath(*document, false).c_str(),
                                                binding.path(kOutputName).c_str(), &host, &formatCode, 0);
    outcome.setFilterCode(code);

    const oasys_status status = statusOfFilterCode(code, document->packaging);
    const uint64_t size = sizeOf(sink.textFd());
    const bool keep = keepsText(status, options != nullptr && options->strict, size);
    if (const oasys_status delivered = sink.finish(keep, size, outcome); delivered != OASYS_OK) return delivered;
    if (keep) outcome.setBytes(size);
    if (status == OASYS_OK) return outcome.ok();
    std::string message = causeOfFilterCode(code);
    if (status == OASYS_BROKEN && keep)
        message += "; the text decoded before the damage was kept (" + std::to_string(size) + " bytes)";
    return outcome.fail(status, message);
}

oasys_status extractInto(oasys_document* document, const oasys_options* options, Sink& sink, oasys_result* result) {
    Outcome outcome(result, document != nullptr ? document->packaging : OASYS_PACKAGING_AUTO);
    if (document == nullptr) return outcome.fail(OASYS_BAD_ARGUMENT, "a document is needed");
    return extract(document, options, sink, outcome);
}

} // namespace
} // namespace oasys

using oasys::Outcome;

extern "C" {

OASYS_API oasys_status oasys_extract_to_path(oasys_document* document, const char* path, const oasys_options* options,
                                             oasys_result* result) {
    return oasys::guarded(result, [&] {
        if (path == nullptr || path[0] == '\0') return Outcome(result).fail(OASYS_BAD_ARGUMENT, "a path is needed");
        oasys::PathSink sink(path);
        return oasys::extractInto(document, options, sink, result);
    });
}

OASYS_API oasys_status oasys_extract_to_fd(oasys_document* document, int fd, const oasys_options* options,
                                           oasys_result* result) {
    return oasys::guarded(result, [&] {
        if (fd < 0) return Outcome(result).fail(OASYS_BAD_ARGUMENT, "an open descriptor is needed", EBADF);
        oasys::ForwardingSink sink([fd](const char* data, size_t size) { return oasys::writeAll(fd, data, size); },
                                   "the descriptor");
        return oasys::extractInto(document, options, sink, result);
    });
}

OASYS_API oasys_status oasys_extract_to_new_file(oasys_document* document, int fd, const oasys_options* options,
                                                oasys_result* result) {
    return oasys::guarded(result, [&] {
        if (fd < 0) return Outcome(result).fail(OASYS_BAD_ARGUMENT, "an open descriptor is needed", EBADF);
        oasys::CallerFileSink sink(fd);
        return oasys::extractInto(document, options, sink, result);
    });
}

OASYS_API oasys_status oasys_extract_to_buffer(oasys_document* document, oasys_buffer* buffer,
                                               const oasys_options* options, oasys_result* result) {
    return oasys::guarded(result, [&] {
        if (buffer == nullptr) return Outcome(result).fail(OASYS_BAD_ARGUMENT, "a buffer is needed");
        oasys::ForwardingSink sink(
            [buffer](const char* data, size_t size) {
                if (oasys::appendToBuffer(*buffer, data, size)) return true;
                errno = ENOMEM;
                return false;
            },
            "the buffer");
        return oasys::extractInto(document, options, sink, result);
    });
}

OASYS_API oasys_status oasys_extract_to_callback(oasys_document* document, oasys_write_fn write, void* context,
                                                 const oasys_options* options, oasys_result* result) {
    return oasys::guarded(result, [&] {
        if (write == nullptr) return Outcome(result).fail(OASYS_BAD_ARGUMENT, "a writer is needed");
        oasys::ForwardingSink sink([write, context](const char* data, size_t size) { return write(context, data, size) == 0; },
                                   "the writer");
        return oasys::extractInto(document, options, sink, result);
    });
}

} // extern "C"
