// The naming rules of a batch over folders that tools and bindings share: the role of a file by its
// name, and the output name of a document, cut to the longest file name with a stable hash mark.
#include <gtest/gtest.h>

#include <string>

#include "oasys.h"

namespace {

TEST(Names, RoleOfAFileByItsName) {
    const struct {
        const char* name;
        oasys_name_role role;
    } cases[] = {
        {"REPORT.DOC", OASYS_NAME_BODY},  {"dir.x/report.Doc", OASYS_NAME_BODY}, {"a.fmt", OASYS_NAME_MEMBER},
        {"a.GrP", OASYS_NAME_MEMBER},     {"a.DOC.txt", OASYS_NAME_OTHER},       {".DOC", OASYS_NAME_OTHER},
        {"dir.DOC/name", OASYS_NAME_OTHER}, {"a.DOCX", OASYS_NAME_OTHER},        {nullptr, OASYS_NAME_OTHER},
    };
    for (const auto& c : cases) EXPECT_EQ(oasys_name_role_of(c.name), c.role) << (c.name ? c.name : "null");
}

TEST(Names, OutputNamesFitOneFileName) {
    char out[OASYS_NAME_MAX + 1];
    const std::string fits(251, 'n');
    std::string kana; // 270 bytes of three-byte characters: the cut must fall between two of them
    for (int i = 0; i < 90; ++i) kana += "\xE3\x81\x82";
    const struct {
        std::string name, suffix;
        size_t outSize;
        std::string expected; // empty: refused
    } cases[] = {
        {"report.DOC", ".txt", sizeof out, "report.DOC.txt"},
        {fits, ".txt", sizeof out, fits + ".txt"},
        // The mark is FNV-1a of the whole name: a stable name across runs, tools and bindings.
        {fits + "n", ".txt", sizeof out, std::string(242, 'n') + "~90c474f5.txt"},
        {kana, ".txt", sizeof out, kana.substr(0, 240) + "~48cc7255.txt"},
        {"report.DOC", ".txt", 14, ""},
        {fits, std::string(250, 's'), sizeof out, ""},
    };
    for (const auto& c : cases) {
        const size_t length = oasys_output_name(c.name.c_str(), c.suffix.c_str(), out, c.outSize);
        EXPECT_EQ(length == 0 ? std::string() : std::string(out, length), c.expected) << c.name.size();
    }
    EXPECT_EQ(oasys_output_name(nullptr, ".txt", out, sizeof out), 0u);
}

} // namespace
