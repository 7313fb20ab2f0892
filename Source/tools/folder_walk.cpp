#include "folder_walk.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "documents.h"

namespace oasys_tools {

namespace {

void walk(const fs::path& folder, const fs::path& relative, bool recursive, const FileIdSet& skip,
          const FoundFn& found, FileIdSet& inputs) {
    std::error_code error;
    // Each entry with its name, sorted by the name: entries of one folder differ only there, and
    // a plain string comparison is much cheaper than comparing paths component by component.
    std::vector<std::pair<std::string, fs::directory_entry>> entries;
    fs::directory_iterator it(folder, error);
    for (fs::directory_iterator end; !error && it != end; it.increment(error))
        entries.emplace_back(it->path().filename().native(), *it);
    if (error) {
        found({folder, relative, "the folder cannot be read: " + error.message()});
        return;
    }
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [name, entry] : entries) {
        // The listing tells a link apart without a system call, and one stat of the path,
        // following a link as a reader would, tells the rest and gives the file's identity.
        const bool link = entry.is_symlink(error);
        struct stat target {};
        if (!error && ::stat(entry.path().c_str(), &target) != 0) error.assign(errno, std::generic_category());
        if (error) {
            // A link to nothing is no document; anything else that cannot be looked at is told.
            if (error != std::errc::no_such_file_or_directory)
                found({entry.path(), relative / name, "cannot be read: " + error.message()});
            error.clear();
            continue;
        }
        const FileId id{target.st_dev, target.st_ino};
        if (S_ISDIR(target.st_mode)) {
            if (!link && recursive && !skip.count(id)) walk(entry.path(), relative / name, recursive, skip, found, inputs);
            continue; // links to folders are not followed
        }
        if (!S_ISREG(target.st_mode)) continue;
        inputs.insert(id);
        const FolderEntry kind = classifyFolderEntry(entry.path());
        if (kind != FolderEntry::Member)
            found({entry.path(), relative / name, {}, kind == FolderEntry::Candidate});
    }
}

} // namespace

void walkFolder(const fs::path& folder, bool recursive, const FileIdSet& skip, const FoundFn& found,
                FileIdSet& inputs) {
    walk(folder, {}, recursive, skip, found, inputs);
}

} // namespace oasys_tools
