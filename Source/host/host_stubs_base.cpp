// Placeholder file, storage, stream, memory, log and testing services until the real ones land.
#include "krm_host.h"
#include "krm_host_testing.h"
#include <cstdlib>

extern "C" {
KRM_EXPORT uint32_t KRM_FileOpen(const char*, const char*) { return 0; }
KRM_EXPORT int32_t KRM_FileClose(uint32_t) { return 0; }
KRM_EXPORT uint32_t KRM_FileRead(void*, uint32_t, uint32_t, uint32_t) { return 0; }
KRM_EXPORT uint32_t KRM_FileWrite(const void*, uint32_t, uint32_t, uint32_t) { return 0; }
KRM_EXPORT int32_t KRM_FileSeek(uint32_t, uint32_t, uint16_t) { return 0; }
KRM_EXPORT uint32_t KRM_FileTell(uint32_t) { return 0; }
KRM_EXPORT int32_t KRM_FileRemove(const char*) { return 0; }
KRM_EXPORT int32_t KRM_FileRemoveIfSizeIsZero(const char*) { return 0; }
KRM_EXPORT uint32_t KRM_2OLEopen(const char*) { return 0; }
KRM_EXPORT int32_t KRM_2OLEclose(uint32_t) { return 0; }
KRM_EXPORT uint32_t KRM_2OLEopenStream(uint32_t, const char*) { return 0; }
KRM_EXPORT int32_t KRM_2OLEcloseStream(uint32_t) { return 0; }
KRM_EXPORT uint32_t KRM_2OLEreadStream(uint32_t, void*, uint32_t) { return 0; }
KRM_EXPORT uint32_t KRM_2OLEseekStream(uint32_t, uint32_t, int16_t) { return 0; }
KRM_EXPORT int32_t KRM_WriteStream(uint32_t, uint32_t, const void*) { return -1; }
KRM_EXPORT uint32_t KRM_StreamCreateMemory(void) { return 0; }
KRM_EXPORT uint32_t KRM_StreamCreateFd(int) { return 0; }
KRM_EXPORT int32_t KRM_StreamGetMemory(uint32_t, const uint8_t**, size_t*) { return -1; }
KRM_EXPORT void KRM_StreamRelease(uint32_t) {}
KRM_EXPORT void* KRM_malloc(uint32_t size) { return std::malloc(size); }
KRM_EXPORT void KRM_free(void* p) { std::free(p); }
KRM_EXPORT void GetLogFileName(const char*, const char*, char* name) { name[0] = 0; }
KRM_EXPORT uint32_t krm_logfopen(uint32_t, const char*) { return 1; }
KRM_EXPORT int32_t krm_logfprintf(uint32_t, uint32_t, const char*, int32_t) { return 0; }
KRM_EXPORT int32_t krm_logfprint_path(uint32_t, uint32_t, const char*) { return 0; }
KRM_EXPORT int32_t krm_logfclose(uint32_t, uint32_t) { return 0; }
KRM_EXPORT void KRM_SetLogDirectory(const char*) {}
KRM_EXPORT void KRMTest_FailAt(KrmService, uint32_t) {}
KRM_EXPORT void KRMTest_ResetFailures(void) {}
KRM_EXPORT KrmHostCounters KRMTest_Counters(void) { return {}; }
KRM_EXPORT uint32_t KRMTest_CallCount(KrmService) { return 0; }
}
