// liboasys on a table of documents: every packaging from a path (separated documents by each
// member's name and in other cases), from memory and from a descriptor; damaged, protected,
// missing members and files that are not OASYS. The text must be the filter's own, byte for byte;
// the properties the same for every packaging; and every call leaves the host's counters at zero.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <functional>
#include <vector>
#include <string>

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

struct Row {
    const char* label;
    oasys_packaging packaging;
    Body body;
    bool password;
    From from;
    Names names;
    oasys_status text;
    oasys_status properties;
};

constexpr auto S = OASYS_PACKAGING_SEPARATED;
constexpr auto C = OASYS_PACKAGING_COMBINED;
constexpr auto O = OASYS_PACKAGING_COMPOUND;

const Row kRows[] = {
    {"separated by .DOC", S, Body::Visible, false, From::Path, Names::Upper, OASYS_OK, OASYS_OK},
    {"separated by .FMT", S, Body::Visible, false, From::Path, Names::GivenFmt, OASYS_OK, OASYS_OK},
    {"separated by .GRP", S, Body::Visible, false, From::Path, Names::GivenGrp, OASYS_OK, OASYS_OK},
    {"separated in lower case", S, Body::Visible, false, From::Path, Names::Lower, OASYS_OK, OASYS_OK},
    {"separated in mixed case", S, Body::Visible, false, From::Path, Names::Mixed, OASYS_OK, OASYS_OK},
    {"separated named in another case", S, Body::Visible, false, From::Path, Names::GivenInOtherCase, OASYS_OK,
     OASYS_OK},
    {"separated without .FMT", S, Body::Visible, false, From::Path, Names::NoFormat, OASYS_UNREADABLE,
     OASYS_UNREADABLE},
    {"separated without .DOC", S, Body::Visible, false, From::Path, Names::NoBody, OASYS_UNREADABLE, OASYS_OK},
    {"separated from memory", S, Body::Visible, false, From::Memory, Names::Upper, OASYS_OK, OASYS_OK},
    {"separated from descriptors", S, Body::Visible, false, From::Fd, Names::Upper, OASYS_OK, OASYS_OK},
    {"separated protected", S, Body::Visible, true, From::Path, Names::Upper, OASYS_PASSWORD, OASYS_OK},
    {"separated damaged", S, Body::Unended, false, From::Path, Names::Upper, OASYS_BROKEN, OASYS_OK},
    {"separated without visible text", S, Body::NoText, false, From::Memory, Names::Upper, OASYS_NO_TEXT, OASYS_OK},
    {"separated with an empty body", S, Body::Empty, false, From::Path, Names::Upper, OASYS_OK, OASYS_OK},
    {"combined by path", C, Body::Visible, false, From::Path, Names::Upper, OASYS_OK, OASYS_OK},
    {"combined from memory", C, Body::Visible, false, From::Memory, Names::Upper, OASYS_OK, OASYS_OK},
    {"combined from a descriptor", C, Body::Visible, false, From::Fd, Names::Upper, OASYS_OK, OASYS_OK},
    {"combined protected", C, Body::Visible, true, From::Memory, Names::Upper, OASYS_PASSWORD, OASYS_OK},
    {"combined damaged", C, Body::Unended, false, From::Path, Names::Upper, OASYS_BROKEN, OASYS_OK},
    {"compound by path", O, Body::Visible, false, From::Path, Names::Upper, OASYS_OK, OASYS_OK},
    {"compound from memory", O, Body::Visible, false, From::Memory, Names::Upper, OASYS_OK, OASYS_OK},
    {"compound from a descriptor", O, Body::Visible, false, From::Fd, Names::Upper, OASYS_OK, OASYS_OK},
    {"combined through a pipe", C, Body::Visible, false, From::Pipe, Names::Upper, OASYS_OK, OASYS_OK},
    {"compound through a pipe", O, Body::Visible, false, From::Pipe, Names::Upper, OASYS_OK, OASYS_OK},
    {"compound protected", O, Body::Visible, true, From::Fd, Names::Upper, OASYS_PASSWORD, OASYS_OK},
    {"compound damaged", O, Body::Unended, false, From::Path, Names::Upper, OASYS_BROKEN, OASYS_OK},
    {"compound without visible text", O, Body::NoText, false, From::Path, Names::Upper, OASYS_NO_TEXT, OASYS_OK},
};

// Renames the members of the separated document a.DOC/a.FMT in dir as the row wants; the name to
// give is returned.
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

struct Opened {
    oasys_status status = OASYS_BAD_ARGUMENT;
    oasys_document* document = nullptr;
};

