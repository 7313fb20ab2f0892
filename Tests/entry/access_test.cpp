// Byte order, the PPT_ word readers and writers, and the routing of KRM_fSeek/KRM_fRead/GetDocSize
// to the host's plain-file or compound-stream services.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <vector>

#include "filter_harness.h"

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

class SourceAccess : public HostCheckedTest {
protected:
    TempDir dir;
};

// A plain-file read counts whole elements and is not bound by the 16-bit byte count of a stream
// read; a stream read asks for size times count bytes cut to 16 bits (256 x 256 is nothing) and
// any non-zero access mode is a stream. A seek answers the new position; GetDocSize is the file
// length and leaves the position at the end.
TEST_F(SourceAccess, ReadsSeeksAndSizesOfFilesAndStreams) {
    Bytes content(65536 + 3, 0x41);
    content[65536] = 0x12;
    content[65537] = 0x34;
    std::vector<uint8_t> buffer(65536, 0xEE);
    {
        const OpenSource file(dir / "plain.bin", content);
        EXPECT_EQ(KRM_fRead(buffer.data(), 256, 256, file.handle(), 0), 256u);
        EXPECT_EQ(buffer.back(), 0x41);
        EXPECT_EQ(KRM_fRead(buffer.data(), 2, 1, file.handle(), 0), 1u);
        EXPECT_EQ(buffer[1], 0x34);
        EXPECT_EQ(KRM_fRead(buffer.data(), 2, 1, file.handle(), 0), 0u) << "an element past the end is not counted";
        EXPECT_EQ(KRM_fSeek(file.handle(), 0, 0, 0), 0u);
        EXPECT_EQ(GetDocSize(file.handle()), content.size());
        EXPECT_EQ(KRM_FileTell(file.handle()), content.size());
    }
    const OpenSource stream(dir / "store.ole", bytes("\x12\x34\x56\x78"), true);
    EXPECT_EQ(KRM_fSeek(stream.handle(), 0, 2, 1), 4u);
    EXPECT_EQ(KRM_fSeek(stream.handle(), 1, 0, 1), 1u);
    EXPECT_EQ(KRM_fRead(buffer.data(), 2, 1, stream.handle(), 1), 2u);
    EXPECT_EQ(buffer[0] << 8 | buffer[1], 0x3456);
    KRM_fSeek(stream.handle(), 0, 0, 1);
    buffer[0] = 0xEE;
    EXPECT_EQ(KRM_fRead(buffer.data(), 256, 256, stream.handle(), 1), 0u);
    EXPECT_EQ(buffer[0], 0xEE);
    KRM_fSeek(stream.handle(), 0, 0, 7);
    EXPECT_EQ(KRM_fRead(buffer.data(), 1, 4, stream.handle(), 7), 4u);
    EXPECT_EQ(buffer[3], 0x78);
    const OpenSource empty(dir / "empty.bin", {});
    EXPECT_EQ(GetDocSize(empty.handle()), 0u);
}

} // namespace
