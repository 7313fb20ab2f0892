// Handle tables of the host library: every open file, storage, compound-file stream, output
// stream and log is known to its service by an opaque non-zero 32-bit handle.
//
// A table is split into shards, each with its own lock, so that threads working on different
// handles rarely meet. Lookups hand out shared ownership: an object stays alive while a call is
// using it, even if another thread releases its handle meanwhile. The kind of handle sits in the
// top bits, so a handle of one kind given to a service of another kind is simply unknown there.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "host_internal.h"

namespace krm_host {

enum class HandleKind : uint32_t { File = 1, Storage = 2, CompoundStream = 3, OutputStream = 4, Log = 5 };

template <class Object>
class HandleTable {
public:
    explicit HandleTable(HandleKind kind) : kindBits_(static_cast<uint32_t>(kind) << kKindShift) {}
    HandleTable(const HandleTable&) = delete;
    HandleTable& operator=(const HandleTable&) = delete;

    // Makes the object and registers it, counted as open; 0 when either fails. Owning guards
    // among the arguments still own what they hold when the object could not be made.
    template <class... Args>
    uint32_t create(Counter counter, Args&&... args) noexcept {
        try {
            const uint32_t handle = add(std::make_shared<Object>(std::forward<Args>(args)...));
            if (handle != 0) {
                count(counter, +1);
            }
            return handle;
        } catch (...) {
            return 0;
        }
    }

    // The object of a handle, or null for 0, a stale or a foreign handle.
    std::shared_ptr<Object> find(uint32_t handle) noexcept { return lookup(handle, Lookup::Keep); }

    // The same for the hot paths (the decoder seeks and reads a byte at a time, a million calls on
    // one handle between two releases): each thread remembers its last handle with the table's
    // release count at that time, and skips the locked lookup while neither has changed. The
    // pointer stays valid until this thread's next lookup in this table, because the remembered
    // shared pointer keeps the object alive even if another thread releases the handle meanwhile.
    Object* findCached(uint32_t handle) noexcept {
        LastFound& last = lastFound();
        const uint64_t releases = releases_.load(std::memory_order_acquire);
        if (last.table != this || last.handle != handle || last.releases != releases || !last.object) {
            last.object = find(handle);
            last.table = this;
            last.handle = handle;
            last.releases = releases;
        }
        return last.object.get();
    }

    // Unregisters the handle, counted as closed, and hands back its object (null when the handle
    // is unknown).
    std::shared_ptr<Object> release(uint32_t handle, Counter counter) noexcept {
        std::shared_ptr<Object> object = lookup(handle, Lookup::Remove);
        if (object) {
            releases_.fetch_add(1, std::memory_order_acq_rel);
            // A handle is normally released by the thread that used it: let the object go now.
            if (LastFound& last = lastFound(); last.table == this && last.handle == handle) last = {};
            count(counter, -1);
        }
        return object;
    }

private:
    static constexpr unsigned kKindShift = 28;
    static constexpr uint32_t kSerialMask = (1u << kKindShift) - 1;
    static constexpr uint32_t kKindMask = ~kSerialMask;
    static constexpr unsigned kShardCount = 16;
    static constexpr uint32_t kMaxAttempts = 64;

    enum class Lookup { Keep, Remove };

    struct LastFound {
        const HandleTable* table = nullptr;
        uint32_t handle = 0;
        uint64_t releases = 0;
        std::shared_ptr<Object> object;
    };

    static LastFound& lastFound() noexcept {
        thread_local LastFound last;
        return last;
    }

    struct Shard {
        std::mutex mutex;
        std::unordered_map<uint32_t, std::shared_ptr<Object>> objects;
    };

    // 0 when no free handle turns up.
    uint32_t add(const std::shared_ptr<Object>& object) {
        for (uint32_t attempt = 0; attempt < kMaxAttempts; ++attempt) {
            const uint32_t serial = nextSerial_.fetch_add(1, std::memory_order_relaxed) & kSerialMask;
            if (serial == 0) {
                continue; // 0 is never a handle
            }
            const uint32_t handle = kindBits_ | serial;
            Shard& shard = shardOf(handle);
            std::lock_guard lock(shard.mutex);
            if (shard.objects.try_emplace(handle, object).second) {
                return handle;
            }
            // Still in use after the serial wrapped around: take the next one.
        }
        return 0;
    }

    std::shared_ptr<Object> lookup(uint32_t handle, Lookup action) noexcept {
        if (!isOwnKind(handle)) {
            return nullptr;
        }
        Shard& shard = shardOf(handle);
        std::lock_guard lock(shard.mutex);
        const auto found = shard.objects.find(handle);
        if (found == shard.objects.end()) {
            return nullptr;
        }
        std::shared_ptr<Object> object = found->second;
        if (action == Lookup::Remove) {
            shard.objects.erase(found);
        }
        return object;
    }

    bool isOwnKind(uint32_t handle) const { return (handle & kKindMask) == kindBits_ && (handle & kSerialMask) != 0; }
    Shard& shardOf(uint32_t handle) { return shards_[handle % kShardCount]; }

    const uint32_t kindBits_;
    std::atomic<uint32_t> nextSerial_{1};
    std::atomic<uint64_t> releases_{0};
    std::array<Shard, kShardCount> shards_;
};

// The one table of a kind for the whole process. It is never destroyed, so that services called
// from other objects' destructors at exit still find a valid table.
template <class Object>
HandleTable<Object>& tableOf(HandleKind kind) {
    static HandleTable<Object>* const table = new HandleTable<Object>(kind);
    return *table;
}

} // namespace krm_host
