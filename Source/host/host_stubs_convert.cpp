// Placeholder conversion, cutting and summary-information services until the ICU/libgsf versions land.
#include "krm_host.h"

extern "C" {
KRM_EXPORT int32_t cconvInitConvert(KrmConversionContext*, const KrmConversionParams*, const HostOptions*) { return 1; }
KRM_EXPORT int32_t cconvChgCharset(KrmConversionContext*, const KrmSourceCharsetRecord*, const SrcInfo*) { return 1; }
KRM_EXPORT int32_t cconvConvert(KrmConversionContext*) { return 1; }
KRM_EXPORT int32_t cconvTermConvert(KrmConversionContext*) { return 0; }
KRM_EXPORT uint32_t CutStr(const uint8_t*, uint32_t length, uint32_t, const HostOptions*) { return length; }
KRM_EXPORT int32_t SummaryInfo(const char*, const HostOptions*, PropertyRecord*, const uint16_t*) { return 3000; }
}
