// Byte order and the PPT_ word readers and writers.
#include <gtest/gtest.h>

#include <array>
#include <bit>

#include "filter_harness.h"

using namespace oasys_test;

namespace {

// The flag that names the processor's own byte order, and the other one.
constexpr int32_t kTrueFlag = std::endian::native == std::endian::big ? 1 : 0;
constexpr int32_t kWrongFlag = 1 - kTrueFlag;

// B functions read and write big-endian data, L functions little-endian data, as long as the flag
// tells the processor's order truly; with the other flag they swap. Only 0 counts as "little": any
// non-zero flag is "big". The high bytes stay unsigned; a zero byte shows that every byte is written.
TEST(WordFunctions, ReadAndWriteInTheOrderTheFlagGivesAndStayInsideTheirBytes) {
    constexpr std::array<uint8_t, 4> kData = {0xF1, 0x00, 0x80, 0xFC};
    constexpr uint8_t kGuard = 0xAA;
    EXPECT_EQ(IsCPUBigEndian(), kTrueFlag);
    const struct { bool bigFamily; int32_t flag; bool swapped; } cases[] = { // swapped: against the family's order
        {true, kTrueFlag, false}, {true, kWrongFlag, true}, {false, kTrueFlag, false}, {false, kWrongFlag, true},
        {true, 2, kTrueFlag != 1}, {false, -1, kTrueFlag != 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.bigFamily ? "B, flag " : "L, flag ") << c.flag);
        const bool bigEndian = c.bigFamily != c.swapped;
        const uint16_t word = bigEndian ? 0xF100 : 0x00F1;
        const uint32_t dword = bigEndian ? 0xF10080FCu : 0xFC8000F1u;
        EXPECT_EQ((c.bigFamily ? PPT_GetWordB : PPT_GetWordL)(kData.data(), c.flag), word);
        EXPECT_EQ((c.bigFamily ? PPT_GetDWordB : PPT_GetDWordL)(kData.data(), c.flag), dword);
        std::array<uint8_t, 8> words, dwords;
        words.fill(kGuard);
        dwords.fill(kGuard);
        (c.bigFamily ? PPT_PutWordB : PPT_PutWordL)(words.data() + 2, word, c.flag);
        (c.bigFamily ? PPT_PutDWordB : PPT_PutDWordL)(dwords.data() + 2, dword, c.flag);
        EXPECT_EQ(words, (std::array<uint8_t, 8>{kGuard, kGuard, 0xF1, 0x00, kGuard, kGuard, kGuard, kGuard}));
        EXPECT_EQ(dwords, (std::array<uint8_t, 8>{kGuard, kGuard, 0xF1, 0x00, 0x80, 0xFC, kGuard, kGuard}));
    }
}

} // namespace
