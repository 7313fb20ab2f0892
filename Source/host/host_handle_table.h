// Handle tables of the host library: every open file, storage, compound-file stream, output
// stream and log is known to its service by an opaque non-zero 32-bit handle.
//
// A handle carries its kind, a slot index and the slot's generation:
//
//     | kind (4 bits) | generation (13 bits) | slot (15 bits) |
//
// The decoder seeks and reads a byte at a time, a million calls on one handle, so finding the
// object of a handle must cost a few instructions: an index into the slots and one comparison of
// the handle stored there, with no lock, no hash and no thread-local state. A released slot gets
// the next generation, so a stale handle no longer matches its slot and a forged one matches
// nothing; neither is ever dereferenced. Freed slots are reused in first-in first-out order and
// only once enough of them are free, so a stale handle would come round to its old value again
// only after millions of releases.
//
// Threading: a handle is used by one thread at a time (its open, its calls and its release), as
// with FILE's unlocked calls; different handles may be used on different threads at the same time.
// Only creating and releasing take a lock: that of the slot's shard. The slots are split evenly
// among the shards (host_internal.h); a thread takes slots from its own shard, and from the others
// in turn only once its own has none left, so every slot can still be used.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <type_traits>
#include <utility>

#include "host_internal.h"

namespace krm_host {

enum class HandleKind : uint32_t { File = 1, Storage = 2, CompoundStream = 3, OutputStream = 4, Log = 5 };

template <class Object>
class HandleTable {
public:
    explicit constexpr HandleTable(HandleKind kind) : kindBits_(static_cast<uint32_t>(kind) << kKindShift) {
        shards_[0].usedSlots = 1; // slot 0 stays free: see find()
    }
    HandleTable(const HandleTable&) = delete;
    HandleTable& operator=(const HandleTable&) = delete;

    // Makes the object and registers it, counted as open; 0 when either fails. Owning guards
    // among the arguments still own what they hold when the object could not be made.
    template <class... Args>
    uint32_t create(Counter counter, Args&&... args) noexcept {
        try {
            const uint32_t handle = add(std::make_shared<Object>(std::forward<Args>(args)...));
            if (handle != 0) count(counter, +1);
            return handle;
        } catch (...) {
            return 0;
        }
    }

    // The object of a live handle; null for 0, a stale, a forged or a foreign handle. A slot holds
    // only handles of this table's kind, so matching the whole handle checks the kind too; slot 0
    // is never used, so 0 finds nothing.
    Object* find(uint32_t handle) const noexcept {
        const uint32_t index = handle & kSlotMask;
        const Slot* const chunk = chunks_[index >> kChunkShift].load(std::memory_order_acquire);
        if (chunk == nullptr) [[unlikely]]
            return nullptr;
        const Slot& slot = chunk[index & kChunkMask];
        if (slot.handle.load(std::memory_order_acquire) != handle) [[unlikely]]
            return nullptr;
        return slot.object.load(std::memory_order_relaxed);
    }

    // Shared ownership of the object of a live handle (for objects that others keep alive).
    std::shared_ptr<Object> share(uint32_t handle) {
        std::lock_guard lock(shardOf(handle).mutex);
        Slot* const slot = liveSlot(handle);
        return slot != nullptr ? slot->owner : nullptr;
    }

    // Unregisters the handle, counted as closed, and hands back its object (null when the handle
    // is not live). The slot's next handle has the next generation.
    std::shared_ptr<Object> release(uint32_t handle, Counter counter) noexcept {
        std::shared_ptr<Object> object;
        {
            Shard& shard = shardOf(handle);
            std::lock_guard lock(shard.mutex);
            Slot* const slot = liveSlot(handle);
            if (slot == nullptr) return nullptr;
            slot->handle.store(0, std::memory_order_release);
            slot->object.store(nullptr, std::memory_order_relaxed);
            object = std::move(slot->owner);
            slot->generation = (slot->generation + 1) & kGenerationMask;
            pushFree(shard, handle & kSlotMask);
        }
        count(counter, -1);
        return object;
    }

private:
    static constexpr unsigned kSlotBits = 15, kGenerationBits = 13, kKindShift = kSlotBits + kGenerationBits;
    static constexpr uint32_t kSlotMask = (1u << kSlotBits) - 1;
    static constexpr uint32_t kGenerationMask = (1u << kGenerationBits) - 1;
    static constexpr uint32_t kKindMask = ~((1u << kKindShift) - 1);
    static constexpr unsigned kChunkShift = 8; // slots are made 256 at a time, as needed
    static constexpr uint32_t kChunkSize = 1u << kChunkShift, kChunkMask = kChunkSize - 1;
    static constexpr uint32_t kChunkCount = (kSlotMask + 1) / kChunkSize;
    static constexpr unsigned kShardSlotBits = kSlotBits - kShardBits; // a shard's slots are consecutive
    static constexpr uint32_t kShardSlots = 1u << kShardSlotBits;
    static_assert(kShardSlots % kChunkSize == 0, "a chunk belongs to one shard, made under its lock");
    // A freed slot waits until this many others of its shard are free too (while new slots remain).
    static constexpr uint32_t kFreeBeforeReuse = kShardSlots / 2;
    static constexpr uint32_t kNone = UINT32_MAX;

