// Plain-file service. The OASYS decoder reads its source one byte at a time, seeking before most
// reads, so reads go through a 64 KiB window: a seek plus a one-byte read inside the window costs
// no system call. Writes are gathered in the same window and written out when it fills, when the
// position moves elsewhere, before a read, and on close; a close reports a failed write-out.
//
// A regular file is read and written at the handle's own position (pread/pwrite), never through
// the descriptor's offset: that costs no seek, and it lets a handle on a bound name share the
// application's open file (a duplicate of its descriptor) without moving the application's offset
// or the offset of another handle. Pipes and devices keep read/write at the kernel's offset.
#include "host_bindings.h"
#include "host_handle_table.h"
#include "host_internal.h"
#include "krm_host.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>

namespace krm_host {
namespace {

constexpr size_t kWindowSize = 64 * 1024;
constexpr mode_t kCreatePermissions = 0666; // narrowed by the process umask, as fopen does

// What an fopen mode text asks for.
struct OpenMode {
    int flags = 0;
    bool readable = false;
    bool writable = false;
    bool append = false;
};

std::optional<OpenMode> parseMode(const char* mode) {
    if (mode == nullptr) {
        return std::nullopt;
    }
    OpenMode parsed;
    switch (mode[0]) {
    case 'r':
        parsed.flags = O_RDONLY;
        parsed.readable = true;
        break;
    case 'w':
        parsed.flags = O_WRONLY | O_CREAT | O_TRUNC;
        parsed.writable = true;
        break;
    case 'a':
        parsed.flags = O_WRONLY | O_CREAT | O_APPEND;
        parsed.writable = parsed.append = true;
        break;
    default:
        return std::nullopt;
    }
    for (const char* flag = mode + 1; *flag != '\0'; ++flag) {
        if (*flag == '+') {
            parsed.flags = (parsed.flags & ~O_ACCMODE) | O_RDWR;
            parsed.readable = parsed.writable = true;
        } else if (*flag == 'x') {
            parsed.flags |= O_EXCL;
        } // 'b', 't', 'e' and the rest change nothing here, as with fopen on this system
    }
    parsed.flags |= O_CLOEXEC;
    return parsed;
}

// Calls the system until it is not interrupted.
template <class Call>
auto retryInterrupted(Call&& call) {
    decltype(call()) result;
    do {
        result = call();
    } while (result < 0 && errno == EINTR);
    return result;
}

// Writes every byte through put(bytes, length, bytes already written), going on after partial
// writes and interruptions; false when the system refuses a write.
template <class Put>
bool putAll(const uint8_t* data, size_t length, Put&& put) {
    for (size_t done = 0; done < length;) {
        const ssize_t written = retryInterrupted([&] { return put(data + done, length - done, done); });
        if (written <= 0) {
            return false;
        }
        done += static_cast<size_t>(written);
    }
    return true;
}

// Writes every byte at the offset, leaving the descriptor's own offset where it stands.
bool writeAllAt(int fd, const uint8_t* data, size_t length, uint64_t offset) {
    return putAll(data, length, [&](const uint8_t* bytes, size_t left, size_t done) {
        return ::pwrite(fd, bytes, left, static_cast<off_t>(offset + done));
    });
}

// Owns an open file descriptor.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }
    // Closes now; false when the system reports the close failed.
    bool close() { return ::close(std::exchange(fd_, -1)) == 0; }

private:
    int fd_;
};

class BufferedFile {
public:
    // regularFile: the open file is a regular file (its fstat at open says so), read and written at
    // the handle's own positions.
    BufferedFile(Descriptor&& fd, const OpenMode& mode, bool regularFile)
        : fd_(std::move(fd)), mode_(mode), regularFile_(regularFile) {}

    // Nothing here is locked: a handle is used by one thread at a time.
    bool readSmallInWindow(uint8_t* destination, size_t length) {
        return krm_host::readSmallInWindow(position_, windowStart_, readableLength_, window_.get(), destination, length);
    }

