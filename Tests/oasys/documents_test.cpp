// liboasys on a table of documents: every packaging from a path (separated documents by each
// member's name and in other cases), from memory, a descriptor and a pipe; damaged, protected,
// missing members and files that are not OASYS. The text must be the filter's own, byte for byte;
// the properties the same for every packaging; and every call leaves the host's counters at zero.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>

#include "krm_host_testing.h"
#include "oasys.h"
#include "oasys_support.h"
#include "test_util.h"

using namespace oasys_test;
using namespace oasys_lib_test;
namespace fs = std::filesystem;

namespace {

enum class From { Path, Memory, Fd, Pipe };
// How a separated document's files are named and which name is given.
enum class Names { Upper, GivenFmt, GivenGrp, Lower, Mixed, GivenInOtherCase, NoFormat, NoBody };

constexpr auto S = OASYS_PACKAGING_SEPARATED;
constexpr auto C = OASYS_PACKAGING_COMBINED;
constexpr auto O = OASYS_PACKAGING_COMPOUND;
constexpr auto OK = OASYS_OK;

const struct Row {
    const char* label;
    oasys_packaging packaging;
    Body body;
    bool password;
    From from;
    Names names;
    oasys_status text, properties;
} kRows[] = {
    {"separated by .DOC", S, Body::Visible, false, From::Path, Names::Upper, OK, OK},
    {"separated by .FMT", S, Body::Visible, false, From::Path, Names::GivenFmt, OK, OK},
    {"separated by .GRP", S, Body::Visible, false, From::Path, Names::GivenGrp, OK, OK},
    {"separated in lower case", S, Body::Visible, false, From::Path, Names::Lower, OK, OK},
    {"separated in mixed case", S, Body::Visible, false, From::Path, Names::Mixed, OK, OK},
    {"separated named in another case", S, Body::Visible, false, From::Path, Names::GivenInOtherCase, OK, OK},
    {"separated without .FMT", S, Body::Visible, false, From::Path, Names::NoFormat, OASYS_UNREADABLE, OASYS_UNREADABLE},
    {"separated without .DOC", S, Body::Visible, false, From::Path, Names::NoBody, OASYS_UNREADABLE, OK},
    {"separated from memory", S, Body::Visible, false, From::Memory, Names::Upper, OK, OK},
    {"separated from descriptors", S, Body::Visible, false, From::Fd, Names::Upper, OK, OK},
    {"separated protected", S, Body::Visible, true, From::Path, Names::Upper, OASYS_PASSWORD, OK},
    {"separated damaged", S, Body::Unended, false, From::Path, Names::Upper, OASYS_BROKEN, OK},
    {"separated without visible text", S, Body::NoText, false, From::Memory, Names::Upper, OASYS_NO_TEXT, OK},
    {"separated with an empty body", S, Body::Empty, false, From::Path, Names::Upper, OK, OK},
    {"combined by path", C, Body::Visible, false, From::Path, Names::Upper, OK, OK},
    {"combined from memory", C, Body::Visible, false, From::Memory, Names::Upper, OK, OK},
    {"combined from a descriptor", C, Body::Visible, false, From::Fd, Names::Upper, OK, OK},
    {"combined through a pipe", C, Body::Visible, false, From::Pipe, Names::Upper, OK, OK},
    {"combined protected", C, Body::Visible, true, From::Memory, Names::Upper, OASYS_PASSWORD, OK},
    {"combined damaged", C, Body::Unended, false, From::Path, Names::Upper, OASYS_BROKEN, OK},
    {"compound by path", O, Body::Visible, false, From::Path, Names::Upper, OK, OK},
    {"compound from memory", O, Body::Visible, false, From::Memory, Names::Upper, OK, OK},
    {"compound from a descriptor", O, Body::Visible, false, From::Fd, Names::Upper, OK, OK},
    {"compound through a pipe", O, Body::Visible, false, From::Pipe, Names::Upper, OK, OK},
    {"compound protected", O, Body::Visible, true, From::Fd, Names::Upper, OASYS_PASSWORD, OK},
    {"compound damaged", O, Body::Unended, false, From::Path, Names::Upper, OASYS_BROKEN, OK},
    {"compound without visible text", O, Body::NoText, false, From::Path, Names::Upper, OASYS_NO_TEXT, OK},
};

// Renames the members of a.DOC/a.FMT in dir as the row wants; returns the name to give.
fs::path arrangeNames(const fs::path& dir, Names names) {
    const auto rename = [&](const char* from, const char* to) { fs::rename(dir / from, dir / to); };
    switch (names) {
    case Names::Upper: return dir / "a.DOC";
    case Names::GivenFmt: return dir / "a.FMT";
    case Names::GivenGrp: writeFile(dir / "a.GRP", {}); return dir / "a.GRP";
    case Names::Lower: rename("a.DOC", "a.doc"); rename("a.FMT", "a.fmt"); return dir / "a.doc";
    case Names::Mixed: rename("a.DOC", "a.Doc"); rename("a.FMT", "a.fMt"); return dir / "a.Doc";
    case Names::GivenInOtherCase: rename("a.FMT", "a.fmt"); writeFile(dir / "a.Grp", {}); return dir / "a.Grp";
    case Names::NoFormat: fs::remove(dir / "a.FMT"); return dir / "a.DOC";
    case Names::NoBody: fs::remove(dir / "a.DOC"); return dir / "a.FMT";
    }
    return {};
}

oasys_status openAs(const Row& row, const fs::path& path, oasys_document** document) {
    oasys_result result{};
    oasys_status status;
    const Bytes content = row.from == From::Path ? Bytes{} : readFile(path);
    const fs::path format = fs::path(path).replace_extension(".FMT");
    if (row.from == From::Path) {
        status = oasys_open_path(path.c_str(), OASYS_PACKAGING_AUTO, document, &result);
    } else if (row.from == From::Memory && row.packaging == S) {
        const Bytes formatBytes = readFile(format);
        status = oasys_open_separated_memory(content.data(), content.size(), formatBytes.data(), formatBytes.size(),
                                             document, &result);
    } else if (row.from == From::Memory) {
        status = oasys_open_memory(content.data(), content.size(), OASYS_PACKAGING_AUTO, document, &result);
    } else if (row.from == From::Pipe) { // read to its end once, as standard input would be
        int ends[2];
        EXPECT_EQ(::pipe(ends), 0);
        EXPECT_EQ(::write(ends[1], content.data(), content.size()), static_cast<ssize_t>(content.size()));
        ::close(ends[1]);
        status = oasys_open_fd(ends[0], OASYS_PACKAGING_AUTO, document, &result);
        ::close(ends[0]);
    } else {
        const int body = ::open(path.c_str(), O_RDONLY), formatFd = ::open(format.c_str(), O_RDONLY);
        status = row.packaging == S ? oasys_open_separated_fds(body, formatFd, document, &result)
                                    : oasys_open_fd(body, OASYS_PACKAGING_AUTO, document, &result);
        ::close(body);
        if (formatFd >= 0) ::close(formatFd);
    }
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
        SCOPED_TRACE(row.label);
        TempDir canonical, dir;
        const std::string filters = filterText(writeDocument(canonical.path(), row.packaging, row.body, row.password), row.packaging);
        fs::path path = writeDocument(dir.path(), row.packaging, row.body, row.password);
        if (row.packaging == S) path = arrangeNames(dir.path(), row.names);
        oasys_document* document = nullptr;
        ASSERT_EQ(openAs(row, path, &document), OK);
        EXPECT_EQ(oasys_document_packaging(document), row.packaging);

        oasys_buffer buffer{};
        oasys_result result{};
        EXPECT_EQ(oasys_extract_to_buffer(document, &buffer, nullptr, &result), row.text);
        EXPECT_EQ(filters.empty(), row.password || (row.body != Body::Visible && row.body != Body::Unended));
        EXPECT_EQ(std::string(buffer.data ? buffer.data : "", buffer.size), row.text == OK || row.text == OASYS_BROKEN ? filters : "");
        EXPECT_EQ(result.bytes, buffer.size);
        EXPECT_EQ(result.packaging, row.packaging);
        EXPECT_EQ(result.system_error, 0);
        EXPECT_NE(result.message[0], '\0');
        oasys_buffer_free(&buffer);

        oasys_properties p;
        int isProtected = -1;
        EXPECT_EQ(oasys_read_properties(document, nullptr, &p, &result), row.properties);
        EXPECT_EQ(oasys_password_protected(document, &isProtected, nullptr), row.properties);
        if (row.properties == OK) {
            const std::string texts[] = {text(p.title), text(p.author), text(p.comments), text(p.category), text(p.keywords),
                                         text(p.document_type), text(p.created_text), text(p.modified_text)};
            EXPECT_EQ(std::vector<std::string>(std::begin(texts), std::end(texts)),
                      (std::vector<std::string>{"Title", kAuthor, "Note", "Cat", "k1;k2", documentTypes[row.packaging],
                                                "98年12月31日23時00分", ""}));
            EXPECT_EQ(std::vector<int>({p.created.present, p.created.year, p.created.hour, p.created.minute,
                                        p.modified.present, p.password_protected, isProtected}),
                      std::vector<int>({1, 1998, 23, 0, 0, row.password, row.password}));
        }
        oasys_close(document);
        expectHostCountersZero();
    }
}

