// Four threads at once, each opening documents of every packaging from every source and
// extracting text and properties: each gets the filter's own text, and the host's counters end
// at zero.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "krm_host_testing.h"
#include "oasys.h"
#include "oasys_support.h"
#include "test_util.h"

using namespace oasys_test;
using namespace oasys_lib_test;

namespace {

class Threads : public HostCheckedTest {};

TEST_F(Threads, FourThreadsOnDifferentDocuments) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 10;
    const oasys_packaging packagings[] = {OASYS_PACKAGING_SEPARATED, OASYS_PACKAGING_COMBINED,
                                          OASYS_PACKAGING_COMPOUND};
    TempDir dir;
    std::vector<std::filesystem::path> paths;
    std::vector<std::string> texts;
    for (const oasys_packaging packaging : packagings) {
        std::filesystem::create_directories(dir.path() / oasys_packaging_name(packaging));
        paths.push_back(writeDocument(dir.path() / oasys_packaging_name(packaging), packaging, Body::Visible));
        texts.push_back(filterText(paths.back(), packaging));
    }
    std::atomic<int> mismatches{0};
    auto work = [&](int thread) {
        for (int round = 0; round < kRounds; ++round) {
            const size_t which = static_cast<size_t>(thread + round) % paths.size();
            oasys_document* document = nullptr;
            if (oasys_open_path(paths[which].c_str(), OASYS_PACKAGING_AUTO, &document, nullptr) != OASYS_OK) {
                ++mismatches;
                continue;
            }
            oasys_buffer buffer{};
            oasys_properties properties;
            if (oasys_extract_to_buffer(document, &buffer, nullptr, nullptr) != OASYS_OK ||
                std::string(buffer.data, buffer.size) != texts[which] ||
                oasys_read_properties(document, nullptr, &properties, nullptr) != OASYS_OK ||
                std::string(properties.title.text) != "Title")
                ++mismatches;
            oasys_buffer_free(&buffer);
            oasys_close(document);
        }
    };
    std::vector<std::thread> threads;
    for (int thread = 0; thread < kThreads; ++thread) threads.emplace_back(work, thread);
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(KRMTest_LiveBindings(), 0);
}

} // namespace
