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
        frame_.openLog(source_);
        if (!frame_.begin()) {
            return KRM_ERR_NO_MEMORY;
        }
        CallContext& context = frame_.context();
        context.outputMode = KRM_OUTPUT_MODE_STREAM;
        context.outputStreamHandle = outputStream_;
        context.hostValue = hostValue_;

        constexpr uint32_t kNoOutputFile = 0;
        const ReaderArguments arguments{source_, kNoOutputFile, &readPosition_, frame_.srcInfo(), options_, &context};
        const BranchOutcome outcome = openAndRead(formatCode, arguments, sources_);
        if (outcome.refused) {
            return outcome.code; // the frame frees SrcInfo and closes the log
        }
        // SrcInfo goes first, then whichever sources the branch opened: the compound storage
        // (its close result is not examined), or the plain body or combined file and the format
        // file, whose failed close fails the call.
        frame_.releaseSrcInfo();
        closeStorage(sources_, source_, *options_, context);
        if (!closePlainSources(sources_, source_, *options_, context)) {
            frame_.closeLog();
            return KRM_ERR_BROKEN;
        }
        return result(outcome.code);
    }

private:
    // The host's stream keeps whatever the decoder handed it, whatever the code.
    int32_t result(int32_t code) {
        if (sources_.password != 0) {
            code = KRM_ERR_PASSWORD;
        }
        frame_.finish(code);
        if (code == KRM_OK || code == KRM_ERR_OUTPUT_LIMIT) {
            return code;
        }
        return KRM_ERR_NO_TEXT;
    }

    const char* source_;
    uint32_t outputStream_;
    HostOptions* options_;
    uint32_t hostValue_;
    CallFrame frame_{*options_, kTextEntryTexts};
    uint32_t readPosition_ = 0;
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
