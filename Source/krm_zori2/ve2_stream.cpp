// Text extraction into an output stream that the host owns.
//
// The sources, names and readers are those of the file entry; what differs is the output (the
// decoder writes through KRM_WriteStream, there is no output file to create, keep or remove), the
// log (always this call's own, named after the source) and the codes the host sees: every reader
// failure other than the output limit reaches the host as "no text".
#include <cstdint>

#include "entry_common.h"
#include "krm_host.h"
#include "krm_zori2.h"

namespace {

using namespace krm_entry;

class StreamExtraction {
public:
    StreamExtraction(const char* source, uint32_t outputStream, HostOptions* options, uint32_t hostValue)
        : source_(source), outputStream_(outputStream), options_(options), hostValue_(hostValue) {}

    int32_t run(uint16_t formatCode) {
        GetLogFileName(source_, kLogTag, context_.logFileName);
        context_.logHandle = krm_logfopen(options_->optionFlags, context_.logFileName);
        logText(*options_, context_, kStartText);
        srcInfo_ = allocateSrcInfo(*options_, context_);
        if (srcInfo_ == nullptr) {
            closeLog();
            return KRM_ERR_NO_MEMORY;
        }
        context_.outputMode = KRM_OUTPUT_MODE_STREAM;
        context_.outputStreamHandle = outputStream_;
        context_.hostValue = hostValue_;

        constexpr uint32_t kNoOutputFile = 0;
        const ReaderArguments arguments{source_, kNoOutputFile, &readPosition_, srcInfo_, options_, &context_};
        const BranchOutcome outcome = openAndRead(formatCode, arguments, sources_);
        if (outcome.refused) {
            return refuse(outcome.code);
        }
        // SrcInfo goes first, then whichever sources the branch opened: the compound storage
        // (its close result is not examined), or the plain body or combined file and the format
        // file, whose failed close fails the call.
        releaseSrcInfo(srcInfo_, *options_, context_);
        closeStorage(sources_, source_, *options_, context_);
        if (!closePlainSources(sources_, source_, *options_, context_)) {
            closeLog();
            return KRM_ERR_BROKEN;
        }
        return result(outcome.code);
    }

private:
    void closeLog() { krm_logfclose(options_->optionFlags, context_.logHandle); }

    int32_t refuse(int32_t code) {
        releaseSrcInfo(srcInfo_, *options_, context_);
        closeLog();
        return code;
    }

    // The host's stream keeps whatever the decoder handed it, whatever the code.
    int32_t result(int32_t code) {
        if (sources_.password != 0) {
            code = KRM_ERR_PASSWORD;
        }
        if (code == KRM_OK) {
            logText(*options_, context_, kSuccessText);
            closeLog();
            return KRM_OK;
        }
        closeLog();
        return code == KRM_ERR_OUTPUT_LIMIT ? KRM_ERR_OUTPUT_LIMIT : KRM_ERR_NO_TEXT;
    }

    const char* source_;
    uint32_t outputStream_;
    HostOptions* options_;
    uint32_t hostValue_;
    CallContext context_{};
    uint32_t readPosition_ = 0;
    SrcInfo* srcInfo_ = nullptr;
    OpenSources sources_{};
};

} // namespace

extern "C" KRM_EXPORT int32_t GetTextStreamWithErrCallback(const char* source, uint32_t outputStream,
                                                           HostOptions* options, const uint16_t* formatCode,
                                                           uint32_t hostValue) {
    // Without these there is nothing to log to or read.
    if (source == nullptr || options == nullptr || formatCode == nullptr) {
        return KRM_ERR_UNSUPPORTED;
    }
    StreamExtraction extraction(source, outputStream, options, hostValue);
    return extraction.run(*formatCode);
}
