// Shared internals of the host library (not installed).
#pragma once

#include "krm_host_testing.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

// libgsf's types, declared here so that only the files that work with libgsf include it.
typedef struct _GsfInfile GsfInfile;
typedef struct _GsfInput GsfInput;

namespace krm_host {

// Data that threads write (locks, counters, a free list) is kept off the cache lines of data that
// every call reads (the testing interface's flag, a table's chunk pointers, a live slot), so that
// one thread's write does not make another thread's next read a miss. 64 bytes on x86-64 and most
// ARM cores.
constexpr size_t kCacheLine = 64;

// Per-thread shards. State that threads change often (the bindings, the handle tables' free slots,
// the open-handle counters) is split into kShardCount shards, each on lines of its own, and each
// thread works in the shard it was dealt, round robin, at its first use: threads working side by
// side neither wait for one another's lock nor pass a written line back and forth, while anything
// made on one thread can still be found, used and released on another.
constexpr unsigned kShardBits = 4;
constexpr uint32_t kShardCount = 1u << kShardBits, kShardMask = kShardCount - 1;
inline uint32_t threadShard() {
    static std::atomic<uint32_t> next{0};
    thread_local const uint32_t shard = next.fetch_add(1, std::memory_order_relaxed) & kShardMask;
    return shard;
}

// Failure switches of the testing interface: every service calls shouldFail once per call, first;
// true means "fail this call as the service fails". Until a program first uses the testing
// interface this is one relaxed load of a flag that never changes, so the per-line services pay
// nothing for it and threads share no written counter; from then on it also counts the call.
extern std::atomic<bool> testingInterfaceUsed; // alone on its cache line: read by every call
bool countCallAndCheckSwitch(KrmService service);
inline bool shouldFail(KrmService service) {
    if (!testingInterfaceUsed.load(std::memory_order_relaxed)) [[likely]] {
        return false;
    }
    return countCallAndCheckSwitch(service);
}

// Counters of the testing interface.
enum class Counter { OpenFiles, OpenStorages, OpenStreams, OpenLogs, OutstandingBlocks, OutputStreams };
void count(Counter counter, int delta);

// libgsf loaded and set up, once per process before any thread uses it (also installs the GLib
// log handler that keeps libgsf's warnings off the terminal); false when libgsf cannot be loaded,
// and every compound-file service then fails.
bool ensureGsfInitialised();

// Some of libgsf's warnings about damaged files carry no log domain of their own. While a thread
// holds this guard, messages of the default domain that it raises are taken for libgsf's and
// dropped; from any other place they reach GLib's default handler as usual.
class GsfQuietScope {
public:
    GsfQuietScope();
    ~GsfQuietScope();
    GsfQuietScope(const GsfQuietScope&) = delete;
    GsfQuietScope& operator=(const GsfQuietScope&) = delete;
};

// The compound file at path (a bound name read from its descriptor) as libgsf's input, ready for
// gsf_infile_msole_new; null when it cannot be opened. Call with libgsf set up.
GsfInput* openCompoundInput(const char* path);

// The top-level stream of that name in a compound file, compared without regard to case as
// compound files compare names, with a reference of its own; null when there is none (a storage
// of that name is no stream).
GsfInput* findTopLevelStream(GsfInfile* infile, const char* name);

// Writes every byte to the file descriptor, going on after partial writes and interruptions;
// false when the system refuses a write.
bool writeAllToDescriptor(int fd, const uint8_t* data, size_t length);

// The decoder's one- and two-byte reads inside a window of bytes read ahead, in a handful of
// instructions; false (nothing read) sends the caller down its general path. Before the window the
// offset wraps to a huge value, so one comparison tells both ends.
inline bool readSmallInWindow(uint64_t& position, uint64_t windowStart, uint64_t readable, const uint8_t* window,
                              uint8_t* destination, uint64_t length) {
    const uint64_t inWindow = position - windowStart;
    if (inWindow >= readable || length > readable - inWindow) [[unlikely]] {
        return false;
    }
    destination[0] = window[inWindow];
    if (length == 2) {
        destination[1] = window[inWindow + 1];
    }
    position += length;
    return true;
}

// Where a seek of the file and compound-stream services counts from.
enum Origin : uint16_t { kFromStart = 0, kFromCurrent = 1, kFromEnd = 2 };

// A seek's 32-bit offset as a distance: from the start it reaches up to 4 GiB; from the current
// position or the end it is a signed step, so that a caller can step back.
inline int64_t seekDistance(uint32_t offset, int origin) {
    return origin == kFromStart ? static_cast<int64_t>(offset) : static_cast<int64_t>(static_cast<int32_t>(offset));
}

// The result of a host call that failed (close, seek, remove, a log write, a stream write).
constexpr int32_t kFailed = -1;

} // namespace krm_host
