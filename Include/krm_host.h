/*
 * Host services the OASYS filter calls: plain files, OLE compound files, the host output stream,
 * memory, the per-call log, charset conversion, text cutting and compound-file summary
 * information. A real host toolkit provides these from its own service libraries; this project
 * ships libkrm_host.so.5, built on libgsf and ICU, in their place. Swapping that one library for
 * the toolkit's is all it takes to move the filter onto the real host.
 *
 * Handles are opaque non-zero 32-bit values (0 means failure / no handle). A handle that was
 * released, or one that no service gave out, is refused with the service's failure result; it is
 * never taken for another object.
 *
 * Threading: different handles may be used on different threads at the same time. One handle is
 * used by one thread at a time, from its open through its calls to its release, as with FILE's
 * unlocked calls: the services take no lock per call on a file or compound-file stream, so that a
 * seek inside the buffered window and a one- or two-byte read cost a few instructions (no lock, no
 * table search, no thread-local access, no system call, no allocation). A handle may move to
 * another thread between calls when the program hands it over with the usual synchronisation
 * (a mutex, a thread join). Streams of one storage may be read on different threads at the same
 * time; a storage may be closed while its streams are still open (they keep it alive).
 * Run the host tests under ThreadSanitizer with (GLib and libgsf are not instrumented, hence the
 * suppressions and GSlice on malloc):
 *   cmake -S . -B build-tsan -G Ninja -DKRM_SANITIZE=thread && ninja -C build-tsan test_host &&
 *   G_SLICE=always-malloc TSAN_OPTIONS=suppressions=$PWD/Tests/host/tsan.supp build-tsan/Tests/test_host
 */
#ifndef KRM_HOST_H
#define KRM_HOST_H

#include "krm_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Plain files ----------------------------------------------------------------------------
 * Reads are buffered: a seek inside the buffered window followed by a one-byte read costs no
 * system call, which is what the byte-at-a-time decoder needs. */

/* mode is an fopen mode ("rb", "wb", ...). Returns a handle, 0 when the file cannot be opened. */
KRM_EXPORT uint32_t KRM_FileOpen(const char* path, const char* mode);
/* 0 on success; any other value is a failed close. The handle is released either way. */
KRM_EXPORT int32_t KRM_FileClose(uint32_t file);
/* Element counts as fread counts them: whole elements only, fewer at the end of the file. */
KRM_EXPORT uint32_t KRM_FileRead(void* buffer, uint32_t size, uint32_t count, uint32_t file);
KRM_EXPORT uint32_t KRM_FileWrite(const void* buffer, uint32_t size, uint32_t count, uint32_t file);
/* origin 0: from the start, 1: from the current position, 2: from the end. 0 on success. */
KRM_EXPORT int32_t KRM_FileSeek(uint32_t file, uint32_t offset, uint16_t origin);
KRM_EXPORT uint32_t KRM_FileTell(uint32_t file);
/* 0 when the file was deleted. */
KRM_EXPORT int32_t KRM_FileRemove(const char* path);
/* Deletes the file only when it is empty: 1 when it was empty and deleted, 0 otherwise. */
KRM_EXPORT int32_t KRM_FileRemoveIfSizeIsZero(const char* path);

/* ---- OLE compound files ---------------------------------------------------------------------
 * Stream names compare case-insensitively, as compound files define them. A stream is served from
 * memory: up to 4 MiB it is read whole at its first read, above that in windows of 256 KiB, so a
 * byte of a stream costs what a byte of a plain file costs. */

/* Storage handle, or 0 when the file is not a readable compound file (never a message); errno is
 * ELIBACC after a 0 when the compound-file library itself cannot be loaded. */
KRM_EXPORT uint32_t KRM_2OLEopen(const char* path);
KRM_EXPORT int32_t KRM_2OLEclose(uint32_t storage);
/* Stream handle of a top-level stream, 0 when there is no such stream. */
KRM_EXPORT uint32_t KRM_2OLEopenStream(uint32_t storage, const char* name);
KRM_EXPORT int32_t KRM_2OLEcloseStream(uint32_t stream);
/* Bytes read (fewer at the end of the stream). */
KRM_EXPORT uint32_t KRM_2OLEreadStream(uint32_t stream, void* buffer, uint32_t count);
/* origin 0 from the start, 2 from the end. Returns the new position from the stream start (so a
 * seek of 0 from the end yields the stream size); a failed seek returns the unchanged position. */
