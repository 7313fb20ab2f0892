// The one place where the tools ask for a document's text, properties and password flag. Every
// outcome comes back as one value with its cause; the text goes to the caller's sink, which does
// its own writing (so that a failed write keeps the system's reason).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "documents.h"
#include "krm_types.h"

namespace oasys_tools {

enum class CompoundKind { Oasys, Other, Unreadable };
// What a file with the compound-file signature is: an OASYS compound document, another compound
// file, or no readable compound file at all.
CompoundKind examineCompound(int fd);

struct TextRequest {
    std::string charset = "UTF-8";
    bool ruledLines = false;
    bool loopGuard = false;
    bool strict = false; // a damaged document gives no text at all
    std::optional<uint32_t> maxBytes;
    bool log = false;
};

struct TextResult {
    Outcome outcome = Outcome::Ok;
    std::optional<int32_t> code; // the filter's own code, when it ran
    std::string cause;
    bool keepText = false;       // the text handed to the sink is the document's (ok, limit, salvage)
    std::optional<fs::path> log; // the log of this extraction, to be placed by the caller
};

// Takes the text piece by piece; false when it could not write it.
using TextSink = std::function<bool(const void* data, size_t size)>;

// The name of the option that sets the loop guard, named when the guard fires.
inline constexpr std::string_view kLoopGuardOption = "--loop-guard";

// Extracts the text. A damaged document hands the text decoded before the damage to the sink
// (unless strict) and reports broken; a sink failure is an output error.
TextResult extractText(const InputDocument& document, const TextRequest& request, const TextSink& sink);

struct PropertiesResult {
    Outcome outcome = Outcome::Ok;
    std::string cause;
    PropertyRecord record{};
};
PropertiesResult readProperties(const InputDocument& document, const std::string& charset);
bool isPasswordProtected(const InputDocument& document);

// Logs of later extractions are written (into a private folder, handed back in TextResult::log).
void enableLogs();

} // namespace oasys_tools
