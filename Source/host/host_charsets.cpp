// Charset names of the conversion service, for applications that check or list output charsets
// (and write a few labels of their own in one) without calling ICU themselves.
#include "host_conv_internal.h"
#include "host_internal.h"
#include "krm_host.h"

#include <unicode/ucnv.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>

#include <strings.h>

extern "C" {

KRM_EXPORT int32_t KRM_CharsetUsable(const char* name, uint32_t* unitSize) {
    if (name == nullptr || name[0] == '\0' || std::strlen(name) >= KRM_CHARSET_NAME_MAX) {
        return 0;
    }
    // Asked before every extraction: the thread's converter of that name, which the extraction
    // then converts with, answers without opening one (ICU's open and close take a process-wide
    // lock).
    const krm_host::conv::CachedConverter* converter = krm_host::conv::cachedConverter(name);
    if (converter == nullptr) {
        return 0;
    }
    if (unitSize != nullptr) {
        *unitSize = static_cast<uint32_t>(std::max<int8_t>(1, ucnv_getMinCharSize(converter->converter)));
    }
    return 1;
}

KRM_EXPORT int32_t KRM_CharsetIsUtf8(const char* name) {
    if (name == nullptr) {
        return 0;
    }
    UErrorCode status = U_ZERO_ERROR;
    const char* canonical = ucnv_getCanonicalName(name, "", &status);
    if (U_SUCCESS(status) && canonical != nullptr && std::strcmp(canonical, "UTF-8") == 0) {
        return 1;
    }
    return ::strcasecmp(name, "UTF-8") == 0 || ::strcasecmp(name, "UTF8") == 0 ? 1 : 0;
}

KRM_EXPORT void KRM_CharsetList(void (*each)(void* context, const char* name), void* context) {
    if (each == nullptr) {
        return;
    }
    // Every converter with all its names: the common ones ("EUC-JP") are aliases of ICU's own.
    std::set<std::string> given;
    const int32_t count = ucnv_countAvailable();
    for (int32_t i = 0; i < count; ++i) {
        const char* converter = ucnv_getAvailableName(i);
        if (converter == nullptr) {
            continue;
        }
        if (given.insert(converter).second) {
            each(context, converter);
        }
        UErrorCode status = U_ZERO_ERROR;
        const uint16_t aliases = ucnv_countAliases(converter, &status);
        for (uint16_t a = 0; U_SUCCESS(status) && a < aliases; ++a) {
            const char* alias = ucnv_getAlias(converter, a, &status);
            if (U_SUCCESS(status) && alias != nullptr && given.insert(alias).second) {
                each(context, alias);
            }
        }
    }
}

KRM_EXPORT int32_t KRM_ConvertFromUtf8(const char* charset, const char* text, size_t length, char* output,
                                       size_t capacity, size_t* produced) {
    if (produced != nullptr) {
        *produced = 0;
    }
    if (charset == nullptr || (text == nullptr && length != 0) || (output == nullptr && capacity != 0) ||
        length > INT32_MAX || capacity > INT32_MAX) {
        return krm_host::kFailed;
    }
    UErrorCode status = U_ZERO_ERROR;
    const int32_t written = ucnv_convert(charset, "UTF-8", output, static_cast<int32_t>(capacity), text,
                                         static_cast<int32_t>(length), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR || status == U_STRING_NOT_TERMINATED_WARNING) {
        if (produced != nullptr) {
            *produced = static_cast<size_t>(std::max(written, 0));
        }
        return status == U_STRING_NOT_TERMINATED_WARNING ? 0 : krm_host::kFailed;
    }
    if (U_FAILURE(status)) {
        return krm_host::kFailed;
    }
    if (produced != nullptr) {
        *produced = static_cast<size_t>(written);
    }
    return 0;
}

} // extern "C"
