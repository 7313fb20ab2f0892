// Compound documents (format code 10002): the stream list and the walk over its streams.
#include <gtest/gtest.h>

#include <cstring>

#include "container_support.h"

namespace oasys_test {
namespace {

const std::string kList = KRM_STREAM_LIST_NAME;
std::string openLine(const std::string& name) { return "Open stream: " + name + "\r\n"; }
std::string closeLine(const std::string& name) { return "Close stream: " + name + "\r\n"; }
const std::string kDecoderStart = "GetTextContent() starting\r\n";
const std::string kDecoderEnd = "GetTextContent() end\r\n";

const std::vector<StreamListEntry> kUsualEntries = {{"DOC1.FMT", "2"}, {"DOC1.DOC", "1"}};

// A compound document with this list and the usual format and body streams.
std::vector<CompoundStream> withList(const Bytes& list, const Bytes& format = formatBlock(),
                                     const Bytes& body = sampleBody()) {
    return {{kList, list}, {"DOC1.FMT", format}, {"DOC1.DOC", body}};
}

using CompoundTest = ContainerTest;

TEST_F(CompoundTest, StreamsAreOpenedOneAtATimeInAFixedOrder) {
    // The body is listed before the format stream; the format stream is still read first.
    const ReaderRun run = runCompound(withList(makeStreamList({{"DOC1.DOC", "1"}, {"DOC1.FMT", "2"}})));
    EXPECT_EQ(run.code, KRM_OK);
    const std::vector<std::string> head = {openLine(kList),     closeLine(kList),   openLine("DOC1.FMT"),
                                           closeLine("DOC1.FMT"), openLine(kList),  closeLine(kList),
                                           openLine("DOC1.DOC"),  kDecoderStart};
    const std::vector<std::string> tail = {kDecoderEnd, closeLine("DOC1.DOC")};
    ASSERT_GE(run.log.size(), head.size() + tail.size());
    EXPECT_TRUE(std::equal(head.begin(), head.end(), run.log.begin()));
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), run.log.end() - static_cast<std::ptrdiff_t>(tail.size())));
    EXPECT_NE(run.text.find("Hello"), std::string::npos);
}

TEST_F(CompoundTest, MissingListStreamIsLoggedWithoutAClose) {
    const ReaderRun run = runCompound({{"DOC1.FMT", formatBlock()}, {"DOC1.DOC", sampleBody()}});
    EXPECT_EQ(run.code, KRM_ERR_BROKEN);
    EXPECT_EQ(run.log, std::vector<std::string>{openLine(kList)});
}

struct CompoundCase {
    const char* what;
    std::vector<CompoundStream> streams;
    int32_t code;
    bool bodyOpened;
};

