// Identifier test, password flag and block-run size of OASYS files.
#include <gtest/gtest.h>

#include "container_support.h"

namespace oasys_test {
namespace {

class HeaderTest : public ContainerTest {
protected:
    // Opens a plain file with these bytes; closed by the fixture.
    uint32_t openFile(const Bytes& content, const std::string& name = "file.bin") {
        const auto path = dir / name;
        writeFile(path, content);
        file_ = KRM_FileOpen(path.c_str(), "rb");
        EXPECT_NE(file_, 0u);
        return file_;
    }
    void TearDown() override {
        if (file_ != 0) {
            EXPECT_EQ(KRM_FileClose(file_), 0);
        }
        ContainerTest::TearDown();
    }
    uint32_t file_ = 0;
};

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
        {"word mismatch", {0xF1, 0x12, 0x00}, 0, 2, 0xF111, 0, 0},
        {"byte order is big-endian", {0x11, 0xF1}, 0, 2, 0xF111, 0, 0},
        {"width 3 is never a match", {0xF1, 0x11, 0x80, 0x00}, 0, 3, 0xF11180, 0, 0},
        {"width 0", {0xF1, 0x11}, 0, 0, 0, 0, 0},
        {"negative width", {0xF1, 0x11}, 0, -2, 0xF111, 0, 0},
        {"byte match", {0x00, 0x1A}, 1, 1, 0x1A, 1, 2},
        {"byte mismatch", {0x00, 0x1B}, 1, 1, 0x1A, 0, 1},
        {"dword match at an offset", {0x00, 0x00, 0xF1, 0x10, 0x80, 0x00}, 2, 4, 0xF1108000, 1, 6},
        {"dword mismatch in the last byte", {0xF1, 0x10, 0x80, 0x01}, 0, 4, 0xF1108000, 0, 0},
        // A read past the end must not be taken for zero bytes that happen to match.
        {"dword cut by the end of the file", {0xF0, 0x00, 0x00}, 0, 4, 0xF0000000, 0, 0},
        {"word cut by the end of the file", {0x00, 0xF0}, 1, 2, 0xF000, 0, 1},
        {"byte beyond the end of the file", {0x00}, 1, 1, 0x00, 0, 1},
        {"dword far beyond the end", {0x00}, 100, 4, 0x00000000, 0, 100},
    };
    const uint32_t order = static_cast<uint32_t>(IsCPUBigEndian());
    for (const IdCase& c : cases) {
        SCOPED_TRACE(c.what);
        const uint32_t file = KRM_FileOpen((dir / "id.bin").c_str(), "wb");
        ASSERT_NE(file, 0u);
        ASSERT_EQ(KRM_FileWrite(c.content.data(), 1, static_cast<uint32_t>(c.content.size()), file),
                  c.content.size());
        ASSERT_EQ(KRM_FileClose(file), 0);
        const uint32_t in = KRM_FileOpen((dir / "id.bin").c_str(), "rb");
        uint32_t position = c.start;
        EXPECT_EQ(IsCorrectID(in, &position, c.width, c.expected, order), c.result);
        EXPECT_EQ(position, c.endPosition);
        EXPECT_EQ(KRM_FileClose(in), 0);
    }
}

// ---- havePassword -------------------------------------------------------------------------------

struct FlagCase {
    uint16_t flagWord;
    uint32_t protectedAnswer;
};
constexpr FlagCase kFlagCases[] = {{0x0008, 1}, {0x0018, 1}, {0xFFFF, 1}, {0xFFF7, 0}, {0x0000, 0}, {0x0800, 0}};

TEST_F(HeaderTest, PasswordFlagIsBit3OfTheBigEndianWordAt564OfAPlainFile) {
    for (const FlagCase& c : kFlagCases) {
        SCOPED_TRACE(c.flagWord);
        for (const uint32_t base : {0u, 7u}) {
            const Bytes junk(base, 0x08);
            const uint32_t file = openFile(concat({junk, formatBlock(c.flagWord)}), "fmt" + std::to_string(base));
            EXPECT_EQ(havePassword(file, base, 0), c.protectedAnswer) << "base " << base;
            EXPECT_EQ(KRM_FileClose(file), 0);
            file_ = 0;
        }
    }
}

TEST_F(HeaderTest, PasswordFlagOfACompoundStream) {
    for (const FlagCase& c : kFlagCases) {
        SCOPED_TRACE(c.flagWord);
        const uint32_t storage = KRM_2OLEopen(compoundFile({{"DOC1.FMT", formatBlock(c.flagWord)}}).c_str());
        ASSERT_NE(storage, 0u);
        const uint32_t stream = KRM_2OLEopenStream(storage, "DOC1.FMT");
        ASSERT_NE(stream, 0u);
        EXPECT_EQ(havePassword(stream, 0, 1), c.protectedAnswer);
        KRM_2OLEcloseStream(stream);
        KRM_2OLEclose(storage);
    }
}

// A format block that ends before its flag word has no password flag. The first byte of the word
// is set so that a reader that takes a cut word from an unzeroed or half-filled buffer is caught.
TEST_F(HeaderTest, FormatBlockTooShortForTheFlagWordIsNotProtected) {
    for (const size_t size : {0u, 100u, 564u, 565u}) {
        SCOPED_TRACE(size);
        Bytes block(size, 0xFF);
        const uint32_t file = openFile(block, "short" + std::to_string(size));
        EXPECT_EQ(havePassword(file, 0, 0), 0u);
        EXPECT_EQ(KRM_FileClose(file), 0);
        file_ = 0;

        const uint32_t storage = KRM_2OLEopen(compoundFile({{"S.FMT", block}}).c_str());
        const uint32_t stream = KRM_2OLEopenStream(storage, "S.FMT");
        ASSERT_NE(stream, 0u);
        EXPECT_EQ(havePassword(stream, 0, 1), 0u);
        KRM_2OLEcloseStream(stream);
        KRM_2OLEclose(storage);
    }
}