    // The one seek the decoder makes, to an offset from the start, which always succeeds.
    void seekFromStart(uint32_t offset) { position_ = offset; }

    size_t read(uint8_t* destination, size_t length) {
        const uint64_t inWindow = position_ - windowStart_;
        if (inWindow < readableLength_ && length <= readableLength_ - inWindow) {
            std::memcpy(destination, window_.get() + inWindow, length);
            position_ += length;
            return length;
        }
        return readSlowly(destination, length);
    }

    size_t readSlowly(uint8_t* destination, size_t length) {
        if (!mode_.readable || (use_ == WindowUse::Writing && !flush())) {
            return 0;
        }
        size_t done = 0;
        while (done < length) {
            if (windowHolds(position_)) {
                const size_t inWindow = static_cast<size_t>(position_ - windowStart_);
                const size_t take = std::min(length - done, windowLength_ - inWindow);
                std::memcpy(destination + done, window_.get() + inWindow, take);
                done += take;
                position_ += take;
            } else if (length - done >= kWindowSize) {
                // A large read goes straight to the caller's buffer.
                const ssize_t got = rawRead(position_, destination + done, length - done);
                if (got <= 0) {
                    break;
                }
                done += static_cast<size_t>(got);
                position_ += static_cast<uint64_t>(got);
            } else if (!fillWindow(position_)) {
                break; // end of file (also after a seek beyond it) or a read error
            }
        }
        return done;
    }

    size_t write(const uint8_t* source, size_t length) {
        if (!mode_.writable || failed_) {
            return 0;
        }
        if (use_ == WindowUse::Reading) {
            dropWindow();
        }
        if (use_ == WindowUse::Writing && position_ != windowStart_ + windowLength_ && !flush()) {
            return 0;
        }
        if (mode_.append && use_ != WindowUse::Writing && !moveToEnd()) {
            return 0;
        }
        size_t done = 0;
        while (done < length) {
            if (use_ != WindowUse::Writing) {
                if (length - done >= kWindowSize) {
                    // A large write goes straight to the file.
                    if (!rawWriteAll(position_, source + done, length - done)) {
                        failed_ = true;
                        return 0;
                    }
                    position_ += length - done;
                    return length;
                }
                use_ = WindowUse::Writing;
                windowStart_ = position_;
                windowLength_ = 0;
            }
            const size_t take = std::min(length - done, kWindowSize - windowLength_);
            std::memcpy(window_.get() + windowLength_, source + done, take);
            windowLength_ += take;
            position_ += take;
            done += take;
            if (windowLength_ == kWindowSize && !flush()) {
                return 0;
            }
        }
        return done;
    }

    bool seek(int64_t offset, Origin origin) {
        int64_t base = 0;
        switch (origin) {
        case kFromStart:
            break;
        case kFromCurrent:
            base = static_cast<int64_t>(position_);
            break;
        case kFromEnd: {
            const std::optional<uint64_t> size = currentSize();
            if (!size) {
                return false;
            }
            base = static_cast<int64_t>(*size);
            break;
        }
        default:
            return false;
        }
        const int64_t target = base + offset;
        if (target < 0) {
            return false;
        }
        position_ = static_cast<uint64_t>(target);
        return true;
    }

    uint64_t tell() const { return position_; }

    // Writes out what is pending and closes; false when anything written since the open was lost.
    bool close() {
        const bool flushed = flush() && !failed_;
        return fd_.close() && flushed;
    }

private:
    enum class WindowUse { None, Reading, Writing };

    bool windowHolds(uint64_t position) const {
        return use_ == WindowUse::Reading && position >= windowStart_ && position - windowStart_ < windowLength_;
    }

    void dropWindow() {
        use_ = WindowUse::None;
        windowLength_ = 0;
        readableLength_ = 0;
    }

