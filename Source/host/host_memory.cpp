// Memory service: the heap through the C library, with a count of the blocks not yet freed so
// that tests can prove every call of the filter gives back what it took.
#include "host_internal.h"
#include "krm_host.h"

#include <cstdlib>

namespace {
// malloc(0) may return a null pointer, which the filter would take for exhausted memory.
constexpr uint32_t kSmallestBlock = 1;
} // namespace

extern "C" {

KRM_EXPORT void* KRM_malloc(uint32_t size) {
    if (krm_host::shouldFail(KRM_SVC_MALLOC)) {
        return nullptr;
    }
    void* block = std::malloc(size == 0 ? kSmallestBlock : size);
    if (block != nullptr) {
        krm_host::count(krm_host::Counter::OutstandingBlocks, +1);
    }
    return block;
}

KRM_EXPORT void KRM_free(void* block) {
    if (block == nullptr) {
        return;
    }
    std::free(block);
    krm_host::count(krm_host::Counter::OutstandingBlocks, -1);
}

} // extern "C"