TEST_F(CompoundTest, ListLookupsPasswordAndBodyStream) {
    const std::string longName = "ABCDEFGHIJKL.DOC";    // 16 characters: one too many
    const std::string longestName = "ABCDEFGHIJK.DOC";  // 15 characters
    const CompoundCase cases[] = {
        {"usual document", withList(makeStreamList(kUsualEntries)), KRM_OK, true},
        {"count 0", withList(makeStreamList(kUsualEntries, "0")), KRM_ERR_BROKEN, false},
        {"count 00000", withList(makeStreamList(kUsualEntries, "00000")), KRM_ERR_BROKEN, false},
        {"count 00001", withList(makeStreamList(kUsualEntries, "00001")), KRM_OK, true},
        {"count larger than the list", withList(makeStreamList(kUsualEntries, "9")), KRM_OK, true},
        {"letter in the count", withList(makeStreamList(kUsualEntries, "1a")), KRM_ERR_BROKEN, false},
        {"letter as the count", withList(makeStreamList(kUsualEntries, "B")), KRM_ERR_BROKEN, false},
        {"only a body entry", withList(makeStreamList({{"DOC1.DOC", "1"}})), KRM_ERR_BROKEN, false},
        {"only a format entry", withList(makeStreamList({{"DOC1.FMT", "2"}})), KRM_ERR_BROKEN, false},
        {"type 2 followed by spaces", withList(makeStreamList({{"DOC1.FMT", "2  "}, {"DOC1.DOC", "1"}})), KRM_OK,
         true},
        {"type led by a space", withList(makeStreamList({{"DOC1.FMT", " 2"}, {"DOC1.DOC", "1"}})), KRM_OK, true},
        {"type 01 is 256, no format", withList(makeStreamList({{"DOC1.FMT", "01"}, {"DOC1.DOC", "1"}})),
         KRM_ERR_BROKEN, false},
        {"last type without CR", withList(makeStreamList({{"DOC1.FMT", "2"}, {"DOC1.DOC", "1", "OASYS", true}})),
         KRM_OK, true},
        {"last type without CR, no body",
         withList(makeStreamList({{"DOC1.FMT", "2"}, {"DOC1.TXT", "3", "OASYS", true}})), KRM_ERR_BROKEN, false},
        {"empty body stream", withList(makeStreamList(kUsualEntries), formatBlock(), {}), KRM_ERR_BROKEN, true},
        {"password-protected format stream", withList(makeStreamList(kUsualEntries), formatBlock(0x0018)),
         KRM_ERR_PASSWORD, false},
        {"listed format stream missing", {{kList, makeStreamList(kUsualEntries)}, {"DOC1.DOC", sampleBody()}},
         KRM_ERR_BROKEN, false},
        {"listed body stream missing", {{kList, makeStreamList(kUsualEntries)}, {"DOC1.FMT", formatBlock()}},
         KRM_ERR_BROKEN, true},
        {"body name of 16 characters is refused",
         {{kList, makeStreamList({{"DOC1.FMT", "2"}, {longName, "1"}})},
          {"DOC1.FMT", formatBlock()},
          {longName, sampleBody()}},
         KRM_ERR_BROKEN, false},
        {"long name of another type is passed over",
         withList(makeStreamList({{longName, "3"}, {"DOC1.FMT", "2"}, {"DOC1.DOC", "1"}})), KRM_OK, true},
        {"body name of 15 characters",
         {{kList, makeStreamList({{"DOC1.FMT", "2"}, {longestName, "1"}})},
          {"DOC1.FMT", formatBlock()},
          {longestName, sampleBody()}},
         KRM_OK, true},
    };
    for (const CompoundCase& c : cases) {
        SCOPED_TRACE(c.what);
        const ReaderRun run = runCompound(c.streams);
        EXPECT_EQ(run.code, c.code);
        const bool bodyOpened = run.log.size() > 6 && run.log[6].rfind("Open stream: ", 0) == 0;
        EXPECT_EQ(bodyOpened, c.bodyOpened);
        EXPECT_EQ(hasLine(run.log, kDecoderStart), c.code != KRM_ERR_BROKEN && c.bodyOpened);
        EXPECT_EQ(run.text.find("Hello") != std::string::npos, c.code == KRM_OK);
        // Every stream that was opened was closed again, with its own log line.
        size_t opens = 0, closes = 0;
        for (const std::string& line : run.log) {
            opens += line.rfind("Open stream: ", 0) == 0;
            closes += line.rfind("Close stream: ", 0) == 0;
        }
        EXPECT_LE(opens - closes, 1u);  // only a stream that could not be opened has no close
        if (c.code != KRM_ERR_BROKEN) {
            EXPECT_EQ(opens, closes);
        }
        expectHostCountersZero();
    }
}

TEST_F(CompoundTest, LoopCountersMoveOnlyWithLoopGuardsOn) {
    CallContext preset{};
    preset.loopCounter3 = 33;
    preset.loopCounter4 = 44;
    const auto streams = withList(makeStreamList({{"DOC1.DOC", "1"}, {"DOC1.FMT", "2"}}));
    const ReaderRun off = runCompound(streams, kLogOnly, preset);
    EXPECT_EQ(off.code, KRM_OK);
    EXPECT_EQ(off.context.loopCounter3, 33);
    EXPECT_EQ(off.context.loopCounter4, 44);

    const ReaderRun on = runCompound(streams, kLogAndGuards, preset);
    EXPECT_EQ(on.code, KRM_OK);
    EXPECT_EQ(on.context.loopCounter3, 1);  // the body lookup finds its entry first
    EXPECT_EQ(on.context.loopCounter4, 2);  // "1" and the CR of the body entry's type field
    EXPECT_EQ(on.text, off.text);
}