    bool fillWindow(uint64_t position) {
        dropWindow();
        // Windows start on window-size boundaries, so that a step back to a nearby header is
        // still inside the window. A pipe cannot seek, so its window starts where it stands.
        const uint64_t start = seekable() ? position - position % kWindowSize : position;
        const ssize_t got = rawRead(start, window_.get(), kWindowSize);
        if (got <= 0) {
            return false;
        }
        use_ = WindowUse::Reading;
        windowStart_ = start;
        windowLength_ = readableLength_ = static_cast<size_t>(got);
        return windowHolds(position);
    }

    bool flush() {
        if (use_ != WindowUse::Writing) {
            return true;
        }
        const bool ok = rawWriteAll(windowStart_, window_.get(), windowLength_);
        dropWindow();
        if (!ok) {
            failed_ = true;
        }
        return ok;
    }

    bool seekable() {
        if (regularFile_) {
            return true;
        }
        if (!seekable_) {
            seekable_ = ::lseek(fd_.get(), 0, SEEK_CUR) >= 0;
        }
        return *seekable_;
    }

    bool placeKernelOffset(uint64_t position) {
        if (position == kernelOffset_) {
            return true;
        }
        if (::lseek(fd_.get(), static_cast<off_t>(position), SEEK_SET) < 0) {
            return false;
        }
        kernelOffset_ = position;
        return true;
    }

    ssize_t rawRead(uint64_t position, uint8_t* destination, size_t length) {
        if (regularFile_) {
            return retryInterrupted([&] { return ::pread(fd_.get(), destination, length, static_cast<off_t>(position)); });
        }
        if (!placeKernelOffset(position)) {
            return -1;
        }
        const ssize_t got = retryInterrupted([&] { return ::read(fd_.get(), destination, length); });
        if (got > 0) {
            kernelOffset_ += static_cast<uint64_t>(got);
        }
        return got;
    }

    bool rawWriteAll(uint64_t position, const uint8_t* source, size_t length) {
        // In append mode the system places every write at the end by itself.
        if (regularFile_) {
            return mode_.append ? writeAllToDescriptor(fd_.get(), source, length)
                                : writeAllAt(fd_.get(), source, length, position);
        }
        if (!mode_.append && !placeKernelOffset(position)) {
            return false;
        }
        const bool written = writeAllToDescriptor(fd_.get(), source, length);
        kernelOffset_ = written ? kernelOffset_ + length : kUnknownOffset;
        return written;
    }

    bool moveToEnd() {
        const off_t end = ::lseek(fd_.get(), 0, SEEK_END);
        if (end < 0) {
            return false;
        }
        position_ = kernelOffset_ = static_cast<uint64_t>(end);
        return true;
    }

    // The file's size including bytes still waiting in the window.
    std::optional<uint64_t> currentSize() {
        struct stat status {};
        if (::fstat(fd_.get(), &status) != 0) {
            return std::nullopt;
        }
        uint64_t size = static_cast<uint64_t>(status.st_size);
        if (use_ == WindowUse::Writing) {
            size = std::max(size, windowStart_ + windowLength_);
        }
        return size;
    }

    // After a failed write nobody knows where the system's offset stands (kept for pipes and devices).
    static constexpr uint64_t kUnknownOffset = UINT64_MAX;

    // What the per-byte path reads first, together.
    uint64_t position_ = 0;
    uint64_t windowStart_ = 0;
    size_t readableLength_ = 0; // windowLength_ while the window holds bytes read, else 0
    std::unique_ptr<uint8_t[]> window_ = std::make_unique_for_overwrite<uint8_t[]>(kWindowSize); // not cleared: only filled bytes are read

