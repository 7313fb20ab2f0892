// liboasys on every packaging from a path, memory, a descriptor and a pipe; damaged, protected, no text:
// the filter's text, the same properties for every packaging, and the host's counters back at zero.
// Where the text goes (a path, a descriptor, a buffer, a writer) and how its failures are told; the naming
// rules of a batch over folders that tools and bindings share.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
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

enum class From { Path, Memory, Fd, Pipe };
constexpr auto S = OASYS_PACKAGING_SEPARATED, C = OASYS_PACKAGING_COMBINED, O = OASYS_PACKAGING_COMPOUND;
constexpr auto OK = OASYS_OK;
using enum From;
using enum Body;

const struct Row { oasys_packaging packaging; From from; Body body; bool password; oasys_status text; } kRows[] = {
    {S, Path, Visible, false, OK}, {S, Memory, Visible, false, OK}, {S, Fd, Visible, false, OK},
    {S, Path, Visible, true, OASYS_PASSWORD}, {S, Path, Unended, false, OASYS_BROKEN}, {S, Memory, NoText, false, OASYS_NO_TEXT},
    {S, Path, Empty, false, OK}, {C, Path, Visible, false, OK}, {C, Memory, Visible, false, OK}, {C, Fd, Visible, false, OK},
    {C, Pipe, Visible, false, OK}, {C, Memory, Visible, true, OASYS_PASSWORD}, {C, Path, Unended, false, OASYS_BROKEN},
    {O, Path, Visible, false, OK}, {O, Memory, Visible, false, OK}, {O, Fd, Visible, false, OK}, {O, Pipe, Visible, false, OK},
    {O, Fd, Visible, true, OASYS_PASSWORD}, {O, Path, Unended, false, OASYS_BROKEN}, {O, Path, NoText, false, OASYS_NO_TEXT},
};

oasys_status openAs(const Row& row, const fs::path& path, oasys_document** document) {
    oasys_result result{};
    oasys_status status;
    const fs::path format = fs::path(path).replace_extension(".FMT");
    const Bytes content = row.from == From::Path ? Bytes{} : readFile(path);
    const Bytes formatBytes = row.from == From::Memory && row.packaging == S ? readFile(format) : Bytes{};
    int ends[2] = {::open(path.c_str(), O_RDONLY), ::open(format.c_str(), O_RDONLY)};
    if (row.from == From::Pipe) { // read to its end once, as standard input would be
        ::close(ends[0]);
        EXPECT_EQ(::pipe(ends), 0);
        EXPECT_EQ(::write(ends[1], content.data(), content.size()), static_cast<ssize_t>(content.size()));
        ::close(std::exchange(ends[1], -1));
    }
    if (row.from == From::Path) status = oasys_open_path(path.c_str(), OASYS_PACKAGING_AUTO, document, &result);
    else if (row.from == From::Memory && row.packaging == S)
        status = oasys_open_separated_memory(content.data(), content.size(), formatBytes.data(), formatBytes.size(), document, &result);
    else if (row.from == From::Memory)
        status = oasys_open_memory(content.data(), content.size(), OASYS_PACKAGING_AUTO, document, &result);
    else if (row.packaging == S) status = oasys_open_separated_fds(ends[0], ends[1], document, &result);
    else status = oasys_open_fd(ends[0], OASYS_PACKAGING_AUTO, document, &result);
    for (const int fd : ends)
        if (fd >= 0) ::close(fd);
    EXPECT_EQ(result.status, status);
    return status;
}

std::string text(const oasys_text& field) { return std::string(field.text, field.length); }

class DocumentTable : public HostCheckedTest {
protected:
    void TearDown() override {
        EXPECT_EQ(KRMTest_LiveBindings(), 0);
        HostCheckedTest::TearDown();
    }
};

