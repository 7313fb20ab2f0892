// How the tools touch the file system on a user's behalf.
//
// Every file they create (texts, logs, reports) appears under its name only when it is complete:
// where nothing stands at the name, the file is made without a name (O_TMPFILE) in the folder it
// belongs to and linked under its name at the end, so that nothing is left behind whatever
// happens to the process; where a file is replaced (or the file system makes no nameless file),
// it is made the way install, rsync and mv make theirs, under a temporary name created
// exclusively in the folder and renamed over the name. Folders beneath an output folder are reached and
// made without following a symbolic link on the way, so a link planted in an output tree can
// neither lead a write elsewhere nor be written through. Nothing that was at a destination is
// removed or changed when a document fails.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <compare>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "oasys.h"

namespace oasys_tools {

namespace fs = std::filesystem;

// An owned file descriptor, closed on destruction.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    ~UniqueFd();
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release();

private:
    int fd_ = -1;
};

// An open folder listing (opendir), closed on destruction.
struct FolderCloser {
    void operator()(DIR* folder) const { ::closedir(folder); }
};
using OpenFolder = std::unique_ptr<DIR, FolderCloser>;

// The identity of a file: the same device and inode are the same file, whatever its names.
struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    auto operator<=>(const FileId&) const = default;
};
std::optional<FileId> fileIdOf(int fd);
std::optional<FileId> fileIdOf(const fs::path& path); // follows links, as a reader would
using FileIdSet = std::set<FileId>;

// The identities of the files a run reads. A batch fills the list while it walks its folders, and
// its first documents are worked on meanwhile; whoever asks whether a file is an input waits until
// the list is complete, so that no answer comes from half a list. Only a file that already stands
// where a text is to go is asked about, so a run into a new folder never waits.
class InputFiles {
public:
    FileIdSet& filling() { return ids_; } // by one thread, before complete()
    void complete();
    bool contains(const FileId& id) const;

private:
    FileIdSet ids_;
    mutable std::mutex mutex_;
    mutable std::condition_variable completed_;
    bool complete_ = false;
};

// "<what>: <the system's reason>".
std::string systemCause(const std::string& what, int error);

// Opens a path relative to a folder without following any symbolic link and without leaving the
// folder: openat2 with RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS where the kernel has it, otherwise one
// component at a time with O_NOFOLLOW. -1 with errno set on failure (ELOOP for a link).
int openBeneath(int folder, const fs::path& relative, int flags, mode_t mode = 0);

// The folders a run made beneath an output folder, shared by that folder and every folder opened
// beneath it, so that a folder made for one document is known as made for the documents after it.
class MadeFolders {
public:
    void add(const FileId& id);
    bool contains(const FileId& id) const;

private:
    mutable std::mutex mutex_;
    FileIdSet ids_;
};

// A folder that receives files: the folder the user named (reached as the user's own path), and
// the folders made beneath it, never through a link.
class OutputFolder {
public:
    // Opens (and with create, makes) the user's folder. Empty optional with the cause on failure.
    static std::optional<OutputFolder> open(const fs::path& path, bool create, std::string& cause);
    // The folder holding a named file (its parent, "." for a bare name), not made.
    static std::optional<OutputFolder> parentOf(const fs::path& file, std::string& cause);

    // The folder at relative (made as needed) beneath this one.
    std::optional<OutputFolder> beneath(const fs::path& relative, std::string& cause) const;

    int fd() const { return fd_.get(); }
    const fs::path& path() const { return path_; }
    FileId id() const { return id_; }
    // True when the run made the folder (this open, or beneath() from the same opened folder for
    // an earlier document): nothing stands in it then but what the run puts there, so a new
    // file's name is not looked up before the file is made (giving the file its name still
    // refuses a name taken by then). A look-up of a name that is not there waits for every file
    // being linked into the folder by other workers at that moment.
    bool madeByThisRun() const { return made_; }

private:
    OutputFolder(UniqueFd fd, fs::path path, FileId id, bool made, std::shared_ptr<MadeFolders> madeFolders)
        : fd_(std::move(fd)), path_(std::move(path)), id_(id), made_(made), madeFolders_(std::move(madeFolders)) {}
    UniqueFd fd_;
    fs::path path_;
    FileId id_;
    bool made_;
    std::shared_ptr<MadeFolders> madeFolders_;
};

// A file written without a name, or under a temporary name, in its folder, and given `name` by
// commit(); the file is gone when the object goes without a commit (failure, interruption). An
// existing file of the same identity as one of the run's inputs is refused before anything is
// written, and so is a destination that is a folder or any other non-regular file: a device or
// a pipe is written to directly only when the user names it (see TextOutput).
class PendingFile {
public:
    PendingFile() = default;
    PendingFile(PendingFile&&) noexcept;
    PendingFile& operator=(PendingFile&&) noexcept;
    ~PendingFile();

    // False with the cause when the destination is refused or the temporary file cannot be made.
    bool create(const OutputFolder& folder, const std::string& name, const InputFiles& inputs, std::string& cause);
    int fd() const { return fd_.get(); }
    // Gives the complete file its name; false with the cause on failure.
    bool commit(std::string& cause);
    // Removes the file now.
    void discard();

private:
    bool linkNameless(std::string& cause);

    int folder_ = -1; // borrowed from the OutputFolder, which outlives this object
    std::string temporary_; // empty for a file without a name
    std::string name_;
    fs::path shown_;
    UniqueFd fd_;
};

// Where the text of one document goes: standard output, a device or pipe the user named (written
// directly, never removed), or a new file (PendingFile). Keeps the system's reason of a failed
// write.
class TextOutput {
public:
    static TextOutput standardOutput();
    // The destination the user named on the command line.
    static std::optional<TextOutput> named(const fs::path& path, const InputFiles& inputs, std::string& cause);
    // A file of this name in a folder of the run's output tree, which outlives the TextOutput.
    static std::optional<TextOutput> inFolder(const OutputFolder& folder, const std::string& name,
                                              const InputFiles& inputs, std::string& cause);
    // The same in a folder the TextOutput keeps open until it is gone.
    static std::optional<TextOutput> inOwnFolder(OutputFolder folder, const std::string& name, const InputFiles& inputs,
                                                 std::string& cause);

    // False when the write failed; error() then holds the system's code.
    bool write(const void* data, size_t size);
    // The new file the text goes into, for a writer of its own; -1 when it goes elsewhere.
    int newFileFd() const { return newFile_ ? fd_ : -1; }
    // Where the text goes, as messages name it.
    const std::string& shownName() const { return shown_; }
    int error() const { return error_; }
    // keep: the text stays (a new file is renamed into place); otherwise a new file is removed.
    bool finish(bool keep, std::string& cause);

private:
    TextOutput() = default;
    std::optional<OutputFolder> ownFolder_;
    bool newFile_ = false; // pending_ holds the text
    PendingFile pending_;
    UniqueFd direct_;
    int fd_ = -1;
    int error_ = 0;
    std::string shown_;
};

// The longest name of one file the file systems take (bytes).
inline constexpr size_t kNameMax = OASYS_NAME_MAX;
// name + suffix, shortened when it would be longer than kNameMax: liboasys's rule of output names
// (oasys_output_name), which every batch over folders follows.
std::string soundFileName(const std::string& name, const std::string& suffix);

} // namespace oasys_tools
