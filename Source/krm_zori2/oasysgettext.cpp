// Text extraction into a text file: the exported entry points, the opening of the sources of each
// packaging (shared with the stream entry), and the source-access wrappers every reader uses.
//
// One call owns everything it touches: the log (unless the host lends one through its
// CallerRecord), the SrcInfo block, the output file and the source handles. It releases them in
// a fixed order on every exit and keeps the output file only when it holds text worth keeping.
#include <cstring>
#include <string_view>

#include "container_common.h"
#include "entry_common.h"
#include "format_block.h"
#include "krm_host.h"
#include "krm_zori2.h"
#include "separated_names.h"

namespace krm_entry {

namespace {

// Copies text into a fixed field, cut so that the NUL still fits; the field is NUL-filled.
void copyCut(char* field, size_t fieldSize, const char* text) {
    std::memset(field, 0, fieldSize);
    if (fieldSize > 0) {
        std::strncpy(field, text, fieldSize - 1);
    }
}

uint32_t openForReading(const char* path) { return KRM_FileOpen(path, kReadMode); }

// Every reader run is logged between a starting and an end line.
template <typename Reader>
int32_t bracketed(const ReaderArguments& arguments, const char* startText, const char* endText, Reader read) {
    return logged(*arguments.options, *arguments.context, startText, endText, read);
}

// Separated document: the .DOC body and the .FMT format file named after the host's path. The
// decoder runs only when the document is not protected and the body holds anything at all.
BranchOutcome readSeparated(const ReaderArguments& arguments, OpenSources& sources) {
    const HostOptions& options = *arguments.options;
    const CallContext& context = *arguments.context;

    // A name without room for an extension is as unusable as one without a known extension.
    if (!krm_names::copyName(sources.nameBuffer, arguments.source, krm_names::kExtensionLength) ||
        krm_names::nameMember(sources.nameBuffer, krm_names::Member::Body).match ==
            krm_names::MemberName::Match::None) {
        return {true, KRM_ERR_UNSUPPORTED};
    }
    sources.bodyPath = sources.nameBuffer;
    sources.plainFile = openForReading(sources.bodyPath.data());
    if (sources.plainFile == 0) {
        return {true, KRM_ERR_OPEN};
    }
    logFileLine(options, context, kOpenSourceLabel, sources.bodyPath.data());

    krm_names::nameMember(sources.nameBuffer, krm_names::Member::Format); // a body name always holds .DOC or .doc
    sources.formatFile = openForReading(sources.nameBuffer.data());
    if (sources.formatFile == 0) {
        KRM_FileClose(sources.plainFile);
        sources.plainFile = 0;
        return {true, KRM_ERR_OPEN};
    }
    logFileLine(options, context, kOpenFormatLabel, sources.nameBuffer.data());

    // Both questions are asked whatever the first answer is.
    sources.password =
        havePassword(sources.formatFile, krm_format_block::kStartOfFormatFile, krm_containers::kPlainFileAccess);
    const uint32_t bodySize = GetDocSize(sources.plainFile);
    if (sources.password != 0 || bodySize == 0) {
        return {false, KRM_OK};
    }
    constexpr uint32_t kNoLengthWordBefore = 0;
    return {false, runDecoder(sources.plainFile, arguments.outputFile, arguments.readPosition, arguments.srcInfo,
                              arguments.options, krm_containers::kPlainFileAccess, kNoLengthWordBefore, bodySize,
                              arguments.context)};
}

// Combined document: one plain file with the format and body parts.
BranchOutcome readCombined(const ReaderArguments& arguments, OpenSources& sources) {
    sources.plainFile = openForReading(arguments.source);
    if (sources.plainFile == 0) {
        return {true, KRM_ERR_OPEN};
    }
    logFileLine(*arguments.options, *arguments.context, kOpenSourceLabel, arguments.source);
    return {false, bracketed(arguments, "GetDocContent() starting\r\n", "GetDocContent() end\r\n", [&] {
                return GetDocTextContent(sources.plainFile, arguments.outputFile, arguments.readPosition,
                                         arguments.srcInfo, arguments.options, arguments.context);
            })};
}

// Compound document: an OLE compound file whose stream list names the format and body streams.
BranchOutcome readCompound(const ReaderArguments& arguments, OpenSources& sources) {
    sources.storage = KRM_2OLEopen(arguments.source);
    if (sources.storage == 0) {
        return {true, KRM_ERR_OPEN};
    }
    logFileLine(*arguments.options, *arguments.context, kOpenSourceLabel, arguments.source);
    return {false, bracketed(arguments, "GetOleTextContent() starting\r\n", "GetOleTextContent() end\r\n", [&] {
                return GetOleTextContent(sources.storage, arguments.outputFile, arguments.srcInfo, arguments.options,
                                         arguments.context);
            })};
}

} // namespace

void CallFrame::openLog(const char* namedAfter) {
    GetLogFileName(namedAfter, kLogTag, context_.logFileName);
    context_.logHandle = krm_logfopen(options_.optionFlags, context_.logFileName);
    ownLogOpen_ = true;
}

void CallFrame::borrowLog(CallerRecord& caller) {
    context_.callerRecord = &caller;
    context_.callerRecordSupplied = 1;
    context_.logHandle = caller.logHandle;
}

bool CallFrame::begin() {
    log(texts_.start);
    srcInfo_ = static_cast<SrcInfo*>(KRM_malloc(KRM_SRCINFO_SIZE));
    if (srcInfo_ == nullptr) {
        return false;
    }
    std::memset(srcInfo_, 0, KRM_SRCINFO_SIZE);
    log(texts_.srcInfoAllocated, KRM_SRCINFO_SIZE);
    return true;
}

void CallFrame::releaseSrcInfo() {
    if (srcInfo_ == nullptr) {
        return;
    }
    KRM_free(srcInfo_);
    srcInfo_ = nullptr;
    log(texts_.srcInfoFreed, KRM_SRCINFO_SIZE);
}

// The log is closed only by the call that opened it; a log lent by the host stays open.
void CallFrame::closeLog() {
    if (!ownLogOpen_) {
        return;
    }
    krm_logfclose(options_.optionFlags, context_.logHandle);
    ownLogOpen_ = false;
}

BranchOutcome openAndRead(uint16_t formatCode, const ReaderArguments& arguments, OpenSources& sources) {
    switch (formatCode) {
    case KRM_FORMAT_SEPARATED:
        return readSeparated(arguments, sources);
    case KRM_FORMAT_COMBINED:
        return readCombined(arguments, sources);
    case KRM_FORMAT_COMPOUND:
        return readCompound(arguments, sources);
    default:
        return {true, KRM_ERR_UNSUPPORTED};
    }
}

bool closePlainSources(OpenSources& sources, const char* source, const HostOptions& options,
                       const CallContext& context) {
    if (sources.plainFile != 0) {
        const int32_t closed = KRM_FileClose(sources.plainFile);
        sources.plainFile = 0;
        if (closed != 0) {
            closeSourcesQuietly(sources);
            return false;
        }
        const bool bodyPathDerived = sources.bodyPath[0] != '\0';
        logFileLine(options, context, kCloseSourceLabel, bodyPathDerived ? sources.bodyPath.data() : source);
    }
    if (sources.formatFile != 0) {
        const int32_t closed = KRM_FileClose(sources.formatFile);
        sources.formatFile = 0;
        if (closed != 0) {
            return false;
        }
        logFileLine(options, context, kCloseFormatLabel, sources.nameBuffer.data());
    }
    return true;
}

void closeStorage(OpenSources& sources, const char* source, const HostOptions& options, const CallContext& context) {
    if (sources.storage == 0) {
        return;
    }
    KRM_2OLEclose(sources.storage);
    sources.storage = 0;
    logFileLine(options, context, kCloseSourceLabel, source);
}

void closeSourcesQuietly(OpenSources& sources) {
    if (sources.storage != 0) {
        KRM_2OLEclose(sources.storage);
        sources.storage = 0;
    }
    for (uint32_t* file : {&sources.plainFile, &sources.formatFile}) {
        if (*file != 0) {
            KRM_FileClose(*file);
            *file = 0;
        }
    }
}

} // namespace krm_entry

