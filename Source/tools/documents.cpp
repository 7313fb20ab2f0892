#include "documents.h"

#include <dirent.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>

namespace oasys_tools {

namespace {

// How often a wait for standard input looks whether the run was interrupted.
constexpr int kInterruptCheckMilliseconds = 100;
// Bytes enough for liboasys to tell a document from its signature.
constexpr size_t kSignatureBytes = 8;

// A .DOC, .FMT or .GRP file, in any case: a member of a separated document.
bool isMemberName(const char* fileName) { return oasys_name_role_of(fileName) != OASYS_NAME_OTHER; }

// The name of a member without its extension: what its members share.
std::string stemOf(std::string_view memberName) { return std::string(memberName.substr(0, memberName.rfind('.'))); }

OpenResult resultOf(oasys_status status, const oasys_result& result) {
    return {static_cast<Outcome>(status), status == OASYS_OK ? std::string() : std::string(result.message),
            static_cast<Packaging>(result.packaging)};
}

// The bytes read so far are enough to know standard input is no document.
bool isNoDocument(const std::string& head) {
    Document probe;
    oasys_result result{};
    return oasys_open_memory(head.data(), head.size(), OASYS_PACKAGING_AUTO, probe.place(), &result) ==
           OASYS_NOT_OASYS;
}

} // namespace

OpenResult openDocument(const fs::path& path, Packaging requested, Document& out) {
    oasys_result result{};
    const oasys_status status =
        oasys_open_path(path.c_str(), static_cast<oasys_packaging>(requested), out.place(), &result);
    return resultOf(status, result);
}

OpenResult readStandardInput(uint64_t limit, Packaging requested, Document& out) {
    if (requested == Packaging::Separated)
        return {Outcome::Usage, "a separated document cannot be read from standard input"};
    std::string stored;
    std::array<char, 65536> buffer{};
    bool looked = requested != Packaging::Auto;
    for (;;) {
        if (interruptSignal() != 0) return {Outcome::Unreadable, "interrupted while reading standard input"};
        // A signal may reach another thread of the process and leave a read waiting: look again
        // every kInterruptCheckMilliseconds.
        struct pollfd input {STDIN_FILENO, POLLIN, 0};
        const int ready = ::poll(&input, 1, kInterruptCheckMilliseconds);
        if (ready == 0 || (ready < 0 && errno == EINTR)) continue; // a signal here: look at it first
        const ssize_t got = ::read(STDIN_FILENO, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return {Outcome::Unreadable, systemCause("cannot read standard input", errno)};
        if (got == 0) break;
        if (stored.size() + static_cast<uint64_t>(got) > limit)
            return {Outcome::Unreadable, "standard input is longer than " + std::to_string(limit) + " bytes; " +
                                             std::string(kStdinLimitOption) + " raises the bound"};
        stored.append(buffer.data(), static_cast<size_t>(got));
        // The signature is looked at before more is kept.
        if (!looked && stored.size() >= kSignatureBytes) {
            looked = true;
            if (isNoDocument(stored.substr(0, kSignatureBytes))) return {Outcome::NotOasys, "not an OASYS document"};
        }
    }
    oasys_result result{};
    const oasys_status status =
        oasys_open_memory(stored.data(), stored.size(), static_cast<oasys_packaging>(requested), out.place(), &result);
    return resultOf(status, result);
}

void NamedInputs::addInputIds(const fs::path& path, FileIdSet& ids) {
    if (const auto id = fileIdOf(path)) ids.insert(*id);
    const std::string name = path.filename().native();
    if (!isMemberName(name.c_str())) return;
    const MembersByStem& members = membersIn(path.has_parent_path() ? path.parent_path() : fs::path("."));
    const auto [first, last] = members.equal_range(stemOf(name));
    for (auto it = first; it != last; ++it)
        if (const auto id = fileIdOf(it->second)) ids.insert(*id);
}

const NamedInputs::MembersByStem& NamedInputs::membersIn(const fs::path& folder) {
    const auto [place, isNew] = folders_.try_emplace(folder.native());
    if (!isNew) return place->second;
    // Names only: a folder of thousands of files is listed for one separated document named in it.
    const OpenFolder listing(::opendir(folder.c_str()));
    for (const dirent* entry; listing && (entry = ::readdir(listing.get())) != nullptr;)
        if (isMemberName(entry->d_name)) place->second.emplace(stemOf(entry->d_name), folder / entry->d_name);
    return place->second;
}

FolderEntry classifyFolderEntry(const char* fileName) {
    switch (oasys_name_role_of(fileName)) {
    case OASYS_NAME_BODY: return FolderEntry::Document;
    case OASYS_NAME_MEMBER: return FolderEntry::Member;
    default: return FolderEntry::Candidate;
    }
}

} // namespace oasys_tools
