/* Preloaded under a tool, makes every folder listing say nothing about the kind of its entries
 * (DT_UNKNOWN), as some network and FUSE file systems do, so that the walk has to look at each
 * entry itself. With KRM_UNKNOWN_KINDS_MARK set, the first listing read makes that file, which
 * tells the test that the listings did go through here. (Exported by name: the project builds
 * with hidden visibility.) */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

static void markUsed(void) {
    static int marked;
    const char* mark = getenv("KRM_UNKNOWN_KINDS_MARK");
    if (marked || mark == NULL) return;
    marked = 1;
    const int fd = open(mark, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;
    if (write(fd, "used", 4) != 4) { /* the test then finds no mark */ }
    close(fd);
}

__attribute__((visibility("default"))) struct dirent* readdir(DIR* folder) {
    static struct dirent* (*next)(DIR*);
    if (next == NULL) next = (struct dirent * (*)(DIR*)) dlsym(RTLD_NEXT, "readdir");
    struct dirent* entry = next(folder);
    if (entry != NULL) {
        entry->d_type = DT_UNKNOWN;
        markUsed();
    }
    return entry;
}

__attribute__((visibility("default"))) struct dirent64* readdir64(DIR* folder) {
    static struct dirent64* (*next)(DIR*);
    if (next == NULL) next = (struct dirent64 * (*)(DIR*)) dlsym(RTLD_NEXT, "readdir64");
    struct dirent64* entry = next(folder);
    if (entry != NULL) {
        entry->d_type = DT_UNKNOWN;
        markUsed();
    }
    return entry;
}