KRM_EXPORT uint32_t KRM_2OLEseekStream(uint32_t stream, uint32_t offset, int16_t origin);

/* ---- Host output stream ---------------------------------------------------------------------
 * A host application creates a stream, hands its handle to GetTextStreamWithErrCallback, and
 * releases it afterwards. */

/* -1 on failure, the byte count otherwise. */
KRM_EXPORT int32_t KRM_WriteStream(uint32_t stream, uint32_t count, const void* buffer);
/* A stream that collects the bytes in memory. */
KRM_EXPORT uint32_t KRM_StreamCreateMemory(void);
/* A stream that writes to an open file descriptor (not closed on release). */
KRM_EXPORT uint32_t KRM_StreamCreateFd(int fd);
/* Bytes collected by a memory stream; the pointer stays valid until the next write or release.
 * 0 on success, -1 for an unknown handle or a stream that is not a memory stream. */
KRM_EXPORT int32_t KRM_StreamGetMemory(uint32_t stream, const uint8_t** data, size_t* length);
KRM_EXPORT void KRM_StreamRelease(uint32_t stream);

/* ---- Memory ---------------------------------------------------------------------------------- */
KRM_EXPORT void* KRM_malloc(uint32_t size);
KRM_EXPORT void KRM_free(void* block);

/* ---- Log --------------------------------------------------------------------------------------
 * Our convention: a log is written only when KRM_OPT_LOG (0x2) is set in the option flags given
 * to each call. The log file name is the given path followed by "." tag ".log" (so
 * "out.txt.ve2.log"); when a host application has set a log directory with KRM_SetLogDirectory,
 * the same file name (without the path's folders) is placed in that directory. Each text is
 * written exactly as given, "%i" replaced by the integer, nothing added. A log that cannot be
 * opened still yields a handle, which later calls accept and ignore. With KRM_OPT_LOG clear in the
 * flags given to krm_logfprintf or krm_logfprint_path, the call returns 0 at once without looking
 * at the handle. */

/* name receives at most KRM_PATH_MAX bytes, NUL included; a name that would not fit is cut. */
KRM_EXPORT void GetLogFileName(const char* path, const char* tag, char* name);
KRM_EXPORT uint32_t krm_logfopen(uint32_t optionFlags, const char* name);
KRM_EXPORT int32_t krm_logfprintf(uint32_t optionFlags, uint32_t log, const char* format, int32_t value);
KRM_EXPORT int32_t krm_logfprint_path(uint32_t optionFlags, uint32_t log, const char* path);
KRM_EXPORT int32_t krm_logfclose(uint32_t optionFlags, uint32_t log);
/* Host-level setting: directory for every log file opened afterwards (NULL or "" resets). */
KRM_EXPORT void KRM_SetLogDirectory(const char* directory);

/* ---- Charset conversion -----------------------------------------------------------------------
 * One conversion is cconvInitConvert, cconvChgCharset, cconvConvert, cconvTermConvert on a
 * KRM_CONV_CONTEXT_SIZE-byte context that the caller owns for that one conversion.
 *
 * Source charsets: "OASYS_WIN" (OASYS body text: Windows-31J for every code it defines, the
 * user-defined area 0xF040-0xF9FC to the Private Use Area U+E000-U+E757, every other code - OASYS's
 * own two-byte codes with lead bytes 0xEB-0xEF or 0xA0, 0xFCA8-0xFCC8 - to U+3013 once per
 * two-byte code), "WINDOWS31J" (property texts; 0xA0 is a single byte there) and
 * "ISO-10646-UCS-2" (UCS-2, high byte first). Single bytes 0x00-0x7F stay themselves (CR, LF, 0x1A,
 * 0x1C and 0x7F included); a byte without a character (0x80, 0xFD-0xFF, a lead byte without its
 * trail byte, half a UCS-2 unit) becomes U+3013. Any other name ICU knows is accepted as a source.
 * Output charsets: every name ICU accepts (UTF-8, UTF-16LE, Shift_JIS, EUC-JP, ISO-2022-JP, ...);
 * an unknown or empty name makes cconvInitConvert fail. Half-width kana written to ISO-2022-JP
 * become full-width.
 * Substitution: a character the output charset lacks becomes KrmConversionParams.substitute1 when
 * it is not 0, else U+3013 where the charset has it, else the charset's own substitution bytes
 * (0x1A in ISO-8859-1).
 * Capacity: cconvConvert writes at most request.capacity bytes; a result that does not fit fails
 * (non-zero), with request.convertedLength holding the bytes that were written.
 * Converters are cached per thread and charset name, so a conversion costs no converter opening;
 * the context holds only pointers to them, and a conversion must run on the thread that
 * initialised it. cconvTermConvert releases nothing but must still follow every successful init.
 *
 * Conversion parameter text (HostOptions.conversionParam, copied into the parameters): our host
 * reads nothing from it today; any value is accepted and ignored.
 * Conversion variants (option bits 0x8..0x80, KrmConversionParams.variant 1..5, 0 for none):
 * accepted and ignored by our host, as are unknown values; every variant converts the same way.
 * conversionOption and firstConversion are likewise carried and not interpreted. */

