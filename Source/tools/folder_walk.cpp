#include "folder_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string_view>
#include <system_error>

#include "documents.h"

namespace oasys_tools {

namespace {

// A name of a folder's listing, with the kind of file the listing tells (DT_LNK for a link;
// DT_UNKNOWN where the file system tells nothing).
struct Listed {
    std::string name;
    unsigned char type;
};

// The folder's names but "." and "..", sorted by a plain string comparison; false with errno set
// when the listing breaks off. Only names are kept: a folder of thousands of documents is listed
// before its first document can be handed out, so the listing must cost little more than the
// system's.
bool listSorted(DIR* folder, std::vector<Listed>& names) {
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(folder);
        if (entry == nullptr) break;
        const std::string_view name(entry->d_name);
        if (name != "." && name != "..") names.push_back({std::string(name), entry->d_type});
    }
    if (errno != 0) return false;
    std::sort(names.begin(), names.end(), [](const Listed& a, const Listed& b) { return a.name < b.name; });
    return true;
}

std::string causeOf(int error) { return std::generic_category().message(error); }

// Why a folder cannot be read, taken from errno before anything else can change it.
std::string unreadableFolder() { return "the folder cannot be read: " + causeOf(errno); }

// A subfolder, opened by the path the tool reaches it by (so that the system's bound on a path's
// length bounds the walk's depth too), never through a link put there since the listing.
OpenFolder openSubfolder(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return nullptr;
    OpenFolder folder(::fdopendir(fd));
    if (!folder) {
        const int error = errno;
        ::close(fd);
        errno = error;
    }
    return folder;
}

void walk(DIR* folder, const fs::path& path, const fs::path& relative, bool recursive, const FileIdSet& skip,
          const FoundFn& found, FileIdSet& inputs) {
    std::vector<Listed> names;
    if (!listSorted(folder, names)) {
        std::string cause = unreadableFolder();
        found({path, relative, std::move(cause)});
        return;
    }
    const int fd = ::dirfd(folder);
    for (const Listed& entry : names) {
        const char* name = entry.name.c_str();
        // The listing tells a link apart, and one stat of the name, following a link as a reader
        // would, tells the rest and gives the file's identity.
        struct stat target {};
        bool link = entry.type == DT_LNK;
        int error = 0;
        if (entry.type == DT_UNKNOWN) {
            if (::fstatat(fd, name, &target, AT_SYMLINK_NOFOLLOW) != 0) error = errno;
            link = S_ISLNK(target.st_mode);
        }
        if (error == 0 && ::fstatat(fd, name, &target, 0) != 0) error = errno;
        if (error != 0) {
            // A link to nothing is no document; anything else that cannot be looked at is told.
            if (error != ENOENT) found({path / entry.name, relative / entry.name, "cannot be read: " + causeOf(error)});
            continue;
        }
        const FileId id{target.st_dev, target.st_ino};
        if (S_ISDIR(target.st_mode)) {
            // Links to folders are not followed.
            if (link || !recursive || skip.count(id) != 0) continue;
            const fs::path subfolder = path / entry.name;
            const OpenFolder opened = openSubfolder(subfolder);
            if (!opened) {
                std::string cause = unreadableFolder();
                found({subfolder, relative / entry.name, std::move(cause)});
            } else {
                walk(opened.get(), subfolder, relative / entry.name, recursive, skip, found, inputs);
            }
            continue;
        }
        if (!S_ISREG(target.st_mode)) continue;
        inputs.insert(id);
        const FolderEntry kind = classifyFolderEntry(name);
        if (kind != FolderEntry::Member)
            found({path / entry.name, relative / entry.name, {}, kind == FolderEntry::Candidate});
    }
}

} // namespace

void walkFolder(const fs::path& folder, bool recursive, const FileIdSet& skip, const FoundFn& found,
                FileIdSet& inputs) {
    const OpenFolder opened(::opendir(folder.c_str()));
    if (!opened) {
        std::string cause = unreadableFolder();
        found({folder, {}, std::move(cause)});
        return;
    }
    walk(opened.get(), folder, {}, recursive, skip, found, inputs);
}

} // namespace oasys_tools
