/*
 * Records that cross the interface between the host toolkit and the OASYS filter.
 *
 * Every record here is plain C with a fixed layout; the static assertions at the end pin the
 * sizes that hosts and stored option files rely on.
 */
#ifndef KRM_TYPES_H
#define KRM_TYPES_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define KRM_EXPORT __attribute__((visibility("default")))
#else
#define KRM_EXPORT
#endif

/* ---- Format codes: the packaging the host names for a document ---------------------------- */
enum {
    KRM_FORMAT_SEPARATED = 10000, /* .DOC body with its .FMT format file (and maybe a .GRP) */
    KRM_FORMAT_COMBINED = 10001,  /* one file holding the format part and the body part */
    KRM_FORMAT_COMPOUND = 10002   /* OLE compound file with an "OasysStreamFileList" stream */
};

/* ---- Return codes of the exported functions ------------------------------------------------ */
enum {
    KRM_OK = 0,
    KRM_ERR_NO_MEMORY = 12,       /* the per-call SrcInfo block could not be allocated */
    KRM_ERR_OPEN = 22,            /* a source, format, compound or output file could not be opened */
    KRM_ERR_WRITE = 24,           /* writing text to the output file or stream failed */
    KRM_ERR_BROKEN = 3000,        /* broken structure, failed read, conversion or close */
    KRM_ERR_PASSWORD = 3001,      /* the document is password-protected */
    KRM_ERR_UNSUPPORTED = 3002,   /* unknown format code or unusable file name */
    KRM_ERR_NO_TEXT = 3003,       /* no visible character in the body */
    KRM_ERR_OUTPUT_LIMIT = 3005,  /* maximum output size reached; text up to it was written */
    KRM_ERR_LOOP_GUARD = 3006     /* a loop guard passed its limit */
};

/* ---- Option flag bits of HostOptions.optionFlags ------------------------------------------- */
enum {
    KRM_OPT_RULED_LINES = 0x1,        /* ruled lines become JIS box-drawing codes, not spaces */
    KRM_OPT_LOG = 0x2,                /* our host writes the log only when this bit is set */
    KRM_OPT_CONV_VARIANT1 = 0x8,      /* conversion variants 1..5: the lowest set bit wins */
    KRM_OPT_CONV_VARIANT2 = 0x10,
    KRM_OPT_CONV_VARIANT3 = 0x20,
    KRM_OPT_CONV_VARIANT4 = 0x40,
    KRM_OPT_CONV_VARIANT5 = 0x80,
    KRM_OPT_CARRY_TOTAL = 0x4000,     /* running output total carried in the CallerRecord */
    KRM_OPT_LOOP_GUARD = 0x20000,     /* guarded loops stop after KRM_LOOP_GUARD_LIMIT passes */
    KRM_OPT_SIZE_LIMIT = 0x400000     /* HostOptions.maxOutputSize is enforced */
};

#define KRM_LOOP_GUARD_LIMIT 524288u /* 0x80000 */
#define KRM_PATH_MAX 1024            /* every path buffer of the filter and the host */
#define KRM_CHARSET_NAME_MAX 256

/* The host's option record, read-only to the filter (528 bytes). */
typedef struct HostOptions {
    char outputCharset[KRM_CHARSET_NAME_MAX];   /* destination charset name, NUL-terminated */
    char conversionParam[KRM_CHARSET_NAME_MAX]; /* conversion parameter text, see krm_host.h */
    uint32_t conversionOption;                  /* first word of the conversion parameters */
    uint32_t optionFlags;                       /* KRM_OPT_* bits; first argument of log calls */
    uint32_t reserved;
    uint32_t maxOutputSize;                     /* bytes, while KRM_OPT_SIZE_LIMIT is set */
} HostOptions;

/* The record a host may pass to GetText5WithErrCallback so that several calls share one log and
 * one running output total. The filter reads and updates it only during a call. */
typedef struct CallerRecord {
    char pathText[KRM_PATH_MAX];  /* in the filter's own record: the output text path */
    uint32_t runningOutputTotal;  /* bytes written so far under the host's limit */
    uint32_t logHandle;           /* a host log the host opened; never closed by the filter */
    uint32_t hostData;            /* not used by the filter */
} CallerRecord;

/* The per-call working record of every entry point. */
typedef struct CallContext {
    int32_t loopCounter1;         /* decoder main loop; GetVe2Size */
    int32_t loopCounter2;         /* decoder inner skip loops */
    int32_t loopCounter3;         /* combined part loop; stream-list entry loop */
    int32_t loopCounter4;         /* inner loops of the same two readers */
    uint32_t logHandle;
    char logFileName[KRM_PATH_MAX];
    uint32_t outputStreamHandle;  /* host output stream (stream entry only) */
    uint32_t outputMode;          /* KRM_OUTPUT_MODE_STREAM: text goes to the host stream */
    uint32_t hostValue;           /* the final argument of the exported function, kept only */
    CallerRecord* callerRecord;
    uint32_t callerRecordSupplied;
} CallContext;