TEST_F(DocumentTable, TextPropertiesAndPasswordOfEveryRow) {
    const char* const documentTypes[] = {"", "OASYS2文書", "OASYS2結合文書", "OASYS2複合文書"};
    for (const Row& row : kRows) {
        SCOPED_TRACE(testing::Message() << oasys_packaging_name(row.packaging) << " from " << static_cast<int>(row.from)
                                        << ", body " << static_cast<int>(row.body) << (row.password ? ", protected" : ""));
        TempDir dir;
        oasys_document* document = nullptr;
        ASSERT_EQ(openAs(row, writeDocument(dir.path(), row.packaging, row.body, row.password), &document), OK);
        EXPECT_EQ(oasys_document_packaging(document), row.packaging);
        oasys_buffer buffer{};
        oasys_result result{};
        EXPECT_EQ(oasys_extract_to_buffer(document, &buffer, nullptr, &result), row.text);
        EXPECT_EQ(std::string(buffer.data ? buffer.data : "", buffer.size), row.password ? "" : textOf(row.body));
        EXPECT_EQ(std::vector<int64_t>({static_cast<int64_t>(result.bytes), result.packaging, result.system_error}),
                  std::vector<int64_t>({static_cast<int64_t>(buffer.size), row.packaging, 0}));
        EXPECT_NE(result.message[0], '\0');
        oasys_buffer_free(&buffer);

        oasys_properties p;
        std::memset(&p, 0xFF, sizeof p);
        int isProtected = -1;
        EXPECT_EQ(oasys_read_properties(document, nullptr, &p, &result), OK);
        EXPECT_EQ(oasys_password_protected(document, &isProtected, nullptr), OK);
        const std::string texts[] = {text(p.title), text(p.author), text(p.comments), text(p.category), text(p.keywords),
                                     text(p.document_type), text(p.created_text), text(p.modified_text)};
        EXPECT_EQ(std::vector<std::string>(std::begin(texts), std::end(texts)),
                  (std::vector<std::string>{"Title", kAuthor, "Note", "Cat", "k1;k2", documentTypes[row.packaging],
                                            "98年12月31日23時00分", ""}));
        EXPECT_EQ(strnlen(p.author.text, sizeof p.author.text), p.author.length) << "ended and zero-filled";
        EXPECT_EQ(std::vector<int>({p.created.present, p.created.year, p.created.hour, p.created.minute,
                                    p.modified.present, p.password_protected, isProtected}),
                  std::vector<int>({1, 1998, 23, 0, 0, row.password, row.password}));
        oasys_close(document);
        expectHostCountersZero();
    }
}

// Bad arguments are refused at once; what is not a document is told at the open; text converted.
TEST_F(DocumentTable, RefusalsAndConversion) {
    oasys_document* document = reinterpret_cast<oasys_document*>(1);
    oasys_result result{};
    EXPECT_EQ(oasys_open_memory("abc", 3, OASYS_PACKAGING_AUTO, &document, &result), OASYS_NOT_OASYS);
    EXPECT_EQ(document, nullptr);
    EXPECT_NE(result.message[0], '\0');
    EXPECT_EQ(oasys_open_memory("abc", 3, S, &document, nullptr), OASYS_BAD_ARGUMENT);
    EXPECT_EQ(oasys_open_memory(nullptr, 3, OASYS_PACKAGING_AUTO, &document, nullptr), OASYS_BAD_ARGUMENT);
    EXPECT_EQ(oasys_open_memory("abc", 3, OASYS_PACKAGING_AUTO, nullptr, nullptr), OASYS_BAD_ARGUMENT);
    EXPECT_EQ(oasys_open_path(nullptr, OASYS_PACKAGING_AUTO, &document, nullptr), OASYS_BAD_ARGUMENT);
    EXPECT_EQ(oasys_open_path("", OASYS_PACKAGING_AUTO, &document, nullptr), OASYS_BAD_ARGUMENT);
    EXPECT_EQ(oasys_open_separated_memory("abc", 3, nullptr, 0, &document, nullptr), OASYS_BAD_ARGUMENT);
    EXPECT_EQ(oasys_open_fd(-1, OASYS_PACKAGING_AUTO, &document, nullptr), OASYS_BAD_ARGUMENT);
    oasys_packaging packaging;
    EXPECT_EQ(oasys_packaging_parse(nullptr, &packaging) + oasys_packaging_parse("combined", nullptr), 0);
    oasys_buffer buffer{};
    EXPECT_EQ(oasys_text_from_utf8("Shift_JIS", nullptr, 1, &buffer, nullptr), OASYS_BAD_ARGUMENT);
    EXPECT_EQ(oasys_text_from_utf8("no-such-charset", "a", 1, &buffer, nullptr), OASYS_BAD_ARGUMENT);
    EXPECT_EQ(buffer.size, 0u);
    EXPECT_EQ(oasys_text_from_utf8("Shift_JIS", "日本", 6, &buffer, nullptr), OK); // what oasysinfo -enc shows
    EXPECT_EQ(std::string(buffer.data, buffer.size), "\x93\xFA\x96\x7B");
    oasys_buffer_free(&buffer);
}