    struct alignas(kCacheLine) Slot { // one to a line: creating a handle writes its neighbour's line
        std::atomic<uint32_t> handle{0};         // the live handle, 0 while free
        std::atomic<Object*> object{nullptr};    // its object, for find()
        std::shared_ptr<Object> owner;           // under the lock
        uint32_t generation = 1;                 // under the lock
        uint32_t nextFree = kNone;               // under the lock
    };

    // The free slots of a shard, under its lock.
    struct alignas(kCacheLine) Shard {
        std::mutex mutex;
        uint32_t usedSlots = 0; // slots of the shard handed out at least once
        uint32_t freeHead = kNone, freeTail = kNone, freeCount = 0;
    };

    Shard& shardOf(uint32_t handle) { return shards_[(handle & kSlotMask) >> kShardSlotBits]; }

    Slot* slotAt(uint32_t index) const {
        Slot* const chunk = chunks_[index >> kChunkShift].load(std::memory_order_relaxed);
        return chunk != nullptr ? &chunk[index & kChunkMask] : nullptr;
    }

    // Under the lock.
    Slot* liveSlot(uint32_t handle) const {
        if ((handle & kKindMask) != kindBits_) return nullptr;
        Slot* const slot = slotAt(handle & kSlotMask);
        return slot != nullptr && slot->handle.load(std::memory_order_relaxed) == handle ? slot : nullptr;
    }

    void pushFree(Shard& shard, uint32_t index) {
        slotAt(index)->nextFree = kNone;
        if (shard.freeTail == kNone) shard.freeHead = index;
        else slotAt(shard.freeTail)->nextFree = index;
        shard.freeTail = index;
        ++shard.freeCount;
    }

    uint32_t popFree(Shard& shard) {
        const uint32_t index = shard.freeHead;
        shard.freeHead = slotAt(index)->nextFree;
        if (shard.freeHead == kNone) shard.freeTail = kNone;
        --shard.freeCount;
        return index;
    }

    // A slot of the shard for a new handle: a fresh one while few are free, else the longest
    // free. kNone when every slot of the shard is live.
    uint32_t takeSlot(Shard& shard, uint32_t shardIndex) {
        const bool freshLeft = shard.usedSlots < kShardSlots;
        if (shard.freeCount > 0 && (shard.freeCount >= kFreeBeforeReuse || !freshLeft)) return popFree(shard);
        if (!freshLeft) return kNone;
        const uint32_t index = shardIndex << kShardSlotBits | shard.usedSlots;
        std::atomic<Slot*>& chunk = chunks_[index >> kChunkShift];
        if (chunk.load(std::memory_order_relaxed) == nullptr)
            chunk.store(new Slot[kChunkSize], std::memory_order_release); // kept for the process's life
        ++shard.usedSlots;
        return index;
    }

    uint32_t add(std::shared_ptr<Object>&& object) {
        const uint32_t home = threadShard();
        for (uint32_t step = 0; step < kShardCount; ++step) {
            const uint32_t shardIndex = (home + step) & kShardMask;
            Shard& shard = shards_[shardIndex];
            std::lock_guard lock(shard.mutex);
            const uint32_t index = takeSlot(shard, shardIndex);
            if (index == kNone) continue;
            // Slot 0 of generation 0 would be the bare kind bits; starting every slot at generation
            // 1 and skipping 0 on wrap-around keeps every handle distinct from 0 and from the kind.
            Slot& slot = *slotAt(index);
            if (slot.generation == 0) slot.generation = 1;
            const uint32_t handle = kindBits_ | slot.generation << kSlotBits | index;
            slot.object.store(object.get(), std::memory_order_relaxed);
            slot.owner = std::move(object);
            slot.handle.store(handle, std::memory_order_release);
            return handle;
        }
        return 0;
    }

    // Read by find() at every call.
    alignas(kCacheLine) const uint32_t kindBits_;
    std::array<std::atomic<Slot*>, kChunkCount> chunks_{};
    // Written by creating and releasing.
    std::array<Shard, kShardCount> shards_{};
};

// The one table of a kind for the whole process is a constant-initialised global: ready before
// any code runs, reached without a guard, and never torn down (its slots live on the heap for the
// process's life), so services called from other objects' destructors at exit still find it.
#define KRM_HOST_HANDLE_TABLE(Object, name, kind)                                                   \
    constinit HandleTable<Object> name{kind};                                                      \
    static_assert(std::is_trivially_destructible_v<HandleTable<Object>>, "a table is never torn down")

} // namespace krm_host
