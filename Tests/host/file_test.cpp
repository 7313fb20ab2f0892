// Plain-file service: reads, seeks, writes and their failures, modes, handles, removal, bound names; the log
// service (naming, the option flag, "%i", logs not opened) and the output streams with their failures.
#include <fcntl.h>
#include <glib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host_test_support.h"

namespace {

using host_test::Bytes;
using host_test::patternBytes;
using oasys_test::bytes;
using oasys_test::readLogLines;
using oasys_test::readFile;
using oasys_test::writeFile;

constexpr uint32_t kWindow = 64 * 1024; // the host's read/write buffer

class FileTest : public host_test::HostTest {
protected:
    uint32_t openWith(const Bytes& content) {
        writeFile(dir / "source.bin", content);
        return KRM_FileOpen((dir / "source.bin").c_str(), "rb");
    }
};

// fread's count of whole elements; every byte seen read backwards; reads without seeks go on.
TEST_F(FileTest, ReadsCountWholeElementsAndSeeEveryByte) {
    const struct { uint32_t fileSize, offset, size, count, expectedElements, expectedTell; } cases[] = {
        {10, 0, 4, 3, 2, 10}, {10, 9, 3, 5, 0, 10}, {10, 20, 1, 1, 0, 20}, {0, 0, 1, 16, 0, 0},
        {kWindow + 10, kWindow - 3, 2, 4, 4, kWindow + 5}, {3 * kWindow, 5, 1, 2 * kWindow, 2 * kWindow, 2 * kWindow + 5},
        {kWindow + 100, 50, 8, kWindow / 4, (kWindow + 50) / 8, kWindow + 100},
        {10, 0, 1, 2 * kWindow, 10, 10}, // a large read meets the end: it stops there
    };
    for (const auto& c : cases) {
        const Bytes content = patternBytes(c.fileSize, c.fileSize);
        const uint32_t file = openWith(content);
        KRM_FileSeek(file, c.offset, 0);
        Bytes buffer(static_cast<size_t>(c.size) * c.count);
        const uint32_t elements = KRM_FileRead(buffer.data(), c.size, c.count, file);
        EXPECT_EQ(elements, c.expectedElements) << c.fileSize << " bytes from " << c.offset;
        EXPECT_EQ(KRM_FileTell(file), c.expectedTell) << c.fileSize << " bytes from " << c.offset;
        EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + elements * c.size, content.begin() + c.offset));
        EXPECT_EQ(KRM_FileClose(file), 0);
    }
    const Bytes content = patternBytes(3 * kWindow + 7, 42);
    const uint32_t file = openWith(content);
    size_t wrong = 0;
    uint8_t chunk[1000];
    for (uint32_t at = static_cast<uint32_t>(content.size()); at-- > 0;) // backwards, over window starts
        wrong += KRM_FileSeek(file, at, 0) != 0 || KRM_FileRead(chunk, 1, 1, file) != 1 || chunk[0] != content[at];
    EXPECT_EQ(wrong, 0u);
    KRM_FileSeek(file, 0, 0);
    Bytes collected;
    for (uint32_t got; (got = KRM_FileRead(chunk, 1, sizeof chunk, file)) > 0;) collected.insert(collected.end(), chunk, chunk + got);
    EXPECT_EQ(collected, content);
    EXPECT_EQ(KRM_FileClose(file), 0);
}

TEST_F(FileTest, SeekOriginsAndTell) {
    // From 100 in a 1000-byte file: whether the seek moves, and the position after it.
    const struct { uint32_t offset; uint16_t origin; bool moves; uint32_t expectedTell; } cases[] = {
        {250, 0, true, 250}, {0, 2, true, 1000}, {-3u, 2, true, 997}, {5, 1, true, 105},
        {-100u, 1, true, 0}, {-101u, 1, false, 100}, {5000, 0, true, 5000}, {0, 7, false, 100}};
    const uint32_t file = openWith(patternBytes(1000));
    for (const auto& c : cases) {
        ASSERT_EQ(KRM_FileSeek(file, 100, 0), 0);
        EXPECT_EQ(KRM_FileSeek(file, c.offset, c.origin) == 0, c.moves) << c.offset << " from " << c.origin;
        EXPECT_EQ(KRM_FileTell(file), c.expectedTell) << c.offset << " from " << c.origin;
    }
    EXPECT_EQ(KRM_FileClose(file), 0);
}

