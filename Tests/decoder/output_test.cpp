// Return codes of the decoder, the output size limit and the running total, output into a host
// stream, failed services, loop guards, and whole separated documents through the entry points.
#include <gtest/gtest.h>

#include "filter_harness.h"

using namespace oasys_test;

namespace {

class DecoderOutput : public HostCheckedTest {};

TEST_F(DecoderOutput, ReturnCodes) {
    const struct {
        const char* name; Bytes bodyBytes; std::string expected; int32_t code;
        std::optional<uint32_t> bodySize = std::nullopt;
    } cases[] = {
        {"end byte first", body(""), "", KRM_ERR_NO_TEXT},
        {"blank lines only", body("  \x81\x40\r\n\r\n"), "  　\r\n\r\n", KRM_ERR_NO_TEXT},
        {"text after the last line end is not written", body("AB\r\nCD"), "AB\r\n", KRM_OK},
        {"visible text only after the last line end", body(" \r\nCD"), " \r\n", KRM_ERR_NO_TEXT},
        {"bytes after the end byte are not read", concat({body("AB\r\n"), bytes("CD\r\n\x1A")}), "AB\r\n", KRM_OK},
        {"no end byte", bytes("AB\r\nCD"), "AB\r\n", KRM_ERR_BROKEN},
        {"body size 0", body("AB\r\n"), "", KRM_ERR_BROKEN, 0u},
        {"body size 0 with the end byte first", body(""), "", KRM_ERR_NO_TEXT, 0u},
        {"body size ends before the end byte", body("AB\r\nCD\r\n"), "AB\r\n", KRM_ERR_BROKEN, 5u},
        {"line of 1024 bytes", body(std::string(1024, 'A') + "\r\n"), std::string(1024, 'A') + "\r\n", KRM_OK},
        {"line of more than 1024 bytes", body("A\r\n" + std::string(1030, 'A') + "\r\n"), "A\r\n", KRM_ERR_BROKEN},
        {"lead byte as the last byte", bytes("A\r\n\x82"), "A\r\n", KRM_ERR_BROKEN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunSetup setup;
        setup.bodySize = c.bodySize;
        const FilterRun d = decode(c.bodyBytes, setup);
        EXPECT_EQ(d.code, c.code);
        EXPECT_EQ(d.text, c.expected);
        if (c.code == KRM_OK) {
            const size_t endByte = std::find(c.bodyBytes.begin(), c.bodyBytes.end(), 0x1A) - c.bodyBytes.begin();
            EXPECT_EQ(d.position, endByte + 1) << "just past the end byte";
        }
    }
}

// "AB\r\n" is 4 bytes and "あい\r\n" 8 bytes in UTF-8; "い" comes from a Unicode record.
const Bytes kTwoLines = body("AB\r\n\x82\xA0_" + unicodeRecord(0x3044) + "\r\n");
const std::string kTwoLinesText = "AB\r\nあい\r\n";
constexpr uint32_t kCarry = KRM_OPT_CARRY_TOTAL | KRM_OPT_SIZE_LIMIT;

// The output limit, alone and with a running total in the caller's record, into a file and into
// a host stream: a cut never splits a UTF-8 character.
TEST_F(DecoderOutput, OutputLimitAndRunningTotal) {
    const struct {
        const char* name; uint32_t flags; uint32_t maximum; std::string expected; int32_t code;
        uint32_t totalBefore = 0; uint32_t totalAfter = 0; bool supplied = true;
    } cases[] = {
        {"exactly the whole text", KRM_OPT_SIZE_LIMIT, 12, kTwoLinesText, KRM_OK},
        {"one byte less cuts the last line", KRM_OPT_SIZE_LIMIT, 11, "AB\r\nあい\r", KRM_ERR_OUTPUT_LIMIT},
        {"cut inside a Unicode record's character", KRM_OPT_SIZE_LIMIT, 9, "AB\r\nあ", KRM_ERR_OUTPUT_LIMIT},
        {"cut inside the first character", KRM_OPT_SIZE_LIMIT, 6, "AB\r\n", KRM_ERR_OUTPUT_LIMIT},
        {"limit at a line end", KRM_OPT_SIZE_LIMIT, 4, "AB\r\n", KRM_ERR_OUTPUT_LIMIT},
        {"limit inside the first line", KRM_OPT_SIZE_LIMIT, 3, "AB\r", KRM_ERR_OUTPUT_LIMIT},
        {"limit 0", KRM_OPT_SIZE_LIMIT, 0, "", KRM_ERR_OUTPUT_LIMIT},
        {"maximum ignored without the limit bit", 0, 3, kTwoLinesText, KRM_OK},
        {"carried and stored back", kCarry, 100, kTwoLinesText, KRM_OK, 5, 17},
        {"carried total shrinks the room", kCarry, 12, "AB\r\nあ", KRM_ERR_OUTPUT_LIMIT, 5, 5},
        {"carried total at the maximum", kCarry, 12, "", KRM_ERR_OUTPUT_LIMIT, 12, 12},
        {"carried total past the maximum", kCarry, 12, "", KRM_ERR_OUTPUT_LIMIT, 20, 20},
        // A carried total near the top of the 32-bit range must not wrap round.
        {"carried total near the top of the range", kCarry, 12, "", KRM_ERR_OUTPUT_LIMIT, 0xFFFFFFFE, 0xFFFFFFFE},
        {"not carried without bit 0x4000", KRM_OPT_SIZE_LIMIT, 12, kTwoLinesText, KRM_OK, 5, 5},
        {"not carried from a record of our own", kCarry, 12, kTwoLinesText, KRM_OK, 5, 5, false},
        {"the total grows only under the limit", KRM_OPT_CARRY_TOTAL, 0, kTwoLinesText, KRM_OK, 5, 5},
    };
    for (const bool toStream : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << c.name << (toStream ? " (stream)" : " (file)"));
            CallerRecord caller{};
            caller.runningOutputTotal = c.totalBefore;
            RunSetup setup;
            setup.options = makeOptions("UTF-8", c.flags, c.maximum);
            setup.toStream = toStream;
            setup.caller = &caller;
            setup.callerSupplied = c.supplied;
            const FilterRun d = decode(kTwoLines, setup);
            EXPECT_EQ(d.code, c.code);
            EXPECT_EQ(d.text, c.expected);
            EXPECT_EQ(caller.runningOutputTotal, c.totalAfter);
        }
    }
}

