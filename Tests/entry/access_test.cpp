// Byte order and the PPT_ word readers and writers.
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

// B functions read and write big-endian data, L functions little-endian data, as long as the flag
// tells the processor's order truly; with the other flag they swap. Only 0 counts as "little":
// any non-zero flag is "big".
struct WordCase {
    const char* name; bool bigFamily; int32_t flag; bool swapped; // against the family's own order
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
    EXPECT_EQ(IsCPUBigEndian(), kTrueFlag);
    for (const WordCase& c : kWordCases) {
        SCOPED_TRACE(c.name);
        const bool bigEndian = c.bigFamily != c.swapped;
        const uint16_t word = bigEndian ? 0xF100 : 0x00F1;
        const uint32_t dword = bigEndian ? 0xF10080FCu : 0xFC8000F1u;
        EXPECT_EQ(c.bigFamily ? PPT_GetWordB(kData.data(), c.flag) : PPT_GetWordL(kData.data(), c.flag), word);
        EXPECT_EQ(c.bigFamily ? PPT_GetDWordB(kData.data(), c.flag) : PPT_GetDWordL(kData.data(), c.flag), dword);

        std::array<uint8_t, 8> wordBuffer{kGuard, kGuard, kGuard, kGuard, kGuard, kGuard, kGuard, kGuard};
        std::array<uint8_t, 8> dwordBuffer = wordBuffer;
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

} // namespace