#define KRM_CONV_DEST_CAPACITY 16388
#define KRM_CONV_CONTEXT_SIZE 4284
#define KRM_CONV_PARAM_TEXT_SIZE 1024

typedef struct KrmConversionParams {
    uint32_t conversionOption;  /* HostOptions.conversionOption, unchanged */
    uint32_t firstConversion;   /* 1 for the first conversion of a decoder call */
    uint32_t one;               /* 1 */
    uint16_t substitute1;       /* 0x003F for exactly "ISO-8859-1", else 0 (charset's own) */
    uint16_t substitute2;       /* the same value */
    char paramText[KRM_CONV_PARAM_TEXT_SIZE];
    uint32_t one2;              /* 1 */
    uint32_t variant;           /* 0..5 */
    uint32_t zero;              /* 0 */
} KrmConversionParams;

typedef struct KrmSourceCharsetRecord {
    uint32_t words[3];          /* 1, 0, 1 */
} KrmSourceCharsetRecord;

/* The conversion request at the start of the context. Its eight slots are those of the original
 * 32-bit word layout; the two address slots are pointer-sized so that 64-bit addresses fit. */
typedef struct KrmConversionRequest {
    const uint8_t* source;
    uint32_t reserved1;         /* 0 */
    uint32_t sourceLength;
    uint32_t reserved3;         /* 0 */
    uint8_t* destination;
    uint32_t convertedLength;   /* 0 on entry; bytes produced */
    uint32_t capacity;          /* KRM_CONV_DEST_CAPACITY */
    uint32_t reserved7;         /* 0 */
} KrmConversionRequest;

typedef union KrmConversionContext {
    KrmConversionRequest request;
    uint8_t bytes[KRM_CONV_CONTEXT_SIZE]; /* rounded up to pointer alignment on 64-bit */
} KrmConversionContext;

/* Each returns 0 on success. */
KRM_EXPORT int32_t cconvInitConvert(KrmConversionContext* context, const KrmConversionParams* params,
                                    const HostOptions* options);
KRM_EXPORT int32_t cconvChgCharset(KrmConversionContext* context, const KrmSourceCharsetRecord* record,
                                   const SrcInfo* srcInfo);
KRM_EXPORT int32_t cconvConvert(KrmConversionContext* context);
KRM_EXPORT int32_t cconvTermConvert(KrmConversionContext* context);

/* ---- Text cutting ---------------------------------------------------------------------------
 * The longest prefix of whole characters of the output charset that fits in room bytes (length
 * itself when it fits). For a stateful charset (ISO-2022-JP) the kept characters are written again
 * in place, followed by the sequence back to the initial state (ESC ( B), all within the room, so
 * the cut piece can be written as it is. A failure (unknown charset, undecodable text) returns
 * 0xFFFFFFFF, more than any room but the largest. */
KRM_EXPORT uint32_t CutStr(uint8_t* text, uint32_t length, uint32_t room, const HostOptions* options);

/* ---- Summary information of compound files --------------------------------------------------
 * Fills the PropertyRecord slots title, author, keywords (the summary's text as is), comments,
 * last-saved date, creation date and last author from the "\005SummaryInformation" stream, and the
 * category from "\005DocumentSummaryInformation" when it has one, converted to the output charset;
 * dates (UTC) as YY年MM月DD日hh時mm分. Those slots are cleared first; an unset property or a zero
 * date leaves its slot empty. Each text is cut on a character boundary so that it and a
 * terminator of the output charset fit before the next slot. The document-type slot and every
 * other byte are left alone.
 * 0 on success (also when the file has no summary information), 22 when the file cannot be
 * opened as a compound file, 3000 when the property set is damaged or a conversion fails. */
