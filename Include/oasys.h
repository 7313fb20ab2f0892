/*
 * liboasys: the application interface to documents of the OASYS word processor.
 *
 * One library for applications, tools and language bindings (plain C, usable through any foreign-
 * function interface): open a document by path, from memory or from a file descriptor, learn its
 * packaging and its password flag, extract its text into a file, a descriptor, a growing memory
 * buffer or a callback, and read its properties into a structure with named fields. Underneath it
 * drives the OASYS filter (libkrm_zori2) and its host library (libkrm_host) exactly as a host
 * does, so text and properties are byte for byte what the filter gives.
 *
 * Conventions
 * - Every function that can fail returns an oasys_status and, when given a non-null
 *   oasys_result, fills it: the status again, a message in English (UTF-8, never empty on
 *   failure), the filter's own return code and the system's errno where there is one.
 * - Statuses are one per outcome and carry the same numbers as the exit codes of the tools
 *   oasys2txt and oasysinfo, so a tool can exit with the status itself.
 * - Nothing is printed, nothing is thrown, and every call releases all it acquired from the host
 *   library before it returns. Documents are independent: different documents may be used from
 *   different threads at the same time; one document must not be used by two threads at once.
 * - Texts handed in (paths, charset names) are NUL-terminated byte strings; paths are taken as
 *   the system takes them (any bytes but NUL).
 */
#ifndef OASYS_H
#define OASYS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define OASYS_API __attribute__((visibility("default")))
#else
#define OASYS_API
#endif

/* ---- Statuses ---------------------------------------------------------------------------------
 * Ordered from mild to severe: with several documents, the highest status met is the one to
 * report. */
typedef enum oasys_status {
    OASYS_OK = 0,             /* done */
    OASYS_OUTPUT_LIMIT = 1,   /* the maximum output size was reached; the text up to it was kept */
    OASYS_NO_TEXT = 2,        /* the document holds no visible text */
    OASYS_PASSWORD = 3,       /* the document is password-protected */
    OASYS_NOT_OASYS = 4,      /* not an OASYS document (or a name the packaging cannot have) */
    OASYS_BROKEN = 5,         /* the document is damaged: broken structure, failed conversion, a
                                 loop guard passed its limit, or a compound file that cannot be
                                 opened */
    OASYS_UNREADABLE = 6,     /* the document or one of its files is missing or cannot be read */
    OASYS_OUTPUT_ERROR = 7,   /* the text could not be written (the system's reason in errno) */
    OASYS_BAD_ARGUMENT = 64   /* a null pointer, an unknown charset, a value out of range */
} oasys_status;

/* The word of a status in reports ("ok", "output-limit", "no-text", "password", "not-oasys",
 * "broken", "unreadable", "output-error", "usage") and a sentence describing it; both static
 * texts, never null ("unknown" for a number that is no status). */
OASYS_API const char* oasys_status_name(oasys_status status);
OASYS_API const char* oasys_status_description(oasys_status status);

/* ---- Packaging -------------------------------------------------------------------------------- */
typedef enum oasys_packaging {
    OASYS_PACKAGING_AUTO = 0,      /* when opening: detect it. As an answer: not known */
    OASYS_PACKAGING_SEPARATED = 1, /* a .DOC body with its .FMT format file (maybe a .GRP beside) */
    OASYS_PACKAGING_COMBINED = 2,  /* one file: F1 10 80 00, the format part and the body part */
    OASYS_PACKAGING_COMPOUND = 3   /* an OLE compound file with an "OasysStreamFileList" stream */
} oasys_packaging;

/* "auto", "separated", "combined", "compound"; null for anything else. */
OASYS_API const char* oasys_packaging_name(oasys_packaging packaging);
/* The packaging of a name above; 0 (not found) or 1 (found, *packaging set). */
OASYS_API int oasys_packaging_parse(const char* name, oasys_packaging* packaging);

/* ---- Results ---------------------------------------------------------------------------------- */
#define OASYS_MESSAGE_SIZE 512

typedef struct oasys_result {
    oasys_status status;
    int32_t filter_code;            /* the filter's return code (0 also when it was not called) */
    int system_error;               /* errno of the failing system call, 0 when none */
    oasys_packaging packaging;      /* the document's packaging when known, also on failure */
    uint64_t bytes;                 /* text bytes delivered to the sink by an extraction; with a
                                       damaged document salvaged: where its text ends */
    char message[OASYS_MESSAGE_SIZE]; /* what happened, UTF-8, NUL-terminated */
} oasys_result;

/* ---- Options ----------------------------------------------------------------------------------- */
typedef struct oasys_options {
    const char* charset;  /* output charset (any name of oasys_charset_list); null: "UTF-8" */
    int ruled_lines;      /* non-zero: ruled lines as box-drawing characters, not spaces */
    int64_t max_bytes;    /* text limit in bytes, 0 to 4294967295; negative (default): none */
    int loop_guard;       /* non-zero: every long loop of the filter stops after 524288 passes
                             (OASYS_BROKEN); off by default, as every scan ends at its source's end */
    int strict;           /* non-zero: a damaged document leaves no text in the sink. Default
                             (salvage): the text decoded before the damage is kept and the status
                             is still OASYS_BROKEN */
    const char* log_path; /* the filter's log of this call is written to exactly this file
                             (created or replaced); null: no log */
} oasys_options;