Opened openAs(const Row& row, const fs::path& path) {
    Opened opened;
    oasys_result result{};
    if (row.from == From::Path) {
        opened.status = oasys_open_path(path.c_str(), OASYS_PACKAGING_AUTO, &opened.document, &result);
    } else if (row.from == From::Memory && row.packaging == S) {
        const Bytes body = readFile(path), format = readFile(fs::path(path).replace_extension(".FMT"));
        opened.status = oasys_open_separated_memory(body.data(), body.size(), format.data(), format.size(),
                                                    &opened.document, &result);
    } else if (row.from == From::Memory) {
        const Bytes content = readFile(path);
        opened.status = oasys_open_memory(content.data(), content.size(), OASYS_PACKAGING_AUTO, &opened.document, &result);
    } else if (row.from == From::Pipe) { // read to its end once, as standard input would be
        const Bytes content = readFile(path);
        int ends[2];
        EXPECT_EQ(::pipe(ends), 0);
        EXPECT_EQ(::write(ends[1], content.data(), content.size()), static_cast<ssize_t>(content.size()));
        ::close(ends[1]);
        opened.status = oasys_open_fd(ends[0], OASYS_PACKAGING_AUTO, &opened.document, &result);
        ::close(ends[0]);
    } else {
        const int body = ::open(path.c_str(), O_RDONLY);
        if (row.packaging == S) {
            const int format = ::open(fs::path(path).replace_extension(".FMT").c_str(), O_RDONLY);
            opened.status = oasys_open_separated_fds(body, format, &opened.document, &result);
            ::close(format);
        } else {
            opened.status = oasys_open_fd(body, OASYS_PACKAGING_AUTO, &opened.document, &result);
        }
        ::close(body);
    }
    EXPECT_EQ(result.status, opened.status);
    return opened;
}

std::string text(const oasys_text& field) { return std::string(field.text, field.length); }

const char* documentType(oasys_packaging packaging) {
    switch (packaging) {
    case S: return "OASYS2文書";
    case C: return "OASYS2結合文書";
    default: return "OASYS2複合文書";
    }
}

class DocumentTable : public HostCheckedTest {
protected:
    void TearDown() override {
        EXPECT_EQ(KRMTest_LiveBindings(), 0);
        HostCheckedTest::TearDown();
    }
};

TEST_F(DocumentTable, TextPropertiesAndPasswordOfEveryRow) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.label);
        TempDir canonical, dir;
        const std::string expectedText =
            filterText(writeDocument(canonical.path(), row.packaging, row.body, row.password), row.packaging);
        fs::path path = writeDocument(dir.path(), row.packaging, row.body, row.password);
        if (row.packaging == S) path = arrangeNames(dir.path(), row.names);

        Opened opened = openAs(row, path);
        ASSERT_EQ(opened.status, OASYS_OK);
        EXPECT_EQ(oasys_document_packaging(opened.document), row.packaging);

        oasys_buffer buffer{};
        oasys_result result{};
        EXPECT_EQ(oasys_extract_to_buffer(opened.document, &buffer, nullptr, &result), row.text);
        const bool textKept = row.text == OASYS_OK || row.text == OASYS_BROKEN;
        EXPECT_EQ(expectedText.empty(), row.password || (row.body != Body::Visible && row.body != Body::Unended));
        EXPECT_EQ(std::string(buffer.data ? buffer.data : "", buffer.size), textKept ? expectedText : "");
        EXPECT_EQ(result.bytes, buffer.size);
        EXPECT_EQ(result.packaging, row.packaging);
        EXPECT_EQ(result.system_error, 0);
        EXPECT_NE(result.message[0], '\0');
        oasys_buffer_free(&buffer);

        oasys_properties properties;
        EXPECT_EQ(oasys_read_properties(opened.document, nullptr, &properties, &result), row.properties);
        if (row.properties == OASYS_OK) {
            EXPECT_EQ(text(properties.title), "Title");
            EXPECT_EQ(text(properties.author), "Author");
            EXPECT_EQ(text(properties.keywords), "k1;k2");
            EXPECT_EQ(text(properties.document_type), documentType(row.packaging));
            EXPECT_EQ(text(properties.created_text), "98年12月31日23時59分");
            EXPECT_EQ(properties.created.present, 1);
            EXPECT_EQ(properties.created.year, 1998);
            EXPECT_EQ(properties.created.minute, 59);
            EXPECT_EQ(properties.modified.present, 0);
            EXPECT_EQ(properties.modified_text.length, 0u);
            EXPECT_EQ(properties.password_protected, row.password ? 1 : 0);
            int isProtected = -1;
            EXPECT_EQ(oasys_password_protected(opened.document, &isProtected, nullptr), OASYS_OK);
            EXPECT_EQ(isProtected, row.password ? 1 : 0);
        }
        oasys_close(opened.document);
        expectHostCountersZero();
    }
}

