// The writer lays out exactly the bytes the OASYS readers expect: block headers, records, the
// format block, the combined-document frame and the compound stream list.
#include <gtest/gtest.h>

#include <stdexcept>

#include "oasys_writer.h"

namespace oasys_test {
namespace {

uint16_t wordAt(const Bytes& b, size_t offset) { return static_cast<uint16_t>(b.at(offset) << 8 | b.at(offset + 1)); }

Bytes slice(const Bytes& b, size_t offset, size_t size) {
    EXPECT_LE(offset + size, b.size());
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(offset),
                 b.begin() + static_cast<std::ptrdiff_t>(std::min(b.size(), offset + size)));
}

TEST(WriterBytes, LiteralKeepsEmbeddedNulAndHighBytes) {
    EXPECT_EQ(bytes("A\0\x82\xA0"), (Bytes{'A', 0x00, 0x82, 0xA0}));
    EXPECT_EQ(bytes(std::string("AB")), (Bytes{'A', 'B'}));
    EXPECT_EQ(concat({bytes("ab"), {}, crlf(), endOfText()}), (Bytes{'a', 'b', 0x0D, 0x0A, 0x1A}));
}

TEST(WriterBlocks, HeaderLengthIsBigEndian) {
    struct Case { uint16_t length; Bytes expected; };
    const Case cases[] = {
        {0x0000, {0xF0, 0x04, 0x00, 0x00}},
        {0x1234, {0xF0, 0x04, 0x12, 0x34}},
        {0x00FF, {0xF0, 0x04, 0x00, 0xFF}},
        {0xFFFF, {0xF0, 0x04, 0xFF, 0xFF}},
    };
    for (const Case& c : cases) EXPECT_EQ(blockHeader(c.length), c.expected) << c.length;
}

TEST(WriterBlocks, HeadersStandAtEveryCut) {
    const Bytes text = bytes("ABCDEFGHIJ");
    struct Case {
        std::vector<size_t> cuts;
        bool leading;
        Bytes expected;
        uint16_t firstLength;
    };
    const Case cases[] = {
        {{}, false, bytes("ABCDEFGHIJ"), 10},
        {{}, true, concat({blockHeader(10), bytes("ABCDEFGHIJ")}), 10},
        {{3}, false, concat({bytes("ABC"), blockHeader(7), bytes("DEFGHIJ")}), 3},
        {{3, 7}, true, concat({blockHeader(3), bytes("ABC"), blockHeader(4), bytes("DEFG"), blockHeader(3), bytes("HIJ")}), 3},
        // a repeated cut gives an empty block; a cut at the end leaves an empty last block
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

TEST(WriterBlocks, CutInsideDoubleByteCharacterSplitsLeadAndTrail) {
    // あい in Shift-JIS, cut between the lead and trail byte of あ and between CR and LF
    const Bytes text = concat({bytes("\x82\xA0\x82\xA2"), crlf(), endOfText()});
    const BlockRun run = layBlocks(text, {1, 5});
    EXPECT_EQ(run.bytes, (Bytes{0x82, 0xF0, 0x04, 0x00, 0x04, 0xA0, 0x82, 0xA2, 0x0D,
                                0xF0, 0x04, 0x00, 0x02, 0x0A, 0x1A}));
    EXPECT_EQ(run.firstBlockLength, 1);
}

TEST(WriterBlocks, RefusesCutsThatCannotBeLaidOut) {
    const Bytes text(10, 'a');
    EXPECT_THROW(layBlocks(text, {5, 3}), std::invalid_argument);
    EXPECT_THROW(layBlocks(text, {11}), std::invalid_argument);
    const Bytes big(70000, 'a');
    EXPECT_THROW(layBlocks(big, {}), std::invalid_argument);
    const BlockRun run = layBlocks(big, {65535});
    EXPECT_EQ(wordAt(run.bytes, 65535 + 2), 70000 - 65535);
}

TEST(WriterRecords, UnicodeAndSkippedRecords) {
    EXPECT_EQ(ecs4Unicode(0x3042), bytes("\xEF\xCC" "07\xCA" "3042"));
    EXPECT_EQ(ecs4Unicode(0xABCD), bytes("\xEF\xCC" "07\xCA" "ABCD"));
    EXPECT_EQ(ecs4Unicode(0x000F), bytes("\xEF\xCC" "07\xCA" "000F"));
    EXPECT_EQ(skippedRecord({}), bytes("\xEF\xCD" "02"));
    EXPECT_EQ(skippedRecord(bytes("ab")), bytes("\xEF\xCD" "04ab"));
    const Bytes longest = skippedRecord(Bytes(253, 'z'));
    EXPECT_EQ(slice(longest, 0, 4), bytes("\xEF\xCD" "FF"));
    EXPECT_EQ(longest.size(), 4u + 253u);
    EXPECT_THROW(skippedRecord(Bytes(254, 'z')), std::invalid_argument);
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
    const Bytes block = makePropertyBlock(f);
    ASSERT_EQ(block.size(), 1700u);

    struct Expect { size_t offset; Bytes value; };
    const Expect expects[] = {
        {10, {1}},
        {11, Bytes(50, 'T')}, {61, {0}},
        {216, {0x98, 0x12, 0x31, 0x23, 0x59}},
        {221, {0x01, 0x02, 0x03, 0x04, 0x05}},
        {564, {0x12, 0x08}},
        {1280, {3}},
        {1286, Bytes(30, 'A')}, {1316, concat({bytes("comment"), Bytes(73, 0)})},
        {1398, Bytes(16, 'C')}, {1414, concat({bytes("k0"), Bytes(18, 0)})},
        {1414 + 20 * 9, Bytes(20, 'K')}, {1638, concat({bytes("last"), Bytes(26, 0)})}, {1668, Bytes(32, 0)},
    };
    for (const Expect& e : expects) EXPECT_EQ(slice(block, e.offset, e.value.size()), e.value) << "offset " << e.offset;
    // Bytes outside the fields stay zero.
    EXPECT_EQ(slice(block, 0, 10), Bytes(10, 0));
    EXPECT_EQ(slice(block, 566, 1280 - 566), Bytes(1280 - 566, 0));
}

TEST(WriterFormatBlock, SizeCutsTheBlockShortOrPadsIt) {
    PropertyFields f;
    f.size = 565; // the flag word loses its second byte
    f.flagWord = 0x0008;
    EXPECT_EQ(makePropertyBlock(f), concat({Bytes(564, 0), Bytes{0x00}}));
    f.size = 2000;
    const Bytes padded = makePropertyBlock(f);
    ASSERT_EQ(padded.size(), 2000u);
    EXPECT_EQ(padded[565], 0x08);
    EXPECT_EQ(padded[1280], 2); // default block marker
}

TEST(WriterFormatBlock, PutFieldWritesRawBytesAndGrowsTheBlock) {
    Bytes block = makePropertyBlock({});
    putField(block, 1398, std::string(17, 'Q'));
    EXPECT_EQ(slice(block, 1398, 17), Bytes(17, 'Q'));
    Bytes small(4, 0);
    putField(small, 2, "xyz");
    EXPECT_EQ(small, (Bytes{0, 0, 'x', 'y', 'z'}));
}

TEST(WriterCombined, FrameAndEntryStandWhereAsked) {
    CombinedPart part;
    part.name = "A.FMT";
    part.entryOffset = 5;
    part.directoryLength = 40;
    part.blocks = concat({blockHeader(2), bytes("xy")});
    const Bytes doc = makeCombined({part});

    Bytes expected = {0xF1, 0x10, 0x80, 0x00, 0xF7, 0x7E, 0x80, 0x00, 0xF1, 0x11, 0x00, 40};
    Bytes directory(40, 0);
    directory[5] = 0xF4;
    directory[6] = 0xFD;
    const std::string name = "A.FMT";
    std::copy(name.begin(), name.end(), directory.begin() + 5 + 8);
    expected = concat({expected, directory, {0xF1, 0x04, 0x80, 0x00}, blockHeader(2), bytes("xy"),
                       {0xF0, 0, 0, 0}, {0xF0, 0, 0, 0}, {0xF0, 0, 0, 0}});
    EXPECT_EQ(doc, expected);
}

TEST(WriterCombined, OptionalPiecesAreLeftOut) {
    CombinedPart part;
    part.withEntryTag = false;
    part.directoryLength = 3;
    part.endOfBlockList = true;
    part.endOfPart = false;
    const Bytes doc = makeCombined({part}, false);
    EXPECT_EQ(doc, (Bytes{0xF1, 0x10, 0x80, 0x00, 0xF7, 0x7E, 0x80, 0x00, 0xF1, 0x11, 0x00, 0x03, 0, 0, 0,
                          0xF1, 0x04, 0x80, 0x00, 0xF0, 0, 0, 0}));
    part.withEntryTag = true;
    part.rawName = bytes("ABCDEFGH.DOCX");
    part.directoryLength = 21;
    const Bytes raw = makeCombined({part}, false);
    EXPECT_EQ(slice(raw, 12 + 8, 13), bytes("ABCDEFGH.DOCX"));
    part.directoryLength = 20; // the entry needs 21 bytes
    EXPECT_THROW(makeCombined({part}), std::invalid_argument);
}

TEST(WriterCombined, UsualDocumentHasFormatThenBodyBlocks) {
    const Bytes format = makePropertyBlock({});
    const Bytes text = concat({bytes("AB"), crlf(), endOfText()});
    const Bytes doc = makeCombinedDocument(format, text, {1}, "MEMO");
    size_t p = 4;
    auto expectAt = [&](const Bytes& want, const char* what) {
        EXPECT_EQ(slice(doc, p, want.size()), want) << what << " at " << p;
        p += want.size();
    };
    for (const char* name : {"MEMO.FMT", "MEMO.DOC"}) {
        expectAt({0xF7, 0x7E, 0x80, 0x00, 0xF1, 0x11, 0x00, 32}, "part and directory tag");
        EXPECT_EQ(slice(doc, p, 2), (Bytes{0xF4, 0xFD}));
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&doc[p + 8])), name);
        p += 32;
        expectAt({0xF1, 0x04, 0x80, 0x00}, "block list");
        if (std::string(name) == "MEMO.FMT") {
            expectAt(blockHeader(1700), "format block header");
            expectAt(format, "format block");
        } else {
            expectAt(concat({blockHeader(1), bytes("A"), blockHeader(4), bytes("B\r\n\x1A")}), "body");
        }
        expectAt({0xF0, 0, 0, 0, 0xF0, 0, 0, 0}, "end of block list and part");
    }
    expectAt({0xF0, 0, 0, 0}, "end of document");
    EXPECT_EQ(p, doc.size());
}