/* Defaults: UTF-8, no ruled lines, no limit, no loop guard, salvage, no log. */
OASYS_API void oasys_options_init(oasys_options* options);

/* ---- Documents ---------------------------------------------------------------------------------
 * A document keeps its sources open from the open to oasys_close, so what is read is what was
 * opened, even if the files are renamed or replaced meanwhile.
 *
 * By path: the packaging is detected from the first bytes (the OLE signature D0 CF 11 E0 A1 B1 1A
 * E1 means compound, but only with the "OasysStreamFileList" stream - without it the file is not
 * OASYS, and a file with that signature that cannot be opened as a compound file is broken;
 * F1 10 80 00 means combined), then from the name (.DOC, .FMT or .GRP in any case means
 * separated). A separated document may be named by any of its members in any case: "Report.Doc"
 * finds "Report.Fmt"; for each member the name in the same case as the given extension is taken
 * first, then all upper case, then all lower case, then any other case; only regular files (or
 * links to them) count. A member that is missing is reported when it is needed: the properties
 * need only the .FMT file, the text both.
 *
 * From memory: the bytes are copied; combined and compound documents are recognised by their
 * first bytes; a separated document comes as its two members.
 *
 * From a descriptor: the whole file from offset 0 (the descriptor's own offset is neither used nor
 * moved; a pipe or socket is read to its end once). The caller keeps its descriptors and closes
 * them when it likes.
 *
 * packaging OASYS_PACKAGING_AUTO detects; any other value is taken as given. */
typedef struct oasys_document oasys_document;

OASYS_API oasys_status oasys_open_path(const char* path, oasys_packaging packaging, oasys_document** document,
                                       oasys_result* result);
OASYS_API oasys_status oasys_open_memory(const void* data, size_t size, oasys_packaging packaging,
                                         oasys_document** document, oasys_result* result);
/* body may be null with body_size 0 when only the properties are wanted; format is needed. */
OASYS_API oasys_status oasys_open_separated_memory(const void* body, size_t body_size, const void* format,
                                                   size_t format_size, oasys_document** document,
                                                   oasys_result* result);
OASYS_API oasys_status oasys_open_fd(int fd, oasys_packaging packaging, oasys_document** document,
                                     oasys_result* result);
/* body_fd may be -1 when only the properties are wanted. */
OASYS_API oasys_status oasys_open_separated_fds(int body_fd, int format_fd, oasys_document** document,
                                                oasys_result* result);
/* Releases the document; null is allowed. */
OASYS_API void oasys_close(oasys_document* document);

OASYS_API oasys_packaging oasys_document_packaging(const oasys_document* document);

/* The password flag of the format block, read without extracting any text: *is_protected 1 or 0. */
OASYS_API oasys_status oasys_password_protected(oasys_document* document, int* is_protected,
                                                oasys_result* result);

/* ---- Text ---------------------------------------------------------------------------------------
 * Each extraction reads the document once. The status tells the exact outcome (password, no
 * visible text, damaged, write error ...) alongside whatever text was kept; result->bytes is the
 * number of text bytes delivered.
 *
 * What a sink receives: on OASYS_OK and OASYS_OUTPUT_LIMIT the text; on OASYS_BROKEN the text
 * decoded before the damage unless options->strict is set; on any other status nothing. */

/* Into a file. A regular file (or a new name) gets a new temporary file beside it, which is
 * renamed over it only when text is to be kept, so a failure leaves whatever stood at the path as
 * it was. A link to a regular file keeps the link and replaces its target the same way. A
 * destination that is not a regular file (a device, a named pipe) is written directly and never
 * removed or created; so is an existing file in a folder that takes no new file (rewritten only
 * once the text is to be kept). On OASYS_OK the file exists afterwards, empty or not. A new file gets the
 * permissions 0666 narrowed by the umask; a replaced one keeps its own. */
OASYS_API oasys_status oasys_extract_to_path(oasys_document* document, const char* path, const oasys_options* options,
                                             oasys_result* result);
/* Written at the descriptor's current position with write(2); the descriptor stays open. */
OASYS_API oasys_status oasys_extract_to_fd(oasys_document* document, int fd, const oasys_options* options,
                                           oasys_result* result);

/* Into a regular file the caller made for the text, such as a new temporary file it renames into
 * place itself: the filter writes straight into it, without the copy that the other sinks make.
 * fd is open for writing (not appending); the file's contents are replaced from offset 0 and the
 * descriptor's own position is neither used nor moved. When no text is kept the file is left empty,
 * and what becomes of it is the caller's choice. Anything but a regular file: OASYS_BAD_ARGUMENT. */
OASYS_API oasys_status oasys_extract_to_new_file(oasys_document* document, int fd, const oasys_options* options,
                                                 oasys_result* result);

