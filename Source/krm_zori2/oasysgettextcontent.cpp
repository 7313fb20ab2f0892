// Text decoder of the OASYS body: character classes, ruled-line and arrow mapping, and the
// decoder that turns a body (cut into blocks by F0 04 headers) into lines of output text.
//
// The body is read one byte at a time through KRM_fSeek/KRM_fRead, so that the same code serves
// plain files and compound-file streams. Every line is collected as Shift-JIS bytes and converted
// to the host's output charset at its CR LF.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "container_common.h"
#include "entry_common.h"
#include "krm_host.h"
#include "krm_zori2.h"

// ---- Ruled-line and arrow tables (Shift-JIS target codes, one per source code) -----------------
// Exported through their declarations in krm_zori2.h.
extern "C" {
const uint16_t kei1_table[30] = {
    0x849F, 0x84A1, 0x84A2, 0x84A6, 0x84A7, 0x84A6, 0x84A6, 0x84A6,  // 0xEDDF-0xEDE6
    0x84A6, 0x84A6, 0x84A6, 0x84A6, 0x84A6, 0x84A7, 0x84A7, 0x84A7,  // 0xEDE7-0xEDEE
    0x84A7, 0x84A7, 0x84A7, 0x84A7, 0x84A7, 0x84A9, 0x84A9, 0x84A9,  // 0xEDEF-0xEDF6
    0x84A9, 0x84A9, 0x84A9, 0x84A6, 0x84A7, 0x84A9};                 // 0xEDF7-0xEDFC
const uint16_t kei2_table[63] = {
    0x84A1, 0x84A2, 0x84A4, 0x84A3, 0x849F, 0x84A0, 0x84A8, 0x84A5,  // 0xEE40-0xEE47
    0x84A6, 0x84A7, 0x84A9, 0x8140, 0x8140, 0x84A0, 0x849F, 0x84A0,  // 0xEE48-0xEE4F
    0x849F, 0x84A8, 0x84A8, 0x84A5, 0x84A5, 0x84A6, 0x84A6, 0x84A7,  // 0xEE50-0xEE57
    0x84A7, 0x84A9, 0x84A9, 0x84A5, 0x84A5, 0x84A8, 0x84A9, 0x84A9,  // 0xEE58-0xEE5F
    0x84A1, 0x84A2, 0x84A4, 0x84A3, 0x849F, 0x84A0, 0x84A8, 0x84A5,  // 0xEE60-0xEE67
    0x84A6, 0x84A7, 0x84A9, 0x8140, 0x8140, 0x84A0, 0x849F, 0x84A0,  // 0xEE68-0xEE6F
    0x849F, 0x84A8, 0x84A8, 0x84A5, 0x84A5, 0x84A6, 0x84A6, 0x84A7,  // 0xEE70-0xEE77
    0x84A7, 0x84A9, 0x84A9, 0x84A7, 0x84A7, 0x84A8, 0x84A9};         // 0xEE78-0xEE7E
const uint16_t kei3_table[31] = {
    0x84A9, 0x84A1, 0x84A2, 0x84A4, 0x84A3, 0x849F, 0x84A0, 0x84A8,  // 0xEE80-0xEE87
    0x84A5, 0x84A6, 0x84A7, 0x84A9, 0x8140, 0x8140, 0x84A0, 0x849F,  // 0xEE88-0xEE8F
    0x84A0, 0x849F, 0x84A8, 0x84A8, 0x84A5, 0x84A5, 0x84A6, 0x84A6,  // 0xEE90-0xEE97
    0x84A7, 0x84A7, 0x84A9, 0x84A9, 0x84A6, 0x84A6, 0x84A9};         // 0xEE98-0xEE9E
const uint16_t kei4_table[30] = {
    0x84A0, 0x84A4, 0x84A3, 0x84A8, 0x84A5, 0x84A8, 0x84A8, 0x84A8,  // 0xEEDF-0xEEE6
    0x84A8, 0x84A8, 0x84A8, 0x84A8, 0x84A8, 0x84A5, 0x84A5, 0x84A5,  // 0xEEE7-0xEEEE
    0x84A5, 0x84A5, 0x84A5, 0x84A5, 0x84A5, 0x84A9, 0x84A9, 0x84A9,  // 0xEEEF-0xEEF6
    0x84A9, 0x84A9, 0x84A9, 0x84A8, 0x84A5, 0x84A9};                 // 0xEEF7-0xEEFC
// JIS row 8: thin forms stay, thick forms fold onto the thin form of the same shape, mixed
// joints become the thin joint of their shape.
const uint16_t jis_table[32] = {
    0x849F, 0x84A0, 0x84A1, 0x84A2, 0x84A3, 0x84A4, 0x84A5, 0x84A6,  // 0x849F-0x84A6
    0x84A7, 0x84A8, 0x84A9, 0x849F, 0x84A0, 0x84A1, 0x84A2, 0x84A3,  // 0x84A7-0x84AE
    0x84A4, 0x84A5, 0x84A6, 0x84A7, 0x84A8, 0x84A9, 0x84A5, 0x84A6,  // 0x84AF-0x84B6
    0x84A7, 0x84A8, 0x84A9, 0x84A5, 0x84A6, 0x84A7, 0x84A8, 0x84A9}; // 0x84B7-0x84BE
const uint16_t arrow1_table[4] = {0x81AB, 0x81AA, 0x81A9, 0x81A8}; // 0xEC4F-0xEC52: down up left right
const uint16_t arrow2_table[4] = {0x81A8, 0x81A9, 0x81AA, 0x81AB}; // 0xEF8D-0xEF90: right left up down
}

