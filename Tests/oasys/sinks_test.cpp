// Where the text goes: a path (a failure leaves whatever stood there as it was - a file, a link, a
// device; success replaces a file and a link's target, writes a device directly), a descriptor, a
// buffer and a writer; salvage versus strict for a damaged document; write failures with the
// system's reason; the options the filter honours.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <set>
#include <string>

#include "krm_host_testing.h"
#include "oasys.h"
#include "oasys_support.h"
#include "test_util.h"

using namespace oasys_test;
using namespace oasys_lib_test;
namespace fs = std::filesystem;

namespace {

class Sinks : public HostCheckedTest {
protected:
    void TearDown() override {
        oasys_close(document_);
        EXPECT_EQ(KRMTest_LiveBindings(), 0);
        HostCheckedTest::TearDown();
    }
    void open(Body body, bool password = false) {
        oasys_close(std::exchange(document_, nullptr));
        ASSERT_EQ(oasys_open_path(writeDocument(docs_.path(), OASYS_PACKAGING_SEPARATED, body, password).c_str(),
                                  OASYS_PACKAGING_AUTO, &document_, nullptr),
                  OASYS_OK);
        TempDir canonical;
        expected_ = filterText(writeDocument(canonical.path(), OASYS_PACKAGING_SEPARATED, body, password),
                               OASYS_PACKAGING_SEPARATED);
    }
    oasys_status extract(oasys_options* options, std::string& text, oasys_result* result = nullptr) {
        oasys_buffer buffer{};
        const oasys_status status = oasys_extract_to_buffer(document_, &buffer, options, result);
        text.assign(buffer.data ? buffer.data : "", buffer.size);
        oasys_buffer_free(&buffer);
        return status;
    }

    TempDir docs_, out_;
    oasys_document* document_ = nullptr;
    std::string expected_;
};

// Each entry of the folder, sorted: a link by its target, a device as ":c", a file by its content.
std::string stateOf(const fs::path& dir) {
    std::set<std::string> entries;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const auto status = entry.symlink_status();
        entries.insert(entry.path().filename().string() +
                       (fs::is_symlink(status) ? "->" + fs::read_symlink(entry).string()
                        : fs::is_character_file(status) ? ":c" : "=" + readText(entry.path())));
    }
    std::string state;
    for (const std::string& entry : entries) state += entry + ";";
    return state;
}

std::string expand(std::string text, const std::string& with) {
    for (size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, with);
    return text;
}

// Nothing but the text changes (a link keeps leading to its target), no temporary file stays.
TEST_F(Sinks, PathKeepsWhatStoodThereOnFailureAndReplacesItOnSuccess) {
    const struct {
        const char* setup;
        const char* afterFailure;
        const char* afterSuccess; // '@': the text
    } cases[] = {
        {"true", "", "out.txt=@;"},
        {"echo old > out.txt", "out.txt=old\n;", "out.txt=@;"},
        {"echo old > t; ln -s t out.txt", "out.txt->t;t=old\n;", "out.txt->t;t=@;"},
        {"ln -s t out.txt", "out.txt->t;", "out.txt=@;"},
        {"mknod out.txt c 1 3", "out.txt:c;", "out.txt:c;"},
    };
    for (const bool success : {false, true}) {
        open(Body::Visible, /*password=*/!success);
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.setup) + (success ? ", success" : ", failure"));
            TempDir dir;
            ASSERT_EQ(std::system(("cd " + dir.path().string() + " && " + c.setup).c_str()), 0);
            EXPECT_EQ(oasys_extract_to_path(document_, (dir / "out.txt").c_str(), nullptr, nullptr),
                      success ? OASYS_OK : OASYS_PASSWORD);
            EXPECT_EQ(stateOf(dir.path()), expand(success ? c.afterSuccess : c.afterFailure, expected_));
        }
    }
}

TEST_F(Sinks, SalvageKeepsTheTextBeforeTheDamageStrictKeepsNothing) {
    open(Body::Unended);
    ASSERT_FALSE(expected_.empty());
    for (const bool strict : {false, true}) {
        SCOPED_TRACE(strict ? "strict" : "salvage");
        oasys_options options;
        oasys_options_init(&options);
        options.strict = strict;
        const std::string kept = strict ? "" : expected_;
        oasys_result result{};
        std::string text;
        EXPECT_EQ(extract(&options, text, &result), OASYS_BROKEN);
        EXPECT_EQ(text, kept);
        EXPECT_EQ(result.bytes, kept.size());
        const fs::path path = out_ / "out.txt";
        fs::remove(path);
        EXPECT_EQ(oasys_extract_to_path(document_, path.c_str(), &options, &result), OASYS_BROKEN);
        EXPECT_EQ(fs::exists(path) ? readText(path) : "(none)", strict ? "(none)" : kept);
        std::string written;
        auto collect = [](void* context, const void* data, size_t size) {
            static_cast<std::string*>(context)->append(static_cast<const char*>(data), size);
            return 0;
        };
        EXPECT_EQ(oasys_extract_to_callback(document_, collect, &written, &options, &result), OASYS_BROKEN);
        EXPECT_EQ(written, kept);
    }
}

