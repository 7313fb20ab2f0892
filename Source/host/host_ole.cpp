// Compound-file service on libgsf. One GsfInfile per storage handle; a stream handle keeps its
// storage alive and serves its bytes from memory, reading from libgsf under the storage's lock,
// because libgsf's streams read through their parent's input and would disturb each other's
// position otherwise.
#include "host_bindings.h"
#include "host_gsf.h"
#include "host_handle_table.h"
#include "host_internal.h"
#include "krm_host.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <limits>
#include <mutex>
#include <string_view>

namespace krm_host {
namespace {

// libgsf reports damaged files through g_critical and g_warning in these domains. The library
// must not speak on the host's terminal: a damaged file is a return code, nothing more.
constexpr std::array<const char*, 5> kGsfLogDomains = {"libgsf", "libgsf:msole", "libgsf:open_pkg", "libgsf:tar",
                                                       "libgsf:zip"};

// Depth of GsfQuietScope guards on this thread.
thread_local int quietDepth = 0;

constexpr GLogLevelFlags kEveryLevel =
    static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION);

void discardLogMessage(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

void filterDefaultDomainMessage(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer data) {
    if (quietDepth == 0) {
        gsf.g_log_default_handler(domain, level, message, data);
    }
}

// gsf_init registers most of libgsf's types, but not the timestamp type nor every path of the
// property-set writer; their first use from several threads at once races inside GObject's
// type registration. One throw-away property-set write registers them all up front.
void warmUpPropertySetTypes() {
    gsf.gsf_timestamp_get_type();
    gsf.gsf_doc_prop_get_type();
    GsfDocMetaData* metaData = gsf.gsf_doc_meta_data_new();
    auto* title = static_cast<GValue*>(gsf.g_malloc0(sizeof(GValue)));
    gsf.g_value_init(title, G_TYPE_STRING);
    gsf.g_value_set_string(title, "warm-up");
    gsf.gsf_doc_meta_data_insert(metaData, gsf.g_strdup(GSF_META_NAME_TITLE), title);
    GsfTimestamp* stamp = gsf.gsf_timestamp_new();
    gsf.gsf_timestamp_set_time(stamp, 0);
    auto* created = static_cast<GValue*>(gsf.g_malloc0(sizeof(GValue)));
    gsf.g_value_init(created, gsf.gsf_timestamp_get_type());
    gsf.gsf_timestamp_to_value(stamp, created);
    gsf.gsf_timestamp_free(stamp);
    gsf.gsf_doc_meta_data_insert(metaData, gsf.g_strdup(GSF_META_NAME_DATE_CREATED), created);
    GsfOutput* sink = gsf.gsf_output_memory_new();
    gsf.gsf_doc_meta_data_write_to_msole(metaData, sink, FALSE);
    gsf.gsf_output_close(sink);
    gsf.g_object_unref(sink);
    gsf.g_object_unref(metaData);
}

// GObject builds a class at the first instance of its type, under GLib's own locks, which are
// futexes that ThreadSanitizer cannot see; the type check of isStorageEntry then reads the class
// in our code. Building the classes of the reader types here, once and before any caller's
// thread uses them, gives that read an ordering every tool sees. The references are kept: the
// classes of static types live as long as the process anyway.
void buildReaderClasses() {
    gsf.g_type_class_ref(gsf.gsf_input_stdio_get_type());
    gsf.g_type_class_ref(gsf.gsf_infile_msole_get_type());
}

struct Storage {
    explicit Storage(GObjectRef<GsfInfile>&& file) : infile(std::move(file)) {}

    std::mutex mutex; // guards the infile and every read of a stream through it
    const GObjectRef<GsfInfile> infile;
};

// A stream is served from memory, so that a byte of a compound document costs what a byte of a
// plain file costs: a stream of up to kWholeStreamBound bytes is read whole at its first read; a
// larger one is read in windows of kStreamWindow bytes, each starting on a window boundary so
// that a step back to a nearby header stays inside. Only reading from libgsf takes the storage's
// lock (libgsf's streams read through their parent's input); seeks and reads inside the memory
// take none, as a stream is used by one thread at a time.
constexpr uint64_t kWholeStreamBound = 4u << 20;
constexpr uint64_t kStreamWindow = 256u << 10;

class CompoundStream {
public:
    CompoundStream(const std::shared_ptr<Storage>& owner, GObjectRef<GsfInput>&& in)
        : storage_(owner), input_(std::move(in)), size_(static_cast<uint64_t>(std::max<gsf_off_t>(gsf.gsf_input_size(input_.get()), 0))),
          windowSize_(size_ <= kWholeStreamBound ? size_ : kStreamWindow) {}
    ~CompoundStream() {
        std::lock_guard lock(storage_->mutex);
        input_.reset();
    }
    CompoundStream(const CompoundStream&) = delete;
    CompoundStream& operator=(const CompoundStream&) = delete;

    bool readSmallInWindow(uint8_t* destination, uint32_t count) {
        return krm_host::readSmallInWindow(position_, windowStart_, windowLength_, window_.get(), destination, count);
    }

    // The decoder's seek from the start; false when the offset lies past the stream's end.
    bool seekFromStart(uint32_t offset) {
        if (offset > size_) [[unlikely]] {
            return false;
        }
        position_ = offset;
        return true;
    }

    uint32_t read(uint8_t* destination, uint32_t count) {
        const uint64_t inWindow = position_ - windowStart_;
        if (inWindow < windowLength_ && count <= windowLength_ - inWindow) {
            std::memcpy(destination, window_.get() + inWindow, count);
            position_ += count;
            return count;
        }
        return readSlowly(destination, count);
    }

    // The new position; a target outside the stream leaves the position as it was.
    uint64_t seek(int64_t distance, int16_t origin) {
        int64_t base = 0;
        switch (origin) {
        case kFromStart: break;
        case kFromCurrent: base = static_cast<int64_t>(position_); break;
        case kFromEnd: base = static_cast<int64_t>(size_); break;
        default: return position_;
        }
        const int64_t target = base + distance;
        if (target >= 0 && static_cast<uint64_t>(target) <= size_) position_ = static_cast<uint64_t>(target);
        return position_;
    }

private:
    uint32_t readSlowly(uint8_t* destination, uint32_t count) {
        uint32_t done = 0;
        while (done < count && position_ < size_) {
            if (!windowHolds(position_) && (!fillWindow(position_) || !windowHolds(position_))) break;
            const uint64_t inWindow = position_ - windowStart_;
            const uint32_t take = static_cast<uint32_t>(std::min<uint64_t>(count - done, windowLength_ - inWindow));
            std::memcpy(destination + done, window_.get() + inWindow, take);
            done += take;
            position_ += take;
        }
        return done;
    }

    bool windowHolds(uint64_t position) const {
        return position >= windowStart_ && position - windowStart_ < windowLength_;
    }

    bool fillWindow(uint64_t position) {
        if (!window_) {
            window_ = std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[windowSize_]);
            if (!window_) return false;
        }
        const uint64_t start = position - position % windowSize_;
        const uint64_t length = std::min(windowSize_, size_ - start);
        windowLength_ = 0;
        const GsfQuietScope quiet;
        std::lock_guard lock(storage_->mutex);
        // gsf_input_seek returns TRUE on failure; gsf_input_read reads all or nothing.
        if (gsf.gsf_input_seek(input_.get(), static_cast<gsf_off_t>(start), G_SEEK_SET) ||
            gsf.gsf_input_read(input_.get(), static_cast<size_t>(length), window_.get()) == nullptr)
            return false;
        windowStart_ = start;
        windowLength_ = length;
        return true;
    }

    // What the per-byte path reads first, together.
    uint64_t position_ = 0;
    uint64_t windowStart_ = 0;
    uint64_t windowLength_ = 0;
    std::unique_ptr<uint8_t[]> window_;

    const std::shared_ptr<Storage> storage_;
    GObjectRef<GsfInput> input_;
    const uint64_t size_;
    const uint64_t windowSize_;
};

KRM_HOST_HANDLE_TABLE(Storage, storageTable, HandleKind::Storage);
KRM_HOST_HANDLE_TABLE(CompoundStream, compoundStreamTable, HandleKind::CompoundStream);

HandleTable<Storage>& storages() {
    return storageTable;
}

HandleTable<CompoundStream>& compoundStreams() {
    return compoundStreamTable;
}

// A compound file up to this size is read whole with one read and handed to libgsf from memory,
// where it places and copies sectors without a system call each (most OASYS compound documents
// are a few KB); a larger one is read through stdio as libgsf goes, so memory stays bounded.
constexpr off_t kWholeCompoundFile = 1 << 20;

// The whole regular file behind fd, read at explicit offsets (a bound descriptor's offset is the
// application's); null when it is no regular file, too large, or not read whole (a descriptor that
// reads only aligned blocks, one that cannot read, a file that shrank): stdio then does as before.
GsfInput* readWholeCompoundFile(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size > kWholeCompoundFile) {
        return nullptr;
    }
    const auto size = static_cast<size_t>(status.st_size);
    auto* bytes = static_cast<guint8*>(gsf.g_try_malloc(std::max<size_t>(size, 1)));
    if (bytes == nullptr) {
        return nullptr;
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(fd, bytes + done, size - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            gsf.g_free(bytes);
            return nullptr;
        }
        done += static_cast<size_t>(got);
    }
    return gsf.gsf_input_memory_new(bytes, static_cast<gsf_off_t>(size), TRUE);
}