// With standard input closed, descriptor 0 is an ordinary one: the text is written to it, held on it
// and closed after the call.
TEST_F(DocumentTable, DescriptorZeroIsAnOrdinaryDescriptor) {
    TempDir dir;
    const fs::path out = dir / "out";
    oasys_document* document = nullptr;
    ASSERT_EQ(oasys_open_path(writeDocument(dir.path(), C, Body::Visible).c_str(), OASYS_PACKAGING_AUTO, &document, nullptr), OK);
    const int saved = ::dup(0);
    ::close(0);
    ASSERT_EQ(::open(out.c_str(), O_WRONLY | O_CREAT, 0600), 0);
    EXPECT_EQ(oasys_extract_to_fd(document, 0, nullptr, nullptr), OK);
    ::close(0);
    oasys_buffer buffer{};
    EXPECT_EQ(oasys_extract_to_buffer(document, &buffer, nullptr, nullptr), OK);
    EXPECT_EQ(::fcntl(0, F_GETFD), -1) << "descriptor 0 closed after the call";
    ::dup2(saved, 0);
    ::close(saved);
    EXPECT_EQ(std::string(buffer.data, buffer.size) + readText(out), textOf(Body::Visible) + textOf(Body::Visible));
    oasys_buffer_free(&buffer);
    oasys_close(document);
}

// Stored dates: real ones are dates; all-zero is none; digits out of range keep their text, no date.
TEST_F(DocumentTable, StoredDates) {
    const struct { std::array<uint8_t, 5> packed; int present, year, hour; const char* text; } cases[] = {
        {{0x05, 0x04, 0x01, 0x09, 0x30}, 1, 2005, 9, "05年04月01日09時30分"}, {{0x00, 0x00, 0x00, 0x00, 0x00}, 0, 0, 0, ""},
        {{0x80, 0x12, 0x31, 0x23, 0x59}, 1, 1980, 23, "80年12月31日23時59分"},
        {{0x05, 0x13, 0x01, 0x09, 0x30}, 0, 0, 0, "05年13月01日09時30分"},
        {{0x05, 0x04, 0x01, 0x09, 0x60}, 0, 0, 0, "05年04月01日09時60分"},
        {{0x05, 0x04, 0x01, 0x24, 0x00}, 0, 0, 0, "05年04月01日24時00分"},
    };
    for (const auto& c : cases) {
        PropertyFields fields;
        fields.modified = c.packed;
        const Bytes format = makePropertyBlock(fields);
        oasys_document* document = nullptr;
        ASSERT_EQ(oasys_open_separated_memory(nullptr, 0, format.data(), format.size(), &document, nullptr), OK);
        oasys_properties p;
        EXPECT_EQ(oasys_read_properties(document, nullptr, &p, nullptr), OK);
        EXPECT_EQ(text(p.modified_text), c.text);
        EXPECT_EQ(std::vector<int>({p.modified.present, p.modified.year, p.modified.hour}),
                  std::vector<int>({c.present, c.year, c.hour})) << c.text;
        oasys_options options; // the dates are read from their UTF-8 text whatever the charset asked for
        oasys_options_init(&options);
        options.charset = "UTF-16LE";
        EXPECT_EQ(oasys_read_properties(document, &options, &p, nullptr), OK);
        EXPECT_EQ(p.modified.present, c.present) << c.text;
        const std::string_view shown(c.text); // its UTF-16 form: two bytes a character, zero bytes within
        EXPECT_EQ(p.modified_text.length, 2 * std::count_if(shown.begin(), shown.end(), [](char b) { return (b & 0xC0) != 0x80; }));
        oasys_close(document);
    }
}

TEST(Names, OutputNamesFitOneFileName) {
    char out[OASYS_NAME_MAX + 1];
    const std::string fits(251, 'n');
    std::string kana; // 270 bytes of three-byte characters: the cut must fall between two of them
    for (int i = 0; i < 90; ++i) kana += "\xE3\x81\x82";
    // expected empty: refused
    const struct { std::string name, suffix; size_t outSize; std::string expected; } cases[] = {
        {"report.DOC", ".txt", sizeof out, "report.DOC.txt"}, {fits, ".txt", sizeof out, fits + ".txt"},
        // The mark is FNV-1a of the whole name: a stable name across runs, tools and bindings.
        {fits + "n", ".txt", sizeof out, std::string(242, 'n') + "~90c474f5.txt"},
        {kana, ".txt", sizeof out, kana.substr(0, 240) + "~48cc7255.txt"},
        {"report.DOC", ".txt", 14, ""}, {fits, std::string(250, 's'), sizeof out, ""},
        {fits + "n", std::string(246, 's'), sizeof out, "~90c474f5" + std::string(246, 's')}, // the mark and suffix alone
    };
    for (const auto& c : cases) {
        const size_t length = oasys_output_name(c.name.c_str(), c.suffix.c_str(), out, c.outSize);
        EXPECT_EQ(length == 0 ? std::string() : std::string(out, length), c.expected) << c.name.size();
    }
    EXPECT_EQ(oasys_output_name(nullptr, ".txt", out, sizeof out), 0u);
    EXPECT_EQ(oasys_name_role_of(nullptr), OASYS_NAME_OTHER);
}

