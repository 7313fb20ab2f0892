#include "krm_host.h"
#include "krm_zori2.h"

extern "C" {
const uint16_t kei1_table[30] = {};
const uint16_t kei2_table[63] = {};
const uint16_t kei3_table[31] = {};
const uint16_t kei4_table[30] = {};
const uint16_t jis_table[32] = {};
const uint16_t arrow1_table[4] = {};
const uint16_t arrow2_table[4] = {};
KRM_EXPORT int32_t GetTextContent(uint32_t, uint32_t, uint32_t*, SrcInfo*, HostOptions*, uint32_t, uint32_t, uint32_t,
                                  CallContext*) { return KRM_ERR_BROKEN; }
KRM_EXPORT int32_t GetCodeType(uint32_t, uint8_t*, uint32_t*, uint32_t) { return CODE_INVALID; }
KRM_EXPORT void KeitoJis(const uint8_t*, uint8_t*, uint32_t*, uint32_t) {}
KRM_EXPORT void ArtoJisAr(const uint8_t*, uint8_t*, uint32_t*, uint32_t) {}
}