namespace {

// ---- Bytes and codes of the OASYS body -----------------------------------------------------------
constexpr uint8_t kEndOfText = 0x1A;
constexpr uint8_t kTab = 0x09;
constexpr uint8_t kCR = 0x0D;
constexpr uint8_t kLF = 0x0A;
constexpr uint8_t kSpace = 0x20;
constexpr uint8_t kUnderscore = 0x5F;  // the substitute of a Unicode record in plain text
// A block header: F0 04, then a big-endian data length.
constexpr uint8_t kHeaderMark1 = static_cast<uint8_t>(krm_containers::OAS_BLOCK_TAG >> 8);
constexpr uint8_t kHeaderMark2 = static_cast<uint8_t>(krm_containers::OAS_BLOCK_TAG & 0xFF);
constexpr uint32_t kHeaderSize = krm_containers::kBlockHeaderSize;
constexpr uint32_t kHeaderLengthOffset = krm_containers::kWordWidth; // the length word follows the marker bytes
constexpr uint8_t kEscape = 0xEF;           // lead byte of the control codes; ends object data
constexpr uint8_t kVoicedMark = 0xDE;       // half-width dakuten, followed by a filler space
constexpr uint8_t kSemiVoicedMark = 0xDF;   // half-width handakuten, likewise
constexpr uint8_t kF4Lead = 0xF4;           // user-defined lead byte that single-byte mode reuses
constexpr uint8_t kF4SingleOffset = 0x7E;   // F4 xx stands for the byte xx - 0x7E
constexpr uint8_t kF4ModeOn = '6';          // parameters of 0xEFC0
constexpr uint8_t kF4ModeOff = ';';

constexpr uint16_t kFullWidthSpace = 0x8140;
constexpr uint16_t kSubstituteMark = 0x81AC; // 〓, written for codes that cannot be decoded
constexpr uint16_t kFrameChar = 0x9867;      // 枠
constexpr uint16_t kFramePrefix = 0xFCA3;    // a space that a following 枠 replaces

// Control codes (lead 0xEF) and the header met at a character boundary.
constexpr uint16_t kLineBreakCode = 0xEFA0;
constexpr uint16_t kTableSpaceCode = 0xEFA2;
constexpr uint16_t kSpaceCode = 0xEFA9;
constexpr uint16_t kThreeParamCode1 = 0xEFAF;
constexpr uint16_t kThreeParamCode2 = 0xEFBF;
constexpr uint32_t kThreeParamLength = 3;
constexpr uint16_t kSingleByteModeCode = 0xEFC0;
constexpr uint16_t kEcs4RecordCode = 0xEFCC;
constexpr uint16_t kSkippedRecordCode = 0xEFCD;
constexpr uint16_t kBlockHeaderCode = krm_containers::OAS_BLOCK_TAG;

// Ruled-line code sets that drive table mode.
constexpr std::array<uint16_t, 4> kVerticalLines = {0xEE86, 0x84AB, 0x84A0, 0xEEC4};
constexpr std::array<uint16_t, 6> kTopLeftCorners = {0xEE81, 0xEE60, 0xEE40, 0xEDE0, 0x84A1, 0x84AC};
constexpr std::array<uint16_t, 6> kBottomRightCorners = {0xEEE1, 0xEE84, 0xEE63, 0xEE43, 0x84A3, 0x84AE};

// Embedded records: two hex length digits, then the content.
constexpr uint32_t kRecordDigits = 2;
constexpr uint32_t kRecordCapacity = 255;                      // largest length two digits can give
constexpr uint32_t kContentCapacity = kRecordCapacity - kRecordDigits;
constexpr uint8_t kUnicodeRecordTag = 0xCA;
constexpr uint32_t kUnicodeDigits = 4;        // hex digits of the UCS-2 unit, high byte first
constexpr uint32_t kUnicodeContentLength = 1 + kUnicodeDigits; // CA, then the digits
constexpr uint8_t kObjectRecordTag = 'B';
constexpr uint8_t kObjectRecordMark = '!';
constexpr uint32_t kObjectTypeOffset = 8;
constexpr uint32_t kObjectCountDigits = 4;     // apostrophe objects end with a 4-digit byte count
constexpr uint32_t kDollarObjectPrefix = 8;    // bytes of a '$' object before its scanned data
constexpr uint8_t kObjectScanned = '!';
constexpr uint8_t kObjectScannedAfterText = '#';
constexpr uint8_t kObjectScannedAfterPrefix = '$';
constexpr uint8_t kObjectCounted = 0x27;
constexpr uint8_t kHashFirstPassedBelow = 0x20; // '#': a first byte below this is passed over
constexpr uint8_t kHashFirstTextEnd = 0xE0;     // '#': a first byte 0x20-0xE0 is text, nothing skipped

// Working storage sizes.
constexpr uint32_t kLineCapacity = 4096;
constexpr uint32_t kLineLimit = 1024;
constexpr uint32_t kConvertedCapacity = KRM_CONV_DEST_CAPACITY;
constexpr uint32_t kNoNextHeader = 0xFFFFFFFFu;

// Log texts.
constexpr const char* kLogWhileStart = "LOOP(while) %i in GetTextContent starting\r\n";
constexpr const char* kLogWhileEnd = "LOOP(while) %i in GetTextContent end\r\n";
constexpr const char* kLogForStart = "LOOP(for) %i in GetTextContent starting\r\n";
constexpr const char* kLogHeaderRead = "Fileread 0xF004\r\n";
constexpr const char* kLogEcs4Start = "Deal with ECS4 starting\r\n";
constexpr const char* kLogEcs4End = "Deal with ECS4 end\r\n";
constexpr const char* kLogUnicodeRead = "Fileread Unicode\r\n";
constexpr const char* kLogCutStart = "CutStr() starting\r\n";
constexpr const char* kLogCutEnd = "CutStr() end\r\n";
constexpr const char* kLogWritten = "Filewrite %ibytes\r\n";
// Loop numbers in the log lines.
constexpr int32_t kLoopMain = 1;
constexpr int32_t kLoopCounted = 2;
constexpr int32_t kLoopScanned = 3;
constexpr int32_t kLoopScannedAfterPrefix = 4;
constexpr int32_t kLoopSplitContent = 5;
constexpr int32_t kLoopSplitAfterPrefix = 6;
constexpr int32_t kLoopSkippedRecord = 7;

constexpr uint8_t highByte(uint16_t code) { return static_cast<uint8_t>(code >> 8); }
constexpr uint8_t lowByte(uint16_t code) { return static_cast<uint8_t>(code & 0xFF); }
constexpr bool inRange(unsigned value, unsigned low, unsigned high) { return value >= low && value <= high; }
template <size_t N>
constexpr bool isOneOf(uint16_t code, const std::array<uint16_t, N>& set) {
    for (uint16_t member : set)
        if (member == code) return true;
    return false;
}

// OASYS hex digits: byte - '0', and 7 less above 9 ('A'-'F' give 10-15). Other bytes give other
// values; callers bound what those can do.
constexpr uint32_t hexDigitValue(uint8_t digit) {
    uint8_t value = static_cast<uint8_t>(digit - '0');
    if (value > 9) value = static_cast<uint8_t>(value - 7);
    return value;
}
constexpr uint32_t hexPairValue(uint8_t high, uint8_t low) { return hexDigitValue(high) * 16 + hexDigitValue(low); }
// The byte count that ends an apostrophe object: four hex digits, kept to 16 bits.
constexpr uint32_t objectByteCount(const std::array<uint8_t, kObjectCountDigits>& digits) {
    return (hexPairValue(digits[0], digits[1]) * 256 + hexPairValue(digits[2], digits[3])) & 0xFFFF;
}

// ---- Source access --------------------------------------------------------------------------------
// A byte at an offset of the source. The byte stays 0 when the read comes up short (end of the
// source), so that nothing downstream sees an undefined value.
uint8_t readByteAt(uint32_t source, uint32_t offset, uint32_t accessMode) {
    uint8_t byte = 0;
    KRM_fSeek(source, offset, krm_containers::kSeekFromStart, accessMode);
    KRM_fRead(&byte, 1, 1, source, accessMode);
    return byte;
}

uint16_t readWordAt(uint32_t source, uint32_t offset, uint32_t accessMode, int32_t hostOrder) {
    std::array<uint8_t, 2> word{};
    KRM_fSeek(source, offset, krm_containers::kSeekFromStart, accessMode);
    KRM_fRead(word.data(), 2, 1, source, accessMode);
    return PPT_GetWordB(word.data(), hostOrder);
}

// ---- Character classification -------------------------------------------------------------------
// Class of a two-byte code (lead, trail); CR pairs included.
int32_t classifyPair(uint8_t lead, uint8_t trail) {
    const bool validTrail = inRange(trail, 0x40, 0xFC);
    if (lead == kCR) return trail == kLF ? CODE_CRLF : CODE_INVALID;
    if (lead == kHeaderMark1 && trail == kHeaderMark2) return CODE_CONTROL; // header at a character start
    if (lead == 0xFC) {
        if (inRange(trail, 0x40, 0x4B)) return CODE_IBM_EXT;
        if (inRange(trail, 0x9F, 0xA6)) return CODE_FC_SPECIAL;
        if (inRange(trail, 0xA8, 0xC8)) return CODE_OASYS_EXT;
        return CODE_INVALID;
    }
    if (!validTrail) return CODE_INVALID;
    if (lead == 0x84 && inRange(trail, 0x9F, 0xBE)) return CODE_RULED_LINE;
    if (lead == 0x98 && trail == 0x67) return CODE_FRAME;
    if (inRange(lead, 0x81, 0xA0) || inRange(lead, 0xE0, 0xEA)) return CODE_DOUBLE;
    switch (lead) {
    case 0xEB: return CODE_USER_DEFINED;
    case 0xEC: return inRange(trail, 0x4F, 0x52) ? CODE_ARROW : CODE_OASYS_EXT;
    case 0xED: return trail >= 0xDF ? CODE_RULED_LINE : CODE_OASYS_EXT;
    case 0xEE: return (trail <= 0x9E || trail >= 0xDF) ? CODE_RULED_LINE : CODE_OASYS_EXT;
    case 0xEF:
        if (inRange(trail, 0x8D, 0x90)) return CODE_ARROW;
        if (inRange(trail, 0x95, 0x96) || trail >= 0x9F) return CODE_CONTROL;
        return CODE_OASYS_EXT;
    case 0xFA:
    case 0xFB: return CODE_IBM_EXT;
    default: return inRange(lead, 0xF0, 0xF9) ? CODE_USER_DEFINED : CODE_INVALID;
    }
}

// Appends the target of the first range that holds the code; nothing when none does.
struct CodeRange {
    uint16_t low;
    uint16_t high;
    const uint16_t* targets;
};
constexpr std::array<CodeRange, 5> kRuledLineRanges = {{{0xEDDF, 0xEDFC, kei1_table},
                                                        {0xEE40, 0xEE7E, kei2_table},
                                                        {0xEE80, 0xEE9E, kei3_table},
                                                        {0xEEDF, 0xEEFC, kei4_table},
                                                        {0x849F, 0x84BE, jis_table}}};
constexpr std::array<CodeRange, 2> kArrowRanges = {{{0xEC4F, 0xEC52, arrow1_table}, {0xEF8D, 0xEF90, arrow2_table}}};

void appendMapped(std::span<const CodeRange> ranges, const uint8_t* characterBuffer, uint8_t* output,
                  uint32_t* outputLength, uint32_t hostOrderFlag) {
    if (characterBuffer == nullptr || output == nullptr || outputLength == nullptr) return;
    const uint16_t code = PPT_GetWordB(characterBuffer, static_cast<int32_t>(hostOrderFlag));
    for (const CodeRange& range : ranges) {
        if (!inRange(code, range.low, range.high)) continue;
        const uint16_t target = range.targets[code - range.low];
        output[*outputLength] = highByte(target);
        output[*outputLength + 1] = lowByte(target);
        *outputLength += 2;
        return;
    }
}

// A lead byte or CR as the very last byte of the source has no second byte: the short read leaves
// 0x00 there, which no row accepts, so the character is CODE_INVALID (the decoder then stops at
// its body size). The position still moves past the byte that was asked for.
// The decoder calls this once per character: inline here, behind the exported GetCodeType.
inline int32_t codeTypeAt(uint32_t source, uint8_t* characterBuffer, uint32_t* position, uint32_t accessMode) {
    if (characterBuffer == nullptr || position == nullptr) return CODE_INVALID;
    const uint8_t first = characterBuffer[0];
    if (first == kEndOfText) return CODE_EOF;
    if (first < 0x20) {
        if (first == kTab) return CODE_SINGLE;
        if (first != kCR) return CODE_INVALID;
    } else if (first <= 0x7E || inRange(first, 0xA1, 0xDF)) {
        return CODE_SINGLE;
    } else if (first == 0x7F || first == 0x80 || first >= 0xFD) {
        return CODE_INVALID;
    }
    const uint8_t second = readByteAt(source, *position, accessMode);
    // Both bytes in one store: the decoder reads the pair back as one 16-bit code, and a load
    // that spans two separate one-byte stores waits for both to reach the cache.
    const std::array<uint8_t, 2> pair = {first, second};
    std::memcpy(characterBuffer, pair.data(), pair.size());
    *position += 1;
    if (second == kHeaderMark1 && readByteAt(source, *position, accessMode) == kHeaderMark2) {
        *position += 1; // both marker bytes consumed; the decoder reads the length word next
        return CODE_BLOCK_BREAK;
    }
    return classifyPair(first, second);
}

} // namespace

