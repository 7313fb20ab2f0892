// The format block (PropertyBlock) that starts the format part of every OASYS document: where its
// fields lie. The container readers test its password flag; the property decoder reads the rest.
// Offsets are from the start of the block; multi-byte values are big-endian; a text field holds
// Shift-JIS up to its first NUL, or fills the field.
#pragma once

#include <cstdint>

namespace krm_format_block {

// A .FMT file and a compound document's format stream start with the block; in a combined
// document it is the first block of the format part.
inline constexpr uint32_t kStartOfFormatFile = 0;

struct Field {
    uint32_t offset;
    uint32_t size;
};

inline constexpr uint32_t kSkipTitleOffset = 10; // one byte; non-zero: the title is not taken
inline constexpr Field kTitle{11, 50};
inline constexpr Field kCreated{216, 5};         // packed date-time: year of century, month, day,
inline constexpr Field kModified{221, 5};        // hour, minute; two decimal digits per byte
inline constexpr uint32_t kPasswordFlagOffset = 564; // 16-bit flag word
inline constexpr uint16_t kPasswordFlagBit = 0x0008;
inline constexpr uint32_t kMarkerOffset = 1280;  // one byte; only a block marked 2 has the fields below
inline constexpr uint8_t kMarkerWithProperties = 2;
inline constexpr Field kAuthor{1286, 30};
inline constexpr Field kComments{1316, 80};
inline constexpr Field kCategory{1398, 16};
inline constexpr uint32_t kKeywordCount = 10;    // entries of a list, each a text field of its own
inline constexpr uint32_t kKeywordSize = 20;
inline constexpr Field kKeywords{1414, kKeywordCount * kKeywordSize};
inline constexpr Field kLastAuthor{1638, 30};

static_assert(kCreated.size == kModified.size);

} // namespace krm_format_block
