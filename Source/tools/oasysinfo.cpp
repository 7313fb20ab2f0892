// oasysinfo: the properties of OASYS documents.
//
//   oasysinfo [options] <document>...     "-" is standard input

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <span>
#include <vector>

#include "documents.h"
#include "text_engine.h"
#include "tool_common.h"

using namespace oasys_tools;

namespace {

constexpr const char* kToolName = "oasysinfo";
constexpr const char* kUtf8 = "UTF-8";

struct Settings : CommonSettings {
    bool isoDates = false;
    bool json = false;
};

constexpr OptionDef<Settings> kOptions[] = {
    {"-enc", "NAME", "output charset (default UTF-8)",
     [](Settings& s, std::string_view v) { s.charset = std::string(v); }},
    kPackagingOptionDef<Settings>,
    {"-isodates", "", "dates as ISO 8601 (years 80-99 are 19xx, 00-79 are 20xx)",
     [](Settings& s, std::string_view) { s.isoDates = true; }},
    {"--json", "", "one JSON object a line per document (UTF-8), dates as stored and as ISO 8601",
     [](Settings& s, std::string_view) { s.json = true; }},
    kStdinLimitOptionDef<Settings>,
    kHelpOptionDef<Settings>,
    kLongHelpOptionDef<Settings>,
    kVersionOptionDef<Settings>,
    kLongVersionOptionDef<Settings>,
};

// The entries shown, in their order.
struct TextEntry {
    std::string_view key; // shown as "Key:"
    std::string_view jsonKey;
    oasys_text oasys_properties::*field;
};
struct DateEntry {
    std::string_view key;
    std::string_view jsonKey;
    oasys_text oasys_properties::*text;
    oasys_date oasys_properties::*date;
};
constexpr TextEntry kTextsBeforeDates[] = {
    {"Title", "title", &oasys_properties::title},
    {"Author", "author", &oasys_properties::author},
    {"Keywords", "keywords", &oasys_properties::keywords},
    {"Category", "category", &oasys_properties::category},
    {"Comments", "comments", &oasys_properties::comments},
};
constexpr DateEntry kDates[] = {
    {"Created", "created", &oasys_properties::created_text, &oasys_properties::created},
    {"Modified", "modified", &oasys_properties::modified_text, &oasys_properties::modified},
};
constexpr TextEntry kTextsAfterDates[] = {
    {"Last author", "last_author", &oasys_properties::last_author},
    {"Document type", "document_type", &oasys_properties::document_type},
};
constexpr std::string_view kPackagingKey = "Packaging";
constexpr std::string_view kPasswordKey = "Password protected";
constexpr size_t kKeyColumn = kPasswordKey.size() + 2; // the longest key, its colon and a space

std::string textOf(const oasys_text& text) { return std::string(text.text, text.length); }

// "1998-12-31T23:59"; empty when the stored digits are no date.
std::string isoDate(const oasys_date& date) {
    if (!date.present) return {};
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d", date.year, date.month, date.day, date.hour,
                  date.minute);
    return text;
}

// An all-zero stored date was never set: no text, no date.
bool isSet(const oasys_properties& properties, const DateEntry& entry) {
    return (properties.*entry.text).length != 0;
}

void printLine(std::string_view key, const std::string& value, const std::string& charset) {
    std::string head = std::string(key) + ":";
    head.resize(std::max(head.size() + 1, kKeyColumn), ' ');
    const std::string line = fromUtf8(head, charset) + value + fromUtf8("\n", charset);
    std::fwrite(line.data(), 1, line.size(), stdout);
}

void printTexts(const oasys_properties& properties, std::span<const TextEntry> entries, const std::string& charset) {
    for (const TextEntry& entry : entries)
        if (const std::string value = textOf(properties.*entry.field); !value.empty())
            printLine(entry.key, value, charset);
}

void printText(const oasys_properties& properties, bool isoDates, const std::string& charset) {
    printTexts(properties, kTextsBeforeDates, charset);
    for (const DateEntry& entry : kDates) {
        if (!isSet(properties, entry)) continue;
        const std::string iso = isoDate(properties.*entry.date);
        printLine(entry.key, isoDates && !iso.empty() ? fromUtf8(iso, charset) : textOf(properties.*entry.text),
                  charset);
    }
    printTexts(properties, kTextsAfterDates, charset);
    printLine(kPackagingKey, fromUtf8(std::string(packagingName(static_cast<Packaging>(properties.packaging))), charset),
              charset);
    printLine(kPasswordKey, fromUtf8(properties.password_protected ? "yes" : "no", charset), charset);
}

