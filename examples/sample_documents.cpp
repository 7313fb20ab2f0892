#include "sample_documents.h"

#include "oasys_writer.h"

namespace oasys_examples {

using namespace oasys_test;

namespace {

// Three lines: ASCII, Japanese (Shift-JIS), ASCII; the body ends with the end mark.
Bytes sampleBody() {
    return concat({bytes("OASYS sample"), crlf(),
                   bytes("\x93\xFA\x96\x7B\x8C\xEA\x82\xCC\x95\xB6\x8F\x91\x82\xC5\x82\xB7\x81\x42"), // 日本語の文書です。
                   crlf(), bytes("Line three"), crlf(), endOfText()});
}

PropertyFields sampleFields() {
    PropertyFields fields;
    fields.title = "\x83\x54\x83\x93\x83\x76\x83\x8B\x95\xB6\x8F\x91"; // サンプル文書
    fields.author = "\x8E\x52\x93\x63\x91\xBE\x98\x59";                 // 山田太郎
    fields.keywords[0] = "OASYS";
    fields.keywords[1] = "\x8C\xA9\x96\x7B";                            // 見本
    fields.category = "\x8C\xA9\x96\x7B";                               // 見本
    fields.comments = "\x8C\xA9\x96\x7B\x82\xCC\x95\xB6\x8F\x91";       // 見本の文書
    fields.created = {0x98, 0x12, 0x31, 0x23, 0x59};
    fields.modified = {0x05, 0x04, 0x01, 0x09, 0x30};
    fields.lastAuthor = "\x97\xE9\x96\xD8";                             // 鈴木
    return fields;
}

// A compound document carries its properties in the summary information.
SummaryFields sampleSummary() {
    SummaryFields summary;
    summary.title = "サンプル文書";
    summary.author = "山田太郎";
    summary.keywords = "OASYS;見本";
    summary.comments = "見本の文書";
    summary.lastAuthor = "鈴木";
    summary.created = 915148740;   // 1998-12-31T23:59:00Z
    summary.lastSaved = 1112347800; // 2005-04-01T09:30:00Z
    return summary;
}

} // namespace

const std::vector<SampleFile>& sampleFiles() {
    static const std::vector<SampleFile> files = {
        {"sample_separated.DOC", "separated"},
        {"sample_combined.oas", "combined"},
        {"sample_compound.oas", "compound"},
    };
    return files;
}

void writeSamples(const std::filesystem::path& directory) {
    const Bytes format = makePropertyBlock(sampleFields());
    writeSeparated(directory / "sample_separated", sampleBody(), format);
    // Block headers fall inside the Japanese line, one of them between the halves of a character.
    writeFile(directory / "sample_combined.oas", makeCombinedDocument(format, sampleBody(), {5, 19, 23}, "SAMPLE"));
    writeCompoundDocument(directory / "sample_compound.oas", format, sampleBody(), sampleSummary());
}

} // namespace oasys_examples
