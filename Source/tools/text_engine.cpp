#include "text_engine.h"

#include <unistd.h>

#include <algorithm>
#include <array>
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

// The lines of the text in a file, read back only for the message of a salvaged text.
uint64_t linesInFile(int fd, uint64_t size) {
    std::array<char, 65536> chunk;
    uint64_t lines = 0;
    for (uint64_t done = 0; done < size;) {
        const ssize_t got = ::pread(fd, chunk.data(), std::min<uint64_t>(chunk.size(), size - done), static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        lines += static_cast<uint64_t>(std::count(chunk.data(), chunk.data() + got, '\n'));
        done += static_cast<uint64_t>(got);
    }
    return lines;
}

oasys_options optionsOf(const TextRequest& request) {
    oasys_options options;
    oasys_options_init(&options);
    options.charset = request.charset.c_str();
    options.ruled_lines = request.ruledLines;
    options.max_bytes = request.maxBytes ? static_cast<int64_t>(*request.maxBytes) : -1;
    options.loop_guard = request.loopGuard;
    options.strict = request.strict;
    options.log_path = request.log ? request.log->c_str() : nullptr;
    return options;
}

// What liboasys said, as the tools tell it; lines() is asked only for a salvaged text.
TextResult textResultOf(oasys_status status, const oasys_result& result, const std::function<uint64_t()>& lines) {
    TextResult text;
    text.outcome = static_cast<Outcome>(status);
    if (result.filter_code != 0 || status == OASYS_OK) text.code = result.filter_code;
    text.keepText = status == OASYS_OK || status == OASYS_OUTPUT_LIMIT || (status == OASYS_BROKEN && result.bytes > 0);
    text.bytes = text.keepText ? result.bytes : 0;
    if (status == OASYS_OK) return text;
    text.cause = result.message;
    if (result.filter_code == kLoopGuardCode) text.cause += " (" + std::string(kLoopGuardOption) + " is set)";
    if (status == OASYS_BROKEN && text.keepText) text.cause += ", ending after line " + std::to_string(lines());
    return text;
}

} // namespace

TextResult extractText(Document& document, const TextRequest& request, const TextSink& sink) {
    const oasys_options options = optionsOf(request);
    LineCounter counter(sink);
    const TextSink counting = std::ref(counter);
    oasys_result result{};
    const oasys_status status = oasys_extract_to_callback(document.get(), writeToSink,
                                                          const_cast<TextSink*>(&counting), &options, &result);
    return textResultOf(status, result, [&] { return counter.lines(); });
}

TextResult extractTextToFile(Document& document, const TextRequest& request, int fd) {
    const oasys_options options = optionsOf(request);
    oasys_result result{};
    const oasys_status status = oasys_extract_to_new_file(document.get(), fd, &options, &result);
    return textResultOf(status, result, [&] { return linesInFile(fd, result.bytes); });
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
