// Compound-file service: stream lookup by name without regard to case, reads clamped to the
// stream, seeks that report positions, and files that are no compound files.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "host_test_support.h"
#include "krm_host.h"
#include "oasys_writer.h"
#include "test_util.h"

namespace {

using host_test::Bytes;
using host_test::patternBytes;
using oasys_test::TempDir;

constexpr uint32_t kMiniStreamCutoff = 4096; // smaller streams live in the compound file's mini stream

class OleTest : public oasys_test::HostCheckedTest {
protected:
    void SetUp() override {
        HostCheckedTest::SetUp();
        streams = {
            {"OasysStreamFileList", patternBytes(200, 1)},
            {"DOC1.DOC", patternBytes(kMiniStreamCutoff + 904, 2)},
            {"DOC1.FMT", patternBytes(kMiniStreamCutoff - 1, 3)},
            {"Empty", {}},
        };
        std::vector<oasys_test::CompoundStream> list;
        for (const auto& [name, data] : streams) list.push_back({name, data});
        oasys_test::writeCompound(compoundPath, list);
    }

    TempDir dir;
    std::filesystem::path compoundPath = dir / "doc.ole";
    std::map<std::string, Bytes> streams;
};

// Reads the whole stream in chunks of the given size.
Bytes readAll(uint32_t stream, uint32_t chunk) {
    Bytes all;
    Bytes buffer(chunk);
    uint32_t got;
    while ((got = KRM_2OLEreadStream(stream, buffer.data(), chunk)) > 0) {
        EXPECT_LE(got, chunk);
        all.insert(all.end(), buffer.begin(), buffer.begin() + got);
    }
    return all;
}

TEST_F(OleTest, StreamsAreFoundWithoutRegardToCase) {
    const struct {
        const char* asked;
        const char* stored; // nullptr: no such stream
    } cases[] = {
        {"OasysStreamFileList", "OasysStreamFileList"},
        {"oasysstreamfilelist", "OasysStreamFileList"},
        {"OASYSSTREAMFILELIST", "OasysStreamFileList"},
        {"doc1.doc", "DOC1.DOC"},
        {"Doc1.Fmt", "DOC1.FMT"},
        {"EMPTY", "Empty"},
        {"DOC1", nullptr},
        {"DOC1.DOC ", nullptr},
        {"", nullptr},
        {"Root Entry", nullptr},
    };
    const uint32_t storage = KRM_2OLEopen(compoundPath.c_str());
    ASSERT_NE(storage, 0u);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.asked);
        const uint32_t stream = KRM_2OLEopenStream(storage, c.asked);
        if (c.stored == nullptr) {
            EXPECT_EQ(stream, 0u);
            continue;
        }
        ASSERT_NE(stream, 0u);
        EXPECT_EQ(readAll(stream, 333), streams.at(c.stored));
        EXPECT_EQ(KRM_2OLEcloseStream(stream), 0);
    }
    EXPECT_EQ(KRM_2OLEclose(storage), 0);
}

TEST_F(OleTest, SeekFromTheEndGivesTheStreamSize) {
    const uint32_t storage = KRM_2OLEopen(compoundPath.c_str());
    for (const auto& [name, data] : streams) {
        SCOPED_TRACE(name);
        const uint32_t stream = KRM_2OLEopenStream(storage, name.c_str());
        ASSERT_NE(stream, 0u);
        EXPECT_EQ(KRM_2OLEseekStream(stream, 0, 2), data.size());
        EXPECT_EQ(KRM_2OLEseekStream(stream, 0, 0), 0u);
        EXPECT_EQ(KRM_2OLEcloseStream(stream), 0);
    }
    EXPECT_EQ(KRM_2OLEclose(storage), 0);
}

struct ReadCase {
    const char* what;
    const char* stream;
    uint32_t seekTo, count;
    uint32_t expectedRead;
};

