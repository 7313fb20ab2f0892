// liboasys on a table of documents: every packaging from a path (separated documents by each
// member's name and in other cases), from memory, a descriptor and a pipe; damaged, protected,
// missing members and files that are not OASYS. The text must be the filter's own, byte for byte;
// the properties the same for every packaging; and every call leaves the host's counters at zero.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
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
        const std::string expectedText =
            filterText(writeDocument(canonical.path(), row.packaging, row.body, row.password), row.packaging);
        fs::path path = writeDocument(dir.path(), row.packaging, row.body, row.password);
        if (row.packaging == S) path = arrangeNames(dir.path(), row.names);
        oasys_document* document = nullptr;
        ASSERT_EQ(openAs(row, path, &document), OK);
        EXPECT_EQ(oasys_document_packaging(document), row.packaging);

        oasys_buffer buffer{};
        oasys_result result{};
        EXPECT_EQ(oasys_extract_to_buffer(document, &buffer, nullptr, &result), row.text);
        const bool textKept = row.text == OK || row.text == OASYS_BROKEN;
        EXPECT_EQ(expectedText.empty(), row.password || (row.body != Body::Visible && row.body != Body::Unended));
        EXPECT_EQ(std::string(buffer.data ? buffer.data : "", buffer.size), textKept ? expectedText : "");
        EXPECT_EQ(result.bytes, buffer.size);
        EXPECT_EQ(result.packaging, row.packaging);
        EXPECT_EQ(result.system_error, 0);
        EXPECT_NE(result.message[0], '\0');
        oasys_buffer_free(&buffer);

        oasys_properties properties;
        EXPECT_EQ(oasys_read_properties(document, nullptr, &properties, &result), row.properties);
        if (row.properties == OK) {
            EXPECT_EQ(text(properties.title), "Title");
            EXPECT_EQ(text(properties.author), kAuthor);
            EXPECT_EQ(text(properties.comments), "Note");
            EXPECT_EQ(text(properties.category), "Cat");
            EXPECT_EQ(text(properties.keywords), "k1;k2");
            EXPECT_EQ(text(properties.document_type), documentTypes[row.packaging]);
            EXPECT_EQ(text(properties.created_text), "98年12月31日23時00分");
            EXPECT_EQ(properties.created.present, 1);
            EXPECT_EQ(properties.created.year, 1998);
            EXPECT_EQ(properties.created.hour, 23);
            EXPECT_EQ(properties.modified.present, 0);
            EXPECT_EQ(properties.modified_text.length, 0u);
            EXPECT_EQ(properties.password_protected, row.password ? 1 : 0);
            int isProtected = -1;
            EXPECT_EQ(oasys_password_protected(document, &isProtected, nullptr), OK);
            EXPECT_EQ(isProtected, row.password ? 1 : 0);
        }
        oasys_close(document);
        expectHostCountersZero();
    }
}

// What is not an OASYS document, or cannot be one, is told at the open.
TEST_F(DocumentTable, OpenRefusals) {
    TempDir dir;
    writeFile(dir / "a.txt", bytes("plain text\n"));
    writeDocument(dir.path(), O, Body::Visible);
    Bytes truncated = readFile(dir / "a.ole");
    truncated.resize(600);
    writeFile(dir / "cut.ole", truncated);
    writeCompound(dir / "other.ole", {{"Contents", bytes("x")}});
    fs::create_directory(dir / "folder.DOC");
    ASSERT_EQ(::mkfifo((dir / "pipe.DOC").c_str(), 0600), 0); // never waited on
    const struct {
        const char* name;
        oasys_status status;
        oasys_packaging packaging;
    } cases[] = {
        {"a.txt", OASYS_NOT_OASYS, OASYS_PACKAGING_AUTO},      {"cut.ole", OASYS_BROKEN, O},
        {"other.ole", OASYS_NOT_OASYS, O},                     {"missing.DOC", OASYS_UNREADABLE, OASYS_PACKAGING_AUTO},
        {"folder.DOC", OASYS_UNREADABLE, OASYS_PACKAGING_AUTO}, {"pipe.DOC", OASYS_UNREADABLE, OASYS_PACKAGING_AUTO},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        oasys_document* document = reinterpret_cast<oasys_document*>(1);
        oasys_result result{};
        EXPECT_EQ(oasys_open_path((dir / c.name).c_str(), OASYS_PACKAGING_AUTO, &document, &result), c.status);
        EXPECT_EQ(document, nullptr);
        EXPECT_EQ(result.packaging, c.packaging);
        EXPECT_NE(result.message[0], '\0');
    }
    oasys_document* document = nullptr;
    EXPECT_EQ(oasys_open_memory(truncated.data(), truncated.size(), OASYS_PACKAGING_AUTO, &document, nullptr), OASYS_BROKEN);
    EXPECT_EQ(oasys_open_memory("abc", 3, OASYS_PACKAGING_AUTO, &document, nullptr), OASYS_NOT_OASYS);
    EXPECT_EQ(oasys_open_memory("abc", 3, OASYS_PACKAGING_SEPARATED, &document, nullptr), OASYS_BAD_ARGUMENT);
    EXPECT_EQ(oasys_open_memory(nullptr, 3, OASYS_PACKAGING_AUTO, &document, nullptr), OASYS_BAD_ARGUMENT);
    EXPECT_EQ(oasys_open_memory("abc", 3, OASYS_PACKAGING_AUTO, nullptr, nullptr), OASYS_BAD_ARGUMENT);
    EXPECT_EQ(oasys_open_path(nullptr, OASYS_PACKAGING_AUTO, &document, nullptr), OASYS_BAD_ARGUMENT);
    EXPECT_EQ(oasys_open_path("", OASYS_PACKAGING_AUTO, &document, nullptr), OASYS_BAD_ARGUMENT);
    EXPECT_EQ(oasys_open_separated_memory("abc", 3, nullptr, 0, &document, nullptr), OASYS_BAD_ARGUMENT);
    EXPECT_EQ(oasys_open_fd(-1, OASYS_PACKAGING_AUTO, &document, nullptr), OASYS_BAD_ARGUMENT);
}

