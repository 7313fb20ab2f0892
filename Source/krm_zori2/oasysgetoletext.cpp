#include "krm_host.h"
#include "krm_zori2.h"

extern "C" {
KRM_EXPORT int32_t GetOleTextContent(uint32_t, uint32_t, SrcInfo*, HostOptions*, CallContext*) {
    return KRM_ERR_BROKEN;
}
KRM_EXPORT int32_t GetStreamInf(StreamListInfo*, StreamEntry*, uint32_t, uint32_t, HostOptions*, CallContext*) {
    return 0;
}
KRM_EXPORT uint32_t GetStreamCount(uint32_t, uint32_t*, StreamListInfo*) { return 0; }
KRM_EXPORT uint32_t GetStreamSize(uint32_t) { return 0; }
}
