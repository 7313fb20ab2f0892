// oasysinfo: the properties of OASYS documents.
//
//   oasysinfo [options] <document>...     "-" is standard input

#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "documents.h"
#include "text_engine.h"
#include "tool_common.h"

using namespace oasys_tools;

namespace {

constexpr const char* kToolName = "oasysinfo";
constexpr const char* kUtf8 = "UTF-8";

struct Settings : CommonSettings {
    Packaging packaging = Packaging::Auto;
    bool isoDates = false;
    bool json = false;
    uint64_t stdinLimit = kDefaultStdinLimit;
};

constexpr OptionDef<Settings> kOptions[] = {
    {"-enc", "NAME", "output charset (default UTF-8)",
     [](Settings& s, std::string_view v) { s.charset = std::string(v); }},
    {"--packaging", "KIND", "auto (default), separated, combined or compound",
     [](Settings& s, std::string_view v) {
         const auto packaging = parsePackaging(v);
         if (!packaging) throw UsageError("unknown packaging " + std::string(v));
         s.packaging = *packaging;
     }},
    {"-isodates", "", "dates as ISO 8601 (years 80-99 are 19xx, 00-79 are 20xx)",
     [](Settings& s, std::string_view) { s.isoDates = true; }},
    {"--json", "", "one JSON object a line per document (UTF-8), dates as stored and as ISO 8601",
     [](Settings& s, std::string_view) { s.json = true; }},
    {kStdinLimitOption, "N", "keep at most N bytes of standard input (default 536870912)",
     [](Settings& s, std::string_view v) {
         const auto n = parseCount(v, UINT64_MAX);
         if (!n) throw UsageError(std::string(kStdinLimitOption) + " needs a whole number, not " + std::string(v));
         s.stdinLimit = *n;
     }},
    {"-h", "", "this help", [](Settings& s, std::string_view) { s.help = true; }},
    {"--help", "", "this help", [](Settings& s, std::string_view) { s.help = true; }},
    {"-v", "", "the version", [](Settings& s, std::string_view) { s.version = true; }},
    {"--version", "", "the version", [](Settings& s, std::string_view) { s.version = true; }},
};

// The slots of the property record, in the order they are shown.
enum class Kind { Text, Date };
struct Slot {
    std::string_view key;     // shown as "Key:"
    std::string_view jsonKey;
    uint32_t offset;          // in the PropertyRecord
    Kind kind;
};
constexpr Slot kSlots[] = {
    {"Title", "title", KRM_PROP_TITLE, Kind::Text},
    {"Author", "author", KRM_PROP_AUTHOR, Kind::Text},
    {"Keywords", "keywords", KRM_PROP_KEYWORDS, Kind::Text},
    {"Category", "category", KRM_PROP_CATEGORY, Kind::Text},
    {"Comments", "comments", KRM_PROP_COMMENTS, Kind::Text},
    {"Created", "created", KRM_PROP_CREATED, Kind::Date},
    {"Modified", "modified", KRM_PROP_MODIFIED, Kind::Date},
    {"Last author", "last_author", KRM_PROP_LAST_AUTHOR, Kind::Text},
    {"Document type", "document_type", KRM_PROP_DOCUMENT_TYPE, Kind::Text},
};
constexpr std::array<uint32_t, 9> kSlotOffsetsAscending = {KRM_PROP_TITLE,    KRM_PROP_AUTHOR,
                                                            KRM_PROP_KEYWORDS, KRM_PROP_CATEGORY,
                                                            KRM_PROP_COMMENTS, KRM_PROP_MODIFIED,
                                                            KRM_PROP_DOCUMENT_TYPE, KRM_PROP_CREATED,
                                                            KRM_PROP_LAST_AUTHOR};
constexpr std::string_view kPackagingKey = "Packaging";
constexpr std::string_view kPasswordKey = "Password protected";
constexpr size_t kKeyColumn = kPasswordKey.size() + 2; // the longest key, its colon and a space

// The room of a slot: up to the next slot, or the end of the record.
uint32_t slotRoom(uint32_t offset) {
    for (const uint32_t other : kSlotOffsetsAscending)
        if (other > offset) return other - offset;
    return KRM_PROPERTY_RECORD_SIZE - offset;
}

// The text of a slot: its bytes up to the first all-zero code unit of the charset (UTF-16 texts
// hold zero bytes of their own).
std::string slotText(const PropertyRecord& record, uint32_t offset, size_t unitSize) {
    const uint32_t room = slotRoom(offset);
    const uint8_t* start = record.bytes + offset;
    size_t length = 0;
    while (length + unitSize <= room) {
        bool zero = true;
        for (size_t i = 0; i < unitSize; ++i) zero = zero && start[length + i] == 0;
        if (zero) break;
        length += unitSize;
    }
    return std::string(reinterpret_cast<const char*>(start), length);
}

// "98年12月31日23時59分" (UTF-8) as "1998-12-31T23:59"; empty when the stored digits are no date.
std::string isoDate(const std::string& stored) {
    std::vector<std::string> numbers(1);
    for (const char c : stored) {
        if (static_cast<unsigned char>(c) < 0x80) {
            numbers.back() += c;
        } else if (!numbers.back().empty()) {
            numbers.emplace_back();
        }
    }
    if (numbers.back().empty()) numbers.pop_back();
    if (numbers.size() != 5) return {};
    std::array<int, 5> v{};
    for (size_t i = 0; i < 5; ++i) {
        const auto n = parseCount(numbers[i], 99);
        if (!n || numbers[i].size() != 2) return {};
        v[i] = static_cast<int>(*n);
    }
    constexpr int kLastYearOf1900s = 80; // stored years 80-99 are 19xx, 00-79 are 20xx
    const int year = v[0] >= kLastYearOf1900s ? 1900 + v[0] : 2000 + v[0];
    if (v[1] < 1 || v[1] > 12 || v[2] < 1 || v[2] > 31 || v[3] > 23 || v[4] > 59) return {};
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d", year, v[1], v[2], v[3], v[4]);
    return text;
}

// A stored date of zeros only was never set: it is left out.
bool isUnsetDate(const std::string& stored) {
    bool digits = false;
    for (const char c : stored) {
        if (c >= '1' && c <= '9') return false;
        digits = digits || c == '0';
    }
    return digits;
}

// One separator ends the keywords of two packagings and not of the third: shown without it.
constexpr std::string_view kKeywordSeparator = ";";
std::string withoutTrailingSeparator(std::string value, const std::string& separator) {
    if (value.size() >= separator.size() && value.compare(value.size() - separator.size(), separator.size(), separator) == 0)
        value.resize(value.size() - separator.size());
    return value;
}

// The value of a slot as shown: empty when it is left out.
std::string slotValue(const PropertyRecord& record, const Slot& slot, const PropertyRecord& utf8,
                      const std::string& charset) {
    std::string value = slotText(record, slot.offset, charsetUnitSize(charset));
    if (slot.kind == Kind::Date && isUnsetDate(slotText(utf8, slot.offset, 1))) return {};
    if (slot.offset == KRM_PROP_KEYWORDS)
        value = withoutTrailingSeparator(value, fromUtf8(std::string(kKeywordSeparator), charset));
    return value;
}

void printLine(std::string_view key, const std::string& value, const std::string& charset, bool withKey = true) {
    std::string head;
    if (withKey) {
        head = std::string(key) + ":";
        head.resize(std::max(head.size() + 1, kKeyColumn), ' ');
    }
    const std::string line = fromUtf8(head, charset) + value + fromUtf8("\n", charset);
    std::fwrite(line.data(), 1, line.size(), stdout);
}

void printText(const InputDocument& document, const PropertyRecord& utf8, const PropertyRecord& shown,
               bool isoDates, bool passwordProtected, const std::string& charset) {
    for (const Slot& slot : kSlots) {
        std::string value = slotValue(shown, slot, utf8, charset);
        if (value.empty()) continue;
        if (slot.kind == Kind::Date && isoDates) {
            const std::string iso = isoDate(slotText(utf8, slot.offset, 1));
            if (!iso.empty()) value = fromUtf8(iso, charset);
        }
        printLine(slot.key, value, charset);
    }
    printLine(kPackagingKey, fromUtf8(std::string(packagingName(document.packaging)), charset), charset);
    printLine(kPasswordKey, fromUtf8(passwordProtected ? "yes" : "no", charset), charset);
}

void printJson(const std::string& shownPath, const InputDocument& document, const PropertyRecord& utf8,
               bool passwordProtected) {
    std::string out = "{\"path\":" + jsonString(shownPath);
    if (!isValidUtf8(shownPath)) out += ",\"path_hex\":\"" + hexBytes(shownPath) + "\"";
    out += ",\"packaging\":" + jsonString(packagingName(document.packaging)) +
           ",\"password_protected\":" + (passwordProtected ? "true" : "false");
    for (const Slot& slot : kSlots) {
        const std::string value = slotValue(utf8, slot, utf8, kUtf8);
        out += ",\"" + std::string(slot.jsonKey) + "\":";
        if (slot.kind == Kind::Text) {
            out += jsonString(value);
        } else if (value.empty()) {
            out += "null";
        } else {
            const std::string iso = isoDate(value);
            out += "{\"stored\":" + jsonString(value) + ",\"iso\":" + (iso.empty() ? "null" : jsonString(iso)) + "}";
        }
    }
    out += "}\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
}

constexpr const char* kUsage =
    "Usage: oasysinfo [options] <document>...\n"
    "The properties of OASYS documents as aligned \"Key: value\" lines, a blank line between\n"
    "documents (with --json one JSON object a line). \"-\" reads a document from standard input.\n\n";

int fail(const std::string& shown, Outcome outcome, const std::string& cause) {
    std::fprintf(stderr, "%s: %s: %s\n", kToolName, shownName(shown).c_str(), cause.c_str());
    return outcomeInfo(outcome).exitCode;
}

int showProperties(const Settings& settings, const std::string& argument, bool first) {
    const bool fromStdin = argument == "-";
    const std::string shown = fromStdin ? "standard input" : argument;
    InputDocument document;
    const OpenResult opened = fromStdin ? readStandardInput(settings.stdinLimit, settings.packaging, document)
                                        : openDocument(argument, settings.packaging, false, document);
    if (opened.outcome != Outcome::Ok) return fail(shown, opened.outcome, opened.cause);

    const PropertiesResult utf8 = readProperties(document, kUtf8);
    if (utf8.outcome != Outcome::Ok) return fail(shown, utf8.outcome, utf8.cause);
    const bool passwordProtected = isPasswordProtected(document);
    if (settings.json) {
        printJson(shown, document, utf8.record, passwordProtected);
    } else {
        if (!first) printLine("", "", settings.charset, false);
        if (isUtf8Name(settings.charset)) {
            printText(document, utf8.record, utf8.record, settings.isoDates, passwordProtected, settings.charset);
        } else {
            const PropertiesResult converted = readProperties(document, settings.charset);
            if (converted.outcome != Outcome::Ok) return fail(shown, converted.outcome, converted.cause);
            printText(document, utf8.record, converted.record, settings.isoDates, passwordProtected, settings.charset);
        }
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
