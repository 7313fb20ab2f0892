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
#include <functional>
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
    // Opens a separated document with this body.
    void open(Body body, bool password = false) {
        oasys_close(std::exchange(document_, nullptr));
        ASSERT_EQ(oasys_open_path(writeDocument(docs_.path(), OASYS_PACKAGING_SEPARATED, body, password).c_str(),
                                  OASYS_PACKAGING_AUTO, &document_, nullptr),
                  OASYS_OK);
        TempDir canonical;
        expected_ = filterText(writeDocument(canonical.path(), OASYS_PACKAGING_SEPARATED, body, password),
                               OASYS_PACKAGING_SEPARATED);
    }

    TempDir docs_, out_;
    oasys_document* document_ = nullptr;
    std::string expected_;
};

// What stands at the output path before the extraction.
enum class Place { Nothing, File, Link, DanglingLink, Device };

struct PlaceState {
    bool exists;
    bool isLink;
    std::string content; // of the file, or of the link's target
};

PlaceState stateOf(const fs::path& path) {
    std::error_code error;
    const auto status = fs::symlink_status(path, error);
    PlaceState state{fs::exists(status), fs::is_symlink(status), {}};
    if (fs::is_regular_file(path, error)) state.content = readText(path);
    return state;
}

// Makes the place; false when this system does not let us make it (a device node needs mknod).
bool makePlace(Place place, const fs::path& path, const fs::path& target) {
    switch (place) {
    case Place::Nothing: return true;
    case Place::File: writeFile(path, bytes("old text")); return true;
    case Place::Link: writeFile(target, bytes("old target")); fs::create_symlink(target, path); return true;
    case Place::DanglingLink: fs::create_symlink(target, path); return true;
    case Place::Device: return ::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0; // like /dev/null
    }
    return false;
}

TEST_F(Sinks, PathKeepsWhatStoodThereOnFailureAndReplacesItOnSuccess) {
    const struct {
        Place place;
        bool success;
    } cases[] = {
        {Place::Nothing, false}, {Place::File, false}, {Place::Link, false}, {Place::DanglingLink, false},
        {Place::Device, false},  {Place::Nothing, true}, {Place::File, true}, {Place::Link, true},
        {Place::DanglingLink, true}, {Place::Device, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(static_cast<int>(c.place)) + (c.success ? " success" : " failure"));
        open(Body::Visible, /*password=*/!c.success);
        TempDir dir;
        const fs::path path = dir / "out.txt", target = dir / "target.txt";
        if (!makePlace(c.place, path, target)) continue;
        const PlaceState before = stateOf(path), targetBefore = stateOf(target);

        oasys_result result{};
        EXPECT_EQ(oasys_extract_to_path(document_, path.c_str(), nullptr, &result),
                  c.success ? OASYS_OK : OASYS_PASSWORD);
        const PlaceState after = stateOf(path);
        if (!c.success) {
            EXPECT_EQ(after.exists, before.exists);
            EXPECT_EQ(after.isLink, before.isLink);
            EXPECT_EQ(after.content, before.content);
            EXPECT_EQ(stateOf(target).content, targetBefore.content);
        } else if (c.place == Place::Device) {
            EXPECT_TRUE(fs::is_character_file(path));
        } else {
            EXPECT_EQ(after.content, expected_);
            EXPECT_EQ(after.isLink, c.place == Place::Link); // a link keeps leading to its target
        }
        // No temporary file stays behind.
        size_t entries = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path())) ++entries;
        EXPECT_EQ(entries, static_cast<size_t>(fs::exists(fs::symlink_status(path))) + fs::exists(target));
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
        oasys_buffer buffer{};
        EXPECT_EQ(oasys_extract_to_buffer(document_, &buffer, &options, &result), OASYS_BROKEN);
        EXPECT_EQ(std::string(buffer.data ? buffer.data : "", buffer.size), kept);
        EXPECT_EQ(result.bytes, kept.size());
        oasys_buffer_free(&buffer);

        const fs::path path = out_ / "out.txt";
        fs::remove(path);
        EXPECT_EQ(oasys_extract_to_path(document_, path.c_str(), &options, &result), OASYS_BROKEN);
        EXPECT_EQ(fs::exists(path), !strict);
        if (!strict) {
            EXPECT_EQ(readText(path), kept);
        }

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
    oasys_result result{};
    EXPECT_EQ(oasys_extract_to_path(document_, "/dev/full", nullptr, &result), OASYS_OUTPUT_ERROR);
    EXPECT_EQ(result.system_error, ENOSPC);
    EXPECT_TRUE(fs::is_character_file("/dev/full"));

    EXPECT_EQ(oasys_extract_to_path(document_, (out_ / "no/such/folder/out.txt").c_str(), nullptr, &result),
              OASYS_OUTPUT_ERROR);
    EXPECT_EQ(result.system_error, ENOENT);
    EXPECT_EQ(oasys_extract_to_path(document_, out_.path().c_str(), nullptr, &result), OASYS_OUTPUT_ERROR);
    EXPECT_EQ(result.system_error, EISDIR);

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

