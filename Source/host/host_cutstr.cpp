// CutStr: the longest prefix of converted text that holds whole characters of the output charset
// and fits a byte budget. For a stateful charset (ISO-2022-JP) a prefix that stopped inside a kanji
// run would leave the reader in the wrong state, so the kept characters are encoded again in place
// and closed with the sequence back to the initial state, all within the budget.
#include <cstring>
#include <memory>
#include <unicode/utf16.h>
#include <string_view>
#include <vector>

#include "host_conv_internal.h"
#include "host_internal.h"
#include "krm_host.h"
#include "krm_host_testing.h"

namespace {

using krm_host::conv::CachedConverter;

// A failed cut returns UINT32_MAX: more than any room but the largest, which never needs a cut.
using krm_host::conv::kCutFailed;

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};

// Decodes the whole text; offsets (when asked for) give the byte where each UChar's character starts.
bool decodeAll(UConverter* converter, const uint8_t* text, uint32_t length, std::vector<UChar>& units,
               std::vector<int32_t>* offsets) {
    size_t capacity = static_cast<size_t>(length) + 16;
    for (;;) {
        units.resize(capacity);
        if (offsets != nullptr) offsets->resize(capacity);
        ucnv_resetToUnicode(converter);
        const char* in = reinterpret_cast<const char*>(text);
        UChar* out = units.data();
        UErrorCode status = U_ZERO_ERROR;
        ucnv_toUnicode(converter, &out, units.data() + capacity, &in, in + length,
                       offsets != nullptr ? offsets->data() : nullptr, true, &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            capacity *= 2; // a byte sequence that decodes to several units: try again roomier
            continue;
        }
        if (U_FAILURE(status)) return false;
        units.resize(static_cast<size_t>(out - units.data()));
        return true;
    }
}

// Stateless charsets: the last character start at or before the room.
uint32_t cutAtCharacterStart(UConverter* converter, const uint8_t* text, uint32_t length, uint32_t room) {
    std::vector<UChar> units;
    std::vector<int32_t> offsets;
    if (!decodeAll(converter, text, length, units, &offsets)) return kCutFailed;
    uint32_t cut = 0;
    for (size_t i = 0; i < units.size(); ++i) {
        if (offsets[i] < 0) continue;
        const auto start = static_cast<uint32_t>(offsets[i]);
        if (start > room) break;
        cut = start;
    }
    return cut;
}

// Bytes the converter would write to return to its initial state, without disturbing it.
bool resetSequence(UConverter* converter, char* out, size_t capacity, size_t& length) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UConverter, ConverterCloser> probe(ucnv_clone(converter, &status));
    if (U_FAILURE(status) || !probe) return false;
    char* target = out;
    const UChar* none = nullptr;
    ucnv_fromUnicode(probe.get(), &target, out + capacity, &none, none, nullptr, true, &status);
    length = static_cast<size_t>(target - out);
    return U_SUCCESS(status);
}

// Stateful charsets: decode, then encode again one character at a time, noting after each one
// whether the sequence back to the initial state would still fit the room; the longest such prefix
// is written back over the text, closing sequence included.
uint32_t cutInInitialState(UConverter* converter, uint8_t* text, uint32_t length, uint32_t room) {
    std::vector<UChar> units;
    if (!decodeAll(converter, text, length, units, nullptr)) return kCutFailed;
    ucnv_resetFromUnicode(converter);
    constexpr size_t kMaxEncoded = 64; // escape sequences plus one character
    char encoded[kMaxEncoded];
    uint32_t position = 0;
    uint32_t cut = 0;
    size_t cutUnits = 0;
    for (size_t i = 0; i <= units.size(); ++i) {
        size_t resetLength = 0;
        if (!resetSequence(converter, encoded, kMaxEncoded, resetLength)) return kCutFailed;
        if (resetLength <= room - position) {
            cut = position + static_cast<uint32_t>(resetLength);
            cutUnits = i;
        }
        if (i == units.size()) break;
        const size_t unitCount = (U16_IS_LEAD(units[i]) && i + 1 < units.size() && U16_IS_TRAIL(units[i + 1])) ? 2 : 1;
        const UChar* in = units.data() + i;
        char* out = encoded;
        UErrorCode status = U_ZERO_ERROR;
        ucnv_fromUnicode(converter, &out, encoded + kMaxEncoded, &in, in + unitCount, nullptr, false, &status);
        const auto produced = static_cast<size_t>(out - encoded);
        if (U_FAILURE(status) || produced > room - position) break;
        position += static_cast<uint32_t>(produced);
        i += unitCount - 1;
    }
    ucnv_resetFromUnicode(converter);
    if (cut > 0) {
        char* out = reinterpret_cast<char*>(text);
        const UChar* in = units.data();
        UErrorCode status = U_ZERO_ERROR;
        ucnv_fromUnicode(converter, &out, out + cut, &in, in + cutUnits, nullptr, true, &status);
        ucnv_resetFromUnicode(converter);
        if (U_FAILURE(status) || out != reinterpret_cast<char*>(text) + cut) return kCutFailed;
    }
    return cut;
}

} // namespace

namespace krm_host::conv {
uint32_t cutTextInPlace(CachedConverter& output, uint8_t* text, uint32_t length, uint32_t room) {
    if (length <= room) return length;
    return output.stateful ? cutInInitialState(output.converter, text, length, room)
                           : cutAtCharacterStart(output.converter, text, length, room);
}
} // namespace krm_host::conv

extern "C" KRM_EXPORT uint32_t CutStr(uint8_t* text, uint32_t length, uint32_t room, const HostOptions* options) {
    if (krm_host::shouldFail(KRM_SVC_CUTSTR)) return kCutFailed;
    if (length <= room) return length;
    if (text == nullptr || options == nullptr) return kCutFailed;
    const size_t nameLength = strnlen(options->outputCharset, KRM_CHARSET_NAME_MAX);
    if (nameLength == KRM_CHARSET_NAME_MAX) return kCutFailed;
    try {
        CachedConverter* output = krm_host::conv::cachedConverter({options->outputCharset, nameLength});
        if (output == nullptr) return kCutFailed;
        return krm_host::conv::cutTextInPlace(*output, text, length, room);
    } catch (...) { // out of memory: no exception crosses the C interface
        return kCutFailed;
    }
}
