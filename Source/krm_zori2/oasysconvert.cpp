#include "krm_host.h"
#include "krm_zori2.h"

extern "C" {
KRM_EXPORT uint32_t CodeConvert(SrcInfo*, HostOptions*, const uint8_t*, uint8_t*, int32_t, uint32_t*, uint32_t,
                                CallContext*) { return 0; }
KRM_EXPORT uint32_t CheckValidCode(const uint8_t*, uint32_t, uint32_t) { return 0; }
}
