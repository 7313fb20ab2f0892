#include "documents.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include "text_engine.h"

namespace oasys_tools {

namespace {

// Extensions of the members of a separated document, upper case.
constexpr std::string_view kBodyExtension = ".DOC";
constexpr std::string_view kFormatExtension = ".FMT";
constexpr std::string_view kGroupExtension = ".GRP";

constexpr size_t kHeadSize = 8;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::toupper(x) == std::toupper(y);
           });
}

// The extension in the case style of the given one: all lower case when it is, else upper case.
std::string inCaseOf(std::string_view extension, std::string_view model) {
    const bool lower = std::any_of(model.begin(), model.end(), [](unsigned char c) { return std::islower(c); });
    std::string text(extension);
    for (char& c : text) c = static_cast<char>(lower ? std::tolower(static_cast<unsigned char>(c)) : c);
    return text;
}

// The member of a separated document: the name in the case style of the name given, then in the
// other style, then in any case. Only an existing name is returned.
std::optional<fs::path> findMember(const fs::path& given, std::string_view extension) {
    const fs::path folder = given.has_parent_path() ? given.parent_path() : fs::path(".");
    const std::string stem = hasSeparatedExtension(given) ? given.stem().string() : given.filename().string();
    const std::string model = hasSeparatedExtension(given) ? given.extension().string() : std::string(extension);
    std::error_code error;
    for (const std::string& name : {stem + inCaseOf(extension, model), stem + inCaseOf(extension, "x"),
                                    stem + std::string(extension)}) {
        if (fs::exists(folder / name, error)) return given.parent_path() / name;
    }
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() == stem.size() + extension.size() && name.compare(0, stem.size(), stem) == 0 &&
            equalsIgnoringCase(std::string_view(name).substr(stem.size()), extension))
            return given.parent_path() / name;
    }
    return std::nullopt;
}

// Opens a file for reading only when it is a regular file: a pipe is opened without waiting for a
// writer, then refused like a device.
OpenResult openRegular(const fs::path& path, UniqueFd& fd) {
    fd = UniqueFd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd) {
        const int error = errno;
        if (error == ENOENT) return {Outcome::Unreadable, "no such file"};
        return {Outcome::Unreadable, systemCause("cannot be read", error)};
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return {Outcome::Unreadable, systemCause("cannot be read", errno)};
    if (S_ISDIR(info.st_mode)) return {Outcome::Unreadable, "is a folder"};
    if (!S_ISREG(info.st_mode)) return {Outcome::Unreadable, "is not a regular file (a device, pipe or socket); not read"};
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    return {};
}

size_t readHead(int fd, std::array<unsigned char, kHeadSize>& head) {
    const ssize_t got = ::pread(fd, head.data(), head.size(), 0);
    return got > 0 ? static_cast<size_t>(got) : 0;
}

bool startsWith(const std::array<unsigned char, kHeadSize>& head, size_t got, const unsigned char* signature,
                size_t size) {
    return got >= size && std::memcmp(head.data(), signature, size) == 0;
}

// The packaging by the first bytes; nullopt when they are no combined or compound signature.
// A compound file without the OASYS stream list is not OASYS; one that cannot be opened at all is
// a damaged compound document.
std::optional<Packaging> packagingByContent(const std::array<unsigned char, kHeadSize>& head, size_t got, int fd,
                                            bool& damagedCompound, bool& otherCompound) {
    if (startsWith(head, got, kOleSignature, sizeof kOleSignature)) {
        const CompoundKind kind = examineCompound(fd);
        damagedCompound = kind == CompoundKind::Unreadable;
        otherCompound = kind == CompoundKind::Other;
        return otherCompound ? std::nullopt : std::optional(Packaging::Compound);
    }
    if (startsWith(head, got, kCombinedSignature, sizeof kCombinedSignature)) return Packaging::Combined;
    return std::nullopt;
}

OpenResult openSeparated(const fs::path& path, bool needBody, InputDocument& out) {
    const std::string stem = hasSeparatedExtension(path) ? path.stem().string() : path.filename().string();
    const std::optional<fs::path> body =
        hasBodyExtension(path) ? std::optional(path) : findMember(path, kBodyExtension);
    const std::optional<fs::path> format = findMember(path, kFormatExtension);
    if (needBody && !body)
        return {Outcome::Unreadable, "its text file " + stem + std::string(kBodyExtension) + " is missing"};
    if (!format)
        return {Outcome::Unreadable, "its format file " + stem + std::string(kFormatExtension) + " is missing"};
    if (needBody) {
        if (OpenResult opened = openRegular(*body, out.body); opened.outcome != Outcome::Ok) {
            opened.cause = "its text file " + body->filename().string() + " " + opened.cause;
            return opened;
        }
    }
    if (OpenResult opened = openRegular(*format, out.format); opened.outcome != Outcome::Ok) {
        opened.cause = "its format file " + format->filename().string() + " " + opened.cause;
        return opened;
    }
    return {};
}

} // namespace

bool hasSeparatedExtension(const fs::path& path) {
    const std::string extension = path.extension().string();
    return equalsIgnoringCase(extension, kBodyExtension) || equalsIgnoringCase(extension, kFormatExtension) ||
           equalsIgnoringCase(extension, kGroupExtension);
}

