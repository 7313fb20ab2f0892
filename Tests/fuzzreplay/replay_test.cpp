// Replays every stored fuzz input (Fuzz/corpus/<target>/) through the function its fuzz target
// calls, so that an input that once crashed, leaked or hung the filter is run on every build.
// Each input must come back with a plain return code and every handle and block released.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "../../Fuzz/fuzz_targets.h"
#include "test_util.h"

namespace oasys_fuzz {

// Test names show the target only.
void PrintTo(const Target& target, std::ostream* os) { *os << target.name; }

namespace {

const std::filesystem::path kCorpus = std::filesystem::path(__FILE__).parent_path() / "../../Fuzz/corpus";

constexpr int32_t kKnownCodes[] = {KRM_OK,         KRM_ERR_NO_MEMORY,  KRM_ERR_OPEN,        KRM_ERR_WRITE,
                                   KRM_ERR_BROKEN, KRM_ERR_PASSWORD,   KRM_ERR_UNSUPPORTED, KRM_ERR_NO_TEXT,
                                   KRM_ERR_OUTPUT_LIMIT, KRM_ERR_LOOP_GUARD};

class FuzzReplay : public oasys_test::HostCheckedTest, public ::testing::WithParamInterface<Target> {};

TEST_P(FuzzReplay, EveryStoredInputEndsWithAKnownCode) {
    const Target target = GetParam();
    const auto dir = kCorpus / std::string(target.name);
    ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
    std::vector<std::filesystem::path> inputs;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.is_regular_file()) inputs.push_back(entry.path());
    std::sort(inputs.begin(), inputs.end());
    EXPECT_FALSE(inputs.empty()) << "no stored inputs for " << target.name;
    for (const auto& path : inputs) {
        const Bytes data = oasys_test::readFile(path);
        const int32_t code = target.run(data.data(), data.size());
        EXPECT_TRUE(std::find(std::begin(kKnownCodes), std::end(kKnownCodes), code) != std::end(kKnownCodes))
            << path.filename() << " returned " << code;
        EXPECT_TRUE(hostReleasedEverything()) << path.filename() << " left a handle, block or binding";
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, FuzzReplay, ::testing::ValuesIn(kTargets),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace oasys_fuzz
