#include "krm_host.h"
#include "krm_zori2.h"

extern "C" {
KRM_EXPORT int32_t GetProperty(const char*, HostOptions*, PropertyRecord*, const uint16_t*) { return KRM_ERR_BROKEN; }
KRM_EXPORT uint32_t GetKRMProperty(uint32_t, uint32_t, SrcInfo*, HostOptions*, PropertyRecord*, uint32_t,
                                   CallContext*) { return 0; }
KRM_EXPORT int32_t GetOasSepProperty(uint32_t, SrcInfo*, HostOptions*, PropertyRecord*, CallContext*) {
    return KRM_ERR_BROKEN;
}
KRM_EXPORT int32_t GetOasCombProperty(uint32_t, SrcInfo*, HostOptions*, PropertyRecord*, CallContext*) {
    return KRM_ERR_BROKEN;
}
KRM_EXPORT int32_t GetOasCompProperty(const char*, SrcInfo*, HostOptions*, PropertyRecord*, const uint16_t*,
                                      CallContext*) { return KRM_ERR_BROKEN; }
KRM_EXPORT void TimeConvert(const uint8_t*, uint8_t*, int32_t*) {}
}