    Descriptor fd_;
    const OpenMode mode_;
    WindowUse use_ = WindowUse::None;
    size_t windowLength_ = 0;
    const bool regularFile_;
    uint64_t kernelOffset_ = 0; // a pipe or device is always opened here afresh, at offset 0
    std::optional<bool> seekable_;
    bool failed_ = false; // a write-out failed: the file no longer holds what was written
};

KRM_HOST_HANDLE_TABLE(BufferedFile, fileTable, HandleKind::File);

HandleTable<BufferedFile>& files() {
    return fileTable;
}

uint32_t openFile(const char* path, const char* mode) {
    const std::optional<OpenMode> parsed = parseMode(mode);
    if (path == nullptr || !parsed) {
        return 0;
    }
    const int opened = retryInterrupted([&] { return ::open(path, parsed->flags, kCreatePermissions); });
    Descriptor fd(opened);
    struct stat status {};
    if (opened < 0 || ::fstat(fd.get(), &status) != 0 || S_ISDIR(status.st_mode)) {
        return 0; // a folder is no file to read or write
    }
    return files().create(Counter::OpenFiles, std::move(fd), *parsed, S_ISREG(status.st_mode));
}

bool accessServes(int access, const OpenMode& mode) {
    const bool readable = access == O_RDONLY || access == O_RDWR;
    const bool writable = access == O_WRONLY || access == O_RDWR;
    return (readable || !mode.readable) && (writable || !mode.writable);
}

// Whether a bound descriptor may serve a handle itself, through a duplicate: a regular file whose
// access mode serves the mode asked. Append and exclusive modes open the file afresh, and so does
// a descriptor whose status flags would change what a positioned read or write does: O_APPEND
// sends every pwrite to the end, O_DIRECT wants aligned buffers, O_PATH reads nothing.
bool duplicateServes(int fd, const OpenMode& mode, const struct stat& status) {
    if (!S_ISREG(status.st_mode) || mode.append || (mode.flags & O_EXCL) != 0) {
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & (O_APPEND | O_DIRECT | O_PATH)) == 0 && accessServes(flags & O_ACCMODE, mode);
}

uint32_t openDuplicate(int fd, const OpenMode& mode, const struct stat& status) {
    Descriptor duplicate(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
    if (duplicate.get() < 0) {
        return 0;
    }
    // "w" empties the file, as opening it would; an empty one (the usual output memfd) is left be.
    const bool truncate = (mode.flags & O_TRUNC) != 0 && status.st_size != 0;
    if (truncate && retryInterrupted([&] { return ::ftruncate(duplicate.get(), 0); }) != 0) {
        return 0;
    }
    return files().create(Counter::OpenFiles, std::move(duplicate), mode, true);
}

// A bound name: a duplicate of its descriptor where that serves, otherwise its file opened afresh
// through /proc/self/fd (a name under the binding that was not bound opens nothing).
uint32_t openBoundFile(int fd, const char* mode) {
    const std::optional<OpenMode> parsed = parseMode(mode);
    if (fd < 0 || !parsed) {
        return 0;
    }
    struct stat status {};
    if (::fstat(fd, &status) == 0 && duplicateServes(fd, *parsed, status)) {
        return openDuplicate(fd, *parsed, status);
    }
    std::string reopenPath;
    return openFile(reopenPathOf(fd, reopenPath), mode);
}

uint32_t clampToWord(uint64_t value) {
    return static_cast<uint32_t>(std::min<uint64_t>(value, std::numeric_limits<uint32_t>::max()));
}

} // namespace

bool writeAllToDescriptor(int fd, const uint8_t* data, size_t length) {
    return putAll(data, length, [&](const uint8_t* bytes, size_t left, size_t) { return ::write(fd, bytes, left); });
}

} // namespace krm_host

using krm_host::BufferedFile;
using krm_host::files;

