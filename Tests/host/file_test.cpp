// Plain-file service: element counts, buffered seek-and-read, write-out and its failures.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <set>
#include <thread>
#include <vector>

#include "host_test_support.h"

namespace {

using host_test::Bytes;
using host_test::patternBytes;
using oasys_test::bytes;
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

TEST_F(FileTest, ReadCountsWholeElementsLikeFread) {
    const struct {
        const char* what;
        uint32_t fileSize, offset, size, count;
        uint32_t expectedElements, expectedTell;
    } cases[] = {
        {"short read at the end counts whole elements", 10, 0, 4, 3, 2, 10},
        {"partial element only", 10, 9, 3, 5, 0, 10},
        {"exactly at the end", 10, 10, 1, 1, 0, 10},
        {"seek beyond the end then read", 10, 20, 1, 1, 0, 20},
        {"across a window boundary", kWindow + 10, kWindow - 3, 2, 4, 4, kWindow + 5},
        {"larger than a window", 3 * kWindow, 5, 1, 2 * kWindow, 2 * kWindow, 2 * kWindow + 5},
        {"larger than a window, cut by the end", kWindow + 100, 50, 8, kWindow / 4, (kWindow + 50) / 8, kWindow + 100},
        {"empty file", 0, 0, 1, 16, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes content = patternBytes(c.fileSize, c.fileSize);
        const uint32_t file = openWith(content);
        ASSERT_NE(file, 0u);
        KRM_FileSeek(file, c.offset, 0);
        Bytes buffer(static_cast<size_t>(c.size) * c.count);
        const uint32_t elements = KRM_FileRead(buffer.data(), c.size, c.count, file);
        EXPECT_EQ(elements, c.expectedElements);
        EXPECT_EQ(KRM_FileTell(file), c.expectedTell);
        EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + elements * c.size, content.begin() + c.offset));
        EXPECT_EQ(KRM_FileClose(file), 0);
    }
}

TEST_F(FileTest, BufferedReadsSeeEveryByte) {
    const Bytes content = patternBytes(3 * kWindow + 7, 42);
    const uint32_t file = openWith(content);
    ASSERT_NE(file, 0u);
    // The decoder's patterns: next byte, a step back to a header, a jump to a record.
    std::vector<uint32_t> offsets;
    for (uint32_t at = 0; at < content.size(); ++at) offsets.push_back(at);
    for (uint32_t at = static_cast<uint32_t>(content.size()); at-- > 0;) offsets.push_back(at);
    for (uint32_t step = 0; step < 1000; ++step) offsets.push_back((step * 7919u) % content.size());
    size_t wrong = 0;
    for (const uint32_t at : offsets) {
        uint8_t byte = 0;
        EXPECT_EQ(KRM_FileSeek(file, at, 0), 0);
        ASSERT_EQ(KRM_FileRead(&byte, 1, 1, file), 1u) << "offset " << at;
        wrong += byte != content[at];
    }
    EXPECT_EQ(wrong, 0u);
    // Reads without seeks continue where the last one stopped.
    KRM_FileSeek(file, 0, 0);
    Bytes collected;
    uint8_t chunk[1000];
    for (uint32_t got; (got = KRM_FileRead(chunk, 1, sizeof chunk, file)) > 0;) collected.insert(collected.end(), chunk, chunk + got);
    EXPECT_EQ(collected, content);
    EXPECT_EQ(KRM_FileClose(file), 0);
}

TEST_F(FileTest, SeekOriginsAndTell) {
    const struct {
        const char* what;
        uint32_t offset;
        uint16_t origin;
        bool succeeds;
        uint32_t expectedTell; // from 100 in a 1000-byte file
    } cases[] = {
        {"from the start", 250, 0, true, 250},           {"end of file gives its size", 0, 2, true, 1000},
        {"back from the end", -3u, 2, true, 997},         {"forward from here", 5, 1, true, 105},
        {"back from here", -100u, 1, true, 0},            {"before the start", -101u, 1, false, 100},
        {"beyond the end", 5000, 0, true, 5000},          {"unknown origin", 0, 7, false, 100},
    };
    const uint32_t file = openWith(patternBytes(1000));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(KRM_FileSeek(file, 100, 0), 0);
        EXPECT_EQ(KRM_FileSeek(file, c.offset, c.origin) == 0, c.succeeds);
        EXPECT_EQ(KRM_FileTell(file), c.expectedTell);
    }
    EXPECT_EQ(KRM_FileClose(file), 0);
}

