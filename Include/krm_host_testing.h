/*
 * Testing interface of our host library: make a chosen service fail at its n-th call, and count
 * the handles and blocks that are still open, so that tests can prove every call of the filter
 * releases everything it acquired. Not part of the real toolkit's interface.
 */
#ifndef KRM_HOST_TESTING_H
#define KRM_HOST_TESTING_H

#include "krm_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum KrmService {
    KRM_SVC_MALLOC = 0,
    KRM_SVC_FILE_OPEN,
    KRM_SVC_FILE_CLOSE,
    KRM_SVC_FILE_WRITE,
    KRM_SVC_WRITE_STREAM,
    KRM_SVC_OLE_OPEN,
    KRM_SVC_OLE_OPEN_STREAM,
    KRM_SVC_CONV_INIT,
    KRM_SVC_CONV_CHARSET,
    KRM_SVC_CONV_CONVERT,
    KRM_SVC_CUTSTR,
    KRM_SVC_SUMMARY_INFO,
    KRM_SVC_COUNT
} KrmService;

/* The n-th call of the service from now on (1 = the next one) fails as that service fails;
 * n = 0 disarms the switch. A switch fires once. */
KRM_EXPORT void KRMTest_FailAt(KrmService service, uint32_t n);
/* Disarms every switch. */
KRM_EXPORT void KRMTest_ResetFailures(void);

typedef struct KrmHostCounters {
    int32_t openFiles;
    int32_t openStorages;
    int32_t openStreams;   /* compound-file streams */
    int32_t openLogs;
    int32_t outstandingBlocks;
    int32_t outputStreams; /* host output streams created and not released */
} KrmHostCounters;

KRM_EXPORT KrmHostCounters KRMTest_Counters(void);
/* The number of calls made to a service since the program first called any function of this
 * interface (calls are not counted before, so that programs that never test pay nothing). */
KRM_EXPORT uint32_t KRMTest_CallCount(KrmService service);
/* Conversions initialised with cconvInitConvert and not yet ended with cconvTermConvert, counted
 * (as the calls are) from the program's first call of any function of this interface. */
KRM_EXPORT int32_t KRMTest_LiveConversions(void);

/* Bindings of names to descriptors (krm_host.h) created and not yet released. */
KRM_EXPORT int32_t KRMTest_LiveBindings(void);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* KRM_HOST_TESTING_H */
