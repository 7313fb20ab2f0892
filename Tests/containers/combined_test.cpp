// The walk over combined documents (format code 10001).
#include <gtest/gtest.h>

#include <algorithm>

#include "container_support.h"

namespace oasys_test {
namespace {

const std::string kWalkStart = " in GetDocTextContent() starting\r\n";
const std::string kWalkEnd = " in GetDocTextContent() end\r\n";
std::string walkStart(int loop) { return "LOOP(do..while.) " + std::to_string(loop) + kWalkStart; }
std::string walkEnd(int loop) { return "LOOP(do..while.) " + std::to_string(loop) + kWalkEnd; }
const std::string kDecoderStart = "GetTextContent() starting\r\n";
const std::string kDecoderEnd = "GetTextContent() end\r\n";
const Bytes kEndId = {0xF0, 0x00, 0x00, 0x00};

CombinedPart part(const std::string& name, const Bytes& blocks) {
    CombinedPart p;
    p.name = name;
    p.blocks = blocks;
    return p;
}
Bytes oneBlock(const Bytes& data) { return concat({blockHeader(static_cast<uint16_t>(data.size())), data}); }
CombinedPart formatPart(uint16_t flagWord = 0) { return part("REPORT.FMT", oneBlock(formatBlock(flagWord))); }
CombinedPart bodyPart(const Bytes& text = sampleBody()) {
    return part("REPORT.DOC", layBlocks(text, {}, true).bytes);
}

using CombinedTest = ContainerTest;

TEST_F(CombinedTest, WellFormedDocumentLogsEveryStepInOrder) {
    const ReaderRun run = runCombined(makeCombinedDocument(formatBlock(), sampleBody()));
    EXPECT_EQ(run.code, KRM_OK);
    const std::vector<std::string> head = {
        walkStart(1),
        walkStart(2), "Fileread sep filename:REPORT.FMT\r\n", walkEnd(2),
        walkStart(3), walkEnd(3),
        walkStart(2), "Fileread sep filename:REPORT.DOC\r\n", walkEnd(2),
        walkStart(3),
        "LOOP(while.) 1 in GetVe2Size() starting\r\n", "LOOP(while.) 1 in GetVe2Size() end\r\n",
        kDecoderStart};
    const std::vector<std::string> tail = {kDecoderEnd, walkEnd(3), walkEnd(1)};
    ASSERT_GE(run.log.size(), head.size() + tail.size());
    EXPECT_TRUE(std::equal(head.begin(), head.end(), run.log.begin()));
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), run.log.end() - static_cast<std::ptrdiff_t>(tail.size())));
    // Between the two, only the decoder speaks.
    for (auto line = run.log.begin() + static_cast<std::ptrdiff_t>(head.size());
         line != run.log.end() - static_cast<std::ptrdiff_t>(tail.size()); ++line)
        EXPECT_EQ(line->find("GetDocTextContent"), std::string::npos) << *line;
    EXPECT_NE(run.text.find("Hello"), std::string::npos);
    EXPECT_NE(run.text.find("World"), std::string::npos);
}

TEST_F(CombinedTest, ForeignFileIsRefusedBeforeAnythingIsLogged) {
    Bytes doc = makeCombinedDocument(formatBlock(), sampleBody());
    doc[3] = 0x01;
    const ReaderRun run = runCombined(doc);
    EXPECT_EQ(run.code, KRM_ERR_BROKEN);
    EXPECT_TRUE(run.log.empty());
}

// A body that lies in many blocks, cut inside words and between CR and LF, gives the same text.
TEST_F(CombinedTest, BodyCutIntoBlocksGivesTheSameText) {
    const ReaderRun whole = runCombined(makeCombinedDocument(formatBlock(), sampleBody()));
    const ReaderRun cut = runCombined(makeCombinedDocument(formatBlock(), sampleBody(), {1, 3, 6, 7, 12}));
    EXPECT_EQ(whole.code, KRM_OK);
    EXPECT_EQ(cut.code, KRM_OK);
    EXPECT_EQ(cut.text, whole.text);
}

struct WalkCase {
    const char* what;
    Bytes doc;
    int32_t code;
    bool decoderRuns;
};

