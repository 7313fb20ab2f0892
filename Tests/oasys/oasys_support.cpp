#include "oasys_support.h"

#include "krm_host.h"
#include "krm_zori2.h"
#include "test_util.h"

using namespace oasys_test;
namespace fs = std::filesystem;

namespace oasys_lib_test {

Bytes bodyText(Body body) {
    switch (body) {
    case Body::Visible: return bytes("ABC\r\nDEF\r\n\x1A");
    case Body::Other: return bytes("XYZ\r\n\x1A");
    case Body::Unended: return bytes("ABC\r\nDEF\r\nGH");
    case Body::NoText: return bytes("\x1A");
    case Body::Empty: return {};
    }
    return {};
}

Bytes formatBlock(bool password) {
    PropertyFields fields;
    fields.flagWord = password ? 0x0008 : 0;
    fields.title = "Title";
    fields.author = "Author";
    fields.keywords[0] = "k1";
    fields.keywords[1] = "k2";
    fields.created = {0x98, 0x12, 0x31, 0x23, 0x59};
    return makePropertyBlock(fields);
}

SummaryFields summaryFields() {
    SummaryFields summary;
    summary.title = "Title";
    summary.author = "Author";
    summary.keywords = "k1;k2";
    summary.created = 915148740; // 1998-12-31 23:59 UTC
    return summary;
}

fs::path writeDocument(const fs::path& dir, oasys_packaging packaging, Body body, bool password) {
    switch (packaging) {
    case OASYS_PACKAGING_SEPARATED:
        return writeSeparated(dir / "a", bodyText(body), formatBlock(password)).doc;
    case OASYS_PACKAGING_COMBINED:
        writeFile(dir / "a.oas", makeCombinedDocument(formatBlock(password), bodyText(body)));
        return dir / "a.oas";
    case OASYS_PACKAGING_COMPOUND:
        writeCompoundDocument(dir / "a.ole", formatBlock(password), bodyText(body), summaryFields());
        return dir / "a.ole";
    default: return {};
    }
}

std::string filterText(const fs::path& path, oasys_packaging packaging) {
    const uint16_t codes[] = {0, KRM_FORMAT_SEPARATED, KRM_FORMAT_COMBINED, KRM_FORMAT_COMPOUND};
    HostOptions options = makeOptions("UTF-8");
    const uint32_t stream = KRM_StreamCreateMemory();
    GetTextStreamWithErrCallback(path.c_str(), stream, &options, &codes[packaging], 0);
    const uint8_t* data = nullptr;
    size_t length = 0;
    KRM_StreamGetMemory(stream, &data, &length);
    std::string text(reinterpret_cast<const char*>(data), length);
    KRM_StreamRelease(stream);
    return text;
}

std::string readText(const fs::path& path) {
    const Bytes content = readFile(path);
    return std::string(content.begin(), content.end());
}

} // namespace oasys_lib_test
