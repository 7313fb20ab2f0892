// Opening documents: by path (any member of a separated document, in any case), from memory or
// from a descriptor; recognising the packaging. Every source is held as an open descriptor from
// the open to the close, so that what the filter reads is what was opened.
#include "oasys_internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "krm_host.h"
#include "krm_zori2.h"

namespace oasys {
namespace {

// The first bytes of an OLE compound file and of a combined OASYS document.
constexpr std::array<unsigned char, 8> kOleSignature = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::array<unsigned char, 4> kCombinedSignature = {0xF1, 0x10, 0x80, 0x00};

// The members of a separated document: a .DOC body and a .FMT format file with one stem, maybe a
// .GRP group file beside them (kBodyExtension ...); the extension may be written in any case.
constexpr std::string_view kProcFd = "/proc/self/fd/";

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::toupper(x) == std::toupper(y);
           });
}

std::string_view extensionOf(std::string_view name) {
    const size_t dot = name.rfind('.');
    return dot == std::string_view::npos || dot == 0 ? std::string_view() : name.substr(dot);
}

bool isSeparatedExtension(std::string_view extension) {
    return equalsIgnoringCase(extension, kBodyExtension) || equalsIgnoringCase(extension, kFormatExtension) ||
           equalsIgnoringCase(extension, kGroupExtension);
}