// The member named is the member read: one in exactly the given case comes before one in another
// case; a stem that itself holds ".FMT" or ".DOC" still names its own members; and the filter's
// log shows the document's name.
TEST_F(DocumentTable, MembersOfTheNameGiven) {
    TempDir dir, canonical;
    writeSeparated(dir / "a", bodyText(Body::Visible), formatBlock(false));
    writeSeparated(dir / "a", bodyText(Body::Other), formatBlock(false), /*lowerCase=*/true);
    writeSeparated(dir / "notes.FMT.v2", bodyText(Body::Visible), formatBlock(false));
    const struct {
        const char* name;
        Body body;
        const char* logged; // the end of the log line that opens the body
    } cases[] = {{"a.DOC", Body::Visible, ""}, {"a.doc", Body::Other, ""},
                 {"notes.FMT.v2.DOC", Body::Visible, "/notes_FMT_v2.DOC\r\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        oasys_document* document = nullptr;
        ASSERT_EQ(oasys_open_path((dir / c.name).c_str(), OASYS_PACKAGING_AUTO, &document, nullptr), OK);
        oasys_options options;
        oasys_options_init(&options);
        const fs::path log = dir / "call.log";
        options.log_path = log.c_str();
        oasys_buffer buffer{};
        EXPECT_EQ(oasys_extract_to_buffer(document, &buffer, &options, nullptr), OK);
        EXPECT_EQ(std::string(buffer.data, buffer.size), filterText(writeDocument(canonical.path(), S, c.body), S));
        const std::vector<std::string> lines = readLogLines(log);
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [&](const std::string& line) {
                                    return line.starts_with("Open Appfile: /krm-bound/") && line.ends_with(c.logged);
                                }),
                  1);
        oasys_buffer_free(&buffer);
        oasys_close(document);
    }
}

// Stored dates: a real one is a date, an all-zero one is no date and no text, one with digits out
// of range keeps its stored text but is no date; in UTF-16 every text is the filter's own.
TEST_F(DocumentTable, StoredDatesInEitherCharset) {
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
        SCOPED_TRACE(c.text);
        PropertyFields fields;
        fields.modified = c.packed;
        fields.keywords = {"k1", "k2"};
        const Bytes format = makePropertyBlock(fields);
        oasys_document* document = nullptr;
        ASSERT_EQ(oasys_open_separated_memory(nullptr, 0, format.data(), format.size(), &document, nullptr), OK);
        oasys_properties properties;
        EXPECT_EQ(oasys_read_properties(document, nullptr, &properties, nullptr), OK);
        EXPECT_EQ(properties.modified.present, c.present);
        EXPECT_EQ(properties.modified.year, c.year);
        EXPECT_EQ(properties.modified.hour, c.hour);
        EXPECT_EQ(text(properties.modified_text), c.text);
        oasys_options options;
        oasys_options_init(&options);
        options.charset = "UTF-16LE";
        EXPECT_EQ(oasys_read_properties(document, &options, &properties, nullptr), OK);
        EXPECT_EQ(text(properties.keywords), std::string("k\0001\000;\000k\0002\000", 10));
        EXPECT_EQ(properties.modified_text.length, std::string(c.text).empty() ? 0u : 30u); // 15 UTF-16 units
        EXPECT_EQ(properties.modified.present, c.present);
        oasys_close(document);
    }
}

// The charset questions the tools ask, answered by the conversion service.
TEST_F(DocumentTable, Charsets) {
    EXPECT_EQ(oasys_charset_usable("Shift_JIS"), 1);
    EXPECT_EQ(oasys_charset_usable("no-such-charset"), 0);
    EXPECT_EQ(oasys_charset_is_utf8("utf8"), 1);
    EXPECT_EQ(oasys_charset_is_utf8("UTF-16LE"), 0);
    EXPECT_EQ(oasys_charset_unit_size("UTF-16LE"), 2u);
    EXPECT_EQ(oasys_charset_unit_size("EUC-JP"), 1u);
    oasys_packaging packaging = OASYS_PACKAGING_AUTO;
    EXPECT_EQ(oasys_packaging_parse("compound", &packaging), 1);
    EXPECT_EQ(packaging, O);
    EXPECT_EQ(oasys_packaging_parse(nullptr, &packaging), 0);
    std::vector<std::string> names;
    auto collect = [](void* context, const char* name) { static_cast<std::vector<std::string>*>(context)->push_back(name); };
    EXPECT_EQ(oasys_charset_list(collect, &names), OK);
    for (const char* wanted : {"UTF-8", "Shift_JIS", "EUC-JP"})
        EXPECT_EQ(std::count(names.begin(), names.end(), wanted), 1) << wanted;
    oasys_buffer buffer{};
    EXPECT_EQ(oasys_text_from_utf8("Shift_JIS", "日本", 6, &buffer, nullptr), OK);
    EXPECT_EQ(std::string(buffer.data, buffer.size), "\x93\xFA\x96\x7B");
    EXPECT_EQ(oasys_text_from_utf8("Shift_JIS", nullptr, 1, &buffer, nullptr), OASYS_BAD_ARGUMENT);
    EXPECT_EQ(oasys_text_from_utf8("no-such-charset", "a", 1, &buffer, nullptr), OASYS_BAD_ARGUMENT);
    EXPECT_EQ(buffer.size, 4u);
    oasys_buffer_free(&buffer);
}

} // namespace
