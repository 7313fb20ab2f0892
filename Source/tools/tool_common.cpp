#include "tool_common.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <stdexcept>
#include <vector>

#include <unicode/ucnv.h>

#include "krm_host.h"
#include "krm_zori2.h"

namespace oasys_tools {

namespace {

constexpr std::string_view kPackagingNames[] = {"auto", "separated", "combined", "compound"};

// Texts the filter searches anywhere in a path; a scratch directory must not contain them.
constexpr std::string_view kFilterPathMarkers[] = {".DOC", ".doc", ".FMT", ".fmt", ".GRP", ".grp"};

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::toupper(x) == std::toupper(y);
           });
}

bool containsFilterMarker(const std::string& path) {
    return std::any_of(std::begin(kFilterPathMarkers), std::end(kFilterPathMarkers),
                       [&](std::string_view marker) { return path.find(marker) != std::string::npos; });
}

} // namespace

std::string_view packagingName(Packaging packaging) { return kPackagingNames[static_cast<size_t>(packaging)]; }

std::optional<Packaging> parsePackaging(std::string_view name) {
    for (size_t i = 0; i < std::size(kPackagingNames); ++i)
        if (kPackagingNames[i] == name) return static_cast<Packaging>(i);
    return std::nullopt;
}

uint16_t formatCodeOf(Packaging packaging) {
    switch (packaging) {
    case Packaging::Separated: return KRM_FORMAT_SEPARATED;
    case Packaging::Combined: return KRM_FORMAT_COMBINED;
    case Packaging::Compound: return KRM_FORMAT_COMPOUND;
    case Packaging::Auto: break;
    }
    return 0;
}

const OutcomeInfo& outcomeInfo(Outcome outcome) {
    for (const OutcomeInfo& info : kOutcomes)
        if (info.outcome == outcome) return info;
    return kOutcomes[std::size(kOutcomes) - 1];
}

void printExitStatusHelp(std::FILE* out, std::span<const Outcome> outcomes) {
    std::fprintf(out, "\nExit status (with several documents the most severe met):\n");
    for (const Outcome outcome : outcomes) {
        const OutcomeInfo& info = outcomeInfo(outcome);
        std::fprintf(out, "  %-3d %.*s\n", info.exitCode, static_cast<int>(info.description.size()),
                     info.description.data());
    }
    std::fprintf(out, "  130 interrupted (SIGINT), 143 terminated (SIGTERM)\n");
}

Outcome worse(Outcome a, Outcome b) { return outcomeInfo(a).exitCode >= outcomeInfo(b).exitCode ? a : b; }

Outcome outcomeOfCode(int32_t code) {
    switch (code) {
    case KRM_OK: return Outcome::Ok;
    case KRM_ERR_OUTPUT_LIMIT: return Outcome::OutputLimit;
    case KRM_ERR_NO_TEXT: return Outcome::NoText;
    case KRM_ERR_PASSWORD: return Outcome::Password;
    case KRM_ERR_UNSUPPORTED: return Outcome::NotOasys;
    case KRM_ERR_OPEN: return Outcome::Unreadable;
    case KRM_ERR_WRITE: return Outcome::OutputError;
    default: return Outcome::Broken; // 12, 3000, 3006 and anything unknown
    }
}

std::string causeOfCode(int32_t code) {
    switch (code) {
    case KRM_OK: return "done";
    case KRM_ERR_NO_MEMORY: return "the filter could not allocate its working memory";
    case KRM_ERR_OPEN: return "a file of the document could not be opened";
    case KRM_ERR_WRITE: return "writing the text failed";
    case KRM_ERR_BROKEN: return "the document is broken (damaged structure, failed read or conversion)";
    case KRM_ERR_PASSWORD: return "the document is password-protected";
    case KRM_ERR_UNSUPPORTED: return "the filter does not accept this document";
    case KRM_ERR_NO_TEXT: return "the document holds no visible text";
    case KRM_ERR_OUTPUT_LIMIT: return "the maximum output size was reached; the text up to it was written";
    case KRM_ERR_LOOP_GUARD: return "the document is broken (a loop passed the limit of the loop guard)";
    default: return "the filter returned code " + std::to_string(code);
    }
}

bool isUsableCharset(const std::string& name) {
    if (name.empty() || name.size() >= KRM_CHARSET_NAME_MAX) return false;
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(name.c_str(), &status);
    if (converter) ucnv_close(converter);
    return U_SUCCESS(status) && converter != nullptr;
}

void listCharsets(std::FILE* out) {
    // Every converter with all its names: the common ones ("EUC-JP") are aliases of ICU's own.
    std::set<std::string> printed;
    const int32_t count = ucnv_countAvailable();
    for (int32_t i = 0; i < count; ++i) {
        const char* converter = ucnv_getAvailableName(i);
        if (!converter) continue;
        UErrorCode status = U_ZERO_ERROR;
        const uint16_t aliases = ucnv_countAliases(converter, &status);
        if (printed.insert(converter).second) std::fprintf(out, "%s\n", converter);
        for (uint16_t a = 0; U_SUCCESS(status) && a < aliases; ++a) {
            const char* alias = ucnv_getAlias(converter, a, &status);
            if (U_SUCCESS(status) && alias && printed.insert(alias).second) std::fprintf(out, "%s\n", alias);
        }
    }
}

