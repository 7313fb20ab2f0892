// Charset conversion service: cconvInitConvert, cconvChgCharset, cconvConvert, cconvTermConvert.
//
// The caller's context starts with the conversion request; our own state lives further on in the
// same block and holds only pointers to the thread's cached converters, so a conversion acquires
// nothing that Term would have to free. A conversion runs on the thread that initialised it.
#include <atomic>
#include <cstring>
#include <new>
#include <string_view>

#include "host_conv_internal.h"
#include "host_internal.h"
#include "krm_host.h"
#include "krm_host_testing.h"

namespace {

using krm_host::conv::CachedConverter;
using krm_host::conv::Source;
using krm_host::conv::SourceKind;

constexpr int32_t kOk = 0;
constexpr int32_t kFailed = 1;
constexpr uint32_t kStateMagic = 0x4B43'4F56; // marks a context between a successful Init and Term
constexpr size_t kStateOffset = 64;          // past the request, pointer-aligned

struct ConversionState {
    uint32_t magic;
    bool sourceSet;
    bool counted; // among the live conversions of the testing interface
    UChar substitute; // from the parameters; 0: our own
    Source source;
    CachedConverter* output;
};
static_assert(kStateOffset >= sizeof(KrmConversionRequest));
static_assert(kStateOffset % alignof(ConversionState) == 0);
static_assert(kStateOffset + sizeof(ConversionState) <= KRM_CONV_CONTEXT_SIZE);

// Conversions are counted only once a program uses the testing interface, as its call counts
// are: a locked add and subtract at every line would cost more than the rest of init and term.
// A conversion notes whether it was counted, so term undoes exactly what init did.
std::atomic<int32_t> liveConversions{0};

ConversionState* stateOf(KrmConversionContext* context) {
    if (context == nullptr) return nullptr;
    auto* state = std::launder(reinterpret_cast<ConversionState*>(context->bytes + kStateOffset));
    return state->magic == kStateMagic ? state : nullptr;
}

// A charset name field: NUL-terminated within its record, else unusable.
bool nameOf(const char* field, std::string_view& name) {
    const size_t length = strnlen(field, KRM_CHARSET_NAME_MAX);
    if (length == KRM_CHARSET_NAME_MAX) return false;
    name = std::string_view(field, length);
    return true;
}

// Exactly this name, NUL included, at the start of a field: no scan for the field's end.
template <size_t N>
bool fieldHolds(const char* field, const char (&name)[N]) {
    static_assert(N <= KRM_CHARSET_NAME_MAX);
    return std::memcmp(field, name, N) == 0;
}

// The decoder's source charsets are ours and are compared first, straight in the field.
bool sourceFor(const char* field, Source& source) {
    if (fieldHolds(field, KRM_CHARSET_OASYS_WIN)) source = {SourceKind::OasysWin, nullptr};
    else if (fieldHolds(field, KRM_CHARSET_WINDOWS31J)) source = {SourceKind::Windows31J, nullptr};
    else if (fieldHolds(field, KRM_CHARSET_UCS2)) source = {SourceKind::Ucs2BigEndian, nullptr};
    else {
        std::string_view name;
        if (!nameOf(field, name)) return false;
        CachedConverter* icu = krm_host::conv::cachedConverter(name);
        if (icu == nullptr) return false;
        source = {SourceKind::Icu, icu};
    }
    return true;
}

} // namespace

extern "C" {

KRM_EXPORT int32_t cconvInitConvert(KrmConversionContext* context, const KrmConversionParams* params,
                                    const HostOptions* options) {
    if (krm_host::shouldFail(KRM_SVC_CONV_INIT)) return kFailed;
    if (context == nullptr || params == nullptr || options == nullptr) return kFailed;
    CachedConverter* output = nullptr;
    try {
        output = krm_host::conv::cachedConverterOfField(options->outputCharset);
    } catch (...) { // out of memory: no exception crosses the C interface
        return kFailed;
    }
    if (output == nullptr) return kFailed;
    const bool counted = krm_host::testingInterfaceUsed.load(std::memory_order_relaxed);
    context->request = KrmConversionRequest{};
    new (context->bytes + kStateOffset) ConversionState{kStateMagic, false, counted, params->substitute1, {}, output};
    if (counted) liveConversions.fetch_add(1, std::memory_order_relaxed);
    return kOk;
}

KRM_EXPORT int32_t cconvChgCharset(KrmConversionContext* context, const KrmSourceCharsetRecord*,
                                   const SrcInfo* srcInfo) {
    if (krm_host::shouldFail(KRM_SVC_CONV_CHARSET)) return kFailed;
    ConversionState* state = stateOf(context);
    if (state == nullptr || srcInfo == nullptr) return kFailed;
    try {
        if (!sourceFor(srcInfo->sourceCharset, state->source)) return kFailed;
    } catch (...) {
        return kFailed;
    }
    state->sourceSet = true;
    return kOk;
}

KRM_EXPORT int32_t cconvConvert(KrmConversionContext* context) {
    if (krm_host::shouldFail(KRM_SVC_CONV_CONVERT)) return kFailed;
    ConversionState* state = stateOf(context);
    if (state == nullptr || !state->sourceSet) return kFailed;
    KrmConversionRequest& request = context->request;
    request.convertedLength = 0;
    if ((request.source == nullptr && request.sourceLength != 0) ||
        (request.destination == nullptr && request.capacity != 0))
        return kFailed;
    size_t produced = 0;
    const bool ok = krm_host::conv::convertText(state->source, {request.source, request.sourceLength}, *state->output,
                                                state->substitute, {request.destination, request.capacity}, produced);
    request.convertedLength = static_cast<uint32_t>(produced);
    return ok ? kOk : kFailed;
}

KRM_EXPORT int32_t cconvTermConvert(KrmConversionContext* context) {
    ConversionState* state = stateOf(context);
    if (state == nullptr) return kFailed;
    state->magic = 0;
    if (state->counted) liveConversions.fetch_sub(1, std::memory_order_relaxed);
    return kOk;
}

KRM_EXPORT int32_t KRMTest_LiveConversions(void) { return liveConversions.load(std::memory_order_relaxed); }

} // extern "C"
