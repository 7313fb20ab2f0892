// What the container readers share: the identifiers that frame a combined document, the reading
// of its big-endian length words, and the loop guards of every long walk over a document.
//
// A combined document, its parts and its blocks are framed by fixed big-endian values:
//
//   F1 10 80 00                                    document begin
//   per part:  F7 7E 80 00                         part begin
//              F1 11 LL LL <L directory bytes>     part directory (holds the F4 FD name entry)
//              F1 04 80 00                         block list begin
//              { F0 04 NN NN <N data bytes> }      blocks
//              F0 00 00 00                         end of the block list
//              F0 00 00 00                         end of the part
//   F0 00 00 00                                    document end
//
// With option bit 0x20000 the host asks that every long walk over a document be bounded: each
// pass of a guarded loop counts on one of the loop counters of the call's context, and the walk
// stops with 3006 once a count passes 524288. Without the bit nothing is counted.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "krm_host.h"
#include "krm_types.h"
#include "krm_zori2.h"

namespace krm_containers {

// ---- Identifiers of a combined document ---------------------------------------------------------
inline constexpr uint32_t OAS_DOC_BEGIN = 0xF1108000;
inline constexpr uint32_t OAS_PART_BEGIN = 0xF77E8000;
inline constexpr uint32_t OAS_DIR_TAG = 0xF111;
inline constexpr uint32_t OAS_ENTRY_TAG = 0xF4FD;
inline constexpr uint32_t OAS_BLOCKS_BEGIN = 0xF1048000;
inline constexpr uint32_t OAS_BLOCK_TAG = 0xF004;
inline constexpr uint32_t OAS_END = 0xF0000000;

inline constexpr int32_t kWordWidth = 2;   // tags and length words
inline constexpr int32_t kDWordWidth = 4;  // begin and end marks
inline constexpr uint32_t kLengthWordSize = 2;
inline constexpr uint32_t kBlockHeaderSize = kWordWidth + kLengthWordSize; // F0 04, then the data length

// The name entry of a part directory: the tag, six bytes we do not interpret, then an 8.3 name
// in 13 bytes that normally ends with a NUL.
inline constexpr uint32_t kEntryNameGap = 6; // from just past the tag to the name
inline constexpr size_t kPartNameSize = 13;

// Every reader addresses a plain file or a compound-file stream through one access mode, and
// positions it from the start or from the end.
inline constexpr uint32_t kPlainFileAccess = 0;
inline constexpr uint32_t kStreamAccess = 1;
inline constexpr uint16_t kSeekFromStart = 0;
inline constexpr uint16_t kSeekFromEnd = 2;

// The big-endian 16-bit word at offset of a plain file; false (word untouched) when the file ends
// before its second byte.
inline bool readWordAt(uint32_t file, uint32_t offset, uint32_t hostOrderFlag, uint16_t& word) {
    std::array<uint8_t, kLengthWordSize> buffer{};
    KRM_FileSeek(file, offset, kSeekFromStart);
    if (KRM_FileRead(buffer.data(), kLengthWordSize, 1, file) != 1) return false;
    word = PPT_GetWordB(buffer.data(), static_cast<int32_t>(hostOrderFlag));
    return true;
}

// ---- Loop guards --------------------------------------------------------------------------------
inline bool loopGuardsOn(const HostOptions& options) { return (options.optionFlags & KRM_OPT_LOOP_GUARD) != 0; }

inline void resetLoopCounter(const HostOptions& options, int32_t& counter) {
    if (loopGuardsOn(options)) counter = 0;
}

// One pass of a guarded loop; true when the counter passed the limit and the walk must stop.
inline bool loopGuardTripped(const HostOptions& options, int32_t& counter) {
    if (!loopGuardsOn(options)) return false;
    counter = static_cast<int32_t>(static_cast<uint32_t>(counter) + 1);
    return static_cast<uint32_t>(counter) > KRM_LOOP_GUARD_LIMIT;
}

}  // namespace krm_containers
