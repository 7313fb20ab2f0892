#include "krm_host.h"
#include "krm_zori2.h"

extern "C" {
KRM_EXPORT uint32_t IsCorrectID(uint32_t, uint32_t*, int32_t, uint32_t, uint32_t) { return 0; }
KRM_EXPORT uint32_t havePassword(uint32_t, uint32_t, uint32_t) { return 0; }
KRM_EXPORT int32_t GetVe2Size(uint32_t, uint32_t, uint32_t*, HostOptions*, CallContext*) { return 0; }
KRM_EXPORT int32_t GetDocTextContent(uint32_t, uint32_t, uint32_t*, SrcInfo*, HostOptions*, CallContext*) {
    return KRM_ERR_BROKEN;
}
}
