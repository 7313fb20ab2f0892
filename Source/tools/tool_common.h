// Shared parts of the command-line tools oasys2txt and oasysinfo: packagings and outcomes with
// their exit codes, charsets, the private working folder, interruption, text helpers and the
// command line.
//
// The tools ask liboasys (oasys.h) every question about a document; this is only their frame.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "oasys.h"

namespace oasys_tools {

namespace fs = std::filesystem;

// ---- Packaging -------------------------------------------------------------------------------

enum class Packaging { Auto = OASYS_PACKAGING_AUTO, Separated = OASYS_PACKAGING_SEPARATED,
                       Combined = OASYS_PACKAGING_COMBINED, Compound = OASYS_PACKAGING_COMPOUND };

std::string_view packagingName(Packaging packaging);
// "auto", "separated", "combined" or "compound"; nullopt for anything else.
std::optional<Packaging> parsePackaging(std::string_view name);

// ---- Outcomes and exit codes -----------------------------------------------------------------
// The outcome of a document is liboasys's status, whose number is the exit code; the exit code
// of a run is the highest met, so the outcomes are ordered from mild to severe.

enum class Outcome {
    Ok = OASYS_OK, OutputLimit = OASYS_OUTPUT_LIMIT, NoText = OASYS_NO_TEXT, Password = OASYS_PASSWORD,
    NotOasys = OASYS_NOT_OASYS, Broken = OASYS_BROKEN, Unreadable = OASYS_UNREADABLE,
    OutputError = OASYS_OUTPUT_ERROR, Usage = OASYS_BAD_ARGUMENT
};

inline int exitCodeOf(Outcome outcome) { return static_cast<int>(outcome); }
// Its word in reports and summaries ("ok", "no-text", ...).
std::string_view wordOf(Outcome outcome);
// The outcomes each tool can end with, for its help.
inline constexpr Outcome kTextToolOutcomes[] = {Outcome::Ok,       Outcome::OutputLimit, Outcome::NoText,
                                                Outcome::Password, Outcome::NotOasys,    Outcome::Broken,
                                                Outcome::Unreadable, Outcome::OutputError, Outcome::Usage};
inline constexpr Outcome kInfoToolOutcomes[] = {Outcome::Ok,         Outcome::NotOasys,    Outcome::Broken,
                                                Outcome::Unreadable, Outcome::OutputError, Outcome::Usage};
// The more severe of two outcomes.
Outcome worse(Outcome a, Outcome b);

// ---- Charsets --------------------------------------------------------------------------------

// True when the text can be written in this charset.
bool isUsableCharset(const std::string& name);
// Prints every charset name the conversion service accepts, one a line.
void listCharsets(std::FILE* out);
// True for the names of UTF-8 ("UTF-8", "utf8", ...).
bool isUtf8Name(const std::string& name);
// UTF-8 text converted to the charset (labels written beside a document's texts).
std::string fromUtf8(const std::string& text, const std::string& charset);

// ---- Private working directory ---------------------------------------------------------------

// A fresh private directory under the system temp dir, removed with its content on destruction.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// ---- Interruption ----------------------------------------------------------------------------

// SIGINT and SIGTERM only set a flag: the tools start no new document, let the running ones end,
// write what they owe and exit with 128 + the signal's number.
void installInterruptHandlers();
// The signal received, 0 while none was.
int interruptSignal();

// ---- Text helpers ----------------------------------------------------------------------------

// A JSON string literal (quotes included); control characters escaped, and every byte that is
// not part of valid UTF-8 replaced by U+FFFD, so that the line stays valid UTF-8.
std::string jsonString(std::string_view text);
bool isValidUtf8(std::string_view text);
// The bytes in lower-case hexadecimal, two digits each: the lossless form of a name that is not
// valid UTF-8.
std::string hexBytes(std::string_view text);
// A name as shown in messages: in single quotes, a quote, a backslash and every control character
// escaped (\n, \t, \xHH), so that a name can never make a line of its own.
std::string shownName(std::string_view name);
// A message as it goes to standard error: every control character escaped (a cause may hold a
// name that came from elsewhere), so that each message stays one line.
std::string oneLine(std::string_view message);
// A whole decimal number in [0, max]; nullopt when the text is anything else.
std::optional<uint64_t> parseCount(std::string_view text, uint64_t max);

} // namespace oasys_tools

// ---- Command line ------------------------------------------------------------------------------

