#include "tool_common.h"

#include <signal.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace oasys_tools {

std::string_view packagingName(Packaging packaging) {
    const char* name = oasys_packaging_name(static_cast<oasys_packaging>(packaging));
    return name != nullptr ? name : "auto";
}

std::optional<Packaging> parsePackaging(std::string_view name) {
    oasys_packaging packaging = OASYS_PACKAGING_AUTO;
    if (!oasys_packaging_parse(std::string(name).c_str(), &packaging)) return std::nullopt;
    return static_cast<Packaging>(packaging);
}

std::string_view wordOf(Outcome outcome) { return oasys_status_name(static_cast<oasys_status>(outcome)); }

void printExitStatusHelp(std::FILE* out, std::span<const Outcome> outcomes) {
    std::fprintf(out, "\nExit status (with several documents the most severe met):\n");
    for (const Outcome outcome : outcomes) {
        const char* description = outcome == Outcome::Usage
                                      ? "wrong usage: unknown option, bad value, unknown charset"
                                      : oasys_status_description(static_cast<oasys_status>(outcome));
        std::fprintf(out, "  %-3d %s\n", exitCodeOf(outcome), description);
    }
    std::fprintf(out, "  130 interrupted (SIGINT), 143 terminated (SIGTERM)\n");
}

Outcome worse(Outcome a, Outcome b) { return exitCodeOf(a) >= exitCodeOf(b) ? a : b; }

bool isUsableCharset(const std::string& name) { return oasys_charset_usable(name.c_str()) != 0; }

void listCharsets(std::FILE* out) {
    oasys_charset_list([](void* context, const char* name) { std::fprintf(static_cast<std::FILE*>(context), "%s\n", name); },
                       out);
}

bool isUtf8Name(const std::string& name) { return oasys_charset_is_utf8(name.c_str()) != 0; }

std::string fromUtf8(const std::string& text, const std::string& charset) {
    if (text.empty() || isUtf8Name(charset)) return text;
    oasys_buffer buffer{};
    const bool converted = oasys_text_from_utf8(charset.c_str(), text.data(), text.size(), &buffer, nullptr) == OASYS_OK;
    std::string out = converted ? std::string(buffer.data, buffer.size) : text;
    oasys_buffer_free(&buffer);
    return out;
}

ScratchDir::ScratchDir() {
    std::string base = "/tmp";
    if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp) base = tmp;
    std::string pattern = base + "/oasys-tools-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a working directory in " + base);
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

namespace {
// Read by every worker thread: a lock-free atomic is both thread-safe and safe in a handler.
std::atomic<int> receivedSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);
extern "C" void noteSignal(int signal) {
    const int savedErrno = errno;
    int none = 0;
    receivedSignal.compare_exchange_strong(none, signal);
    errno = savedErrno;
}
} // namespace

void installInterruptHandlers() {
    struct sigaction action {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a blocking read of standard input returns to look
    for (const int signal : {SIGINT, SIGTERM}) ::sigaction(signal, &action, nullptr);
}

int interruptSignal() { return receivedSignal.load(); }

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

std::string oneLine(std::string_view message) {
    std::string out;
    for (const char c : message) {
        const auto byte = static_cast<unsigned char>(c);
        const std::optional<std::string> escaped =
            byte < 0x20 || byte == 0x7F ? escapeOf(c, '\0', "\\x%02x") : std::nullopt;
        out += escaped ? *escaped : std::string(1, c);
    }
    return out;
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
