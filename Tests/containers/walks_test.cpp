// Block-run size of OASYS files; the walks over combined and compound documents.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "filter_harness.h"

namespace oasys_test {
namespace {

constexpr uint32_t kLogOnly = KRM_OPT_LOG;
constexpr uint32_t kLogAndGuards = KRM_OPT_LOG | KRM_OPT_LOOP_GUARD;
const std::string kDecoderStart = "GetTextContent() starting\r\n";

CombinedPart part(const std::string& name, const Bytes& blocks) { return {.name = name, .blocks = blocks}; }
Bytes oneBlock(const Bytes& data) { return concat({blockHeader(static_cast<uint16_t>(data.size())), data}); }
CombinedPart formatPart(uint16_t flagWord = 0) { return part("REPORT.FMT", oneBlock(formatBlock(flagWord))); }
CombinedPart bodyPart() { return part("REPORT.DOC", layBlocks(sampleBody(), {}, true).bytes); }

const std::string kList = KRM_STREAM_LIST_NAME;

const std::vector<StreamListEntry> kUsualEntries = {{"DOC1.FMT", "2"}, {"DOC1.DOC", "1"}};

// A compound document with this list and the usual format and body streams.
std::vector<CompoundStream> withList(const Bytes& list, const Bytes& format = formatBlock(),
                                     const Bytes& body = sampleBody()) {
    return {{kList, list}, {"DOC1.FMT", format}, {"DOC1.DOC", body}};
}

// The usual streams with a list of these entries (and this count text).
std::vector<CompoundStream> listing(const std::vector<StreamListEntry>& entries, const std::string& count = "") {
    return withList(makeStreamList(entries, count));
}

class WalkTest : public HostCheckedTest {
protected:
    TempDir dir;
};

FilterRun runCombined(const Bytes& doc, uint32_t flags = kLogOnly) { return readCombined(doc, flagged(flags)); }
FilterRun runCompound(const std::vector<CompoundStream>& streams, uint32_t flags = kLogOnly) {
    return readCompound(streams, flagged(flags));
}


// A file whose first block has `first` data bytes (base 4) followed by `tail`.
Bytes runFile(uint16_t first, const Bytes& tail) { return concat({blockHeader(first), Bytes(first, 'a'), tail}); }
Bytes block(uint16_t length) { return concat({blockHeader(length), Bytes(length, 'b')}); }
const Bytes kEnd = {0xF0, 0x00, 0x00, 0x00};

// Loop counter 1 counts one pass per block after the first; the guard stops the walk when the
// count passes its limit, without writing the size. With guards off nothing is counted.
TEST_F(WalkTest, Ve2SizeMeasuresTheRunOfBlocksFromItsFirstData) {
    constexpr uint32_t kLimit = KRM_LOOP_GUARD_LIMIT;
    const auto emptyBlocks = [](uint32_t n) { return concat({repeated(blockHeader(0), n), kEnd}); };
    const struct {
        const char* what; Bytes content; uint32_t firstLength, size, flags = kLogAndGuards; int32_t code = KRM_OK;
        int32_t counter = -1; // -1: not looked at
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
        {"a base past the end of the file", bytes("\xF0\x04"), 10, 0},
        {"blocks up to the guard", emptyBlocks(kLimit + 1), 0, 4 * kLimit, KRM_OPT_LOOP_GUARD, KRM_OK, kLimit},
        {"one block past the guard", emptyBlocks(kLimit + 2), 0, 0, KRM_OPT_LOOP_GUARD, KRM_ERR_LOOP_GUARD, kLimit + 1},
        {"guards off", emptyBlocks(kLimit + 2), 0, 4 * (kLimit + 1), 0, KRM_OK, 77},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const OpenSource file(dir / "run", c.content);
        HostOptions options = makeOptions("UTF-8", c.flags);
        CallContext context{};
        context.loopCounter1 = 77;
        uint32_t size = c.firstLength;
        EXPECT_EQ(GetVe2Size(file.handle(), 4, &size, &options, &context), c.code);
        EXPECT_EQ(size, c.size);
        if (c.counter != -1) { EXPECT_EQ(context.loopCounter1, c.counter); }
    }
}


// Body block data whose word at 564 carries the password flag.
Bytes bodyWithFlagAt564() { return concat({Bytes(564, 'A'), {0x00, 0x08}, crlf(), endOfText()}); }

TEST_F(WalkTest, PartRolesPasswordAndEndsOfParts) {
    Bytes foreign = makeCombinedDocument(formatBlock(), sampleBody());
    foreign[3] = 0x01; // not the identifier F1 10 80 00
    const Bytes sample = layBlocks(sampleBody(), {}, true).bytes;
    const CombinedPart noBlockListEnd{.name = "REPORT.DOC", .blocks = sample, .endOfBlockList = false, .endOfPart = false};
    const CombinedPart noPartEnd{.name = "REPORT.DOC", .blocks = sample, .endOfPart = false};
    const CombinedPart emptyBody{.name = "REPORT.DOC"}, emptyBodyNoPartEnd{.name = "REPORT.DOC", .endOfPart = false};
    const CombinedPart entryInside{.name = "REPORT.FMT", .entryOffset = 5, .directoryLength = 40,
                                   .blocks = oneBlock(formatBlock())};
    const CombinedPart noEntry{.name = "IGNORED.DOC", .withEntryTag = false, .blocks = oneBlock(bytes("junk"))};
    const CombinedPart flagInSecondBlock = part("REPORT.FMT", concat({oneBlock(formatBlock(0)), oneBlock(formatBlock(0x0008))}));
    // A part name of 13 bytes without NUL is those bytes only: the ".DO" at its end must not run into
    // the "C" that follows it in the directory and make the part (text "Wrong") a body.
    const Bytes rawName = bytes("ABCDEFGHIJ.DO");
    Bytes nameRunsOn = makeCombined({{.rawName = rawName, .blocks = oneBlock(body("Wrong\r\n"))}, formatPart(), bodyPart()});
    *(std::search(nameRunsOn.begin(), nameRunsOn.end(), rawName.begin(), rawName.end()) + 13) = 'C';

    const struct { const char* what; Bytes doc; int32_t code; bool decoderRuns; } cases[] = {
        {"name of 13 bytes without NUL", nameRunsOn, KRM_OK, true},
        {"not a combined document", foreign, KRM_ERR_BROKEN, false},
        {"body only", makeCombined({bodyPart()}), KRM_OK, true},
        {"password in the format part", makeCombined({formatPart(0x0008), bodyPart()}), KRM_ERR_PASSWORD, false},
        {"only the first format block is tested", makeCombined({flagInSecondBlock, bodyPart()}), KRM_OK, true},
        {"format without blocks, flag in the body's first block",
         makeCombined({part("REPORT.FMT", {}), part("REPORT.DOC", oneBlock(bodyWithFlagAt564()))}), KRM_ERR_PASSWORD, false},
        {"lower-case names", makeCombined({part("report.fmt", oneBlock(formatBlock())), part("report.doc", {})}),
         KRM_ERR_BROKEN, false},
        {"no body part", makeCombined({formatPart()}), KRM_ERR_BROKEN, false},
        {"body without blocks", makeCombined({formatPart(), emptyBody}), KRM_OK, false},
        {"body without blocks nor end of part", makeCombined({formatPart(), emptyBodyNoPartEnd}, false),
         KRM_ERR_BROKEN, false},
        {"body without end of part", makeCombined({formatPart(), noPartEnd}, false), KRM_OK, true},
        {"body without end of block list", makeCombined({formatPart(), noBlockListEnd}, false), KRM_ERR_BROKEN, true},
        {"entry tag 5 bytes into the directory", makeCombined({entryInside, bodyPart()}), KRM_OK, true},
        {"a part without entry is skipped", makeCombined({noEntry, formatPart(), bodyPart()}), KRM_OK, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const FilterRun run = runCombined(c.doc);
        EXPECT_EQ(run.code, c.code);
        EXPECT_EQ(hasLine(run.log, kDecoderStart), c.decoderRuns);
        // The reader leaves what the decoder wrote; removing a failed output is the entry's task.
        EXPECT_EQ(run.text, c.decoderRuns ? "Hello\r\nWorld\r\n" : "");
    }
}


TEST_F(WalkTest, ListLookupsPasswordAndBodyStream) {
    const std::string longName = "ABCDEFGHIJKL.DOC";    // 16 characters: one too many
    const std::string longestName = "ABCDEFGHIJK.DOC";  // 15 characters
    const Bytes usualList = makeStreamList(kUsualEntries);
    const struct { const char* what; std::vector<CompoundStream> streams; int32_t code; bool bodyOpened; } cases[] = {
        {"usual document", listing(kUsualEntries), KRM_OK, true},
        {"count 0", listing(kUsualEntries, "0"), KRM_ERR_BROKEN, false},
        {"count 00000", listing(kUsualEntries, "00000"), KRM_ERR_BROKEN, false},
        {"count larger than the list", listing(kUsualEntries, "9"), KRM_OK, true},
        {"letter in the count", listing(kUsualEntries, "1a"), KRM_ERR_BROKEN, false},
        {"only a body entry", listing({{"DOC1.DOC", "1"}}), KRM_ERR_BROKEN, false},
        {"type 2 followed by spaces", listing({{"DOC1.FMT", "2  "}, {"DOC1.DOC", "1"}}), KRM_OK, true},
        // A type field is read as base-256 digits, lowest first: "10" is 1, "01" is 256.
        {"body type 10", listing({{"DOC1.FMT", "2"}, {"DOC1.DOC", "10"}}), KRM_OK, true},
        {"type 01 is 256, no format", listing({{"DOC1.FMT", "01"}, {"DOC1.DOC", "1"}}), KRM_ERR_BROKEN, false},
        {"last type without CR", listing({{"DOC1.FMT", "2"}, {"DOC1.DOC", "1", "OASYS", true}}), KRM_OK, true},
        {"empty body stream", withList(usualList, formatBlock(), {}), KRM_ERR_BROKEN, true},
        {"password-protected format stream", withList(usualList, formatBlock(0x0018)), KRM_ERR_PASSWORD, false},
        {"listed format stream missing", {{kList, usualList}, {"DOC1.DOC", sampleBody()}}, KRM_ERR_BROKEN, false},
        {"listed body stream missing", {{kList, usualList}, {"DOC1.FMT", formatBlock()}}, KRM_ERR_BROKEN, true},
        {"body name of 16 characters is refused",
         {{kList, makeStreamList({{"DOC1.FMT", "2"}, {longName, "1"}})}, {"DOC1.FMT", formatBlock()},
          {longName, sampleBody()}},
         KRM_ERR_BROKEN, false},
        {"long name of another type is passed over", listing({{longName, "3"}, {"DOC1.FMT", "2"}, {"DOC1.DOC", "1"}}),
         KRM_OK, true},
        {"body name of 15 characters",
         {{kList, makeStreamList({{"DOC1.FMT", "2"}, {longestName, "1"}})}, {"DOC1.FMT", formatBlock()},
          {longestName, sampleBody()}},
         KRM_OK, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const FilterRun run = runCompound(c.streams);
        EXPECT_EQ(run.code, c.code);
        const auto startsWith = [](const char* prefix) {
            return [prefix](const std::string& line) { return line.rfind(prefix, 0) == 0; };
        };
        EXPECT_EQ(run.log.size() > 6 && startsWith("Open stream: ")(run.log[6]), c.bodyOpened);
        EXPECT_EQ(hasLine(run.log, kDecoderStart), c.code != KRM_ERR_BROKEN && c.bodyOpened);
        EXPECT_EQ(run.text.find("Hello") != std::string::npos, c.code == KRM_OK);
        // Every stream opened is closed with its own log line; only one that failed to open has none.
        const auto opens = std::count_if(run.log.begin(), run.log.end(), startsWith("Open stream: "));
        const auto closes = std::count_if(run.log.begin(), run.log.end(), startsWith("Close stream: "));
        EXPECT_TRUE(opens == closes || (c.code == KRM_ERR_BROKEN && opens == closes + 1)) << opens << " " << closes;
    }
}

// The exported list lookup given no list record, entry, options or context finds nothing; the
// compound reader without options or context refuses the document.
TEST_F(WalkTest, StreamLookupWithoutItsRecordsFindsNothing) {
    StreamListInfo info{};
    StreamEntry entry{};
    HostOptions options = makeOptions("UTF-8");
    CallContext context{};
    EXPECT_EQ(GetStreamInf(nullptr, &entry, 0, KRM_STREAM_TYPE_BODY, &options, &context), 0);
    EXPECT_EQ(GetStreamInf(&info, nullptr, 0, KRM_STREAM_TYPE_BODY, &options, &context), 0);
    EXPECT_EQ(GetStreamInf(&info, &entry, 0, KRM_STREAM_TYPE_BODY, nullptr, &context), 0);
    EXPECT_EQ(GetStreamInf(&info, &entry, 0, KRM_STREAM_TYPE_BODY, &options, nullptr), 0);
    uint32_t position = 0;
    EXPECT_EQ(GetStreamCount(0, nullptr, &info) + GetStreamCount(0, &position, nullptr), 0u);
    EXPECT_EQ(GetOleTextContent(0, 0, nullptr, nullptr, &context), KRM_ERR_BROKEN);
    EXPECT_EQ(GetOleTextContent(0, 0, nullptr, &options, nullptr), KRM_ERR_BROKEN);
}


// Each test for a block of a part's block list is a guarded step on counter 4, the final test that
// finds the end of the list included; each part is a pass of the part loop on counter 3 (parts
// without a name entry have no role, so a document of nothing else ends with 3000 unless the guard
// stops it first); each byte of a stream list field, its CR included, is a step on counter 4.
TEST_F(WalkTest, LoopGuardsStopPastTheirLimit) {
    const CombinedPart nameless{.withEntryTag = false, .directoryLength = 0};
    const Bytes docBegin = {0xF1, 0x10, 0x80, 0x00};
    const Bytes namelessDoc = makeCombined({nameless}, false);
    const Bytes onePart(namelessDoc.begin() + static_cast<std::ptrdiff_t>(docBegin.size()), namelessDoc.end());
    const auto blocks = [&](uint32_t n, uint32_t flags) {
        return runCombined(makeCombined({part("MANY.FMT", repeated(blockHeader(0), n)), bodyPart()}), flags).code;
    };
    const auto parts = [&](uint32_t n, uint32_t flags) {
        return runCombined(concat({docBegin, repeated(onePart, n), kEnd}), flags).code;
    };
    const auto field = [&](uint32_t n, uint32_t flags) {
        return runCompound(listing({{"DOC1.FMT", "2", std::string(n, 'y')}, {"DOC1.DOC", "1"}}), flags).code;
    };
    constexpr uint32_t kLimit = KRM_LOOP_GUARD_LIMIT;
    const struct {
        const char* what;
        std::function<int32_t(uint32_t n, uint32_t flags)> run;
        uint32_t n;
        uint32_t flags;
        int32_t code;
    } cases[] = {
        {"blocks at the limit", blocks, kLimit - 1, KRM_OPT_LOOP_GUARD, KRM_OK},
        {"blocks past the limit", blocks, kLimit, KRM_OPT_LOOP_GUARD, KRM_ERR_LOOP_GUARD},
        {"blocks past the limit, guards off", blocks, kLimit, 0, KRM_OK},
        {"parts at the limit", parts, kLimit, KRM_OPT_LOOP_GUARD, KRM_ERR_BROKEN},
        {"parts past the limit", parts, kLimit + 1, KRM_OPT_LOOP_GUARD, KRM_ERR_LOOP_GUARD},
        {"parts past the limit, guards off", parts, kLimit + 1, 0, KRM_ERR_BROKEN},
        {"list field at the limit", field, kLimit - 1, KRM_OPT_LOOP_GUARD, KRM_OK},
        {"list field past the limit", field, kLimit, KRM_OPT_LOOP_GUARD, KRM_ERR_LOOP_GUARD},
        {"list field past the limit, guards off", field, kLimit, 0, KRM_OK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.run(c.n, c.flags), c.code);
    }
}

// A document or stream list cut at any length ends the walk with a code, never a crash or an
// endless loop. A combined document succeeds once its body's block list is closed (the ends of the
// part and of the document may be missing), a compound document once the body entry's type digit
// is there (the last type field may end with the stream).
TEST_F(WalkTest, DocumentOrListCutAtEveryLengthEndsWithACode) {
    const Bytes doc = makeCombinedDocument(formatBlock(0, 600), sampleBody(), {4, 9});
    const Bytes list = makeStreamList({{"DOC1.FMT", "2"}, {"DOC1.DOC", "1"}});
    const size_t bodyTypeDigit = list.size() - 5;  // then CR and three bytes
    ASSERT_EQ(list[bodyTypeDigit], '1');
    const auto cut = [](const Bytes& whole, size_t length) {
        return Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
    };
    const std::string text = runCombined(doc).text;
    ASSERT_NE(text.find("World"), std::string::npos);
    for (const uint32_t flags : {0u, static_cast<uint32_t>(KRM_OPT_LOOP_GUARD)}) {
        for (size_t length = 0; length < doc.size(); ++length) {
            SCOPED_TRACE(testing::Message() << "combined, " << length << " bytes");
            const FilterRun run = runCombined(cut(doc, length), flags);
            const bool complete = length >= doc.size() - 2 * kEnd.size();
            EXPECT_EQ(run.code == KRM_OK, complete) << run.code;
            if (complete) { EXPECT_EQ(run.text, text); }
            if (HasFailure()) return;
        }
        for (size_t length = 0; length <= list.size(); ++length) {
            SCOPED_TRACE(testing::Message() << "stream list, " << length << " bytes");
            const FilterRun run = runCompound(
                {{KRM_STREAM_LIST_NAME, cut(list, length)}, {"DOC1.FMT", formatBlock()}, {"DOC1.DOC", sampleBody()}},
                flags);
            EXPECT_EQ(run.code, length > bodyTypeDigit ? KRM_OK : KRM_ERR_BROKEN);
            if (HasFailure()) return;
        }
    }
}

}  // namespace
}  // namespace oasys_test