/* A growing memory buffer. Initialise with {0}; an extraction appends; oasys_buffer_free releases
 * the memory (data is allocated with malloc and may also be released with free). data is
 * followed by four zero bytes when it is not null, so a text in any charset is terminated. */
typedef struct oasys_buffer {
    char* data;
    size_t size;
    size_t capacity;
} oasys_buffer;
OASYS_API oasys_status oasys_extract_to_buffer(oasys_document* document, oasys_buffer* buffer,
                                               const oasys_options* options, oasys_result* result);
OASYS_API void oasys_buffer_free(oasys_buffer* buffer);

/* A caller's writer: returns 0 when all size bytes were taken, anything else stops the extraction
 * with OASYS_OUTPUT_ERROR (set errno before returning to have it reported). */
typedef int (*oasys_write_fn)(void* context, const void* data, size_t size);
OASYS_API oasys_status oasys_extract_to_callback(oasys_document* document, oasys_write_fn write, void* context,
                                                 const oasys_options* options, oasys_result* result);

/* ---- Properties ---------------------------------------------------------------------------------
 * Texts are in the options' charset (UTF-8 by default), NUL-terminated (four zero bytes follow
 * the text, enough for any charset), length in bytes without the terminator; an empty text has
 * length 0. The same fields come from every packaging: a compound document's come from its
 * summary information. */
#define OASYS_PROPERTY_TEXT_SIZE 11012 /* the largest slot of the filter's record, with room for a terminator */

typedef struct oasys_text {
    size_t length;
    char text[OASYS_PROPERTY_TEXT_SIZE];
} oasys_text;

/* A stored date-time. Dates are stored with two-digit years: 80-99 are taken as 19xx, 00-79 as
 * 20xx. An all-zero stored date is no date: present 0 and its text empty. */
typedef struct oasys_date {
    int present;
    int year, month, day, hour, minute;
} oasys_date;

typedef struct oasys_properties {
    oasys_text title;
    oasys_text author;
    oasys_text keywords;       /* the keyword entries joined by ";", none after the last */
    oasys_text category;
    oasys_text comments;
    oasys_text last_author;
    oasys_text document_type;  /* "OASYS2文書", "OASYS2結合文書" or "OASYS2複合文書" */
    oasys_text created_text;   /* as stored: YY年MM月DD日hh時mm分 */
    oasys_text modified_text;
    oasys_date created;
    oasys_date modified;
    oasys_packaging packaging;
    int password_protected;
} oasys_properties;

/* Uses options->charset, options->loop_guard and options->log_path (options may be null). */
OASYS_API oasys_status oasys_read_properties(oasys_document* document, const oasys_options* options,
                                             oasys_properties* properties, oasys_result* result);

/* ---- Charsets ------------------------------------------------------------------------------------ */
/* 1 when the conversion service can write text in this charset, else 0. */
OASYS_API int oasys_charset_usable(const char* name);
/* 1 for a name of UTF-8 ("UTF-8", "utf8", ...). */
OASYS_API int oasys_charset_is_utf8(const char* name);
/* Bytes of the charset's smallest code unit: 2 for UTF-16, 4 for UTF-32, 1 otherwise. */
OASYS_API size_t oasys_charset_unit_size(const char* name);
/* Calls each(context, name) for every charset name the conversion service accepts, each once. */
typedef void (*oasys_name_fn)(void* context, const char* name);
OASYS_API oasys_status oasys_charset_list(oasys_name_fn each, void* context);
/* Appends UTF-8 text converted to the charset to the buffer (for labels written beside text). */
OASYS_API oasys_status oasys_text_from_utf8(const char* charset, const char* text, size_t length,
                                            oasys_buffer* buffer, oasys_result* result);

/* ---- Names in a batch over folders ----------------------------------------------------------------
 * The naming rules of a run over many documents, the same for every tool and binding. */

/* What a file found in a folder is, by its name: a .DOC body (any case) stands for its separated
 * document; a .FMT or .GRP file is read with its body and is no document of its own; any other
 * file is a document only if its first bytes say so. */
typedef enum oasys_name_role {
    OASYS_NAME_OTHER = 0,
    OASYS_NAME_BODY = 1,
    OASYS_NAME_MEMBER = 2
} oasys_name_role;
OASYS_API oasys_name_role oasys_name_role_of(const char* name);

/* The longest name of one file the file systems take, in bytes. */
#define OASYS_NAME_MAX 255

/* The file name of an output made for the document file `name` (one name, no folder): name + suffix
 * (".txt"), or, when that is longer than OASYS_NAME_MAX bytes, the name cut at a UTF-8 character
 * boundary and marked "~" plus eight hex digits of a hash of the whole name, so that different long
 * names stay apart. Written NUL-terminated into out (OASYS_NAME_MAX + 1 bytes are always enough);
 * returns its length, or 0 when an argument is null, out is too small or the suffix leaves no room. */
OASYS_API size_t oasys_output_name(const char* name, const char* suffix, char* out, size_t out_size);

/* ---- Version --------------------------------------------------------------------------------------
 * The project's version, "MAJOR.MINOR.PATCH", a static text. */
OASYS_API const char* oasys_version(void);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* OASYS_H */
