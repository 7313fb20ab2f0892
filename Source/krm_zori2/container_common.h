// Loop guards shared by the two container readers (combined and compound documents).
//
// With option bit 0x20000 the host asks that every long walk over a document be bounded: each
// pass of a guarded loop counts on one of the loop counters of the call's context, and the walk
// stops with 3006 once a count passes 524288. Without the bit nothing is counted.
#pragma once

#include "krm_types.h"

namespace krm_containers {

inline bool loopGuardsOn(const HostOptions& options) { return (options.optionFlags & KRM_OPT_LOOP_GUARD) != 0; }

inline void resetLoopCounter(const HostOptions& options, int32_t& counter) {
    if (loopGuardsOn(options)) counter = 0;
}

// One pass of a guarded loop; true when the counter passed the limit and the walk must stop.
inline bool loopGuardTripped(const HostOptions& options, int32_t& counter) {
    if (!loopGuardsOn(options)) return false;
    counter = static_cast<int32_t>(static_cast<uint32_t>(counter) + 1);
    return static_cast<uint32_t>(counter) > KRM_LOOP_GUARD_LIMIT;
}

}  // namespace krm_containers
