// What the entry points and the readers of this library share: the texts of their log lines and
// the two helpers that write them, the frame of one call (its log and its SrcInfo block, set up and
// released the same way by the file, stream and property entries), and the opening of the sources
// of each packaging together with the call of its reader. The file entry (oasysgettext.cpp) and
// the stream entry (ve2_stream.cpp) differ only in their output and in their clean-up.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "krm_host.h"
#include "krm_types.h"
#include "krm_zori2.h"

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
inline constexpr char kOpenStreamLabel[] = "Open stream: ";
inline constexpr char kCloseStreamLabel[] = "Close stream: ";

// Every run of the text decoder is bracketed by these two lines, whichever reader calls it.
inline constexpr char kDecoderStartText[] = "GetTextContent() starting\r\n";
inline constexpr char kDecoderEndText[] = "GetTextContent() end\r\n";

// Written by every caller of CodeConvert after the conversion, with the converted length.
inline constexpr char kConvertedText[] = "Codeconvert end , get dstBuff( %i bytes )\r\n";

// ---- File modes ---------------------------------------------------------------------------------
inline constexpr char kReadMode[] = "rb";
inline constexpr char kWriteMode[] = "wb";

// ---- Paths and names ----------------------------------------------------------------------------
using PathBuffer = std::array<char, KRM_PATH_MAX>;

// Copies at most limit characters of text to destination and returns their number. Unlike
// std::string_view::copy it has no throwing path, and no exception may leave the filter.
inline size_t copyChars(char* destination, std::string_view text, size_t limit) {
    const size_t count = std::min(text.size(), limit);
    std::memcpy(destination, text.data(), count);
    return count;
}

// ---- Log lines ----------------------------------------------------------------------------------
// Every text goes to the log of the call (its own or the one the host lent it), with the host's
// option flags, which decide whether anything is written at all.
inline void logText(const HostOptions& options, const CallContext& context, const char* text, int32_t value = 0) {
    krm_logfprintf(options.optionFlags, context.logHandle, text, value);
}

// A line that names a file or stream: label, path, line end, as three log calls (the path goes
// through the host's path printer, which writes it as it stands).
inline void logFileLine(const HostOptions& options, const CallContext& context, const char* label,
                        const char* path) {
    logText(options, context, label);
    krm_logfprint_path(options.optionFlags, context.logHandle, path);
    logText(options, context, kLineEnd);
}

// A step the log names (a reader, the decoder, a property variant, a host service) stands
// between its starting and its end line, whatever it returns.
template <typename Step>
auto logged(const HostOptions& options, const CallContext& context, const char* startText, const char* endText,
            Step step) {
    logText(options, context, startText);
    const auto result = step();
    logText(options, context, endText);
    return result;
}

// The text decoder on one body, as every reader runs it.
inline int32_t runDecoder(uint32_t source, uint32_t outputFile, uint32_t* position, SrcInfo* srcInfo,
                          HostOptions* options, uint32_t accessMode, uint32_t lengthWordBefore, uint32_t bodySize,
                          CallContext* context) {
    return logged(*options, *context, kDecoderStartText, kDecoderEndText, [&] {
        return GetTextContent(source, outputFile, position, srcInfo, options, accessMode, lengthWordBefore, bodySize,
                              context);
    });
}

// ---- SrcInfo texts ------------------------------------------------------------------------------
// The charset the conversion reads from; the name is cut to the field, which keeps its NUL.
inline void setSourceCharset(SrcInfo& srcInfo, std::string_view name) {
    const size_t count = copyChars(srcInfo.sourceCharset, name, sizeof srcInfo.sourceCharset - 1);
    srcInfo.sourceCharset[count] = '\0';
}

// The host's conversion parameter text, handed on to the conversion through SrcInfo.
inline void copyConversionParam(SrcInfo& srcInfo, const HostOptions& options) {
    const std::string_view param(options.conversionParam,
                                 strnlen(options.conversionParam, sizeof options.conversionParam));
    const size_t count = copyChars(srcInfo.conversionParam, param, sizeof srcInfo.conversionParam - 1);
    srcInfo.conversionParam[count] = '\0';
}

// ---- One call of an entry point ----------------------------------------------------------------
// The texts with which an entry point starts, logs its SrcInfo and ends successfully.
struct EntryTexts {
    const char* start;
    const char* srcInfoAllocated;
    const char* srcInfoFreed;
    const char* success;
};
inline constexpr EntryTexts kTextEntryTexts{kStartText, kSrcInfoAllocatedText, kSrcInfoFreedText, kSuccessText};

// What every entry point (file, stream, properties) holds from its set-up to its return: the
// CallContext, the log (the call's own, or the one the host lends through its CallerRecord) and
// the SrcInfo block. Each entry releases SrcInfo and the log at their places in its own release
// order; whatever an exit leaves is released when the frame ends, SrcInfo before the log, which is
// the order of every entry's early exits.
class CallFrame {
public:
    CallFrame(const HostOptions& options, const EntryTexts& texts) : options_(options), texts_(texts) {}
    ~CallFrame() {
        releaseSrcInfo();
        closeLog();
    }
    CallFrame(const CallFrame&) = delete;
    CallFrame& operator=(const CallFrame&) = delete;

    CallContext& context() { return context_; }
    SrcInfo* srcInfo() const { return srcInfo_; }

    // The call's own log, named after the given path with the filter's tag. Its handle is not
    // tested: the log service takes back whatever it gave.
    void openLog(const char* namedAfter);
    // The host's log from its CallerRecord: written to, never closed by the call.
    void borrowLog(CallerRecord& caller);

    // Writes the start line, then allocates and zeroes SrcInfo and logs its size. False when
    // memory is exhausted (nothing more logged); the entry then returns 12.
    bool begin();

    void log(const char* text, int32_t value = 0) const { logText(options_, context_, text, value); }
    void logFile(const char* label, const char* path) const { logFileLine(options_, context_, label, path); }

    // Frees SrcInfo and logs its size; nothing when it is already freed or was never taken.
    void releaseSrcInfo();
    // Closes the log when this call opened it, once.
    void closeLog();
    // The success line for code 0, then the log closed; the code is handed back.
    int32_t finish(int32_t code) {
        if (code == KRM_OK) log(texts_.success);
        closeLog();
        return code;
    }

private:
    const HostOptions& options_;
    const EntryTexts& texts_;
    CallContext context_{};
    SrcInfo* srcInfo_ = nullptr;
    bool ownLogOpen_ = false;
};

// ---- Sources and readers ------------------------------------------------------------------------
// The handles and names of one call's sources.
struct OpenSources {
    uint32_t plainFile = 0;       // the .DOC body (separated) or the combined file
    uint32_t formatFile = 0;      // the .FMT file (separated only)
    uint32_t storage = 0;         // the compound file
    uint32_t password = 0;        // havePassword's answer for the .FMT file
    PathBuffer bodyPath{};        // empty unless plainFile is the .DOC body of a separated document
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