// ---- GetVe2Size ---------------------------------------------------------------------------------

// A file whose first block has `first` data bytes (base 4) followed by `tail`.
Bytes runFile(uint16_t first, const Bytes& tail) { return concat({blockHeader(first), Bytes(first, 'a'), tail}); }
Bytes block(uint16_t length) { return concat({blockHeader(length), Bytes(length, 'b')}); }
const Bytes kEnd = {0xF0, 0x00, 0x00, 0x00};

struct RunCase {
    const char* what;
    Bytes content;
    uint32_t firstLength;
    uint32_t size;
};

TEST_F(HeaderTest, Ve2SizeMeasuresTheRunOfBlocksFromItsFirstData) {
    const RunCase cases[] = {
        {"three blocks then the end", runFile(10, concat({block(20), block(30), kEnd})), 10, 10 + 24 + 34},
        {"a single block then something else", runFile(100, kEnd), 100, 100},
        {"a single block then text", runFile(100, bytes("ABCD")), 100, 100},
        {"F0 05 is no block", runFile(10, concat({{0xF0, 0x05, 0x00, 0x02}, kEnd})), 10, 10},
        {"F1 04 is no block", runFile(10, concat({{0xF1, 0x04, 0x80, 0x00}, kEnd})), 10, 10},
        {"empty blocks count their headers", runFile(0, concat({block(0), block(0), kEnd})), 0, 8},
        {"a run that ends with the file", runFile(10, block(20)), 10, 34},
        // The end of the file inside the run ends it; the size never reaches past the file.
        {"half a marker at the end", runFile(10, {0xF0}), 10, 10},
        {"a length word cut short", runFile(10, {0xF0, 0x04, 0x00}), 10, 10},
        {"a last block cut short", runFile(10, concat({blockHeader(20), Bytes(5, 'c')})), 10, 10 + 4 + 5},
        {"a first block cut short", concat({blockHeader(50), Bytes(8, 'a')}), 50, 8},
    };
    for (const RunCase& c : cases) {
        SCOPED_TRACE(c.what);
        for (const uint32_t flags : {kLogOnly, kLogAndGuards}) {
            const uint32_t file = openFile(c.content, "run.bin");
            HostOptions options = makeOptions("UTF-8", flags);
            CallContext context{};
            uint32_t size = c.firstLength;
            EXPECT_EQ(GetVe2Size(file, 4, &size, &options, &context), KRM_OK);
            EXPECT_EQ(size, c.size);
            EXPECT_EQ(KRM_FileClose(file), 0);
            file_ = 0;
        }
    }
}

TEST_F(HeaderTest, Ve2SizeLogsItsLoopByNumber) {
    const uint32_t file = openFile(runFile(10, concat({block(20), kEnd})));
    const auto logPath = dir / "ve2.log";
    HostOptions options = makeOptions("UTF-8", kLogOnly);
    CallContext context{};
    context.logHandle = krm_logfopen(kLogOnly, logPath.c_str());
    uint32_t size = 10;
    EXPECT_EQ(GetVe2Size(file, 4, &size, &options, &context), KRM_OK);
    krm_logfclose(kLogOnly, context.logHandle);
    EXPECT_EQ(readLogLines(logPath), (std::vector<std::string>{"LOOP(while.) 1 in GetVe2Size() starting\r\n",
                                                                "LOOP(while.) 1 in GetVe2Size() end\r\n"}));
}

// Loop counter 1 counts one pass per block after the first; the guard stops the walk when the
// count passes 524288, without writing the size.
TEST_F(HeaderTest, Ve2SizeLoopGuard) {
    struct GuardCase {
        uint32_t blocksAfterFirst;
        uint32_t flags;
        int32_t code;
        int32_t counter;
    };
    const GuardCase cases[] = {
        {KRM_LOOP_GUARD_LIMIT, kLogAndGuards, KRM_OK, static_cast<int32_t>(KRM_LOOP_GUARD_LIMIT)},
        {KRM_LOOP_GUARD_LIMIT + 1, kLogAndGuards, KRM_ERR_LOOP_GUARD, static_cast<int32_t>(KRM_LOOP_GUARD_LIMIT + 1)},
        {KRM_LOOP_GUARD_LIMIT + 1, kLogOnly, KRM_OK, 77},  // guards off: nothing counted
    };
    for (const GuardCase& c : cases) {
        SCOPED_TRACE(c.blocksAfterFirst);
        Bytes content = blockHeader(0);
        for (uint32_t i = 0; i < c.blocksAfterFirst; ++i) {
            const Bytes header = blockHeader(0);
            content.insert(content.end(), header.begin(), header.end());
        }
        content.insert(content.end(), kEnd.begin(), kEnd.end());
        const uint32_t file = openFile(content, "guard.bin");
        HostOptions options = makeOptions("UTF-8", c.flags & ~KRM_OPT_LOG);
        CallContext context{};
        context.loopCounter1 = 77;
        uint32_t size = 0;  // the first block's length; left as it is when the guard stops the walk
        const int32_t code = GetVe2Size(file, 4, &size, &options, &context);
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(context.loopCounter1, c.counter);
        EXPECT_EQ(size, c.code == KRM_OK ? 4 * c.blocksAfterFirst : 0u);
        EXPECT_EQ(KRM_FileClose(file), 0);
        file_ = 0;
    }
}

}  // namespace
}  // namespace oasys_test