// What is not an OASYS document, or cannot be one, is told at the open.
TEST_F(DocumentTable, OpenRefusals) {
    TempDir dir;
    writeFile(dir / "a.txt", bytes("plain text\n"));
    writeCompoundDocument(dir / "full.ole", formatBlock(false), bodyText(Body::Visible));
    Bytes truncated = readFile(dir / "full.ole");
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
        {"a.txt", OASYS_NOT_OASYS, OASYS_PACKAGING_AUTO},
        {"cut.ole", OASYS_BROKEN, O},
        {"other.ole", OASYS_NOT_OASYS, O},
        {"missing.DOC", OASYS_UNREADABLE, OASYS_PACKAGING_AUTO},
        {"folder.DOC", OASYS_UNREADABLE, OASYS_PACKAGING_AUTO},
        {"pipe.DOC", OASYS_UNREADABLE, OASYS_PACKAGING_AUTO},
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
    EXPECT_EQ(oasys_open_memory(truncated.data(), truncated.size(), OASYS_PACKAGING_AUTO, &document, nullptr),
              OASYS_BROKEN);
    EXPECT_EQ(oasys_open_memory("abc", 3, OASYS_PACKAGING_AUTO, &document, nullptr), OASYS_NOT_OASYS);
    EXPECT_EQ(oasys_open_memory("abc", 3, OASYS_PACKAGING_SEPARATED, &document, nullptr), OASYS_BAD_ARGUMENT);
    EXPECT_EQ(oasys_open_path(nullptr, OASYS_PACKAGING_AUTO, &document, nullptr), OASYS_BAD_ARGUMENT);
    EXPECT_EQ(oasys_open_separated_memory("abc", 3, nullptr, 0, &document, nullptr), OASYS_BAD_ARGUMENT);
    EXPECT_EQ(oasys_open_fd(-1, OASYS_PACKAGING_AUTO, &document, nullptr), OASYS_BAD_ARGUMENT);
}

// A member written in exactly the given case is read before one in another case, so the member
// named is the member read.
TEST_F(DocumentTable, ExactCaseBeforeAnotherCase) {
    TempDir dir;
    writeSeparated(dir / "a", bodyText(Body::Visible), formatBlock(false));
    writeSeparated(dir / "a", bodyText(Body::Other), formatBlock(false), /*lowerCase=*/true);
    for (const auto& [name, body] : {std::pair{"a.DOC", Body::Visible}, std::pair{"a.doc", Body::Other}}) {
        SCOPED_TRACE(name);
        oasys_document* document = nullptr;
        ASSERT_EQ(oasys_open_path((dir / name).c_str(), OASYS_PACKAGING_AUTO, &document, nullptr), OASYS_OK);
        oasys_buffer buffer{};
        EXPECT_EQ(oasys_extract_to_buffer(document, &buffer, nullptr, nullptr), OASYS_OK);
        TempDir canonical;
        EXPECT_EQ(std::string(buffer.data, buffer.size), filterText(writeDocument(canonical.path(), S, body), S));
        oasys_buffer_free(&buffer);
        oasys_close(document);
    }
}

} // namespace

namespace {

// In another charset the texts are the filter's own in that charset, the keywords shown the same
// way for every packaging, and an all-zero stored date is no date.
TEST_F(DocumentTable, PropertiesInAnotherCharset) {
    const std::string utf16Keywords("k\0001\000;\000k\0002\000", 10);
    for (const oasys_packaging packaging : {S, C, O}) {
        SCOPED_TRACE(oasys_packaging_name(packaging));
        TempDir dir;
        oasys_document* document = nullptr;
        ASSERT_EQ(oasys_open_path(writeDocument(dir.path(), packaging, Body::Visible).c_str(), OASYS_PACKAGING_AUTO,
                                  &document, nullptr),
                  OASYS_OK);
        oasys_options options;
        oasys_options_init(&options);
        options.charset = "UTF-16LE";
        oasys_properties properties;
        EXPECT_EQ(oasys_read_properties(document, &options, &properties, nullptr), OASYS_OK);
        EXPECT_EQ(text(properties.keywords), utf16Keywords);
        EXPECT_EQ(properties.title.length, 10u);
        EXPECT_EQ(properties.created.day, 31);
        EXPECT_EQ(properties.created_text.length, 30u); // 15 UTF-16 units
        EXPECT_EQ(properties.modified_text.length, 0u);
        oasys_close(document);
    }
}

} // namespace

