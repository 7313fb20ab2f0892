// Plain-file service: element counts, buffered seek-and-read, write-out and its failures.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <vector>

#include "host_test_support.h"
#include "krm_host.h"
#include "oasys_writer.h"
#include "test_util.h"

namespace {

using host_test::Bytes;
using host_test::patternBytes;
using host_test::readAt;
using oasys_test::TempDir;

class FileTest : public oasys_test::HostCheckedTest {
protected:
    TempDir dir;
    std::filesystem::path pathOf(const std::string& name) const { return dir / name; }
    uint32_t openWith(const Bytes& content, const char* mode = "rb") {
        const auto path = pathOf("source.bin");
        oasys_test::writeFile(path, content);
        return KRM_FileOpen(path.c_str(), mode);
    }
};

constexpr uint32_t kWindow = 64 * 1024;

struct ElementCase {
    const char* what;
    uint32_t fileSize, offset, size, count;
    uint32_t expectedElements, expectedTell;
};

TEST_F(FileTest, ReadCountsWholeElementsLikeFread) {
    const ElementCase cases[] = {
        {"bytes inside the file", 10, 0, 1, 4, 4, 4},
        {"short read at the end counts whole elements", 10, 0, 4, 3, 2, 10},
        {"partial element only", 10, 9, 3, 5, 0, 10},
        {"exactly at the end", 10, 10, 1, 1, 0, 10},
        {"seek beyond the end then read", 10, 20, 1, 1, 0, 20},
        {"across a window boundary", kWindow + 10, kWindow - 3, 2, 4, 4, kWindow + 5},
        {"larger than a window", 3 * kWindow, 5, 1, 2 * kWindow, 2 * kWindow, 2 * kWindow + 5},
        {"larger than a window, cut by the end", kWindow + 100, 50, 8, kWindow / 4, (kWindow + 50) / 8,
         kWindow + 100},
        {"empty file", 0, 0, 1, 16, 0, 0},
    };
    for (const ElementCase& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes content = patternBytes(c.fileSize, c.fileSize);
        const uint32_t file = openWith(content);
        ASSERT_NE(file, 0u);
        const auto [elements, data] = readAt(file, c.offset, c.size, c.count);
        EXPECT_EQ(elements, c.expectedElements);
        EXPECT_EQ(KRM_FileTell(file), c.expectedTell);
        if (!data.empty()) {
            EXPECT_TRUE(std::equal(data.begin(), data.end(), content.begin() + c.offset));
        }
        EXPECT_EQ(KRM_FileClose(file), 0);
    }
}

TEST_F(FileTest, ByteAtATimeSeekAndReadSeesEveryByte) {
    const Bytes content = patternBytes(3 * kWindow + 7, 42);
    const uint32_t file = openWith(content);
    ASSERT_NE(file, 0u);
    // Forwards over several windows, then backwards, then jumping between far places: the
    // decoder's patterns (next byte, a step back to a header, a jump to a record).
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
    EXPECT_EQ(KRM_FileClose(file), 0);
}

TEST_F(FileTest, SequentialReadsContinueWhereTheLastStopped) {
    const Bytes content = patternBytes(kWindow * 2 + 1, 3);
    const uint32_t file = openWith(content);
    Bytes collected;
    uint8_t chunk[1000];
    uint32_t got;
    while ((got = KRM_FileRead(chunk, 1, sizeof chunk, file)) > 0) {
        collected.insert(collected.end(), chunk, chunk + got);
    }
    EXPECT_EQ(collected, content);
    EXPECT_EQ(KRM_FileClose(file), 0);
}

struct SeekCase {
    const char* what;
    uint32_t offset;
    uint16_t origin;
    bool succeeds;
    uint32_t expectedTell; // from a start position of 100 in a 1000-byte file
};

TEST_F(FileTest, SeekOriginsAndTell) {
    const SeekCase cases[] = {
        {"from the start", 250, 0, true, 250},
        {"end of file gives its size", 0, 2, true, 1000},
        {"back from the end", static_cast<uint32_t>(-3), 2, true, 997},
        {"forward from here", 5, 1, true, 105},
        {"back from here", static_cast<uint32_t>(-100), 1, true, 0},
        {"before the start", static_cast<uint32_t>(-101), 1, false, 100},
        {"beyond the end", 5000, 0, true, 5000},
        {"unknown origin", 0, 7, false, 100},
    };
    const uint32_t file = openWith(patternBytes(1000));
    for (const SeekCase& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(KRM_FileSeek(file, 100, 0), 0);
        EXPECT_EQ(KRM_FileSeek(file, c.offset, c.origin) == 0, c.succeeds);
        EXPECT_EQ(KRM_FileTell(file), c.expectedTell);
    }
    EXPECT_EQ(KRM_FileClose(file), 0);
}

TEST_F(FileTest, WrittenBytesReadBackAfterClose) {
    const Bytes content = patternBytes(3 * kWindow + 11, 9);
    const auto path = pathOf("out.txt");
    const uint32_t file = KRM_FileOpen(path.c_str(), "wb");
    ASSERT_NE(file, 0u);
    // Pieces smaller than, equal to and larger than the window, and single bytes.
    const size_t pieces[] = {1, 1, 100, kWindow, kWindow + 17, 3, kWindow - 120, 9};
    size_t at = 0;
    for (const size_t piece : pieces) {
        const size_t take = std::min(piece, content.size() - at);
        ASSERT_EQ(KRM_FileWrite(content.data() + at, 1, static_cast<uint32_t>(take), file), take);
        at += take;
        EXPECT_EQ(KRM_FileTell(file), at);
    }
    ASSERT_EQ(at, content.size());
    EXPECT_EQ(KRM_FileSeek(file, 0, 2), 0);
    EXPECT_EQ(KRM_FileTell(file), content.size()) << "size while bytes are still buffered";
    EXPECT_EQ(KRM_FileClose(file), 0);
    EXPECT_EQ(oasys_test::readFile(path), content);
}

TEST_F(FileTest, WriteSeekBackOverwriteAndReadInUpdateMode) {
    const auto path = pathOf("update.bin");
    const uint32_t file = KRM_FileOpen(path.c_str(), "w+b");
    ASSERT_NE(file, 0u);
    ASSERT_EQ(KRM_FileWrite("abcdefgh", 1, 8, file), 8u);
    ASSERT_EQ(KRM_FileSeek(file, 2, 0), 0);
    ASSERT_EQ(KRM_FileWrite("XY", 1, 2, file), 2u);
    // A read sees what was written before it, buffered or not.
    const auto [elements, data] = readAt(file, 0, 1, 8);
    EXPECT_EQ(elements, 8u);
    EXPECT_EQ(host_test::asText(data), "abXYefgh");
    // A write beyond the end leaves a hole of zeros.
    ASSERT_EQ(KRM_FileSeek(file, 10, 0), 0);
    ASSERT_EQ(KRM_FileWrite("Z", 1, 1, file), 1u);
    EXPECT_EQ(KRM_FileClose(file), 0);
    EXPECT_EQ(oasys_test::readFile(path), oasys_test::bytes(std::string_view("abXYefgh\0\0Z", 11)));
}

TEST_F(FileTest, AppendModeAddsAtTheEnd) {
    const auto path = pathOf("log.txt");
    oasys_test::writeFile(path, oasys_test::bytes("first "));
    const uint32_t file = KRM_FileOpen(path.c_str(), "ab");
    ASSERT_NE(file, 0u);
    ASSERT_EQ(KRM_FileWrite("second", 1, 6, file), 6u);
    EXPECT_EQ(KRM_FileTell(file), 12u);
    EXPECT_EQ(KRM_FileClose(file), 0);
    EXPECT_EQ(host_test::asText(oasys_test::readFile(path)), "first second");
}

TEST_F(FileTest, ElementSizeAboveOneCountsWholeElementsWritten) {
    const auto path = pathOf("words.bin");
    const uint32_t file = KRM_FileOpen(path.c_str(), "wb");
    const uint16_t words[3] = {1, 2, 3};
    EXPECT_EQ(KRM_FileWrite(words, sizeof words[0], 3, file), 3u);
    EXPECT_EQ(KRM_FileClose(file), 0);
    EXPECT_EQ(std::filesystem::file_size(path), sizeof words);
}

TEST_F(FileTest, OpenRefusesWhatIsNoFile) {
    const auto existing = pathOf("exists.txt");
    oasys_test::writeFile(existing, oasys_test::bytes("x"));
    const struct {
        const char* what;
        std::string path;
        const char* mode;
    } cases[] = {
        {"missing file", pathOf("missing.txt").string(), "rb"},
        {"folder", dir.path().string(), "rb"},
        {"file in a missing folder", pathOf("no/such.txt").string(), "wb"},
        {"mode that is no fopen mode", existing.string(), "q"},
        {"empty mode", existing.string(), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(KRM_FileOpen(c.path.c_str(), c.mode), 0u);
    }
    EXPECT_EQ(KRM_FileOpen(nullptr, "rb"), 0u);
    EXPECT_EQ(KRM_FileOpen(existing.c_str(), nullptr), 0u);
}

TEST_F(FileTest, HandlesAreRejectedOnceClosedOrUnknown) {
    const uint32_t file = openWith(patternBytes(10));
    ASSERT_NE(file, 0u);
    ASSERT_EQ(KRM_FileClose(file), 0);
    uint8_t byte = 0;
    for (const uint32_t stale : {file, 0u, file ^ 0x40000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(stale);
        EXPECT_NE(KRM_FileClose(stale), 0);
        EXPECT_EQ(KRM_FileRead(&byte, 1, 1, stale), 0u);
        EXPECT_EQ(KRM_FileWrite(&byte, 1, 1, stale), 0u);
        EXPECT_NE(KRM_FileSeek(stale, 0, 0), 0);
        EXPECT_EQ(KRM_FileTell(stale), 0u);
    }
}

TEST_F(FileTest, ReadOnlyAndWriteOnlyHandlesRefuseTheOtherDirection) {
    const uint32_t reader = openWith(patternBytes(10));
    EXPECT_EQ(KRM_FileWrite("x", 1, 1, reader), 0u);
    EXPECT_EQ(KRM_FileClose(reader), 0);
    const auto path = pathOf("w.bin");
    const uint32_t writer = KRM_FileOpen(path.c_str(), "wb");
    ASSERT_EQ(KRM_FileWrite("abc", 1, 3, writer), 3u);
    uint8_t byte = 0;
    EXPECT_EQ(KRM_FileRead(&byte, 1, 1, writer), 0u);
    EXPECT_EQ(KRM_FileClose(writer), 0);
    EXPECT_EQ(host_test::asText(oasys_test::readFile(path)), "abc");
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

TEST_F(FileTest, RemoveIfSizeIsZeroDeletesOnlyEmptyFiles) {
    const struct {
        const char* what;
        std::string name;
        std::optional<Bytes> content; // nullopt: no such file
        int32_t expected;
        bool remains;
    } cases[] = {
        {"empty file", "empty.txt", Bytes{}, 1, false},
        {"one byte", "one.txt", Bytes{0}, 0, true},
        {"text", "text.txt", oasys_test::bytes("hello"), 0, true},
        {"missing file", "missing.txt", std::nullopt, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto path = pathOf(c.name);
        if (c.content) oasys_test::writeFile(path, *c.content);
        EXPECT_EQ(KRM_FileRemoveIfSizeIsZero(path.c_str()), c.expected);
        EXPECT_EQ(std::filesystem::exists(path), c.remains);
    }
    const auto folder = pathOf("folder");
    std::filesystem::create_directory(folder);
    EXPECT_EQ(KRM_FileRemoveIfSizeIsZero(folder.c_str()), 0);
    EXPECT_TRUE(std::filesystem::exists(folder));
    EXPECT_EQ(KRM_FileRemoveIfSizeIsZero(nullptr), 0);
}

TEST_F(FileTest, RemoveDeletesAndReportsMissingFiles) {
    const auto path = pathOf("gone.txt");
    oasys_test::writeFile(path, oasys_test::bytes("x"));
    EXPECT_EQ(KRM_FileRemove(path.c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_NE(KRM_FileRemove(path.c_str()), 0);
    EXPECT_NE(KRM_FileRemove(nullptr), 0);
}

TEST_F(FileTest, OutputFileIsCreatedWithUsualPermissions) {
    const auto path = pathOf("perm.txt");
    const uint32_t file = KRM_FileOpen(path.c_str(), "wb");
    ASSERT_EQ(KRM_FileClose(file), 0);
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(status.st_mode & 0777, 0666 & ~mask);
}

} // namespace
