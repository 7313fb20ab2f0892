// Where the text goes (a path, a descriptor, a buffer, a writer); salvage versus strict; write failures
// with the system's reason; the options the filter honours.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <tuple>

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
        expected_ = password ? "" : textOf(body);
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

TEST_F(Sinks, SalvageKeepsTheTextBeforeTheDamageStrictKeepsNothing) {
    open(Body::Unended);
    ASSERT_FALSE(expected_.empty());
    for (const bool strict : {false, true}) {
        oasys_options options;
        oasys_options_init(&options);
        options.strict = strict;
        oasys_result result{};
        std::string text, written;
        EXPECT_EQ(extract(&options, text, &result), OASYS_BROKEN);
        EXPECT_EQ(result.bytes, text.size());
        const auto collect = [](void* context, const void* data, size_t size) {
            return static_cast<std::string*>(context)->append(static_cast<const char*>(data), size), 0;
        };
        EXPECT_EQ(oasys_extract_to_callback(document_, collect, &written, &options, &result), OASYS_BROKEN);
        EXPECT_EQ(text + "|" + written, strict ? "|" : expected_ + "|" + expected_) << strict;
    }
}

// Write failures are output errors with the system's reason, wherever the text goes.
TEST_F(Sinks, WriteFailuresAreOutputErrorsWithTheSystemsReason) {
    open(Body::Visible);
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ::close(ends[1]);
    const auto refuse = [](void*, const void*, size_t) { return errno = EPIPE, -1; };
    oasys_result r[5] = {};
    const oasys_status statuses[] = {oasys_extract_to_path(document_, "/dev/full", nullptr, &r[0]),
                                     oasys_extract_to_path(document_, (out_ / "no/such/out").c_str(), nullptr, &r[1]),
                                     oasys_extract_to_path(document_, out_.path().c_str(), nullptr, &r[2]),
                                     oasys_extract_to_fd(document_, ends[0], nullptr, &r[3]),
                                     oasys_extract_to_callback(document_, refuse, nullptr, nullptr, &r[4])};
    const int errors[] = {ENOSPC, ENOENT, EISDIR, EBADF, EPIPE};
    for (size_t i = 0; i < std::size(errors); ++i) {
        EXPECT_EQ(statuses[i], OASYS_OUTPUT_ERROR) << errors[i];
        EXPECT_EQ(r[i].system_error, errors[i]);
    }
    ::close(ends[0]);
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
}

// An ok document always has its text file; a replaced file keeps its mode; a descriptor's position counts.
TEST_F(Sinks, FilesAndDescriptors) {
    open(Body::Empty);
    const fs::path path = out_ / "out.txt";
    EXPECT_EQ(oasys_extract_to_path(document_, path.c_str(), nullptr, nullptr), OASYS_OK);
    EXPECT_EQ(readText(path), "");
    fs::permissions(path, static_cast<fs::perms>(0640));
    open(Body::Visible);
    EXPECT_EQ(oasys_extract_to_path(document_, path.c_str(), nullptr, nullptr), OASYS_OK);
    EXPECT_EQ(fs::status(path).permissions(), static_cast<fs::perms>(0640));
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
    EXPECT_EQ(oasys_extract_to_fd(document_, fd, nullptr, nullptr), OASYS_OK);
    ::close(fd);
    EXPECT_EQ(readText(path), expected_ + expected_);
}

// Options reach the filter (limit, charset, log); values out of range are refused before any write.
TEST_F(Sinks, Options) {
    open(Body::Visible);
    const fs::path log = out_ / "a.DOC.log";
    const struct {
        int64_t maxBytes;
        const char* charset;
        const char* log;
        oasys_status status;
        std::string text;
    } cases[] = {
        {4, "UTF-8", nullptr, OASYS_OUTPUT_LIMIT, "ABC\r"},  {0, "UTF-8", nullptr, OASYS_OUTPUT_LIMIT, ""},
        {-1, "UTF-16BE", nullptr, OASYS_OK, std::string("\0A\0B\0C\0\r\0\n\0D\0E\0F\0\r\0\n", 20)},
        {-1, "no-such-charset", nullptr, OASYS_BAD_ARGUMENT, ""}, {int64_t{1} << 32, nullptr, nullptr, OASYS_BAD_ARGUMENT, ""},
        {-1, nullptr, log.c_str(), OASYS_OK, "ABC\r\nDEF\r\n"},
    };
    for (const auto& c : cases) {
        oasys_options options;
        oasys_options_init(&options);
        std::tie(options.max_bytes, options.charset, options.log_path) = std::tuple(c.maxBytes, c.charset, c.log);
        std::string text;
        EXPECT_EQ(extract(&options, text), c.status) << c.maxBytes;
        EXPECT_EQ(text, c.text) << c.maxBytes;
    }
    EXPECT_EQ(readLogLines(log).back(), "GetText() end successfully\r\n");
}

} // namespace
