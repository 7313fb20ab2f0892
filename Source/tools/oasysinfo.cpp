// oasysinfo: the properties of an OASYS document, through the filter's exported interface.
//
//   oasysinfo [options] <document>

#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "krm_host.h"
#include "krm_zori2.h"
#include "tool_common.h"

using namespace oasys_tools;

namespace {

constexpr const char* kToolName = "oasysinfo";
constexpr const char* kUtf8 = "UTF-8";

struct Settings : CommonSettings {
    Packaging packaging = Packaging::Auto;
    bool isoDates = false;
    bool json = false;
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
    {"--json", "", "one JSON object (UTF-8), dates as stored and as ISO 8601",
     [](Settings& s, std::string_view) { s.json = true; }},
    {"-h", "", "this help", [](Settings& s, std::string_view) { s.help = true; }},
    {"--help", "", "this help", [](Settings& s, std::string_view) { s.help = true; }},
    {"-v", "", "the version", [](Settings& s, std::string_view) { s.version = true; }},
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

struct Properties {
    int32_t code = 0;
    PropertyRecord record{};
};

Properties readProperties(const PreparedDocument& document, const std::string& charset) {
    Properties properties;
    HostOptions options = makeHostOptions(charset, KRM_OPT_LOOP_GUARD);
    properties.code = GetProperty(document.filterPath.c_str(), &options, &properties.record, &document.formatCode);
    return properties;
}

// The password flag: read by the filter's own test for a separated document; for the others the
// text entry tells, asked for at most one byte.
bool isPasswordProtected(const PreparedDocument& document) {
    if (document.packaging == Packaging::Separated) {
        const uint32_t file = KRM_FileOpen(document.filterPath.c_str(), "rb");
        if (file == 0) return false;
        const bool protectedByPassword = havePassword(file, 0, 0) != 0;
        KRM_FileClose(file);
        return protectedByPassword;
    }
    ScratchDir scratch;
    const fs::path probe = scratch.path() / "probe.txt";
    HostOptions options = makeHostOptions(kUtf8, KRM_OPT_LOOP_GUARD | KRM_OPT_SIZE_LIMIT, 1);
    return GetTextWithErrCallback(document.filterPath.c_str(), probe.c_str(), &options, &document.formatCode, 0) ==
           KRM_ERR_PASSWORD;
}

void printLine(std::string_view key, const std::string& value, const std::string& charset) {
    std::string head = std::string(key) + ":";
    head.resize(std::max(head.size() + 1, kKeyColumn), ' ');
    const std::string line = fromUtf8(head, charset) + value + fromUtf8("\n", charset);
    std::fwrite(line.data(), 1, line.size(), stdout);
}

void printText(const PreparedDocument& document, const Properties& utf8,
               const Properties& shown, bool isoDates, bool passwordProtected, const std::string& charset) {
    const size_t unitSize = charsetUnitSize(charset);
    for (const Slot& slot : kSlots) {
        std::string value = slotText(shown.record, slot.offset, unitSize);
        if (value.empty()) continue;
        if (slot.kind == Kind::Date && isoDates) {
            const std::string iso = isoDate(slotText(utf8.record, slot.offset, 1));
            if (!iso.empty()) value = fromUtf8(iso, charset);
        }
        printLine(slot.key, value, charset);
    }
    printLine(kPackagingKey, fromUtf8(std::string(packagingName(document.packaging)), charset), charset);
    printLine(kPasswordKey, fromUtf8(passwordProtected ? "yes" : "no", charset), charset);
}

void printJson(const std::string& shownPath, const PreparedDocument& document, const Properties& utf8,
               bool passwordProtected) {
    std::string out = "{\"path\":" + jsonString(shownPath) + ",\"packaging\":" +
                      jsonString(packagingName(document.packaging)) +
                      ",\"password_protected\":" + (passwordProtected ? "true" : "false");
    for (const Slot& slot : kSlots) {
        const std::string value = slotText(utf8.record, slot.offset, 1);
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
    "Usage: oasysinfo [options] <document>\n"
    "The properties of an OASYS document as aligned \"Key: value\" lines.\n\n";

int fail(const std::string& shown, Outcome outcome, const std::string& cause) {
    std::fprintf(stderr, "%s: %s: %s\n", kToolName, shown.c_str(), cause.c_str());
    return outcomeInfo(outcome).exitCode;
}

int showProperties(const Settings& settings, const fs::path& path) {
    PreparedDocument document;
    const PrepareResult prepared = prepareDocument(path, settings.packaging, false, document);
    if (prepared.outcome != Outcome::Ok) return fail(path.string(), prepared.outcome, prepared.cause);

    const Properties utf8 = readProperties(document, kUtf8);
    if (utf8.code != KRM_OK) return fail(path.string(), outcomeOfCode(utf8.code), causeOfCode(utf8.code));
    const bool passwordProtected = isPasswordProtected(document);
    if (settings.json) {
        printJson(path.string(), document, utf8, passwordProtected);
    } else if (isUtf8Name(settings.charset)) {
        printText(document, utf8, utf8, settings.isoDates, passwordProtected, settings.charset);
    } else {
        const Properties shown = readProperties(document, settings.charset);
        if (shown.code != KRM_OK) return fail(path.string(), outcomeOfCode(shown.code), causeOfCode(shown.code));
        printText(document, utf8, shown, settings.isoDates, passwordProtected, settings.charset);
    }
    // A write that failed while the buffer was flushed on its way leaves only the error flag.
    const bool written = std::fflush(stdout) == 0 && !std::ferror(stdout);
    return written ? 0 : fail(path.string(), Outcome::OutputError, "writing failed");
}

int run(Settings& settings, const std::vector<std::string>& arguments) {
    if (settings.json && !isUtf8Name(settings.charset))
        throw UsageError("--json writes UTF-8; -enc cannot change that");
    if (arguments.size() != 1) throw UsageError("give exactly one document");
    const fs::path path = arguments[0];
    try {
        return showProperties(settings, path);
    } catch (const std::exception& error) { // no working folder, no memory: still name the document
        return fail(path.string(), Outcome::OutputError, error.what());
    }
}

} // namespace

int main(int argc, char** argv) { return runTool(kToolName, kUsage, kOptions, argc, argv, run); }