extern "C" {

KRM_EXPORT int32_t GetCodeType(uint32_t source, uint8_t* characterBuffer, uint32_t* position, uint32_t accessMode) {
    return codeTypeAt(source, characterBuffer, position, accessMode);
}

KRM_EXPORT void KeitoJis(const uint8_t* characterBuffer, uint8_t* output, uint32_t* outputLength,
                         uint32_t hostOrderFlag) {
    appendMapped(kRuledLineRanges, characterBuffer, output, outputLength, hostOrderFlag);
}

KRM_EXPORT void ArtoJisAr(const uint8_t* characterBuffer, uint8_t* output, uint32_t* outputLength,
                          uint32_t hostOrderFlag) {
    appendMapped(kArrowRanges, characterBuffer, output, outputLength, hostOrderFlag);
}

} // extern "C"

namespace {

// ---- The decoder -----------------------------------------------------------------------------------

// Marks where the characters of a line begin, one bit per byte of the line. A bit at or past the
// line's length is always clear, so a line end clears only the words the line used.
class CharStarts {
public:
    bool test(uint32_t offset) const { return (words_[offset / kBits] >> (offset % kBits) & 1) != 0; }
    void set(uint32_t offset) { words_[offset / kBits] |= bit(offset); }
    void reset(uint32_t offset) { words_[offset / kBits] &= ~bit(offset); }
    void clearUsed(uint32_t length) { std::memset(words_.data(), 0, (length + kBits - 1) / kBits * sizeof(uint64_t)); }

private:
    static constexpr uint32_t kBits = 64;
    static constexpr uint64_t bit(uint32_t offset) { return uint64_t{1} << (offset % kBits); }
    std::array<uint64_t, kLineCapacity / kBits> words_{};
};
static_assert(kLineCapacity % 64 == 0);

// Shift-JIS bytes of the current line, with the offsets where characters begin, so that taking a
// character off never leaves half of a double-byte character behind. Every index is below length
// or checked by hasRoom.
struct LineBuffer {
    std::array<uint8_t, kLineCapacity> bytes{};
    CharStarts charStarts;
    uint32_t length = 0;

