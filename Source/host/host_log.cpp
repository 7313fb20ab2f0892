// Log service. A log is written only when the option flags given to a call hold KRM_OPT_LOG;
// texts are written exactly as given, "%i" replaced by the integer. A log that was not opened
// (flag clear, empty name, unwritable place) still gets a handle that later calls accept and
// ignore, because the filter never tests the handle it is given.
#include "host_bindings.h"
#include "host_handle_table.h"
#include "host_internal.h"
#include "krm_host.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

namespace krm_host {
namespace {

constexpr std::string_view kPlaceholder = "%i";
constexpr std::string_view kLogExtension = ".log";
constexpr size_t kNameCapacity = KRM_PATH_MAX - 1; // room for the name without its NUL

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using LogFile = std::unique_ptr<std::FILE, FileCloser>;

struct Log {
    explicit Log(LogFile&& opened) : file(std::move(opened)) {}

    std::mutex mutex;
    LogFile file; // null: a log that accepts and ignores every text
};

KRM_HOST_HANDLE_TABLE(Log, logTable, HandleKind::Log);

HandleTable<Log>& logs() {
    return logTable;
}

bool loggingWanted(uint32_t optionFlags) {
    return (optionFlags & KRM_OPT_LOG) != 0;
}

// The log folder a host application chose (empty: beside the path the log is named after). Every
// extraction asks for its log's name, on every worker, and most hosts never choose a folder: the
// flag spares them the lock that the folder's text needs.
std::mutex logDirectoryMutex;
std::string logDirectory;
std::atomic<bool> logDirectoryChosen{false};

std::string currentLogDirectory() {
    if (!logDirectoryChosen.load(std::memory_order_acquire)) {
        return {};
    }
    std::lock_guard lock(logDirectoryMutex);
    return logDirectory;
}

std::string_view withoutFolders(std::string_view path) {
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The length of the longest prefix of at most limit bytes that does not end inside a UTF-8
// sequence.
size_t cutOnCharacterBoundary(std::string_view text, size_t limit) {
    if (text.size() <= limit) {
        return text.size();
    }
    size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return cut;
}

bool writeAll(std::FILE* file, std::string_view text) {
    return text.empty() || std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

// The text with each "%i" replaced by the value; every other byte as it stands.
bool writeFormatted(std::FILE* file, std::string_view format, int32_t value) {
    const std::string number = std::to_string(value);
    bool ok = true;
    for (size_t at = format.find(kPlaceholder); at != std::string_view::npos; at = format.find(kPlaceholder)) {
        ok = writeAll(file, format.substr(0, at)) && writeAll(file, number) && ok;
        format.remove_prefix(at + kPlaceholder.size());
    }
    return writeAll(file, format) && ok;
}

// The rest of writeToLog, out of line so that the call with the flag clear saves no register.
template <class Write>
[[gnu::noinline]] int32_t writeToOpenLog(uint32_t handle, const char* text, Write write) {
    Log* const log = logs().find(handle);
    if (log == nullptr) {
        return kFailed;
    }
    if (text == nullptr) {
        return 0;
    }
    std::lock_guard lock(log->mutex);
    if (log->file == nullptr) {
        return 0;
    }
    try {
        return write(log->file.get(), text) ? 0 : kFailed;
    } catch (const std::exception&) {
        return kFailed;
    }
}

// Hands the text to write() when the flags ask for logging and the log is open; 0 when the text
// was written or rightly ignored, kFailed for an unknown handle or a failed write. The filter
// logs every step of its work, a few calls per line of text, so with the flag clear the call
// returns at once, looking at nothing else.
template <class Write>
int32_t writeToLog(uint32_t optionFlags, uint32_t handle, const char* text, Write write) {
    if (!loggingWanted(optionFlags)) [[likely]] {
        return 0;
    }
    return writeToOpenLog(handle, text, write);
}

} // namespace
} // namespace krm_host

using krm_host::Log;

extern "C" {

KRM_EXPORT void GetLogFileName(const char* path, const char* tag, char* name) {
    if (name == nullptr || krm_host::boundLogName(path, name)) {
        return; // a bound name's log goes where its binding says (host_bindings.cpp)
    }
    try {
        std::string_view source = path != nullptr ? path : "";
        std::string head;
        const std::string directory = krm_host::currentLogDirectory();
        if (!directory.empty()) {
            head = directory;
            if (head.back() != '/') {
                head += '/';
            }
            source = krm_host::withoutFolders(source);
        }
        head += source;
        std::string tail = ".";
        tail += tag != nullptr ? tag : "";
        tail += krm_host::kLogExtension;
        // A name too long for the buffer loses the end of its path part, never its ".tag.log"
        // ending: a name cut bare could otherwise be the very path the log is named after.
        tail.resize(krm_host::cutOnCharacterBoundary(tail, krm_host::kNameCapacity));
        head.resize(krm_host::cutOnCharacterBoundary(head, krm_host::kNameCapacity - tail.size()));
        const std::string full = head + tail;
        std::memcpy(name, full.c_str(), full.size() + 1);
    } catch (const std::exception&) {
        name[0] = '\0';
    }
}

KRM_EXPORT uint32_t krm_logfopen(uint32_t optionFlags, const char* name) {
    krm_host::LogFile file;
    if (krm_host::loggingWanted(optionFlags) && name != nullptr && name[0] != '\0') {
        file.reset(std::fopen(name, "wbe")); // one log per call: a new call starts it afresh
    }
    return krm_host::logs().create(krm_host::Counter::OpenLogs, std::move(file));
}

KRM_EXPORT int32_t krm_logfprintf(uint32_t optionFlags, uint32_t log, const char* format, int32_t value) {
    return krm_host::writeToLog(optionFlags, log, format,
                                [value](std::FILE* file, const char* text) { return krm_host::writeFormatted(file, text, value); });
}

KRM_EXPORT int32_t krm_logfprint_path(uint32_t optionFlags, uint32_t log, const char* path) {
    return krm_host::writeToLog(optionFlags, log, path,
                                [](std::FILE* file, const char* text) { return krm_host::writeAll(file, text); });
}

KRM_EXPORT int32_t krm_logfclose(uint32_t /*optionFlags*/, uint32_t log) {
    // Closed whatever the flags say now: a log that was opened must not stay open.
    const std::shared_ptr<Log> open = krm_host::logs().release(log, krm_host::Counter::OpenLogs);
    if (!open) {
        return krm_host::kFailed;
    }
    std::lock_guard lock(open->mutex);
    std::FILE* const file = open->file.release();
    return file == nullptr || std::fclose(file) == 0 ? 0 : krm_host::kFailed;
}

KRM_EXPORT void KRM_SetLogDirectory(const char* directory) {
    std::lock_guard lock(krm_host::logDirectoryMutex);
    try {
        krm_host::logDirectory = directory != nullptr ? directory : "";
    } catch (const std::bad_alloc&) {
        krm_host::logDirectory.clear();
    }
    krm_host::logDirectoryChosen.store(!krm_host::logDirectory.empty(), std::memory_order_release);
}

} // extern "C"
