// The input side of the tools: a document named on the command line, met in a folder or read
// from standard input, opened once through liboasys before any work starts.
//
// Only regular files are read (a pipe or a device named as a document would block or never end);
// standard input is recognised from its first bytes before anything more is stored and is kept
// in memory with a bound, so nothing of it is left behind whatever ends the run.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <unordered_map>

#include "oasys.h"
#include "safe_files.h"
#include "tool_common.h"

namespace oasys_tools {

// An open liboasys document, closed on destruction.
class Document {
public:
    Document() = default;
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;
    ~Document() { oasys_close(document_); }
    oasys_document* get() const { return document_; }
    oasys_document** place() { return &document_; }

private:
    oasys_document* document_ = nullptr;
};

struct OpenResult {
    Outcome outcome = Outcome::Ok; // Ok when the document is ready
    std::string cause;
    Packaging packaging = Packaging::Auto; // when known, also on failure
};

OpenResult openDocument(const fs::path& path, Packaging requested, Document& out);

// Standard input, kept in memory up to limit bytes (kStdinLimitOption raises it).
OpenResult readStandardInput(uint64_t limit, Packaging requested, Document& out);

// The files of the documents named on the command line, for the check that no output replaces an
// input. A separated document's members may be spelt in any case, so its folder is listed to find
// them; a folder is listed once per run, when a document in it is first named, however many of
// its documents are named after that.
class NamedInputs {
public:
    // The identities of the files of the document named by path: the file, and every file that may
    // be a member of the same separated document.
    void addInputIds(const fs::path& path, FileIdSet& ids);

private:
    // The member files of one folder (their paths as the tool reaches them), by stem.
    using MembersByStem = std::unordered_multimap<std::string, fs::path>;
    const MembersByStem& membersIn(const fs::path& folder);
    std::unordered_map<std::string, MembersByStem> folders_; // by the folder's path as given
};

// A file met in a folder, by its name: the body of a separated document, another member of one
// (read with its body), or any other file, which is a document only when its first bytes say so.
// The bytes are looked at when the document is opened for its work, by the batch's workers: the
// walk reads no file, and a document is opened once.
enum class FolderEntry { Document, Member, Candidate };
FolderEntry classifyFolderEntry(const char* fileName);

} // namespace oasys_tools
