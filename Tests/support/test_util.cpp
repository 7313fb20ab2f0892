#include "test_util.h"

#include <cstring>
#include <fstream>
#include <sstream>
#include <tuple>

namespace oasys_test {

HostOptions makeOptions(const std::string& charset, uint32_t flags, uint32_t maxOutput) {
    HostOptions options{};
    std::strncpy(options.outputCharset, charset.c_str(), sizeof options.outputCharset - 1);
    options.optionFlags = flags;
    options.maxOutputSize = maxOutput;
    return options;
}

std::vector<std::string> readLogLines(const std::filesystem::path& logFile) {
    std::ifstream in(logFile, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    const std::string text = all.str();
    std::vector<std::string> lines;
    for (size_t start = 0, end; start < text.size(); start = end) {
        const size_t found = text.find("\r\n", start);
        end = found == std::string::npos ? text.size() : found + 2;
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

void expectHostCountersZero() {
    const KrmHostCounters c = KRMTest_Counters();
    EXPECT_EQ(std::make_tuple(c.openFiles, c.openStorages, c.openStreams, c.openLogs, c.outstandingBlocks, c.outputStreams),
              std::make_tuple(0, 0, 0, 0, 0, 0)) << "open files, storages, streams, logs; blocks; output streams";
}

void HostCheckedTest::SetUp() { KRMTest_ResetFailures(); }

void HostCheckedTest::TearDown() {
    KRMTest_ResetFailures();
    expectHostCountersZero();
}

} // namespace oasys_test