bool isUtf8Name(const std::string& name) {
    UErrorCode status = U_ZERO_ERROR;
    const char* canonical = ucnv_getCanonicalName(name.c_str(), "", &status);
    if (U_SUCCESS(status) && canonical && std::strcmp(canonical, "UTF-8") == 0) return true;
    return equalsIgnoringCase(name, "UTF-8") || equalsIgnoringCase(name, "UTF8");
}

size_t charsetUnitSize(const std::string& name) {
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(name.c_str(), &status);
    if (!converter) return 1;
    const size_t size = static_cast<size_t>(std::max<int8_t>(1, ucnv_getMinCharSize(converter)));
    ucnv_close(converter);
    return size;
}

std::string fromUtf8(const std::string& text, const std::string& charset) {
    if (text.empty() || isUtf8Name(charset)) return text;
    std::vector<char> buffer(text.size() * 4 + 16);
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = ucnv_convert(charset.c_str(), "UTF-8", buffer.data(), static_cast<int32_t>(buffer.size()),
                                        text.data(), static_cast<int32_t>(text.size()), &status);
    if (U_FAILURE(status)) return text;
    return std::string(buffer.data(), static_cast<size_t>(length));
}

HostOptions makeHostOptions(const std::string& charset, uint32_t flags, uint32_t maxOutputSize) {
    HostOptions options{};
    std::snprintf(options.outputCharset, sizeof options.outputCharset, "%s", charset.c_str());
    options.optionFlags = flags;
    options.maxOutputSize = maxOutputSize;
    return options;
}

ScratchDir::ScratchDir() {
    std::string base = "/tmp";
    if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp && !containsFilterMarker(tmp)) base = tmp;
    std::string pattern = base + "/oasys-tools-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a working directory in " + base);
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

namespace {
volatile std::sig_atomic_t receivedSignal = 0;
extern "C" void noteSignal(int signal) {
    if (receivedSignal == 0) receivedSignal = signal;
}
} // namespace

void installInterruptHandlers() {
    struct sigaction action {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a blocking read of standard input returns to look
    for (const int signal : {SIGINT, SIGTERM}) ::sigaction(signal, &action, nullptr);
}

int interruptSignal() { return receivedSignal; }

namespace {

// The length of the valid UTF-8 sequence at the start of text, 0 when it is none.
size_t utf8SequenceLength(std::string_view text) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    size_t length = 0;
    uint32_t min = 0;
    if (lead >= 0xC2 && lead <= 0xDF) length = 2, min = 0x80;
    else if (lead >= 0xE0 && lead <= 0xEF) length = 3, min = 0x800;
    else if (lead >= 0xF0 && lead <= 0xF4) length = 4, min = 0x10000;
    else return 0;
    if (text.size() < length) return 0;
    uint32_t value = lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
        value = (value << 6) | (byte(i) & 0x3F);
    }
    if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    return length;
}

} // namespace

bool isValidUtf8(std::string_view text) {
    for (size_t at = 0; at < text.size();) {
        const size_t length = utf8SequenceLength(text.substr(at));
        if (length == 0) return false;
        at += length;
    }
    return true;
}

std::string hexBytes(std::string_view text) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char c : text) {
        out += kDigits[c >> 4];
        out += kDigits[c & 0xF];
    }
    return out;
}

namespace {

// The escape of a quote, a backslash or a control character in quotes of this kind, with the
// escape form of other control characters ("\\u%04x" in JSON, "\\x%02x" in messages); nullopt
// for a character that stands for itself.
std::optional<std::string> escapeOf(char c, char quote, const char* controlForm) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
    case '\\': return "\\\\";
    case '\n': return "\\n";
    case '\r': return "\\r";
    case '\t': return "\\t";
    default: break;
    }
    if (c == quote) return std::string("\\") + quote;
    if (byte >= 0x20 && byte != 0x7F) return std::nullopt;
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, controlForm, byte);
    return escaped;
}

} // namespace

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (size_t at = 0; at < text.size();) {
        const size_t length = utf8SequenceLength(text.substr(at));
        if (length == 0) {
            out += "\xEF\xBF\xBD"; // U+FFFD
            ++at;
            continue;
        }
        const std::optional<std::string> escaped = escapeOf(text[at], '"', "\\u%04x");
        out += escaped ? *escaped : std::string(text.substr(at, length));
        at += length;
    }
    return out + "\"";
}

std::string shownName(std::string_view name) {
    std::string out = "'";
    for (const char c : name) {
        const std::optional<std::string> escaped = escapeOf(c, '\'', "\\x%02x");
        out += escaped ? *escaped : std::string(1, c);
    }
    return out + "'";
}

std::optional<uint64_t> parseCount(std::string_view text, uint64_t max) {
    if (text.empty() || text.size() > 20) return std::nullopt;
    uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (digit > max || value > (max - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

} // namespace oasys_tools
