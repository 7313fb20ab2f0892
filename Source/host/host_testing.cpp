// Failure switches and counters of the testing interface. Every service asks shouldFail() once
// per call; tests arm a switch so that the n-th call from now fails the way that service fails,
// and read the counters to prove that every handle and block was given back.
#include "host_internal.h"
#include "krm_host_testing.h"

#include <array>
#include <atomic>
#include <cstddef>

namespace krm_host {
namespace {

constexpr size_t kServiceCount = KRM_SVC_COUNT;
constexpr size_t kCounterCount = static_cast<size_t>(Counter::OutputStreams) + 1;

// Calls still to go before the armed failure (0: disarmed).
alignas(kCacheLine) std::array<std::atomic<uint32_t>, kServiceCount> failureCountdown{};
alignas(kCacheLine) std::array<std::atomic<uint32_t>, kServiceCount> callCounts{};
// Written at every open, close, allocation and release, whatever the testing interface: a set per
// shard, summed when read (a handle opened on one thread and closed on another leaves +1 in one
// set and -1 in the other).
struct alignas(kCacheLine) CounterSet {
    std::array<std::atomic<int32_t>, kCounterCount> values{};
};
std::array<CounterSet, kShardCount> counters{};

bool isService(KrmService service) {
    return static_cast<size_t>(service) < kServiceCount;
}

int32_t counterValue(Counter counter) {
    int32_t sum = 0;
    for (const CounterSet& set : counters) {
        sum += set.values[static_cast<size_t>(counter)].load(std::memory_order_relaxed);
    }
    return sum;
}

// Every entry of the testing interface turns the switches and call counts on.
void useTestingInterface() {
    testingInterfaceUsed.store(true, std::memory_order_relaxed);
}

} // namespace

alignas(kCacheLine) std::atomic<bool> testingInterfaceUsed{false};

bool countCallAndCheckSwitch(KrmService service) {
    if (!isService(service)) {
        return false;
    }
    callCounts[service].fetch_add(1, std::memory_order_relaxed);
    std::atomic<uint32_t>& countdown = failureCountdown[service];
    uint32_t remaining = countdown.load(std::memory_order_relaxed);
    // Count down without losing a step to a concurrent call; only the call that takes the
    // countdown from 1 to 0 fails, so a switch fires exactly once.
    while (remaining != 0) {
        if (countdown.compare_exchange_weak(remaining, remaining - 1, std::memory_order_acq_rel)) {
            return remaining == 1;
        }
    }
    return false;
}

void count(Counter counter, int delta) {
    counters[threadShard()].values[static_cast<size_t>(counter)].fetch_add(delta, std::memory_order_relaxed);
}

} // namespace krm_host

using krm_host::Counter;

extern "C" {

KRM_EXPORT void KRMTest_FailAt(KrmService service, uint32_t n) {
    krm_host::useTestingInterface();
    if (krm_host::isService(service)) {
        krm_host::failureCountdown[service].store(n, std::memory_order_release);
    }
}

KRM_EXPORT void KRMTest_ResetFailures(void) {
    krm_host::useTestingInterface();
    for (auto& countdown : krm_host::failureCountdown) {
        countdown.store(0, std::memory_order_release);
    }
}

KRM_EXPORT KrmHostCounters KRMTest_Counters(void) {
    krm_host::useTestingInterface();
    KrmHostCounters result{};
    result.openFiles = krm_host::counterValue(Counter::OpenFiles);
    result.openStorages = krm_host::counterValue(Counter::OpenStorages);
    result.openStreams = krm_host::counterValue(Counter::OpenStreams);
    result.openLogs = krm_host::counterValue(Counter::OpenLogs);
    result.outstandingBlocks = krm_host::counterValue(Counter::OutstandingBlocks);
    result.outputStreams = krm_host::counterValue(Counter::OutputStreams);
    return result;
}

KRM_EXPORT uint32_t KRMTest_CallCount(KrmService service) {
    krm_host::useTestingInterface();
    return krm_host::isService(service) ? krm_host::callCounts[service].load(std::memory_order_relaxed) : 0;
}

} // extern "C"
