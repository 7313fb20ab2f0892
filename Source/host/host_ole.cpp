// Compound-file service on libgsf. One GsfInfile per storage handle; a stream handle keeps its
// storage alive and takes the storage's lock for every read and seek, because libgsf's streams
// read through their parent's input and would disturb each other's position otherwise.
#include "host_bindings.h"
#include "host_handle_table.h"
#include "host_internal.h"
#include "krm_host.h"

#include <gsf/gsf.h>

#include <algorithm>
#include <array>
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
        g_log_default_handler(domain, level, message, data);
    }
}

// gsf_init registers most of libgsf's types, but not the timestamp type nor every path of the
// property-set writer; their first use from several threads at once races inside GObject's
// type registration. One throw-away property-set write registers them all up front.
void warmUpPropertySetTypes() {
    gsf_timestamp_get_type();
    gsf_doc_prop_get_type();
    GsfDocMetaData* metaData = gsf_doc_meta_data_new();
    GValue* title = g_new0(GValue, 1);
    g_value_init(title, G_TYPE_STRING);
    g_value_set_string(title, "warm-up");
    gsf_doc_meta_data_insert(metaData, g_strdup(GSF_META_NAME_TITLE), title);
    GsfTimestamp* stamp = gsf_timestamp_new();
    gsf_timestamp_set_time(stamp, 0);
    GValue* created = g_new0(GValue, 1);
    g_value_init(created, GSF_TIMESTAMP_TYPE);
    gsf_timestamp_to_value(stamp, created);
    gsf_timestamp_free(stamp);
    gsf_doc_meta_data_insert(metaData, g_strdup(GSF_META_NAME_DATE_CREATED), created);
    GsfOutput* sink = gsf_output_memory_new();
    gsf_doc_meta_data_write_to_msole(metaData, sink, FALSE);
    gsf_output_close(sink);
    g_object_unref(sink);
    g_object_unref(metaData);
}

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <class T>
using GObjectRef = std::unique_ptr<T, GObjectUnref>;

struct Storage {
    explicit Storage(GObjectRef<GsfInfile>&& file) : infile(std::move(file)) {}

    std::mutex mutex; // guards the infile and every stream read through it
    const GObjectRef<GsfInfile> infile;
};

struct CompoundStream {
    CompoundStream(const std::shared_ptr<Storage>& owner, GObjectRef<GsfInput>&& in)
        : storage(owner), input(std::move(in)) {}
    ~CompoundStream() {
        std::lock_guard lock(storage->mutex);
        input.reset();
    }
    CompoundStream(const CompoundStream&) = delete;
    CompoundStream& operator=(const CompoundStream&) = delete;

    const std::shared_ptr<Storage> storage;
    GObjectRef<GsfInput> input;
};

HandleTable<Storage>& storages() {
    return tableOf<Storage>(HandleKind::Storage);
}

HandleTable<CompoundStream>& compoundStreams() {
    return tableOf<CompoundStream>(HandleKind::CompoundStream);
}

enum Origin : int16_t { kFromStart = 0, kFromCurrent = 1, kFromEnd = 2 };

// Compound-file names compare without regard to case. Names are UTF-8 in libgsf; a name that is
// not UTF-8 on either side can only match byte for byte, ASCII letters folded.
bool sameEntryName(const char* entryName, const char* wanted) {
    if (g_ascii_strcasecmp(entryName, wanted) == 0) {
        return true;
    }
    if (!g_utf8_validate(entryName, -1, nullptr) || !g_utf8_validate(wanted, -1, nullptr)) {
        return false;
    }
    gchar* entryFolded = g_utf8_casefold(entryName, -1);
    gchar* wantedFolded = g_utf8_casefold(wanted, -1);
    const bool same = g_strcmp0(entryFolded, wantedFolded) == 0;
    g_free(entryFolded);
    g_free(wantedFolded);
    return same;
}

bool isStorageEntry(GsfInput* entry) {
    return GSF_IS_INFILE(entry) && gsf_infile_num_children(GSF_INFILE(entry)) >= 0;
}

uint32_t positionOf(GsfInput* input) {
    return static_cast<uint32_t>(std::min<gsf_off_t>(gsf_input_tell(input), std::numeric_limits<uint32_t>::max()));
}

} // namespace

