// Conversion core: per-thread converter cache, the OASYS/Windows-31J decoder and the chunked
// source → Unicode → output conversion shared by the conversion service and SummaryInfo.
#include "host_conv_internal.h"

#include "krm_types.h"

#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <initializer_list>

namespace krm_host::conv {
namespace {

// ---- Windows-31J two-byte codes --------------------------------------------------------------
// Lead bytes 0x81-0x9F and 0xE0-0xFC, trail bytes 0x40-0x7E and 0x80-0xFC.
constexpr uint8_t kFirstLeadLow = 0x81, kLastLeadLow = 0x9F;
constexpr uint8_t kFirstLeadHigh = 0xE0, kLastLeadHigh = 0xFC;
constexpr uint8_t kFirstTrail = 0x40, kLastTrail = 0xFC, kNotTrail = 0x7F;
constexpr uint8_t kOasysLead = 0xA0; // OASYS uses 0xA0 as the lead byte of codes of its own
constexpr uint8_t kFirstHalfWidthKana = 0xA1, kLastHalfWidthKana = 0xDF;
constexpr UChar kHalfWidthKanaBase = 0xFF61; // 0xA1 is U+FF61
constexpr uint8_t kLastSingleByte = 0x7F;    // 0x00-0x7F are themselves, CR LF and 0x1A included
constexpr size_t kLeadCount = (kLastLeadLow - kFirstLeadLow + 1) + (kLastLeadHigh - kFirstLeadHigh + 1);
constexpr size_t kTrailCount = kLastTrail - kFirstTrail + 1;

constexpr bool isLead(uint8_t b) {
    return (b >= kFirstLeadLow && b <= kLastLeadLow) || (b >= kFirstLeadHigh && b <= kLastLeadHigh);
}
constexpr bool isTrail(uint8_t b) { return b >= kFirstTrail && b <= kLastTrail && b != kNotTrail; }
constexpr size_t leadIndex(uint8_t lead) {
    return lead <= kLastLeadLow ? lead - kFirstLeadLow : (kLastLeadLow - kFirstLeadLow + 1) + (lead - kFirstLeadHigh);
}

// Every two-byte code as Windows-31J defines it (0: not defined), read once from ICU's table,
// which agrees with Windows-31J on every two-byte code and maps the user-defined area
// 0xF040-0xF9FC to the Private Use Area U+E000-U+E757.
using PairTable = std::array<std::array<UChar, kTrailCount>, kLeadCount>;

PairTable buildPairTable() {
    PairTable table{};
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UConverter, decltype(&ucnv_close)> icu(ucnv_open("windows-31j", &status), &ucnv_close);
    if (U_FAILURE(status)) return table;
    ucnv_setToUCallBack(icu.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    for (unsigned lead = 0; lead <= 0xFF; ++lead) {
        if (!isLead(static_cast<uint8_t>(lead))) continue;
        for (unsigned trail = kFirstTrail; trail <= kLastTrail; ++trail) {
            if (!isTrail(static_cast<uint8_t>(trail))) continue;
            const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
            UChar out[4];
            status = U_ZERO_ERROR;
            ucnv_reset(icu.get());
            const int32_t n = ucnv_toUChars(icu.get(), out, 4, pair, 2, &status);
            if (U_SUCCESS(status) && n == 1) table[leadIndex(static_cast<uint8_t>(lead))][trail - kFirstTrail] = out[0];
        }
    }
    return table;
}

const PairTable& pairTable() {
    static const PairTable table = buildPairTable();
    return table;
}

// What one code of Windows-31J (or OASYS body) text is: a single byte, a pair of lead and trail
// byte, or bytes without a character (0x80, 0xFD-0xFF, a lead byte without its trail byte,
// OASYS's 0xA0 codes); pos moves past the code.
enum class CodeShape : uint8_t { Single, Pair, NoCharacter };

inline bool isSingleByteCode(uint8_t b) {
    return b <= kLastSingleByte || (b >= kFirstHalfWidthKana && b <= kLastHalfWidthKana);
}

inline CodeShape nextCode(bool oasys, std::span<const uint8_t> text, size_t& pos) {
    const uint8_t b = text[pos];
    if (isSingleByteCode(b)) {
        pos += 1;
        return CodeShape::Single;
    }
    const bool hasTrail = pos + 1 < text.size() && isTrail(text[pos + 1]);
    if (isLead(b) && hasTrail) {
        pos += 2;
        return CodeShape::Pair;
    }
    pos += oasys && b == kOasysLead && hasTrail ? 2 : 1;
    return CodeShape::NoCharacter;
}

inline UChar singleByteCharacter(uint8_t b) {
    return b <= kLastSingleByte ? b : static_cast<UChar>(kHalfWidthKanaBase + (b - kFirstHalfWidthKana));
}

// One code from pos: its character; pos moves past the code.
inline UChar decodeOneShiftJis(bool oasys, const PairTable& table, std::span<const uint8_t> text, size_t& pos) {
    const size_t start = pos;
    switch (nextCode(oasys, text, pos)) {
    case CodeShape::Single: return singleByteCharacter(text[start]);
    case CodeShape::Pair: {
        const UChar u = table[leadIndex(text[start])][text[start + 1] - kFirstTrail];
        return u != 0 ? u : kGetaMark; // OASYS's own codes, 0xFCA8-0xFCC8, ...
    }
    default: return kGetaMark;
    }
}

// Decodes Windows-31J (or OASYS body) bytes from pos into out; every code gives one UChar.
size_t decodeShiftJis(bool oasys, std::span<const uint8_t> text, size_t& pos, UChar* out, size_t room) {
    const PairTable& table = pairTable();
    size_t n = 0;
    while (pos < text.size() && n < room) out[n++] = decodeOneShiftJis(oasys, table, text, pos);
    return n;
}

size_t decodeUcs2(std::span<const uint8_t> text, size_t& pos, UChar* out, size_t room) {
    size_t n = 0;
    while (pos < text.size() && n < room) {
        if (pos + 1 < text.size()) {
            out[n++] = static_cast<UChar>(text[pos] << 8 | text[pos + 1]);
            pos += 2;
        } else {
            out[n++] = kGetaMark; // half a unit at the end
            pos += 1;
        }
    }
    return n;
}

// UTF-8 output of Shift-JIS based text. Every code decodes to one character of the Basic
// Multilingual Plane outside the surrogates, which UTF-8 writes by rule, so ICU's encoder (several
// times the cost per line) is not needed; a test holds the result to ICU's for every one- and
// two-byte code. The decoder converts every line, so each code is taken in one step looked up in
// a table made once: its UTF-8 bytes in their order in the low three bytes of a word, their count
// in the next four bits, and the number of source bytes the code takes in the top four bits.
constexpr uint32_t packedUtf8(UChar u) {
    if (u < 0x80) return 1u << 24 | u;
    if (u < 0x800) return 2u << 24 | (0x80u | (u & 0x3F)) << 8 | (0xC0u | u >> 6);
    return 3u << 24 | (0x80u | (u & 0x3F)) << 16 | (0x80u | (u >> 6 & 0x3F)) << 8 | (0xE0u | u >> 12);
}

constexpr unsigned kStepTakenShift = 28;
constexpr uint32_t kStepUtf8Mask = (1u << kStepTakenShift) - 1;
constexpr size_t kMultiByteFirstBytes = 256 - (kLastSingleByte + 1) - (kLastHalfWidthKana - kFirstHalfWidthKana + 1);
using StepRow = std::array<uint32_t, 256>;

// A one-byte code's step depends on its byte alone; any other byte's on the byte after it (or on
// there being none), so those steps stand in a row per first byte, indexed by the next byte.
// Every step is what decodeOneShiftJis decodes from those one or two bytes, so the table agrees
// with the UTF-16 path by construction. The rows of the two source charsets differ only for
// 0xA0 and are shared otherwise; rows never filled are never touched.
struct Utf8Steps {
    StepRow single{};                                // one-byte codes; 0 for every other byte
    std::array<std::array<uint8_t, 256>, 2> rowOf{}; // [oasys][first byte]: its row in pairs
    std::array<StepRow, 2> lastByte{};               // [oasys][first byte] as the text's last byte
    std::array<StepRow, 2 * kMultiByteFirstBytes> pairs;
    size_t rows = 0;

    Utf8Steps() {
        for (unsigned b = 0; b <= 0xFF; ++b)
            if (isSingleByteCode(static_cast<uint8_t>(b))) single[b] = stepOf(false, {static_cast<uint8_t>(b)});
        for (const bool oasys : {true, false}) {
            for (unsigned b = 0; b <= 0xFF; ++b) {
                const auto first = static_cast<uint8_t>(b);
                if (isSingleByteCode(first)) continue;
                StepRow row;
                for (unsigned next = 0; next <= 0xFF; ++next) row[next] = stepOf(oasys, {first, static_cast<uint8_t>(next)});
                lastByte[oasys][b] = stepOf(oasys, {first});
                if (!oasys && pairs[rowOf[true][b]] == row) {
                    rowOf[oasys][b] = rowOf[true][b];
                } else {
                    rowOf[oasys][b] = static_cast<uint8_t>(rows);
                    pairs[rows++] = row;
                }
            }
        }
    }

    static uint32_t stepOf(bool oasys, std::initializer_list<uint8_t> bytes) {
        size_t pos = 0;
        const UChar u = decodeOneShiftJis(oasys, pairTable(), {bytes.begin(), bytes.size()}, pos);
        return static_cast<uint32_t>(pos) << kStepTakenShift | packedUtf8(u);
    }
};

const Utf8Steps& utf8Steps() {
    static const Utf8Steps steps; // built in place: the table never passes through a stack
    return steps;
}

// The step of the code at pos, which moves past it. The number of bytes taken is chosen by a
// branch, not added from the loaded step, so that the next code's loads need not wait for this
// one's (the empty asm keeps the compiler from making the branch a conditional move).
inline uint32_t nextStep(const Utf8Steps& steps, const std::array<uint8_t, 256>& rowOf, const StepRow& lastByte,
                         std::span<const uint8_t> text, size_t& pos) {
    const uint8_t b = text[pos];
    uint32_t step = steps.single[b];
    if (step != 0) {
        pos += 1;
        return step;
    }
    step = pos + 1 < text.size() ? steps.pairs[rowOf[b]][text[pos + 1]] : lastByte[b];
    if (step >> kStepTakenShift == 2) {
        pos += 2;
    } else {
        pos += 1;
        asm("" : "+r"(pos));
    }
    return step;
}

// A result that does not fit is cut as ICU cuts it: the bytes that fit are written, the last
// character's too, and the conversion fails. Nothing is left written past the result. While the
// room holds a word and at least three more codes follow this one (eight source bytes or more
// from this code on, two at most per code), a code is stored as one four-byte word, whose spare
// bytes those codes' output overwrites; the last codes are written byte by byte.
constexpr size_t kSourceBytesForAWordStore = 2 + 3 * 2;

bool writeUtf8(bool oasys, std::span<const uint8_t> text, std::span<uint8_t> destination, size_t& produced) {
    const Utf8Steps& steps = utf8Steps();
    const std::array<uint8_t, 256>& rowOf = steps.rowOf[oasys];
    const StepRow& lastByte = steps.lastByte[oasys];
    const size_t size = text.size();
    uint8_t* const out = destination.data();
    const size_t capacity = destination.size();
    size_t at = 0;
    size_t pos = 0;
    if constexpr (std::endian::native == std::endian::little) {
        while (size - pos >= kSourceBytesForAWordStore && capacity - at >= sizeof(uint32_t)) {
            const uint32_t packed = nextStep(steps, rowOf, lastByte, text, pos) & kStepUtf8Mask;
            std::memcpy(out + at, &packed, sizeof packed);
            at += packed >> 24;
        }
    }
    while (pos < size) {
        const uint32_t packed = nextStep(steps, rowOf, lastByte, text, pos) & kStepUtf8Mask;
        const size_t length = packed >> 24;
        if (capacity - at < length) [[unlikely]] {
            for (unsigned shift = 0; at < capacity; shift += 8) out[at++] = static_cast<uint8_t>(packed >> shift);
            produced = at;
            return false;
        }
        switch (length) {
        case 3: out[at + 2] = static_cast<uint8_t>(packed >> 16); [[fallthrough]];
        case 2: out[at + 1] = static_cast<uint8_t>(packed >> 8); [[fallthrough]];
        default: out[at] = static_cast<uint8_t>(packed);
        }
        at += length;
    }
    produced = at;
    return true;
}

// Bad or unassigned source bytes decoded through ICU become 〓, one per sequence.
void U_CALLCONV toUnicodeGeta(const void*, UConverterToUnicodeArgs* args, const char*, int32_t,
                              UConverterCallbackReason reason, UErrorCode* status) {
    if (reason > UCNV_IRREGULAR) return;
    *status = U_ZERO_ERROR;
    ucnv_cbToUWriteUChars(args, &kGetaMark, 1, 0, status);
}

bool encodesControlsSwapped(UConverter* converter) {
    const UChar control = 0x1A;
    char out[8];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t n = ucnv_fromUChars(converter, out, sizeof out, &control, 1, &status);
    ucnv_reset(converter);
    return U_SUCCESS(status) && n == 1 && static_cast<uint8_t>(out[0]) == 0x7F;
}

bool isStateful(UConverterType type) {
    switch (type) {
    case UCNV_SBCS: case UCNV_DBCS: case UCNV_MBCS: case UCNV_LATIN_1: case UCNV_UTF8:
    case UCNV_UTF16_BigEndian: case UCNV_UTF16_LittleEndian: case UCNV_UTF32_BigEndian:
    case UCNV_UTF32_LittleEndian: case UCNV_US_ASCII: case UCNV_UTF16: case UCNV_UTF32: case UCNV_CESU8:
        return false;
    default:
        return true; // ISO-2022, HZ, UTF-7, SCSU, BOCU-1, EBCDIC with shifts, ...
    }
}

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
struct CacheEntry {
    std::unique_ptr<UConverter, ConverterCloser> owner;
    CachedConverter converter;
};

// ICU trades 0x1A, 0x1C and 0x7F in its Windows-31J table; we keep ASCII controls as they are.
void unswapControls(UChar* chunk, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        switch (chunk[i]) {
        case 0x1A: chunk[i] = 0x1C; break; // encodes as 0x1A
        case 0x1C: chunk[i] = 0x7F; break; // encodes as 0x1C
        case 0x7F: chunk[i] = 0x1A; break; // encodes as 0x7F
        default: break;
        }
    }
}

// A character the output charset lacks becomes the requested substitute; 0 (or one the charset
// cannot write) asks for 〓, and a charset without 〓 keeps its own substitution bytes.
bool applySubstitute(CachedConverter& output, UChar requested) {
    UErrorCode status = U_ZERO_ERROR;
    for (const UChar wanted : {requested, kGetaMark}) {
        if (wanted == 0) continue;
        if (output.appliedSubstitute == wanted) return true;
        status = U_ZERO_ERROR;
        ucnv_setSubstString(output.converter, &wanted, 1, &status);
        if (U_SUCCESS(status)) {
            output.appliedSubstitute = wanted;
            return true;
        }
    }
    if (output.appliedSubstitute == 0) return true;
    status = U_ZERO_ERROR;
    ucnv_setSubstChars(output.converter, output.ownSubstitute, output.ownSubstituteLength, &status);
    if (U_FAILURE(status)) return false;
    output.appliedSubstitute = 0;
    return true;
}

bool encodeChunk(CachedConverter& output, UChar* chunk, size_t n, bool flush, char*& out, char* outLimit) {
    if (output.swapsControls) unswapControls(chunk, n);
    const UChar* in = chunk;
    UErrorCode status = U_ZERO_ERROR;
    ucnv_fromUnicode(output.converter, &out, outLimit, &in, chunk + n, nullptr, flush, &status);
    return U_SUCCESS(status);
}

// The thread's cache entry found last. The decoder asks for the same output charset at every
// line, so this is compared before the name is hashed. Initial-exec: one pointer of the static
// thread-local reserve, reached without a call to __tls_get_addr.
using NamedEntry = std::pair<const std::string, CacheEntry>;
thread_local NamedEntry* lastFound __attribute__((tls_model("initial-exec"))) = nullptr;

} // namespace

CachedConverter* cachedConverter(std::string_view name) {
    thread_local std::unordered_map<std::string, CacheEntry> cache;
    if (lastFound != nullptr && lastFound->first == name) return &lastFound->second.converter;
    const std::string key(name);
    if (auto found = cache.find(key); found != cache.end()) {
        lastFound = &*found;
        return &found->second.converter;
    }
    if (key.empty()) return nullptr; // ICU would pick a locale default
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UConverter, ConverterCloser> opened(ucnv_open(key.c_str(), &status));
    if (U_FAILURE(status) || !opened) return nullptr;
    UConverter* c = opened.get();
    ucnv_setFallback(c, true); // ¥ → 0x5C, half-width kana into ISO-2022-JP as full-width
    ucnv_setToUCallBack(c, toUnicodeGeta, nullptr, nullptr, nullptr, &status);
    CacheEntry entry{std::move(opened), {}};
    entry.converter.converter = c;
    entry.converter.swapsControls = encodesControlsSwapped(c);
    entry.converter.stateful = isStateful(ucnv_getType(c));
    entry.converter.utf8 = ucnv_getType(c) == UCNV_UTF8;
    int8_t ownLength = sizeof entry.converter.ownSubstitute;
    status = U_ZERO_ERROR;
    ucnv_getSubstChars(c, entry.converter.ownSubstitute, &ownLength, &status);
    entry.converter.ownSubstituteLength = U_SUCCESS(status) ? ownLength : 0;
    auto [slot, inserted] = cache.emplace(key, std::move(entry));
    lastFound = &*slot;
    return &slot->second.converter; // unordered_map keeps element addresses on rehash
}

CachedConverter* cachedConverterOfField(const char* field) {
    // The last name with its NUL, compared in place, needs no scan for the field's end.
    if (lastFound != nullptr) {
        const std::string& last = lastFound->first;
        if (last.size() < KRM_CHARSET_NAME_MAX && std::memcmp(field, last.c_str(), last.size() + 1) == 0)
            return &lastFound->second.converter;
    }
    const size_t length = strnlen(field, KRM_CHARSET_NAME_MAX);
    if (length == KRM_CHARSET_NAME_MAX) return nullptr;
    return cachedConverter({field, length});
}

bool convertText(const Source& source, std::span<const uint8_t> text, CachedConverter& output, UChar requested,
                 std::span<uint8_t> destination, size_t& produced) {
    produced = 0;
    const bool shiftJis = source.kind == SourceKind::OasysWin || source.kind == SourceKind::Windows31J;
    if (output.utf8 && shiftJis) return writeUtf8(source.kind == SourceKind::OasysWin, text, destination, produced);
    if (!applySubstitute(output, requested)) return false;
    ucnv_resetFromUnicode(output.converter);
    if (source.kind == SourceKind::Icu) ucnv_resetToUnicode(source.icu->converter);

    constexpr size_t kChunk = 1024;
    UChar chunk[kChunk];
    char scratch[1]; // a valid target pointer when the destination is empty
    char* const begin = destination.empty() ? scratch : reinterpret_cast<char*>(destination.data());
    char* out = begin;
    char* const outLimit = begin + destination.size();
    size_t pos = 0;
    const char* icuIn = reinterpret_cast<const char*>(text.data());
    const char* const icuLimit = icuIn + text.size();
    bool ok = true;
    for (bool done = false; !done && ok;) {
        size_t n = 0;
        switch (source.kind) {
        case SourceKind::OasysWin: n = decodeShiftJis(true, text, pos, chunk, kChunk); done = pos >= text.size(); break;
        case SourceKind::Windows31J: n = decodeShiftJis(false, text, pos, chunk, kChunk); done = pos >= text.size(); break;
        case SourceKind::Ucs2BigEndian: n = decodeUcs2(text, pos, chunk, kChunk); done = pos >= text.size(); break;
        case SourceKind::Icu: {
            UChar* target = chunk;
            UErrorCode status = U_ZERO_ERROR;
            ucnv_toUnicode(source.icu->converter, &target, chunk + kChunk, &icuIn, icuLimit, nullptr, true, &status);
            n = static_cast<size_t>(target - chunk);
            done = status != U_BUFFER_OVERFLOW_ERROR;
            if (U_FAILURE(status) && done) ok = false;
            break;
        }
        }
        if (ok) ok = encodeChunk(output, chunk, n, done, out, outLimit);
    }
    produced = static_cast<size_t>(out - begin);
    return ok;
}

} // namespace krm_host::conv
