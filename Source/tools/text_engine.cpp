#include "text_engine.h"

#include <cerrno>

namespace oasys_tools {

namespace {

// The filter's code of the loop guard: the outcome is broken, the message names the option.
constexpr int32_t kLoopGuardCode = 3006;

int writeToSink(void* context, const void* data, size_t size) {
    return (*static_cast<const TextSink*>(context))(data, size) ? 0 : -1;
}

// "5 lines" of the text a sink took: where a salvaged text ends.
class LineCounter {
public:
    explicit LineCounter(const TextSink& sink) : sink_(sink) {}
    bool operator()(const void* data, size_t size) {
        const char* bytes = static_cast<const char*>(data);
        lines_ += static_cast<uint64_t>(std::count(bytes, bytes + size, '\n'));
        return sink_(data, size);
    }
    uint64_t lines() const { return lines_; }

private:
    const TextSink& sink_;
    uint64_t lines_ = 0;
};

} // namespace

TextResult extractText(Document& document, const TextRequest& request, const TextSink& sink) {
    oasys_options options;
    oasys_options_init(&options);
    options.charset = request.charset.c_str();
    options.ruled_lines = request.ruledLines;
    options.max_bytes = request.maxBytes ? static_cast<int64_t>(*request.maxBytes) : -1;
    options.loop_guard = request.loopGuard;
    options.strict = request.strict;
    options.log_path = request.log ? request.log->c_str() : nullptr;

    LineCounter counter(sink);
    const TextSink counting = std::ref(counter);
    oasys_result result{};
    const oasys_status status = oasys_extract_to_callback(document.get(), writeToSink,
                                                          const_cast<TextSink*>(&counting), &options, &result);
    TextResult text;
    text.outcome = static_cast<Outcome>(status);
    if (result.filter_code != 0 || status == OASYS_OK) text.code = result.filter_code;
    text.keepText = status == OASYS_OK || status == OASYS_OUTPUT_LIMIT || (status == OASYS_BROKEN && result.bytes > 0);
    if (status == OASYS_OK) return text;
    text.cause = result.message;
    if (result.filter_code == kLoopGuardCode) text.cause += " (" + std::string(kLoopGuardOption) + " is set)";
    if (status == OASYS_BROKEN && text.keepText)
        text.cause += ", ending after line " + std::to_string(counter.lines());
    return text;
}

PropertiesResult readProperties(Document& document, const std::string& charset) {
    oasys_options options;
    oasys_options_init(&options);
    options.charset = charset.c_str();
    PropertiesResult read;
    read.properties = std::make_unique<oasys_properties>();
    oasys_result result{};
    const oasys_status status = oasys_read_properties(document.get(), &options, read.properties.get(), &result);
    read.outcome = static_cast<Outcome>(status);
    if (status != OASYS_OK) {
        read.cause = result.message;
        read.properties.reset();
    }
    return read;
}

} // namespace oasys_tools
