// Where the text goes: a path (a failure leaves whatever stood there as it was - a file, a link, a
// device; success replaces a file and a link's target, writes a device directly), a descriptor, a
// buffer and a writer; salvage versus strict for a damaged document; write failures with the
// system's reason; the options the filter honours.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <set>
#include <functional>
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
    const std::string missing = (out_ / "no/such/out.txt").string();
    const std::pair<std::function<oasys_status(oasys_result*)>, int> cases[] = {
        {[&](oasys_result* r) { return oasys_extract_to_path(document_, "/dev/full", nullptr, r); }, ENOSPC},
        {[&](oasys_result* r) { return oasys_extract_to_path(document_, missing.c_str(), nullptr, r); }, ENOENT},
        {[&](oasys_result* r) { return oasys_extract_to_path(document_, out_.path().c_str(), nullptr, r); }, EISDIR},
        {[&](oasys_result* r) { return oasys_extract_to_fd(document_, ends[0], nullptr, r); }, EBADF},
        {[&](oasys_result* r) {
             const auto refuse = [](void*, const void*, size_t) { return errno = EPIPE, -1; };
             return oasys_extract_to_callback(document_, refuse, nullptr, nullptr, r);
         }, EPIPE},
    };
    for (const auto& [extract, error] : cases) {
        oasys_result result{};
        EXPECT_EQ(extract(&result), OASYS_OUTPUT_ERROR) << error;
        EXPECT_EQ(result.system_error, error);
    }
    ::close(ends[0]);
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
}

// A document reported ok always has its text file, even an empty one, even under a name as long
// as the system allows; a new file gets the usual mode, a replaced one keeps its own; a
// descriptor gets the text at its position.
TEST_F(Sinks, FilesAndDescriptors) {
    open(Body::Empty);
    const fs::path path = out_ / "out.txt", longName = out_ / std::string(255, 'n');
    EXPECT_EQ(oasys_extract_to_path(document_, path.c_str(), nullptr, nullptr), OASYS_OK);
    EXPECT_EQ(oasys_extract_to_path(document_, longName.c_str(), nullptr, nullptr), OASYS_OK);
    EXPECT_EQ(readText(path) + readText(longName), "");
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(fs::status(path).permissions(), static_cast<fs::perms>(0666 & ~mask));
    fs::permissions(path, static_cast<fs::perms>(0640));
    open(Body::Visible);
    EXPECT_EQ(oasys_extract_to_path(document_, path.c_str(), nullptr, nullptr), OASYS_OK);
    EXPECT_EQ(fs::status(path).permissions(), static_cast<fs::perms>(0640));
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
    EXPECT_EQ(oasys_extract_to_fd(document_, fd, nullptr, nullptr), OASYS_OK);
    ::close(fd);
    EXPECT_EQ(readText(path), expected_ + expected_);
}

// The options reach the filter: limit (text up to it kept), charset, log; values out of range are
// refused before anything is written.
TEST_F(Sinks, Options) {
    open(Body::Visible);
    const fs::path log = out_ / "a.DOC.log";
    const struct {
        int64_t maxBytes;
        const char* charset;
        const char* log;
        oasys_status status;
        size_t size;
    } cases[] = {
        {4, "UTF-8", nullptr, OASYS_OUTPUT_LIMIT, 4},           {0, "UTF-8", nullptr, OASYS_OUTPUT_LIMIT, 0},
        {-1, "UTF-16LE", nullptr, OASYS_OK, expected_.size() * 2}, {-1, "no-such-charset", nullptr, OASYS_BAD_ARGUMENT, 0},
        {int64_t{1} << 32, nullptr, nullptr, OASYS_BAD_ARGUMENT, 0}, {-1, nullptr, log.c_str(), OASYS_OK, expected_.size()},
    };
    for (const auto& c : cases) {
        oasys_options options;
        oasys_options_init(&options);
        std::tie(options.max_bytes, options.charset, options.log_path) = std::tuple(c.maxBytes, c.charset, c.log);
        std::string text;
        EXPECT_EQ(extract(&options, text), c.status) << c.maxBytes;
        EXPECT_EQ(text, c.size == expected_.size() * 2 ? text : expected_.substr(0, c.size)) << c.maxBytes;
        EXPECT_EQ(text.size(), c.size);
    }
    EXPECT_EQ(readLogLines(log).back(), "GetText() end successfully\r\n");
}

} // namespace