    bool hasRoom(uint32_t count) const { return length + count <= kLineCapacity; }
    void appendChar(std::span<const uint8_t> character) {
        if (!hasRoom(static_cast<uint32_t>(character.size()))) return; // the 1024 limit keeps us far below
        charStarts.set(length);
        for (uint8_t byte : character) bytes[length++] = byte;
    }
    void appendByte(uint8_t byte) { appendChar(std::array<uint8_t, 1>{byte}); }
    void appendCode(uint16_t code) { appendChar(std::array<uint8_t, 2>{highByte(code), lowByte(code)}); }
    void appendLineBreak() {
        appendByte(kCR);
        appendByte(kLF);
    }
    // Marks what an exported mapper appended at oldLength as one character.
    void noteAppendedFrom(uint32_t oldLength) {
        if (length > oldLength) charStarts.set(oldLength);
    }
    uint32_t lastCharStart() const {
        uint32_t start = length;
        while (start > 0 && !charStarts.test(--start)) {}
        return start;
    }
    bool lastCharIs(std::span<const uint8_t> character) const {
        const uint32_t start = lastCharStart();
        return length > 0 && length - start == character.size() &&
               std::memcmp(bytes.data() + start, character.data(), character.size()) == 0;
    }
    void cutTo(uint32_t newLength) {
        for (uint32_t i = newLength; i < length; ++i) {
            bytes[i] = 0;
            charStarts.reset(i);
        }
        length = newLength;
    }
    // Bytes and marks past length are always zero, so only the used part needs clearing: a line
    // is short and this runs once per line.
    void clear() {
        std::memset(bytes.data(), 0, length);
        charStarts.clearUsed(length);
        length = 0;
    }
};

// What the body codes carry from one character to the next, and what a table-mode restart puts
// back when it decodes a line again from its start.
struct CarriedState {
    int32_t padCounter = 0;    // filler spaces still owed after half-width voiced marks
    bool singleByteF4 = false; // 0xEFC0 '6': F4 xx stands for one byte
    bool framePrefix = false;  // 0xFCA3 wrote a space that a following 枠 replaces
    bool breakWritten = false; // 0xEFA0 wrote the line break already
};

// Where the current line began in the source, and what was carried into it.
struct LineStart {
    uint32_t position = 0;
    uint32_t nextHeader = kNoNextHeader;
    CarriedState carried;
};

// Table mode: a line that opens a ruled box is decoded again from its start, and the box stays
// open until a bottom-right corner has been met for every top-left one.
struct TableMode {
    bool on = false;
    bool restarted = false; // the line was decoded again: 0xEFA0 and 0xEFA2 give spaces
    int32_t topLeftCorners = 0;
    int32_t bottomRightCorners = 0;
};

// The converted text of one line (or of the text before a Unicode record). The buffer is zero
// past its length (the host writes only the bytes it reports), so clearing the used part keeps
// it all zero without 16 KB of stores per line.
struct ConvertedText {
    std::array<uint8_t, kConvertedCapacity> bytes{};
    uint32_t length = 0;
    void clear() {
        std::memset(bytes.data(), 0, length);
        length = 0;
    }
};

// Converted text of a line with Unicode records, waiting for the line end.
struct PendingOutput {
    ConvertedText text;
    bool waiting = false;       // the line end writes it before the line's own text
    bool writtenInLine = false; // part of this line already went out (very many Unicode records)
};

struct Decoder {
    Decoder(uint32_t sourceHandle, uint32_t outputHandle, uint32_t& positionRef, SrcInfo& info, HostOptions& hostOptions,
            uint32_t mode, uint32_t size, CallContext& callContext)
        : source(sourceHandle), outputFile(outputHandle), position(positionRef), srcInfo(info), options(hostOptions),
          accessMode(mode), bodySize(size), context(callContext) {}

    // Call arguments.
    uint32_t source;
    uint32_t outputFile;
    uint32_t& position;
    SrcInfo& srcInfo;
    HostOptions& options;
    uint32_t accessMode;
    uint32_t bodySize;
    CallContext& context;

    // The body: where it starts, the next block header, the character being decoded.
    int32_t hostOrder = 0;
    uint32_t startPosition = 0;
    uint32_t nextHeader = kNoNextHeader;
    std::array<uint8_t, 2> character{};
    bool ruledLineMapping = false;

    // The line and the states the body codes keep.
    LineBuffer line;
    LineStart lineStart;
    CarriedState carried;
    TableMode table;

    // Conversion and output.
    ConvertedText converted;
    PendingOutput pending;
    uint32_t firstConversion = 1;
    bool validText = false;     // some visible character was met
    uint32_t runningTotal = 0;  // bytes written under the output limit

