#include "safe_files.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

namespace oasys_tools {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

std::optional<FileId> idOfStat(int result, const struct stat& info) {
    if (result != 0) return std::nullopt;
    return FileId{info.st_dev, info.st_ino};
}

// openat2 beneath the folder; ENOSYS (old kernel) or E2BIG tells the caller to walk instead.
int openat2Beneath(int folder, const char* relative, int flags, mode_t mode) {
#ifdef SYS_openat2
    struct open_how how {};
    how.flags = static_cast<uint64_t>(flags);
    how.mode = (flags & O_CREAT) ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    return static_cast<int>(::syscall(SYS_openat2, folder, relative, &how, sizeof how));
#else
    errno = ENOSYS;
    return -1;
#endif
}

// One component at a time: every folder on the way opened with O_NOFOLLOW from the one before.
int openByComponents(int folder, const fs::path& relative, int flags, mode_t mode) {
    UniqueFd current(::fcntl(folder, F_DUPFD_CLOEXEC, 0));
    if (!current) return -1;
    std::vector<std::string> parts;
    for (const fs::path& part : relative)
        if (!part.empty() && part != ".") parts.push_back(part.string());
    if (parts.empty()) return ::openat(current.get(), ".", flags | O_CLOEXEC, mode);
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        if (parts[i] == "..") {
            errno = EXDEV;
            return -1;
        }
        UniqueFd next(::openat(current.get(), parts[i].c_str(), kFolderFlags | O_NOFOLLOW));
        if (!next) return -1;
        current = std::move(next);
    }
    if (parts.back() == "..") {
        errno = EXDEV;
        return -1;
    }
    return ::openat(current.get(), parts.back().c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
}

std::string randomSuffix() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(generator()));
    return text;
}

bool writeAll(int fd, const void* data, size_t size, int& error) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t put = ::write(fd, bytes, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            error = put < 0 ? errno : EIO;
            return false;
        }
        bytes += put;
        size -= static_cast<size_t>(put);
    }
    return true;
}

} // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

UniqueFd::~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
}

int UniqueFd::release() { return std::exchange(fd_, -1); }

std::optional<FileId> fileIdOf(int fd) {
    struct stat info {};
    return idOfStat(::fstat(fd, &info), info);
}

std::optional<FileId> fileIdOf(const fs::path& path) {
    struct stat info {};
    return idOfStat(::stat(path.c_str(), &info), info);
}

std::string systemCause(const std::string& what, int error) { return what + ": " + std::strerror(error); }

int openBeneath(int folder, const fs::path& relative, int flags, mode_t mode) {
    const int fd = openat2Beneath(folder, relative.c_str(), flags | O_CLOEXEC, mode);
    if (fd >= 0 || (errno != ENOSYS && errno != E2BIG && errno != EPERM)) return fd;
    return openByComponents(folder, relative, flags, mode);
}

std::optional<OutputFolder> OutputFolder::open(const fs::path& path, bool create, std::string& cause) {
    bool made = false;
    if (create) {
        // The user's own folder: made like mkdir -p, each missing folder on the way in turn, so
        // that the failure names its real cause.
        fs::path reached;
        for (const fs::path& part : path) {
            reached /= part;
            made = ::mkdir(reached.c_str(), 0777) == 0;
            if (!made && errno != EEXIST) {
                cause = systemCause("cannot make the folder " + reached.string(), errno);
                return std::nullopt;
            }
        }
    }
    UniqueFd fd(::open(path.c_str(), kFolderFlags));
    const std::optional<FileId> id = fd ? fileIdOf(fd.get()) : std::nullopt;
    if (!id) {
        cause = systemCause("cannot open the folder " + path.string(), errno);
        return std::nullopt;
    }
    return OutputFolder(std::move(fd), path, *id, made, std::make_shared<MadeFolders>());
}

std::optional<OutputFolder> OutputFolder::parentOf(const fs::path& file, std::string& cause) {
    const fs::path parent = file.has_parent_path() ? file.parent_path() : fs::path(".");
    return open(parent, false, cause);
}