// A failing write gives 24, a failing conversion 3000; the lines before it stay written.
TEST_F(DecoderOutput, FailedServices) {
    const Bytes lines = body("AB\r\nCD\r\nEF\r\n");
    const Bytes unicode = body("A_" + unicodeRecord(0x3042) + "B\r\n");
    const struct {
        const char* name; KrmService service; uint32_t failingCall; bool toStream; const Bytes& text;
        std::string expected; int32_t code;
    } cases[] = {
        {"file, first write", KRM_SVC_FILE_WRITE, 1, false, lines, "", KRM_ERR_WRITE},
        {"file, second write", KRM_SVC_FILE_WRITE, 2, false, lines, "AB\r\n", KRM_ERR_WRITE},
        {"stream, first write", KRM_SVC_WRITE_STREAM, 1, true, lines, "", KRM_ERR_WRITE},
        {"stream, second write", KRM_SVC_WRITE_STREAM, 2, true, lines, "AB\r\n", KRM_ERR_WRITE},
        {"write of the pending Unicode piece", KRM_SVC_FILE_WRITE, 1, false, unicode, "", KRM_ERR_WRITE},
        {"first conversion", KRM_SVC_CONV_CONVERT, 1, false, lines, "", KRM_ERR_BROKEN},
        {"second conversion", KRM_SVC_CONV_CONVERT, 2, false, lines, "AB\r\n", KRM_ERR_BROKEN},
        {"conversion of a record's code unit", KRM_SVC_CONV_CONVERT, 2, false, unicode, "", KRM_ERR_BROKEN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        KRMTest_FailAt(c.service, c.failingCall);
        RunSetup setup;
        setup.toStream = c.toStream;
        const FilterRun d = decode(c.text, setup);
        KRMTest_ResetFailures();
        EXPECT_EQ(d.code, c.code);
        EXPECT_EQ(d.text, c.expected);
    }
}

// The main loop and the object-data scan stop after the limit with the guard on, and only then.
TEST_F(DecoderOutput, LoopGuards) {
    std::string lines;
    while (lines.size() <= KRM_LOOP_GUARD_LIMIT + 20000) lines += std::string(98, 'A') + "\r\n";
    const std::string objectData = "A\xEF\xCC" "0BB!012345!" + std::string(KRM_LOOP_GUARD_LIMIT + 10, 'x');
    const struct { const char* name; Bytes text; std::string unguarded; int32_t CallContext::*counter; } cases[] = {
        {"main loop", body(lines), lines, &CallContext::loopCounter1},
        {"object scan", body(objectData + "\xEF\xA9" "B\r\n"), "A　B\r\n", &CallContext::loopCounter2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunSetup guarded;
        guarded.options = makeOptions("UTF-8", KRM_OPT_LOOP_GUARD);
        const FilterRun stopped = decode(c.text, guarded);
        EXPECT_EQ(stopped.code, KRM_ERR_LOOP_GUARD);
        EXPECT_EQ(stopped.context.*c.counter, static_cast<int32_t>(KRM_LOOP_GUARD_LIMIT + 1));
        const FilterRun unguarded = decode(c.text);
        EXPECT_EQ(unguarded.code, KRM_OK);
        EXPECT_TRUE(unguarded.text == c.unguarded);
    }
    // Each skipped record counts its passes afresh: together the records may pass the limit.
    std::string records = "A";
    while (records.size() <= KRM_LOOP_GUARD_LIMIT * 11 / 10) records += "\xEF\xCD" "FF" + std::string(253, 'x');
    EXPECT_EQ(decode(body(records + "B\r\n"), flagged(KRM_OPT_LOOP_GUARD)).text, "AB\r\n");
    std::string objects = "A"; // and so does each object scan
    while (objects.size() <= KRM_LOOP_GUARD_LIMIT * 11 / 10) objects += objectRecord('!') + std::string(999, 'x');
    EXPECT_EQ(decode(body(objects + "\xEF\xA9" "B\r\n"), flagged(KRM_OPT_LOOP_GUARD)).text, "A　B\r\n");
}

// Through the entry point GetText5 carries the total of a host's record, and two calls sharing the
// record share one budget.
TEST_F(DecoderOutput, EntryPointCarriesTheTotal) {
    TempDir dir;
    writeSeparated(dir / "two", kTwoLines, formatBlock());
    CallerRecord caller{};
    caller.runningOutputTotal = 30;
    const HostOptions options = makeOptions("UTF-8", kCarry, 50);
    const auto call = [&] { return callEntry(Entry::File5, dir / "two.DOC", dir / "out.txt", KRM_FORMAT_SEPARATED, options, &caller); };
    EXPECT_EQ(call().text, kTwoLinesText);
    EXPECT_EQ(caller.runningOutputTotal, 42u);
    const FilterRun second = call();
    EXPECT_EQ(second.code, KRM_ERR_OUTPUT_LIMIT);
    EXPECT_EQ(second.text, "AB\r\nあ");
    EXPECT_EQ(caller.runningOutputTotal, 42u);
}

} // namespace
