// Conversion core shared by the conversion service, CutStr and SummaryInfo (not installed).
//
// Every thread keeps its own converters, opened once per charset name and reused for every
// conversion on that thread: the decoder converts once per line, and opening converters per line
// costs more than the conversion itself and serialises threads inside ICU.
#pragma once

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace krm_host::conv {

inline constexpr UChar kGetaMark = 0x3013; // 〓, our mark for a code that has no character

// How source bytes become Unicode.
enum class SourceKind : uint8_t {
    OasysWin,      // OASYS body text: Windows-31J plus OASYS's own two-byte codes (lead 0xA0 too)
    Windows31J,    // property texts
    Ucs2BigEndian, // two bytes per unit, high byte first
    Icu            // any other charset, through a cached ICU converter
};

// A cached converter of one charset name, owned by the thread's cache and never closed before
// the thread ends, so pointers to it stay valid for the thread's lifetime.
struct CachedConverter {
    UConverter* converter = nullptr;
    bool swapsControls = false;    // ICU's IBM table trades 0x1A, 0x1C and 0x7F around
    bool stateful = false;         // a byte prefix may end outside the initial state (ISO-2022)
    bool utf8 = false;             // UTF-8, which Shift-JIS based text is written to without ICU
    UChar appliedSubstitute = 0;   // substitute set on the converter; 0: the charset's own
    char ownSubstitute[8] = {};    // the charset's own substitution bytes, as ICU defines them
    int8_t ownSubstituteLength = 0;
};

// The thread's converter for a charset name; nullptr when ICU does not know the name.
CachedConverter* cachedConverter(std::string_view name);
// The same for a charset name field of a record (KRM_CHARSET_NAME_MAX bytes); nullptr also when
// the field holds no NUL.
CachedConverter* cachedConverterOfField(const char* field);

struct Source {
    SourceKind kind;
    CachedConverter* icu; // only for SourceKind::Icu
};

// Converts source to the output charset into destination. requested is the substitute of the
// conversion parameters; 0 asks for our own: 〓 where the output charset has it, else the
// charset's own substitution (0x1A in ISO-8859-1). Returns false when the result does not fit (produced then
// holds the bytes that did) or the converter fails; nothing is ever written past destination.
bool convertText(const Source& source, std::span<const uint8_t> text, CachedConverter& output, UChar requested,
                 std::span<uint8_t> destination, size_t& produced);

// The longest prefix of text (converted to output's charset) that holds whole characters and fits
// room; a stateful charset's prefix is re-encoded in place so that it ends with its own return to
// the initial state (ISO-2022-JP: ESC ( B after the last kanji that fits). kCutFailed when the
// text cannot be decoded. Throws only std::bad_alloc.
inline constexpr uint32_t kCutFailed = UINT32_MAX;
uint32_t cutTextInPlace(CachedConverter& output, uint8_t* text, uint32_t length, uint32_t room);

} // namespace krm_host::conv