// What cannot be an OASYS document is told at the open, with no document given out.
TEST_F(DocumentTable, OpenRefusals) {
    TempDir dir;
    Bytes truncated = readFile(writeDocument(dir.path(), O, Body::Visible));
    truncated.resize(600);
    const struct {
        const void* data;
        size_t size;
        oasys_packaging packaging;
        oasys_document** document;
        oasys_status status;
    } cases[] = {
        {truncated.data(), truncated.size(), OASYS_PACKAGING_AUTO, nullptr, OASYS_BROKEN},
        {"abc", 3, OASYS_PACKAGING_AUTO, nullptr, OASYS_NOT_OASYS},
        {"abc", 3, S, nullptr, OASYS_BAD_ARGUMENT},
        {nullptr, 3, OASYS_PACKAGING_AUTO, nullptr, OASYS_BAD_ARGUMENT},
        {"abc", 3, static_cast<oasys_packaging>(O + 1), nullptr, OASYS_BAD_ARGUMENT},
    };
    for (const auto& c : cases) {
        oasys_document* document = reinterpret_cast<oasys_document*>(1);
        oasys_result result{};
        EXPECT_EQ(oasys_open_memory(c.data, c.size, c.packaging, &document, &result), c.status) << c.size;
        if (c.status != OASYS_BAD_ARGUMENT) EXPECT_EQ(document, nullptr); // else untouched
        EXPECT_NE(result.message[0], '\0');
    }
    oasys_document* document = nullptr;
    EXPECT_EQ(oasys_open_memory("abc", 3, OASYS_PACKAGING_AUTO, nullptr, nullptr), OASYS_BAD_ARGUMENT);
    EXPECT_EQ(oasys_open_path(nullptr, OASYS_PACKAGING_AUTO, &document, nullptr), OASYS_BAD_ARGUMENT);
    EXPECT_EQ(oasys_open_path("", OASYS_PACKAGING_AUTO, &document, nullptr), OASYS_BAD_ARGUMENT);
    EXPECT_EQ(oasys_open_separated_memory("abc", 3, nullptr, 0, &document, nullptr), OASYS_BAD_ARGUMENT);
    EXPECT_EQ(oasys_open_fd(-1, OASYS_PACKAGING_AUTO, &document, nullptr), OASYS_BAD_ARGUMENT);
    EXPECT_EQ(oasys_packaging_parse(nullptr, nullptr), 0);
    oasys_buffer buffer{};
    EXPECT_EQ(oasys_text_from_utf8("Shift_JIS", nullptr, 1, &buffer, nullptr), OASYS_BAD_ARGUMENT);
    EXPECT_EQ(oasys_text_from_utf8("no-such-charset", "a", 1, &buffer, nullptr), OASYS_BAD_ARGUMENT);
    EXPECT_EQ(buffer.size, 0u);
}

// Stored dates: a real one is a date, an all-zero one is no date and no text, one with digits out
// of range keeps its stored text but is no date.
TEST_F(DocumentTable, StoredDates) {
    const struct {
        std::array<uint8_t, 5> packed;
        int present, year, hour;
        const char* text;
    } cases[] = {
        {{0x05, 0x04, 0x01, 0x09, 0x30}, 1, 2005, 9, "05年04月01日09時30分"},
        {{0x80, 0x12, 0x31, 0x23, 0x59}, 1, 1980, 23, "80年12月31日23時59分"},
        {{0x00, 0x00, 0x00, 0x00, 0x00}, 0, 0, 0, ""},
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
        oasys_properties properties;
        EXPECT_EQ(oasys_read_properties(document, nullptr, &properties, nullptr), OK);
        EXPECT_EQ(text(properties.modified_text), c.text);
        EXPECT_EQ(properties.modified.present, c.present) << c.text;
        EXPECT_EQ(properties.modified.year, c.year) << c.text;
        EXPECT_EQ(properties.modified.hour, c.hour) << c.text;
        oasys_close(document);
    }
}

} // namespace
