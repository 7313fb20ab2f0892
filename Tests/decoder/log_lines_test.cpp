// The decoder's log: the main loop, each kind of record and object data, block headers it reads,
// conversions, writes and the cut at the output limit, line by line and in order.
#include <gtest/gtest.h>

#include "decoder_support.h"

using namespace decoder_test;

namespace {

using Lines = std::vector<std::string>;

std::string whileLine(int loop, const char* what) {
    return "LOOP(while) " + std::to_string(loop) + " in GetTextContent " + what + "\r\n";
}
std::string forLine(int loop) { return "LOOP(for) " + std::to_string(loop) + " in GetTextContent starting\r\n"; }
std::string converted(int bytes) { return "Codeconvert end , get dstBuff( " + std::to_string(bytes) + " bytes )\r\n"; }
std::string written(int bytes) { return "Filewrite " + std::to_string(bytes) + "bytes\r\n"; }
const std::string kEcs4Start = "Deal with ECS4 starting\r\n";
const std::string kEcs4End = "Deal with ECS4 end\r\n";
const std::string kHeaderRead = "Fileread 0xF004\r\n";

// The given lines inside the main loop's own two.
Lines mainLoop(Lines inner) {
    inner.insert(inner.begin(), whileLine(1, "starting"));
    inner.push_back(whileLine(1, "end"));
    return inner;
}

class DecoderLog : public HostCheckedTest {};

TEST_F(DecoderLog, LinesOfEachPath) {
    const std::string dollarData = "\xEF\xEF\xEF\xEF\xEF\xEF\xEF\xEFxy\xEF\xA9" "B\r\n";
    const struct {
        const char* name;
        std::string text; // body text without its end byte
        std::vector<size_t> cuts;
        Lines expected;
        uint32_t flags = 0;
        uint32_t maximum = 0;
    } cases[] = {
        {"plain line", "AB\r\n", {}, mainLoop({converted(4), written(4)})},
        {"header at a character boundary", std::string("A\xF0\x04\x00\x05", 5) + "B\r\n", {},
         mainLoop({kHeaderRead, converted(4), written(4)})},
        {"skipped record: its for-line twice", "A\xEF\xCD" "05xyzB\r\n", {},
         mainLoop({forLine(7), forLine(7), converted(4), written(4)})},
        {"Unicode record", "A_" + unicodeRecord(0x3042) + "B\r\n", {},
         mainLoop({kEcs4Start, "Fileread Unicode\r\n", converted(1), converted(3), kEcs4End, converted(3), written(4),
                   written(3)})},
        {"Unicode record split in its content", "A_" + unicodeRecord(0x3042) + "B\r\n", {7},
         mainLoop({kEcs4Start, forLine(5), kHeaderRead, forLine(5), converted(1), converted(3), kEcs4End, converted(3),
                   written(4), written(3)})},
        {"object data scanned", "A" + objectRecord('!') + "xy\xEF\xA9" "B\r\n", {},
         mainLoop({kEcs4Start, whileLine(3, "starting"), whileLine(3, "end"), kEcs4End, converted(7), written(7)})},
        // Headers met in object data after a whole record are passed without a log line.
        {"object data scanned across a header", "A" + objectRecord('!') + "xyz\xEF\xA9" "B\r\n", {16},
         mainLoop({kEcs4Start, whileLine(3, "starting"), whileLine(3, "end"), kEcs4End, converted(7), written(7)})},
        // Fault guarded: text right after a '#' object skips nothing but still logs its scan.
        {"object '#' before text", "A" + objectRecord('#') + "Zq\r\n", {},
         mainLoop({kEcs4Start, whileLine(3, "starting"), whileLine(3, "end"), kEcs4End, converted(5), written(5)})},
        {"object '$'", "A" + objectRecord('$') + dollarData, {},
         mainLoop({kEcs4Start, whileLine(4, "starting"), whileLine(4, "end"), kEcs4End, converted(7), written(7)})},
        {"object '$' split in its content", "A" + objectRecord('$') + dollarData, {7},
         mainLoop({kEcs4Start, forLine(5), kHeaderRead, forLine(5), whileLine(6, "starting"), whileLine(6, "end"),
                   kEcs4End, converted(7), written(7)})},
        {"object with a byte count", "A" + objectRecord('\'', "0003") + "xyzB\r\n", {},
         mainLoop({kEcs4Start, forLine(2), whileLine(2, "end"), kEcs4End, converted(4), written(4)})},
        {"counted object data across a header", "A" + objectRecord('\'', "0003") + "xyzB\r\n", {19},
         mainLoop({kEcs4Start, forLine(2), whileLine(2, "end"), kEcs4End, converted(4), written(4)})},
        {"header inside a character", "A\x82\xA0\r\n", {2}, mainLoop({converted(6), written(6)})},
        {"cut at the output limit", "AB\r\nCD\r\n", {},
         {whileLine(1, "starting"), converted(4), written(4), converted(4), "CutStr() starting\r\n",
          "CutStr() end\r\n", written(2)},
         KRM_OPT_SIZE_LIMIT, 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DecodeSetup setup;
        setup.options = makeOptions("UTF-8", KRM_OPT_LOG | c.flags, c.maximum);
        const Decoded d = c.cuts.empty() ? decode(body(c.text), setup) : decodeInBlocks(body(c.text), c.cuts, setup);
        EXPECT_EQ(d.code, c.maximum != 0 ? KRM_ERR_OUTPUT_LIMIT : KRM_OK);
        EXPECT_EQ(d.log, c.expected);
    }
}

} // namespace
