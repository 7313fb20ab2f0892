// Test document writer: builds OASYS bodies, format blocks and whole documents in the three
// packagings (separated .DOC/.FMT, combined file, OLE compound file), with block headers at
// chosen offsets, so that every test document can be made again from its description.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace oasys_test {

using Bytes = std::vector<uint8_t>;

// Bytes of a text; a string literal is taken whole, embedded NULs included (its terminating NUL excluded).
Bytes bytes(std::string_view text);
template <size_t N>
Bytes bytes(const char (&literal)[N]) {
    return bytes(std::string_view(literal, N - 1));
}
Bytes concat(std::initializer_list<Bytes> parts);

// A block run is body text (characters, control codes, CR LF, ending with 0x1A) cut into blocks: a
// header F0 04 NN NN (big-endian data length) stands at every cut, which may fall anywhere (inside a
// character, between CR and LF). Cuts are non-decreasing text offsets (a repeated one makes an empty
// block); withLeadingHeader gives the first block a header too, as in combined documents.
struct BlockRun {
    Bytes bytes; uint16_t firstBlockLength;
};
BlockRun layBlocks(const Bytes& text, const std::vector<size_t>& cuts, bool withLeadingHeader = false);
Bytes blockHeader(uint16_t dataLength);

Bytes crlf();                              // 0D 0A
Bytes endOfText();                         // 1A
Bytes ecs4Unicode(uint16_t unit);          // EF CC "07" CA and four hex digits (the substitute is separate)
Bytes skippedRecord(const Bytes& content); // EF CD, two hex length digits, content

// Texts are raw Shift-JIS bytes, each cut to its field; dates packed decimal YY MM DD hh mm;
// flagWord 0x0008: password-protected; a size below 1700 cuts the block short.
struct PropertyFields {
    uint16_t flagWord = 0; uint8_t skipByte = 0; std::string title, author, comments, category, lastAuthor;
    std::array<std::string, 10> keywords{}; std::array<uint8_t, 5> created{}, modified{};
    uint8_t blockMarker = 2; size_t size = 1700;
};
Bytes makePropertyBlock(const PropertyFields& fields);
// Raw bytes at an offset of the block (no cutting), for fields without NUL.
void putField(Bytes& block, size_t offset, std::string_view raw);

struct SeparatedPaths {
    std::filesystem::path doc, fmt;
};
// Writes base + ".DOC" and base + ".FMT".
SeparatedPaths writeSeparated(const std::filesystem::path& base, const Bytes& body, const Bytes& format);

// name: NUL-padded to 13 bytes (rawName: exactly 13 bytes); entryOffset: where the entry tag F4 FD
// stands in the directory; blocks: the block list (see layBlocks), then the optional ends.
struct CombinedPart {
    std::string name; std::optional<Bytes> rawName; size_t entryOffset = 0; bool withEntryTag = true;
    size_t directoryLength = 32; Bytes blocks; bool endOfBlockList = true, endOfPart = true;
};
// F1 10 80 00, the parts, and (withDocumentEnd) the final F0 00 00 00.
Bytes makeCombined(const std::vector<CombinedPart>& parts, bool withDocumentEnd = true);
// Format part "<base>.FMT" holding the format block as one block, body part "<base>.DOC".
Bytes makeCombinedDocument(const Bytes& format, const Bytes& bodyText, const std::vector<size_t>& cuts = {},
                           const std::string& base = "REPORT");

// typeField as written ("1", "2  ", "01"); lastWithoutCR: the last type field ends the stream.
struct StreamListEntry {
    std::string name, typeField, firstLine = "OASYS"; bool lastWithoutCR = false;
};
// The "OasysStreamFileList" content; countText replaces the real count.
Bytes makeStreamList(const std::vector<StreamListEntry>& entries, const std::string& countText = "");
struct SummaryFields {
    std::optional<std::string> title, subject, author, keywords, comments, lastAuthor; // UTF-8
    std::optional<int64_t> created, lastSaved; // Unix seconds
};
struct CompoundStream {
    std::string name; Bytes data;
};
// An OLE compound file of these top-level streams and, when given, a "\005SummaryInformation".
void writeCompound(const std::filesystem::path& path, const std::vector<CompoundStream>& streams,
                   const std::optional<SummaryFields>& summary = std::nullopt);
// List, format stream "DOC1.FMT" (type 2), body stream "DOC1.DOC" (type 1).
void writeCompoundDocument(const std::filesystem::path& path, const Bytes& format, const Bytes& bodyText,
                           const std::optional<SummaryFields>& summary = std::nullopt);

// Property set streams made by hand. A property's value is its type word and payload; strings count
// their terminator (LPWSTR in characters), a FILETIME is in 100 ns units since 1601.
struct Property {
    uint32_t pid; Bytes value;
};
Bytes typed(uint32_t type, const Bytes& payload);
Bytes codepage(uint16_t cp);
Bytes lpstr(const std::string& text);
Bytes lpwstr(const std::u16string& text);
Bytes filetime(std::chrono::sys_seconds when);
// One set of these properties: SummaryInformation (F29F85E0-4FF9-1068-AB91-08002B27B3D9),
// DocumentSummaryInformation (D5CDD502-2E9C-101B-9397-08002B2CF9AE) or, summaryFmtid false, another.
struct SetLayout {
    uint16_t byteOrder = 0xFFFE; uint32_t setCount = 1; bool summaryFmtid = true, documentSummary = false;
    std::optional<uint32_t> setOffset, propertyCount, lastValueOffset; // default: where they belong
};
Bytes propertySetStream(const std::vector<Property>& properties, const SetLayout& layout = {});

void writeFile(const std::filesystem::path& path, const Bytes& content);
Bytes readFile(const std::filesystem::path& path);
std::string readText(const std::filesystem::path& path);
// A fresh empty directory, removed with its content by the destructor.
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
