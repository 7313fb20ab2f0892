#include "oasys_support.h"

using namespace oasys_test;
namespace fs = std::filesystem;

namespace oasys_lib_test {

namespace {

Bytes bodyText(Body body) {
    const char* const bodies[] = {"ABC\r\nDEF\r\n\x1A", "ABC\r\nDEF\r\nGH", "\x1A", ""};
    return bytes(bodies[static_cast<int>(body)]);
}

} // namespace

std::string textOf(Body body) { return body == Body::Visible || body == Body::Unended ? "ABC\r\nDEF\r\n" : ""; }

Bytes formatBlock(bool password) {
    // Created on the hour: 82 800 s into the day.
    return makePropertyBlock({.flagWord = static_cast<uint16_t>(password ? 0x0008 : 0), .title = "Title", .author = kAuthor,
                              .comments = "Note", .category = "Cat", .keywords = {"k1", "k2"}, .created = {0x98, 0x12, 0x31, 0x23, 0x00}});
}

fs::path writeDocument(const fs::path& dir, oasys_packaging packaging, Body body, bool password) {
    switch (packaging) {
    case OASYS_PACKAGING_SEPARATED: return writeSeparated(dir / "a", bodyText(body), formatBlock(password)).doc;
    case OASYS_PACKAGING_COMBINED:
        writeFile(dir / "a.oas", makeCombinedDocument(formatBlock(password), bodyText(body)));
        return dir / "a.oas";
    case OASYS_PACKAGING_COMPOUND: {
        const SummaryFields summary{.title = "Title", .author = kAuthor, .keywords = "k1;k2", .comments = "Note",
                                    .created = 915145200}; // 1998-12-31 23:00 UTC
        writeCompound(dir / "a.ole",
                      {{"OasysStreamFileList", makeStreamList({{"DOC1.FMT", "2"}, {"DOC1.DOC", "1"}})},
                       {"DOC1.FMT", formatBlock(password)},
                       {"DOC1.DOC", bodyText(body)},
                       {"\005DocumentSummaryInformation", propertySetStream({{2, lpwstr(u"Cat")}}, {.documentSummary = true})}},
                      summary);
        return dir / "a.ole";
    }
    default: return {};
    }
}

} // namespace oasys_lib_test