    // ---- helpers -----------------------------------------------------------------------------
    uint32_t flag(uint32_t bit) const { return options.optionFlags & bit; }
    // The host's own CallerRecord shares one output budget over several calls.
    bool carriesTotal() const {
        return context.callerRecordSupplied != 0 && context.callerRecord != nullptr && flag(KRM_OPT_CARRY_TOTAL) != 0;
    }
    void log(const char* text, int32_t value = 0) const { krm_entry::logText(options, context, text, value); }
    uint8_t byteAt(uint32_t offset) const { return readByteAt(source, offset, accessMode); }
    uint16_t wordAt(uint32_t offset) const { return readWordAt(source, offset, accessMode, hostOrder); }
    uint16_t characterCode() const { return static_cast<uint16_t>(character[0] << 8 | character[1]); }
    bool pastBody() const { return position - startPosition >= bodySize; }
    void readNextByte() { character[0] = byteAt(position++); }
    bool isHeaderAt(uint32_t offset) const {
        return byteAt(offset) == kHeaderMark1 && byteAt(offset + 1) == kHeaderMark2;
    }
    // Reads the header at headerOffset and notes where the next one lies; returns the offset of
    // the first data byte after it. Headers inside a character and inside object data are
    // stepped over without a log line; every other header the decoder reads is logged.
    uint32_t stepOverHeader(uint32_t headerOffset) {
        nextHeader = headerOffset + kHeaderSize + wordAt(headerOffset + kHeaderLengthOffset);
        return headerOffset + kHeaderSize;
    }
    uint32_t passHeader(uint32_t headerOffset) {
        log(kLogHeaderRead);
        return stepOverHeader(headerOffset);
    }
    // One step of a guarded inner loop; 3006 once it has run too long.
    bool innerGuardTripped() { return krm_containers::loopGuardTripped(options, context.loopCounter2); }
    void resetInnerGuard() { krm_containers::resetLoopCounter(options, context.loopCounter2); }
    void setSourceCharset(std::string_view name) { krm_entry::setSourceCharset(srcInfo, name); }
    void noteLineStart() { lineStart = {position, nextHeader, carried}; }

    int32_t run(bool bodyStartsABlock);
    int32_t act(int32_t codeClass);
    int32_t finish();

    // Character actions.
    void appendSingle();
    void appendDouble();
    void appendUserDefined();
    void appendRuledLine();
    void appendArrow();
    void appendSpecialSpace();
    void appendFrame();
    void passBlockBreak();
    int32_t actOnControl();
    void restartLineInTableMode();
    void writeRuledLine();

    // Control codes.
    void appendLineBreakCode();
    void skipThreeParameters();
    void setSingleByteMode();
    void passHeaderAtCharacterStart();

    // Embedded records.
    uint32_t readRecordLength();
    int32_t skipRecord();
    int32_t dealWithEcs4();
    int32_t ecs4Unsplit(uint32_t contentLength);
    int32_t ecs4Split(uint32_t contentLength);
    bool takeOffSubstitute();
    int32_t convertUnicode(const std::array<uint8_t, kUnicodeDigits>& digits);
    int32_t skipObjectUnsplit(uint8_t type);
    int32_t skipObjectSplit(uint8_t type, const std::array<uint8_t, kObjectCountDigits>& countDigits);
    int32_t scanToEscape(bool withHeaderTest, bool withGuard);
    int32_t loggedScan(int32_t loopNumber, bool withHeaderTest, bool nothingToSkip = false);

