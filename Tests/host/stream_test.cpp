// Host output streams: memory and file-descriptor streams, and their failures.
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "host_test_support.h"

namespace {

using StreamTest = host_test::HostTest;
using oasys_test::bytes;

std::string memoryOf(uint32_t stream) {
    const uint8_t* data = nullptr;
    size_t length = 0;
    EXPECT_EQ(KRM_StreamGetMemory(stream, &data, &length), 0);
    return std::string(reinterpret_cast<const char*>(data), length);
}

TEST_F(StreamTest, MemoryStreamCollectsEveryWrite) {
    const uint32_t stream = KRM_StreamCreateMemory();
    ASSERT_NE(stream, 0u);
    EXPECT_EQ(memoryOf(stream), "");
    EXPECT_EQ(KRM_WriteStream(stream, 5, "line\n"), 5);
    EXPECT_EQ(KRM_WriteStream(stream, 0, nullptr), 0);
    EXPECT_EQ(KRM_WriteStream(stream, 4, "\x82\xA0\r\n"), 4);
    EXPECT_EQ(memoryOf(stream), "line\n\x82\xA0\r\n");
    KRM_StreamRelease(stream);
}

TEST_F(StreamTest, DescriptorStreamWritesThroughAndLeavesTheDescriptorOpen) {
    const auto path = dir / "out.txt";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    const uint32_t stream = KRM_StreamCreateFd(fd);
    ASSERT_NE(stream, 0u);
    const host_test::Bytes large = host_test::patternBytes(200000, 5);
    EXPECT_EQ(KRM_WriteStream(stream, 6, "first\n"), 6);
    EXPECT_EQ(KRM_WriteStream(stream, static_cast<uint32_t>(large.size()), large.data()), static_cast<int32_t>(large.size()));
    const uint8_t* data = nullptr;
    size_t length = 0;
    EXPECT_EQ(KRM_StreamGetMemory(stream, &data, &length), -1) << "no memory behind a descriptor stream";
    KRM_StreamRelease(stream);
    EXPECT_EQ(::write(fd, "!", 1), 1) << "the descriptor still belongs to the application";
    ::close(fd);
    EXPECT_EQ(oasys_test::readFile(path), oasys_test::concat({bytes("first\n"), large, bytes("!")}));
}

TEST_F(StreamTest, FailuresGiveMinusOne) {
    const uint32_t memory = KRM_StreamCreateMemory();
    EXPECT_EQ(KRM_WriteStream(memory, 3, nullptr), -1) << "no buffer";
    EXPECT_EQ(KRM_WriteStream(memory, 0x80000000u, "x"), -1) << "a count that reads as negative";
    EXPECT_EQ(KRM_WriteStream(0, 1, "x"), -1);
    EXPECT_EQ(memoryOf(memory), "");
    const uint8_t* data = nullptr;
    size_t length = 0;
    EXPECT_EQ(KRM_StreamGetMemory(memory, nullptr, &length), -1);
    EXPECT_EQ(KRM_StreamGetMemory(memory, &data, nullptr), -1);
    EXPECT_EQ(KRM_StreamGetMemory(0, &data, &length), -1);
    KRM_StreamRelease(memory);
    EXPECT_EQ(KRM_WriteStream(memory, 1, "x"), -1) << "released";
    KRM_StreamRelease(memory); // a second release is harmless
    EXPECT_EQ(KRM_StreamCreateFd(-1), 0u);
    if (std::filesystem::exists("/dev/full")) {
        const int fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        const uint32_t full = KRM_StreamCreateFd(fd);
        EXPECT_EQ(KRM_WriteStream(full, 1, "x"), -1);
        KRM_StreamRelease(full);
        ::close(fd);
    }
}

} // namespace
