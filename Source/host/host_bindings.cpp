// Bound names: an application binds open descriptors to names under a prefix of its own, and the
// filter, which only knows paths, opens them by those names (see krm_host.h).
//
// The file service opens a bound name as a duplicate of its descriptor where the mode allows,
// and reads and writes it at its own positions (host_file.cpp); a small compound file is read
// whole from the descriptor at explicit offsets (host_ole.cpp); everything else opens the bound
// descriptor's file afresh through /proc/self/fd/N, an open file with an offset of its own. Either
// way the application's offset never moves, and two handles on one bound name never disturb each
// other.
#include "host_bindings.h"

#include "host_internal.h"
#include "krm_host.h"

#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string_view>
#include <unordered_map>

namespace krm_host {
namespace {

constexpr std::string_view kBoundRoot = "/krm-bound/";
constexpr std::string_view kDescriptorFolder = "/proc/self/fd/";

struct Binding {
    std::map<std::string, int, std::less<>> descriptors;
    std::string logPath;
};

// Bindings live in shards (host_internal.h), each under a lock of its own; a thread makes its
// bindings in its own shard, and a binding's serial names its shard in its low bits, so that any
// thread finds it.
constexpr uint32_t kLastNumber = UINT32_MAX >> kShardBits; // a serial is number << kShardBits | shard

struct alignas(kCacheLine) Shard {
    std::mutex mutex;
    std::unordered_map<uint32_t, Binding> bindings;
    uint32_t nextNumber = 1;
    int32_t live = 0; // for the testing interface
};

struct Registry {
    std::array<Shard, kShardCount> shards;
};

// Never destroyed, so that services called at exit still find it.
Registry& registry() {
    static Registry* const instance = new Registry;
    return *instance;
}

Shard& shardOf(uint32_t serial) {
    return registry().shards[serial & kShardMask];
}

// A serial of the shard that no live binding has (numbers wrap around after about 268 million).
uint32_t freeSerial(Shard& shard, uint32_t index) {
    for (;;) {
        const uint32_t number = shard.nextNumber;
        shard.nextNumber = number == kLastNumber ? 1 : number + 1;
        const uint32_t serial = number << kShardBits | index;
        if (shard.bindings.count(serial) == 0) return serial;
    }
}

// "/krm-bound/<serial>/<name>" split into its serial and name; false for anything else.
bool splitBoundPath(const char* path, uint32_t& serial, std::string_view& name) {
    if (path == nullptr || std::strncmp(path, kBoundRoot.data(), kBoundRoot.size()) != 0) {
        return false;
    }
    const char* cursor = path + kBoundRoot.size();
    uint64_t value = 0;
    const char* digits = cursor;
    while (*cursor >= '0' && *cursor <= '9' && cursor - digits < 10) {
        value = value * 10 + static_cast<uint64_t>(*cursor - '0');
        ++cursor;
    }
    if (cursor == digits || *cursor != '/' || value == 0 || value > UINT32_MAX) {
        return false;
    }
    serial = static_cast<uint32_t>(value);
    name = std::string_view(cursor + 1);
    return true;
}

// Calls use(binding, name) under its shard's lock for a name under a live binding; false when
// the path is not one.
template <class Use>
bool withBinding(const char* path, Use&& use) {
    uint32_t serial = 0;
    std::string_view name;
    if (!splitBoundPath(path, serial, name)) {
        return false;
    }
    Shard& shard = shardOf(serial);
    std::lock_guard lock(shard.mutex);
    const auto found = shard.bindings.find(serial);
    if (found == shard.bindings.end()) {
        return false;
    }
    use(found->second, name);
    return true;
}

int descriptorOf(const Binding& binding, std::string_view name) {
    const auto found = binding.descriptors.find(name);
    return found == binding.descriptors.end() ? -1 : found->second;
}

bool isPlainName(const char* name) {
    return name != nullptr && name[0] != '\0' && std::strchr(name, '/') == nullptr;
}

// Applies change to a live binding under its shard's lock: 0 when it says yes, kFailed for an
// unknown binding, a refusal or no memory.
template <class Change>
int32_t changeBinding(uint32_t binding, Change&& change) noexcept {
    Shard& shard = shardOf(binding);
    try {
        std::lock_guard lock(shard.mutex);
        const auto found = shard.bindings.find(binding);
        return found != shard.bindings.end() && change(found->second) ? 0 : kFailed;
    } catch (const std::exception&) {
        return kFailed;
    }
}

} // namespace

bool isBoundPath(const char* path) {
    return withBinding(path, [](const Binding&, std::string_view) {});
}

BoundName findBoundName(const char* path) {
    BoundName found;
    found.underBinding =
        withBinding(path, [&](const Binding& binding, std::string_view name) { found.fd = descriptorOf(binding, name); });
    return found;
}

const char* reopenPathOf(int fd, std::string& holder) {
    holder.clear();
    if (fd >= 0) {
        holder.append(kDescriptorFolder);
        holder.append(std::to_string(fd));
    }
    return holder.c_str();
}

int32_t boundFileIsEmpty(const char* path) {
    const int fd = findBoundName(path).fd;
    struct stat status {};
    return fd >= 0 && ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size == 0 ? 1 : 0;
}

bool boundLogName(const char* path, char* name) {
    bool named = false;
    withBinding(path, [&](const Binding& binding, std::string_view) {
        if (binding.logPath.empty() || binding.logPath.size() >= KRM_PATH_MAX) {
            return;
        }
        std::snprintf(name, KRM_PATH_MAX, "%s", binding.logPath.c_str());
        named = true;
    });
    return named;
}

} // namespace krm_host

extern "C" {

KRM_EXPORT uint32_t KRM_BindingCreate(char* prefix, size_t size) {
    if (prefix == nullptr || size < KRM_BINDING_PREFIX_MAX) {
        return 0;
    }
    const uint32_t index = krm_host::threadShard();
    krm_host::Shard& shard = krm_host::registry().shards[index];
    try {
        std::lock_guard lock(shard.mutex);
        const uint32_t serial = krm_host::freeSerial(shard, index);
        shard.bindings.emplace(serial, krm_host::Binding{});
        std::snprintf(prefix, size, "%.*s%u/", static_cast<int>(krm_host::kBoundRoot.size()),
                      krm_host::kBoundRoot.data(), serial);
        ++shard.live;
        return serial;
    } catch (const std::exception&) {
        return 0;
    }
}

KRM_EXPORT int32_t KRM_BindingAddFd(uint32_t binding, const char* name, int fd) {
    if (!krm_host::isPlainName(name) || fd < 0) {
        return krm_host::kFailed;
    }
    return krm_host::changeBinding(binding, [&](krm_host::Binding& bound) {
        return bound.descriptors.emplace(name, fd).second;
    });
}

KRM_EXPORT int32_t KRM_BindingSetLog(uint32_t binding, const char* logPath) {
    return krm_host::changeBinding(binding, [&](krm_host::Binding& bound) {
        bound.logPath = logPath != nullptr ? logPath : "";
        return true;
    });
}

KRM_EXPORT void KRM_BindingRelease(uint32_t binding) {
    krm_host::Shard& shard = krm_host::shardOf(binding);
    std::lock_guard lock(shard.mutex);
    if (shard.bindings.erase(binding) != 0) {
        --shard.live;
    }
}

KRM_EXPORT int32_t KRMTest_LiveBindings(void) {
    int32_t live = 0;
    for (krm_host::Shard& shard : krm_host::registry().shards) {
        std::lock_guard lock(shard.mutex);
        live += shard.live;
    }
    return live;
}

} // extern "C"