// Walks a stream list the way a reader must: count at 33 up to CR, entries at CR + 4, first line
// from E + 16, name from c1 + 13, type from c2 + 11, next entry at c3 + 4.
struct ListEntry { std::string lead, firstLine, name, type; };
struct ParsedList { std::string header, count; std::vector<ListEntry> entries; };

ParsedList walkList(const Bytes& list) {
    auto upToCR = [&](size_t from, size_t& cr) {
        cr = from;
        while (cr < list.size() && list[cr] != 0x0D) ++cr;
        return std::string(list.begin() + static_cast<std::ptrdiff_t>(from), list.begin() + static_cast<std::ptrdiff_t>(cr));
    };
    ParsedList parsed;
    parsed.header.assign(list.begin() + 1, list.begin() + 24);
    size_t cr = 0;
    parsed.count = upToCR(33, cr);
    for (size_t e = cr + 4; e < list.size();) {
        ListEntry entry;
        entry.lead.assign(list.begin() + static_cast<std::ptrdiff_t>(e), list.begin() + static_cast<std::ptrdiff_t>(e + 3));
        size_t c1 = 0, c2 = 0, c3 = 0;
        entry.firstLine = upToCR(e + 16, c1);
        entry.name = upToCR(c1 + 13, c2);
        entry.type = upToCR(c2 + 11, c3);
        parsed.entries.push_back(entry);
        e = c3 + 4;
    }
    return parsed;
}