TEST_F(OleTest, ReadsAreClampedToWhatRemains) {
    const uint32_t bigSize = kMiniStreamCutoff + 904;
    const ReadCase cases[] = {
        {"inside a large stream", "DOC1.DOC", 10, 100, 100},
        {"across the 4096 mark", "DOC1.DOC", kMiniStreamCutoff - 5, 10, 10},
        {"cut at the end", "DOC1.DOC", bigSize - 10, 100, 10},
        {"at the end", "DOC1.DOC", bigSize, 1, 0},
        {"whole small stream and more", "DOC1.FMT", 0, kMiniStreamCutoff * 2, kMiniStreamCutoff - 1},
        {"one byte of a small stream", "OasysStreamFileList", 199, 1, 1},
        {"empty stream", "Empty", 0, 16, 0},
        {"zero bytes asked", "DOC1.DOC", 0, 0, 0},
    };
    const uint32_t storage = KRM_2OLEopen(compoundPath.c_str());
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.what);
        const uint32_t stream = KRM_2OLEopenStream(storage, c.stream);
        ASSERT_NE(stream, 0u);
        ASSERT_EQ(KRM_2OLEseekStream(stream, c.seekTo, 0), c.seekTo);
        Bytes buffer(c.count + 1);
        const uint32_t got = KRM_2OLEreadStream(stream, buffer.data(), c.count);
        EXPECT_EQ(got, c.expectedRead);
        const Bytes& data = streams.at(c.stream);
        EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + got, data.begin() + c.seekTo));
        EXPECT_EQ(KRM_2OLEseekStream(stream, 0, 1), c.seekTo + got) << "position after the read";
        EXPECT_EQ(KRM_2OLEcloseStream(stream), 0);
    }
    EXPECT_EQ(KRM_2OLEclose(storage), 0);
}

TEST_F(OleTest, FailedSeekKeepsThePosition) {
    const uint32_t storage = KRM_2OLEopen(compoundPath.c_str());
    const uint32_t stream = KRM_2OLEopenStream(storage, "OasysStreamFileList");
    ASSERT_EQ(KRM_2OLEseekStream(stream, 50, 0), 50u);
    EXPECT_EQ(KRM_2OLEseekStream(stream, 201, 0), 50u) << "beyond the end";
    EXPECT_EQ(KRM_2OLEseekStream(stream, static_cast<uint32_t>(-1), 2), 199u) << "one back from the end";
    EXPECT_EQ(KRM_2OLEseekStream(stream, static_cast<uint32_t>(-300), 1), 199u) << "before the start";
    EXPECT_EQ(KRM_2OLEseekStream(stream, 0, 9), 199u) << "unknown origin";
    EXPECT_EQ(KRM_2OLEcloseStream(stream), 0);
    EXPECT_EQ(KRM_2OLEclose(storage), 0);
}

TEST_F(OleTest, StreamsOfOneStorageKeepTheirOwnPositions) {
    const uint32_t storage = KRM_2OLEopen(compoundPath.c_str());
    const uint32_t body = KRM_2OLEopenStream(storage, "DOC1.DOC");
    const uint32_t format = KRM_2OLEopenStream(storage, "DOC1.FMT");
    Bytes bodyRead, formatRead;
    uint8_t byte;
    // Interleaved one-byte reads, as the compound walk does with the list and the body.
    for (int i = 0; i < 5000; ++i) {
        if (KRM_2OLEreadStream(body, &byte, 1) == 1) bodyRead.push_back(byte);
        if (KRM_2OLEreadStream(format, &byte, 1) == 1) formatRead.push_back(byte);
    }
    EXPECT_EQ(bodyRead, streams.at("DOC1.DOC"));
    EXPECT_EQ(formatRead, streams.at("DOC1.FMT"));
    EXPECT_EQ(KRM_2OLEcloseStream(body), 0);
    EXPECT_EQ(KRM_2OLEcloseStream(format), 0);
    EXPECT_EQ(KRM_2OLEclose(storage), 0);
}

