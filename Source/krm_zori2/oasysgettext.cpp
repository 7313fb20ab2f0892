#include "krm_host.h"
#include "krm_zori2.h"

// Placeholder until the entry points land.
extern "C" {
KRM_EXPORT int32_t GetTextWithErrCallbackSub(const char*, const char*, HostOptions*, const uint16_t*, CallerRecord*,
                                             uint32_t) { return KRM_ERR_BROKEN; }
KRM_EXPORT int32_t GetTextWithErrCallback(const char* s, const char* o, HostOptions* h, const uint16_t* f, uint32_t v) {
    return GetTextWithErrCallbackSub(s, o, h, f, nullptr, v);
}
KRM_EXPORT int32_t GetText5WithErrCallback(const char* s, const char* o, HostOptions* h, const uint16_t* f,
                                           CallerRecord* c, uint32_t v) {
    return GetTextWithErrCallbackSub(s, o, h, f, c, v);
}
KRM_EXPORT uint32_t KRM_fSeek(uint32_t, uint32_t, int16_t, uint32_t) { return 0; }
KRM_EXPORT uint32_t KRM_fRead(uint8_t*, uint16_t, uint16_t, uint32_t, uint32_t) { return 0; }
KRM_EXPORT uint32_t GetDocSize(uint32_t) { return 0; }
}