// Each byte of a field, the CR that ends it included, is one guarded step on loop counter 4.
TEST_F(CompoundTest, FieldScanLoopGuard) {
    struct GuardCase {
        size_t firstLineLength;
        uint32_t flags;
        int32_t code;
    };
    const GuardCase cases[] = {
        {KRM_LOOP_GUARD_LIMIT - 1, KRM_OPT_LOOP_GUARD, KRM_OK},
        {KRM_LOOP_GUARD_LIMIT, KRM_OPT_LOOP_GUARD, KRM_ERR_LOOP_GUARD},
        {KRM_LOOP_GUARD_LIMIT, 0, KRM_OK},
    };
    for (const GuardCase& c : cases) {
        SCOPED_TRACE(c.firstLineLength);
        const std::string longLine(c.firstLineLength, 'y');
        const ReaderRun run =
            runCompound(withList(makeStreamList({{"DOC1.FMT", "2", longLine}, {"DOC1.DOC", "1"}})), c.flags);
        EXPECT_EQ(run.code, c.code);
    }
}

// A list cut at any length ends the lookup inside the stream with a code; the lookups succeed only
// once the body entry's type digit is there (the last type field may end with the stream).
TEST_F(CompoundTest, ListCutAtEveryLengthEndsWithACode) {
    const Bytes list = makeStreamList(kUsualEntries);
    const size_t bodyTypeDigit = list.size() - 5;  // then CR and three bytes
    ASSERT_EQ(list[bodyTypeDigit], '1');
    for (const uint32_t flags : {0u, static_cast<uint32_t>(KRM_OPT_LOOP_GUARD)}) {
        for (size_t length = 0; length <= list.size(); ++length) {
            SCOPED_TRACE(length);
            const ReaderRun run =
                runCompound(withList(Bytes(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(length))), flags);
            EXPECT_EQ(run.code, length > bodyTypeDigit ? KRM_OK : KRM_ERR_BROKEN);
            expectHostCountersZero();
            if (HasFailure()) return;
        }
    }
}

// ---- The list functions on their own -------------------------------------------------------------

class StreamListTest : public ContainerTest {
protected:
    // Runs fn on an open list stream holding content.
    template <typename Fn>
    void withListStream(const Bytes& content, Fn fn) {
        const uint32_t storage = KRM_2OLEopen(compoundFile({{kList, content}}).c_str());
        ASSERT_NE(storage, 0u);
        const uint32_t stream = KRM_2OLEopenStream(storage, kList.c_str());
        ASSERT_NE(stream, 0u);
        fn(stream);
        KRM_2OLEcloseStream(stream);
        KRM_2OLEclose(storage);
    }
};

TEST_F(StreamListTest, StreamCountField) {
    struct CountCase {
        const char* field;  // the bytes from offset 33 to the end of the list
        uint32_t result;
        uint32_t endPosition;
        bool nonZero;
    };
    const CountCase cases[] = {
        {"\r", 1, 33, false},      {"0\r", 1, 34, false},     {"00000\r", 1, 38, false},
        {"00100\r", 1, 38, true},  {"2\rxxx", 1, 34, true},   {"123456", 1, 38, true},
        {"99999x", 1, 38, true},   {"12a\r", 0, 0, false},    {"a\r", 0, 0, false},
        {" 1\r", 0, 0, false},     {"12", 0, 0, false},       {"", 0, 0, false},
    };
    for (const CountCase& c : cases) {
        SCOPED_TRACE(c.field);
        const Bytes content = concat({Bytes(33, 'x'), bytes(std::string_view(c.field))});
        withListStream(content, [&](uint32_t stream) {
            StreamListInfo info{};
            info.streamCount = 0x55;
            uint32_t position = 33;
            EXPECT_EQ(GetStreamCount(stream, &position, &info), c.result);
            if (c.result == 1) {
                EXPECT_EQ(position, c.endPosition);
                EXPECT_EQ(info.streamCount != 0, c.nonZero);
            }
        });
    }
}

