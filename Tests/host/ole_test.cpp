// Compound-file service: streams found without regard to case, reads clamped, seeks, no compound file; and
// the decoder's one- and two-byte reads after a seek, through the filter's source-access wrappers,
// for a plain file and a compound-file stream alike: at the edges of the read-ahead windows, in an
// order that leaves a window and comes back to the byte before it, and at the source's end.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>

#include "host_test_support.h"
#include "krm_zori2.h"

namespace {

using host_test::Bytes;
using host_test::patternBytes;

constexpr uint32_t kMiniStreamCutoff = 4096; // smaller streams live in the compound file's mini stream
constexpr uint32_t kBigSize = kMiniStreamCutoff + 904;
// Streams above 4 MiB are served in windows of 256 KiB; this one ends inside its seventeenth.
constexpr uint32_t kWindow = 256u << 10;
constexpr uint32_t kWindowedSize = (4u << 20) + kWindow / 2 + 7;

class OleTest : public host_test::HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        std::vector<oasys_test::CompoundStream> list;
        for (const auto& [name, data] : streams) list.push_back({name, data});
        oasys_test::writeCompound(compoundPath, list);
        storage = KRM_2OLEopen(compoundPath.c_str());
        ASSERT_NE(storage, 0u);
    }
    void TearDown() override {
        EXPECT_EQ(storage != 0 ? KRM_2OLEclose(storage) : 0, 0);
        HostTest::TearDown();
    }
    uint32_t open(const char* name) { return KRM_2OLEopenStream(storage, name); }

    const std::map<std::string, Bytes> streams = {
        {"OasysStreamFileList", patternBytes(200, 1)}, {"DOC1.DOC", patternBytes(kBigSize, 2)},
        {"DOC1.FMT", patternBytes(kMiniStreamCutoff - 1, 3)}, {"Empty", {}},
        {"WINDOWED", patternBytes(kWindowedSize, 4)}, {"文書Ä", patternBytes(5, 5)},
    };
    std::filesystem::path compoundPath = dir / "doc.ole";
    uint32_t storage = 0;
};

Bytes readAll(uint32_t stream, uint32_t chunk) {
    Bytes all, buffer(chunk);
    for (uint32_t got; (got = KRM_2OLEreadStream(stream, buffer.data(), chunk)) > 0;)
        all.insert(all.end(), buffer.begin(), buffer.begin() + got);
    return all;
}

TEST_F(OleTest, StreamsAreFoundWithoutRegardToCaseAndReadWhole) {
    const std::pair<const char*, const char*> cases[] = { // asked, stored (nullptr: no such stream)
        {"OASYSSTREAMFILELIST", "OasysStreamFileList"}, {"doc1.doc", "DOC1.DOC"}, {"Doc1.Fmt", "DOC1.FMT"},
        {"EMPTY", "Empty"}, {"文書ä", "文書Ä"}, {"DOC1", nullptr}, {"DOC1.DOC ", nullptr}, {"", nullptr},
        {"Root Entry", nullptr}, {"文書\xC4", nullptr},
    };
    for (const auto& [asked, stored] : cases) {
        const uint32_t stream = open(asked);
        EXPECT_EQ(stream != 0, stored != nullptr) << asked;
        if (stream == 0) continue;
        EXPECT_EQ(KRM_2OLEseekStream(stream, 0, 2), streams.at(stored).size()) << "the size of " << asked;
        EXPECT_EQ(KRM_2OLEseekStream(stream, 0, 0), 0u);
        EXPECT_EQ(readAll(stream, 333), streams.at(stored)) << asked;
        EXPECT_EQ(KRM_2OLEcloseStream(stream), 0);
    }
}