// The wanted extension written letter by letter in the case of the given one (".Doc" -> ".Fmt").
std::string inCaseOf(std::string_view wanted, std::string_view given) {
    std::string out(wanted);
    for (size_t i = 0; i < out.size() && i < given.size(); ++i) {
        const auto letter = static_cast<unsigned char>(out[i]);
        out[i] = static_cast<char>(std::islower(static_cast<unsigned char>(given[i])) ? std::tolower(letter)
                                                                                      : std::toupper(letter));
    }
    return out;
}

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool isRegularFile(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// The names of a folder's entries that match stem + extension in another case, sorted so that
// the choice does not depend on the order of the folder.
std::vector<std::string> namesInAnyCase(const std::string& folder, const std::string& stem, std::string_view extension) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> directory(::opendir(folder.empty() ? "." : folder.c_str()), ::closedir);
    if (!directory) return names;
    while (const dirent* entry = ::readdir(directory.get())) {
        const std::string_view name = entry->d_name;
        if (name.size() == stem.size() + extension.size() && name.compare(0, stem.size(), stem) == 0 &&
            equalsIgnoringCase(name.substr(stem.size()), extension))
            names.emplace_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The path of one member: the given name when it is that member; else stem + the extension in
// the case of the given one, all upper case, all lower case, then any other case. Only regular
// files count.
std::string pathInFolder(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

std::optional<std::string> findMember(const std::string& folder, const std::string& stem, std::string_view given,
                                      std::string_view wanted) {
    const std::string base = pathInFolder(folder, "");
    for (const std::string& name : {stem + inCaseOf(wanted, given), stem + std::string(wanted), stem + lowered(wanted)})
        if (isRegularFile(base + name)) return base + name;
    // Only then the folder is read: in an archive folder of thousands of documents, reading it for
    // every document would cost more than the documents themselves.
    for (const std::string& name : namesInAnyCase(folder, stem, wanted))
        if (isRegularFile(base + name)) return base + name;
    return std::nullopt;
}

// Opens a regular file for reading: UNREADABLE with the reason for anything else.
oasys_status openRegular(const std::string& path, UniqueFd& fd, Outcome& outcome) {
    fd.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd.valid()) return outcome.fail(OASYS_UNREADABLE, systemMessage("cannot open " + path, errno), errno);
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0)
        return outcome.fail(OASYS_UNREADABLE, systemMessage("cannot read " + path, errno), errno);
    if (S_ISDIR(status.st_mode)) return outcome.fail(OASYS_UNREADABLE, path + " is a directory", EISDIR);
    if (!S_ISREG(status.st_mode)) return outcome.fail(OASYS_UNREADABLE, path + " is not a regular file");
    return OASYS_OK;
}

// A descriptor of the caller's as a private one of ours that the host can open afresh: a regular
// file reopened, anything else (a pipe, a socket) read to its end into memory.
oasys_status adoptDescriptor(int fd, UniqueFd& adopted, Outcome& outcome) {
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return outcome.fail(OASYS_BAD_ARGUMENT, systemMessage("not an open descriptor", errno ? errno : EBADF), EBADF);
    if (S_ISDIR(status.st_mode)) return outcome.fail(OASYS_UNREADABLE, "the descriptor is a directory", EISDIR);
    if (S_ISREG(status.st_mode)) {
        const std::string path = std::string(kProcFd) + std::to_string(fd);
        adopted.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
        if (adopted.valid()) return OASYS_OK;
    }
    adopted = anonymousFile();
    if (!adopted.valid()) return outcome.fail(OASYS_UNREADABLE, systemMessage("cannot hold the document", errno), errno);
    std::array<char, 64 * 1024> chunk{};
    off_t offset = 0;
    for (;;) {
        // A regular file is read from its start; a stream from where it stands, as it can only go on.
        const ssize_t got = S_ISREG(status.st_mode) ? ::pread(fd, chunk.data(), chunk.size(), offset)
                                                    : ::read(fd, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return outcome.fail(OASYS_UNREADABLE, systemMessage("cannot read the document", errno), errno);
        if (got == 0) return OASYS_OK;
        if (::pwrite(adopted.get(), chunk.data(), static_cast<size_t>(got), offset) != got)
            return outcome.fail(OASYS_UNREADABLE, systemMessage("cannot hold the document", errno), errno);
        offset += got;
    }
}

oasys_status holdBytes(const void* data, size_t size, UniqueFd& held, Outcome& outcome) {
    held = anonymousFile();
    if (!held.valid()) return outcome.fail(OASYS_UNREADABLE, systemMessage("cannot hold the document", errno), errno);
    const char* bytes = static_cast<const char*>(data);
    for (size_t done = 0; done < size;) {
        const ssize_t put = ::pwrite(held.get(), bytes + done, size - done, static_cast<off_t>(done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return outcome.fail(OASYS_UNREADABLE, systemMessage("cannot hold the document", errno), errno);
        done += static_cast<size_t>(put);
    }
    return OASYS_OK;
}

// The packaging told by the first bytes; AUTO when they tell none.
oasys_packaging packagingBySignature(int fd) {
    std::array<unsigned char, kOleSignature.size()> head{};
    const ssize_t got = ::pread(fd, head.data(), head.size(), 0);
    if (got == static_cast<ssize_t>(kOleSignature.size()) && head == kOleSignature) return OASYS_PACKAGING_COMPOUND;
    if (got >= static_cast<ssize_t>(kCombinedSignature.size()) &&
        std::equal(kCombinedSignature.begin(), kCombinedSignature.end(), head.begin()))
        return OASYS_PACKAGING_COMBINED;
    return OASYS_PACKAGING_AUTO;
}

// The packaging of a single source: as asked, or told by its first bytes (compound only with the
// stream list).
oasys_status settlePackaging(oasys_document& document, oasys_packaging requested, bool nameIsSeparated,
                             Outcome& outcome) {
    document.packaging = requested;
    if (requested == OASYS_PACKAGING_AUTO) {
        document.packaging = packagingBySignature(document.source.get());
        if (document.packaging == OASYS_PACKAGING_AUTO && nameIsSeparated) document.packaging = OASYS_PACKAGING_SEPARATED;
    }
    outcome.setPackaging(document.packaging);
    if (document.packaging == OASYS_PACKAGING_AUTO) return outcome.fail(OASYS_NOT_OASYS, "not an OASYS document");
    if (requested == OASYS_PACKAGING_AUTO && document.packaging == OASYS_PACKAGING_COMPOUND)
        return checkCompound(document, outcome);
    return OASYS_OK;
}

// The name the filter is given for a document opened by path: its file name, or for a separated
// document its stem. Points become "_" there, so that the filter's search for ".DOC", ".FMT" and
// ".GRP" anywhere in the name finds only the extension we add.
std::string boundNameOf(const std::string& stem, bool separated) {
    std::string name = stem.empty() ? std::string("document") : stem;
    if (separated) std::replace(name.begin(), name.end(), '.', '_');
    return name;
}

// The members of a separated document named by path: each is found and opened, or the reason
// it is missing is kept for the call that needs it. The file at path, already open as the
// document's source, serves as the member it turns out to be.
void openMembers(oasys_document& document, const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash == 0 ? 1 : slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string_view given = extensionOf(name);
    const bool named = isSeparatedExtension(given);
    const std::string stem = named ? name.substr(0, name.size() - given.size()) : name;
    const std::string_view shownCase = named ? given : kBodyExtension;
    document.name = boundNameOf(stem, true);

    struct Member {
        std::string_view extension;
        UniqueFd& fd;
        std::string& missing;
        const char* role;
    };
    UniqueFd opened = std::move(document.source);
    for (const Member& member : {Member{kBodyExtension, document.source, document.sourceMissing, "text"},
                                 Member{kFormatExtension, document.format, document.formatMissing, "format"}}) {
        const std::string memberName = stem + inCaseOf(member.extension, shownCase);
        if (opened.valid() && pathInFolder(folder, memberName) == path) { // the first name findMember tries
            member.fd = std::move(opened);
            continue;
        }
        const std::optional<std::string> found = findMember(folder, stem, shownCase, member.extension);
        if (!found) {
            member.missing = std::string("its ") + member.role + " file " + memberName + " is missing";
            continue;
        }
        Outcome ignored(nullptr);
        if (openRegular(*found, member.fd, ignored) != OASYS_OK)
            member.missing = std::string("its ") + member.role + " file " + *found + " cannot be read";
    }
}

oasys_status handOver(std::unique_ptr<oasys_document>& document, oasys_document** out, Outcome& outcome) {
    *out = document.release();
    return outcome.ok();
}

// A document from one source that hold() takes in (bytes or a descriptor of the caller's), its
// packaging as asked or told by its first bytes.
template <class Hold>
oasys_status openSingle(oasys_packaging packaging, Hold&& hold, oasys_document** document, Outcome& outcome) {
    if (packaging == OASYS_PACKAGING_SEPARATED)
        return outcome.fail(OASYS_BAD_ARGUMENT, "a separated document comes as its two members");
    *document = nullptr;
    auto opened = std::make_unique<oasys_document>();
    if (const oasys_status status = hold(opened->source); status != OASYS_OK) return status;
    if (const oasys_status status = settlePackaging(*opened, packaging, false, outcome); status != OASYS_OK)
        return status;
    return handOver(opened, document, outcome);
}

// A separated document from its two members, each taken in by its hold(); without a body, the
// reason is kept for the calls that need the text.
template <class HoldBody, class HoldFormat>
oasys_status openSeparated(bool bodyGiven, HoldBody&& holdBody, HoldFormat&& holdFormat, oasys_document** document,
                           Outcome& outcome) {
    *document = nullptr;
    auto opened = std::make_unique<oasys_document>();
    opened->packaging = OASYS_PACKAGING_SEPARATED;
    if (!bodyGiven) {
        opened->sourceMissing = "its text file was not given";
    } else if (const oasys_status status = holdBody(opened->source); status != OASYS_OK) {
        return status;
    }
    if (const oasys_status status = holdFormat(opened->format); status != OASYS_OK) return status;
    return handOver(opened, document, outcome);
}

} // namespace

oasys_status checkCompound(const oasys_document& document, Outcome& outcome) {
    CallBinding binding;
    if (const oasys_status status = binding.bind(document, -1, nullptr, outcome); status != OASYS_OK) return status;
    errno = 0;
    const uint32_t storage = KRM_2OLEopen(binding.sourcePath(document, false).c_str());
    if (storage == 0) {
        constexpr const char* kUnopened = "it has the compound-file signature but cannot be opened as a compound file";
        // Only a library that cannot be loaded is worth telling: any other errno is libgsf's own.
        if (errno == ELIBACC) return outcome.fail(OASYS_BROKEN, systemMessage(kUnopened, ELIBACC), ELIBACC);
        return outcome.fail(OASYS_BROKEN, kUnopened);
    }
    const uint32_t list = KRM_2OLEopenStream(storage, KRM_STREAM_LIST_NAME);
    if (list != 0) KRM_2OLEcloseStream(list);
    KRM_2OLEclose(storage);
    if (list == 0) return outcome.fail(OASYS_NOT_OASYS, "a compound file without the OASYS stream list");
    return OASYS_OK;
}

} // namespace oasys

using oasys::Outcome;
using oasys::UniqueFd;

extern "C" {

OASYS_API oasys_status oasys_open_path(const char* path, oasys_packaging packaging, oasys_document** document,
                                       oasys_result* result) {
    return oasys::guarded(result, [&] {
        Outcome outcome(result, packaging);
        if (path == nullptr || document == nullptr || path[0] == '\0' || packaging > OASYS_PACKAGING_COMPOUND)
            return outcome.fail(OASYS_BAD_ARGUMENT, "a path and a place for the document are needed");
        *document = nullptr;
        auto opened = std::make_unique<oasys_document>();
        if (const oasys_status status = oasys::openRegular(path, opened->source, outcome); status != OASYS_OK)
            return status;
        const std::string_view name = std::string_view(path).substr(std::string_view(path).rfind('/') + 1);
        const bool named = oasys::isSeparatedExtension(oasys::extensionOf(name));
        opened->name = oasys::boundNameOf(std::string(name), false);
        if (const oasys_status status = oasys::settlePackaging(*opened, packaging, named, outcome); status != OASYS_OK)
            return status;
        if (opened->packaging == OASYS_PACKAGING_SEPARATED) oasys::openMembers(*opened, path);
        return oasys::handOver(opened, document, outcome);
    });
}

OASYS_API oasys_status oasys_open_memory(const void* data, size_t size, oasys_packaging packaging,
                                         oasys_document** document, oasys_result* result) {
    return oasys::guarded(result, [&] {
        Outcome outcome(result, packaging);
        if ((data == nullptr && size != 0) || document == nullptr || packaging > OASYS_PACKAGING_COMPOUND)
            return outcome.fail(OASYS_BAD_ARGUMENT, "the bytes and a place for the document are needed");
        return oasys::openSingle(
            packaging, [&](UniqueFd& held) { return oasys::holdBytes(data, size, held, outcome); }, document, outcome);
    });
}

OASYS_API oasys_status oasys_open_separated_memory(const void* body, size_t body_size, const void* format,
                                                   size_t format_size, oasys_document** document,
                                                   oasys_result* result) {
    return oasys::guarded(result, [&] {
        Outcome outcome(result, OASYS_PACKAGING_SEPARATED);
        if ((body == nullptr && body_size != 0) || format == nullptr || document == nullptr)
            return outcome.fail(OASYS_BAD_ARGUMENT, "the format file's bytes and a place for the document are needed");
        return oasys::openSeparated(
            body != nullptr, [&](UniqueFd& held) { return oasys::holdBytes(body, body_size, held, outcome); },
            [&](UniqueFd& held) { return oasys::holdBytes(format, format_size, held, outcome); }, document, outcome);
    });
}

OASYS_API oasys_status oasys_open_fd(int fd, oasys_packaging packaging, oasys_document** document,
                                     oasys_result* result) {
    return oasys::guarded(result, [&] {
        Outcome outcome(result, packaging);
        if (document == nullptr || packaging > OASYS_PACKAGING_COMPOUND)
            return outcome.fail(OASYS_BAD_ARGUMENT, "a place for the document is needed");
        return oasys::openSingle(
            packaging, [&](UniqueFd& held) { return oasys::adoptDescriptor(fd, held, outcome); }, document, outcome);
    });
}

OASYS_API oasys_status oasys_open_separated_fds(int body_fd, int format_fd, oasys_document** document,
                                                oasys_result* result) {
    return oasys::guarded(result, [&] {
        Outcome outcome(result, OASYS_PACKAGING_SEPARATED);
        if (document == nullptr) return outcome.fail(OASYS_BAD_ARGUMENT, "a place for the document is needed");
        return oasys::openSeparated(
            body_fd >= 0, [&](UniqueFd& held) { return oasys::adoptDescriptor(body_fd, held, outcome); },
            [&](UniqueFd& held) { return oasys::adoptDescriptor(format_fd, held, outcome); }, document, outcome);
    });
}

OASYS_API oasys_name_role oasys_name_role_of(const char* name) {
    if (name == nullptr) return OASYS_NAME_OTHER;
    const std::string_view extension = oasys::extensionOf(std::string_view(name).substr(std::string_view(name).rfind('/') + 1));
    if (oasys::equalsIgnoringCase(extension, oasys::kBodyExtension)) return OASYS_NAME_BODY;
    return oasys::isSeparatedExtension(extension) ? OASYS_NAME_MEMBER : OASYS_NAME_OTHER;
}

OASYS_API void oasys_close(oasys_document* document) { delete document; }

OASYS_API oasys_packaging oasys_document_packaging(const oasys_document* document) {
    return document != nullptr ? document->packaging : OASYS_PACKAGING_AUTO;
}

} // extern "C"