// Pieces around the window size read back, with the usual mode; a write lost on the device fails the close.
TEST_F(FileTest, WrittenBytesReadBackAndLostOnesFail) {
    const Bytes content = patternBytes(4 * kWindow + 11, 9);
    const auto path = dir / "out.txt";
    const uint32_t file = KRM_FileOpen(path.c_str(), "wb");
    size_t at = 0;
    for (const size_t piece : {1u, 1u, 100u, kWindow, 2 * kWindow + 17, 3u, kWindow - 120, 9u}) {
        const size_t take = std::min(piece, content.size() - at);
        ASSERT_EQ(KRM_FileWrite(content.data() + at, 1, static_cast<uint32_t>(take), file), take);
        EXPECT_EQ(KRM_FileTell(file), at += take);
    }
    EXPECT_EQ(KRM_FileWrite(nullptr, 1, 1, file) + KRM_FileWrite(content.data(), 0, 5, file), 0u);
    EXPECT_EQ(KRM_FileSeek(file, 0, 2), 0);
    EXPECT_EQ(KRM_FileTell(file), content.size()) << "size while bytes are still buffered";
    EXPECT_EQ(KRM_FileClose(file), 0);
    EXPECT_EQ(readFile(path), content);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(std::filesystem::status(path).permissions(), static_cast<std::filesystem::perms>(0666 & ~mask));
    // Update mode: a one-byte file read, then written over by more than a window; the byte read after
    // that is the new one, neither the window read before nor a byte of a write placed one too far.
    writeFile(dir / "one", bytes("o"));
    const uint32_t update = KRM_FileOpen((dir / "one").c_str(), "r+b");
    uint8_t first = 0;
    EXPECT_EQ(KRM_FileRead(&first, 1, 1, update) + KRM_FileSeek(update, 0, 0), 1u);
    EXPECT_EQ(KRM_FileWrite(content.data(), 1, kWindow, update) + KRM_FileSeek(update, 0, 0), kWindow);
    EXPECT_EQ(KRM_FileRead(&first, 1, 1, update) + KRM_FileClose(update), 1u);
    EXPECT_EQ(first, content[0]);
    const uint32_t buffered = KRM_FileOpen("/dev/full", "wb"), direct = KRM_FileOpen("/dev/full", "wb");
    EXPECT_EQ(KRM_FileWrite("abc", 1, 3, buffered), 3u);
    EXPECT_NE(KRM_FileClose(buffered), 0);
    EXPECT_EQ(KRM_FileWrite(content.data(), 1, 2 * kWindow, direct), 0u); // none of it is known to be written
    EXPECT_NE(KRM_FileClose(direct), 0);
}