TEST_F(OleTest, ReadsAreClampedToWhatRemains) {
    const struct { const char* stream; uint32_t seekTo, count, expectedRead; } cases[] = {
        {"DOC1.DOC", kMiniStreamCutoff - 5, 10, 10},  {"DOC1.DOC", kBigSize - 10, 100, 10},
        {"DOC1.DOC", kBigSize, 1, 0},                 {"DOC1.FMT", 0, kMiniStreamCutoff * 2, kMiniStreamCutoff - 1},
        {"Empty", 0, 16, 0},                          {"DOC1.DOC", 0, 0, 0},
        {"WINDOWED", kWindow - 3, 10, 10},            {"WINDOWED", 5, 3 * kWindow, 3 * kWindow},
        {"WINDOWED", kWindowedSize - 10, 100, 10},    {"WINDOWED", kWindowedSize, 1, 0},
    };
    for (const auto& c : cases) {
        const uint32_t stream = open(c.stream);
        ASSERT_EQ(KRM_2OLEseekStream(stream, c.seekTo, 0), c.seekTo);
        Bytes buffer(c.count + 1);
        const uint32_t got = KRM_2OLEreadStream(stream, buffer.data(), c.count);
        EXPECT_EQ(got, c.expectedRead) << c.stream << " at " << c.seekTo;
        EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + got, streams.at(c.stream).begin() + c.seekTo));
        EXPECT_EQ(KRM_2OLEseekStream(stream, 0, 1), c.seekTo + got) << c.stream << " at " << c.seekTo;
        EXPECT_EQ(KRM_2OLEcloseStream(stream), 0);
    }
}

// The decoder steps back to headers: bytes around window boundaries; a failed seek keeps the position.
TEST_F(OleTest, PositionsJumpAndFailedSeeksKeepThem) {
    const uint32_t stream = open("windowed");
    uint8_t byte = 0;
    for (const uint32_t at : {kWindow, kWindow - 1, 2 * kWindow + 1, 7u, kWindowedSize - 1, 16 * kWindow - 1, 16 * kWindow})
        EXPECT_TRUE(KRM_2OLEseekStream(stream, at, 0) == at && KRM_2OLEreadStream(stream, &byte, 1) == 1 &&
                    byte == streams.at("WINDOWED")[at]) << at;
    EXPECT_EQ(KRM_2OLEcloseStream(stream), 0);
    const uint32_t list = open("OasysStreamFileList");
    const std::pair<int32_t, int16_t> seeks[] = {{50, 0}, {201, 0}, {-1, 2}, {-300, 1}, {-9, 1}, {0, 9}};
    const uint32_t positions[] = {50, 50, 199, 199, 190, 190}; // beyond the end and before the start: no move
    for (size_t i = 0; i < std::size(seeks); ++i)
        EXPECT_EQ(KRM_2OLEseekStream(list, static_cast<uint32_t>(seeks[i].first), seeks[i].second), positions[i]) << i;
    EXPECT_EQ(KRM_2OLEcloseStream(list), 0);
}

// Handles of the wrong kind or closed are refused; a stream outlives its closed storage.
TEST_F(OleTest, StaleHandlesAreRefusedAndStreamsOutliveTheirStorage) {
    const uint32_t body = open("DOC1.DOC"), format = open("DOC1.FMT");
    uint8_t byte;
    EXPECT_EQ(KRMTest_Counters().openStorages * 10 + KRMTest_Counters().openStreams, 12);
    EXPECT_EQ(KRM_2OLEcloseStream(format), 0);
    EXPECT_EQ(KRM_2OLEopenStream(body, "DOC1.DOC") + KRM_2OLEreadStream(storage, &byte, 1), 0u);
    EXPECT_NE(KRM_2OLEclose(body), 0);
    EXPECT_NE(KRM_2OLEcloseStream(storage), 0);
    EXPECT_EQ(KRM_2OLEopenStream(storage, nullptr), 0u);
    EXPECT_EQ(KRM_2OLEclose(storage), 0);
    EXPECT_NE(KRM_2OLEclose(storage), 0) << "closed twice";
    EXPECT_EQ(KRM_2OLEopenStream(std::exchange(storage, 0), "DOC1.FMT"), 0u);
    KRM_2OLEseekStream(body, 0, 0);
    EXPECT_EQ(readAll(body, 4096), streams.at("DOC1.DOC"));
    EXPECT_EQ(KRM_2OLEcloseStream(body), 0);
    EXPECT_NE(KRM_2OLEcloseStream(body), 0) << "closed twice";
    EXPECT_EQ(KRM_2OLEreadStream(body, &byte, 1) + KRM_2OLEseekStream(body, 0, 2) + KRM_2OLEopen(nullptr), 0u);
}

