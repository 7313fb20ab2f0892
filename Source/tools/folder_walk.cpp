#include "folder_walk.h"

#include <algorithm>

#include "documents.h"

namespace oasys_tools {

namespace {

void walk(const fs::path& folder, const fs::path& relative, bool recursive, const FileIdSet& skip,
          std::vector<FoundEntry>& found, FileIdSet& inputs) {
    std::error_code error;
    std::vector<fs::directory_entry> entries;
    fs::directory_iterator it(folder, error);
    for (fs::directory_iterator end; !error && it != end; it.increment(error)) entries.push_back(*it);
    if (error) {
        found.push_back({folder, relative, "the folder cannot be read: " + error.message()});
        return;
    }
    std::sort(entries.begin(), entries.end());
    for (const fs::directory_entry& entry : entries) {
        const fs::path name = entry.path().filename();
        const fs::file_status own = entry.symlink_status(error);
        if (!error && fs::is_directory(own)) {
            const auto id = fileIdOf(entry.path());
            if (recursive && !(id && skip.count(*id))) walk(entry.path(), relative / name, recursive, skip, found, inputs);
            continue;
        }
        const fs::file_status target = error ? own : entry.status(error);
        if (error) {
            // A link to nothing is no document; anything else that cannot be looked at is told.
            if (error != std::errc::no_such_file_or_directory)
                found.push_back({entry.path(), relative / name, "cannot be read: " + error.message()});
            continue;
        }
        if (!fs::is_regular_file(target)) continue;
        if (const auto id = fileIdOf(entry.path())) inputs.insert(*id);
        const FolderEntry kind = classifyFolderEntry(entry.path());
        if (kind != FolderEntry::Member)
            found.push_back({entry.path(), relative / name, {}, kind == FolderEntry::Candidate});
    }
}

} // namespace

void walkFolder(const fs::path& folder, bool recursive, const FileIdSet& skip, std::vector<FoundEntry>& found,
                FileIdSet& inputs) {
    walk(folder, {}, recursive, skip, found, inputs);
}

} // namespace oasys_tools
