#include "test_util.h"

#include <cstring>
#include <fstream>
#include <sstream>

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
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end + 2 - start));
        start = end + 2;
    }
    return lines;
}

void expectHostCountersZero() {
    const KrmHostCounters c = KRMTest_Counters();
    EXPECT_EQ(c.openFiles, 0) << "open files";
    EXPECT_EQ(c.openStorages, 0) << "open storages";
    EXPECT_EQ(c.openStreams, 0) << "open streams";
    EXPECT_EQ(c.openLogs, 0) << "open logs";
    EXPECT_EQ(c.outstandingBlocks, 0) << "outstanding blocks";
    EXPECT_EQ(c.outputStreams, 0) << "output streams";
}

void HostCheckedTest::SetUp() { KRMTest_ResetFailures(); }

void HostCheckedTest::TearDown() {
    KRMTest_ResetFailures();
    expectHostCountersZero();
}

} // namespace oasys_test