// A document reported ok always has its text file, even when its text is empty.
TEST_F(Sinks, OkLeavesATextFileEvenAnEmptyOne) {
    open(Body::Empty);
    const fs::path path = out_ / "out.txt";
    oasys_result result{};
    EXPECT_EQ(oasys_extract_to_path(document_, path.c_str(), nullptr, &result), OASYS_OK);
    EXPECT_TRUE(fs::is_regular_file(path));
    EXPECT_EQ(fs::file_size(path), 0u);
    // A name as long as the system allows still leaves room for the temporary file beside it.
    const fs::path longName = out_ / std::string(255, 'n');
    EXPECT_EQ(oasys_extract_to_path(document_, longName.c_str(), nullptr, &result), OASYS_OK);
    EXPECT_TRUE(fs::is_regular_file(longName));
    // A new file gets the usual mode, a replaced one keeps its own.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0666 & ~mask);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    EXPECT_EQ(oasys_extract_to_path(document_, path.c_str(), nullptr, &result), OASYS_OK);
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
}

TEST_F(Sinks, DescriptorGetsTheTextAtItsPosition) {
    open(Body::Visible);
    const fs::path path = out_ / "out.txt";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "head:", 5), 5);
    EXPECT_EQ(oasys_extract_to_fd(document_, fd, nullptr, nullptr), OASYS_OK);
    ::close(fd);
    EXPECT_EQ(readText(path), "head:" + expected_);
}

// The options reach the filter: charset, limit (text up to it kept), log; values out of range are
// refused before anything is written.
TEST_F(Sinks, Options) {
    open(Body::Visible);
    oasys_options options;
    oasys_options_init(&options);
    oasys_buffer buffer{};
    oasys_result result{};

    options.max_bytes = 4;
    EXPECT_EQ(oasys_extract_to_buffer(document_, &buffer, &options, &result), OASYS_OUTPUT_LIMIT);
    EXPECT_EQ(std::string(buffer.data, buffer.size), expected_.substr(0, 4));
    oasys_buffer_free(&buffer);

    options.max_bytes = 0;
    EXPECT_EQ(oasys_extract_to_buffer(document_, &buffer, &options, &result), OASYS_OUTPUT_LIMIT);
    EXPECT_EQ(buffer.size, 0u);

    options.max_bytes = -1;
    options.charset = "UTF-16LE";
    EXPECT_EQ(oasys_extract_to_buffer(document_, &buffer, &options, &result), OASYS_OK);
    EXPECT_EQ(buffer.size, expected_.size() * 2);
    oasys_buffer_free(&buffer);

    options.charset = "no-such-charset";
    EXPECT_EQ(oasys_extract_to_buffer(document_, &buffer, &options, &result), OASYS_BAD_ARGUMENT);
    options.charset = nullptr;
    options.max_bytes = int64_t{1} << 32;
    EXPECT_EQ(oasys_extract_to_buffer(document_, &buffer, &options, &result), OASYS_BAD_ARGUMENT);
    EXPECT_EQ(buffer.size, 0u);

    options.max_bytes = -1;
    const fs::path log = out_ / "logs" / "a.DOC.log";
    fs::create_directories(log.parent_path());
    options.log_path = log.c_str();
    EXPECT_EQ(oasys_extract_to_buffer(document_, &buffer, &options, &result), OASYS_OK);
    const std::vector<std::string> lines = readLogLines(log);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "GetText() end successfully\r\n");
    oasys_buffer_free(&buffer);
}

// A long document passes without the loop guard (off by default); with it, its scan stops.
TEST_F(Sinks, LoopGuardIsOffByDefault) {
    Bytes body;
    for (int line = 0; line < 30000; ++line) {
        const Bytes text = bytes("0123456789012345678901234567890\r\n");
        body.insert(body.end(), text.begin(), text.end());
    }
    body.push_back(0x1A);
    writeSeparated(docs_ / "long", body, formatBlock(false));
    ASSERT_EQ(oasys_open_path((docs_ / "long.DOC").c_str(), OASYS_PACKAGING_AUTO, &document_, nullptr), OASYS_OK);
    oasys_options options;
    oasys_options_init(&options);
    oasys_buffer buffer{};
    EXPECT_EQ(oasys_extract_to_buffer(document_, &buffer, &options, nullptr), OASYS_OK);
    EXPECT_EQ(buffer.size, body.size() - 1);
    oasys_buffer_free(&buffer);
    options.loop_guard = 1;
    oasys_result result{};
    EXPECT_EQ(oasys_extract_to_buffer(document_, &buffer, &options, &result), OASYS_BROKEN);
    EXPECT_EQ(result.filter_code, 3006);
    oasys_buffer_free(&buffer);
}

} // namespace