TEST_F(Sinks, WriteFailuresAreOutputErrorsWithTheSystemsReason) {
    open(Body::Visible);
    const struct {
        std::string path;
        int error;
    } cases[] = {{"/dev/full", ENOSPC}, {(out_ / "no/such/folder/out.txt").string(), ENOENT}, {out_.path().string(), EISDIR}};
    oasys_result result{};
    for (const auto& c : cases) {
        EXPECT_EQ(oasys_extract_to_path(document_, c.path.c_str(), nullptr, &result), OASYS_OUTPUT_ERROR) << c.path;
        EXPECT_EQ(result.system_error, c.error) << c.path;
    }
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
    auto refuse = [](void*, const void*, size_t) {
        errno = EPIPE;
        return -1;
    };
    EXPECT_EQ(oasys_extract_to_callback(document_, refuse, nullptr, nullptr, &result), OASYS_OUTPUT_ERROR);
    EXPECT_EQ(result.system_error, EPIPE);
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    ::close(pipeFds[1]);
    EXPECT_EQ(oasys_extract_to_fd(document_, pipeFds[0], nullptr, &result), OASYS_OUTPUT_ERROR);
    EXPECT_EQ(result.system_error, EBADF);
    ::close(pipeFds[0]);
}

// A document reported ok always has its text file, even an empty one, even under a name as long
// as the system allows; a new file gets the usual mode, a replaced one keeps its own; a
// descriptor gets the text at its position.
TEST_F(Sinks, FilesAndDescriptors) {
    open(Body::Empty);
    const fs::path path = out_ / "out.txt", longName = out_ / std::string(255, 'n');
    EXPECT_EQ(oasys_extract_to_path(document_, path.c_str(), nullptr, nullptr), OASYS_OK);
    EXPECT_EQ(readText(path), "");
    EXPECT_EQ(oasys_extract_to_path(document_, longName.c_str(), nullptr, nullptr), OASYS_OK);
    EXPECT_TRUE(fs::is_regular_file(longName));
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0666 & ~mask);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    open(Body::Visible);
    EXPECT_EQ(oasys_extract_to_path(document_, path.c_str(), nullptr, nullptr), OASYS_OK);
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
    EXPECT_EQ(oasys_extract_to_fd(document_, fd, nullptr, nullptr), OASYS_OK);
    ::close(fd);
    EXPECT_EQ(readText(path), expected_ + expected_);
}

// The options reach the filter: limit (text up to it kept), charset, log, loop guard (off by
// default; a long document passes without it); values out of range are refused.
TEST_F(Sinks, Options) {
    open(Body::Visible);
    oasys_options options;
    oasys_options_init(&options);
    std::string text;
    const struct {
        int64_t maxBytes;
        const char* charset;
        oasys_status status;
        size_t size;
    } cases[] = {
        {4, "UTF-8", OASYS_OUTPUT_LIMIT, 4}, {0, "UTF-8", OASYS_OUTPUT_LIMIT, 0},
        {-1, "UTF-16LE", OASYS_OK, expected_.size() * 2}, {-1, "no-such-charset", OASYS_BAD_ARGUMENT, 0},
        {int64_t{1} << 32, nullptr, OASYS_BAD_ARGUMENT, 0},
    };
    for (const auto& c : cases) {
        options.max_bytes = c.maxBytes;
        options.charset = c.charset;
        EXPECT_EQ(extract(&options, text), c.status) << c.maxBytes;
        EXPECT_EQ(text.size(), c.size) << c.maxBytes;
    }
    EXPECT_EQ(text, "");
    oasys_options_init(&options);
    const fs::path log = out_ / "a.DOC.log";
    options.log_path = log.c_str();
    EXPECT_EQ(extract(&options, text), OASYS_OK);
    EXPECT_EQ(readLogLines(log).back(), "GetText() end successfully\r\n");

    Bytes body;
    for (int line = 0; line < 30000; ++line) body = concat({body, bytes("0123456789012345678901234567890\r\n")});
    writeSeparated(docs_ / "long", concat({body, bytes("\x1A")}), formatBlock(false));
    oasys_close(std::exchange(document_, nullptr));
    ASSERT_EQ(oasys_open_path((docs_ / "long.DOC").c_str(), OASYS_PACKAGING_AUTO, &document_, nullptr), OASYS_OK);
    oasys_options_init(&options);
    EXPECT_EQ(extract(&options, text), OASYS_OK);
    EXPECT_EQ(text.size(), body.size());
    options.loop_guard = 1;
    oasys_result result{};
    EXPECT_EQ(extract(&options, text, &result), OASYS_BROKEN);
    EXPECT_EQ(result.filter_code, 3006);
}

} // namespace