namespace {

using namespace krm_entry;

// One text extraction into a file, from set-up to the returned code.
class TextExtraction {
public:
    TextExtraction(const char* source, const char* outputPath, HostOptions* options, CallerRecord* caller,
                   uint32_t hostValue)
        : source_(source), outputPath_(outputPath), options_(options), caller_(caller), hostValue_(hostValue) {}

    int32_t run(uint16_t formatCode) {
        takeLog();
        if (!frame_.begin()) {
            return KRM_ERR_NO_MEMORY;
        }
        frame_.context().hostValue = hostValue_;

        outputFile_ = KRM_FileOpen(outputPath_, kWriteMode);
        if (outputFile_ == 0) {
            return KRM_ERR_OPEN; // the frame frees SrcInfo and closes the log
        }
        frame_.logFile(kOpenOutputLabel, outputPath_);

        const ReaderArguments arguments{source_,  outputFile_, &readPosition_, frame_.srcInfo(),
                                        options_, &frame_.context()};
        const BranchOutcome outcome = openAndRead(formatCode, arguments, sources_);
        return outcome.refused ? refuse(outcome.code) : cleanUp(outcome.code);
    }

private:
    // With the host's record the call borrows its log and its output total; otherwise it uses a
    // zeroed record of its own that carries the output path, and a log named after that path.
    void takeLog() {
        if (caller_ != nullptr) {
            frame_.borrowLog(*caller_);
            return;
        }
        copyCut(ownRecord_.pathText, sizeof ownRecord_.pathText, outputPath_);
        frame_.context().callerRecord = &ownRecord_;
        frame_.openLog(outputPath_);
        ownRecord_.logHandle = frame_.context().logHandle;
    }

