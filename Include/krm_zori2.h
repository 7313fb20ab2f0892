/*
 * libkrm_zori2.so.5: text and property filter for documents of the OASYS word processor.
 *
 * A host calls GetTextWithErrCallback / GetText5WithErrCallback (text into a file),
 * GetTextStreamWithErrCallback (text into a host output stream) or GetProperty (properties into a
 * PropertyRecord). The other functions are the filter's building blocks, exported under their
 * own names for hosts and tools that drive the readers themselves.
 *
 * Every function returns plain codes (krm_types.h); none throws, prints, or keeps state between
 * calls. Calls on different documents may run at the same time.
 */
#ifndef KRM_ZORI2_H
#define KRM_ZORI2_H

#include "krm_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Entry points ------------------------------------------------------------------------- */

/* Text of the document at source into a new file at outputPath (created "wb"). formatCode names
 * the packaging (KRM_FORMAT_*). Returns 0 or a KRM_ERR_* code; the output file survives only on
 * 0 with text, or on KRM_ERR_OUTPUT_LIMIT. */
KRM_EXPORT int32_t GetTextWithErrCallback(const char* source, const char* outputPath, HostOptions* options,
                                          const uint16_t* formatCode, uint32_t hostValue);
/* As GetTextWithErrCallback; a non-null caller record supplies the log and the running output
 * total shared by several calls. */
KRM_EXPORT int32_t GetText5WithErrCallback(const char* source, const char* outputPath, HostOptions* options,
                                           const uint16_t* formatCode, CallerRecord* caller, uint32_t hostValue);
KRM_EXPORT int32_t GetTextWithErrCallbackSub(const char* source, const char* outputPath, HostOptions* options,
                                             const uint16_t* formatCode, CallerRecord* caller, uint32_t hostValue);
/* Text into the host output stream (KRM_WriteStream). Results other than 0, 12, 22, 3000, 3002
 * and 3005 are reported as 3003. */
KRM_EXPORT int32_t GetTextStreamWithErrCallback(const char* source, uint32_t outputStream, HostOptions* options,
                                                const uint16_t* formatCode, uint32_t hostValue);
/* Properties into the host's record (cleared first). */
KRM_EXPORT int32_t GetProperty(const char* source, HostOptions* options, PropertyRecord* record,
                               const uint16_t* formatCode);
/* KRM_FileRemoveIfSizeIsZero(path), unchanged. */
KRM_EXPORT int32_t kill0file(const char* path);

/* ---- Byte order and source access --------------------------------------------------------- */
KRM_EXPORT int32_t IsCPUBigEndian(void);
KRM_EXPORT uint16_t PPT_GetWordB(const uint8_t* buffer, int32_t hostOrderFlag);
KRM_EXPORT uint32_t PPT_GetDWordB(const uint8_t* buffer, int32_t hostOrderFlag);
KRM_EXPORT void PPT_PutWordB(uint8_t* buffer, uint16_t value, int32_t hostOrderFlag);
KRM_EXPORT void PPT_PutDWordB(uint8_t* buffer, uint32_t value, int32_t hostOrderFlag);
KRM_EXPORT uint16_t PPT_GetWordL(const uint8_t* buffer, int32_t hostOrderFlag);
KRM_EXPORT uint32_t PPT_GetDWordL(const uint8_t* buffer, int32_t hostOrderFlag);
KRM_EXPORT void PPT_PutWordL(uint8_t* buffer, uint16_t value, int32_t hostOrderFlag);
KRM_EXPORT void PPT_PutDWordL(uint8_t* buffer, uint32_t value, int32_t hostOrderFlag);
/* accessMode 0: plain file handle; otherwise a compound-file stream handle. */
KRM_EXPORT uint32_t KRM_fSeek(uint32_t source, uint32_t offset, int16_t origin, uint32_t accessMode);
KRM_EXPORT uint32_t KRM_fRead(uint8_t* buffer, uint16_t size, uint16_t count, uint32_t source, uint32_t accessMode);
KRM_EXPORT uint32_t GetDocSize(uint32_t file);

/* ---- Document header and containers -------------------------------------------------------- */
KRM_EXPORT uint32_t IsCorrectID(uint32_t file, uint32_t* position, int32_t width, uint32_t expected,
                                uint32_t hostOrderFlag);
KRM_EXPORT uint32_t havePassword(uint32_t source, uint32_t base, uint32_t accessMode);
KRM_EXPORT int32_t GetVe2Size(uint32_t file, uint32_t base, uint32_t* size, HostOptions* options,
                              CallContext* context);
KRM_EXPORT int32_t GetDocTextContent(uint32_t file, uint32_t outputFile, uint32_t* position, SrcInfo* srcInfo,
                                     HostOptions* options, CallContext* context);