// One thread may hold more live handles of a kind than its share of the slots: every handle it
// gets is distinct and serves its stream, until every slot of the table is live.
TEST_F(OleTest, OneThreadHoldsMoreHandlesThanItsShareOfTheSlots) {
    constexpr size_t kSlots = 32767; // all the table's slots (slot 0 is never used)
    std::vector<uint32_t> held;
    std::set<uint32_t> distinct;
    for (uint32_t stream; held.size() < kSlots + 1 && (stream = open("文書Ä")) != 0;) {
        held.push_back(stream);
        distinct.insert(stream);
    }
    EXPECT_EQ(held.size(), kSlots) << "the table's every slot, and no more";
    EXPECT_EQ(distinct.size(), held.size());
    for (const size_t i : {size_t{0}, held.size() / 2, held.size() - 1}) {
        uint8_t first = 0;
        EXPECT_EQ(KRM_2OLEreadStream(held[i], &first, 1), 1u);
        EXPECT_EQ(first, streams.at("文書Ä")[0]);
    }
    EXPECT_EQ(KRMTest_Counters().openStreams, static_cast<int32_t>(held.size()));
    for (const uint32_t stream : held) EXPECT_EQ(KRM_2OLEcloseStream(stream), 0);
    EXPECT_EQ(KRMTest_Counters().openStreams, 0);
}

// A bound compound file, small (read whole from the descriptor) or large (opened afresh), in any
// mode a descriptor may have, gives its streams and never moves the application's offset.
TEST_F(OleTest, BoundCompoundFilesLeaveTheApplicationsOffset) {
    const std::filesystem::path small = dir / "small.ole";
    oasys_test::writeCompound(small, {{"DOC1.FMT", streams.at("DOC1.FMT")}});
    const struct { const std::filesystem::path* file; int flags; } cases[] = {
        {&small, O_RDONLY}, {&small, O_RDONLY | O_DIRECT}, {&small, O_PATH}, {&compoundPath, O_RDONLY},
    };
    for (const auto& c : cases) {
        const int fd = ::open(c.file->c_str(), c.flags | O_CLOEXEC);
        ASSERT_GE(fd, 0) << c.flags;
        if ((c.flags & O_PATH) == 0) ::lseek(fd, 7, SEEK_SET);
        char prefix[KRM_BINDING_PREFIX_MAX];
        const uint32_t binding = KRM_BindingCreate(prefix, sizeof prefix);
        ASSERT_EQ(KRM_BindingAddFd(binding, "doc.ole", fd), 0);
        const uint32_t bound = KRM_2OLEopen((std::string(prefix) + "doc.ole").c_str());
        ASSERT_NE(bound, 0u) << c.file->filename() << " " << c.flags;
        const uint32_t stream = KRM_2OLEopenStream(bound, "DOC1.FMT");
        EXPECT_EQ(readAll(stream, 4096), streams.at("DOC1.FMT")) << c.flags;
        EXPECT_EQ(KRM_2OLEcloseStream(stream) + KRM_2OLEclose(bound), 0);
        if ((c.flags & O_PATH) == 0) {
            EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 7) << c.flags;
        }
        KRM_BindingRelease(binding);
        ::close(fd);
    }
}

TEST_F(OleTest, NoCompoundFileGivesNoHandleAndNoMessage) {
    const Bytes good = oasys_test::readFile(compoundPath);
    testing::internal::CaptureStderr();
    for (const size_t size : {0, 8, 512}) { // nothing, the signature alone, the header without sectors
        oasys_test::writeFile(dir / "not.ole", Bytes(good.begin(), good.begin() + static_cast<ptrdiff_t>(size)));
        EXPECT_EQ(KRM_2OLEopen((dir / "not.ole").c_str()), 0u) << size;
    }
    EXPECT_EQ(KRM_2OLEopen((dir / "missing.ole").c_str()) + KRM_2OLEopen(dir.path().c_str()), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

constexpr uint32_t kFileWindow = 64u << 10;
constexpr uint32_t kStreamWindow = kWindow;
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