    // Closes the output and logs it; false when the close failed.
    bool closeOutput() {
        const int32_t closed = KRM_FileClose(outputFile_);
        outputFile_ = 0;
        if (closed != 0) {
            return false;
        }
        frame_.logFile(kCloseOutputLabel, outputPath_);
        return true;
    }

    // Output close failed: the file stays, as the host may still want what was written.
    int32_t failOnOutputClose() {
        frame_.closeLog();
        return KRM_ERR_BROKEN;
    }

    // Exit before any source was left open: the output file is removed again.
    int32_t refuse(int32_t code) {
        frame_.releaseSrcInfo();
        if (!closeOutput()) {
            return failOnOutputClose();
        }
        KRM_FileRemove(outputPath_);
        frame_.closeLog();
        return code;
    }

    int32_t cleanUp(int32_t code) {
        const HostOptions& options = *options_;
        const CallContext& context = frame_.context();
        frame_.releaseSrcInfo();
        if (!closeOutput()) {
            closeSourcesQuietly(sources_);
            return failOnOutputClose();
        }
        const int32_t emptyOutputRemoved = kill0file(outputPath_);
        closeStorage(sources_, source_, options, context);
        if (!closePlainSources(sources_, source_, options, context)) {
            frame_.closeLog();
            KRM_FileRemove(outputPath_);
            return KRM_ERR_BROKEN;
        }
        if (sources_.password != 0) {
            code = KRM_ERR_PASSWORD;
        }
        frame_.finish(code);
        // Text cut at the output limit is a result; any other failure leaves no output behind.
        if (code != KRM_OK && emptyOutputRemoved == 0 && code != KRM_ERR_OUTPUT_LIMIT) {
            KRM_FileRemove(outputPath_);
        }
        return code;
    }

    const char* source_;
    const char* outputPath_;
    HostOptions* options_;
    CallerRecord* caller_;
    uint32_t hostValue_;
    CallFrame frame_{*options_, kTextEntryTexts};
    CallerRecord ownRecord_{};
    uint32_t readPosition_ = 0;
    uint32_t outputFile_ = 0;
    OpenSources sources_{};
};

} // namespace

extern "C" {

KRM_EXPORT int32_t GetTextWithErrCallbackSub(const char* source, const char* outputPath, HostOptions* options,
                                             const uint16_t* formatCode, CallerRecord* caller, uint32_t hostValue) {
    // Without these there is nothing to log to, read or create.
    if (source == nullptr || outputPath == nullptr || options == nullptr || formatCode == nullptr) {
        return KRM_ERR_UNSUPPORTED;
    }
    TextExtraction extraction(source, outputPath, options, caller, hostValue);
    return extraction.run(*formatCode);
}

KRM_EXPORT int32_t GetTextWithErrCallback(const char* source, const char* outputPath, HostOptions* options,
                                          const uint16_t* formatCode, uint32_t hostValue) {
    return GetTextWithErrCallbackSub(source, outputPath, options, formatCode, nullptr, hostValue);
}

KRM_EXPORT int32_t GetText5WithErrCallback(const char* source, const char* outputPath, HostOptions* options,
                                           const uint16_t* formatCode, CallerRecord* caller, uint32_t hostValue) {
    return GetTextWithErrCallbackSub(source, outputPath, options, formatCode, caller, hostValue);
}

// Readers address a plain file (access mode 0) or a compound-file stream (any other mode) alike;
// these two send each seek and read to the matching host service and hand its result back.
KRM_EXPORT uint32_t KRM_fSeek(uint32_t source, uint32_t offset, int16_t origin, uint32_t accessMode) {
    if (accessMode == krm_containers::kPlainFileAccess) {
        return static_cast<uint32_t>(KRM_FileSeek(source, offset, static_cast<uint16_t>(origin)));
    }
    return KRM_2OLEseekStream(source, offset, origin);
}

KRM_EXPORT uint32_t KRM_fRead(uint8_t* buffer, uint16_t size, uint16_t count, uint32_t source, uint32_t accessMode) {
    if (accessMode == krm_containers::kPlainFileAccess) {
        return KRM_FileRead(buffer, size, count, source);
    }
    // One stream read moves at most 65535 bytes: the byte count is the product cut to 16 bits.
    const auto byteCount = static_cast<uint16_t>(static_cast<uint32_t>(size) * count);
    return KRM_2OLEreadStream(source, buffer, byteCount);
}

// The size of an open plain file; the position is left at its end, and callers seek before reading.
KRM_EXPORT uint32_t GetDocSize(uint32_t file) {
    KRM_FileSeek(file, 0, krm_containers::kSeekFromEnd);
    return KRM_FileTell(file);
}

} // extern "C"
