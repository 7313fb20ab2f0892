// Code validity and charset conversion.
//
// CodeConvert runs one conversion through the host's conversion service (init, source charset,
// convert, terminate) and builds the records that service expects byte for byte. CheckValidCode
// tells whether a line holds a visible character, which is how a document without text is told
// apart from one with text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "entry_common.h"
#include "krm_host.h"
#include "krm_zori2.h"

namespace {

// ---- Conversion records -------------------------------------------------------------------------
constexpr uint32_t kParamsOne = 1;                   // the two words of the parameters that hold 1
constexpr uint16_t kLatin1Substitute = 0x003F;       // '?', only for exactly "ISO-8859-1"
constexpr char kLatin1Name[] = "ISO-8859-1";
constexpr KrmSourceCharsetRecord kSourceCharsetRecord = {{1, 0, 1}};
constexpr uint32_t kDestinationCapacity = KRM_CONV_DEST_CAPACITY;

// Conversion variants: option bits 0x08..0x80 give 1..5, the lowest set bit wins; none gives 0.
struct VariantBit {
    uint32_t bit;
    uint32_t variant;
};
constexpr VariantBit kVariantBits[] = {{KRM_OPT_CONV_VARIANT1, 1},
                                       {KRM_OPT_CONV_VARIANT2, 2},
                                       {KRM_OPT_CONV_VARIANT3, 3},
                                       {KRM_OPT_CONV_VARIANT4, 4},
                                       {KRM_OPT_CONV_VARIANT5, 5}};
constexpr uint32_t kNoVariant = 0;

constexpr uint32_t conversionVariant(uint32_t optionFlags) {
    for (const VariantBit& entry : kVariantBits)
        if (optionFlags & entry.bit) return entry.variant;
    return kNoVariant;
}
static_assert(conversionVariant(0x18) == 1 && conversionVariant(0x90) == 2 && conversionVariant(0x100) == 0);

// A charset name field as text: it ends at its NUL, or at the end of its field when a record
// lacks the NUL (nothing past the field is ever read).
std::string_view nameField(const char (&field)[KRM_CHARSET_NAME_MAX]) {
    return {field, strnlen(field, KRM_CHARSET_NAME_MAX)};
}

// A field whose last byte is NUL holds its name's end: every record but a damaged one, so the
// names that are handed on at every line need no scan for their end.
bool endsWithinField(const char (&field)[KRM_CHARSET_NAME_MAX]) { return field[KRM_CHARSET_NAME_MAX - 1] == '\0'; }

// Exactly this name, NUL included, at the start of the field.
template <size_t N>
bool fieldHolds(const char (&field)[KRM_CHARSET_NAME_MAX], const char (&name)[N]) {
    static_assert(N <= KRM_CHARSET_NAME_MAX);
    return std::memcmp(field, name, N) == 0;
}

// The log lines of a conversion go to the caller's log, under the caller's option flags.
class ConversionLog {
public:
    ConversionLog(const HostOptions& options, const CallContext* context)
        : flags_(options.optionFlags), handle_(context != nullptr ? context->logHandle : 0) {}
    void text(const char* text, int32_t value = 0) const { krm_logfprintf(flags_, handle_, text, value); }
    // A name is written as plain text, straight from its field when the field holds its NUL (as
    // always but in a damaged record); else a copy gives it one. This runs for every line.
    void name(const char (&field)[KRM_CHARSET_NAME_MAX]) const {
        if (endsWithinField(field) || nameField(field).size() < KRM_CHARSET_NAME_MAX) {
            text(field);
            return;
        }
        char copy[KRM_CHARSET_NAME_MAX + 1] = {};
        krm_entry::copyChars(copy, nameField(field), KRM_CHARSET_NAME_MAX);
        text(copy);
    }

private:
    uint32_t flags_;
    uint32_t handle_;
};

// Every byte of the parameters belongs to a field, so setting each field once leaves no byte
// unset, and the only block write is the zero fill after the parameter text. Its length is known
// only at run time, so it goes to the C library's vector memset; clearing the whole record first
// compiles to an inline string store of 1 KB at twice the cost, and this runs for every line.
static_assert(offsetof(KrmConversionParams, paramText) == offsetof(KrmConversionParams, substitute2) + 2 &&
              offsetof(KrmConversionParams, one2) == offsetof(KrmConversionParams, paramText) + KRM_CONV_PARAM_TEXT_SIZE &&
              sizeof(KrmConversionParams) == offsetof(KrmConversionParams, zero) + sizeof(uint32_t));

KrmConversionParams makeParams(const HostOptions& options, uint32_t firstConversionFlag) {
    KrmConversionParams params;
    params.conversionOption = options.conversionOption;
    params.firstConversion = firstConversionFlag;
    params.one = kParamsOne;
    const uint16_t substitute = fieldHolds(options.outputCharset, kLatin1Name) ? kLatin1Substitute : 0;
    params.substitute1 = substitute;
    params.substitute2 = substitute;
    // The parameter text up to its NUL, then zeros, which also terminate a text that fills its field.
    const size_t textLength = strnlen(options.conversionParam, KRM_CHARSET_NAME_MAX);
    std::memcpy(params.paramText, options.conversionParam, textLength);
    std::memset(params.paramText + textLength, 0, sizeof params.paramText - textLength);
    params.one2 = kParamsOne;
    params.variant = conversionVariant(options.optionFlags);
    params.zero = 0;
    return params;
}

// ---- Visible characters -----------------------------------------------------------------------
constexpr uint8_t kFirstVisibleAscii = 0x21, kLastVisibleAscii = 0x7F;
constexpr uint8_t kBlankLead = 0x81;  // symbols row: the full-width space 0x8140 and its neighbours
constexpr uint8_t kBlankTrail = 0x40; // any lead byte with trail 0x40 counts as blank
constexpr uint8_t kBlankUnicodeRow = 0x30; // U+3000-U+30FF: ideographic space, punctuation, kana

bool hasVisibleShiftJis(const uint8_t* buffer, uint32_t length) {
    uint32_t i = 0;
    while (i < length) {
        const uint8_t c = buffer[i];
        if (c < kFirstVisibleAscii) {
            i += 1;
        } else if (c <= kLastVisibleAscii) {
            return true;
        } else if (c == kBlankLead) { // bytes from 0x80 up start a pair
            i += 2;
        } else if (i + 1 >= length) {
            return true; // a lone lead byte at the end: something was there, count it as visible
        } else if (buffer[i + 1] == kBlankTrail) {
            i += 2;
        } else {
            return true;
        }
    }
    return false;
}

bool hasVisibleUcs2(const uint8_t* buffer, uint32_t length) {
    for (uint32_t i = 0; i + 1 < length; i += 2) {
        const uint8_t hi = buffer[i], lo = buffer[i + 1];
        if (hi == 0) {
            if (lo >= kFirstVisibleAscii && lo <= kLastVisibleAscii) return true;
        } else if (hi != kBlankUnicodeRow && lo != 0) {
            return true;
        }
    }
    return false; // a final single byte of an odd length is not a unit
}

} // namespace