namespace {

// Stored dates: a real one is a date, an all-zero one is no date and no text, one with digits out
// of range keeps its stored text but is no date.
TEST_F(DocumentTable, StoredDates) {
    const struct {
        std::array<uint8_t, 5> packed;
        int present;
        const char* text;
    } cases[] = {
        {{0x05, 0x04, 0x01, 0x09, 0x30}, 1, "05年04月01日09時30分"},
        {{0x00, 0x00, 0x00, 0x00, 0x00}, 0, ""},
        {{0x05, 0x13, 0x01, 0x09, 0x30}, 0, "05年13月01日09時30分"},
        {{0x05, 0x04, 0x01, 0x09, 0x60}, 0, "05年04月01日09時60分"},
        {{0x05, 0x04, 0x01, 0x24, 0x00}, 0, "05年04月01日24時00分"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        PropertyFields fields;
        fields.modified = c.packed;
        const Bytes format = makePropertyBlock(fields);
        oasys_document* document = nullptr;
        ASSERT_EQ(oasys_open_separated_memory(nullptr, 0, format.data(), format.size(), &document, nullptr), OASYS_OK);
        oasys_properties properties;
        EXPECT_EQ(oasys_read_properties(document, nullptr, &properties, nullptr), OASYS_OK);
        EXPECT_EQ(properties.modified.present, c.present);
        EXPECT_EQ(text(properties.modified_text), c.text);
        if (c.present) {
            EXPECT_EQ(properties.modified.year, 2005);
            EXPECT_EQ(properties.modified.hour, 9);
        }
        oasys_close(document);
    }
}

// The charset questions the tools ask, answered by the conversion service.
TEST_F(DocumentTable, Charsets) {
    EXPECT_EQ(oasys_charset_usable("Shift_JIS"), 1);
    EXPECT_EQ(oasys_charset_usable("no-such-charset"), 0);
    EXPECT_EQ(oasys_charset_usable(nullptr), 0);
    EXPECT_EQ(oasys_charset_is_utf8("utf8"), 1);
    EXPECT_EQ(oasys_charset_is_utf8("UTF-16LE"), 0);
    EXPECT_EQ(oasys_charset_unit_size("UTF-16LE"), 2u);
    EXPECT_EQ(oasys_charset_unit_size("UTF-32"), 4u);
    EXPECT_EQ(oasys_charset_unit_size("EUC-JP"), 1u);

    std::vector<std::string> names;
    auto collect = [](void* context, const char* name) { static_cast<std::vector<std::string>*>(context)->push_back(name); };
    EXPECT_EQ(oasys_charset_list(collect, &names), OASYS_OK);
    for (const char* wanted : {"UTF-8", "Shift_JIS", "EUC-JP"})
        EXPECT_EQ(std::count(names.begin(), names.end(), wanted), 1) << wanted;

    oasys_buffer buffer{};
    EXPECT_EQ(oasys_text_from_utf8("Shift_JIS", "日本", 6, &buffer, nullptr), OASYS_OK);
    EXPECT_EQ(std::string(buffer.data, buffer.size), "\x93\xFA\x96\x7B");
    EXPECT_EQ(oasys_text_from_utf8("Shift_JIS", nullptr, 1, &buffer, nullptr), OASYS_BAD_ARGUMENT);
    EXPECT_EQ(oasys_text_from_utf8("no-such-charset", "a", 1, &buffer, nullptr), OASYS_BAD_ARGUMENT);
    EXPECT_EQ(buffer.size, 4u);
    oasys_buffer_free(&buffer);
}

} // namespace

namespace {

// A stem that itself holds ".FMT" or ".DOC" still names its own members (the filter searches its
// names for those texts anywhere), and the filter's log shows the document's name.
TEST_F(DocumentTable, StemsHoldingMemberMarks) {
    TempDir dir;
    writeSeparated(dir / "notes.FMT.v2", bodyText(Body::Visible), formatBlock(false));
    oasys_document* document = nullptr;
    ASSERT_EQ(oasys_open_path((dir / "notes.FMT.v2.DOC").c_str(), OASYS_PACKAGING_AUTO, &document, nullptr), OASYS_OK);
    oasys_options options;
    oasys_options_init(&options);
    const fs::path log = dir / "call.log";
    options.log_path = log.c_str();
    oasys_buffer buffer{};
    EXPECT_EQ(oasys_extract_to_buffer(document, &buffer, &options, nullptr), OASYS_OK);
    TempDir canonical;
    EXPECT_EQ(std::string(buffer.data, buffer.size), filterText(writeDocument(canonical.path(), S, Body::Visible), S));
    const std::vector<std::string> lines = readLogLines(log);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.rfind("Open Appfile: /krm-bound/", 0) == 0 &&
                                       line.ends_with("/notes_FMT_v2.DOC\r\n");
                            }),
              1);
    oasys_buffer_free(&buffer);
    oasys_close(document);
}

} // namespace
