// The writer lays out exactly the bytes the OASYS readers expect: block headers, records, the
// format block, the combined-document frame and the compound stream list. Expected bytes are
// written out literally here, so that a writer fault cannot hide behind a reader with the same one.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "oasys_writer.h"

namespace oasys_test {
namespace {

Bytes slice(const Bytes& b, size_t offset, size_t size) {
    EXPECT_LE(offset + size, b.size());
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(std::min(b.size(), offset)),
                 b.begin() + static_cast<std::ptrdiff_t>(std::min(b.size(), offset + size)));
}

TEST(WriterPieces, BytesOfEachPiece) {
    const struct {
        const char* what;
        Bytes made, expected;
    } cases[] = {
        {"literal with NUL and high bytes", bytes("A\0\x82\xA0"), {'A', 0x00, 0x82, 0xA0}},
        {"concat skips empty parts", concat({bytes("ab"), {}, crlf(), endOfText()}), {'a', 'b', 0x0D, 0x0A, 0x1A}},
        {"block header, big-endian", blockHeader(0x1234), {0xF0, 0x04, 0x12, 0x34}},
        {"block header, largest", blockHeader(0xFFFF), {0xF0, 0x04, 0xFF, 0xFF}},
        {"Unicode record, upper-case hex", ecs4Unicode(0xABCD), bytes("\xEF\xCC" "07\xCA" "ABCD")},
        {"Unicode record, leading zeros", ecs4Unicode(0x000F), bytes("\xEF\xCC" "07\xCA" "000F")},
        {"empty skipped record", skippedRecord({}), bytes("\xEF\xCD" "02")},
        {"skipped record", skippedRecord(bytes("ab")), bytes("\xEF\xCD" "04ab")},
        {"longest skipped record", slice(skippedRecord(Bytes(253, 'z')), 0, 5), bytes("\xEF\xCD" "FFz")},
    };
    for (const auto& c : cases) EXPECT_EQ(c.made, c.expected) << c.what;
    EXPECT_EQ(skippedRecord(Bytes(253, 'z')).size(), 4u + 253u);
}

TEST(WriterPieces, RefusesWhatCannotBeLaidOut) {
    const std::function<void()> cases[] = {
        [] { skippedRecord(Bytes(254, 'z')); },          // two hex digits count at most 255
        [] { layBlocks(Bytes(10, 'a'), {5, 3}); },         // cuts out of order
        [] { layBlocks(Bytes(10, 'a'), {11}); },           // cut past the end
        [] { layBlocks(Bytes(70000, 'a'), {}); },          // a block holds at most 65535 bytes
        [] { makeStreamList({{"A", "1", "OASYS", true}, {"B", "2"}}); }, // only the last entry may lack CR
    };
    for (size_t i = 0; i < std::size(cases); ++i) EXPECT_THROW(cases[i](), std::invalid_argument) << "case " << i;
    const BlockRun run = layBlocks(Bytes(70000, 'a'), {65535});
    EXPECT_EQ(slice(run.bytes, 65535, 4), blockHeader(70000 - 65535));
}

TEST(WriterBlocks, HeadersStandAtEveryCut) {
    const Bytes text = bytes("ABCDEFGHIJ");
    const struct {
        std::vector<size_t> cuts;
        bool leading;
        Bytes expected;
        uint16_t firstLength;
    } cases[] = {
        {{}, false, bytes("ABCDEFGHIJ"), 10},
        {{}, true, concat({blockHeader(10), bytes("ABCDEFGHIJ")}), 10},
        {{3}, false, concat({bytes("ABC"), blockHeader(7), bytes("DEFGHIJ")}), 3},
        {{3, 7}, true, concat({blockHeader(3), bytes("ABC"), blockHeader(4), bytes("DEFG"), blockHeader(3), bytes("HIJ")}), 3},
        // a repeated cut gives an empty block; a cut at either end an empty first or last block
        {{5, 5}, false, concat({bytes("ABCDE"), blockHeader(0), blockHeader(5), bytes("FGHIJ")}), 5},
        {{10}, false, concat({bytes("ABCDEFGHIJ"), blockHeader(0)}), 10},
        {{0}, true, concat({blockHeader(0), blockHeader(10), bytes("ABCDEFGHIJ")}), 0},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const BlockRun run = layBlocks(text, cases[i].cuts, cases[i].leading);
        EXPECT_EQ(run.bytes, cases[i].expected) << "case " << i;
        EXPECT_EQ(run.firstBlockLength, cases[i].firstLength) << "case " << i;
    }
}

TEST(WriterFormatBlock, FieldsStandAtTheirOffsetsAndAreCutToSize) {
    PropertyFields f;
    f.flagWord = 0x1208;
    f.skipByte = 1;
    f.title = std::string(60, 'T');
    f.author = std::string(40, 'A');
    f.comments = "comment";
    f.category = std::string(17, 'C');
    f.lastAuthor = "last";
    f.keywords[0] = "k0";
    f.keywords[9] = std::string(25, 'K');
    f.created = {0x98, 0x12, 0x31, 0x23, 0x59};
    f.modified = {0x01, 0x02, 0x03, 0x04, 0x05};
    f.blockMarker = 3;
    Bytes block = makePropertyBlock(f);
    ASSERT_EQ(block.size(), 1700u);
    const struct {
        size_t offset;
        Bytes value;
    } expects[] = {
        {0, Bytes(10, 0)}, {10, {1}}, {11, Bytes(50, 'T')}, {61, {0}},
        {216, {0x98, 0x12, 0x31, 0x23, 0x59}}, {221, {0x01, 0x02, 0x03, 0x04, 0x05}},
        {564, {0x12, 0x08}}, {566, Bytes(1280 - 566, 0)}, {1280, {3}},
        {1286, Bytes(30, 'A')}, {1316, concat({bytes("comment"), Bytes(73, 0)})},
        {1398, Bytes(16, 'C')}, {1414, concat({bytes("k0"), Bytes(18, 0)})},
        {1414 + 20 * 9, Bytes(20, 'K')}, {1638, concat({bytes("last"), Bytes(26, 0)})}, {1668, Bytes(32, 0)},
    };
    for (const auto& e : expects) EXPECT_EQ(slice(block, e.offset, e.value.size()), e.value) << "offset " << e.offset;
    // Raw placement keeps every byte, no NUL, and grows the block when needed.
    putField(block, 1398, std::string(17, 'Q'));
    EXPECT_EQ(slice(block, 1398, 17), Bytes(17, 'Q'));
    putField(block, 1699, "xyz");
    EXPECT_EQ(slice(block, 1698, 4), bytes("\0xyz"));
}

TEST(WriterFormatBlock, SizeCutsTheBlockShortOrPadsIt) {
    PropertyFields f;
    f.size = 565; // the flag word loses its second byte
    f.flagWord = 0x0008;
    EXPECT_EQ(makePropertyBlock(f), Bytes(565, 0));
    f.size = 2000;
    const Bytes padded = makePropertyBlock(f);
    ASSERT_EQ(padded.size(), 2000u);
    EXPECT_EQ(padded[565], 0x08);
    EXPECT_EQ(padded[1280], 2); // default block marker
}

// A combined-document part as literal bytes: part tag, directory tag and length, the directory
// with the entry tag F4 FD at entryOffset and the name 8 bytes after it, block list, blocks, ends.
Bytes literalPart(const std::string& name, const Bytes& blocks, size_t entryOffset = 0, uint8_t length = 32) {
    Bytes directory(length, 0);
    directory[entryOffset] = 0xF4;
    directory[entryOffset + 1] = 0xFD;
    std::copy(name.begin(), name.end(), directory.begin() + static_cast<std::ptrdiff_t>(entryOffset + 8));
    return concat({{0xF7, 0x7E, 0x80, 0x00, 0xF1, 0x11, 0x00, length}, directory, {0xF1, 0x04, 0x80, 0x00}, blocks,
                   {0xF0, 0, 0, 0, 0xF0, 0, 0, 0}});
}
const Bytes kDocumentTag = {0xF1, 0x10, 0x80, 0x00};
const Bytes kEnd = {0xF0, 0, 0, 0};

TEST(WriterCombined, FrameAndEntryStandWhereAsked) {
    CombinedPart part;
    part.name = "A.FMT";
    part.entryOffset = 5;
    part.directoryLength = 40;
    part.blocks = concat({blockHeader(2), bytes("xy")});
    EXPECT_EQ(makeCombined({part}), concat({kDocumentTag, literalPart("A.FMT", part.blocks, 5, 40), kEnd}));

    // Optional pieces left out.
    part.withEntryTag = false;
    part.directoryLength = 3;
    part.blocks = {};
    part.endOfPart = false;
    EXPECT_EQ(makeCombined({part}, false),
              concat({kDocumentTag, {0xF7, 0x7E, 0x80, 0x00, 0xF1, 0x11, 0x00, 0x03, 0, 0, 0, 0xF1, 0x04, 0x80, 0x00},
                      kEnd}));
    part.withEntryTag = true;
    part.entryOffset = 0;
    part.rawName = bytes("ABCDEFGH.DOCX");
    part.directoryLength = 21;
    EXPECT_EQ(slice(makeCombined({part}, false), 12 + 8, 13), bytes("ABCDEFGH.DOCX"));
    part.directoryLength = 20; // the entry needs 21 bytes
    EXPECT_THROW(makeCombined({part}), std::invalid_argument);
}

TEST(WriterCombined, UsualDocumentHasFormatThenBodyBlocks) {
    const Bytes format = makePropertyBlock({});
    const Bytes doc = makeCombinedDocument(format, bytes("AB\r\n\x1A"), {1}, "MEMO");
    EXPECT_EQ(doc, concat({kDocumentTag, literalPart("MEMO.FMT", concat({blockHeader(1700), format})),
                           literalPart("MEMO.DOC", bytes("\xF0\x04\x00\x01" "A" "\xF0\x04\x00\x04" "B\r\n\x1A")),
                           kEnd}));
}

// Walks a stream list the way a reader must: count at 33 up to CR, entries at CR + 4, first line
// from E + 16, name from c1 + 13, type from c2 + 11, next entry at c3 + 4.
struct ListEntry {
    std::string firstLine, name, type;
    bool operator==(const ListEntry&) const = default;
};
std::pair<std::string, std::vector<ListEntry>> walkList(const Bytes& list) {
    auto upToCR = [&](size_t from, size_t& cr) {
        for (cr = from; cr < list.size() && list[cr] != 0x0D;) ++cr;
        return std::string(list.begin() + static_cast<std::ptrdiff_t>(from), list.begin() + static_cast<std::ptrdiff_t>(cr));
    };
    size_t cr = 0, c1 = 0, c2 = 0;
    const std::string count = upToCR(33, cr);
    std::vector<ListEntry> entries;
    for (size_t e = cr + 4; e < list.size(); e = cr + 4) {
        std::string firstLine = upToCR(e + 16, c1), name = upToCR(c1 + 13, c2);
        entries.push_back({firstLine, name, upToCR(c2 + 11, cr)});
    }
    return {count, entries};
}

TEST(WriterStreamList, FieldsStandAfterTheFixedGaps) {
    const Bytes list = makeStreamList({{"DOC1.FMT", "2"}, {"DOC1.DOC", "1  ", "OASYS/Win"}});
    EXPECT_EQ(walkList(list), (std::pair<std::string, std::vector<ListEntry>>{
                                  "2", {{"OASYS", "DOC1.FMT", "2"}, {"OASYS/Win", "DOC1.DOC", "1  "}}}));
    // Each entry is 3 + 13 + line + CR + 12 + name + CR + 10 + type + CR + 3 bytes, after 38.
    EXPECT_EQ(list.size(), 38 + (44 + 5 + 8 + 1) + (44 + 9 + 8 + 3));
    // Gap bytes are never CR and never below '0', so a reader that starts a field early is caught.
    for (size_t i : {0, 24, 32, 35, 37}) EXPECT_GE(list[i], '0') << i;
}

TEST(WriterStreamList, CountTextAndLastEntryWithoutCR) {
    const struct {
        std::vector<StreamListEntry> entries;
        std::string countText, expectedCount;
    } cases[] = {
        {{}, "", "0"}, {{{"A", "1"}}, "", "1"}, {{{"A", "1"}}, "00000", "00000"}, {{{"A", "1"}}, "1a", "1a"},
    };
    for (const auto& c : cases) {
        const auto [count, entries] = walkList(makeStreamList(c.entries, c.countText));
        EXPECT_EQ(count, c.expectedCount);
        EXPECT_EQ(entries.size(), c.entries.size());
    }
    const Bytes list = makeStreamList({{"DOC1.FMT", "2"}, {"DOC1.DOC", "1", "OASYS", true}});
    EXPECT_EQ(list.back(), '1');
    EXPECT_EQ(walkList(list).second.back(), (ListEntry{"OASYS", "DOC1.DOC", "1"}));
}

} // namespace
} // namespace oasys_test
