// Byte order, the PPT_ word readers and writers, and the routing of KRM_fSeek/KRM_fRead/GetDocSize
// to the host's plain-file or compound-stream services.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "oasys_writer.h"
#include "test_util.h"

using namespace oasys_test;

namespace {

constexpr int32_t kTrueFlag = std::endian::native == std::endian::big ? 1 : 0;
constexpr int32_t kWrongFlag = 1 - kTrueFlag;

TEST(ByteOrder, IsCPUBigEndianAnswersTheProcessorsOrder) {
    EXPECT_EQ(IsCPUBigEndian(), kTrueFlag);
}

// ---- Flag rule ------------------------------------------------------------------------------------
// B functions keep the stored byte order when the flag is non-zero, L functions when it is 0;
// otherwise the bytes are reversed. "Stored order" is the bytes copied as they lie in memory.

enum class Family { B, L };

struct FlagRuleCase {
    Family family;
    int32_t flag;
    bool storedOrder;
};

constexpr FlagRuleCase kFlagRuleCases[] = {
    {Family::B, 1, true},  {Family::B, 0, false}, {Family::B, 2, true},  {Family::B, -1, true},
    {Family::L, 0, true},  {Family::L, 1, false}, {Family::L, 2, false}, {Family::L, -1, false},
};

template <typename Word>
Word storedOrderWord(const uint8_t* bytes) {
    Word word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

template <typename Word>
Word reversedWord(const uint8_t* bytes) {
    std::array<uint8_t, sizeof(Word)> reversed{};
    std::reverse_copy(bytes, bytes + sizeof(Word), reversed.begin());
    return storedOrderWord<Word>(reversed.data());
}

TEST(WordFunctions, ReadersFollowTheFlagRule) {
    const uint8_t source[4] = {0xF1, 0x10, 0x80, 0x02};
    for (const FlagRuleCase& c : kFlagRuleCases) {
        SCOPED_TRACE(testing::Message() << (c.family == Family::B ? "B" : "L") << " flag " << c.flag);
        const uint16_t word = c.family == Family::B ? PPT_GetWordB(source, c.flag) : PPT_GetWordL(source, c.flag);
        const uint32_t dword = c.family == Family::B ? PPT_GetDWordB(source, c.flag) : PPT_GetDWordL(source, c.flag);
        EXPECT_EQ(word, c.storedOrder ? storedOrderWord<uint16_t>(source) : reversedWord<uint16_t>(source));
        EXPECT_EQ(dword, c.storedOrder ? storedOrderWord<uint32_t>(source) : reversedWord<uint32_t>(source));
    }
}

// A writer stores all of its bytes, in the order the flag gives, and nothing around them.
TEST(WordFunctions, WritersFollowTheFlagRuleAndStayInsideTheirBytes) {
    constexpr uint8_t kGuard = 0xAA;
    constexpr size_t kAt = 2;
    for (const FlagRuleCase& c : kFlagRuleCases) {
        SCOPED_TRACE(testing::Message() << (c.family == Family::B ? "B" : "L") << " flag " << c.flag);
        std::array<uint8_t, 10> wordBuffer{};
        std::array<uint8_t, 10> dwordBuffer{};
        wordBuffer.fill(kGuard);
        dwordBuffer.fill(kGuard);
        // Zero bytes among the others show that every byte is written.
        constexpr uint16_t kWord = 0x00FF;
        constexpr uint32_t kDWord = 0x00FF0100;
        if (c.family == Family::B) {
            PPT_PutWordB(wordBuffer.data() + kAt, kWord, c.flag);
            PPT_PutDWordB(dwordBuffer.data() + kAt, kDWord, c.flag);
        } else {
            PPT_PutWordL(wordBuffer.data() + kAt, kWord, c.flag);
            PPT_PutDWordL(dwordBuffer.data() + kAt, kDWord, c.flag);
        }
        const auto expectWritten = [&](const auto& buffer, const auto value) {
            std::array<uint8_t, sizeof value> expected{};
            std::memcpy(expected.data(), &value, sizeof value);
            if (!c.storedOrder) {
                std::reverse(expected.begin(), expected.end());
            }
            for (size_t i = 0; i < buffer.size(); ++i) {
                const bool inside = i >= kAt && i < kAt + sizeof value;
                EXPECT_EQ(buffer[i], inside ? expected[i - kAt] : kGuard) << sizeof value << "-byte word, byte " << i;
            }
        };
        expectWritten(wordBuffer, kWord);
        expectWritten(dwordBuffer, kDWord);
    }
}

// With the processor's true flag the results do not depend on the processor.
TEST(WordFunctions, TrueFlagReadsBigAndLittleEndianData) {
    const uint8_t word[2] = {0x12, 0x34};
    const uint8_t identifier[4] = {0xF1, 0x10, 0x80, 0x00};
    EXPECT_EQ(PPT_GetWordB(word, kTrueFlag), 0x1234);
    EXPECT_EQ(PPT_GetWordL(word, kTrueFlag), 0x3412);
    EXPECT_EQ(PPT_GetDWordB(identifier, kTrueFlag), 0xF1108000u);
    EXPECT_EQ(PPT_GetDWordL(identifier, kTrueFlag), 0x008010F1u);
    // The high byte of a word above 0x7FFF stays unsigned.
    const uint8_t high[4] = {0xFF, 0xFE, 0xFD, 0xFC};
    EXPECT_EQ(PPT_GetWordB(high, kTrueFlag), 0xFFFE);
    EXPECT_EQ(PPT_GetDWordB(high, kTrueFlag), 0xFFFEFDFCu);
}

TEST(WordFunctions, TrueFlagWritesBigAndLittleEndianData) {
    struct Case {
        void (*put)(uint8_t*, uint32_t, int32_t);
        size_t width;
        uint32_t value;
        std::array<uint8_t, 4> expected;
    };
    const Case cases[] = {
        {[](uint8_t* b, uint32_t v, int32_t f) { PPT_PutWordB(b, static_cast<uint16_t>(v), f); }, 2, 0x1234,
         {0x12, 0x34}},
        {[](uint8_t* b, uint32_t v, int32_t f) { PPT_PutWordL(b, static_cast<uint16_t>(v), f); }, 2, 0x1234,
         {0x34, 0x12}},
        {[](uint8_t* b, uint32_t v, int32_t f) { PPT_PutDWordB(b, v, f); }, 4, 0xF1108000, {0xF1, 0x10, 0x80, 0x00}},
        {[](uint8_t* b, uint32_t v, int32_t f) { PPT_PutDWordL(b, v, f); }, 4, 0xF1108000, {0x00, 0x80, 0x10, 0xF1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "width " << c.width << " value " << std::hex << c.value);
        std::array<uint8_t, 4> buffer{0xAA, 0xAA, 0xAA, 0xAA};
        c.put(buffer.data(), c.value, kTrueFlag);
        EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + c.width, c.expected.begin()));
        // The mismatching flag stores the swapped word.
        std::array<uint8_t, 4> swapped{0xAA, 0xAA, 0xAA, 0xAA};
        c.put(swapped.data(), c.value, kWrongFlag);
        EXPECT_TRUE(std::equal(swapped.begin(), swapped.begin() + c.width, c.expected.rbegin() + (4 - c.width)));
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

TEST_F(SourceAccess, PlainFileReadCountsElementsOfTheGivenSize) {
    writeFile(dir / "plain.bin", bytes("\x12\x34\x56"));
    const uint32_t file = KRM_FileOpen((dir / "plain.bin").c_str(), "rb");
    ASSERT_NE(file, 0u);
    uint8_t buffer[4] = {};
    EXPECT_EQ(KRM_fSeek(file, 0, kFromStart, kPlainFile), 0u);
    EXPECT_EQ(KRM_fRead(buffer, 2, 1, file, kPlainFile), 1u);
    EXPECT_EQ(buffer[0], 0x12);
    EXPECT_EQ(buffer[1], 0x34);
    // Seek to an explicit offset, then one byte.
    KRM_fSeek(file, 2, kFromStart, kPlainFile);
    EXPECT_EQ(KRM_fRead(buffer, 1, 1, file, kPlainFile), 1u);
    EXPECT_EQ(buffer[0], 0x56);
    // A two-byte element that would pass the end is not counted.
    KRM_fSeek(file, 2, kFromStart, kPlainFile);
    EXPECT_EQ(KRM_fRead(buffer, 2, 1, file, kPlainFile), 0u);
    // From the end.
    KRM_fSeek(file, 0, kFromEnd, kPlainFile);
    EXPECT_EQ(KRM_FileTell(file), 3u);
    EXPECT_EQ(KRM_FileClose(file), 0);
}

// The plain-file read is not bound by the stream's 16-bit byte count: 256 elements of 256 bytes.
TEST_F(SourceAccess, PlainFileReadOfSixtyFourKilobytesIsNotCut) {
    Bytes content(65536 + 16, 0x41);
    writeFile(dir / "large.bin", content);
    const uint32_t file = KRM_FileOpen((dir / "large.bin").c_str(), "rb");
    ASSERT_NE(file, 0u);
    std::vector<uint8_t> buffer(65536);
    KRM_fSeek(file, 0, kFromStart, kPlainFile);
    EXPECT_EQ(KRM_fRead(buffer.data(), 256, 256, file, kPlainFile), 256u);
    EXPECT_EQ(buffer.back(), 0x41);
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
    struct Case {
        const char* name;
        Bytes content;
    };
    const Case cases[] = {{"empty.bin", {}}, {"three.bin", bytes("abc")}, {"one.bin", bytes("\x1A")}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(dir / c.name, c.content);
        const uint32_t file = KRM_FileOpen((dir / c.name).c_str(), "rb");
        ASSERT_NE(file, 0u);
        EXPECT_EQ(GetDocSize(file), c.content.size());
        EXPECT_EQ(KRM_FileTell(file), c.content.size());
        EXPECT_EQ(KRM_FileClose(file), 0);
    }
}

} // namespace
