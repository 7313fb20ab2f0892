// Memory service and the testing interface: failure switches fire once at the n-th call, each
// service fails the way its callers expect, counters follow every handle.
#include <functional>

#include "host_test_support.h"

namespace {

class TestingInterfaceTest : public host_test::HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        oasys_test::writeFile(plainPath, oasys_test::bytes("plain"));
        oasys_test::writeCompound(compoundPath, {{"OasysStreamFileList", oasys_test::bytes("list")}});
    }

public: // read by the cases of the switch table
    using HostTest::dir;
    bool mallocFails() {
        void* block = KRM_malloc(8);
        KRM_free(block);
        return block == nullptr;
    }
    std::filesystem::path plainPath = dir / "plain.txt";
    std::filesystem::path compoundPath = dir / "doc.ole";
};

TEST_F(TestingInterfaceTest, SwitchFiresOnceAtTheNthCallOfItsServiceOnly) {
    KRMTest_FailAt(KRM_SVC_MALLOC, 3);
    KRMTest_FailAt(KRM_SVC_FILE_CLOSE, 1);
    std::vector<bool> failed;
    for (int call = 1; call <= 5; ++call) failed.push_back(mallocFails());
    EXPECT_EQ(failed, (std::vector<bool>{false, false, true, false, false}));
    const uint32_t file = KRM_FileOpen(plainPath.c_str(), "rb");
    EXPECT_NE(file, 0u) << "the open is not armed";
    EXPECT_NE(KRM_FileClose(file), 0) << "the close still is";
    // Disarmed by 0 and by a reset; an unknown service is ignored.
    KRMTest_FailAt(KRM_SVC_MALLOC, 1);
    KRMTest_FailAt(KRM_SVC_MALLOC, 0);
    EXPECT_FALSE(mallocFails());
    KRMTest_FailAt(KRM_SVC_MALLOC, 1);
    KRMTest_ResetFailures();
    EXPECT_FALSE(mallocFails());
    KRMTest_FailAt(KRM_SVC_COUNT, 1);
    EXPECT_EQ(KRMTest_CallCount(KRM_SVC_COUNT), 0u);
    EXPECT_FALSE(mallocFails());
}

// Each service with its failure switch: the call made while the switch fires, and whether its
// result is the failure the filter looks for.
struct SwitchCase {
    const char* what;
    KrmService service;
    std::function<bool(TestingInterfaceTest&)> failsAsExpected;
};

TEST_F(TestingInterfaceTest, EverySwitchFailsItsServiceTheWayCallersSeeIt) {
    const SwitchCase cases[] = {
        {"malloc gives no block", KRM_SVC_MALLOC, [](TestingInterfaceTest& t) { return t.mallocFails(); }},
        {"file open gives no handle", KRM_SVC_FILE_OPEN,
         [](TestingInterfaceTest& t) {
             const uint32_t file = KRM_FileOpen(t.plainPath.c_str(), "rb");
             KRM_FileClose(file);
             return file == 0;
         }},
        {"file close fails but releases and writes out the file", KRM_SVC_FILE_CLOSE,
         [](TestingInterfaceTest& t) {
             const auto out = t.dir / "closed.txt";
             const uint32_t file = KRM_FileOpen(out.c_str(), "wb");
             KRM_FileWrite("kept", 1, 4, file);
             const bool failed = KRM_FileClose(file) != 0;
             uint8_t byte;
             const bool released = KRM_FileRead(&byte, 1, 1, file) == 0 && KRMTest_Counters().openFiles == 0;
             // Still written out, so that the caller can remove it as a failed output.
             return failed && released && oasys_test::readFile(out) == oasys_test::bytes("kept");
         }},
        {"file write writes fewer elements", KRM_SVC_FILE_WRITE,
         [](TestingInterfaceTest& t) {
             const uint32_t file = KRM_FileOpen((t.dir / "short.txt").c_str(), "wb");
             const bool shortCount = KRM_FileWrite("abcd", 1, 4, file) < 4;
             KRM_FileClose(file);
             return shortCount;
         }},
        {"stream write gives -1 and keeps nothing", KRM_SVC_WRITE_STREAM,
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
             return storage != 0 && stream == 0;
         }},
    };
    for (const SwitchCase& c : cases) {
        SCOPED_TRACE(c.what);
        const uint32_t callsBefore = KRMTest_CallCount(c.service);
        KRMTest_FailAt(c.service, 1);
        EXPECT_TRUE(c.failsAsExpected(*this));
        EXPECT_EQ(KRMTest_CallCount(c.service), callsBefore + 1) << "one call, counted once";
        EXPECT_FALSE(c.failsAsExpected(*this)) << "fired once: the same call succeeds now";
        oasys_test::expectHostCountersZero();
    }
}

TEST_F(TestingInterfaceTest, CountersFollowEveryKindOfHandle) {
    const uint32_t file = KRM_FileOpen(plainPath.c_str(), "rb");
    const uint32_t storage = KRM_2OLEopen(compoundPath.c_str());
    const uint32_t stream = KRM_2OLEopenStream(storage, "oasysstreamfilelist");
    const uint32_t log = krm_logfopen(0, "");
    const uint32_t output = KRM_StreamCreateMemory();
    void* block = KRM_malloc(532);
    void* empty = KRM_malloc(0);
    ASSERT_NE(empty, nullptr) << "a zero-size block is no failure";
    // Failed opens count nothing.
    EXPECT_EQ(KRM_FileOpen((dir / "missing").c_str(), "rb"), 0u);
    EXPECT_EQ(KRM_2OLEopen(plainPath.c_str()), 0u);
    EXPECT_EQ(KRM_2OLEopenStream(storage, "missing"), 0u);
    KRM_free(nullptr);
    const KrmHostCounters open = KRMTest_Counters();
    EXPECT_EQ(open.openFiles, 1);
    EXPECT_EQ(open.openStorages, 1);
    EXPECT_EQ(open.openStreams, 1);
    EXPECT_EQ(open.openLogs, 1);
    EXPECT_EQ(open.outputStreams, 1);
    EXPECT_EQ(open.outstandingBlocks, 2);
    KRM_FileClose(file);
    KRM_2OLEcloseStream(stream);
    KRM_2OLEclose(storage);
    krm_logfclose(0, log);
    KRM_StreamRelease(output);
    KRM_free(block);
    KRM_free(empty);
}

} // namespace