TEST(WriterStreamList, FieldsStandAfterTheFixedGaps) {
    const Bytes list = makeStreamList({{"DOC1.FMT", "2"}, {"DOC1.DOC", "1  ", "OASYS/Win"}});
    const ParsedList parsed = walkList(list);
    EXPECT_EQ(parsed.header.size(), 23u);
    EXPECT_EQ(parsed.count, "2");
    ASSERT_EQ(parsed.entries.size(), 2u);
    EXPECT_EQ(parsed.entries[0].firstLine, "OASYS");
    EXPECT_EQ(parsed.entries[0].name, "DOC1.FMT");
    EXPECT_EQ(parsed.entries[0].type, "2");
    EXPECT_EQ(parsed.entries[1].firstLine, "OASYS/Win");
    EXPECT_EQ(parsed.entries[1].name, "DOC1.DOC");
    EXPECT_EQ(parsed.entries[1].type, "1  ");
    EXPECT_EQ(parsed.entries[1].lead.size(), 3u);

    // Exact sizes: 34 bytes to the count's CR, 3 gap bytes; each entry 3 + 13 + line + CR + 12 +
    // name + CR + 10 + type + CR + 3.
    const size_t entry0 = 3 + 13 + 5 + 1 + 12 + 8 + 1 + 10 + 1 + 1 + 3;
    const size_t entry1 = 3 + 13 + 9 + 1 + 12 + 8 + 1 + 10 + 3 + 1 + 3;
    EXPECT_EQ(list.size(), 33 + 1 + 1 + 3 + entry0 + entry1);
    EXPECT_EQ(list[34], 0x0D);
    // Gap bytes are never CR and never below '0', so a reader that starts a field early is caught.
    for (size_t i : {size_t{0}, size_t{24}, size_t{32}, size_t{35}, size_t{37}})
        EXPECT_GE(list[i], '0') << i;
}

TEST(WriterStreamList, CountTextAndLastEntryWithoutCR) {
    struct Case {
        std::vector<StreamListEntry> entries;
        std::string countText, expectedCount;
    };
    const Case cases[] = {
        {{}, "", "0"},
        {{{"A", "1"}}, "", "1"},
        {{{"A", "1"}}, "00000", "00000"},
        {{{"A", "1"}}, "1a", "1a"},
    };
    for (const Case& c : cases) {
        const ParsedList parsed = walkList(makeStreamList(c.entries, c.countText));
        EXPECT_EQ(parsed.count, c.expectedCount);
        EXPECT_EQ(parsed.entries.size(), c.entries.size());
    }
    StreamListEntry last{"DOC1.DOC", "1"};
    last.lastWithoutCR = true;
    const Bytes list = makeStreamList({{"DOC1.FMT", "2"}, last});
    EXPECT_EQ(list.back(), '1');
    const ParsedList parsed = walkList(list);
    ASSERT_EQ(parsed.entries.size(), 2u);
    EXPECT_EQ(parsed.entries[1].type, "1");
    EXPECT_THROW(makeStreamList({last, {"X", "2"}}), std::invalid_argument);
}

} // namespace
} // namespace oasys_test