enum { KRM_OUTPUT_MODE_FILE = 0, KRM_OUTPUT_MODE_STREAM = 1 };

/* The per-call source record, one KRM_malloc block of KRM_SRCINFO_SIZE bytes. */
#define KRM_SRCINFO_SIZE 532
typedef struct SrcInfo {
    char sourceCharset[KRM_CHARSET_NAME_MAX];   /* "OASYS_WIN", "ISO-10646-UCS-2", "WINDOWS31J" */
    char conversionParam[KRM_CHARSET_NAME_MAX]; /* copy of HostOptions.conversionParam */
    uint32_t hostOrderFlag;                     /* set by the combined-document reader */
    uint8_t reserved[16];
} SrcInfo;

/* Source charset names the filter hands to the conversion service. */
#define KRM_CHARSET_OASYS_WIN "OASYS_WIN"
#define KRM_CHARSET_UCS2 "ISO-10646-UCS-2"
#define KRM_CHARSET_WINDOWS31J "WINDOWS31J"

/* The host's property record: text slots at fixed byte offsets, each NUL-terminated by the
 * zero fill of the whole record. */
#define KRM_PROPERTY_RECORD_SIZE 26964
typedef struct PropertyRecord {
    uint8_t bytes[KRM_PROPERTY_RECORD_SIZE];
} PropertyRecord;

enum {
    KRM_PROP_TITLE = 0,             /* format block offset 11, 50 bytes */
    KRM_PROP_AUTHOR = 1028,         /* format block offset 1286, 30 bytes */
    KRM_PROP_KEYWORDS = 2056,       /* format block offset 1414, ten 20-byte entries joined ";" */
    KRM_PROP_CATEGORY = 3084,       /* format block offset 1398, 16 bytes */
    KRM_PROP_COMMENTS = 4112,       /* format block offset 1316, 80 bytes */
    KRM_PROP_MODIFIED = 8224,       /* format block offset 221, packed date-time */
    KRM_PROP_DOCUMENT_TYPE = 15444, /* "OASYS2文書", "OASYS2結合文書" or "OASYS2複合文書" */
    KRM_PROP_CREATED = 15700,       /* format block offset 216, packed date-time */
    KRM_PROP_LAST_AUTHOR = 15956,   /* format block offset 1638, 30 bytes */

    /* The size of each slot: it reaches up to the next slot, the last one up to the end of the
     * record. A text written into a slot is at most its size less one byte, so that the zero fill
     * of the record still ends it. The filter and our host's SummaryInfo fill the slots by these
     * sizes. */
    KRM_PROP_TITLE_SIZE = KRM_PROP_AUTHOR - KRM_PROP_TITLE,
    KRM_PROP_AUTHOR_SIZE = KRM_PROP_KEYWORDS - KRM_PROP_AUTHOR,
    KRM_PROP_KEYWORDS_SIZE = KRM_PROP_CATEGORY - KRM_PROP_KEYWORDS,
    KRM_PROP_CATEGORY_SIZE = KRM_PROP_COMMENTS - KRM_PROP_CATEGORY,
    KRM_PROP_COMMENTS_SIZE = KRM_PROP_MODIFIED - KRM_PROP_COMMENTS,
    KRM_PROP_MODIFIED_SIZE = KRM_PROP_DOCUMENT_TYPE - KRM_PROP_MODIFIED,
    KRM_PROP_DOCUMENT_TYPE_SIZE = KRM_PROP_CREATED - KRM_PROP_DOCUMENT_TYPE,
    KRM_PROP_CREATED_SIZE = KRM_PROP_LAST_AUTHOR - KRM_PROP_CREATED,
    KRM_PROP_LAST_AUTHOR_SIZE = KRM_PROPERTY_RECORD_SIZE - KRM_PROP_LAST_AUTHOR
};

#ifdef __cplusplus
} /* extern "C" */
#endif

#ifdef __cplusplus
static_assert(sizeof(HostOptions) == 528, "HostOptions layout");
static_assert(offsetof(HostOptions, maxOutputSize) == 524, "HostOptions layout");
static_assert(sizeof(SrcInfo) == KRM_SRCINFO_SIZE, "SrcInfo layout");
static_assert(offsetof(SrcInfo, hostOrderFlag) == 512, "SrcInfo layout");
static_assert(sizeof(PropertyRecord) == KRM_PROPERTY_RECORD_SIZE, "PropertyRecord layout");
static_assert(offsetof(CallerRecord, pathText) == 0, "CallerRecord: path text first");
#else
_Static_assert(sizeof(HostOptions) == 528, "HostOptions layout");
_Static_assert(sizeof(SrcInfo) == KRM_SRCINFO_SIZE, "SrcInfo layout");
_Static_assert(sizeof(PropertyRecord) == KRM_PROPERTY_RECORD_SIZE, "PropertyRecord layout");
#endif

#endif /* KRM_TYPES_H */
