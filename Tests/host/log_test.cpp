// Log service: file naming, the option flag, "%i" and logs that could not be opened.
#include <glib.h>

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

std::string logFileName(const char* path, const char* tag = "ve2") {
    char name[KRM_PATH_MAX];
    std::memset(name, 'X', sizeof name);
    GetLogFileName(path, tag, name);
    EXPECT_NE(std::memchr(name, '\0', sizeof name), nullptr);
    return name;
}

TEST_F(LogTest, NameIsThePathWithTagAndExtension) {
    const struct {
        const char* directory; // nullptr: none set
        const char* path;
        const char* tag;
        const char* expected;
    } cases[] = {
        {nullptr, "/data/out.txt", "ve2", "/data/out.txt.ve2.log"},
        {"/var/logs/", "/data/out.txt", "ve2", "/var/logs/out.txt.ve2.log"},
        {"/var/logs", "out.txt", "abc", "/var/logs/out.txt.abc.log"},
        {"", "/data/out.txt", "ve2", "/data/out.txt.ve2.log"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        KRM_SetLogDirectory(c.directory);
        EXPECT_EQ(logFileName(c.path, c.tag), c.expected);
    }
}

TEST_F(LogTest, OverlongPathIsCutButKeepsItsEnding) {
    char name[KRM_PATH_MAX + 100];
    std::memset(name, '#', sizeof name);
    const std::string path = "/" + std::string(1099, 'p');
    GetLogFileName(path.c_str(), "ve2", name);
    EXPECT_EQ(strnlen(name, sizeof name), static_cast<size_t>(KRM_PATH_MAX) - 1) << "as much as fits";
    EXPECT_TRUE(std::string(name).ends_with(".ve2.log")) << "never the source path itself";
    for (size_t i = KRM_PATH_MAX; i < sizeof name; ++i) ASSERT_EQ(name[i], '#') << "written past the buffer";

    // A path of three-byte characters is cut between characters, not inside one.
    std::string japanese;
    while (japanese.size() < 1100) japanese += "\xE3\x81\x82"; // あ
    const std::string cut = logFileName(japanese.c_str());
    EXPECT_TRUE(g_utf8_validate(cut.c_str(), -1, nullptr));
    EXPECT_TRUE(cut.ends_with(".ve2.log"));

    // A log directory and a long tag do not break the bound either.
    KRM_SetLogDirectory(std::string(1500, 'd').c_str());
    EXPECT_LT(logFileName("/a/out.txt", std::string(2000, 't').c_str()).size(), static_cast<size_t>(KRM_PATH_MAX));
}

TEST_F(LogTest, TextsAreWrittenExactlyWithTheIntegerInPlace) {
    const auto path = dir / "run.log";
    const uint32_t log = krm_logfopen(kLogOn, path.c_str());
    ASSERT_NE(log, 0u);
    EXPECT_EQ(KRMTest_Counters().openLogs, 1);
    krm_logfprintf(kLogOn, log, "GetTextContent() starting\r\n", 0);
    krm_logfprintf(kLogOn, log, "Open Appfile: ", 0);
    krm_logfprint_path(kLogOn, log, "/data/DOC1.DOC");
    krm_logfprintf(kLogOn, log, "\r\n", 0);
    krm_logfprintf(kLogOn, log, "Memory allocate for srcInfo: %i bytes\r\n", 532);
    krm_logfprintf(kLogOn, log, "%i,%i;", -7);
    krm_logfprintf(kLogOn, log, "100% %d %s %%i\r\n", 3);
    krm_logfprintf(kLogOn, log, "%", 1);
    EXPECT_EQ(krm_logfclose(kLogOn, log), 0);
    EXPECT_EQ(readLogLines(path), (Lines{"GetTextContent() starting\r\n", "Open Appfile: /data/DOC1.DOC\r\n",
                                         "Memory allocate for srcInfo: 532 bytes\r\n", "-7,-7;100% %d %s %3\r\n", "%"}));
}

TEST_F(LogTest, FlagIsReadAtEveryCallAndANewLogReplacesTheOld) {
    const auto path = dir / "mixed.log";
    // Opened with the flag clear: a handle that counts, but no file.
    const uint32_t quiet = krm_logfopen(kLogOff, path.c_str());
    ASSERT_NE(quiet, 0u);
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
    const std::string names[] = {(dir / "no/such/folder.log").string(), ""};
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const uint32_t log = krm_logfopen(kLogOn, name.c_str());
        ASSERT_NE(log, 0u);
        EXPECT_EQ(krm_logfprintf(kLogOn, log, "text %i\r\n", 1), 0);
        EXPECT_EQ(krm_logfprint_path(kLogOn, log, "/a"), 0);
        EXPECT_EQ(krm_logfclose(kLogOn, log), 0);
    }
    const uint32_t nullName = krm_logfopen(kLogOn, nullptr);
    EXPECT_NE(nullName, 0u);
    EXPECT_EQ(krm_logfclose(kLogOn, nullName), 0);
    for (const uint32_t stale : {nullName, 0u, 12345u}) {
        SCOPED_TRACE(stale);
        EXPECT_NE(krm_logfprintf(kLogOn, stale, "x", 0), 0);
        EXPECT_NE(krm_logfprint_path(kLogOn, stale, "x"), 0);
        EXPECT_NE(krm_logfclose(kLogOn, stale), 0);
    }
}

} // namespace