// On a file holding "old", "new" goes to the start (the end in append modes); read back from the start.
TEST_F(FileTest, ModesActLikeFopen) {
    // readBack nullptr: the open fails
    const struct { const char* mode; const char* readBack; const char* content; uint32_t tellAfterWrite; } cases[] = {
        {"wb", "", "new", 3}, {"ab", "", "oldnew", 6}, {"r+b", "new", "new", 3}, {"a+", "oldnew", "oldnew", 6},
        {"wxb", nullptr, "old", 0}, {"q", nullptr, "old", 0}, {"", nullptr, "old", 0}};
    for (const auto& c : cases) {
        writeFile(dir / "f", bytes("old"));
        const uint32_t file = KRM_FileOpen((dir / "f").c_str(), c.mode);
        char text[16] = {};
        if (file != 0) {
            EXPECT_EQ(KRM_FileWrite("new", 1, 3, file), 3u) << c.mode;
            EXPECT_EQ(KRM_FileTell(file), c.tellAfterWrite) << c.mode;
            KRM_FileSeek(file, 0, 0);
            KRM_FileRead(text, 1, sizeof text, file);
            EXPECT_EQ(KRM_FileClose(file), 0);
        }
        EXPECT_EQ(file != 0, c.readBack != nullptr) << c.mode;
        EXPECT_EQ(std::string(text), c.readBack ? c.readBack : "") << c.mode;
        EXPECT_EQ(readFile(dir / "f"), bytes(c.content)) << c.mode;
    }
    // Two appenders: each write lands at the end, where the system places it.
    const uint32_t first = KRM_FileOpen((dir / "f").c_str(), "ab"), second = KRM_FileOpen((dir / "f").c_str(), "ab");
    EXPECT_EQ(KRM_FileWrite("1", 1, 1, first) + KRM_FileWrite("2", 1, 1, second), 2u);
    EXPECT_EQ(KRM_FileClose(first) + KRM_FileClose(second), 0);
    EXPECT_EQ(readFile(dir / "f"), bytes("old12"));
    const uint32_t fresh = KRM_FileOpen((dir / "fresh").c_str(), "ab"); // appending to an empty file
    EXPECT_EQ(KRM_FileWrite("1", 1, 1, fresh) + KRM_FileClose(fresh), 1u);
    for (const char* path : {dir.path().c_str(), "/no/such/folder/f", static_cast<const char*>(nullptr)})
        EXPECT_EQ(KRM_FileOpen(path, "wb"), 0u);
    EXPECT_EQ(KRM_FileOpen((dir / "f").c_str(), nullptr) + KRM_FileOpen(dir.path().c_str(), "rb"), 0u); // a folder is no file
    KRMTest_FailAt(KRM_SVC_FILE_OPEN, 1); // a failure made on purpose is a refused open too
    EXPECT_EQ(KRM_FileOpen((dir / "f").c_str(), "rb"), 0u);
    KRMTest_FailAt(KRM_SVC_COUNT, 1); // no service: refused without touching another switch (ASan sees a stray write)
    EXPECT_EQ(KRM_FileClose(KRM_FileOpen((dir / "f").c_str(), "rb")), 0);
}

// Reused slots get a new generation: no handle is given twice; stale or wrong-direction ones are refused.
TEST_F(FileTest, HandlesAreNewAndStaleOnesAreRefused) {
    writeFile(dir / "a.bin", patternBytes(4));
    std::set<uint32_t> given;
    uint32_t live = 0;
    for (int i = 0; i < 3000; ++i) { // more than the slots that wait before reuse
        const uint32_t next = KRM_FileOpen((dir / "a.bin").c_str(), "rb");
        ASSERT_TRUE(given.insert(next).second) << "handle " << next << " given twice";
        ASSERT_EQ(live != 0 ? KRM_FileClose(live) : 0, 0);
        live = next;
    }
    EXPECT_EQ(KRMTest_Counters().openFiles, 1);
    const uint32_t writer = KRM_FileOpen((dir / "w.bin").c_str(), "wb");
    uint8_t byte = 0;
    EXPECT_EQ(KRM_FileWrite("x", 1, 1, live) + KRM_FileRead(&byte, 1, 1, writer), 0u) << "the wrong direction";
    EXPECT_EQ(KRM_FileRead(&byte, 1, 1, live), 1u);
    EXPECT_EQ(KRM_FileClose(live) + KRM_FileClose(writer), 0);
    for (const uint32_t stale : {*given.begin(), live, 0u, live ^ 0x40000000u, 0xFFFFFFFFu}) {
        EXPECT_NE(KRM_FileClose(stale), 0);
        EXPECT_EQ(KRM_FileRead(&byte, 1, 1, stale) + KRM_FileWrite(&byte, 1, 1, stale) + KRM_FileTell(stale), 0u);
        EXPECT_NE(KRM_FileSeek(stale, 0, 0), 0);
    }
}