    // Line output.
    int32_t flushLine();
    void placeLineBreak();
    void tableBookkeeping();
    int32_t convertLine();
    int32_t appendPending(const uint8_t* bytes, uint32_t count);
    int32_t outputPiece(uint8_t* bytes, uint32_t count); // the cut may rewrite the piece
    int32_t write(const uint8_t* bytes, uint32_t count);
};

// ---- main loop -------------------------------------------------------------------------------------

int32_t Decoder::run(bool bodyStartsABlock) {
    startPosition = position;
    if (carriesTotal()) runningTotal = context.callerRecord->runningOutputTotal;
    hostOrder = IsCPUBigEndian();
    ruledLineMapping = flag(KRM_OPT_RULED_LINES) != 0;

    krm_entry::copyConversionParam(srcInfo, options);
    setSourceCharset(KRM_CHARSET_OASYS_WIN);
    // The first block's length word stands just before the body; without it no header is known
    // until one is met.
    if (bodyStartsABlock) nextHeader = position + wordAt(position - kHeaderLengthOffset);
    noteLineStart();

    readNextByte();
    krm_containers::resetLoopCounter(options, context.loopCounter1);
    log(kLogWhileStart, kLoopMain);
    if (character[0] == kEndOfText) return finish();
    if (bodySize == 0) {
        log(kLogWhileEnd, kLoopMain);
        return KRM_ERR_BROKEN;
    }
    for (;;) {
        if (line.length > kLineLimit) return KRM_ERR_BROKEN; // no OASYS line is that long
        if (krm_containers::loopGuardTripped(options, context.loopCounter1)) return KRM_ERR_LOOP_GUARD;
        const int32_t codeClass = codeTypeAt(source, character.data(), &position, accessMode);
        if (codeClass == CODE_CRLF) {
            if (const int32_t rc = flushLine(); rc != KRM_OK) return rc;
            readNextByte();
        } else {
            if (const int32_t rc = act(codeClass); rc != KRM_OK) return rc;
            if (codeClass != CODE_BLOCK_BREAK) readNextByte();
        }
        if (character[0] == kEndOfText) return finish();
        if (pastBody()) {
            log(kLogWhileEnd, kLoopMain);
            return KRM_ERR_BROKEN;
        }
    }
}

int32_t Decoder::finish() {
    log(kLogWhileEnd, kLoopMain);
    if (!validText) return KRM_ERR_NO_TEXT;
    if (carriesTotal()) context.callerRecord->runningOutputTotal = runningTotal;
    return KRM_OK;
}

int32_t Decoder::act(int32_t codeClass) {
    switch (codeClass) {
    case CODE_BLOCK_BREAK: passBlockBreak(); return KRM_OK;
    case CODE_SINGLE: appendSingle(); return KRM_OK;
    case CODE_DOUBLE: appendDouble(); return KRM_OK;
    case CODE_IBM_EXT:
    case CODE_OASYS_EXT: line.appendChar(character); return KRM_OK;
    case CODE_USER_DEFINED: appendUserDefined(); return KRM_OK;
    case CODE_RULED_LINE: appendRuledLine(); return KRM_OK;
    case CODE_ARROW: appendArrow(); return KRM_OK;
    case CODE_FC_SPECIAL: appendSpecialSpace(); return KRM_OK;
    case CODE_FRAME: appendFrame(); return KRM_OK;
    case CODE_CONTROL: return actOnControl();
    default: line.appendCode(kSubstituteMark); return KRM_OK;
    }
}

// ---- character actions -------------------------------------------------------------------------

// A header inside a character: the lead byte (or CR) stays in the buffer and joins the first byte
// of the next block on the next pass.
void Decoder::passBlockBreak() {
    position = stepOverHeader(position - kHeaderLengthOffset); // GetCodeType consumed the marker bytes
}

// Each half-width voiced mark was typed with a filler space after it; the filler is dropped.
void Decoder::appendSingle() {
    const uint8_t byte = character[0];
    if (byte == kVoicedMark || byte == kSemiVoicedMark) {
        ++carried.padCounter;
    } else if (byte == kSpace && carried.padCounter > 0) {
        --carried.padCounter;
        return;
    }
    line.appendByte(byte);
}

void Decoder::appendDouble() {
    if (characterCode() != kFullWidthSpace) {
        line.appendChar(character);
        return;
    }
    if (carried.padCounter >= 2) {
        carried.padCounter -= 2; // a full-width space is the filler of two voiced marks
    } else if (carried.padCounter == 1) {
        carried.padCounter = 0; // half of it is filler, the other half stays
        line.appendByte(kSpace);
    } else {
        line.appendCode(kFullWidthSpace);
    }
}

void Decoder::appendUserDefined() {
    if (carried.singleByteF4 && character[0] == kF4Lead)
        line.appendByte(static_cast<uint8_t>(character[1] - kF4SingleOffset));
    else
        line.appendChar(character);
}

void Decoder::appendArrow() {
    if (!line.hasRoom(2)) return;
    const uint32_t oldLength = line.length;
    ArtoJisAr(character.data(), line.bytes.data(), &line.length, static_cast<uint32_t>(hostOrder));
    line.noteAppendedFrom(oldLength);
}

void Decoder::appendSpecialSpace() {
    if (characterCode() == kFramePrefix) carried.framePrefix = true;
    line.appendCode(kFullWidthSpace);
}

// 枠 after 0xFCA3 replaces the space written for 0xFCA3. Only whole characters within the last two
// bytes go; when the line holds fewer than two bytes, that space is not in it and nothing goes.
void Decoder::appendFrame() {
    if (carried.framePrefix) {
        carried.framePrefix = false;
        if (line.length >= 2) {
            const uint32_t cut = line.length - 2;
            line.cutTo(line.charStarts.test(cut) ? cut : line.lastCharStart());
        }
    }
    line.appendCode(kFrameChar);
}

void Decoder::writeRuledLine() {
    if (!ruledLineMapping) {
        line.appendCode(kFullWidthSpace);
        return;
    }
    if (!line.hasRoom(2)) return;
    const uint32_t oldLength = line.length;
    KeitoJis(character.data(), line.bytes.data(), &line.length, static_cast<uint32_t>(hostOrder));
    line.noteAppendedFrom(oldLength);
}

// A line that opens a ruled box is decoded again from its start in table mode, so that the text
// before the box gets the table-mode treatment too.
void Decoder::restartLineInTableMode() {
    table.on = true;
    table.restarted = true;
    position = lineStart.position;
    nextHeader = lineStart.nextHeader;
    carried = lineStart.carried;
    pending.text.clear();
    pending.waiting = false;
    line.clear();
    line.appendLineBreak();
}

void Decoder::appendRuledLine() {
    const uint16_t code = characterCode();
    if (isOneOf(code, kVerticalLines)) {
        carried.padCounter = 0;
        writeRuledLine();
        return;
    }
    const bool topLeft = isOneOf(code, kTopLeftCorners);
    if (!table.on && topLeft && !pending.writtenInLine) {
        restartLineInTableMode();
        return;
    }
    if (!table.on && topLeft) {
        // Part of this line has already been written: decoding it again would write it twice,
        // so table mode starts here.
        table.on = true;
        table.restarted = true;
    }
    if (table.on) {
        if (topLeft)
            ++table.topLeftCorners;
        else if (table.topLeftCorners > 0 && isOneOf(code, kBottomRightCorners))
            ++table.bottomRightCorners;
    }
    writeRuledLine();
}

// ---- control codes ------------------------------------------------------------------------------

int32_t Decoder::actOnControl() {
    switch (characterCode()) {
    case kLineBreakCode: appendLineBreakCode(); return KRM_OK;
    case kTableSpaceCode:
        if (table.on && table.restarted) line.appendCode(kFullWidthSpace);
        return KRM_OK;
    case kSpaceCode: line.appendCode(kFullWidthSpace); return KRM_OK;
    case kThreeParamCode1:
    case kThreeParamCode2: skipThreeParameters(); return KRM_OK;
    case kSingleByteModeCode: setSingleByteMode(); return KRM_OK;
    case kEcs4RecordCode: return dealWithEcs4();
    case kSkippedRecordCode: return skipRecord();
    case kBlockHeaderCode: passHeaderAtCharacterStart(); return KRM_OK;
    default: return KRM_OK;
    }
}

void Decoder::appendLineBreakCode() {
    if (table.on || table.restarted) {
        line.appendCode(kFullWidthSpace);
        return;
    }
    line.appendLineBreak();
    carried.breakWritten = true;
}

void Decoder::skipThreeParameters() {
    if (position + kThreeParamLength >= nextHeader) {
        // A header lies among the parameters or right after them: skip it with them.
        const uint32_t headerOffset = nextHeader;
        passHeader(headerOffset);
        position += kThreeParamLength + kHeaderSize;
    } else {
        position += kThreeParamLength;
    }
}

void Decoder::setSingleByteMode() {
    if (position == nextHeader) position = passHeader(position);
    const uint8_t parameter = byteAt(position++);
    if (parameter == kF4ModeOn) carried.singleByteF4 = true;
    if (parameter == kF4ModeOff) carried.singleByteF4 = false;
}

void Decoder::passHeaderAtCharacterStart() {
    // GetCodeType consumed the two marker bytes; the length word is at the position.
    position = passHeader(position - kHeaderLengthOffset);
}

// ---- embedded records ---------------------------------------------------------------------------

// The two hex length digits after 0xEFCD / 0xEFCC, with a header that may stand before or
// between them. A length below 2 is an empty record.
uint32_t Decoder::readRecordLength() {
    uint8_t high = 0;
    uint8_t low = 0;
    const uint32_t distance = nextHeader - position;
    if (distance == 1) {
        high = byteAt(position);
        position = passHeader(nextHeader);
        low = byteAt(position);
        position += 1;
    } else if (distance == 0) {
        position = passHeader(position);
        high = byteAt(position);
        low = byteAt(position + 1);
        position += 2;
    } else {
        high = byteAt(position);
        low = byteAt(position + 1);
        position += 2;
    }
    const uint32_t length = hexPairValue(high, low);
    return length < kRecordDigits ? kRecordDigits : length;
}

int32_t Decoder::skipRecord() {
    const uint32_t contentLength = readRecordLength() - kRecordDigits;
    resetInnerGuard();
    log(kLogForStart, kLoopSkippedRecord);
    for (uint32_t i = 0; i < contentLength; ++i) {
        if (innerGuardTripped()) return KRM_ERR_LOOP_GUARD;
        if (isHeaderAt(position)) position = passHeader(position); // the byte after it counts instead
        position += 1;
    }
    log(kLogForStart, kLoopSkippedRecord);
    return KRM_OK;
}

int32_t Decoder::dealWithEcs4() {
    log(kLogEcs4Start);
    const uint32_t contentLength = readRecordLength() - kRecordDigits;
    int32_t rc = KRM_OK;
    if (contentLength == 0) {
        // Nothing but its digits: what follows is body text.
    } else if (nextHeader - position < contentLength) {
        rc = ecs4Split(contentLength);
    } else {
        rc = ecs4Unsplit(contentLength);
    }
    if (rc != KRM_OK) return rc;
    log(kLogEcs4End);
    return KRM_OK;
}

// The whole content lies before the next header; it is read in place.
int32_t Decoder::ecs4Unsplit(uint32_t contentLength) {
    const uint8_t tag = byteAt(position);
    if (tag == kUnicodeRecordTag && contentLength >= kUnicodeContentLength) {
        if (!takeOffSubstitute()) return KRM_ERR_BROKEN;
        position += 1;
        log(kLogUnicodeRead);
        const std::array<uint8_t, kUnicodeDigits> digits = {byteAt(position), byteAt(position + 1),
                                                            byteAt(position + 2), byteAt(position + 3)};
        position += kUnicodeDigits;
        return convertUnicode(digits);
    }
    // An object record needs room for its type byte inside the content.
    const bool object = tag == kObjectRecordTag && contentLength > kObjectTypeOffset &&
                        byteAt(position + 1) == kObjectRecordMark;
    const uint8_t type = object ? byteAt(position + kObjectTypeOffset) : 0;
    position += contentLength;
    return object ? skipObjectUnsplit(type) : KRM_OK;
}

// A header cuts the content: the content is gathered into the record buffer without it.
int32_t Decoder::ecs4Split(uint32_t contentLength) {
    resetInnerGuard();
    log(kLogForStart, kLoopSplitContent);
    std::array<uint8_t, kRecordCapacity> record{};
    std::array<uint8_t, kObjectCountDigits> lastBytes{}; // the count digits of an apostrophe object
    for (uint32_t i = 0; i < contentLength; ++i) {
        if (innerGuardTripped()) return KRM_ERR_LOOP_GUARD;
        if (isHeaderAt(position)) position = passHeader(position);
        const uint8_t byte = byteAt(position);
        // Digits that are not hex can announce more than the buffer holds: the rest is passed.
        if (i < kContentCapacity) record[i] = byte;
        std::copy(lastBytes.begin() + 1, lastBytes.end(), lastBytes.begin());
        lastBytes.back() = byte;
        position += 1;
    }
    log(kLogForStart, kLoopSplitContent);
    const uint32_t stored = contentLength < kContentCapacity ? contentLength : kContentCapacity;
    if (record[0] == kUnicodeRecordTag && stored >= kUnicodeContentLength) {
        if (!takeOffSubstitute()) return KRM_ERR_BROKEN;
        return convertUnicode({record[1], record[2], record[3], record[4]});
    }
    if (record[0] == kObjectRecordTag && stored > kObjectTypeOffset && record[1] == kObjectRecordMark)
        return skipObjectSplit(record[kObjectTypeOffset], lastBytes);
    return KRM_OK;
}

// The Unicode character replaces the substitute that stands for it in the text: '_' or 〓, and
// only when it is the whole last character of the line.
bool Decoder::takeOffSubstitute() {
    constexpr std::array<uint8_t, 1> kUnderscoreChar = {kUnderscore};
    constexpr std::array<uint8_t, 2> kMarkChar = {highByte(kSubstituteMark), lowByte(kSubstituteMark)};
    if (!line.lastCharIs(kUnderscoreChar) && !line.lastCharIs(kMarkChar)) return false;
    line.cutTo(line.lastCharStart());
    return true;
}

int32_t Decoder::convertUnicode(const std::array<uint8_t, kUnicodeDigits>& digits) {
    // UCS-2, high byte first, as the conversion service takes it.
    const std::array<uint8_t, 2> codeUnit = {static_cast<uint8_t>(hexPairValue(digits[0], digits[1])),
                                             static_cast<uint8_t>(hexPairValue(digits[2], digits[3]))};
    if (line.length > 0) {
        // The text before the record goes first, so that the line keeps its order.
        if (const int32_t rc = convertLine(); rc != KRM_OK) return rc;
        if (const int32_t rc = appendPending(converted.bytes.data(), converted.length); rc != KRM_OK) return rc;
        firstConversion = 0;
        line.clear();
        converted.clear();
    }
    setSourceCharset(KRM_CHARSET_UCS2);
    const uint32_t ok = CodeConvert(&srcInfo, &options, codeUnit.data(), converted.bytes.data(), 2, &converted.length,
                                    firstConversion, &context);
    log(krm_entry::kConvertedText, static_cast<int32_t>(converted.length));
    if (ok == 0) return KRM_ERR_BROKEN;
    if (!validText) validText = CheckValidCode(codeUnit.data(), 2, 1) != 0;
    if (const int32_t rc = appendPending(converted.bytes.data(), converted.length); rc != KRM_OK) return rc;
    firstConversion = 0;
    pending.waiting = true;
    line.clear();
    converted.clear();
    setSourceCharset(KRM_CHARSET_OASYS_WIN);
    return KRM_OK;
}

// Object data run up to the next 0xEF, which is left to start the next code. Every scan ends at
// the end of the body when no 0xEF comes.
int32_t Decoder::scanToEscape(bool withHeaderTest, bool withGuard) {
    uint8_t byte = byteAt(position);
    while (byte != kEscape) {
        if (withGuard && innerGuardTripped()) return KRM_ERR_LOOP_GUARD;
        if (pastBody()) return KRM_ERR_BROKEN;
        if (withHeaderTest && byte == kHeaderMark1 && byteAt(position + 1) == kHeaderMark2)
            position = stepOverHeader(position); // the byte after the header is stepped over untested
        position += 1;
        byte = byteAt(position);
    }
    return KRM_OK;
}

// A guarded scan between its two log lines; with nothingToSkip the lines are written and the
// position stays.
int32_t Decoder::loggedScan(int32_t loopNumber, bool withHeaderTest, bool nothingToSkip) {
    resetInnerGuard();
    log(kLogWhileStart, loopNumber);
    const int32_t rc = nothingToSkip ? KRM_OK : scanToEscape(withHeaderTest, true);
    if (rc == KRM_OK) log(kLogWhileEnd, loopNumber);
    return rc;
}

int32_t Decoder::skipObjectUnsplit(uint8_t type) {
    switch (type) {
    case kObjectScanned: return loggedScan(kLoopScanned, true);
    case kObjectScannedAfterText: {
        // Text right after the record means the object has no data; a control byte first is
        // passed over, data from 0xE1 up are scanned like any other.
        const uint8_t first = byteAt(position);
        if (first < kHashFirstPassedBelow) position += 1;
        return loggedScan(kLoopScanned, true, inRange(first, kHashFirstPassedBelow, kHashFirstTextEnd));
    }
    case kObjectScannedAfterPrefix:
        position += kDollarObjectPrefix;
        return loggedScan(kLoopScannedAfterPrefix, true);
    case kObjectCounted: {
        std::array<uint8_t, kObjectCountDigits> digits{};
        for (uint32_t i = 0; i < kObjectCountDigits; ++i) digits[i] = byteAt(position - kObjectCountDigits + i);
        const uint32_t count = objectByteCount(digits);
        log(kLogForStart, kLoopCounted);
        for (uint32_t i = 0; i < count; ++i) {
            if (isHeaderAt(position)) position = stepOverHeader(position);
            if (byteAt(position) == kEscape) break;
            position += 1;
        }
        log(kLogWhileEnd, kLoopCounted);
        return KRM_OK;
    }
    default: return KRM_OK;
    }
}

int32_t Decoder::skipObjectSplit(uint8_t type, const std::array<uint8_t, kObjectCountDigits>& countDigits) {
    switch (type) {
    case kObjectScanned:
    case kObjectScannedAfterText: return scanToEscape(false, false);
    case kObjectScannedAfterPrefix:
        position += kDollarObjectPrefix;
        return loggedScan(kLoopSplitAfterPrefix, false);
    case kObjectCounted: position += objectByteCount(countDigits); return KRM_OK;
    default: return KRM_OK;
    }
}

// ---- line output --------------------------------------------------------------------------------

void Decoder::placeLineBreak() {
    if (!table.on) {
        if (table.restarted) {
            table.restarted = false;
        } else if (carried.breakWritten) {
            carried.breakWritten = false;
            return; // 0xEFA0 already wrote it
        }
    }
    line.appendLineBreak();
}

// A box closes when its bottom-right corner has been met for every top-left one.
void Decoder::tableBookkeeping() {
    if (table.bottomRightCorners == 1) {
        if (table.topLeftCorners == 1) {
            table.on = false;
        } else if (table.topLeftCorners >= table.bottomRightCorners) {
            --table.topLeftCorners;
            --table.bottomRightCorners;
        }
    } else if (table.bottomRightCorners != 0 && table.topLeftCorners >= table.bottomRightCorners) {
        --table.topLeftCorners;
        --table.bottomRightCorners;
    }
}

int32_t Decoder::convertLine() {
    const uint32_t ok = CodeConvert(&srcInfo, &options, line.bytes.data(), converted.bytes.data(),
                                    static_cast<int32_t>(line.length), &converted.length, firstConversion, &context);
    log(krm_entry::kConvertedText, static_cast<int32_t>(converted.length));
    if (ok == 0) return KRM_ERR_BROKEN;
    if (converted.length > kConvertedCapacity) converted.length = kConvertedCapacity;
    if (!validText) validText = CheckValidCode(line.bytes.data(), line.length, 0) != 0;
    return KRM_OK;
}

// Converted text of a line with Unicode records waits here for the line end. When it would not
// fit, what has gathered goes out first, in order and under the same output limit.
int32_t Decoder::appendPending(const uint8_t* bytes, uint32_t count) {
    if (count > kConvertedCapacity) count = kConvertedCapacity;
    if (pending.text.length + count > kConvertedCapacity) {
        if (const int32_t rc = outputPiece(pending.text.bytes.data(), pending.text.length); rc != KRM_OK) return rc;
        pending.text.clear();
        pending.writtenInLine = true;
    }
    std::memcpy(pending.text.bytes.data() + pending.text.length, bytes, count);
    pending.text.length += count;
    return KRM_OK;
}

int32_t Decoder::write(const uint8_t* bytes, uint32_t count) {
    if (context.outputMode == KRM_OUTPUT_MODE_STREAM) {
        if (KRM_WriteStream(context.outputStreamHandle, count, bytes) == -1) return KRM_ERR_WRITE;
    } else if (KRM_FileWrite(bytes, 1, count, outputFile) < count) {
        return KRM_ERR_WRITE;
    }
    log(kLogWritten, static_cast<int32_t>(count));
    return KRM_OK;
}

int32_t Decoder::outputPiece(uint8_t* bytes, uint32_t count) {
    if (!flag(KRM_OPT_SIZE_LIMIT)) return write(bytes, count);
    // A total carried in from earlier calls may already be past the maximum: no room at all then.
    // The piece is measured against the room, so that a total near the top of the 32-bit range
    // cannot wrap round to a small one and let the piece through.
    const uint32_t room = runningTotal < options.maxOutputSize ? options.maxOutputSize - runningTotal : 0;
    if (runningTotal <= options.maxOutputSize && count <= room) {
        runningTotal += count;
        return write(bytes, count);
    }
    log(kLogCutStart);
    const uint32_t cutLength = CutStr(bytes, count, room, &options);
    log(kLogCutEnd);
    if (cutLength > room) return KRM_ERR_BROKEN;
    if (const int32_t rc = write(bytes, cutLength); rc != KRM_OK) return rc;
    return KRM_ERR_OUTPUT_LIMIT;
}

int32_t Decoder::flushLine() {
    placeLineBreak();
    tableBookkeeping();
    if (const int32_t rc = convertLine(); rc != KRM_OK) return rc;
    if (pending.waiting) {
        if (const int32_t rc = outputPiece(pending.text.bytes.data(), pending.text.length); rc != KRM_OK) return rc;
        pending.waiting = false;
        pending.text.clear();
    }
    if (const int32_t rc = outputPiece(converted.bytes.data(), converted.length); rc != KRM_OK) return rc;
    line.clear();
    converted.clear();
    firstConversion = 0;
    pending.writtenInLine = false;
    noteLineStart();
    return KRM_OK;
}

} // namespace

extern "C" KRM_EXPORT int32_t GetTextContent(uint32_t source, uint32_t outputFile, uint32_t* position,
                                             SrcInfo* srcInfo, HostOptions* options, uint32_t accessMode,
                                             uint32_t firstBlockFlag, uint32_t bodySize, CallContext* context) {
    if (position == nullptr || srcInfo == nullptr || options == nullptr || context == nullptr) return KRM_ERR_BROKEN;
    Decoder decoder(source, outputFile, *position, *srcInfo, *options, accessMode, bodySize, *context);
    return decoder.run(firstBlockFlag != 0);
}