// A storage handle for a compound file read through input (whose reference it takes over);
// 0 when the input is missing or is no readable compound file.
uint32_t openStorage(GsfInput* input) {
    if (input == nullptr) {
        return 0;
    }
    GError* error = nullptr;
    GsfInfile* infile = gsf.gsf_infile_msole_new(input, &error); // holds its own reference to input
    gsf.g_object_unref(input);
    gsf.g_clear_error(&error);
    if (infile == nullptr) {
        return 0;
    }
    return storages().create(Counter::OpenStorages, GObjectRef<GsfInfile>(infile));
}

bool isAscii(const char* text) {
    for (; *text != '\0'; ++text) {
        if (static_cast<unsigned char>(*text) >= 0x80) return false;
    }
    return true;
}

// Compound-file names compare without regard to case. Names are UTF-8 in libgsf; a name that is
// not UTF-8 on either side can only match byte for byte, ASCII letters folded.
bool sameEntryName(const char* entryName, const char* wanted) {
    if (gsf.g_ascii_strcasecmp(entryName, wanted) == 0) {
        return true;
    }
    if (isAscii(entryName) && isAscii(wanted)) {
        return false; // ASCII letters are all the folding there is (the usual case, once per entry)
    }
    if (!gsf.g_utf8_validate(entryName, -1, nullptr) || !gsf.g_utf8_validate(wanted, -1, nullptr)) {
        return false;
    }
    gchar* entryFolded = gsf.g_utf8_casefold(entryName, -1);
    gchar* wantedFolded = gsf.g_utf8_casefold(wanted, -1);
    const bool same = gsf.g_strcmp0(entryFolded, wantedFolded) == 0;
    gsf.g_free(entryFolded);
    gsf.g_free(wantedFolded);
    return same;
}

