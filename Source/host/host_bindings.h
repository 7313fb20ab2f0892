// Bound names (krm_host.h): the hooks that the file, compound-file, summary and log services call
// first. A path that does not start with the bound root costs one comparison.
#pragma once

#include <cstdint>
#include <string>

namespace krm_host {

// True when the path names something under a live binding (bound or not).
bool isBoundPath(const char* path);

// What a path names: a name under a live binding or not, and for one the descriptor bound to it
// (-1 for a name that was not bound).
struct BoundName {
    bool underBinding = false;
    int fd = -1;
};
BoundName findBoundName(const char* path);

// The path that opens the descriptor's file afresh, with an offset of its own ("/proc/self/fd/N"),
// or "" for no descriptor (fd < 0), so that the open fails. holder keeps the text alive.
const char* reopenPathOf(int fd, std::string& holder);

// For a name under a live binding: 1 when it is bound to an empty regular file, else 0.
int32_t boundFileIsEmpty(const char* path);

// For a name under a live binding with a log path: that path copied into name (KRM_PATH_MAX
// bytes); false otherwise, name untouched.
bool boundLogName(const char* path, char* name);

} // namespace krm_host
