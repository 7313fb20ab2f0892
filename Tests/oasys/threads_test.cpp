// Four threads at once on documents of every packaging: each gets its text and properties.
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
    TempDir dir;
    std::vector<std::filesystem::path> paths;
    for (const oasys_packaging packaging : {OASYS_PACKAGING_SEPARATED, OASYS_PACKAGING_COMBINED, OASYS_PACKAGING_COMPOUND}) {
        std::filesystem::create_directories(dir / oasys_packaging_name(packaging));
        paths.push_back(writeDocument(dir / oasys_packaging_name(packaging), packaging, Body::Visible));
    }
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 4; ++thread) {
        threads.emplace_back([&, thread] {
            for (int round = 0; round < 10; ++round) {
                oasys_document* document = nullptr;
                oasys_buffer buffer{};
                oasys_properties properties;
                const bool good =
                    oasys_open_path(paths[(thread + round) % 3].c_str(), OASYS_PACKAGING_AUTO, &document, nullptr) == OASYS_OK &&
                    oasys_extract_to_buffer(document, &buffer, nullptr, nullptr) == OASYS_OK &&
                    std::string(buffer.data, buffer.size) == textOf(Body::Visible) &&
                    oasys_read_properties(document, nullptr, &properties, nullptr) == OASYS_OK &&
                    std::string(properties.title.text) == "Title";
                mismatches += !good;
                oasys_buffer_free(&buffer);
                oasys_close(document);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(KRMTest_LiveBindings(), 0);
}

} // namespace
