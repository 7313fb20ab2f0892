// Test document writer: builds OASYS bodies, format blocks and whole documents in the three
// packagings (separated .DOC/.FMT, combined file, OLE compound file), with block headers at
// chosen offsets, so that every test document can be made again from its description.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace oasys_test {

using Bytes = std::vector<uint8_t>;

// Bytes from a literal that may hold NULs and bytes above 0x7F: bytes("A\x82\xA0").
Bytes bytes(std::string_view text);
// A string literal is taken whole, embedded NULs included (its terminating NUL excluded).
template <size_t N>
Bytes bytes(const char (&literal)[N]) {
    return bytes(std::string_view(literal, N - 1));
}
Bytes concat(std::initializer_list<Bytes> parts);

// Body text is the logical OASYS text (characters, control codes, CR LF, ending with 0x1A).
// A block run is that text cut into blocks: a block header F0 04 NN NN (big-endian data length)
// stands before the text offset of every cut. Cuts may fall anywhere, also inside a double-byte
// character, between CR and LF or inside control-code parameters.
struct BlockRun {
    Bytes bytes; uint16_t firstBlockLength; // the laid-out run; data length of the first block
};
// withLeadingHeader: the first block has its own header too (combined documents); the separated
// and compound bodies start with text. cuts are text offsets in non-decreasing order, each at most
// the text size; a repeated cut (or a cut at 0 or at the end) makes an empty block. Every block
// holds at most 65535 bytes. Bad cuts throw std::invalid_argument.
BlockRun layBlocks(const Bytes& text, const std::vector<size_t>& cuts, bool withLeadingHeader = false);
// A block header for N data bytes.
Bytes blockHeader(uint16_t dataLength);

Bytes crlf();                              // 0D 0A
Bytes endOfText();                         // 1A
Bytes ecs4Unicode(uint16_t unit);          // EF CC "07" CA and four hex digits (the substitute is separate)
Bytes skippedRecord(const Bytes& content); // EF CD, two hex length digits, content

// Texts are raw Shift-JIS bytes; each is cut to its field size. Offsets are those of the format
// block: skip byte 10, title 11 (50), created 216 (5), modified 221 (5), flags word 564,
// marker 1280, author 1286 (30), comments 1316 (80), category 1398 (16), keywords 1414 (10x20),
// last author 1638 (30).
// flagWord 0x0008: password-protected; dates packed decimal YY MM DD hh mm; size: bytes of the
// block (smaller values cut it short).
struct PropertyFields {
    uint16_t flagWord = 0; uint8_t skipByte = 0; std::string title, author, comments, category, lastAuthor;
    std::array<std::string, 10> keywords{}; std::array<uint8_t, 5> created{}, modified{};
    uint8_t blockMarker = 2; size_t size = 1700;
};
Bytes makePropertyBlock(const PropertyFields& fields);
// Raw field placement (exact bytes, no cutting): for tests of fields without NUL.
void putField(Bytes& block, size_t offset, std::string_view raw);

struct SeparatedPaths {
    std::filesystem::path doc, fmt, grp;
};
// Writes base + ".DOC"/".FMT" (lowerCase: ".doc"/".fmt") and, with withGroup, ".GRP"/".grp".
SeparatedPaths writeSeparated(const std::filesystem::path& base, const Bytes& body, const Bytes& format,
                              bool lowerCase = false, bool withGroup = false);

// name: 8.3 name, e.g. "REPORT.FMT", written NUL-padded to 13 bytes (rawName: exact 13 bytes
// instead); entryOffset: where the entry tag F4 FD stands in the directory of directoryLength
// bytes (at least entryOffset + 21 with the tag); blocks: the block list content (see layBlocks);
// endOfBlockList, endOfPart: the F0 00 00 00 after the blocks and closing the part.
struct CombinedPart {
    std::string name; std::optional<Bytes> rawName; size_t entryOffset = 0; bool withEntryTag = true;
    size_t directoryLength = 32; Bytes blocks; bool endOfBlockList = true, endOfPart = true;
};
// F1 10 80 00, the parts, and (withDocumentEnd) the final F0 00 00 00.
Bytes makeCombined(const std::vector<CombinedPart>& parts, bool withDocumentEnd = true);
// A usual combined document: format part "<base>.FMT" with the format block as one block, then
// body part "<base>.DOC" with the body as a block run (cuts as in layBlocks).
Bytes makeCombinedDocument(const Bytes& format, const Bytes& bodyText, const std::vector<size_t>& cuts = {},
                           const std::string& base = "REPORT");

// typeField: the type text as written ("1", "2", "2  ", "01"); lastWithoutCR (last entry only):
// the type field ends at the end of the stream.
struct StreamListEntry {
    std::string name, typeField, firstLine = "OASYS"; bool lastWithoutCR = false;
};
// The "OasysStreamFileList" content: byte 0, 23 header bytes, 9 bytes, the count text and CR,
// 3 bytes, then each entry (3 lead bytes, 13 bytes, first line CR, 12 bytes, name CR, 10 bytes,
// type CR, 3 bytes).
Bytes makeStreamList(const std::vector<StreamListEntry>& entries, const std::string& countText = "");
struct SummaryFields {
    std::optional<std::string> title, subject, author, keywords, comments, lastAuthor; // UTF-8
    std::optional<int64_t> created, lastSaved; // Unix seconds
};
struct CompoundStream {
    std::string name; Bytes data;
};
// Writes an OLE compound file with these top-level streams (libgsf's writer) and, when given,
// a "\005SummaryInformation" stream.
void writeCompound(const std::filesystem::path& path, const std::vector<CompoundStream>& streams,
                   const std::optional<SummaryFields>& summary = std::nullopt);
// A usual compound document: list (format stream "DOC1.FMT" type 2, body stream "DOC1.DOC" type 1),
// format stream, body stream.
void writeCompoundDocument(const std::filesystem::path& path, const Bytes& format, const Bytes& bodyText,
                           const std::optional<SummaryFields>& summary = std::nullopt);

void writeFile(const std::filesystem::path& path, const Bytes& content);
Bytes readFile(const std::filesystem::path& path);
// A fresh empty directory under the system temp dir, removed by the destructor.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
private:
    std::filesystem::path path_;
};

} // namespace oasys_test
