// Documents, option records and log checks shared by the tests of the two text entry points.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "oasys_writer.h"
#include "test_util.h"

namespace entry_test {

using namespace oasys_test;
namespace fs = std::filesystem;

inline constexpr uint16_t kSeparated = KRM_FORMAT_SEPARATED;
inline constexpr uint16_t kCombined = KRM_FORMAT_COMBINED;
inline constexpr uint16_t kCompound = KRM_FORMAT_COMPOUND;
inline constexpr uint16_t kUnknownFormat = 4711;
inline constexpr uint16_t kPasswordFlag = 0x0008;

// One line of visible text, then the end byte.
inline Bytes visibleBody() { return bytes("ABC\r\n\x1A"); }
inline const std::string kVisibleText = "ABC\r\n";
// Two lines, for the output limit.
inline Bytes longBody() { return bytes("ABCDEFGH\r\nIJKLMNOP\r\n\x1A"); }
// The end byte at once: no visible character.
inline Bytes noTextBody() { return bytes("\x1A"); }
// Text without an end byte: the decoder consumes the body and fails.
inline Bytes unendedBody() { return bytes("ABC\r\nDEF"); }

inline Bytes formatBlock(uint16_t flagWord = 0) {
    PropertyFields fields;
    fields.flagWord = flagWord;
    return makePropertyBlock(fields);
}

// A separated document a.DOC/a.FMT in dir, named by its .FMT file.
inline fs::path separatedDocument(const fs::path& dir, const Bytes& body, uint16_t flagWord = 0) {
    writeSeparated(dir / "a", body, formatBlock(flagWord));
    return dir / "a.FMT";
}
inline fs::path visibleSeparated(const fs::path& dir) { return separatedDocument(dir, visibleBody()); }

// A host service that is to fail at its n-th call.
struct FailSwitch {
    KrmService service;
    uint32_t n;
};

// The host names its log after the given path with the tag "ve2".
inline fs::path logFileOf(const fs::path& path) { return path.string() + ".ve2.log"; }

inline HostOptions loggingOptions(uint32_t extraFlags = 0, uint32_t maxOutput = 0) {
    return makeOptions("UTF-8", KRM_OPT_LOG | extraFlags, maxOutput);
}

inline std::string fileLine(const char* label, const fs::path& path) { return label + path.string() + "\r\n"; }

inline bool hasLine(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

inline const std::string kStartLine1 = "Lib krm_zori2 export function: GetText():\r\n";
inline const std::string kStartLine2 = "Start operating .....\r\n";
inline const std::string kAllocLine = "Memory allocate for srcInfo: 532 bytes\r\n";
inline const std::string kFreeLine = "Memory free for srcInfo: 532 bytes\r\n";
inline const std::string kDecoderStart = "GetTextContent() starting\r\n";
inline const std::string kDecoderEnd = "GetTextContent() end\r\n";
inline const std::string kSuccessLine = "GetText() end successfully\r\n";

// The lines outside the decoder's own: everything before its starting line and from its end line
// on, with the decoder's lines replaced by the two bracket lines.
inline std::vector<std::string> withoutDecoderLines(const std::vector<std::string>& lines) {
    const auto start = std::find(lines.begin(), lines.end(), kDecoderStart);
    const auto end = std::find(lines.begin(), lines.end(), kDecoderEnd);
    if (start == lines.end() || end == lines.end() || end < start) {
        return lines;
    }
    std::vector<std::string> result(lines.begin(), start + 1);
    result.insert(result.end(), end, lines.end());
    return result;
}

// A path of at least `length` characters below dir, built from existing folders so that the host
// can still create a file there.
inline fs::path longPathBelow(const fs::path& dir, size_t length, const std::string& leaf) {
    constexpr size_t kFolderNameLength = 200;
    fs::path folder = dir;
    while (folder.string().size() + 1 + leaf.size() < length) {
        folder /= std::string(kFolderNameLength, 'd');
        fs::create_directories(folder);
    }
    return folder / leaf;
}

} // namespace entry_test
