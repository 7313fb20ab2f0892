// Helpers shared by the test programs: option records, log capture, and the check that a call
// released every handle and block it acquired.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "krm_host.h"
#include "krm_host_testing.h"
#include "krm_zori2.h"

namespace oasys_test {

// Options with the given output charset and flags; everything else zero.
HostOptions makeOptions(const std::string& charset = "UTF-8", uint32_t flags = 0, uint32_t maxOutput = 0);

// The lines of a log file written with KRM_OPT_LOG, split after each "\r\n" (a line keeps its
// "\r\n"; texts written without one are joined to the next).
std::vector<std::string> readLogLines(const std::filesystem::path& logFile);

// Fixture base: disarms failure switches before each test and checks afterwards that the host
// counters of open files, storages, streams, logs, output streams and blocks are back to zero.
class HostCheckedTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

// Asserts that every host counter is zero (for use inside a test, right after a call).
void expectHostCountersZero();

} // namespace oasys_test
