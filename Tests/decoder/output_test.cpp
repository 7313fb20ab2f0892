// Return codes of the decoder, the output size limit and the running total, output into a host
// stream, failed writes, loop guards, and whole separated documents through the entry point.
#include <gtest/gtest.h>

#include "decoder_support.h"

using namespace decoder_test;

namespace {

class DecoderOutput : public HostCheckedTest {};

struct CodeCase {
    const char* name;
    Bytes bodyBytes;
    std::string expected;
    int32_t code;
    std::optional<uint32_t> bodySize = std::nullopt;
};

TEST_F(DecoderOutput, ReturnCodes) {
    const CodeCase cases[] = {
        {"end byte first", body(""), "", KRM_ERR_NO_TEXT},
        {"blank lines only", body("  \x81\x40\r\n\r\n"), "  　\r\n\r\n", KRM_ERR_NO_TEXT},
        {"text after the last line end is not written", body("AB\r\nCD"), "AB\r\n", KRM_OK},
        {"visible text only after the last line end", body(" \r\nCD"), " \r\n", KRM_ERR_NO_TEXT},
        {"no end byte", bytes("AB\r\nCD"), "AB\r\n", KRM_ERR_BROKEN},
        {"body size 0", body("AB\r\n"), "", KRM_ERR_BROKEN, 0u},
        {"body size 0 with the end byte first", body(""), "", KRM_ERR_NO_TEXT, 0u},
        {"body size ends before the end byte", body("AB\r\nCD\r\n"), "AB\r\n", KRM_ERR_BROKEN, 5u},
        {"line of 1024 bytes", body(std::string(1024, 'A') + "\r\n"), std::string(1024, 'A') + "\r\n", KRM_OK},
        {"line of more than 1024 bytes", body("A\r\n" + std::string(1030, 'A') + "\r\n"), "A\r\n", KRM_ERR_BROKEN},
        {"lead byte as the last byte", bytes("A\r\n\x82"), "A\r\n", KRM_ERR_BROKEN},
    };
    for (const CodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        DecodeSetup setup;
        setup.bodySize = c.bodySize;
        const Decoded d = decode(c.bodyBytes, setup);
        EXPECT_EQ(d.code, c.code);
        EXPECT_EQ(d.text, c.expected);
    }
}

TEST_F(DecoderOutput, PositionEndsJustPastTheEndByte) {
    const Bytes text = concat({body("AB\r\n"), bytes("trailing container bytes")});
    DecodeSetup setup;
    setup.start = 0;
    const Decoded d = decode(text, setup);
    EXPECT_EQ(d.code, KRM_OK);
    EXPECT_EQ(d.position, 5u);
}

// "AB\r\n" is 4 bytes and "あい\r\n" 8 bytes in UTF-8.
const Bytes kTwoLines = body("AB\r\n\x82\xA0\x82\xA2\r\n");

struct LimitCase {
    const char* name;
    uint32_t maximum;
    std::string expected;
    int32_t code;
};

TEST_F(DecoderOutput, OutputLimit) {
    const LimitCase cases[] = {
        {"exactly the whole text", 12, "AB\r\nあい\r\n", KRM_OK},
        {"one byte less cuts the last line", 11, "AB\r\nあい\r", KRM_ERR_OUTPUT_LIMIT},
        {"cut inside a character", 8, "AB\r\nあ", KRM_ERR_OUTPUT_LIMIT},
        {"cut inside the first character", 6, "AB\r\n", KRM_ERR_OUTPUT_LIMIT},
        {"limit at a line end", 4, "AB\r\n", KRM_ERR_OUTPUT_LIMIT},
        {"limit inside the first line", 3, "AB\r", KRM_ERR_OUTPUT_LIMIT},
        {"limit 0", 0, "", KRM_ERR_OUTPUT_LIMIT},
    };
    for (Target target : {Target::File, Target::Stream}) {
        for (const LimitCase& c : cases) {
            SCOPED_TRACE(testing::Message() << c.name << (target == Target::File ? " (file)" : " (stream)"));
            DecodeSetup setup;
            setup.options = makeOptions("UTF-8", KRM_OPT_SIZE_LIMIT, c.maximum);
            setup.target = target;
            const Decoded d = decode(kTwoLines, setup);
            EXPECT_EQ(d.code, c.code);
            EXPECT_EQ(d.text, c.expected);
        }
    }
}

TEST_F(DecoderOutput, MaximumIgnoredWithoutTheLimitBit) {
    DecodeSetup setup;
    setup.options = makeOptions("UTF-8", 0, 3);
    const Decoded d = decode(kTwoLines, setup);
    EXPECT_EQ(d.code, KRM_OK);
    EXPECT_EQ(d.text, "AB\r\nあい\r\n");
}

struct TotalCase {
    const char* name;
    uint32_t flags;
    bool supplied;
    uint32_t totalBefore;
    uint32_t maximum;
    std::string expected;
    int32_t code;
    uint32_t totalAfter;
};

TEST_F(DecoderOutput, RunningTotalInTheCallerRecord) {
    constexpr uint32_t kCarry = KRM_OPT_CARRY_TOTAL | KRM_OPT_SIZE_LIMIT;
    const TotalCase cases[] = {
        {"carried and stored back", kCarry, true, 5, 100, "AB\r\nあい\r\n", KRM_OK, 17},
        {"carried total shrinks the room", kCarry, true, 5, 12, "AB\r\nあ", KRM_ERR_OUTPUT_LIMIT, 5},
        {"carried total at the maximum", kCarry, true, 12, 12, "", KRM_ERR_OUTPUT_LIMIT, 12},
        {"carried total past the maximum", kCarry, true, 20, 12, "", KRM_ERR_OUTPUT_LIMIT, 20},
        {"not carried without bit 0x4000", KRM_OPT_SIZE_LIMIT, true, 5, 12, "AB\r\nあい\r\n", KRM_OK, 5},
        {"not carried from a record of our own", kCarry, false, 5, 12, "AB\r\nあい\r\n", KRM_OK, 5},
        {"the total grows only under the limit", KRM_OPT_CARRY_TOTAL, true, 5, 0, "AB\r\nあい\r\n", KRM_OK, 5},
    };
    for (const TotalCase& c : cases) {
        SCOPED_TRACE(c.name);
        CallerRecord caller{};
        caller.runningOutputTotal = c.totalBefore;
        DecodeSetup setup;
        setup.options = makeOptions("UTF-8", c.flags, c.maximum);
        setup.caller = &caller;
        setup.callerSupplied = c.supplied;
        const Decoded d = decode(kTwoLines, setup);
        EXPECT_EQ(d.code, c.code);
        EXPECT_EQ(d.text, c.expected);
        EXPECT_EQ(caller.runningOutputTotal, c.totalAfter);
    }
}

// Two calls that share one CallerRecord share one budget.
TEST_F(DecoderOutput, RunningTotalAcrossCalls) {
    CallerRecord caller{};
    DecodeSetup setup;
    setup.options = makeOptions("UTF-8", KRM_OPT_CARRY_TOTAL | KRM_OPT_SIZE_LIMIT, 20);
    setup.caller = &caller;
    const Decoded first = decode(kTwoLines, setup);
    EXPECT_EQ(first.code, KRM_OK);
    EXPECT_EQ(caller.runningOutputTotal, 12u);
    const Decoded second = decode(kTwoLines, setup);
    EXPECT_EQ(second.code, KRM_ERR_OUTPUT_LIMIT);
    EXPECT_EQ(second.text, "AB\r\n\xE3\x81\x82");
    EXPECT_EQ(caller.runningOutputTotal, 12u);
}

struct WriteFailCase {
    const char* name;
    Target target;
    KrmService service;
    uint32_t failingWrite;
    std::string expected;
};

TEST_F(DecoderOutput, FailedWriteReturns24) {
    const WriteFailCase cases[] = {
        {"file, first write", Target::File, KRM_SVC_FILE_WRITE, 1, ""},
        {"file, second write", Target::File, KRM_SVC_FILE_WRITE, 2, "AB\r\n"},
        {"stream, first write", Target::Stream, KRM_SVC_WRITE_STREAM, 1, ""},
        {"stream, second write", Target::Stream, KRM_SVC_WRITE_STREAM, 2, "AB\r\n"},
    };
    for (const WriteFailCase& c : cases) {
        SCOPED_TRACE(c.name);
        KRMTest_FailAt(c.service, c.failingWrite);
        DecodeSetup setup;
        setup.target = c.target;
        const Decoded d = decode(body("AB\r\nCD\r\nEF\r\n"), setup);
        KRMTest_ResetFailures();
        EXPECT_EQ(d.code, KRM_ERR_WRITE);
        EXPECT_EQ(d.text, c.expected);
    }
}

TEST_F(DecoderOutput, FailedWriteOfThePendingPiece) {
    KRMTest_FailAt(KRM_SVC_FILE_WRITE, 1);
    const Decoded d = decode(body("A_\xEF\xCC" "07\xCA" "3042B\r\n"));
    EXPECT_EQ(d.code, KRM_ERR_WRITE);
    EXPECT_EQ(d.text, "");
}

TEST_F(DecoderOutput, FailedConversionReturns3000) {
    for (uint32_t n : {1u, 2u}) {
        KRMTest_FailAt(KRM_SVC_CONV_CONVERT, n);
        const Decoded d = decode(body("AB\r\nCD\r\n"));
        KRMTest_ResetFailures();
        EXPECT_EQ(d.code, KRM_ERR_BROKEN) << n;
        EXPECT_EQ(d.text, n == 1 ? "" : "AB\r\n") << n;
    }
    KRMTest_FailAt(KRM_SVC_CONV_CONVERT, 2); // the code unit of the record
    const Decoded unicode = decode(body("A_\xEF\xCC" "07\xCA" "3042\r\n"));
    EXPECT_EQ(unicode.code, KRM_ERR_BROKEN);
}

TEST_F(DecoderOutput, StreamOutputMatchesFileOutput) {
    const Bytes text = body("A\x82\xA0_\xEF\xCC" "07\xCA" "4E00\r\n\xEF\xCD" "03x" "B\r\n");
    const Decoded toFile = decode(text);
    DecodeSetup setup;
    setup.target = Target::Stream;
    const Decoded toStream = decode(text, setup);
    EXPECT_EQ(toFile.code, KRM_OK);
    EXPECT_EQ(toStream.code, KRM_OK);
    EXPECT_EQ(toFile.text, "Aあ一\r\nB\r\n");
    EXPECT_EQ(toStream.text, toFile.text);
}

// ---- loop guards ----------------------------------------------------------------------------------

TEST_F(DecoderOutput, MainLoopGuard) {
    std::string lines;
    while (lines.size() <= KRM_LOOP_GUARD_LIMIT + 20000) lines += std::string(98, 'A') + "\r\n";
    DecodeSetup guarded;
    guarded.options = makeOptions("UTF-8", KRM_OPT_LOOP_GUARD);
    const Decoded stopped = decode(body(lines), guarded);
    EXPECT_EQ(stopped.code, KRM_ERR_LOOP_GUARD);
    EXPECT_EQ(stopped.context.loopCounter1, static_cast<int32_t>(KRM_LOOP_GUARD_LIMIT + 1));
    const Decoded unguarded = decode(body(lines));
    EXPECT_EQ(unguarded.code, KRM_OK);
    EXPECT_EQ(unguarded.text.size(), lines.size());
}

TEST_F(DecoderOutput, ObjectScanGuard) {
    const std::string object = std::string("\xEF\xCC") + "0B" + "B!012345!";
    const std::string data(KRM_LOOP_GUARD_LIMIT + 10, 'x');
    const Bytes text = body("A" + object + data + "\xEF\xA9" "B\r\n");
    DecodeSetup guarded;
    guarded.options = makeOptions("UTF-8", KRM_OPT_LOOP_GUARD);
    const Decoded stopped = decode(text, guarded);
    EXPECT_EQ(stopped.code, KRM_ERR_LOOP_GUARD);
    EXPECT_EQ(stopped.context.loopCounter2, static_cast<int32_t>(KRM_LOOP_GUARD_LIMIT + 1));
    const Decoded unguarded = decode(text);
    EXPECT_EQ(unguarded.code, KRM_OK);
    EXPECT_EQ(unguarded.text, "A　B\r\n");
}

// ---- whole documents through the entry point -------------------------------------------------------

struct CharsetCase {
    const char* charset;
    std::string expected;
};

TEST_F(DecoderOutput, SeparatedDocumentsEndToEnd) {
    const Bytes text = body("A\x82\xA0_\xEF\xCC" "07\xCA" "4E00\r\n\xB1\r\n");
    const CharsetCase cases[] = {
        {"UTF-8", "Aあ一\r\nｱ\r\n"},
        {"Shift_JIS", "A\x82\xA0\x88\xEA\r\n\xB1\r\n"},
        {"EUC-JP", "A\xA4\xA2\xB0\xEC\r\n\x8E\xB1\r\n"},
        {"UTF-16LE", std::string("A\0\x42\x30\x00\x4E\r\0\n\0\x71\xFF\r\0\n\0", 16)},
    };
    for (const CharsetCase& c : cases) {
        SCOPED_TRACE(c.charset);
        TempDir dir;
        const std::vector<size_t> cuts = {3, 9};
        writeSeparated(dir / "doc", layBlocks(text, cuts).bytes, makePropertyBlock({}));
        HostOptions options = makeOptions(c.charset);
        const uint16_t format = KRM_FORMAT_SEPARATED;
        const std::string output = (dir / "out.txt").string();
        const int32_t code = GetTextWithErrCallback((dir / "doc.DOC").c_str(), output.c_str(), &options, &format, 0);
        EXPECT_EQ(code, KRM_OK);
        EXPECT_EQ(asText(readFile(output)), c.expected);
        expectHostCountersZero();
    }
}

TEST_F(DecoderOutput, EntryPointCarriesTheTotal) {
    TempDir dir;
    writeSeparated(dir / "doc", kTwoLines, makePropertyBlock({}));
    HostOptions options = makeOptions("UTF-8", KRM_OPT_CARRY_TOTAL | KRM_OPT_SIZE_LIMIT, 100);
    const uint16_t format = KRM_FORMAT_SEPARATED;
    CallerRecord caller{};
    caller.runningOutputTotal = 30;
    const std::string output = (dir / "out.txt").string();
    EXPECT_EQ(GetText5WithErrCallback((dir / "doc.DOC").c_str(), output.c_str(), &options, &format, &caller, 0),
              KRM_OK);
    EXPECT_EQ(caller.runningOutputTotal, 42u);
    EXPECT_EQ(asText(readFile(output)), "AB\r\nあい\r\n");
}

} // namespace