/* The stream list "OasysStreamFileList" of a compound document. */
#define KRM_STREAM_LIST_NAME "OasysStreamFileList"
#define KRM_STREAM_NAME_MAX 15
typedef struct StreamListInfo {
    uint8_t listHeader[23];
    uint8_t streamCount;        /* non-zero when the declared count is not zero */
} StreamListInfo;
typedef struct StreamEntry {
    uint8_t leadBytes[4];
    char streamName[KRM_STREAM_NAME_MAX + 1];
    uint32_t streamType;        /* 1 body stream, 2 format stream */
} StreamEntry;
enum { KRM_STREAM_TYPE_BODY = 1, KRM_STREAM_TYPE_FORMAT = 2 };

KRM_EXPORT int32_t GetOleTextContent(uint32_t storage, uint32_t outputFile, SrcInfo* srcInfo, HostOptions* options,
                                     CallContext* context);
KRM_EXPORT int32_t GetStreamInf(StreamListInfo* info, StreamEntry* entry, uint32_t listStream, uint32_t wantedType,
                                HostOptions* options, CallContext* context);
KRM_EXPORT uint32_t GetStreamCount(uint32_t listStream, uint32_t* position, StreamListInfo* info);
KRM_EXPORT uint32_t GetStreamSize(uint32_t stream);

/* ---- Text decoder ------------------------------------------------------------------------- */
KRM_EXPORT int32_t GetTextContent(uint32_t source, uint32_t outputFile, uint32_t* position, SrcInfo* srcInfo,
                                  HostOptions* options, uint32_t accessMode, uint32_t firstBlockFlag,
                                  uint32_t bodySize, CallContext* context);

/* Character classes of GetCodeType. */
enum {
    CODE_INVALID = -1,
    CODE_IBM_EXT = 0,
    CODE_SINGLE = 1,
    CODE_DOUBLE = 2,
    CODE_USER_DEFINED = 3,
    CODE_OASYS_EXT = 4,
    CODE_RULED_LINE = 5,
    CODE_FC_SPECIAL = 7,
    CODE_CONTROL = 9,
    CODE_BLOCK_BREAK = 10,
    CODE_FRAME = 11,
    CODE_ARROW = 12,
    CODE_EOF = 26,
    CODE_CRLF = 3338
};
KRM_EXPORT int32_t GetCodeType(uint32_t source, uint8_t* characterBuffer, uint32_t* position, uint32_t accessMode);

/* Ruled-line and arrow mapping to JIS codes, appended to output at *outputLength. */
KRM_EXPORT void KeitoJis(const uint8_t* characterBuffer, uint8_t* output, uint32_t* outputLength,
                         uint32_t hostOrderFlag);
KRM_EXPORT void ArtoJisAr(const uint8_t* characterBuffer, uint8_t* output, uint32_t* outputLength,
                          uint32_t hostOrderFlag);
KRM_EXPORT extern const uint16_t kei1_table[30];
KRM_EXPORT extern const uint16_t kei2_table[63];
KRM_EXPORT extern const uint16_t kei3_table[31];
KRM_EXPORT extern const uint16_t kei4_table[30];
KRM_EXPORT extern const uint16_t jis_table[32];
KRM_EXPORT extern const uint16_t arrow1_table[4];
KRM_EXPORT extern const uint16_t arrow2_table[4];

/* ---- Conversion ---------------------------------------------------------------------------- */
/* 1 on success with *destinationLength set; 0 on failure. destination holds at least
 * KRM_CONV_DEST_CAPACITY (16388) bytes. */
KRM_EXPORT uint32_t CodeConvert(SrcInfo* srcInfo, HostOptions* options, const uint8_t* source, uint8_t* destination,
                                int32_t sourceLength, uint32_t* destinationLength, uint32_t firstConversionFlag,
                                CallContext* context);
/* 1 when the buffer holds a visible character; unitMode 0: Shift-JIS bytes, else UCS-2 (BE). */
KRM_EXPORT uint32_t CheckValidCode(const uint8_t* buffer, uint32_t length, uint32_t unitMode);

/* ---- Properties ---------------------------------------------------------------------------- */
KRM_EXPORT uint32_t GetKRMProperty(uint32_t source, uint32_t blockStart, SrcInfo* srcInfo, HostOptions* options,
                                   PropertyRecord* record, uint32_t accessMode, CallContext* context);
KRM_EXPORT int32_t GetOasSepProperty(uint32_t file, SrcInfo* srcInfo, HostOptions* options, PropertyRecord* record,
                                     CallContext* context);
KRM_EXPORT int32_t GetOasCombProperty(uint32_t file, SrcInfo* srcInfo, HostOptions* options, PropertyRecord* record,
                                      CallContext* context);
KRM_EXPORT int32_t GetOasCompProperty(const char* source, SrcInfo* srcInfo, HostOptions* options,
                                      PropertyRecord* record, const uint16_t* formatCode, CallContext* context);
/* Five packed-decimal bytes (YY MM DD hh mm) to the 20-byte Shift-JIS text YY年MM月DD日hh時mm分;
 * adds 20 to *length, writes no NUL. */
KRM_EXPORT void TimeConvert(const uint8_t* packed, uint8_t* output, int32_t* length);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* KRM_ZORI2_H */