bool isStorageEntry(GsfInput* entry) {
    return gsf.g_type_check_instance_is_a(reinterpret_cast<GTypeInstance*>(entry), gsf.gsf_infile_get_type()) &&
           gsf.gsf_infile_num_children(reinterpret_cast<GsfInfile*>(entry)) >= 0;
}

} // namespace

GsfInput* openCompoundInput(const char* path) {
    const BoundName bound = findBoundName(path);
    if (bound.underBinding && bound.fd < 0) {
        return nullptr; // a name under a binding that was not bound opens nothing
    }
    int fd = bound.fd;
    int opened = -1;
    if (!bound.underBinding) {
        do {
            opened = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        } while (opened < 0 && errno == EINTR);
        if (opened < 0) {
            return nullptr;
        }
        fd = opened;
    }
    GsfInput* input = readWholeCompoundFile(fd);
    if (input == nullptr) {
        std::string holder; // a bound file is opened afresh, with an offset of its own
        GError* error = nullptr;
        input = gsf.gsf_input_stdio_new(bound.underBinding ? reopenPathOf(fd, holder) : path, &error);
        gsf.g_clear_error(&error);
    }
    if (opened >= 0) {
        ::close(opened);
    }
    return input;
}

GsfInput* findTopLevelStream(GsfInfile* infile, const char* name) {
    const int entries = gsf.gsf_infile_num_children(infile);
    for (int index = 0; index < entries; ++index) {
        const char* entryName = gsf.gsf_infile_name_by_index(infile, index);
        if (entryName == nullptr || !sameEntryName(entryName, name)) {
            continue;
        }
        GsfInput* entry = gsf.gsf_infile_child_by_index(infile, index);
        if (entry == nullptr) {
            continue;
        }
        if (!isStorageEntry(entry)) {
            return entry;
        }
        gsf.g_object_unref(entry); // a storage of that name is no stream
    }
    return nullptr;
}

bool ensureGsfInitialised() {
    if (!loadGsf()) {
        return false;
    }
    static std::once_flag once;
    std::call_once(once, [] {
        for (const char* domain : kGsfLogDomains) {
            gsf.g_log_set_handler(domain, kEveryLevel, discardLogMessage, nullptr);
        }
        gsf.g_log_set_handler(nullptr, kEveryLevel, filterDefaultDomainMessage, nullptr);
        gsf.gsf_init();
        buildReaderClasses();
        warmUpPropertySetTypes();
    });
    return true;
}

