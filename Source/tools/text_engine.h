// The tools' two questions of an open document, its text and its properties, asked of liboasys.
// Every outcome comes back as one value with its cause; the text goes to the caller's sink, which
// does its own writing (so that a failed write keeps the system's reason).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "documents.h"

namespace oasys_tools {

struct TextRequest {
    std::string charset = "UTF-8";
    bool ruledLines = false;
    bool loopGuard = false;
    bool strict = false; // a damaged document gives no text at all
    std::optional<uint32_t> maxBytes;
    std::optional<fs::path> log; // the filter's log of this extraction goes to exactly this file
};

struct TextResult {
    Outcome outcome = Outcome::Ok;
    std::optional<int32_t> code; // the filter's own code, when it ran
    std::string cause;
    bool keepText = false;       // what the sink took is the document's text (ok, limit, salvage)
    uint64_t bytes = 0;          // text bytes kept
};

// Takes the text piece by piece; false (with errno set) when it could not write it.
using TextSink = std::function<bool(const void* data, size_t size)>;

// The name of the option that sets the loop guard, named when the guard fires.
inline constexpr std::string_view kLoopGuardOption = "--loop-guard";

// Extracts the text, reading the document once. A damaged document hands the text decoded before
// the damage to the sink (unless strict) and reports broken; a sink failure is an output error.
TextResult extractText(Document& document, const TextRequest& request, const TextSink& sink);
// The same, the filter writing straight into fd, a new regular file of the caller's (no copy); a
// text not kept leaves the file empty.
TextResult extractTextToFile(Document& document, const TextRequest& request, int fd);

struct PropertiesResult {
    Outcome outcome = Outcome::Ok;
    std::string cause;
    std::unique_ptr<oasys_properties> properties; // set on success
};
PropertiesResult readProperties(Document& document, const std::string& charset);

} // namespace oasys_tools
