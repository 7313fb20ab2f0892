// Threads using the host services at once on their own files, as concurrent filter calls do; untimed.
#include <atomic>
#include <string>
#include <thread>

#include "host_test_support.h"

namespace {

using host_test::Bytes;
using host_test::patternBytes;

struct ThreadFiles { std::filesystem::path plain, compound, output, log; Bytes plainData, bodyData; };

// One filter-like call (log, block, compound stream, plain file, output); returns the wrong bytes.
size_t oneRound(const ThreadFiles& files) {
    size_t wrong = 0;
    const uint32_t log = krm_logfopen(KRM_OPT_LOG, files.log.c_str());
    krm_logfprintf(KRM_OPT_LOG, log, "round %i\r\n", 1);
    void* block = KRM_malloc(532);
    const uint32_t storage = KRM_2OLEopen(files.compound.c_str());
    const uint32_t stream = KRM_2OLEopenStream(storage, "doc1.doc");
    uint8_t byte = 0;
    for (const uint8_t expected : files.bodyData) wrong += KRM_2OLEreadStream(stream, &byte, 1) != 1 || byte != expected;
    KRM_2OLEcloseStream(stream);
    KRM_2OLEclose(storage);
    const uint32_t source = KRM_FileOpen(files.plain.c_str(), "rb");
    const uint32_t output = KRM_FileOpen(files.output.c_str(), "wb");
    for (uint32_t at = 0; at < files.plainData.size(); ++at) {
        KRM_FileSeek(source, at, 0);
        wrong += KRM_FileRead(&byte, 1, 1, source) != 1 || byte != files.plainData[at];
        wrong += KRM_FileWrite(&byte, 1, 1, output) != 1;
    }
    wrong += KRM_FileClose(source) != 0 || KRM_FileClose(output) != 0 || oasys_test::readFile(files.output) != files.plainData;
    KRM_free(block);
    krm_logfclose(KRM_OPT_LOG, log);
    return wrong;
}

TEST(HostConcurrency, ThreadsOnDifferentHandlesReadTheirOwnData) {
    constexpr int kThreads = 6, kRounds = 4;
    KRMTest_ResetFailures();
    oasys_test::TempDir dir;
    std::vector<ThreadFiles> perThread;
    for (int t = 0; t < kThreads; ++t) {
        const std::string name = "t" + std::to_string(t);
        perThread.push_back({dir / (name + ".DOC"), dir / (name + ".ole"), dir / (name + ".txt"),
                             dir / (name + ".log"), patternBytes(70000 + 1000 * t, 100 + t),
                             patternBytes(5000 + 100 * t, 200 + t)});
        oasys_test::writeFile(perThread[t].plain, perThread[t].plainData);
        oasys_test::writeCompound(perThread[t].compound, {{"DOC1.DOC", perThread[t].bodyData}});
    }
    std::atomic<size_t> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] { for (int round = 0; round < kRounds; ++round) wrong += oneRound(perThread[t]); });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0u);
    oasys_test::expectHostCountersZero();
    for (const ThreadFiles& files : perThread)
        EXPECT_EQ(oasys_test::readLogLines(files.log), std::vector<std::string>{"round 1\r\n"});
}

} // namespace
