// The input side of the tools: a document named on the command line, met in a folder or read
// from standard input, opened once and checked before any work starts.
//
// Only regular files are read (a pipe or a device named as a document would block or never end);
// a separated document is found from any of its members in any case, an exact name first; standard
// input is recognised from its first bytes before anything is stored and is kept in memory with a
// bound, so nothing of it is left behind whatever ends the run.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "safe_files.h"
#include "tool_common.h"

namespace oasys_tools {

// An opened document. For a combined or compound document `body` is the file itself; for a
// separated document `body` is the .DOC member (absent when only the properties are asked for)
// and `format` the .FMT member.
struct InputDocument {
    Packaging packaging = Packaging::Auto;
    UniqueFd body;
    UniqueFd format;
    // A file with the compound-file signature that is no readable compound file: a broken document.
    bool damagedCompound = false;
};

struct OpenResult {
    Outcome outcome = Outcome::Ok; // Ok when the document is ready
    std::string cause;
};

// needBody: the text needs the .DOC member; the properties need only the .FMT member.
OpenResult openDocument(const fs::path& path, Packaging requested, bool needBody, InputDocument& out);

// The default bound of standard input kept in memory, and the option that raises it.
inline constexpr uint64_t kDefaultStdinLimit = 512ull << 20;
inline constexpr std::string_view kStdinLimitOption = "--stdin-limit";
// Reads standard input (combined or compound, recognised from its first bytes) into memory.
OpenResult readStandardInput(uint64_t limit, Packaging requested, InputDocument& out);

// The identities of the files of the document named by path (the file, and the members of a
// separated document), for the check that no output replaces an input.
void addInputIds(const fs::path& path, FileIdSet& ids);

// A file met in a folder: a document (the body of a separated document, or a combined or compound
// document by its first bytes), something else, or a file that cannot be read (cause set).
enum class FolderEntry { Document, Other, Unreadable };
FolderEntry classifyFolderEntry(const fs::path& path, std::string& cause);

// True for the .DOC/.FMT/.GRP extensions in any case; hasBodyExtension: .DOC in any case.
bool hasSeparatedExtension(const fs::path& path);
bool hasBodyExtension(const fs::path& path);

} // namespace oasys_tools