void printJson(const std::string& shownPath, const oasys_properties& properties) {
    std::string out = "{\"path\":" + jsonString(shownPath);
    if (!isValidUtf8(shownPath)) out += ",\"path_hex\":\"" + hexBytes(shownPath) + "\"";
    out += ",\"packaging\":" + jsonString(packagingName(static_cast<Packaging>(properties.packaging))) +
           ",\"password_protected\":" + (properties.password_protected ? "true" : "false");
    auto addTexts = [&](std::span<const TextEntry> entries) {
        for (const TextEntry& entry : entries)
            out += ",\"" + std::string(entry.jsonKey) + "\":" + jsonString(textOf(properties.*entry.field));
    };
    addTexts(kTextsBeforeDates);
    for (const DateEntry& entry : kDates) {
        out += ",\"" + std::string(entry.jsonKey) + "\":";
        if (!isSet(properties, entry)) {
            out += "null";
            continue;
        }
        const std::string iso = isoDate(properties.*entry.date);
        out += "{\"stored\":" + jsonString(textOf(properties.*entry.text)) +
               ",\"iso\":" + (iso.empty() ? "null" : jsonString(iso)) + "}";
    }
    addTexts(kTextsAfterDates);
    out += "}\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
}

constexpr const char* kUsage =
    "Usage: oasysinfo [options] <document>...\n"
    "The properties of OASYS documents as aligned \"Key: value\" lines, a blank line between\n"
    "documents (with --json one JSON object a line). \"-\" reads a document from standard input.\n\n";

int fail(const std::string& shown, Outcome outcome, const std::string& cause) {
    std::fprintf(stderr, "%s: %s: %s\n", kToolName, shownName(shown).c_str(), oneLine(cause).c_str());
    return exitCodeOf(outcome);
}

int showProperties(const Settings& settings, const std::string& argument, bool first) {
    const bool fromStdin = argument == "-";
    const std::string shown = fromStdin ? "standard input" : argument;
    Document document;
    const OpenResult opened = fromStdin ? readStandardInput(settings.stdinLimit, settings.packaging, document)
                                        : openDocument(argument, settings.packaging, document);
    if (opened.outcome != Outcome::Ok) return fail(shown, opened.outcome, opened.cause);

    const PropertiesResult read = readProperties(document, settings.json ? kUtf8 : settings.charset);
    if (read.outcome != Outcome::Ok) return fail(shown, read.outcome, read.cause);
    if (settings.json) {
        printJson(shown, *read.properties);
    } else {
        if (!first) {
            const std::string blank = fromUtf8("\n", settings.charset);
            std::fwrite(blank.data(), 1, blank.size(), stdout);
        }
        printText(*read.properties, settings.isoDates, settings.charset);
    }
    // A write that failed while the buffer was flushed on its way leaves only the error flag.
    const bool written = std::fflush(stdout) == 0 && !std::ferror(stdout);
    return written ? 0 : fail(shown, Outcome::OutputError, systemCause("writing failed", errno));
}

int run(Settings& settings, const std::vector<std::string>& arguments) {
    if (settings.json && !isUtf8Name(settings.charset))
        throw UsageError("--json writes UTF-8; -enc cannot change that");
    if (arguments.empty()) throw UsageError("no document given");
    if (std::count(arguments.begin(), arguments.end(), "-") > 1)
        throw UsageError("standard input \"-\" can be given once");
    int status = 0;
    bool first = true;
    for (const std::string& argument : arguments) {
        if (interruptSignal() != 0) break;
        int documentStatus = 0;
        try {
            documentStatus = showProperties(settings, argument, first);
        } catch (const std::exception& error) { // no working folder, no memory: still name the document
            documentStatus = fail(argument, Outcome::OutputError, error.what());
        }
        if (documentStatus == 0) first = false;
        status = std::max(status, documentStatus);
    }
    if (const int signal = interruptSignal(); signal != 0) return 128 + signal;
    return status;
}

} // namespace

int main(int argc, char** argv) {
    installInterruptHandlers();
    return runTool(kToolName, kUsage, kOptions, kInfoToolOutcomes, argc, argv, run);
}
