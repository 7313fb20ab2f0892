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

namespace {

void put32(Bytes& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A "\005DocumentSummaryInformation" stream: one set (D5CDD502-2E9C-101B-9397-08002B2CF9AE)
// holding the category (PID 2) as a UTF-16 string (VT_LPWSTR, counted in characters).
Bytes documentSummary(const std::string& ascii) {
    Bytes out = {0xFE, 0xFF, 0, 0, 0, 0, 0, 0};
    out.resize(24, 0); // system id, class id
    put32(out, 1);
    const Bytes fmtid = {0x02, 0xD5, 0xCD, 0xD5, 0x9C, 0x2E, 0x1B, 0x10, 0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE};
    out.insert(out.end(), fmtid.begin(), fmtid.end());
    const uint32_t characters = static_cast<uint32_t>(ascii.size() + 1);
    for (const uint32_t word : {48u, 16 + 8 + 2 * characters, 1u, 2u, 16u, 0x1Fu, characters}) put32(out, word);
    for (const char c : ascii) out.insert(out.end(), {static_cast<uint8_t>(c), 0});
    out.insert(out.end(), {0, 0, 0, 0}); // the terminator and padding
    return out;
}

} // namespace

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
                       {"\005DocumentSummaryInformation", documentSummary("Cat")}},
                      summary);
        return dir / "a.ole";
    }
    default: return {};
    }
}

std::string readText(const fs::path& path) {
    const Bytes content = readFile(path);
    return std::string(content.begin(), content.end());
}

} // namespace oasys_lib_test
