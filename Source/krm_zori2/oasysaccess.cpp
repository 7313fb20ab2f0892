#include "krm_host.h"
#include "krm_zori2.h"

extern "C" {
KRM_EXPORT int32_t IsCPUBigEndian(void) { return 0; }
KRM_EXPORT uint16_t PPT_GetWordB(const uint8_t*, int32_t) { return 0; }
KRM_EXPORT uint32_t PPT_GetDWordB(const uint8_t*, int32_t) { return 0; }
KRM_EXPORT void PPT_PutWordB(uint8_t*, uint16_t, int32_t) {}
KRM_EXPORT void PPT_PutDWordB(uint8_t*, uint32_t, int32_t) {}
KRM_EXPORT uint16_t PPT_GetWordL(const uint8_t*, int32_t) { return 0; }
KRM_EXPORT uint32_t PPT_GetDWordL(const uint8_t*, int32_t) { return 0; }
KRM_EXPORT void PPT_PutWordL(uint8_t*, uint16_t, int32_t) {}
KRM_EXPORT void PPT_PutDWordL(uint8_t*, uint32_t, int32_t) {}
KRM_EXPORT int32_t kill0file(const char* path) { return KRM_FileRemoveIfSizeIsZero(path); }
}