std::optional<OutputFolder> OutputFolder::beneath(const fs::path& relative, std::string& cause) const {
    UniqueFd current(::fcntl(fd_.get(), F_DUPFD_CLOEXEC, 0));
    fs::path reached = path_;
    bool made = made_, entered = false, madeHere = false;
    for (const fs::path& part : relative) {
        if (part.empty() || part == ".") continue;
        reached /= part;
        if (part == ".." || !current) {
            cause = "the folder " + reached.string() + " is outside the output folder";
            return std::nullopt;
        }
        madeHere = ::mkdirat(current.get(), part.c_str(), 0777) == 0;
        if (!madeHere && errno != EEXIST) {
            cause = systemCause("cannot make the folder " + reached.string(), errno);
            return std::nullopt;
        }
        UniqueFd next(openBeneath(current.get(), part, kFolderFlags));
        if (!next) {
            const int error = errno;
            cause = error == ELOOP ? "the folder " + reached.string() + " is a symbolic link; it is not followed"
                                   : systemCause("cannot open the folder " + reached.string(), error);
            return std::nullopt;
        }
        current = std::move(next);
        entered = true;
        if (madeHere) {
            if (const std::optional<FileId> madeId = fileIdOf(current.get())) madeFolders_->add(*madeId);
        }
    }
    const std::optional<FileId> id = fileIdOf(current.get());
    if (!id) {
        cause = systemCause("cannot open the folder " + reached.string(), errno);
        return std::nullopt;
    }
    if (entered) made = madeHere || madeFolders_->contains(*id);
    return OutputFolder(std::move(current), reached, *id, made, madeFolders_);
}

void MadeFolders::add(const FileId& id) {
    std::lock_guard lock(mutex_);
    ids_.insert(id);
}

bool MadeFolders::contains(const FileId& id) const {
    std::lock_guard lock(mutex_);
    return ids_.count(id) != 0;
}

void InputFiles::complete() {
    {
        std::lock_guard lock(mutex_);
        complete_ = true;
    }
    completed_.notify_all();
}

bool InputFiles::contains(const FileId& id) const {
    std::unique_lock lock(mutex_);
    completed_.wait(lock, [this] { return complete_; });
    return ids_.count(id) != 0;
}

PendingFile::PendingFile(PendingFile&& other) noexcept { *this = std::move(other); }

PendingFile& PendingFile::operator=(PendingFile&& other) noexcept {
    if (this != &other) {
        discard();
        folder_ = std::exchange(other.folder_, -1);
        temporary_ = std::move(other.temporary_);
        other.temporary_.clear();
        name_ = std::move(other.name_);
        shown_ = std::move(other.shown_);
        fd_ = std::move(other.fd_);
    }
    return *this;
}

PendingFile::~PendingFile() { discard(); }

