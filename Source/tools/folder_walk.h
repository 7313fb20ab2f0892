// The documents of a folder a batch is given, found without dropping anything in silence: a folder
// or a file that cannot be read (no permission, a path too long for the system) is found too,
// with its cause, so that it has its report line.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "safe_files.h"

namespace oasys_tools {

struct FoundEntry {
    fs::path path;          // as the tool reaches it
    fs::path relative;      // beneath the folder given
    std::string unreadable; // the cause when the file or folder cannot be read
    bool candidate = false; // a document only if its first bytes say so (classifyFolderEntry)
};

// Hands `found` every document and candidate in the folder (with subfolders when recursive) in
// name order, each as soon as it is known, so that work on the first documents can begin while the
// walk goes on. Folders in `skip` (the run's own output folders) are not entered; links to folders
// are not followed, and pipes, devices and sockets are no documents. inputs receives the identity
// of every file the documents found may read (each document and every member of a separated
// document), from the listing the walk reads anyway: a folder of thousands of documents is read
// once, not once per document.
using FoundFn = std::function<void(FoundEntry)>;
void walkFolder(const fs::path& folder, bool recursive, const FileIdSet& skip, const FoundFn& found,
                FileIdSet& inputs);

} // namespace oasys_tools