GsfQuietScope::GsfQuietScope() {
    ++quietDepth;
}

GsfQuietScope::~GsfQuietScope() {
    --quietDepth;
}

} // namespace krm_host

using krm_host::CompoundStream;
using krm_host::Storage;

extern "C" {

KRM_EXPORT uint32_t KRM_2OLEopen(const char* path) {
    if (krm_host::shouldFail(KRM_SVC_OLE_OPEN) || path == nullptr) {
        return 0;
    }
    if (!krm_host::ensureGsfInitialised()) {
        errno = ELIBACC; // libgsf is loaded at run time: a system without it can read no compound file
        return 0;
    }
    const krm_host::GsfQuietScope quiet;
    return krm_host::openStorage(krm_host::openCompoundInput(path));
}

KRM_EXPORT int32_t KRM_2OLEclose(uint32_t storage) {
    // Streams still open keep the compound file alive until they are closed themselves.
    return krm_host::storages().release(storage, krm_host::Counter::OpenStorages) ? 0 : krm_host::kFailed;
}

KRM_EXPORT uint32_t KRM_2OLEopenStream(uint32_t storage, const char* name) {
    if (krm_host::shouldFail(KRM_SVC_OLE_OPEN_STREAM) || name == nullptr) {
        return 0;
    }
    const std::shared_ptr<Storage> owner = krm_host::storages().share(storage);
    if (!owner) {
        return 0;
    }
    const krm_host::GsfQuietScope quiet;
    std::unique_lock lock(owner->mutex);
    krm_host::GObjectRef<GsfInput> input(krm_host::findTopLevelStream(owner->infile.get(), name));
    lock.unlock(); // a stream that cannot be registered takes the lock again to let go of its input
    if (!input) {
        return 0;
    }
    const uint32_t handle = krm_host::compoundStreams().create(krm_host::Counter::OpenStreams, owner, std::move(input));
    if (input) {
        lock.lock(); // not made: give the input back under the storage's lock
        input.reset();
    }
    return handle;
}

KRM_EXPORT int32_t KRM_2OLEcloseStream(uint32_t stream) {
    return krm_host::compoundStreams().release(stream, krm_host::Counter::OpenStreams) ? 0 : krm_host::kFailed;
}

// The general path of a read: any size, the window's edges, the stream's end, a bad argument.
[[gnu::cold, gnu::noinline]] static uint32_t readStreamGenerally(uint32_t stream, void* buffer, uint32_t count) {
    krm_host::CompoundStream* const open = krm_host::compoundStreams().find(stream);
    if (open == nullptr || buffer == nullptr || count == 0) {
        return 0;
    }
    return open->read(static_cast<uint8_t*>(buffer), count);
}

// The decoder's one- and two-byte reads are served here without saving a register (a count of 0
// less one is huge, so it goes the general path too).
KRM_EXPORT uint32_t KRM_2OLEreadStream(uint32_t stream, void* buffer, uint32_t count) {
    krm_host::CompoundStream* const open = krm_host::compoundStreams().find(stream);
    if (count - 1 < 2 && open != nullptr && buffer != nullptr &&
        open->readSmallInWindow(static_cast<uint8_t*>(buffer), count)) [[likely]] {
        return count;
    }
    return readStreamGenerally(stream, buffer, count);
}

[[gnu::cold, gnu::noinline]] static uint32_t seekStreamGenerally(uint32_t stream, uint32_t offset, int16_t origin) {
    krm_host::CompoundStream* const open = krm_host::compoundStreams().find(stream);
    if (open == nullptr) {
        return 0;
    }
    const uint64_t position = open->seek(krm_host::seekDistance(offset, origin), origin);
    return static_cast<uint32_t>(std::min<uint64_t>(position, std::numeric_limits<uint32_t>::max()));
}

// The decoder seeks from the start before most reads, inside the stream.
KRM_EXPORT uint32_t KRM_2OLEseekStream(uint32_t stream, uint32_t offset, int16_t origin) {
    krm_host::CompoundStream* const open = krm_host::compoundStreams().find(stream);
    if (origin == krm_host::kFromStart && open != nullptr && open->seekFromStart(offset)) [[likely]] {
        return offset;
    }
    return seekStreamGenerally(stream, offset, origin);
}

} // extern "C"
