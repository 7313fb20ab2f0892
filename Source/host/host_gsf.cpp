#include "host_gsf.h"

#include <dlfcn.h>

#include <mutex>

namespace krm_host {

GsfFunctions gsf;

namespace {

// Every function found, through the library and the libraries it needs; nothing is filled in
// unless all are.
bool resolveAll(void* library) {
    GsfFunctions found;
    bool complete = true;
#define KRM_GSF_RESOLVE(name)                                                                    \
    found.name = reinterpret_cast<decltype(found.name)>(::dlsym(library, #name));                \
    complete = complete && found.name != nullptr;
    KRM_GSF_FUNCTIONS(KRM_GSF_RESOLVE)
#undef KRM_GSF_RESOLVE
    if (complete) gsf = found;
    return complete;
}

} // namespace

bool loadGsf() {
    static std::once_flag once;
    static bool loaded = false;
    std::call_once(once, [] {
        // Never closed: GLib's type system cannot be unloaded, and the objects libgsf made may
        // outlive any caller.
        void* library = ::dlopen(KRM_GSF_SONAME, RTLD_NOW | RTLD_LOCAL);
        loaded = library != nullptr && resolveAll(library);
    });
    return loaded;
}

} // namespace krm_host
