// Log service: file naming, the option flag, "%i", logs that could not be opened; and the host's
// output streams (memory and descriptor) with their failures.
#include <fcntl.h>
#include <glib.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "host_test_support.h"

namespace {

using oasys_test::bytes;
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

std::string logFileName(const char* path, const char* tag = "ve2") {
    char name[KRM_PATH_MAX + 100];
    std::memset(name, '#', sizeof name);
    GetLogFileName(path, tag, name);
    for (size_t i = KRM_PATH_MAX; i < sizeof name; ++i) EXPECT_EQ(name[i], '#') << "written past the buffer";
    EXPECT_NE(std::memchr(name, '\0', KRM_PATH_MAX), nullptr);
    return name;
}

TEST_F(LogTest, NameIsThePathWithTagAndExtensionCutToFit) {
    std::string japanese;
    while (japanese.size() < 1100) japanese += "\xE3\x81\x82"; // あ
    const std::string longPath = "/" + std::string(1099, 'p');
    const struct {
        const char* directory; // nullptr: none set
        std::string path;
        std::string tag;
        std::string expected; // ending with "...": the name is cut there, as much as fits
    } cases[] = {
        {nullptr, "/data/out.txt", "ve2", "/data/out.txt.ve2.log"},
        {"/var/logs/", "/data/out.txt", "ve2", "/var/logs/out.txt.ve2.log"},
        {"/var/logs", "out.txt", "abc", "/var/logs/out.txt.abc.log"},
        {"", "/data/out.txt", "ve2", "/data/out.txt.ve2.log"},
        {nullptr, longPath, "ve2", longPath.substr(0, KRM_PATH_MAX - 9) + ".ve2.log"},
        {nullptr, japanese, "ve2", japanese.substr(0, (KRM_PATH_MAX - 9) / 3 * 3) + ".ve2.log"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected.substr(0, 40));
        KRM_SetLogDirectory(c.directory);
        EXPECT_EQ(logFileName(c.path.c_str(), c.tag.c_str()), c.expected);
    }
    // A long log directory and a long tag do not break the bound either.
    KRM_SetLogDirectory(std::string(1500, 'd').c_str());
    const std::string cut = logFileName("/a/out.txt", std::string(2000, 't').c_str());
    EXPECT_LT(cut.size(), static_cast<size_t>(KRM_PATH_MAX));
    EXPECT_TRUE(g_utf8_validate(cut.c_str(), -1, nullptr));
}

TEST_F(LogTest, TextsAreWrittenExactlyWithTheIntegerInPlace) {
    const auto path = dir / "run.log";
    const uint32_t log = krm_logfopen(kLogOn, path.c_str());
    EXPECT_EQ(KRMTest_Counters().openLogs, 1);
    krm_logfprintf(kLogOn, log, "Open Appfile: ", 0);
    krm_logfprint_path(kLogOn, log, "/data/DOC1.DOC");
    krm_logfprintf(kLogOn, log, "\r\n", 0);
    krm_logfprintf(kLogOn, log, "Memory allocate for srcInfo: %i bytes\r\n", 532);
    krm_logfprintf(kLogOn, log, "%i,%i;", -7);
    krm_logfprintf(kLogOn, log, "100% %d %s %%i\r\n", 3);
    krm_logfprintf(kLogOn, log, "%", 1);
    EXPECT_EQ(krm_logfclose(kLogOn, log), 0);
    EXPECT_EQ(readLogLines(path), (Lines{"Open Appfile: /data/DOC1.DOC\r\n", "Memory allocate for srcInfo: 532 bytes\r\n",
                                         "-7,-7;100% %d %s %3\r\n", "%"}));
}

// The flag is read at every call; a log opened with it clear counts but makes no file; a new log
// of the same name replaces the old one.
TEST_F(LogTest, FlagIsReadAtEveryCallAndANewLogReplacesTheOld) {
    const auto path = dir / "mixed.log";
    const uint32_t quiet = krm_logfopen(kLogOff, path.c_str());
    EXPECT_EQ(KRMTest_Counters().openLogs, 1);
    EXPECT_EQ(krm_logfprintf(kLogOff, quiet, "text\r\n", 0), 0);
    EXPECT_EQ(krm_logfclose(kLogOff, quiet), 0);
    EXPECT_FALSE(std::filesystem::exists(path));
    for (const char* first : {"first run\r\n", "a"}) {
        const uint32_t log = krm_logfopen(kLogOn, path.c_str());
        krm_logfprintf(kLogOn, log, first, 0);
        krm_logfprintf(kLogOff, log, "b", 0);
        krm_logfprint_path(kLogOff, log, "c");
        krm_logfprint_path(kLogOn | kLogOff, log, "d");
        EXPECT_EQ(krm_logfclose(kLogOff, log), 0);
    }
    EXPECT_EQ(readLogLines(path), Lines{"ad"});
}

TEST_F(LogTest, LogThatCannotBeOpenedAcceptsEveryCallAndUnknownHandlesAreRejected) {
    for (const std::string& name : {(dir / "no/such/folder.log").string(), std::string()}) {
        const uint32_t log = krm_logfopen(kLogOn, name.c_str());
        ASSERT_NE(log, 0u);
        EXPECT_EQ(krm_logfprintf(kLogOn, log, "text %i\r\n", 1), 0);
        EXPECT_EQ(krm_logfprint_path(kLogOn, log, "/a"), 0);
        EXPECT_EQ(krm_logfclose(kLogOn, log), 0);
    }
    const uint32_t nullName = krm_logfopen(kLogOn, nullptr);
    EXPECT_EQ(krm_logfclose(kLogOn, nullName), 0);
    for (const uint32_t stale : {nullName, 0u, 12345u}) {
        SCOPED_TRACE(stale);
        EXPECT_NE(krm_logfprintf(kLogOn, stale, "x", 0), 0);
        EXPECT_NE(krm_logfprint_path(kLogOn, stale, "x"), 0);
        EXPECT_NE(krm_logfclose(kLogOn, stale), 0);
    }
}

using StreamTest = host_test::HostTest;

std::string memoryOf(uint32_t stream) {
    const uint8_t* data = nullptr;
    size_t length = 0;
    EXPECT_EQ(KRM_StreamGetMemory(stream, &data, &length), 0);
    return std::string(reinterpret_cast<const char*>(data), length);
}

TEST_F(StreamTest, MemoryAndDescriptorStreamsCollectEveryWrite) {
    const uint32_t memory = KRM_StreamCreateMemory();
    void* block = KRM_malloc(532);
    EXPECT_EQ(KRMTest_Counters().outputStreams, 1);
    EXPECT_EQ(KRMTest_Counters().outstandingBlocks, 1);
    KRM_free(block);
    EXPECT_EQ(memoryOf(memory), "");
    EXPECT_EQ(KRM_WriteStream(memory, 5, "line\n"), 5);
    EXPECT_EQ(KRM_WriteStream(memory, 0, nullptr), 0);
    EXPECT_EQ(KRM_WriteStream(memory, 4, "\x82\xA0\r\n"), 4);
    EXPECT_EQ(memoryOf(memory), "line\n\x82\xA0\r\n");
    KRM_StreamRelease(memory);

    const auto path = dir / "out.txt";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const uint32_t stream = KRM_StreamCreateFd(fd);
    const host_test::Bytes large = host_test::patternBytes(200000, 5);
    EXPECT_EQ(KRM_WriteStream(stream, 6, "first\n"), 6);
    EXPECT_EQ(KRM_WriteStream(stream, static_cast<uint32_t>(large.size()), large.data()), static_cast<int32_t>(large.size()));
    const uint8_t* data = nullptr;
    size_t length = 0;
    EXPECT_EQ(KRM_StreamGetMemory(stream, &data, &length), -1) << "no memory behind a descriptor stream";
    KRM_StreamRelease(stream);
    EXPECT_EQ(::write(fd, "!", 1), 1) << "the descriptor still belongs to the application";
    ::close(fd);
    EXPECT_EQ(oasys_test::readFile(path), oasys_test::concat({bytes("first\n"), large, bytes("!")}));
}

TEST_F(StreamTest, FailuresGiveMinusOne) {
    const uint32_t memory = KRM_StreamCreateMemory();
    EXPECT_EQ(KRM_WriteStream(memory, 3, nullptr), -1) << "no buffer";
    EXPECT_EQ(KRM_WriteStream(memory, 0x80000000u, "x"), -1) << "a count that reads as negative";
    EXPECT_EQ(KRM_WriteStream(0, 1, "x"), -1);
    EXPECT_EQ(memoryOf(memory), "");
    const uint8_t* data = nullptr;
    size_t length = 0;
    EXPECT_EQ(KRM_StreamGetMemory(memory, nullptr, &length), -1);
    EXPECT_EQ(KRM_StreamGetMemory(memory, &data, nullptr), -1);
    EXPECT_EQ(KRM_StreamGetMemory(0, &data, &length), -1);
    KRM_StreamRelease(memory);
    EXPECT_EQ(KRM_WriteStream(memory, 1, "x"), -1) << "released";
    KRM_StreamRelease(memory); // a second release is harmless
    EXPECT_EQ(KRM_StreamCreateFd(-1), 0u);
    const int fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    const uint32_t full = KRM_StreamCreateFd(fd);
    EXPECT_EQ(KRM_WriteStream(full, 1, "x"), -1);
    KRM_StreamRelease(full);
    ::close(fd);
}

} // namespace