extern "C" {

KRM_EXPORT uint32_t CodeConvert(SrcInfo* srcInfo, HostOptions* options, const uint8_t* source, uint8_t* destination,
                                int32_t sourceLength, uint32_t* destinationLength, uint32_t firstConversionFlag,
                                CallContext* callContext) {
    if (srcInfo == nullptr || options == nullptr) return 0;
    const ConversionLog log(*options, callContext);
    log.text("Codeconvert starting convert ");
    log.name(srcInfo->sourceCharset);
    log.text(" srcBuff( %i bytes ) to ", sourceLength);
    log.name(options->outputCharset);
    log.text("\r\n");
    // A negative length or a missing buffer would send the service outside the caller's memory.
    if (sourceLength < 0 || (source == nullptr && sourceLength != 0) || destination == nullptr ||
        destinationLength == nullptr)
        return 0;

    const KrmConversionParams params = makeParams(*options, firstConversionFlag);
    KrmConversionContext context; // the service initialises it; only the request is ours to fill
    if (cconvInitConvert(&context, &params, options) != 0) return 0;

    uint32_t result = 0;
    if (cconvChgCharset(&context, &kSourceCharsetRecord, srcInfo) == 0) {
        KrmConversionRequest& request = context.request;
        request.source = source;
        request.reserved1 = 0;
        request.sourceLength = static_cast<uint32_t>(sourceLength);
        request.reserved3 = 0;
        request.destination = destination;
        request.convertedLength = 0;
        request.capacity = kDestinationCapacity;
        request.reserved7 = 0;
        const int32_t converted = cconvConvert(&context);
        *destinationLength = request.convertedLength; // written whatever the conversion returned
        result = converted == 0 ? 1 : 0;
    }
    cconvTermConvert(&context);
    return result;
}

KRM_EXPORT uint32_t CheckValidCode(const uint8_t* buffer, uint32_t length, uint32_t unitMode) {
    if (buffer == nullptr || length == 0) return 0;
    return (unitMode == 0 ? hasVisibleShiftJis(buffer, length) : hasVisibleUcs2(buffer, length)) ? 1 : 0;
}

} // extern "C"