// Body block data whose word at 564 carries the password flag.
Bytes bodyWithFlagAt564() {
    Bytes data(564, 'A');
    const Bytes rest = concat({{0x00, 0x08}, crlf(), endOfText()});
    data.insert(data.end(), rest.begin(), rest.end());
    return data;
}

TEST_F(CombinedTest, PartRolesPasswordAndEndsOfParts) {
    CombinedPart noBlockListEnd = bodyPart();
    noBlockListEnd.endOfBlockList = false;
    noBlockListEnd.endOfPart = false;
    CombinedPart noPartEnd = bodyPart();
    noPartEnd.endOfPart = false;
    CombinedPart emptyBody = part("REPORT.DOC", {});
    CombinedPart emptyBodyNoPartEnd = emptyBody;
    emptyBodyNoPartEnd.endOfPart = false;
    CombinedPart entryInside = formatPart();
    entryInside.entryOffset = 5;
    entryInside.directoryLength = 40;
    CombinedPart noEntry = part("IGNORED.DOC", oneBlock(bytes("junk")));
    noEntry.withEntryTag = false;
    CombinedPart emptyFormat = part("REPORT.FMT", {});
    CombinedPart flagInSecondBlock =
        part("REPORT.FMT", concat({oneBlock(formatBlock(0)), oneBlock(formatBlock(0x0008))}));

    const WalkCase cases[] = {
        {"format then body", makeCombined({formatPart(), bodyPart()}), KRM_OK, true},
        {"body only", makeCombined({bodyPart()}), KRM_OK, true},
        {"password in the format part", makeCombined({formatPart(0x0008), bodyPart()}), KRM_ERR_PASSWORD, false},
        {"other bits beside the password bit", makeCombined({formatPart(0xFFFF), bodyPart()}), KRM_ERR_PASSWORD,
         false},
        {"all bits but the password bit", makeCombined({formatPart(0xFFF7), bodyPart()}), KRM_OK, true},
        {"only the first format block is tested", makeCombined({flagInSecondBlock, bodyPart()}), KRM_OK, true},
        {"format without blocks, flag in the body's first block",
         makeCombined({emptyFormat, part("REPORT.DOC", oneBlock(bodyWithFlagAt564()))}), KRM_ERR_PASSWORD, false},
        {"format without blocks, plain body", makeCombined({emptyFormat, bodyPart()}), KRM_OK, true},
        {"lower-case names", makeCombined({part("report.fmt", oneBlock(formatBlock())), part("report.doc", {})}),
         KRM_ERR_BROKEN, false},
        {"no body part", makeCombined({formatPart()}), KRM_ERR_BROKEN, false},
        {"body without blocks", makeCombined({formatPart(), emptyBody}), KRM_OK, false},
        {"body without blocks nor end of part", makeCombined({formatPart(), emptyBodyNoPartEnd}, false),
         KRM_ERR_BROKEN, false},
        {"body without end of part", makeCombined({formatPart(), noPartEnd}, false), KRM_OK, true},
        {"body without end of block list", makeCombined({formatPart(), noBlockListEnd}, false), KRM_ERR_BROKEN,
         true},
        {"entry tag 5 bytes into the directory", makeCombined({entryInside, bodyPart()}), KRM_OK, true},
        {"a part without entry is skipped", makeCombined({noEntry, formatPart(), bodyPart()}), KRM_OK, true},
        {"only parts without entry", makeCombined({noEntry, noEntry}), KRM_ERR_BROKEN, false},
        {"no part at all", makeCombined({}), KRM_ERR_BROKEN, false},
    };
    for (const WalkCase& c : cases) {
        SCOPED_TRACE(c.what);
        const ReaderRun run = runCombined(c.doc);
        EXPECT_EQ(run.code, c.code);
        EXPECT_EQ(hasLine(run.log, kDecoderStart), c.decoderRuns);
        // The reader leaves what the decoder wrote; removing a failed output is the entry's task.
        EXPECT_EQ(run.text.find("Hello") != std::string::npos, c.decoderRuns);
        expectHostCountersZero();
    }
}

