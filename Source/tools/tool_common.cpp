#include "tool_common.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
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

// Extensions of the members of a separated document, upper case.
constexpr std::string_view kBodyExtension = ".DOC";
constexpr std::string_view kFormatExtension = ".FMT";
constexpr std::string_view kGroupExtension = ".GRP";

// Texts the filter searches anywhere in a path; a scratch directory must not contain them.
constexpr std::string_view kFilterPathMarkers[] = {".DOC", ".doc", ".FMT", ".fmt", ".GRP", ".grp"};

std::string upperAscii(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::string lowerAscii(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::toupper(x) == std::toupper(y);
           });
}

bool startsWith(const std::array<unsigned char, 8>& head, size_t got, const unsigned char* signature, size_t size) {
    return got >= size && std::memcmp(head.data(), signature, size) == 0;
}

// True when an OLE compound file holds the OASYS stream list.
bool hasOasysStreamList(const fs::path& path) {
    const uint32_t storage = KRM_2OLEopen(path.c_str());
    if (storage == 0) return false;
    const uint32_t list = KRM_2OLEopenStream(storage, KRM_STREAM_LIST_NAME);
    if (list != 0) KRM_2OLEcloseStream(list);
    KRM_2OLEclose(storage);
    return list != 0;
}

bool containsFilterMarker(const std::string& path) {
    return std::any_of(std::begin(kFilterPathMarkers), std::end(kFilterPathMarkers),
                       [&](std::string_view marker) { return path.find(marker) != std::string::npos; });
}

// The member of a separated document with this stem and extension, in any case of the extension;
// an exact-case name is preferred.
std::optional<fs::path> findMember(const fs::path& directory, const std::string& stem, std::string_view extension) {
    std::error_code error;
    for (const std::string& name : {stem + upperAscii(std::string(extension)), stem + lowerAscii(std::string(extension))}) {
        if (fs::is_regular_file(directory / name, error)) return directory / name;
    }
    const fs::path searched = directory.empty() ? fs::path(".") : directory;
    for (fs::directory_iterator it(searched, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() == stem.size() + extension.size() && name.compare(0, stem.size(), stem) == 0 &&
            equalsIgnoringCase(std::string_view(name).substr(stem.size()), extension) &&
            it->is_regular_file(error)) {
            return directory / name;
        }
    }
    return std::nullopt;
}

// A stem the filter's name search cannot misread: no points, never empty.
std::string safeStem(std::string stem) {
    std::replace(stem.begin(), stem.end(), '.', '_');
    return stem.empty() ? std::string("document") : stem;
}

bool isReadableFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return in.good();
}

PrepareResult prepareSeparated(const fs::path& path, bool needBody, PreparedDocument& out) {
    const fs::path directory = path.parent_path();
    const std::string stem = hasSeparatedExtension(path) ? path.stem().string() : path.filename().string();
    const std::optional<fs::path> format = findMember(directory, stem, kFormatExtension);
    const std::optional<fs::path> body = needBody ? findMember(directory, stem, kBodyExtension) : std::nullopt;
    if (needBody && !body)
        return {Outcome::Unreadable, "its text file " + stem + std::string(kBodyExtension) + " is missing"};
    if (!format)
        return {Outcome::Unreadable, "its format file " + stem + std::string(kFormatExtension) + " is missing"};
    if ((body && !isReadableFile(*body)) || !isReadableFile(*format))
        return {Outcome::Unreadable, "a file of the document cannot be read"};

    out.scratch.emplace();
    const fs::path linkBase = out.scratch->path() / safeStem(stem);
    const fs::path formatLink = fs::path(linkBase.string() + std::string(kFormatExtension));
    std::error_code error;
    fs::create_symlink(fs::absolute(*format), formatLink, error);
    if (error) return {Outcome::OutputError, "cannot prepare a working link: " + error.message()};
    if (body) {
        const fs::path bodyLink = fs::path(linkBase.string() + std::string(kBodyExtension));
        fs::create_symlink(fs::absolute(*body), bodyLink, error);
        if (error) return {Outcome::OutputError, "cannot prepare a working link: " + error.message()};
        out.filterPath = bodyLink;
    } else {
        out.filterPath = formatLink;
    }
    return {};
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

bool hasSeparatedExtension(const fs::path& path) {
    const std::string extension = path.extension().string();
    return equalsIgnoringCase(extension, kBodyExtension) || equalsIgnoringCase(extension, kFormatExtension) ||
           equalsIgnoringCase(extension, kGroupExtension);
}

bool hasBodyExtension(const fs::path& path) { return equalsIgnoringCase(path.extension().string(), kBodyExtension); }

std::optional<Packaging> detectPackaging(const fs::path& path, bool useName) {
    std::array<unsigned char, 8> head{};
    size_t got = 0;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        got = std::fread(head.data(), 1, head.size(), file);
        std::fclose(file);
    } else {
        return std::nullopt;
    }
    if (startsWith(head, got, kOleSignature, sizeof kOleSignature))
        return hasOasysStreamList(path) ? std::optional(Packaging::Compound) : std::nullopt;
    if (startsWith(head, got, kCombinedSignature, sizeof kCombinedSignature)) return Packaging::Combined;
    if (useName && hasSeparatedExtension(path)) return Packaging::Separated;
    return std::nullopt;
}

const OutcomeInfo& outcomeInfo(Outcome outcome) {
    for (const OutcomeInfo& info : kOutcomes)
        if (info.outcome == outcome) return info;
    return kOutcomes[std::size(kOutcomes) - 1];
}

void printExitStatusHelp(std::FILE* out) {
    std::fprintf(out, "\nExit status (with several documents the most severe met):\n");
    for (const OutcomeInfo& info : kOutcomes)
        std::fprintf(out, "  %-3d %.*s\n", info.exitCode, static_cast<int>(info.description.size()),
                     info.description.data());
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
    case KRM_ERR_LOOP_GUARD: return "the document is broken (a loop passed its limit)";
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

bool copyFdToFile(int fd, const fs::path& destination) {
    const int out = ::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (out < 0) return false;
    std::array<char, 65536> buffer{};
    bool ok = true;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(out, buffer.data() + done, static_cast<size_t>(got - done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) {
                ok = false;
                break;
            }
            done += put;
        }
        if (!ok) break;
    }
    return ::close(out) == 0 && ok;
}

PrepareResult prepareDocument(const fs::path& path, Packaging requested, bool needBody, PreparedDocument& out) {
    std::error_code error;
    if (!fs::exists(path, error)) return {Outcome::Unreadable, "no such file"};
    if (fs::is_directory(path, error)) return {Outcome::Unreadable, "is a directory"};
    if (!isReadableFile(path)) return {Outcome::Unreadable, "cannot be read"};

    Packaging packaging = requested;
    if (packaging == Packaging::Auto) {
        const std::optional<Packaging> detected = detectPackaging(path);
        if (!detected) return {Outcome::NotOasys, "not an OASYS document"};
        packaging = *detected;
    }
    out.packaging = packaging;
    out.formatCode = formatCodeOf(packaging);
    if (packaging == Packaging::Separated) return prepareSeparated(path, needBody, out);
    out.filterPath = path;
    return {};
}

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (byte < 0x20 || byte == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
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
