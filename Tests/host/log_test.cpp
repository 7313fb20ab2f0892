// Log service (naming, the option flag, "%i", logs not opened) and the output streams with their failures.
#include <fcntl.h>
#include <glib.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "host_test_support.h"

namespace {

using oasys_test::readLogLines;
using Lines = std::vector<std::string>;

constexpr uint32_t kLogOn = KRM_OPT_LOG;
constexpr uint32_t kLogOff = KRM_OPT_RULED_LINES; // other bits set, the log bit clear

class LogTest : public host_test::HostTest {
protected:
    void TearDown() override {
        KRM_SetLogDirectory(nullptr);
        HostTest::TearDown();
    }
};

// A name too long is cut between characters, keeps its ".tag.log" ending and stays in the buffer.
TEST_F(LogTest, NameIsThePathWithTagAndExtensionCutToFit) {
    std::string japanese;
    while (japanese.size() < 1100) japanese += "\xE3\x81\x82"; // あ
    const std::string longPath = "/" + std::string(1099, 'p'), longFolder(1500, 'd'), kept = ".ve2.log";
    // directory nullptr: none set; expected "": only within the bound
    const struct { const char* directory; std::string path, tag, expected; } cases[] = {
        {nullptr, "/data/out.txt", "ve2", "/data/out.txt.ve2.log"},
        {"/var/logs/", "/data/out.txt", "ve2", "/var/logs/out.txt.ve2.log"},
        {"/var/logs", "out.txt", "abc", "/var/logs/out.txt.abc.log"},
        {"", "/data/out.txt", "ve2", "/data/out.txt.ve2.log"},
        {nullptr, longPath, "ve2", longPath.substr(0, KRM_PATH_MAX - 1 - kept.size()) + kept},
        {nullptr, japanese, "ve2", japanese.substr(0, (KRM_PATH_MAX - 1 - kept.size()) / 3 * 3) + kept},
        {longFolder.c_str(), "/a/out.txt", std::string(2000, 't'), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected.substr(0, 40));
        KRM_SetLogDirectory(c.directory);
        char name[KRM_PATH_MAX + 100];
        std::memset(name, '#', sizeof name);
        GetLogFileName(c.path.c_str(), c.tag.c_str(), name);
        ASSERT_NE(std::memchr(name, '\0', KRM_PATH_MAX), nullptr);
        EXPECT_EQ(c.expected.empty() ? "" : std::string(name), c.expected);
        EXPECT_TRUE(g_utf8_validate(name, -1, nullptr));
        EXPECT_EQ(std::string(name + KRM_PATH_MAX, 100), std::string(100, '#')) << "written past the buffer";
    }
}

TEST_F(LogTest, TextsAreWrittenExactlyWithTheIntegerInPlace) {
    const auto path = dir / "run.log";
    const uint32_t log = krm_logfopen(kLogOn, path.c_str());
    EXPECT_EQ(KRMTest_Counters().openLogs, 1);
    krm_logfprintf(kLogOn, log, "Open Appfile: ", 0);
    krm_logfprint_path(kLogOn, log, "/data/DOC1.DOC");
    krm_logfprintf(kLogOn, log, "\r\nMemory allocate for srcInfo: %i bytes\r\n", 532);
    krm_logfprintf(kLogOn, log, "%i,%i;", -7);
    krm_logfprintf(kLogOn, log, "100% %d %s %%i\r\n", 3);
    krm_logfprintf(kLogOn, log, "%", 1);
    EXPECT_EQ(krm_logfclose(kLogOn, log), 0);
    EXPECT_EQ(readLogLines(path), (Lines{"Open Appfile: /data/DOC1.DOC\r\n", "Memory allocate for srcInfo: 532 bytes\r\n",
                                         "-7,-7;100% %d %s %3\r\n", "%"}));
}

// The flag is read at every call; a new log replaces the old; one that cannot be opened takes every call.
TEST_F(LogTest, FlagIsReadAtEveryCallAndUnknownHandlesAreRejected) {
    const auto path = dir / "mixed.log";
    const uint32_t quiet = krm_logfopen(kLogOff, path.c_str());
    EXPECT_EQ(KRMTest_Counters().openLogs, 1);
    EXPECT_EQ(krm_logfprintf(kLogOff, quiet, "text\r\n", 0) + krm_logfclose(kLogOff, quiet), 0);
    EXPECT_FALSE(std::filesystem::exists(path));
    for (const std::string& name : {path.string(), path.string(), (dir / "no/such.log").string(), std::string()}) {
        const uint32_t log = krm_logfopen(kLogOn, name.c_str());
        EXPECT_EQ(krm_logfprintf(kLogOn, log, "a", 0) + krm_logfprintf(kLogOff, log, "b", 0), 0);
        EXPECT_EQ(krm_logfprint_path(kLogOff, log, "c") + krm_logfprint_path(kLogOn | kLogOff, log, "d"), 0);
        EXPECT_EQ(krm_logfclose(kLogOff, log), 0);
    }
    EXPECT_EQ(readLogLines(path), Lines{"ad"});
    const uint32_t nullName = krm_logfopen(kLogOn, nullptr);
    EXPECT_EQ(krm_logfclose(kLogOn, nullName), 0);
    for (const uint32_t stale : {nullName, 0u, 12345u}) {
        EXPECT_NE(krm_logfprintf(kLogOn, stale, "x", 0), 0);
        EXPECT_NE(krm_logfprint_path(kLogOn, stale, "x"), 0);
        EXPECT_NE(krm_logfclose(kLogOn, stale), 0);
    }
}

using StreamTest = host_test::HostTest;

// Every write is collected; failures give -1 and keep nothing; a descriptor stays the application's.
TEST_F(StreamTest, StreamsCollectEveryWriteAndFailuresGiveMinusOne) {
    const uint32_t memory = KRM_StreamCreateMemory();
    const int full = ::open("/dev/full", O_WRONLY);
    const uint32_t fullStream = KRM_StreamCreateFd(full);
    const uint8_t* data = nullptr;
    size_t length = 0;
    EXPECT_EQ(KRMTest_Counters().outputStreams, 2);
    EXPECT_EQ(KRM_WriteStream(memory, 5, "line\n") + KRM_WriteStream(memory, 0, nullptr), 5);
    EXPECT_EQ(KRM_WriteStream(memory, 3, nullptr) + KRM_WriteStream(memory, 0x80000000u, "x"), -2);
    EXPECT_EQ(KRM_WriteStream(fullStream, 1, "x") + KRM_StreamGetMemory(fullStream, &data, &length), -2);
    EXPECT_EQ(KRM_StreamGetMemory(memory, nullptr, &length) + KRM_StreamGetMemory(memory, &data, nullptr), -2);
    ASSERT_EQ(KRM_StreamGetMemory(memory, &data, &length), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), length), "line\n");
    KRM_StreamRelease(memory);
    KRM_StreamRelease(fullStream);
    EXPECT_EQ(KRM_WriteStream(memory, 1, "x"), -1) << "released";
    KRM_StreamRelease(memory); // a second release is harmless
    EXPECT_EQ(KRM_StreamCreateFd(-1), 0u);
    EXPECT_EQ(::close(full), 0) << "the descriptor still belongs to the application";
    const int fd = ::open((dir / "out").c_str(), O_WRONLY | O_CREAT, 0600);
    const uint32_t stream = KRM_StreamCreateFd(fd);
    const host_test::Bytes large = host_test::patternBytes(200000, 5);
    EXPECT_EQ(KRM_WriteStream(stream, static_cast<uint32_t>(large.size()), large.data()), static_cast<int32_t>(large.size()));
    KRM_StreamRelease(stream);
    ::close(fd);
    EXPECT_EQ(oasys_test::readFile(dir / "out"), large);
}

// When every handle of a kind is live one more is refused, and a released one is given again.
TEST_F(StreamTest, HandlesRunOutCleanly) {
    std::vector<uint32_t> live;
    for (uint32_t stream; live.size() < 40000 && (stream = KRM_StreamCreateMemory()) != 0;) live.push_back(stream);
    EXPECT_LT(live.size(), 40000u);
    KRM_StreamRelease(live.back());
    EXPECT_NE(live.back() = KRM_StreamCreateMemory(), 0u);
    EXPECT_EQ(KRM_StreamCreateMemory(), 0u);
    for (const uint32_t stream : live) KRM_StreamRelease(stream);
}

} // namespace
