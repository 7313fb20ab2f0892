#include "krm_host.h"
#include "krm_zori2.h"

extern "C" KRM_EXPORT int32_t GetTextStreamWithErrCallback(const char*, uint32_t, HostOptions*, const uint16_t*,
                                                           uint32_t) { return KRM_ERR_NO_TEXT; }