TEST_F(CombinedTest, NamesAreLoggedAndOnlyTheDocumentEndAfterAPartEndsTheWalk) {
    const ReaderRun run =
        runCombined(makeCombined({part("report.fmt", oneBlock(formatBlock())), part("REPORT.TXT", {})}));
    EXPECT_EQ(run.code, KRM_ERR_BROKEN);
    EXPECT_TRUE(hasLine(run.log, "Fileread sep filename:report.fmt\r\n"));
    EXPECT_TRUE(hasLine(run.log, "Fileread sep filename:REPORT.TXT\r\n"));
    ASSERT_FALSE(run.log.empty());
    EXPECT_EQ(run.log.back(), walkEnd(1));
}

// A part name of 13 bytes without NUL is the 13 bytes only: the ".DO" at its end must not run into
// the "C" that follows it in the directory and make the part a body.
TEST_F(CombinedTest, NameWithoutNulIsSearchedInItsThirteenBytesOnly) {
    CombinedPart unterminated = part("", oneBlock(concat({bytes("Wrong"), crlf(), endOfText()})));
    unterminated.rawName = bytes("ABCDEFGHIJ.DO");
    Bytes doc = makeCombined({unterminated, formatPart(), bodyPart()});
    const Bytes rawName = bytes("ABCDEFGHIJ.DO");
    const auto name = std::search(doc.begin(), doc.end(), rawName.begin(), rawName.end());
    ASSERT_NE(name, doc.end());
    *(name + static_cast<std::ptrdiff_t>(rawName.size())) = 'C';

    const ReaderRun run = runCombined(doc);
    EXPECT_EQ(run.code, KRM_OK);
    EXPECT_TRUE(hasLine(run.log, "Fileread sep filename:ABCDEFGHIJ.DO\r\n"));
    EXPECT_EQ(run.text.find("Wrong"), std::string::npos);
    EXPECT_NE(run.text.find("Hello"), std::string::npos);
}

TEST_F(CombinedTest, LoopCountersMoveOnlyWithLoopGuardsOn) {
    const Bytes doc = makeCombinedDocument(formatBlock(), sampleBody());
    CallContext preset{};
    preset.loopCounter1 = 11;
    preset.loopCounter2 = 22;
    preset.loopCounter3 = 33;
    preset.loopCounter4 = 44;

    const ReaderRun off = runCombined(doc, kLogOnly, preset);
    EXPECT_EQ(off.code, KRM_OK);
    EXPECT_EQ(off.context.loopCounter1, 11);
    EXPECT_EQ(off.context.loopCounter2, 22);
    EXPECT_EQ(off.context.loopCounter3, 33);
    EXPECT_EQ(off.context.loopCounter4, 44);

    const ReaderRun on = runCombined(doc, kLogAndGuards, preset);
    EXPECT_EQ(on.code, KRM_OK);
    EXPECT_EQ(on.context.loopCounter3, 2);  // one pass per part
    EXPECT_EQ(on.context.loopCounter4, 1);  // the body part's one guarded step
    EXPECT_EQ(on.text, off.text);
}

// Every test for a block in a part's block list counts on loop counter 4, the final test that
// finds the end of the list included.
TEST_F(CombinedTest, BlockLoopGuardStopsAPartWithTooManyBlocks) {
    struct GuardCase {
        uint32_t blocks;
        uint32_t flags;
        int32_t code;
    };
    const GuardCase cases[] = {
        {KRM_LOOP_GUARD_LIMIT - 1, kLogAndGuards, KRM_OK},
        {KRM_LOOP_GUARD_LIMIT, kLogAndGuards, KRM_ERR_LOOP_GUARD},
        {KRM_LOOP_GUARD_LIMIT, kLogOnly, KRM_OK},
    };
    for (const GuardCase& c : cases) {
        SCOPED_TRACE(c.blocks);
        Bytes blocks;
        blocks.reserve(4 * c.blocks);
        for (uint32_t i = 0; i < c.blocks; ++i) {
            const Bytes header = blockHeader(0);
            blocks.insert(blocks.end(), header.begin(), header.end());
        }
        const ReaderRun run =
            runCombined(makeCombined({part("MANY.FMT", blocks), bodyPart()}), c.flags & ~KRM_OPT_LOG);
        EXPECT_EQ(run.code, c.code);
    }
}

