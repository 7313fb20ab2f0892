// Writes the seed corpus of every fuzz target: small well-formed documents made with the test
// document writer, each showing one feature of the OASYS body or of a packaging.
// Usage: make_corpus <corpus dir>; the seeds go to <corpus dir>/<target>/seed-<name>.
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_targets.h"

namespace {

using namespace oasys_test;

struct Body {
    std::string name;
    Bytes text;
    std::vector<size_t> cuts; // block headers inside the text (the leading block is implied)
};

Bytes ascii(const std::string& text) { return Bytes(text.begin(), text.end()); }

// An ECS4 object record of the given type whose data follow it and end at the next 0xEF.
Bytes objectRecord(char type, const std::string& tail = "") {
    const std::string content = std::string("B!xxxxxx") + type + tail;
    const std::string length = {"0123456789ABCDEF"[(content.size() + 2) >> 4], "0123456789ABCDEF"[(content.size() + 2) & 15]};
    return concat({bytes("\xEF\xCC"), ascii(length), ascii(content)});
}

std::vector<Body> bodies() {
    const Bytes end = concat({crlf(), endOfText()});
    const Bytes kana = bytes("\x82\xA0\x82\xA2\x82\xA4");
    const Bytes unicodeLine = concat({bytes("A_"), ecs4Unicode(0x3042), bytes("\x81\xAC"), ecs4Unicode(0x00E9), end});
    const Bytes box = concat({bytes("abc\x84\xA1\x84\x9F\x84\x9F\x84\xA2"), crlf(), bytes("\x84\xA0x\x84\xA0"), crlf(),
                              bytes("\x84\xA4\x84\x9F\x84\x9F\x84\xA3"), crlf(), bytes("after"), end});
    const Bytes controls = concat({bytes("a\xEF\xAF" "123b\xEF\xC0" "6\xF4\x9F\xF4\xFC\xEF\xC0;\xF4\x9F"), crlf(),
                                   bytes("\xEF\xA0x\xEF\xA2y\xEF\xA9z\xEF\xB0"), crlf(),
                                   bytes("\xFC\xA3\x98\x67\xFC\xA3\xB6\xDE \xB6\xDE\x81\x40\xEC\x4F\xEF\x8D"), end});
    const Bytes objects = concat({bytes("o1"), objectRecord('!'), bytes("data\xEF\xA9"), bytes("o2"), objectRecord('#'),
                                  bytes("\x01q\xEF\xA9o3"), objectRecord('$'), bytes("12345678data\xEF\xA9o4"),
                                  objectRecord('\'', "0004"), bytes("dataZ"), end});
    const Bytes skipped = concat({bytes("s"), skippedRecord(ascii("hidden")), skippedRecord({}), bytes("t"), end});
    return {
        {"plain", concat({bytes("Hello OASYS"), end}), {}},
        {"empty", endOfText(), {}},
        {"no-end", bytes("text\r\n"), {}},
        {"kana-cut-in-character", concat({kana, end}), {1, 3}},
        {"crlf-cut", concat({kana, end}), {7}},
        {"unicode", unicodeLine, {}},
        {"unicode-cut-in-digits", unicodeLine, {5, 9}},
        {"box", box, {}},
        {"controls", controls, {}},
        {"controls-cut-in-parameters", controls, {3, 9}},
        {"objects", objects, {}},
        {"objects-cut", objects, {6, 20, 40}},
        {"skipped-record", skipped, {4}},
        {"long-line", concat({Bytes(1100, 'a'), end}), {}},
        {"many-blocks", concat({Bytes(300, 'b'), end}), {50, 100, 100, 150, 200, 250}},
    };
}

std::vector<std::pair<std::string, Bytes>> formats() {
    PropertyFields full;
    full.title = "\x95\xF1\x8D\x90\x8F\x91"; // 報告書
    full.author = "author";
    full.comments = "comments";
    full.category = std::string(16, 'c');
    full.lastAuthor = "last";
    full.keywords = {"k1", "", "k3"};
    full.created = {0x98, 0x12, 0x31, 0x23, 0x59};
    full.modified = {0x01, 0x02, 0x03, 0x04, 0x05};
    PropertyFields skip = full;
    skip.skipByte = 1;
    skip.blockMarker = 3;
    PropertyFields locked;
    locked.flagWord = 0x0008;
    PropertyFields shortBlock;
    shortBlock.size = 600;
    return {{"full", makePropertyBlock(full)}, {"skip-and-bad-marker", makePropertyBlock(skip)},
            {"password", makePropertyBlock(locked)}, {"short", makePropertyBlock(shortBlock)}};
}

void put(const std::filesystem::path& dir, const std::string& target, const std::string& name, const Bytes& data) {
    std::filesystem::create_directories(dir / target);
    writeFile(dir / target / ("seed-" + name), data);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_corpus <corpus dir>\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    const Bytes format = makePropertyBlock({});
    TempDir scratch;
    // liboasys takes one input as a whole document and as a separated pair around the mark.
    const auto separatedPair = [](const Bytes& body, const Bytes& block) {
        return concat({body, Bytes(oasys_fuzz::kFormatMark.begin(), oasys_fuzz::kFormatMark.end()), block});
    };
    for (const Body& b : bodies()) {
        const Bytes body = layBlocks(b.text, b.cuts).bytes;
        const Bytes combined = makeCombinedDocument(format, b.text, b.cuts);
        put(dir, "separated", b.name, body);
        put(dir, "compound_body", b.name, body);
        put(dir, "combined", b.name, combined);
        put(dir, "library_memory", "combined-" + b.name, combined);
        put(dir, "library_memory", "separated-" + b.name, separatedPair(body, format));
    }
    const Bytes shortBody = concat({bytes("x"), crlf(), endOfText()});
    for (const auto& [name, block] : formats()) {
        put(dir, "property_fmt", name, block);
        put(dir, "property_combined", name, makeCombinedDocument(block, shortBody));
        put(dir, "library_memory", "format-" + name, separatedPair(layBlocks(shortBody, {}).bytes, block));
    }
    const std::vector<std::pair<std::string, Bytes>> lists = {
        {"usual", makeStreamList({{"DOC1.FMT", "2"}, {"DOC1.DOC", "1"}})},
        {"body-first", makeStreamList({{"DOC1.DOC", "1"}, {"DOC1.FMT", "2  "}})},
        {"zero-count", makeStreamList({{"DOC1.FMT", "2"}, {"DOC1.DOC", "1"}}, "00000")},
        {"last-without-cr", makeStreamList({{"DOC1.FMT", "2"}, {"DOC1.DOC", "1", "OASYS", true}})},
        {"long-name", makeStreamList({{"DOC1.FMT", "2"}, {"AVERYLONGSTREAMNAME.DOC", "1"}})},
    };
    for (const auto& [name, list] : lists) {
        put(dir, "compound_list", name, list);
        writeCompound(scratch / "c.oas", {{KRM_STREAM_LIST_NAME, list}, {"DOC1.FMT", format},
                                          {"DOC1.DOC", oasys_fuzz::plainBody()}});
        put(dir, "compound_file", name, readFile(scratch / "c.oas"));
        put(dir, "library_memory", "compound-" + name, readFile(scratch / "c.oas"));
    }
    std::printf("seeds written to %s\n", dir.c_str());
    return 0;
}
