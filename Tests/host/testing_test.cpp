// Memory service and the testing interface: failure switches fire once at the n-th call, each
// service fails the way its callers expect, counters and call counts follow every call.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "host_test_support.h"
#include "krm_host.h"
#include "krm_host_testing.h"
#include "oasys_writer.h"
#include "test_util.h"

namespace {

using oasys_test::TempDir;

class TestingInterfaceTest : public oasys_test::HostCheckedTest {
protected:
    void SetUp() override {
        HostCheckedTest::SetUp();
        oasys_test::writeFile(plainPath, oasys_test::bytes("plain"));
        oasys_test::writeCompound(compoundPath, {{"OasysStreamFileList", oasys_test::bytes("list")}});
    }

public: // read by the cases of the switch table
    TempDir dir;
    std::filesystem::path plainPath = dir / "plain.txt";
    std::filesystem::path compoundPath = dir / "doc.ole";
};

TEST_F(TestingInterfaceTest, MallocCountsOutstandingBlocks) {
    void* first = KRM_malloc(532);
    void* empty = KRM_malloc(0);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(empty, nullptr) << "a zero-size block is no failure";
    EXPECT_EQ(KRMTest_Counters().outstandingBlocks, 2);
    KRM_free(first);
    KRM_free(nullptr);
    EXPECT_EQ(KRMTest_Counters().outstandingBlocks, 1);
    KRM_free(empty);
}

TEST_F(TestingInterfaceTest, SwitchFiresOnceAtTheNthCall) {
    KRMTest_FailAt(KRM_SVC_MALLOC, 3);
    std::vector<bool> failed;
    for (int call = 1; call <= 5; ++call) {
        void* block = KRM_malloc(8);
        failed.push_back(block == nullptr);
        KRM_free(block);
    }
    EXPECT_EQ(failed, (std::vector<bool>{false, false, true, false, false}));
}

TEST_F(TestingInterfaceTest, SwitchesAreDisarmedByZeroAndByReset) {
    KRMTest_FailAt(KRM_SVC_MALLOC, 1);
    KRMTest_FailAt(KRM_SVC_MALLOC, 0);
    void* block = KRM_malloc(8);
    EXPECT_NE(block, nullptr);
    KRM_free(block);
    KRMTest_FailAt(KRM_SVC_MALLOC, 1);
    KRMTest_FailAt(KRM_SVC_FILE_OPEN, 2);
    KRMTest_ResetFailures();
    block = KRM_malloc(8);
    EXPECT_NE(block, nullptr);
    KRM_free(block);
    for (int i = 0; i < 2; ++i) {
        const uint32_t file = KRM_FileOpen(plainPath.c_str(), "rb");
        EXPECT_NE(file, 0u);
        KRM_FileClose(file);
    }
}

TEST_F(TestingInterfaceTest, OtherServicesAreNotTouchedByASwitch) {
    KRMTest_FailAt(KRM_SVC_FILE_CLOSE, 1);
    void* block = KRM_malloc(8);
    EXPECT_NE(block, nullptr);
    KRM_free(block);
    const uint32_t file = KRM_FileOpen(plainPath.c_str(), "rb");
    EXPECT_NE(file, 0u);
    EXPECT_NE(KRM_FileClose(file), 0) << "the armed service still fails";
}

// Each service of this library with its failure switch: the call made while the switch fires,
// and whether its result is the failure the filter looks for.
struct SwitchCase {
    const char* what;
    KrmService service;
    std::function<bool(TestingInterfaceTest&)> failsAsExpected;
};

TEST_F(TestingInterfaceTest, EverySwitchFailsItsServiceTheWayCallersSeeIt) {
    const SwitchCase cases[] = {
        {"malloc gives no block", KRM_SVC_MALLOC,
         [](TestingInterfaceTest&) {
             void* block = KRM_malloc(532);
             KRM_free(block);
             return block == nullptr;
         }},
        {"file open gives no handle", KRM_SVC_FILE_OPEN,
         [](TestingInterfaceTest& t) {
             const uint32_t file = KRM_FileOpen(t.plainPath.c_str(), "rb");
             KRM_FileClose(file);
             return file == 0;
         }},
        {"file close fails but releases the file", KRM_SVC_FILE_CLOSE,
         [](TestingInterfaceTest& t) {
             const auto out = t.dir / "closed.txt";
             const uint32_t file = KRM_FileOpen(out.c_str(), "wb");
             KRM_FileWrite("kept", 1, 4, file);
             const bool failed = KRM_FileClose(file) != 0;
             uint8_t byte;
             const bool released = KRM_FileRead(&byte, 1, 1, file) == 0 && KRMTest_Counters().openFiles == 0;
             // Still written out, so that the caller can remove it as a failed output.
             const bool written = host_test::asText(oasys_test::readFile(out)) == "kept";
             return failed && released && written;
         }},
        {"file write writes fewer elements", KRM_SVC_FILE_WRITE,
         [](TestingInterfaceTest& t) {
             const uint32_t file = KRM_FileOpen((t.dir / "short.txt").c_str(), "wb");
             const bool shortCount = KRM_FileWrite("abcd", 1, 4, file) < 4;
             KRM_FileClose(file);
             return shortCount;
         }},
        {"stream write gives -1", KRM_SVC_WRITE_STREAM,
         [](TestingInterfaceTest&) {
             const uint32_t stream = KRM_StreamCreateMemory();
             const bool failed = KRM_WriteStream(stream, 3, "abc") == -1;
             const uint8_t* data;
             size_t length = 1;
             KRM_StreamGetMemory(stream, &data, &length);
             KRM_StreamRelease(stream);
             return failed && length == 0;
         }},
        {"compound open gives no storage", KRM_SVC_OLE_OPEN,
         [](TestingInterfaceTest& t) {
             const uint32_t storage = KRM_2OLEopen(t.compoundPath.c_str());
             KRM_2OLEclose(storage);
             return storage == 0;
         }},
        {"stream open gives no stream", KRM_SVC_OLE_OPEN_STREAM,
         [](TestingInterfaceTest& t) {
             const uint32_t storage = KRM_2OLEopen(t.compoundPath.c_str());
             const uint32_t stream = KRM_2OLEopenStream(storage, "OasysStreamFileList");
             KRM_2OLEcloseStream(stream);
             KRM_2OLEclose(storage);
             const bool failed = storage != 0 && stream == 0;
             return failed;
         }},
    };
    for (const SwitchCase& c : cases) {
        SCOPED_TRACE(c.what);
        const uint32_t callsBefore = KRMTest_CallCount(c.service);
        KRMTest_FailAt(c.service, 1);
        EXPECT_TRUE(c.failsAsExpected(*this));
        EXPECT_EQ(KRMTest_CallCount(c.service), callsBefore + 1) << "one call, counted once";
        // Fired once: the same call succeeds now.
        EXPECT_FALSE(c.failsAsExpected(*this));
        oasys_test::expectHostCountersZero();
    }
}

TEST_F(TestingInterfaceTest, CountersFollowEveryKindOfHandle) {
    const uint32_t file = KRM_FileOpen(plainPath.c_str(), "rb");
    const uint32_t storage = KRM_2OLEopen(compoundPath.c_str());
    const uint32_t stream = KRM_2OLEopenStream(storage, "oasysstreamfilelist");
    const uint32_t log = krm_logfopen(0, "");
    const uint32_t output = KRM_StreamCreateMemory();
    void* block = KRM_malloc(4);
    const KrmHostCounters open = KRMTest_Counters();
    EXPECT_EQ(open.openFiles, 1);
    EXPECT_EQ(open.openStorages, 1);
    EXPECT_EQ(open.openStreams, 1);
    EXPECT_EQ(open.openLogs, 1);
    EXPECT_EQ(open.outputStreams, 1);
    EXPECT_EQ(open.outstandingBlocks, 1);
    // Failed opens count nothing.
    EXPECT_EQ(KRM_FileOpen((dir / "missing").c_str(), "rb"), 0u);
    EXPECT_EQ(KRM_2OLEopen(plainPath.c_str()), 0u);
    EXPECT_EQ(KRM_2OLEopenStream(storage, "missing"), 0u);
    EXPECT_EQ(KRMTest_Counters().openFiles, 1);
    EXPECT_EQ(KRMTest_Counters().openStorages, 1);
    EXPECT_EQ(KRMTest_Counters().openStreams, 1);
    KRM_FileClose(file);
    KRM_2OLEcloseStream(stream);
    KRM_2OLEclose(storage);
    krm_logfclose(0, log);
    KRM_StreamRelease(output);
    KRM_free(block);
}

TEST_F(TestingInterfaceTest, UnknownServiceIsIgnored) {
    KRMTest_FailAt(KRM_SVC_COUNT, 1);
    EXPECT_EQ(KRMTest_CallCount(KRM_SVC_COUNT), 0u);
    void* block = KRM_malloc(1);
    EXPECT_NE(block, nullptr);
    KRM_free(block);
}

} // namespace
