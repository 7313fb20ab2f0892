// One libFuzzer program per reader: KRM_FUZZ_TARGET names the function of fuzz_targets.h that
// takes the input (the build compiles this file once per target).
#include <cstdlib>
#include <exception>

#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int32_t code = 0;
    try {
        code = oasys_fuzz::KRM_FUZZ_TARGET(data, size);
    } catch (const std::exception&) {
        // The writer refuses what it cannot lay out (e.g. a scratch file it cannot write);
        // that is no finding about the filter.
    }
    // A handle, block or binding left behind, or a status owed to no valid call, is a finding like
    // a crash.
    if (code == oasys_fuzz::kBrokenContract || !oasys_fuzz::hostReleasedEverything()) std::abort();
    return 0;
}