// Only a regular file is removed: never a folder, pipe, device, link or the file a link leads to.
TEST_F(FileTest, RemoveTakesOnlyRegularFiles) {
    ASSERT_EQ(std::system(("cd " + dir.path().string() + " && mkdir folder && echo > one.txt && : > empty.txt && "
                           "ln -s empty.txt link && mkfifo pipe && mknod device c 1 3").c_str()), 0);
    for (const char* name : {"folder", "link", "pipe", "device", "missing.txt", "one.txt"}) {
        EXPECT_EQ(KRM_FileRemoveIfSizeIsZero((dir / name).c_str()), 0) << name;
        EXPECT_EQ(KRM_FileRemove((dir / name).c_str()) == 0, std::string_view(name) == "one.txt") << name;
    }
    for (const char* name : {"folder", "link", "pipe", "empty.txt", "device"})
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(dir / name))) << name;
    EXPECT_EQ(KRM_FileRemoveIfSizeIsZero("/proc/self/status"), 0) << "empty, but it cannot be removed";
    EXPECT_EQ(KRM_FileRemoveIfSizeIsZero(nullptr), 0);
    EXPECT_NE(KRM_FileRemove(nullptr), 0);
    EXPECT_EQ(KRM_FileRemoveIfSizeIsZero((dir / "empty.txt").c_str()), 1);
    EXPECT_FALSE(std::filesystem::exists(dir / "one.txt") || std::filesystem::exists(dir / "empty.txt"));
}

// Bound names open their descriptor's file; under a live prefix only they open; none is removed.
TEST_F(FileTest, BoundNamesOpenTheirDescriptorsAndNothingElse) {
    writeFile(dir / "source", bytes("0123456789"));
    writeFile(dir / "output", bytes("old"));
    const int source = ::open((dir / "source").c_str(), O_RDONLY), output = ::open((dir / "output").c_str(), O_RDWR);
    ASSERT_EQ(::lseek(source, 4, SEEK_SET), 4); // the caller's offset is neither used nor moved
    char prefix[KRM_BINDING_PREFIX_MAX], text[16] = {}, name[KRM_PATH_MAX] = {};
    const uint32_t binding = KRM_BindingCreate(prefix, sizeof prefix);
    ASSERT_EQ(KRM_BindingAddFd(binding, "doc.DOC", source) + KRM_BindingAddFd(binding, "out.txt", output), 0);
    for (const auto& [bound, fd] : {std::pair{"doc.DOC", output}, {"sub/name", output}, {"neg", -1}})
        EXPECT_NE(KRM_BindingAddFd(binding, bound, fd), 0) << bound; // a plain name, bound once
    const std::string doc = std::string(prefix) + "doc.DOC", out = std::string(prefix) + "out.txt";
    const uint32_t read = KRM_FileOpen(doc.c_str(), "rb");
    EXPECT_EQ(KRM_FileRead(text, 1, sizeof text, read), 10u);
    EXPECT_EQ(KRM_FileClose(read), 0);
    EXPECT_STREQ(text, "0123456789");
    EXPECT_EQ(::lseek(source, 0, SEEK_CUR), 4);
    EXPECT_EQ(KRM_FileOpen((std::string(prefix) + "doc.FMT").c_str(), "rb") + KRM_2OLEopen(doc.c_str()), 0u);
    std::string forged(prefix); // "/krm-bound/<n>" followed by anything but '/' is no bound name
    forged.back() = '_';
    EXPECT_EQ(KRM_FileOpen((forged + "doc.DOC").c_str(), "rb"), 0u);
    const uint32_t write = KRM_FileOpen(out.c_str(), "wb");
    EXPECT_EQ(KRM_FileRemoveIfSizeIsZero(out.c_str()), 1); // emptied by "wb", still not removed
    EXPECT_EQ(KRM_FileWrite("new", 1, 3, write), 3u);
    EXPECT_EQ(KRM_FileClose(write) + KRM_FileRemoveIfSizeIsZero(out.c_str()) + KRM_FileRemove(out.c_str()), 0);
    EXPECT_EQ(readFile(dir / "output"), bytes("new"));
    for (const std::string& log : {(dir / "call.log").string(), std::string(KRM_PATH_MAX, 'l')}) {
        ASSERT_EQ(KRM_BindingSetLog(binding, log.c_str()), 0);
        GetLogFileName(out.c_str(), "ve2", name);
        EXPECT_EQ(std::string(name).starts_with(log.substr(0, 99)), log.size() < KRM_PATH_MAX) << "one too long is not cut";
    }
    KRM_BindingRelease(binding);
    EXPECT_NE(KRM_BindingAddFd(binding, "late", source), 0);
    EXPECT_EQ(KRM_FileOpen(doc.c_str(), "rb"), 0u);
    EXPECT_EQ(KRMTest_LiveBindings(), 0);
    ::close(source);
    ::close(output);
}

