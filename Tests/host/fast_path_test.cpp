// The decoder's one- and two-byte reads after a seek, through the filter's source-access wrappers,
// for a plain file and a compound-file stream alike: at the edges of the read-ahead windows, in an
// order that leaves a window and comes back to the byte before it, and at the source's end.
#include <algorithm>

#include "host_test_support.h"
#include "krm_zori2.h"

namespace {

using host_test::Bytes;
using host_test::patternBytes;

constexpr uint32_t kFileWindow = 64u << 10;
constexpr uint32_t kStreamWindow = 256u << 10; // streams above 4 MiB are read in windows
constexpr uint32_t kSize = (4u << 20) + kStreamWindow + 5;
constexpr uint32_t kPlainFile = 0, kCompoundStream = 1;

struct Read { uint32_t offset; uint16_t size, count; };

// What the wrapper returns: whole elements of a file (as fread counts them), bytes of a stream.
uint32_t expectedCount(const Read& r, uint32_t mode) {
    const uint32_t bytes = std::min<uint32_t>(r.size * r.count, kSize - r.offset);
    return mode == kPlainFile ? bytes / r.size : bytes;
}

class FastPathTest : public host_test::HostTest {};

TEST_F(FastPathTest, ShortReadsAtWindowEdgesGiveTheSourcesBytes) {
    const Bytes content = patternBytes(kSize, 9);
    oasys_test::writeFile(dir / "body.bin", content);
    oasys_test::writeCompound(dir / "body.ole", {{"BODY", content}});
    const uint32_t file = KRM_FileOpen((dir / "body.bin").c_str(), "rb");
    const uint32_t storage = KRM_2OLEopen((dir / "body.ole").c_str());
    const uint32_t stream = KRM_2OLEopenStream(storage, "BODY");
    ASSERT_TRUE(file != 0 && stream != 0);

    std::vector<Read> reads;
    for (const uint32_t window : {kFileWindow, kStreamWindow}) // into the next window, then back across its start
        for (const uint32_t edge : {window, 2 * window, 16 * window})
            reads.insert(reads.end(), {{edge + 1, 1, 2}, {edge - 1, 1, 2}, {edge - 2, 2, 1}, {edge - 1, 2, 1}, {edge, 1, 1}});
    // At the end one byte is left: no whole element of two bytes for the file.
    reads.insert(reads.end(), {{kSize - 2, 1, 2}, {kSize - 1, 1, 2}, {kSize - 1, 2, 1}, {0, 1, 1}});
    for (const auto& [source, mode] : {std::pair{file, kPlainFile}, std::pair{stream, kCompoundStream}}) {
        for (const Read& r : reads) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << " offset " << r.offset << " size " << r.size);
            uint8_t got[2] = {0, 0};
            KRM_fSeek(source, r.offset, 0, mode);
            const uint32_t count = KRM_fRead(got, r.size, r.count, source, mode);
            EXPECT_EQ(count, expectedCount(r, mode));
            const uint32_t moved = mode == kPlainFile ? count * r.size : count;
            for (uint32_t i = 0; i < moved; ++i) EXPECT_EQ(got[i], content[r.offset + i]);
        }
        // Nothing to read, or nowhere to put it, reads nothing.
        uint8_t tail[2] = {0, 0};
        KRM_fSeek(source, 5, 0, mode);
        EXPECT_EQ(KRM_fRead(tail, 1, 0, source, mode), 0u);
        EXPECT_EQ(KRM_fRead(nullptr, 1, 1, source, mode), 0u);
    }
    EXPECT_EQ(KRM_FileClose(file) + KRM_2OLEcloseStream(stream) + KRM_2OLEclose(storage), 0);
}

} // namespace