class Sinks : public DocumentTable {
protected:
    void TearDown() override {
        oasys_close(document_);
        DocumentTable::TearDown();
    }
    void open(Body body, bool password = false) {
        oasys_close(std::exchange(document_, nullptr));
        ASSERT_EQ(oasys_open_path(writeDocument(docs_.path(), OASYS_PACKAGING_SEPARATED, body, password).c_str(),
                                  OASYS_PACKAGING_AUTO, &document_, nullptr),
                  OASYS_OK);
        expected_ = password ? "" : textOf(body);
    }
    oasys_status extract(oasys_options* options, std::string& text) {
        oasys_buffer buffer{};
        const oasys_status status = oasys_extract_to_buffer(document_, &buffer, options, nullptr);
        text.assign(buffer.data ? buffer.data : "", buffer.size);
        oasys_buffer_free(&buffer);
        return status;
    }

    TempDir docs_, out_;
    oasys_document* document_ = nullptr;
    std::string expected_;
};

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

// A new file of the caller's holds exactly the text kept, whatever it held before, and its descriptor's
// position stays; anything but a regular file open for writing is refused.
TEST_F(Sinks, NewFilesOfTheCaller) {
    const fs::path path = out_ / "new.txt";
    const struct { Body body; bool password, strict; oasys_status status; bool kept; } cases[] = {
        {Body::Visible, false, false, OASYS_OK, true}, {Body::Unended, false, false, OASYS_BROKEN, true},
        {Body::Unended, false, true, OASYS_BROKEN, false}, {Body::Visible, true, false, OASYS_PASSWORD, false},
    };
    for (const auto& c : cases) {
        open(c.body, c.password);
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const std::string before(64, 'x'); // longer than any text: none of it may show through
        ASSERT_EQ(::write(fd, before.data(), before.size()), 64);
        ::lseek(fd, 3, SEEK_SET);
        oasys_options options;
        oasys_options_init(&options);
        options.strict = c.strict;
        oasys_result r{};
        EXPECT_EQ(oasys_extract_to_new_file(document_, fd, &options, &r), c.status);
        const std::string text = c.kept ? expected_ : "";
        EXPECT_EQ(readText(path), text) << static_cast<int>(c.body) << c.strict;
        EXPECT_EQ(r.bytes, text.size());
        EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 3);
        ::close(fd);
    }
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const int refused[] = {ends[1], ::open(path.c_str(), O_RDONLY | O_CLOEXEC),
                           ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC), -1};
    for (const int fd : refused) {
        EXPECT_EQ(oasys_extract_to_new_file(document_, fd, nullptr, nullptr), OASYS_BAD_ARGUMENT) << fd;
        if (fd >= 0) ::close(fd);
    }
    ::close(ends[0]);
}

// Options reach the filter (limit, charset, log); values out of range are refused before any write.
TEST_F(Sinks, Options) {
    open(Body::Visible);
    const fs::path log = out_ / "a.DOC.log";
    const std::string tooLong(KRM_PATH_MAX, 'l'); // a log path must leave room for its ending NUL
    const struct { int64_t maxBytes; const char* charset; const char* log; oasys_status status; std::string text; } cases[] = {
        {4, "UTF-8", nullptr, OASYS_OUTPUT_LIMIT, "ABC\r"},  {0, "UTF-8", nullptr, OASYS_OUTPUT_LIMIT, ""},
        {1, "UTF-8", nullptr, OASYS_OUTPUT_LIMIT, "A"}, // a write of one byte into the growing buffer
        {-1, "UTF-16BE", nullptr, OASYS_OK, std::string("\0A\0B\0C\0\r\0\n\0D\0E\0F\0\r\0\n", 20)},
        {-1, "no-such-charset", nullptr, OASYS_BAD_ARGUMENT, ""}, {int64_t{1} << 32, nullptr, nullptr, OASYS_BAD_ARGUMENT, ""},
        {-1, nullptr, tooLong.c_str(), OASYS_BAD_ARGUMENT, ""}, {-1, nullptr, log.c_str(), OASYS_OK, "ABC\r\nDEF\r\n"},
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