bool PendingFile::create(const OutputFolder& folder, const std::string& name, const InputFiles& inputs,
                         std::string& cause) {
    shown_ = folder.path() / name;
    struct stat existing {};
    if (folder.madeByThisRun() || ::fstatat(folder.fd(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) != 0)
        existing = {};
    if (existing.st_mode != 0) {
        if (inputs.contains(FileId{existing.st_dev, existing.st_ino})) {
            cause = "the text file " + shown_.string() + " would replace an input of this run; nothing was written";
            return false;
        }
        // A link is replaced by the new file (its target stays as it is); anything else that is
        // not a plain file is not the tool's to replace.
        if (!S_ISREG(existing.st_mode) && !S_ISLNK(existing.st_mode)) {
            cause = shown_.string() + " exists and is not a regular file; nothing was written";
            return false;
        }
    }
    // Readable too: a writer may read back what it wrote (where a salvaged text ends). A file
    // system without nameless files refuses them (EOPNOTSUPP, EISDIR on older kernels).
    if (existing.st_mode == 0) fd_ = UniqueFd(::openat(folder.fd(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
    for (int attempt = 0; attempt < 16 && !fd_; ++attempt) {
        temporary_ = ".oasys-" + randomSuffix() + ".tmp";
        fd_ = UniqueFd(::openat(folder.fd(), temporary_.c_str(),
                                O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (!fd_ && errno != EEXIST) break;
    }
    if (!fd_) {
        cause = systemCause("cannot create " + shown_.string(), errno);
        temporary_.clear();
        return false;
    }
    // A file replaced keeps its permissions; a new one has 0666 narrowed by the umask.
    if (S_ISREG(existing.st_mode)) ::fchmod(fd_.get(), existing.st_mode & 07777);
    folder_ = folder.fd();
    name_ = name;
    return true;
}

// Links the nameless file under its name, which must still be free: a file that appeared there
// meanwhile is not the tool's to replace unseen. Linking by descriptor needs a capability most
// users lack; through /proc/self/fd any user may link a file of their own.
bool PendingFile::linkNameless(std::string& cause) {
    bool linked = ::linkat(fd_.get(), "", folder_, name_.c_str(), AT_EMPTY_PATH) == 0;
    if (!linked && errno == ENOENT) {
        const std::string self = "/proc/self/fd/" + std::to_string(fd_.get());
        linked = ::linkat(AT_FDCWD, self.c_str(), folder_, name_.c_str(), AT_SYMLINK_FOLLOW) == 0;
    }
    if (!linked) {
        cause = errno == EEXIST ? shown_.string() + " appeared while its text was written; nothing was written"
                                : systemCause("cannot write " + shown_.string(), errno);
        discard();
        return false;
    }
    if (::close(fd_.release()) != 0) {
        cause = systemCause("cannot write " + shown_.string(), errno);
        ::unlinkat(folder_, name_.c_str(), 0);
        return false;
    }
    return true;
}

bool PendingFile::commit(std::string& cause) {
    if (temporary_.empty()) return linkNameless(cause);
    const int closed = ::close(fd_.release());
    if (closed != 0 || ::renameat(folder_, temporary_.c_str(), folder_, name_.c_str()) != 0) {
        cause = systemCause("cannot write " + shown_.string(), errno);
        discard();
        return false;
    }
    temporary_.clear();
    return true;
}

void PendingFile::discard() {
    fd_ = UniqueFd();
    if (!temporary_.empty()) ::unlinkat(folder_, temporary_.c_str(), 0);
    temporary_.clear();
}

TextOutput TextOutput::standardOutput() {
    TextOutput output;
    output.fd_ = STDOUT_FILENO;
    output.shown_ = "standard output";
    return output;
}

std::optional<TextOutput> TextOutput::named(const fs::path& path, const InputFiles& inputs, std::string& cause) {
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode) && !S_ISLNK(existing.st_mode) &&
        !S_ISDIR(existing.st_mode)) {
        // A device or a pipe the user named takes the text as it comes and is never removed.
        TextOutput output;
        output.direct_ = UniqueFd(::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
        if (!output.direct_) {
            cause = systemCause("cannot open " + path.string(), errno);
            return std::nullopt;
        }
        output.fd_ = output.direct_.get();
        output.shown_ = path.string();
        return output;
    }
    std::optional<OutputFolder> folder = OutputFolder::parentOf(path, cause);
    if (!folder) return std::nullopt;
    return inOwnFolder(std::move(*folder), path.filename().string(), inputs, cause);
}

std::optional<TextOutput> TextOutput::inFolder(const OutputFolder& folder, const std::string& name,
                                               const InputFiles& inputs, std::string& cause) {
    TextOutput output;
    if (!output.pending_.create(folder, name, inputs, cause)) return std::nullopt;
    output.newFile_ = true;
    output.fd_ = output.pending_.fd();
    output.shown_ = (folder.path() / name).string();
    return output;
}

std::optional<TextOutput> TextOutput::inOwnFolder(OutputFolder folder, const std::string& name,
                                                  const InputFiles& inputs, std::string& cause) {
    // The pending file borrows the folder's descriptor, which keeps its number when the folder
    // moves into the output.
    std::optional<TextOutput> output = inFolder(folder, name, inputs, cause);
    if (output) output->ownFolder_.emplace(std::move(folder));
    return output;
}

bool TextOutput::write(const void* data, size_t size) {
    if (error_ != 0) return false;
    return writeAll(fd_, data, size, error_);
}

bool TextOutput::finish(bool keep, std::string& cause) {
    if (!newFile_) return true;
    if (!keep) {
        pending_.discard();
        return true;
    }
    return pending_.commit(cause);
}

std::string soundFileName(const std::string& name, const std::string& suffix) {
    char out[OASYS_NAME_MAX + 1];
    return std::string(out, oasys_output_name(name.c_str(), suffix.c_str(), out, sizeof out));
}

} // namespace oasys_tools
