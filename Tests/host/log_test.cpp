// Log service: file naming, the option flag, "%i" and logs that could not be opened.
#include <gtest/gtest.h>

#include <glib.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "krm_host.h"
#include "oasys_writer.h"
#include "test_util.h"

namespace {

using oasys_test::TempDir;

constexpr uint32_t kLogOn = KRM_OPT_LOG;
constexpr uint32_t kLogOff = KRM_OPT_RULED_LINES; // other bits set, the log bit clear

class LogTest : public oasys_test::HostCheckedTest {
protected:
    void TearDown() override {
        KRM_SetLogDirectory(nullptr);
        HostCheckedTest::TearDown();
    }
    TempDir dir;
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
        {nullptr, "out.txt", "ve2", "out.txt.ve2.log"},
        {nullptr, "/data/DOC1.DOC", "ve2", "/data/DOC1.DOC.ve2.log"},
        {"/var/logs", "/data/out.txt", "ve2", "/var/logs/out.txt.ve2.log"},
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
    const size_t length = strnlen(name, sizeof name);
    EXPECT_LT(length, static_cast<size_t>(KRM_PATH_MAX));
    EXPECT_EQ(length, static_cast<size_t>(KRM_PATH_MAX) - 1) << "as much as fits";
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
    const std::vector<std::string> expected = {
        "GetTextContent() starting\r\n",
        "Open Appfile: /data/DOC1.DOC\r\n",
        "Memory allocate for srcInfo: 532 bytes\r\n",
        "-7,-7;100% %d %s %3\r\n",
        "%",
    };
    EXPECT_EQ(oasys_test::readLogLines(path), expected);
}

TEST_F(LogTest, FlagClearWritesNothingButTheHandleStillCounts) {
    const auto path = dir / "quiet.log";
    const uint32_t log = krm_logfopen(kLogOff, path.c_str());
    ASSERT_NE(log, 0u);
    EXPECT_EQ(KRMTest_Counters().openLogs, 1);
    EXPECT_EQ(krm_logfprintf(kLogOff, log, "text\r\n", 0), 0);
    EXPECT_EQ(krm_logfprint_path(kLogOn, log, "/a/b"), 0);
    EXPECT_EQ(krm_logfclose(kLogOff, log), 0);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(LogTest, FlagIsReadAtEveryCall) {
    const auto path = dir / "mixed.log";
    const uint32_t log = krm_logfopen(kLogOn, path.c_str());
    krm_logfprintf(kLogOn, log, "a", 0);
    krm_logfprintf(kLogOff, log, "b", 0);
    krm_logfprint_path(kLogOff, log, "c");
    krm_logfprint_path(kLogOn | kLogOff, log, "d");
    EXPECT_EQ(krm_logfclose(kLogOff, log), 0);
    EXPECT_EQ(oasys_test::readLogLines(path), std::vector<std::string>{"ad"});
}

TEST_F(LogTest, NewLogReplacesAnOldOneOfTheSameName) {
    const auto path = dir / "again.log";
    for (const char* text : {"first run\r\n", "second\r\n"}) {
        const uint32_t log = krm_logfopen(kLogOn, path.c_str());
        krm_logfprintf(kLogOn, log, text, 0);
        krm_logfclose(kLogOn, log);
    }
    EXPECT_EQ(oasys_test::readLogLines(path), std::vector<std::string>{"second\r\n"});
}

TEST_F(LogTest, LogThatCannotBeOpenedAcceptsAndIgnoresEveryCall) {
    for (const std::string& name : {(dir / "no/such/folder.log").string(), std::string()}) {
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
}

TEST_F(LogTest, UnknownHandlesAreRejected) {
    const uint32_t log = krm_logfopen(kLogOff, "");
    EXPECT_EQ(krm_logfclose(kLogOn, log), 0);
    for (const uint32_t stale : {log, 0u, 12345u}) {
        SCOPED_TRACE(stale);
        EXPECT_NE(krm_logfprintf(kLogOn, stale, "x", 0), 0);
        EXPECT_NE(krm_logfprint_path(kLogOn, stale, "x"), 0);
        EXPECT_NE(krm_logfclose(kLogOn, stale), 0);
    }
}

TEST_F(LogTest, LogGoesIntoTheLogDirectory) {
    KRM_SetLogDirectory(dir.path().c_str());
    const std::string name = logFileName("/elsewhere/report.txt");
    EXPECT_EQ(name, (dir / "report.txt.ve2.log").string());
    const uint32_t log = krm_logfopen(kLogOn, name.c_str());
    krm_logfprintf(kLogOn, log, "line\r\n", 0);
    krm_logfclose(kLogOn, log);
    EXPECT_EQ(oasys_test::readLogLines(dir / "report.txt.ve2.log"), std::vector<std::string>{"line\r\n"});
}

} // namespace