// Each part is one pass of the part loop on loop counter 3. Parts without a name entry have no
// role, so a document of nothing else ends at its document end with 3000 unless the guard stops
// the walk first.
TEST_F(CombinedTest, PartLoopGuardStopsADocumentWithTooManyParts) {
    CombinedPart nameless;
    nameless.withEntryTag = false;
    nameless.directoryLength = 0;
    const Bytes docBegin = {0xF1, 0x10, 0x80, 0x00};
    const Bytes onePart = [&] {
        const Bytes doc = makeCombined({nameless}, false);
        return Bytes(doc.begin() + static_cast<std::ptrdiff_t>(docBegin.size()), doc.end());
    }();
    struct GuardCase {
        uint32_t parts;
        uint32_t flags;
        int32_t code;
    };
    const GuardCase cases[] = {
        {KRM_LOOP_GUARD_LIMIT, KRM_OPT_LOOP_GUARD, KRM_ERR_BROKEN},
        {KRM_LOOP_GUARD_LIMIT + 1, KRM_OPT_LOOP_GUARD, KRM_ERR_LOOP_GUARD},
        {KRM_LOOP_GUARD_LIMIT + 1, 0, KRM_ERR_BROKEN},
    };
    for (const GuardCase& c : cases) {
        SCOPED_TRACE(c.parts);
        Bytes doc = docBegin;
        doc.reserve(docBegin.size() + onePart.size() * c.parts + kEndId.size());
        for (uint32_t i = 0; i < c.parts; ++i) doc.insert(doc.end(), onePart.begin(), onePart.end());
        doc.insert(doc.end(), kEndId.begin(), kEndId.end());
        const ReaderRun run = runCombined(doc, c.flags);
        EXPECT_EQ(run.code, c.code);
    }
}

// A document cut at any length ends the walk with a code (never a crash or an endless loop);
// only once the body's block list is closed does the walk succeed.
TEST_F(CombinedTest, DocumentCutAtEveryLengthEndsWithACode) {
    const Bytes doc = makeCombinedDocument(formatBlock(0, 600), sampleBody(), {4, 9});
    const size_t lastTwoEnds = 2 * kEndId.size();  // end of the body part and of the document
    const ReaderRun full = runCombined(doc);
    ASSERT_EQ(full.code, KRM_OK);
    for (const uint32_t flags : {0u, static_cast<uint32_t>(KRM_OPT_LOOP_GUARD)}) {
        for (size_t length = 0; length < doc.size(); ++length) {
            SCOPED_TRACE(length);
            const ReaderRun run = runCombined(Bytes(doc.begin(), doc.begin() + static_cast<std::ptrdiff_t>(length)),
                                              flags);
            if (length >= doc.size() - lastTwoEnds) {
                EXPECT_EQ(run.code, KRM_OK);
                EXPECT_EQ(run.text, full.text);
            } else {
                EXPECT_NE(run.code, KRM_OK);
            }
            expectHostCountersZero();
            if (HasFailure()) return;
        }
    }
}

// ---- Through the text entry point ---------------------------------------------------------------

TEST_F(CombinedTest, EntryPointReadsACombinedDocument) {
    const auto source = dir / "report.oas";
    const auto output = dir / "out.txt";
    const uint16_t format = KRM_FORMAT_COMBINED;
    HostOptions options = makeOptions("UTF-8", kLogOnly);

    writeFile(source, makeCombinedDocument(formatBlock(), sampleBody()));
    ASSERT_EQ(GetTextWithErrCallback(source.c_str(), output.c_str(), &options, &format, 0), KRM_OK);
    const Bytes text = readFile(output);
    EXPECT_NE(std::string(text.begin(), text.end()).find("World"), std::string::npos);
    const auto log = readLogLines(dir / "out.txt.ve2.log");
    EXPECT_LT(indexOfLine(log, "GetDocContent() starting\r\n"), indexOfLine(log, walkStart(1)));
    EXPECT_LT(indexOfLine(log, walkEnd(1)), indexOfLine(log, "GetDocContent() end\r\n"));
    expectHostCountersZero();

    std::filesystem::remove(output);
    writeFile(source, makeCombinedDocument(formatBlock(0x0008), sampleBody()));
    EXPECT_EQ(GetTextWithErrCallback(source.c_str(), output.c_str(), &options, &format, 0), KRM_ERR_PASSWORD);
    EXPECT_FALSE(std::filesystem::exists(output));
}

}  // namespace
}  // namespace oasys_test