// A handle of one kind is refused by the services of every other kind, even where its slot and
// generation are those of a live handle of theirs (each table's first handle on this thread).
TEST_F(FileTest, HandlesOfOneKindAreRefusedByTheServicesOfAnother) {
    writeFile(dir / "f", bytes("0123456789"));
    oasys_test::writeCompound(dir / "c.ole", {{"S", bytes("0123456789")}});
    const uint32_t file = KRM_FileOpen((dir / "f").c_str(), "rb"), output = KRM_StreamCreateMemory();
    const uint32_t log = krm_logfopen(KRM_OPT_LOG, (dir / "x.log").c_str());
    const uint32_t storage = KRM_2OLEopen((dir / "c.ole").c_str()), stream = KRM_2OLEopenStream(storage, "S");
    char byte = 0;
    const uint8_t* data = nullptr;
    size_t length = 0;
    // Each kind's handle, and whether a call of that kind's services refuses a handle.
    const std::pair<uint32_t, std::function<bool(uint32_t)>> services[] = {
        {file, [&](uint32_t h) { return KRM_FileRead(&byte, 1, 1, h) == 0; }},
        {output, [&](uint32_t h) { return KRM_WriteStream(h, 1, "x") == -1 && KRM_StreamGetMemory(h, &data, &length) == -1; }},
        {log, [&](uint32_t h) { return krm_logfprintf(KRM_OPT_LOG, h, "x", 0) != 0; }},
        {storage, [&](uint32_t h) {
             const uint32_t opened = KRM_2OLEopenStream(h, "S");
             return opened == 0 || KRM_2OLEcloseStream(opened) != 0;
         }},
        {stream, [&](uint32_t h) { return KRM_2OLEreadStream(h, &byte, 1) == 0; }},
    };
    for (const auto& [owner, refuses] : services) {
        ASSERT_NE(owner, 0u);
        for (const auto& [other, ignored] : services) {
            const bool same = &owner == &other; // the same kind: equal values of two kinds must differ
            EXPECT_EQ(refuses(other), !same) << "the services of handle " << owner << ", given " << other;
        }
    }
    EXPECT_EQ(KRM_FileClose(file) + krm_logfclose(KRM_OPT_LOG, log) + KRM_2OLEcloseStream(stream) + KRM_2OLEclose(storage), 0);
    KRM_StreamRelease(output);
}