TEST_F(FileTest, WrittenBytesReadBackAfterCloseWithUsualPermissions) {
    const Bytes content = patternBytes(3 * kWindow + 11, 9);
    const auto path = dir / "out.txt";
    const uint32_t file = KRM_FileOpen(path.c_str(), "wb");
    ASSERT_NE(file, 0u);
    // Pieces smaller than, equal to and larger than the window, and single bytes.
    size_t at = 0;
    for (const size_t piece : {1u, 1u, 100u, kWindow, kWindow + 17, 3u, kWindow - 120, 9u}) {
        const size_t take = std::min(piece, content.size() - at);
        ASSERT_EQ(KRM_FileWrite(content.data() + at, 1, static_cast<uint32_t>(take), file), take);
        at += take;
        EXPECT_EQ(KRM_FileTell(file), at);
    }
    ASSERT_EQ(at, content.size());
    EXPECT_EQ(KRM_FileSeek(file, 0, 2), 0);
    EXPECT_EQ(KRM_FileTell(file), content.size()) << "size while bytes are still buffered";
    EXPECT_EQ(KRM_FileClose(file), 0);
    EXPECT_EQ(readFile(path), content);
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(status.st_mode & 0777, 0666 & ~mask);
}

TEST_F(FileTest, LostWriteOutMakesCloseFail) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    // A small write is only buffered, so the loss shows at the close.
    const uint32_t buffered = KRM_FileOpen("/dev/full", "wb");
    ASSERT_NE(buffered, 0u);
    EXPECT_EQ(KRM_FileWrite("abc", 1, 3, buffered), 3u);
    EXPECT_NE(KRM_FileClose(buffered), 0);
    // A write larger than the window goes out at once and reports fewer elements.
    const Bytes large = patternBytes(kWindow * 2);
    const uint32_t direct = KRM_FileOpen("/dev/full", "wb");
    EXPECT_LT(KRM_FileWrite(large.data(), 1, static_cast<uint32_t>(large.size()), direct), large.size());
    EXPECT_NE(KRM_FileClose(direct), 0);
}

