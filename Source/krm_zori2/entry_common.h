// What the two text entry points share: the texts of their log lines, the derivation of the
// .DOC/.FMT names of a separated document, and the opening of the sources of each packaging
// together with the call of its reader. The file entry (oasysgettext.cpp) and the stream entry
// (ve2_stream.cpp) differ only in their output and in their clean-up.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "krm_types.h"

namespace krm_entry {

// ---- Log texts --------------------------------------------------------------------------------
inline constexpr char kLogTag[] = "ve2";
inline constexpr char kStartText[] = "Lib krm_zori2 export function: GetText():\r\nStart operating .....\r\n";
inline constexpr char kSrcInfoAllocatedText[] = "Memory allocate for srcInfo: %i bytes\r\n";
inline constexpr char kSrcInfoFreedText[] = "Memory free for srcInfo: %i bytes\r\n";
inline constexpr char kSuccessText[] = "GetText() end successfully\r\n";
inline constexpr char kLineEnd[] = "\r\n";

inline constexpr char kOpenOutputLabel[] = "Open Txtfile: ";
inline constexpr char kCloseOutputLabel[] = "Close Txtfile: ";
inline constexpr char kOpenSourceLabel[] = "Open Appfile: ";
inline constexpr char kCloseSourceLabel[] = "Close Appfile: ";
inline constexpr char kOpenFormatLabel[] = "Open Fmtfile: ";
inline constexpr char kCloseFormatLabel[] = "Close Fmtfile: ";

// ---- File modes ---------------------------------------------------------------------------------
inline constexpr char kReadMode[] = "rb";
inline constexpr char kWriteMode[] = "wb";

// ---- Paths of a separated document ------------------------------------------------------------
using PathBuffer = std::array<char, KRM_PATH_MAX>;

// Every extension the name derivation puts in or looks for has four characters.
inline constexpr size_t kExtensionLength = 4;

// Copies source into name. False (name left empty) when the source, with room for a
// four-character extension and the NUL, does not fit the buffer: such a name is unusable.
bool copySourceName(PathBuffer& name, const char* source);

// The body (.DOC) name from the name the host gave: .FMT/.fmt/.GRP/.grp are swapped for
// .DOC/.doc at their first occurrence (the rest of the path dropped), a .DOC/.doc name is kept.
// False when the name holds none of the six markers.
bool deriveBodyName(PathBuffer& name);

// The format (.FMT) name from the body name: .DOC/.doc swapped for .FMT/.fmt at the first
// occurrence; any other name is left as it is.
void deriveFormatName(PathBuffer& name);

// Copies text into a fixed field, cut so that the NUL still fits; the field is NUL-filled.
void copyCut(char* field, size_t fieldSize, const char* text);

// ---- Log lines ----------------------------------------------------------------------------------
void logText(const HostOptions& options, const CallContext& context, const char* text, int32_t value = 0);
// A line that names a file: label, path, line end, as three log calls.
void logFileLine(const HostOptions& options, const CallContext& context, const char* label, const char* path);

// ---- SrcInfo ------------------------------------------------------------------------------------
// Allocates and zeroes the per-call SrcInfo and logs its size; null when memory is exhausted
// (nothing logged then).
SrcInfo* allocateSrcInfo(const HostOptions& options, const CallContext& context);
// Frees the block (when there is one), logs its size and clears the pointer.
void releaseSrcInfo(SrcInfo*& srcInfo, const HostOptions& options, const CallContext& context);

// ---- Sources and readers ------------------------------------------------------------------------
// The handles and names of one call's sources.
struct OpenSources {
    uint32_t plainFile = 0;       // the .DOC body (separated) or the combined file
    uint32_t formatFile = 0;      // the .FMT file (separated only)
    uint32_t storage = 0;         // the compound file
    bool bodyPathDerived = false; // plainFile is the body named in bodyPath
    uint32_t password = 0;        // havePassword's answer for the .FMT file
    PathBuffer bodyPath{};
    PathBuffer nameBuffer{};      // where the format path is derived
};

// What the branch of a format code came to: either refused before any source was left open
// (the caller takes its refusal exit with the code), or the reader ran and gave the code.
struct BranchOutcome {
    bool refused;
    int32_t code;
};

// Everything the readers are handed besides the sources.
struct ReaderArguments {
    const char* source;
    uint32_t outputFile;          // 0 when the text goes to the host stream
    uint32_t* readPosition;
    SrcInfo* srcInfo;
    HostOptions* options;
    CallContext* context;
};

// Opens the sources of the packaging that formatCode names, logs them and runs its reader.
// A refused outcome leaves no source open; otherwise sources holds what the caller must close.
BranchOutcome openAndRead(uint16_t formatCode, const ReaderArguments& arguments, OpenSources& sources);

// Closes the plain source file, then the format file, logging each close. False when a close
// failed: the other handles are closed then too, but nothing more is logged.
bool closePlainSources(OpenSources& sources, const char* source, const HostOptions& options,
                       const CallContext& context);

// Closes the compound storage when it is open (its result is not examined) and logs the close.
void closeStorage(OpenSources& sources, const char* source, const HostOptions& options, const CallContext& context);

// Closes whatever is still open without looking at the results (an exit that already failed).
void closeSourcesQuietly(OpenSources& sources);

} // namespace krm_entry
