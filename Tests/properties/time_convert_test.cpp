// Packed OASYS date-times to Shift-JIS text.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

#include "krm_zori2.h"

namespace {

TEST(TimeConvert, WritesTwentyBytesAndAddsTwenty) {
    // 年 94 4E, 月 8C 8E, 日 93 FA, 時 8E 9E, 分 95 AA
    const struct {
        const char* name;
        std::array<uint8_t, 5> packed;
        int32_t lengthBefore;
        std::string expected;
    } cases[] = {
        {"last minute of 1998", {0x98, 0x12, 0x31, 0x23, 0x59}, 0,
         "98\x94\x4E" "12\x8C\x8E" "31\x93\xFA" "23\x8E\x9E" "59\x95\xAA"},
        {"all zero", {0, 0, 0, 0, 0}, 0, "00\x94\x4E" "00\x8C\x8E" "00\x93\xFA" "00\x8E\x9E" "00\x95\xAA"},
        // Digits are not validated: nibble 0xA becomes ':' (0x30 + 10), 0xF becomes '?'.
        {"nibble above nine", {0x07, 0x13, 0x01, 0xF0, 0xA5}, 0,
         "07\x94\x4E" "13\x8C\x8E" "01\x93\xFA" "?0\x8E\x9E" ":5\x95\xAA"},
        // The length grows by 20 from whatever it was; the text still starts at the buffer's start.
        {"length not zero on entry", {0x24, 0x06, 0x15, 0x09, 0x30}, 7,
         "24\x94\x4E" "06\x8C\x8E" "15\x93\xFA" "09\x8E\x9E" "30\x95\xAA"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::array<uint8_t, 32> output;
        output.fill(0xEE);
        int32_t length = c.lengthBefore;
        TimeConvert(c.packed.data(), output.data(), &length);
        EXPECT_EQ(std::string(output.begin(), output.begin() + 20), c.expected);
        EXPECT_EQ(length, c.lengthBefore + 20);
        EXPECT_EQ(output[20], 0xEE) << "no terminator or other byte after the text";
    }
}

} // namespace