TEST_F(OleTest, StreamOutlivesItsClosedStorage) {
    const uint32_t storage = KRM_2OLEopen(compoundPath.c_str());
    const uint32_t stream = KRM_2OLEopenStream(storage, "DOC1.DOC");
    EXPECT_EQ(KRM_2OLEclose(storage), 0);
    EXPECT_EQ(KRM_2OLEopenStream(storage, "DOC1.FMT"), 0u) << "the storage handle is gone";
    EXPECT_EQ(readAll(stream, 4096), streams.at("DOC1.DOC"));
    EXPECT_EQ(KRM_2OLEcloseStream(stream), 0);
}

TEST_F(OleTest, UnknownHandlesAreRejected) {
    const uint32_t storage = KRM_2OLEopen(compoundPath.c_str());
    const uint32_t stream = KRM_2OLEopenStream(storage, "DOC1.DOC");
    uint8_t byte;
    // A stream handle is no storage handle and the other way round.
    EXPECT_EQ(KRM_2OLEopenStream(stream, "DOC1.DOC"), 0u);
    EXPECT_EQ(KRM_2OLEreadStream(storage, &byte, 1), 0u);
    EXPECT_NE(KRM_2OLEclose(stream), 0);
    EXPECT_NE(KRM_2OLEcloseStream(storage), 0);
    EXPECT_EQ(KRM_2OLEopenStream(storage, nullptr), 0u);
    EXPECT_EQ(KRM_2OLEcloseStream(stream), 0);
    EXPECT_EQ(KRM_2OLEclose(storage), 0);
    EXPECT_NE(KRM_2OLEcloseStream(stream), 0) << "closed twice";
    EXPECT_NE(KRM_2OLEclose(storage), 0) << "closed twice";
    EXPECT_EQ(KRM_2OLEreadStream(stream, &byte, 1), 0u);
    EXPECT_EQ(KRM_2OLEseekStream(stream, 0, 2), 0u);
    EXPECT_EQ(KRM_2OLEopen(nullptr), 0u);
}

TEST_F(OleTest, NoCompoundFileGivesNoHandleAndNoMessage) {
    const Bytes good = oasys_test::readFile(compoundPath);
    const struct {
        const char* what;
        Bytes content;
    } cases[] = {
        {"empty file", {}},
        {"text file", oasys_test::bytes("OASYS is a word processor.\r\n")},
        {"compound signature alone", Bytes(good.begin(), good.begin() + 8)},
        {"header without sectors", Bytes(good.begin(), good.begin() + 512)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto path = dir / "not.ole";
        oasys_test::writeFile(path, c.content);
        testing::internal::CaptureStderr();
        const uint32_t storage = KRM_2OLEopen(path.c_str());
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(storage, 0u);
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(KRM_2OLEopen((dir / "missing.ole").c_str()), 0u);
    EXPECT_EQ(KRM_2OLEopen(dir.path().c_str()), 0u) << "a folder";
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(OleTest, DamagedCompoundFileIsQuiet) {
    const Bytes good = oasys_test::readFile(compoundPath);
    constexpr size_t kHeaderSize = 512;
    // Every byte after the header in turn is overwritten, a few at a time: whatever libgsf makes
    // of it, nothing reaches the terminal and every handle is released.
    testing::internal::CaptureStderr();
    for (size_t at = kHeaderSize; at < good.size(); at += 97) {
        Bytes damaged = good;
        for (size_t i = at; i < std::min(at + 8, damaged.size()); ++i) damaged[i] = 0xFF;
        const auto path = dir / "damaged.ole";
        oasys_test::writeFile(path, damaged);
        const uint32_t storage = KRM_2OLEopen(path.c_str());
        if (storage == 0) continue;
        for (const auto& [name, data] : streams) {
            const uint32_t stream = KRM_2OLEopenStream(storage, name.c_str());
            if (stream == 0) continue;
            KRM_2OLEseekStream(stream, 0, 2);
            KRM_2OLEseekStream(stream, 0, 0);
            readAll(stream, 512);
            KRM_2OLEcloseStream(stream);
        }
        KRM_2OLEclose(storage);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

} // namespace