extern "C" {

KRM_EXPORT uint32_t KRM_FileOpen(const char* path, const char* mode) {
    if (krm_host::shouldFail(KRM_SVC_FILE_OPEN)) {
        return 0;
    }
    const krm_host::BoundName bound = krm_host::findBoundName(path); // host_bindings.cpp
    return bound.underBinding ? krm_host::openBoundFile(bound.fd, mode) : krm_host::openFile(path, mode);
}

KRM_EXPORT int32_t KRM_FileClose(uint32_t file) {
    const bool injectedFailure = krm_host::shouldFail(KRM_SVC_FILE_CLOSE);
    const std::shared_ptr<BufferedFile> open = files().release(file, krm_host::Counter::OpenFiles);
    if (!open) {
        return krm_host::kFailed;
    }
    const bool closed = open->close();
    return closed && !injectedFailure ? 0 : krm_host::kFailed;
}

// The general path of a read: any size, the window's edges, the file's end, a bad argument.
[[gnu::cold, gnu::noinline]] static uint32_t readGenerally(void* buffer, uint32_t size, uint32_t count, uint32_t file) {
    if (buffer == nullptr || size == 0 || count == 0) {
        return 0;
    }
    BufferedFile* const open = files().find(file);
    if (!open) {
        return 0;
    }
    const size_t wanted = static_cast<size_t>(size) * count;
    const size_t bytes = open->read(static_cast<uint8_t*>(buffer), wanted);
    return bytes == wanted ? count : static_cast<uint32_t>(bytes / size); // whole elements, as fread counts them
}

// The decoder reads one or two bytes at a time, a million times a document: that case is served
// here without saving a register; everything else goes the general path (the size check folds
// a size or count of 0 in: its product less one is huge).
KRM_EXPORT uint32_t KRM_FileRead(void* buffer, uint32_t size, uint32_t count, uint32_t file) {
    const uint64_t wanted = uint64_t{size} * count;
    BufferedFile* const open = files().find(file);
    if (wanted - 1 < 2 && open != nullptr && buffer != nullptr &&
        open->readSmallInWindow(static_cast<uint8_t*>(buffer), wanted)) [[likely]] {
        return count;
    }
    return readGenerally(buffer, size, count, file);
}

KRM_EXPORT uint32_t KRM_FileWrite(const void* buffer, uint32_t size, uint32_t count, uint32_t file) {
    if (krm_host::shouldFail(KRM_SVC_FILE_WRITE) || buffer == nullptr || size == 0 || count == 0) {
        return 0;
    }
    BufferedFile* const open = files().find(file);
    if (!open) {
        return 0;
    }
    const size_t bytes = open->write(static_cast<const uint8_t*>(buffer), static_cast<size_t>(size) * count);
    return static_cast<uint32_t>(bytes / size);
}

[[gnu::cold, gnu::noinline]] static int32_t seekGenerally(uint32_t file, uint32_t offset, uint16_t origin) {
    BufferedFile* const open = files().find(file);
    if (!open) {
        return krm_host::kFailed;
    }
    const bool moved = open->seek(krm_host::seekDistance(offset, origin), static_cast<krm_host::Origin>(origin));
    return moved ? 0 : krm_host::kFailed;
}

// The decoder seeks from the start before most reads; that seek cannot fail on a live handle.
KRM_EXPORT int32_t KRM_FileSeek(uint32_t file, uint32_t offset, uint16_t origin) {
    BufferedFile* const open = files().find(file);
    if (origin == krm_host::kFromStart && open != nullptr) [[likely]] {
        open->seekFromStart(offset);
        return 0;
    }
    return seekGenerally(file, offset, origin);
}

KRM_EXPORT uint32_t KRM_FileTell(uint32_t file) {
    BufferedFile* const open = files().find(file);
    if (!open) {
        return 0;
    }
    return krm_host::clampToWord(open->tell());
}

KRM_EXPORT int32_t KRM_FileRemove(const char* path) {
    if (path == nullptr) {
        return krm_host::kFailed;
    }
    if (krm_host::isBoundPath(path)) {
        return 0; // the application that bound it decides what becomes of it
    }
    // Only a regular file is removed: never a device, a pipe, a folder, nor a link or its target.
    struct stat status {};
    if (::lstat(path, &status) != 0 || !S_ISREG(status.st_mode)) {
        return krm_host::kFailed;
    }
    return ::unlink(path) == 0 ? 0 : krm_host::kFailed;
}

KRM_EXPORT int32_t KRM_FileRemoveIfSizeIsZero(const char* path) {
    if (krm_host::isBoundPath(path)) {
        return krm_host::boundFileIsEmpty(path);
    }
    struct stat status {};
    if (path == nullptr || ::lstat(path, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size != 0) {
        return 0;
    }
    return ::unlink(path) == 0 ? 1 : 0;
}

} // extern "C"