// Bindings made on many threads at once are all distinct, each found from any other thread and
// released there, and counted while they live.
TEST_F(FileTest, BindingsOfManyThreadsAreFoundFromAnyThread) {
    writeFile(dir / "source", bytes("0123456789"));
    const int source = ::open((dir / "source").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(source, 0);
    constexpr int kThreads = 20, kEach = 30; // more threads than the registry has shards
    std::vector<std::vector<std::pair<uint32_t, std::string>>> made(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                char prefix[KRM_BINDING_PREFIX_MAX];
                const uint32_t binding = KRM_BindingCreate(prefix, sizeof prefix);
                if (binding != 0 && KRM_BindingAddFd(binding, "doc.DOC", source) == 0) made[t].emplace_back(binding, prefix);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(KRMTest_LiveBindings(), kThreads * kEach);
    std::set<uint32_t> handles;
    std::set<std::string> prefixes;
    for (const auto& ofThread : made) {
        ASSERT_EQ(ofThread.size(), static_cast<size_t>(kEach));
        for (const auto& [binding, prefix] : ofThread) {
            handles.insert(binding);
            prefixes.insert(prefix);
            char text[4] = {};
            const uint32_t file = KRM_FileOpen((prefix + "doc.DOC").c_str(), "rb");
            EXPECT_EQ(KRM_FileRead(text, 1, 3, file), 3u) << prefix;
            EXPECT_EQ(KRM_FileClose(file), 0);
            EXPECT_STREQ(text, "012");
        }
    }
    EXPECT_EQ(handles.size(), static_cast<size_t>(kThreads * kEach));
    EXPECT_EQ(prefixes.size(), handles.size());
    for (const auto& ofThread : made)
        for (const auto& [binding, prefix] : ofThread) KRM_BindingRelease(binding);
    EXPECT_EQ(KRMTest_LiveBindings(), 0);
    EXPECT_EQ(KRM_FileOpen((made[0][0].second + "doc.DOC").c_str(), "rb"), 0u);
    ::close(source);
}

// A bound name holding "0123456789" (the application's descriptor standing at 4), opened in each
// mode: what a read from the start gives, and what the file holds after "ab" is written at 2
// (readBack nullptr: the open fails). A duplicate serves where the descriptor allows; a read-only,
// append, direct or path-only descriptor, an exclusive or append mode, a pipe open the file afresh.
TEST_F(FileTest, BoundNamesServeEveryModeAndNeverMoveTheApplicationsOffset) {
    using namespace std::string_view_literals;
    enum Kind { kMemfd, kFile, kPipe };
    const struct { Kind kind; int flags; const char* mode; const char* readBack; std::string_view content; } cases[] = {
        {kMemfd, O_RDWR, "rb", "0123456789", "0123456789"}, {kMemfd, O_RDWR, "wb", "", "\0\0ab"sv},
        {kMemfd, O_RDWR, "r+b", "0123456789", "01ab456789"}, {kFile, O_RDONLY, "rb", "0123456789", "0123456789"},
        {kFile, O_RDONLY, "wb", "", "\0\0ab"sv}, {kFile, O_RDONLY, "r+b", "0123456789", "01ab456789"},
        {kFile, O_WRONLY, "rb", "0123456789", "0123456789"}, {kFile, O_RDWR, "ab", "", "0123456789ab"},
        {kFile, O_RDWR | O_APPEND, "r+b", "0123456789", "01ab456789"}, {kFile, O_RDWR, "wxb", nullptr, "0123456789"},
        {kFile, O_RDONLY | O_DIRECT, "rb", "0123456789", "0123456789"}, {kFile, O_PATH, "rb", "0123456789", "0123456789"},
        {kPipe, 0, "rb", "0123456789", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.mode) + " on kind " + std::to_string(c.kind) + ", flags " + std::to_string(c.flags));
        writeFile(dir / "f", bytes("0123456789"));
        int fd = -1, pipeEnds[2] = {-1, -1};
        if (c.kind == kMemfd) {
            fd = ::memfd_create("bound", MFD_CLOEXEC);
            ASSERT_EQ(::write(fd, "0123456789", 10), 10);
        } else if (c.kind == kFile) {
            fd = ::open((dir / "f").c_str(), c.flags | O_CLOEXEC);
        } else {
            ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
            ASSERT_EQ(::write(pipeEnds[1], "0123456789", 10) + ::close(pipeEnds[1]), 10);
            fd = pipeEnds[0];
        }
        ASSERT_GE(fd, 0);
        ::lseek(fd, 4, SEEK_SET);
        const off_t offset = ::lseek(fd, 0, SEEK_CUR);
        char prefix[KRM_BINDING_PREFIX_MAX], text[16] = {};
        const uint32_t binding = KRM_BindingCreate(prefix, sizeof prefix);
        ASSERT_EQ(KRM_BindingAddFd(binding, "x", fd), 0);
        const uint32_t file = KRM_FileOpen((std::string(prefix) + "x").c_str(), c.mode);
        EXPECT_EQ(file != 0, c.readBack != nullptr);
        if (file != 0) {
            EXPECT_EQ(std::string(text, KRM_FileRead(text, 1, sizeof text, file)), c.readBack);
            KRM_FileSeek(file, 2, 0);
            KRM_FileWrite("ab", 1, 2, file);
            EXPECT_EQ(KRM_FileClose(file), 0);
        }
        EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), offset);
        Bytes held(16);
        held.resize(std::max<ssize_t>(0, c.kind == kMemfd ? ::pread(fd, held.data(), held.size(), 0) : 0));
        if (c.kind != kPipe) {
            EXPECT_EQ(c.kind == kFile ? readFile(dir / "f") : held, bytes(c.content));
        }
        KRM_BindingRelease(binding);
        ::close(fd);
    }
    // Two handles on one bound name, read in turns over several windows, each see every byte.
    const Bytes content = patternBytes(3 * kWindow + 7, 3);
    const int memfd = ::memfd_create("bound", MFD_CLOEXEC);
    ASSERT_EQ(::write(memfd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    char prefix[KRM_BINDING_PREFIX_MAX];
    const uint32_t binding = KRM_BindingCreate(prefix, sizeof prefix);
    ASSERT_EQ(KRM_BindingAddFd(binding, "x", memfd), 0);
    const std::string name = std::string(prefix) + "x";
    const uint32_t handles[] = {KRM_FileOpen(name.c_str(), "rb"), KRM_FileOpen(name.c_str(), "rb")};
    Bytes seen[2], chunk(1000);
    for (bool more = true; more;) {
        more = false;
        for (int i : {0, 1}) {
            const uint32_t got = KRM_FileRead(chunk.data(), 1, static_cast<uint32_t>(chunk.size()), handles[i]);
            seen[i].insert(seen[i].end(), chunk.begin(), chunk.begin() + got);
            more = more || got > 0;
        }
    }
    EXPECT_TRUE(seen[0] == content && seen[1] == content);
    EXPECT_EQ(KRM_FileClose(handles[0]) + KRM_FileClose(handles[1]), 0);
    EXPECT_EQ(::lseek(memfd, 0, SEEK_CUR), static_cast<off_t>(content.size()));
    KRM_BindingRelease(binding);
    ::close(memfd);
}

using Lines = std::vector<std::string>;

constexpr uint32_t kLogOn = KRM_OPT_LOG;
constexpr uint32_t kLogOff = KRM_OPT_RULED_LINES; // other bits set, the log bit clear

class LogTest : public host_test::HostTest {
protected:
    void TearDown() override {
        KRM_SetLogDirectory(nullptr);
        HostTest::TearDown();
    }
};

// A name too long is cut between characters, keeps its ".tag.log" ending and stays in the buffer.
TEST_F(LogTest, NameIsThePathWithTagAndExtensionCutToFit) {
    std::string japanese;
    while (japanese.size() < 1100) japanese += "\xE3\x81\x82"; // あ
    const std::string longPath = "/" + std::string(1099, 'p'), longFolder(1500, 'd'), kept = ".ve2.log";
    // directory nullptr: none set; expected "": only within the bound
    const struct { const char* directory; std::string path, tag, expected; } cases[] = {
        {nullptr, "/data/out.txt", "ve2", "/data/out.txt.ve2.log"},
        {"/var/logs/", "/data/out.txt", "ve2", "/var/logs/out.txt.ve2.log"},
        {"/var/logs", "out.txt", "abc", "/var/logs/out.txt.abc.log"},
        {"", "/data/out.txt", "ve2", "/data/out.txt.ve2.log"},
        {nullptr, longPath, "ve2", longPath.substr(0, KRM_PATH_MAX - 1 - kept.size()) + kept},
        {nullptr, japanese, "ve2", japanese.substr(0, (KRM_PATH_MAX - 1 - kept.size()) / 3 * 3) + kept},
        {longFolder.c_str(), "/a/out.txt", std::string(2000, 't'), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected.substr(0, 40));
        KRM_SetLogDirectory(c.directory);
        char name[KRM_PATH_MAX + 100];
        std::memset(name, '#', sizeof name);
        GetLogFileName(c.path.c_str(), c.tag.c_str(), name);
        ASSERT_NE(std::memchr(name, '\0', KRM_PATH_MAX), nullptr);
        EXPECT_EQ(c.expected.empty() ? "" : std::string(name), c.expected);
        EXPECT_TRUE(g_utf8_validate(name, -1, nullptr));
        EXPECT_EQ(std::string(name + KRM_PATH_MAX, 100), std::string(100, '#')) << "written past the buffer";
    }
}

// The flag is read at every call; a new log replaces the old; one that cannot be opened takes every call.
TEST_F(LogTest, FlagIsReadAtEveryCallAndUnknownHandlesAreRejected) {
    const auto path = dir / "mixed.log";
    const uint32_t quiet = krm_logfopen(kLogOff, path.c_str());
    EXPECT_EQ(KRMTest_Counters().openLogs, 1);
    EXPECT_EQ(krm_logfprintf(kLogOff, quiet, "text\r\n", 0) + krm_logfclose(kLogOff, quiet), 0);
    EXPECT_FALSE(std::filesystem::exists(path));
    for (const std::string& name : {path.string(), path.string(), (dir / "no/such.log").string(), std::string()}) {
        const uint32_t log = krm_logfopen(kLogOn, name.c_str());
        EXPECT_EQ(krm_logfprintf(kLogOn, log, "a", 0) + krm_logfprintf(kLogOff, log, "b", 0), 0);
        EXPECT_EQ(krm_logfprint_path(kLogOff, log, "c") + krm_logfprint_path(kLogOn | kLogOff, log, "d"), 0);
        EXPECT_EQ(krm_logfclose(kLogOff, log), 0);
    }
    EXPECT_EQ(readLogLines(path), Lines{"ad"});
    const uint32_t nullName = krm_logfopen(kLogOn, nullptr);
    EXPECT_EQ(krm_logfclose(kLogOn, nullName), 0);
    for (const uint32_t stale : {nullName, 0u, 12345u}) {
        EXPECT_NE(krm_logfprintf(kLogOn, stale, "x", 0), 0);
        EXPECT_NE(krm_logfprint_path(kLogOn, stale, "x"), 0);
        EXPECT_NE(krm_logfclose(kLogOn, stale), 0);
    }
}

using StreamTest = host_test::HostTest;

// Every write is collected; failures give -1 and keep nothing; a descriptor stays the application's.
TEST_F(StreamTest, StreamsCollectEveryWriteAndFailuresGiveMinusOne) {
    const uint32_t memory = KRM_StreamCreateMemory();
    const int full = ::open("/dev/full", O_WRONLY);
    const uint32_t fullStream = KRM_StreamCreateFd(full);
    const uint8_t* data = nullptr;
    size_t length = 0;
    EXPECT_EQ(KRMTest_Counters().outputStreams, 2);
    EXPECT_EQ(KRM_WriteStream(memory, 5, "line\n") + KRM_WriteStream(memory, 0, nullptr), 5);
    EXPECT_EQ(KRM_WriteStream(memory, 3, nullptr) + KRM_WriteStream(memory, 0x80000000u, "x"), -2);
    EXPECT_EQ(KRM_WriteStream(fullStream, 1, "x") + KRM_StreamGetMemory(fullStream, &data, &length), -2);
    EXPECT_EQ(KRM_StreamGetMemory(memory, nullptr, &length) + KRM_StreamGetMemory(memory, &data, nullptr), -2);
    ASSERT_EQ(KRM_StreamGetMemory(memory, &data, &length), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), length), "line\n");
    KRM_StreamRelease(memory);
    KRM_StreamRelease(fullStream);
    EXPECT_EQ(KRM_WriteStream(memory, 1, "x"), -1) << "released";
    KRM_StreamRelease(memory); // a second release is harmless
    EXPECT_EQ(KRM_StreamCreateFd(-1), 0u);
    EXPECT_EQ(::close(full), 0) << "the descriptor still belongs to the application";
    const int fd = ::open((dir / "out").c_str(), O_WRONLY | O_CREAT, 0600);
    const uint32_t stream = KRM_StreamCreateFd(fd);
    const host_test::Bytes large = host_test::patternBytes(200000, 5);
    EXPECT_EQ(KRM_WriteStream(stream, static_cast<uint32_t>(large.size()), large.data()), static_cast<int32_t>(large.size()));
    KRM_StreamRelease(stream);
    ::close(fd);
    EXPECT_EQ(oasys_test::readFile(dir / "out"), large);
}

// When every handle of a kind is live one more is refused, and a released one is given again.
TEST_F(StreamTest, HandlesRunOutCleanly) {
    std::vector<uint32_t> live;
    for (uint32_t stream; live.size() < 40000 && (stream = KRM_StreamCreateMemory()) != 0;) live.push_back(stream);
    EXPECT_LT(live.size(), 40000u);
    KRM_StreamRelease(live.back());
    EXPECT_NE(live.back() = KRM_StreamCreateMemory(), 0u);
    EXPECT_EQ(KRM_StreamCreateMemory(), 0u);
    for (const uint32_t stream : live) KRM_StreamRelease(stream);
}

} // namespace