bool hasBodyExtension(const fs::path& path) { return equalsIgnoringCase(path.extension().string(), kBodyExtension); }

OpenResult openDocument(const fs::path& path, Packaging requested, bool needBody, InputDocument& out) {
    UniqueFd file;
    if (OpenResult opened = openRegular(path, file); opened.outcome != Outcome::Ok) return opened;
    out.packaging = requested;
    if (requested == Packaging::Auto) {
        std::array<unsigned char, kHeadSize> head{};
        const size_t got = readHead(file.get(), head);
        bool otherCompound = false;
        const std::optional<Packaging> byContent =
            packagingByContent(head, got, file.get(), out.damagedCompound, otherCompound);
        if (byContent) {
            out.packaging = *byContent;
        } else if (!otherCompound && hasSeparatedExtension(path)) {
            out.packaging = Packaging::Separated;
        } else {
            return {Outcome::NotOasys, "not an OASYS document"};
        }
    } else if (requested == Packaging::Compound) {
        std::array<unsigned char, kHeadSize> head{};
        const size_t got = readHead(file.get(), head);
        out.damagedCompound = startsWith(head, got, kOleSignature, sizeof kOleSignature) &&
                              examineCompound(file.get()) == CompoundKind::Unreadable;
    }
    if (out.packaging == Packaging::Separated) return openSeparated(path, needBody, out);
    out.body = std::move(file);
    return {};
}

OpenResult readStandardInput(uint64_t limit, Packaging requested, InputDocument& out) {
    if (requested == Packaging::Separated)
        return {Outcome::Usage, "a separated document cannot be read from standard input"};
    UniqueFd memory(::memfd_create("oasys-standard-input", MFD_CLOEXEC));
    if (!memory) return {Outcome::OutputError, systemCause("cannot keep standard input in memory", errno)};
    std::array<char, 65536> buffer{};
    uint64_t stored = 0;
    std::array<unsigned char, kHeadSize> head{};
    size_t headGot = 0;
    for (;;) {
        if (interruptSignal() != 0) return {Outcome::Unreadable, "interrupted while reading standard input"};
        const ssize_t got = ::read(STDIN_FILENO, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return {Outcome::Unreadable, systemCause("cannot read standard input", errno)};
        if (got == 0) break;
        // The signature is looked at before anything is kept.
        const size_t toHead = std::min(kHeadSize - headGot, static_cast<size_t>(got));
        std::memcpy(head.data() + headGot, buffer.data(), toHead);
        headGot += toHead;
        if (headGot >= sizeof kCombinedSignature && requested == Packaging::Auto &&
            !startsWith(head, headGot, kCombinedSignature, sizeof kCombinedSignature) &&
            std::memcmp(head.data(), kOleSignature, std::min(headGot, sizeof kOleSignature)) != 0)
            return {Outcome::NotOasys, "not an OASYS document"};
        stored += static_cast<uint64_t>(got);
        if (stored > limit)
            return {Outcome::Unreadable, "standard input is longer than " + std::to_string(limit) +
                                             " bytes; " + std::string(kStdinLimitOption) + " raises the bound"};
        int error = 0;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(memory.get(), buffer.data() + done, static_cast<size_t>(got - done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) {
                error = put < 0 ? errno : EIO;
                break;
            }
            done += put;
        }
        if (error != 0) return {Outcome::OutputError, systemCause("cannot keep standard input in memory", error)};
    }
    bool otherCompound = false;
    const std::optional<Packaging> byContent =
        packagingByContent(head, headGot, memory.get(), out.damagedCompound, otherCompound);
    out.packaging = requested != Packaging::Auto ? requested : byContent.value_or(Packaging::Auto);
    if (out.packaging == Packaging::Auto) return {Outcome::NotOasys, "not an OASYS document"};
    out.body = std::move(memory);
    return {};
}

void addInputIds(const fs::path& path, FileIdSet& ids) {
    if (const auto id = fileIdOf(path)) ids.insert(*id);
    if (!hasSeparatedExtension(path)) return;
    for (const std::string_view extension : {kBodyExtension, kFormatExtension, kGroupExtension})
        if (const auto member = findMember(path, extension))
            if (const auto id = fileIdOf(*member)) ids.insert(*id);
}

FolderEntry classifyFolderEntry(const fs::path& path, std::string& cause) {
    // Format and group members belong to their body; the body is known by its name.
    if (hasBodyExtension(path)) return FolderEntry::Document;
    if (hasSeparatedExtension(path)) return FolderEntry::Other;
    UniqueFd file;
    if (const OpenResult opened = openRegular(path, file); opened.outcome != Outcome::Ok) {
        cause = opened.cause;
        return FolderEntry::Unreadable;
    }
    std::array<unsigned char, kHeadSize> head{};
    const size_t got = readHead(file.get(), head);
    // A compound file is a candidate by its signature; whether it holds OASYS is the document's
    // own outcome (not OASYS, or broken when it cannot be opened).
    if (startsWith(head, got, kOleSignature, sizeof kOleSignature)) {
        bool damaged = false, other = false;
        packagingByContent(head, got, file.get(), damaged, other);
        return other ? FolderEntry::Other : FolderEntry::Document;
    }
    return startsWith(head, got, kCombinedSignature, sizeof kCombinedSignature) ? FolderEntry::Document
                                                                                 : FolderEntry::Other;
}

} // namespace oasys_tools