namespace oasys_tools {

// A wrong command line; the message says what is wrong.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One option of a tool: its names are matched with one or two leading dashes ("-enc", "--enc"),
// a value follows as the next argument or after "=".
template <class Settings>
struct OptionDef {
    std::string_view name;
    std::string_view valueName; // empty: the option takes no value
    std::string_view help;
    void (*apply)(Settings& settings, std::string_view value); // throws UsageError
};

inline std::string_view withoutDashes(std::string_view text) {
    while (!text.empty() && text.front() == '-') text.remove_prefix(1);
    return text;
}

// Applies every option of argv and returns the other arguments ("-" is an argument; "--" ends the
// options).
template <class Settings, size_t N>
std::vector<std::string> parseArguments(int argc, char** argv, const OptionDef<Settings> (&table)[N],
                                        Settings& settings) {
    std::vector<std::string> arguments;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (optionsEnded || argument == "-" || argument.empty() || argument.front() != '-') {
            arguments.emplace_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        std::string_view name = withoutDashes(argument);
        std::optional<std::string_view> inlineValue;
        if (const size_t equals = name.find('='); equals != std::string_view::npos) {
            inlineValue = name.substr(equals + 1);
            name = name.substr(0, equals);
        }
        const OptionDef<Settings>* option = nullptr;
        for (const auto& candidate : table)
            if (withoutDashes(candidate.name) == name) option = &candidate;
        if (!option) throw UsageError("unknown option " + std::string(argument));
        if (option->valueName.empty()) {
            if (inlineValue) throw UsageError("option " + std::string(option->name) + " takes no value");
            option->apply(settings, {});
            continue;
        }
        if (!inlineValue) {
            if (i + 1 >= argc) throw UsageError("option " + std::string(option->name) + " needs a value");
            inlineValue = argv[++i];
        }
        option->apply(settings, *inlineValue);
    }
    return arguments;
}

template <class Settings, size_t N>
void printOptionHelp(std::FILE* out, const OptionDef<Settings> (&table)[N]) {
    for (const auto& option : table) {
        std::string left = std::string(option.name);
        if (!option.valueName.empty()) left += " " + std::string(option.valueName);
        std::fprintf(out, "  %-22s %.*s\n", left.c_str(), static_cast<int>(option.help.size()), option.help.data());
    }
}

void printExitStatusHelp(std::FILE* out, std::span<const Outcome> outcomes);

// The settings both tools have; each tool's Settings derives from it.
// The default bound of standard input kept in memory, and the option that raises it.
inline constexpr uint64_t kDefaultStdinLimit = 512ull << 20;
inline constexpr std::string_view kStdinLimitOption = "--stdin-limit";

struct CommonSettings {
    std::string charset = "UTF-8";
    bool help = false;
    bool version = false;
    uint64_t stdinLimit = kDefaultStdinLimit;
    Packaging packaging = Packaging::Auto;
};

// The options both tools have, each written once.
template <class Settings>
constexpr OptionDef<Settings> kStdinLimitOptionDef = {
    kStdinLimitOption, "N", "keep at most N bytes of standard input (default 536870912)",
    [](Settings& s, std::string_view v) {
        const auto n = parseCount(v, UINT64_MAX);
        if (!n) throw UsageError(std::string(kStdinLimitOption) + " needs a whole number, not " + std::string(v));
        s.stdinLimit = *n;
    }};
template <class Settings>
constexpr OptionDef<Settings> kPackagingOptionDef = {
    "--packaging", "KIND", "auto (default), separated, combined or compound",
    [](Settings& s, std::string_view v) {
        const auto packaging = parsePackaging(v);
        if (!packaging) throw UsageError("unknown packaging " + std::string(v));
        s.packaging = *packaging;
    }};
template <class Settings>
constexpr OptionDef<Settings> kHelpOptionDef = {"-h", "", "this help",
                                                [](Settings& s, std::string_view) { s.help = true; }};
template <class Settings>
constexpr OptionDef<Settings> kLongHelpOptionDef = {"--help", "", "this help", kHelpOptionDef<Settings>.apply};
template <class Settings>
constexpr OptionDef<Settings> kVersionOptionDef = {"-v", "", "the version",
                                                   [](Settings& s, std::string_view) { s.version = true; }};
template <class Settings>
constexpr OptionDef<Settings> kLongVersionOptionDef = {"--version", "", "the version",
                                                       kVersionOptionDef<Settings>.apply};

// The frame of both tools: options, -h, -v, the charset check, and wrong usage (message and exit
// code 64) or an unexpected failure (output error) caught at the top.
template <class Settings, size_t N>
int runTool(const char* toolName, const char* usage, const OptionDef<Settings> (&table)[N],
            std::span<const Outcome> outcomes, int argc, char** argv,
            int (*body)(Settings& settings, const std::vector<std::string>& arguments)) {
    try {
        Settings settings;
        const std::vector<std::string> arguments = parseArguments(argc, argv, table, settings);
        if (settings.help) {
            std::fputs(usage, stdout);
            printOptionHelp(stdout, table);
            printExitStatusHelp(stdout, outcomes);
            return 0;
        }
        if (settings.version) {
            std::printf("%s %s\n", toolName, oasys_version());
            return 0;
        }
        if (!isUsableCharset(settings.charset)) throw UsageError("unknown output charset " + settings.charset);
        return body(settings, arguments);
    } catch (const UsageError& error) {
        std::fprintf(stderr, "%s: %s\nTry '%s -h' for help.\n", toolName, oneLine(error.what()).c_str(), toolName);
        return exitCodeOf(Outcome::Usage);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", toolName, oneLine(error.what()).c_str());
        return exitCodeOf(Outcome::OutputError);
    }
}

} // namespace oasys_tools