TEST_F(StreamListTest, TypeValueCountsEveryByteFromZeroUpAsADigit) {
    struct TypeCase {
        const char* typeField;
        uint32_t wanted;
        int32_t result;
    };
    const TypeCase cases[] = {
        {"1", 1, 1},
        {"2", 2, 1},
        {"10", 1, 1},                  // 1 + 256 * 0
        {"01", 256, 1},
        {"B", 18, 1},                  // 'B' - '0'
        {" 2 ", 2, 1},                 // bytes below '0' are skipped
        {"0001", 16777216, 1},
        {"12345", 1 + 2 * 256 + 3 * 65536 + 4 * 16777216u, 1},  // the fifth digit is not used
        {"3", 1, 0},
        {"21", 2, 0},
    };
    for (const TypeCase& c : cases) {
        SCOPED_TRACE(c.typeField);
        withListStream(makeStreamList({{"FIRST.FMT", c.typeField}}), [&](uint32_t stream) {
            StreamListInfo info{};
            StreamEntry entry{};
            HostOptions options = makeOptions();
            CallContext context{};
            EXPECT_EQ(GetStreamInf(&info, &entry, stream, c.wanted, &options, &context), c.result);
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(info.listHeader), sizeof info.listHeader),
                      "OASYS STREAM LIST HEAD.");
            EXPECT_NE(info.streamCount, 0);
            EXPECT_STREQ(entry.streamName, "FIRST.FMT");
            EXPECT_EQ(std::memcmp(entry.leadBytes, "E00\0", 4), 0);
            if (c.result == 1) {
                EXPECT_EQ(entry.streamType, c.wanted);
            }
        });
    }
}

TEST_F(StreamListTest, StreamSizeIsTheSeekToTheEnd) {
    for (const size_t size : {0u, 1u, 100u, 5000u}) {
        SCOPED_TRACE(size);
        withListStream(Bytes(size, 'z'), [&](uint32_t stream) { EXPECT_EQ(GetStreamSize(stream), size); });
    }
}

// ---- One body, three packagings ---------------------------------------------------------------

TEST_F(ContainerTest, SameBodyGivesTheSameTextInEveryPackaging) {
    const Bytes body = concat({bytes("Hello"), crlf(), bytes("\x82\xA0\x82\xA2 ABC"), crlf(), endOfText()});
    const Bytes format = formatBlock();
    HostOptions options = makeOptions("UTF-8");

    auto extract = [&](const std::filesystem::path& source, uint16_t code, const std::string& name) {
        const auto output = dir / (name + ".txt");
        EXPECT_EQ(GetTextWithErrCallback(source.c_str(), output.c_str(), &options, &code, 0), KRM_OK) << name;
        expectHostCountersZero();
        return readFile(output);
    };
    const SeparatedPaths separated = writeSeparated(dir / "SEP", body, format);
    writeFile(dir / "comb.oas", makeCombinedDocument(format, body, {3, 8}));
    writeCompoundDocument(dir / "comp.ole", format, body);

    const Bytes fromSeparated = extract(separated.doc, KRM_FORMAT_SEPARATED, "separated");
    EXPECT_FALSE(fromSeparated.empty());
    EXPECT_EQ(extract(dir / "comb.oas", KRM_FORMAT_COMBINED, "combined"), fromSeparated);
    EXPECT_EQ(extract(dir / "comp.ole", KRM_FORMAT_COMPOUND, "compound"), fromSeparated);
}

}  // namespace
}  // namespace oasys_test