TEST_F(FileTest, OpenRefusesWhatIsNoFile) {
    const auto existing = dir / "exists.txt";
    writeFile(existing, bytes("x"));
    const struct {
        const char* what;
        std::string path;
        const char* mode;
    } cases[] = {
        {"missing file", (dir / "missing.txt").string(), "rb"}, {"folder", dir.path().string(), "rb"},
        {"file in a missing folder", (dir / "no/such.txt").string(), "wb"},
        {"no fopen mode", existing.string(), "q"}, {"empty mode", existing.string(), ""},
        {"no mode", existing.string(), nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(KRM_FileOpen(c.path.c_str(), c.mode), 0u);
    }
    EXPECT_EQ(KRM_FileOpen(nullptr, "rb"), 0u);
}

TEST_F(FileTest, HandlesAreRefusedOnceClosedUnknownOrOfTheOtherDirection) {
    const uint32_t reader = openWith(patternBytes(10));
    EXPECT_EQ(KRM_FileWrite("x", 1, 1, reader), 0u);
    const uint32_t writer = KRM_FileOpen((dir / "w.bin").c_str(), "wb");
    ASSERT_EQ(KRM_FileWrite("abc", 1, 3, writer), 3u);
    uint8_t byte = 0;
    EXPECT_EQ(KRM_FileRead(&byte, 1, 1, writer), 0u);
    EXPECT_EQ(KRM_FileClose(writer), 0);
    EXPECT_EQ(readFile(dir / "w.bin"), bytes("abc"));
    ASSERT_EQ(KRM_FileClose(reader), 0);
    for (const uint32_t stale : {reader, 0u, reader ^ 0x40000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(stale);
        EXPECT_NE(KRM_FileClose(stale), 0);
        EXPECT_EQ(KRM_FileRead(&byte, 1, 1, stale), 0u);
        EXPECT_EQ(KRM_FileWrite(&byte, 1, 1, stale), 0u);
        EXPECT_NE(KRM_FileSeek(stale, 0, 0), 0);
        EXPECT_EQ(KRM_FileTell(stale), 0u);
    }
}

// Released slots are used again, under a new generation: no earlier handle is ever taken for a
// later file, and every handle given out is new.
TEST_F(FileTest, HandlesOfReusedSlotsAreNewAndTheOldOnesStayRefused) {
    writeFile(dir / "a.bin", patternBytes(4));
    std::set<uint32_t> given;
    uint32_t live = 0;
    for (int i = 0; i < 3000; ++i) { // more than the slots that wait before reuse
        const uint32_t next = KRM_FileOpen((dir / "a.bin").c_str(), "rb");
        ASSERT_TRUE(given.insert(next).second) << "handle " << next << " given twice";
        if (live != 0) {
            ASSERT_EQ(KRM_FileClose(live), 0);
        }
        live = next;
    }
    uint8_t byte = 0;
    for (const uint32_t old : given) {
        if (old != live) {
            ASSERT_EQ(KRM_FileRead(&byte, 1, 1, old), 0u) << "stale " << old;
        }
    }
    EXPECT_EQ(KRM_FileRead(&byte, 1, 1, live), 1u);
    EXPECT_EQ(KRM_FileClose(live), 0);
}

// A close from another thread makes the handle unknown to this one too.
TEST_F(FileTest, AHandleClosedByAnotherThreadIsRefusedHere) {
    const uint32_t reader = openWith(patternBytes(10));
    uint8_t byte = 0;
    ASSERT_EQ(KRM_FileRead(&byte, 1, 1, reader), 1u);
    std::thread([reader] { EXPECT_EQ(KRM_FileClose(reader), 0); }).join();
    EXPECT_EQ(KRM_FileRead(&byte, 1, 1, reader), 0u);
    EXPECT_NE(KRM_FileSeek(reader, 0, 0), 0);
}

// Emptied and failed outputs are removed through these (the entry tests show both); here the
// paths that must never lose anything: only a regular file is removed, never a folder, a pipe, a
// device, a link or the file a link leads to.
TEST_F(FileTest, RemoveTakesOnlyRegularFiles) {
    std::filesystem::create_directory(dir / "folder");
    writeFile(dir / "one.txt", Bytes{0});
    writeFile(dir / "empty.txt", Bytes{});
    std::filesystem::create_symlink(dir / "empty.txt", dir / "link");
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    const bool device = ::mknod((dir / "device").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    for (const char* name : {"folder", "one.txt", "link", "pipe", "device", "missing.txt"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(KRM_FileRemoveIfSizeIsZero((dir / name).c_str()), 0);
        if (std::string_view(name) != "one.txt") {
            EXPECT_NE(KRM_FileRemove((dir / name).c_str()), 0);
        }
    }
    for (const char* name : {"folder", "one.txt", "link", "pipe", "empty.txt"})
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(dir / name))) << name;
    EXPECT_EQ(std::filesystem::exists(dir / "device"), device);
    EXPECT_EQ(KRM_FileRemoveIfSizeIsZero(nullptr), 0);
    EXPECT_NE(KRM_FileRemove(nullptr), 0);
    EXPECT_EQ(KRM_FileRemove((dir / "one.txt").c_str()), 0);
    EXPECT_EQ(KRM_FileRemoveIfSizeIsZero((dir / "empty.txt").c_str()), 1);
    EXPECT_FALSE(std::filesystem::exists(dir / "one.txt") || std::filesystem::exists(dir / "empty.txt"));
}

} // namespace
