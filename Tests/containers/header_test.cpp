// Identifier test, password flag and block-run size of OASYS files.
#include <gtest/gtest.h>

#include "container_support.h"

namespace oasys_test {
namespace {

using HeaderTest = ContainerTest;

// ---- IsCorrectID --------------------------------------------------------------------------------

struct IdCase {
    const char* what;
    Bytes content;
    uint32_t start;
    int32_t width;
    uint32_t expected;
    uint32_t result;
    uint32_t endPosition;
};

TEST_F(HeaderTest, IsCorrectIdMatchesAndStepsOverOnlyWholeIdentifiers) {
    const IdCase cases[] = {
        {"word match", {0xF1, 0x11, 0x00}, 0, 2, 0xF111, 1, 2},
        {"byte order is big-endian", {0x11, 0xF1}, 0, 2, 0xF111, 0, 0},
        {"width 3 is never a match", {0xF1, 0x11, 0x80, 0x00}, 0, 3, 0xF11180, 0, 0},
        {"negative width", {0xF1, 0x11}, 0, -2, 0xF111, 0, 0},
        {"byte match", {0x00, 0x1A}, 1, 1, 0x1A, 1, 2},
        {"dword match at an offset", {0x00, 0x00, 0xF1, 0x10, 0x80, 0x00}, 2, 4, 0xF1108000, 1, 6},
        {"dword mismatch in the last byte", {0xF1, 0x10, 0x80, 0x01}, 0, 4, 0xF1108000, 0, 0},
        // A read past the end must not be taken for zero bytes that happen to match.
        {"dword cut by the end of the file", {0xF0, 0x00, 0x00}, 0, 4, 0xF0000000, 0, 0},
        {"word cut by the end of the file", {0x00, 0xF0}, 1, 2, 0xF000, 0, 1},
    };
    const uint32_t order = static_cast<uint32_t>(IsCPUBigEndian());
    for (const IdCase& c : cases) {
        SCOPED_TRACE(c.what);
        withFile(c.content, [&](uint32_t file) {
            uint32_t position = c.start;
            EXPECT_EQ(IsCorrectID(file, &position, c.width, c.expected, order), c.result);
            EXPECT_EQ(position, c.endPosition);
        });
    }
}

// ---- havePassword -------------------------------------------------------------------------------

// The password flag is bit 3 of the big-endian word at 564 of the format block, in a plain file
// (at its base offset) as in a compound stream. A block too short to hold the word has no flag: its
// bytes are 0xFF so that a reader taking a cut word from a stale or half-filled buffer is caught.
TEST_F(HeaderTest, PasswordFlagOfPlainFilesAndStreams) {
    const struct {
        const char* what;
        Bytes block;
        uint32_t protectedAnswer;
    } cases[] = {
        {"0x0008", formatBlock(0x0008), 1}, {"0x0018", formatBlock(0x0018), 1}, {"0xFFF7", formatBlock(0xFFF7), 0},
        {"0x0000", formatBlock(0x0000), 0}, {"0x0800", formatBlock(0x0800), 0}, {"100 bytes", Bytes(100, 0xFF), 0},
        {"565 bytes", Bytes(565, 0xFF), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const uint32_t base : {0u, 7u}) {
            withFile(concat({Bytes(base, 0x08), c.block}),
                     [&](uint32_t file) { EXPECT_EQ(havePassword(file, base, 0), c.protectedAnswer) << base; });
        }
        withStream(c.block, [&](uint32_t stream) { EXPECT_EQ(havePassword(stream, 0, 1), c.protectedAnswer); });
    }
}

// ---- GetVe2Size ---------------------------------------------------------------------------------

// A file whose first block has `first` data bytes (base 4) followed by `tail`.
Bytes runFile(uint16_t first, const Bytes& tail) { return concat({blockHeader(first), Bytes(first, 'a'), tail}); }
Bytes block(uint16_t length) { return concat({blockHeader(length), Bytes(length, 'b')}); }
const Bytes kEnd = {0xF0, 0x00, 0x00, 0x00};

// Loop counter 1 counts one pass per block after the first; the guard stops the walk when the
// count passes its limit, without writing the size. With guards off nothing is counted.
TEST_F(HeaderTest, Ve2SizeMeasuresTheRunOfBlocksFromItsFirstData) {
    constexpr uint32_t kLimit = KRM_LOOP_GUARD_LIMIT;
    const auto emptyBlocks = [](uint32_t n) { return concat({repeated(blockHeader(0), n), kEnd}); };
    const struct {
        const char* what;
        Bytes content;
        uint32_t firstLength;
        uint32_t size;
        uint32_t flags = kLogAndGuards;
        int32_t code = KRM_OK;
        int32_t counter = -1;  // -1: not looked at
    } cases[] = {
        {"three blocks then the end", runFile(10, concat({block(20), block(30), kEnd})), 10, 10 + 24 + 34},
        {"a single block then text", runFile(100, bytes("ABCD")), 100, 100},
        {"F0 05 is no block", runFile(10, concat({{0xF0, 0x05, 0x00, 0x02}, kEnd})), 10, 10},
        {"empty blocks count their headers", runFile(0, concat({block(0), block(0), kEnd})), 0, 8},
        {"a run that ends with the file", runFile(10, block(20)), 10, 34},
        // The end of the file inside the run ends it; the size never reaches past the file.
        {"a length word cut short", runFile(10, {0xF0, 0x04, 0x00}), 10, 10},
        {"a last block cut short", runFile(10, concat({blockHeader(20), Bytes(5, 'c')})), 10, 10 + 4 + 5},
        {"a first block cut short", concat({blockHeader(50), Bytes(8, 'a')}), 50, 8},
        {"blocks up to the guard", emptyBlocks(kLimit + 1), 0, 4 * kLimit, KRM_OPT_LOOP_GUARD, KRM_OK, kLimit},
        {"one block past the guard", emptyBlocks(kLimit + 2), 0, 0, KRM_OPT_LOOP_GUARD, KRM_ERR_LOOP_GUARD,
         kLimit + 1},
        {"guards off", emptyBlocks(kLimit + 2), 0, 4 * (kLimit + 1), 0, KRM_OK, 77},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        withFile(c.content, [&](uint32_t file) {
            HostOptions options = makeOptions("UTF-8", c.flags);
            CallContext context{};
            context.loopCounter1 = 77;
            uint32_t size = c.firstLength;
            EXPECT_EQ(GetVe2Size(file, 4, &size, &options, &context), c.code);
            EXPECT_EQ(size, c.size);
            if (c.counter != -1) {
                EXPECT_EQ(context.loopCounter1, c.counter);
            }
        });
    }
}

}  // namespace
}  // namespace oasys_test