GsfInput* findTopLevelStream(GsfInfile* infile, const char* name) {
    const int entries = gsf_infile_num_children(infile);
    for (int index = 0; index < entries; ++index) {
        const char* entryName = gsf_infile_name_by_index(infile, index);
        if (entryName == nullptr || !sameEntryName(entryName, name)) {
            continue;
        }
        GsfInput* entry = gsf_infile_child_by_index(infile, index);
        if (entry == nullptr) {
            continue;
        }
        if (!isStorageEntry(entry)) {
            return entry;
        }
        g_object_unref(entry); // a storage of that name is no stream
    }
    return nullptr;
}

void ensureGsfInitialised() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (const char* domain : kGsfLogDomains) {
            g_log_set_handler(domain, kEveryLevel, discardLogMessage, nullptr);
        }
        g_log_set_handler(nullptr, kEveryLevel, filterDefaultDomainMessage, nullptr);
        gsf_init();
        warmUpPropertySetTypes();
    });
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
    std::string bound; // a bound name opens its descriptor's file (host_bindings.cpp)
    path = krm_host::resolveBoundPath(path, bound);
    krm_host::ensureGsfInitialised();
    const krm_host::GsfQuietScope quiet;
    GError* error = nullptr;
    GsfInput* input = gsf_input_stdio_new(path, &error);
    g_clear_error(&error);
    if (input == nullptr) {
        return 0;
    }
    GsfInfile* infile = gsf_infile_msole_new(input, &error); // holds its own reference to input
    g_object_unref(input);
    g_clear_error(&error);
    if (infile == nullptr) {
        return 0;
    }
    return krm_host::storages().create(krm_host::Counter::OpenStorages, krm_host::GObjectRef<GsfInfile>(infile));
}

KRM_EXPORT int32_t KRM_2OLEclose(uint32_t storage) {
    // Streams still open keep the compound file alive until they are closed themselves.
    return krm_host::storages().release(storage, krm_host::Counter::OpenStorages) ? 0 : krm_host::kFailed;
}

KRM_EXPORT uint32_t KRM_2OLEopenStream(uint32_t storage, const char* name) {
    if (krm_host::shouldFail(KRM_SVC_OLE_OPEN_STREAM) || name == nullptr) {
        return 0;
    }
    const std::shared_ptr<Storage> owner = krm_host::storages().find(storage);
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

KRM_EXPORT uint32_t KRM_2OLEreadStream(uint32_t stream, void* buffer, uint32_t count) {
    if (buffer == nullptr || count == 0) {
        return 0;
    }
    krm_host::CompoundStream* const open = krm_host::compoundStreams().findCached(stream);
    if (!open) {
        return 0;
    }
    const krm_host::GsfQuietScope quiet;
    std::lock_guard lock(open->storage->mutex);
    // gsf_input_read reads all or nothing, so ask only for what remains.
    const gsf_off_t remaining = gsf_input_remaining(open->input.get());
    const uint32_t length = static_cast<uint32_t>(std::clamp<gsf_off_t>(remaining, 0, count));
    if (length == 0) {
        return 0;
    }
    return gsf_input_read(open->input.get(), length, static_cast<guint8*>(buffer)) != nullptr ? length : 0;
}

KRM_EXPORT uint32_t KRM_2OLEseekStream(uint32_t stream, uint32_t offset, int16_t origin) {
    krm_host::CompoundStream* const open = krm_host::compoundStreams().findCached(stream);
    if (!open) {
        return 0;
    }
    const krm_host::GsfQuietScope quiet;
    std::lock_guard lock(open->storage->mutex);
    GSeekType whence;
    gsf_off_t distance = static_cast<int32_t>(offset); // a signed step from the end or the current position
    switch (origin) {
    case krm_host::kFromStart:
        whence = G_SEEK_SET;
        distance = offset;
        break;
    case krm_host::kFromCurrent:
        whence = G_SEEK_CUR;
        break;
    case krm_host::kFromEnd:
        whence = G_SEEK_END;
        break;
    default:
        return krm_host::positionOf(open->input.get());
    }
    gsf_input_seek(open->input.get(), distance, whence); // TRUE on failure: the position stays as it was
    return krm_host::positionOf(open->input.get());
}

} // extern "C"
