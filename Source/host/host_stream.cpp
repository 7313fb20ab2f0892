// Host output streams: where the stream-output entry point sends its text. A host application
// creates a stream (bytes collected in memory, or written to a file descriptor it owns), hands
// the handle to the filter, and releases it afterwards.
#include "host_handle_table.h"
#include "host_internal.h"
#include "krm_host.h"

#include <cstdint>
#include <limits>
#include <vector>

namespace krm_host {
namespace {

struct OutputStream {
    explicit OutputStream(int descriptor) : fd(descriptor) {}

    std::mutex mutex;
    const int fd;               // kMemory for a memory stream
    std::vector<uint8_t> bytes; // what a memory stream collected

    static constexpr int kMemory = -1;
    bool inMemory() const { return fd == kMemory; }

    bool append(const uint8_t* data, size_t length) {
        if (inMemory()) {
            try {
                bytes.insert(bytes.end(), data, data + length);
            } catch (const std::exception&) {
                return false;
            }
            return true;
        }
        return writeAllToDescriptor(fd, data, length);
    }
};

KRM_HOST_HANDLE_TABLE(OutputStream, outputStreamTable, HandleKind::OutputStream);

HandleTable<OutputStream>& outputStreams() {
    return outputStreamTable;
}

uint32_t createStream(int fd) {
    return outputStreams().create(Counter::OutputStreams, fd);
}

} // namespace
} // namespace krm_host

using krm_host::OutputStream;

extern "C" {

KRM_EXPORT int32_t KRM_WriteStream(uint32_t stream, uint32_t count, const void* buffer) {
    if (krm_host::shouldFail(KRM_SVC_WRITE_STREAM)) {
        return krm_host::kFailed;
    }
    // The result is the byte count, so a count that would read as -1 or less cannot succeed.
    if (count > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()) || (buffer == nullptr && count != 0)) {
        return krm_host::kFailed;
    }
    OutputStream* const open = krm_host::outputStreams().find(stream);
    if (!open) {
        return krm_host::kFailed;
    }
    if (count == 0) {
        return 0;
    }
    std::lock_guard lock(open->mutex);
    return open->append(static_cast<const uint8_t*>(buffer), count) ? static_cast<int32_t>(count) : krm_host::kFailed;
}

KRM_EXPORT uint32_t KRM_StreamCreateMemory(void) {
    return krm_host::createStream(OutputStream::kMemory);
}

KRM_EXPORT uint32_t KRM_StreamCreateFd(int fd) {
    return fd < 0 ? 0 : krm_host::createStream(fd);
}

KRM_EXPORT int32_t KRM_StreamGetMemory(uint32_t stream, const uint8_t** data, size_t* length) {
    OutputStream* const open = krm_host::outputStreams().find(stream);
    if (!open || !open->inMemory() || data == nullptr || length == nullptr) {
        return krm_host::kFailed;
    }
    std::lock_guard lock(open->mutex);
    *data = open->bytes.data();
    *length = open->bytes.size();
    return 0;
}

KRM_EXPORT void KRM_StreamRelease(uint32_t stream) {
    krm_host::outputStreams().release(stream, krm_host::Counter::OutputStreams);
}

} // extern "C"