KRM_EXPORT int32_t SummaryInfo(const char* path, const HostOptions* options, PropertyRecord* record,
                               const uint16_t* formatCode);

/* ---- Bound names ----------------------------------------------------------------------------
 * The filter takes its sources and its output only by path, finds the members of a separated
 * document by their names, and accepts only ".DOC"/".FMT"/".GRP" in all upper or all lower case.
 * A host application that holds open descriptors instead (a document opened once, a document in
 * memory as a memfd, a temporary output file) binds each to a name under a prefix of its own and
 * hands the filter prefix + name:
 *   - KRM_FileOpen of a bound name gives a handle on the bound descriptor's file from offset 0,
 *     with the mode asked ("wb" truncates the bound file): a duplicate of the descriptor, read and
 *     written at the handle's own positions, when the descriptor is a regular file opened for
 *     what the mode asks (not in append, direct or path-only mode) and the mode is neither append
 *     nor exclusive; otherwise the file opened afresh through /proc/self/fd. KRM_2OLEopen and
 *     SummaryInfo read a bound compound file of up to 1 MiB whole from the descriptor at explicit
 *     offsets, and open a larger one afresh. Either way the descriptor's own offset never moves,
 *     and two handles on one bound name never disturb each other;
 *   - KRM_FileRemove of a bound name removes nothing (returns 0), KRM_FileRemoveIfSizeIsZero
 *     answers as for a file but removes nothing: the application decides what becomes of its
 *     files;
 *   - a name under a live prefix that was not bound opens nothing, so the filter reads exactly the
 *     members it was given;
 *   - GetLogFileName of a bound name gives the binding's log path when one was set.
 * The descriptor must be a regular file or a memfd and stay open until the binding is released;
 * the binding never closes it. Bindings are safe to use from several threads; the hooks cost one
 * comparison on paths that are not bound. */

#define KRM_BINDING_PREFIX_MAX 64

/* A new binding; its prefix ("/krm-bound/<n>/", NUL-terminated) is written to prefix, which
 * holds size bytes (at least KRM_BINDING_PREFIX_MAX). Returns its handle, 0 on failure. */
KRM_EXPORT uint32_t KRM_BindingCreate(char* prefix, size_t size);
/* Binds prefix + name to the descriptor. name holds no '/' and is not yet bound. 0 on success. */
KRM_EXPORT int32_t KRM_BindingAddFd(uint32_t binding, const char* name, int fd);
/* The file that GetLogFileName names for any bound name of this binding (null or "": none). */
KRM_EXPORT int32_t KRM_BindingSetLog(uint32_t binding, const char* logPath);
KRM_EXPORT void KRM_BindingRelease(uint32_t binding);

/* ---- Charset names ---------------------------------------------------------------------------
 * What the conversion service can write, for applications that check or list charsets without
 * calling the conversion library themselves. */

/* 1 when the name is accepted as an output charset (and fits HostOptions), else 0; *unitSize (may
 * be null) receives the bytes of its smallest code unit (2 for UTF-16, 4 for UTF-32, else 1). */
KRM_EXPORT int32_t KRM_CharsetUsable(const char* name, uint32_t* unitSize);
/* 1 for a name of UTF-8. */
KRM_EXPORT int32_t KRM_CharsetIsUtf8(const char* name);
/* each(context, name) for every accepted name (each converter and its aliases), each name once. */
KRM_EXPORT void KRM_CharsetList(void (*each)(void* context, const char* name), void* context);
/* UTF-8 text converted to the charset into output (capacity bytes). 0 on success with *produced
 * set; -1 when the charset is unknown or the text does not fit (*produced then holds the bytes
 * needed when known, else 0). */
KRM_EXPORT int32_t KRM_ConvertFromUtf8(const char* charset, const char* text, size_t length, char* output,
                                       size_t capacity, size_t* produced);

#ifdef __cplusplus
} /* extern "C" */
static_assert(sizeof(KrmConversionParams) == 1052, "conversion parameter layout");
static_assert(offsetof(KrmConversionParams, paramText) == 16, "conversion parameter layout");
static_assert(offsetof(KrmConversionParams, one2) == 1040, "conversion parameter layout");
static_assert(offsetof(KrmConversionParams, variant) == 1044, "conversion parameter layout");
static_assert(sizeof(KrmSourceCharsetRecord) == 12, "source charset record layout");
static_assert(sizeof(KrmConversionContext) >= KRM_CONV_CONTEXT_SIZE, "conversion context size");
#endif

#endif /* KRM_HOST_H */
