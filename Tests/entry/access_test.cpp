// Byte order, the PPT_ word readers and writers, and the routing of KRM_fSeek/KRM_fRead/GetDocSize
// to the host's plain-file or compound-stream services.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <vector>

#include "oasys_writer.h"
#include "test_util.h"

using namespace oasys_test;

namespace {

// The flag that names the processor's own byte order, and the other one.
constexpr int32_t kTrueFlag = std::endian::native == std::endian::big ? 1 : 0;
constexpr int32_t kWrongFlag = 1 - kTrueFlag;

TEST(ByteOrder, IsCPUBigEndianAnswersTheProcessorsOrder) { EXPECT_EQ(IsCPUBigEndian(), kTrueFlag); }

// B functions read and write big-endian data, L functions little-endian data, as long as the flag
// tells the processor's order truly; with the other flag they swap. Only 0 counts as "little":
// any non-zero flag is "big".
struct WordCase {
    const char* name;
    bool bigFamily;
    int32_t flag;
    bool swapped; // against the family's own order
};

const WordCase kWordCases[] = {
    {"B, true flag", true, kTrueFlag, false}, {"B, wrong flag", true, kWrongFlag, true},
    {"L, true flag", false, kTrueFlag, false}, {"L, wrong flag", false, kWrongFlag, true},
    // Other non-zero values are the flag 1.
    {"B, flag 2", true, 2, kTrueFlag != 1}, {"L, flag -1", false, -1, kTrueFlag != 1},
};

TEST(WordFunctions, ReadAndWriteInTheOrderTheFlagGivesAndStayInsideTheirBytes) {
    // The high bytes stay unsigned; a zero byte shows that every byte is written.
    constexpr std::array<uint8_t, 4> kData = {0xF1, 0x00, 0x80, 0xFC};
    constexpr uint8_t kGuard = 0xAA;
    for (const WordCase& c : kWordCases) {
        SCOPED_TRACE(c.name);
        const bool bigEndian = c.bigFamily != c.swapped;
        const uint16_t word = bigEndian ? 0xF100 : 0x00F1;
        const uint32_t dword = bigEndian ? 0xF10080FCu : 0xFC8000F1u;
        EXPECT_EQ(c.bigFamily ? PPT_GetWordB(kData.data(), c.flag) : PPT_GetWordL(kData.data(), c.flag), word);
        EXPECT_EQ(c.bigFamily ? PPT_GetDWordB(kData.data(), c.flag) : PPT_GetDWordL(kData.data(), c.flag), dword);

        std::array<uint8_t, 8> wordBuffer{}, dwordBuffer{};
        wordBuffer.fill(kGuard);
        dwordBuffer.fill(kGuard);
        if (c.bigFamily) {
            PPT_PutWordB(wordBuffer.data() + 2, word, c.flag);
            PPT_PutDWordB(dwordBuffer.data() + 2, dword, c.flag);
        } else {
            PPT_PutWordL(wordBuffer.data() + 2, word, c.flag);
            PPT_PutDWordL(dwordBuffer.data() + 2, dword, c.flag);
        }
        EXPECT_EQ(wordBuffer, (std::array<uint8_t, 8>{kGuard, kGuard, 0xF1, 0x00, kGuard, kGuard, kGuard, kGuard}));
        EXPECT_EQ(dwordBuffer, (std::array<uint8_t, 8>{kGuard, kGuard, 0xF1, 0x00, 0x80, 0xFC, kGuard, kGuard}));
    }
}

// ---- Source access --------------------------------------------------------------------------------

constexpr uint32_t kPlainFile = 0;
constexpr uint32_t kStream = 1;
constexpr int16_t kFromStart = 0;
constexpr int16_t kFromEnd = 2;

class SourceAccess : public HostCheckedTest {
protected:
    TempDir dir;
};

// A plain-file read counts whole elements of the given size and is not bound by the 16-bit byte
// count of a stream read.
TEST_F(SourceAccess, PlainFileReadCountsWholeElements) {
    Bytes content(65536 + 3, 0x41);
    content[65536] = 0x12;
    content[65537] = 0x34;
    content[65538] = 0x56;
    writeFile(dir / "plain.bin", content);
    const uint32_t file = KRM_FileOpen((dir / "plain.bin").c_str(), "rb");
    ASSERT_NE(file, 0u);
    std::vector<uint8_t> buffer(65536);
    EXPECT_EQ(KRM_fSeek(file, 0, kFromStart, kPlainFile), 0u);
    EXPECT_EQ(KRM_fRead(buffer.data(), 256, 256, file, kPlainFile), 256u);
    EXPECT_EQ(buffer.back(), 0x41);
    EXPECT_EQ(KRM_fRead(buffer.data(), 2, 1, file, kPlainFile), 1u);
    EXPECT_EQ(buffer[0], 0x12);
    EXPECT_EQ(buffer[1], 0x34);
    // A two-byte element that would pass the end is not counted.
    EXPECT_EQ(KRM_fRead(buffer.data(), 2, 1, file, kPlainFile), 0u);
    KRM_fSeek(file, 0, kFromEnd, kPlainFile);
    EXPECT_EQ(KRM_FileTell(file), content.size());
    EXPECT_EQ(KRM_FileClose(file), 0);
}

TEST_F(SourceAccess, StreamReadAsksForSizeTimesCountBytesCutTo16Bits) {
    writeCompound(dir / "store.ole", {{"Body", bytes("\x12\x34\x56\x78")}});
    const uint32_t storage = KRM_2OLEopen((dir / "store.ole").c_str());
    ASSERT_NE(storage, 0u);
    const uint32_t stream = KRM_2OLEopenStream(storage, "Body");
    ASSERT_NE(stream, 0u);

    // A seek answers the new position; 0 from the end is the stream size.
    EXPECT_EQ(KRM_fSeek(stream, 0, kFromEnd, kStream), 4u);
    EXPECT_EQ(KRM_fSeek(stream, 1, kFromStart, kStream), 1u);
    uint8_t buffer[4] = {};
    EXPECT_EQ(KRM_fRead(buffer, 2, 1, stream, kStream), 2u); // bytes, not elements
    EXPECT_EQ(buffer[0], 0x34);
    EXPECT_EQ(buffer[1], 0x56);

    // 256 x 256 = 65536, which is 0 in 16 bits: the stream is asked for nothing.
    std::vector<uint8_t> large(65536, 0xEE);
    KRM_fSeek(stream, 0, kFromStart, kStream);
    EXPECT_EQ(KRM_fRead(large.data(), 256, 256, stream, kStream), 0u);
    EXPECT_EQ(large[0], 0xEE);

    // Any non-zero access mode is a stream.
    KRM_fSeek(stream, 0, kFromStart, 7);
    EXPECT_EQ(KRM_fRead(buffer, 1, 4, stream, 7), 4u);
    EXPECT_EQ(buffer[3], 0x78);

    KRM_2OLEcloseStream(stream);
    KRM_2OLEclose(storage);
}

TEST_F(SourceAccess, GetDocSizeIsTheFileLengthAndLeavesThePositionAtTheEnd) {
    for (const Bytes& content : {Bytes{}, bytes("abc")}) {
        SCOPED_TRACE(content.size());
        writeFile(dir / "doc.bin", content);
        const uint32_t file = KRM_FileOpen((dir / "doc.bin").c_str(), "rb");
        ASSERT_NE(file, 0u);
        EXPECT_EQ(GetDocSize(file), content.size());
        EXPECT_EQ(KRM_FileTell(file), content.size());
        EXPECT_EQ(KRM_FileClose(file), 0);
    }
}

} // namespace
