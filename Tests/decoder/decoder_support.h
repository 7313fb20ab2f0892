// Runs GetTextContent on a body written by the test document writer: from a plain file or a
// compound-file stream, into an output file or a host memory stream, and gives back the code, the
// text and the final position.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "oasys_writer.h"
#include "test_util.h"

namespace decoder_test {

using namespace oasys_test;

enum class Target { File, Stream };
enum class Source { File, CompoundStream };

struct DecodeSetup {
    HostOptions options = makeOptions("UTF-8");
    std::optional<uint32_t> bodySize; // default: every byte from the start offset
    uint32_t start = 0;               // offset of the first body byte
    uint32_t firstBlockFlag = 0;
    Target target = Target::File;
    Source source = Source::File;
    CallerRecord* caller = nullptr;
    bool callerSupplied = true; // false: the record is the entry point's own
};

struct Decoded {
    int32_t code = -1;
    std::string text;
    uint32_t position = 0;
    CallContext context{};
    SrcInfo srcInfo{};
    std::vector<std::string> log; // with KRM_OPT_LOG: the decoder's lines, CodeConvert's own left out
};

inline std::string asText(const Bytes& b) { return std::string(b.begin(), b.end()); }

inline Decoded decode(const Bytes& body, DecodeSetup setup = {}) {
    TempDir dir;
    Decoded result;
    uint32_t source = 0, storage = 0, output = 0;
    if (setup.source == Source::File) {
        writeFile(dir / "body.DOC", body);
        source = KRM_FileOpen((dir / "body.DOC").c_str(), "rb");
    } else {
        writeCompound(dir / "doc.oas", {{"BODY", body}});
        storage = KRM_2OLEopen((dir / "doc.oas").c_str());
        source = KRM_2OLEopenStream(storage, "BODY");
    }
    EXPECT_NE(source, 0u) << "body source";
    if (setup.target == Target::File) {
        output = KRM_FileOpen((dir / "out.txt").c_str(), "wb");
    } else {
        result.context.outputMode = KRM_OUTPUT_MODE_STREAM;
        result.context.outputStreamHandle = KRM_StreamCreateMemory();
    }
    result.context.callerRecord = setup.caller;
    result.context.callerRecordSupplied = setup.caller != nullptr && setup.callerSupplied ? 1 : 0;
    const std::filesystem::path logFile = dir / "decode.log";
    const uint32_t flags = setup.options.optionFlags;
    if (flags & KRM_OPT_LOG) result.context.logHandle = krm_logfopen(flags, logFile.c_str());
    result.position = setup.start;
    const uint32_t size = setup.bodySize.value_or(static_cast<uint32_t>(body.size()) - setup.start);
    const uint32_t accessMode = setup.source == Source::File ? 0 : 1;
    result.code = GetTextContent(source, output, &result.position, &result.srcInfo, &setup.options, accessMode,
                                 setup.firstBlockFlag, size, &result.context);
    if (flags & KRM_OPT_LOG) {
        krm_logfclose(flags, result.context.logHandle);
        result.log = readLogLines(logFile);
        std::erase_if(result.log, [](const std::string& l) { return l.starts_with("Codeconvert starting"); });
    }
    if (setup.source == Source::File) {
        KRM_FileClose(source);
    } else {
        KRM_2OLEcloseStream(source);
        KRM_2OLEclose(storage);
    }
    if (setup.target == Target::File) {
        KRM_FileClose(output);
        result.text = asText(readFile(dir / "out.txt"));
    } else {
        const uint8_t* data = nullptr;
        size_t length = 0;
        EXPECT_EQ(KRM_StreamGetMemory(result.context.outputStreamHandle, &data, &length), 0);
        if (data != nullptr) result.text.assign(reinterpret_cast<const char*>(data), length);
        KRM_StreamRelease(result.context.outputStreamHandle);
    }
    return result;
}

// The text cut into blocks at the given offsets, laid out as in a combined document: the first
// block has its header too and the body starts after it, so the decoder knows from the start where
// the next header lies (a header met first inside control-code parameters could not be told from
// them otherwise).
inline Decoded decodeInBlocks(const Bytes& text, const std::vector<size_t>& cuts, DecodeSetup setup = {}) {
    setup.start = 4;
    setup.firstBlockFlag = 1;
    return decode(layBlocks(text, cuts, true).bytes, setup);
}

// A body: the text, then the end byte.
inline Bytes body(std::string_view text) { return concat({bytes(text), endOfText()}); }
// An ECS4 record of one UTF-16 unit, as text (the substitute in front of it is separate).
inline std::string unicodeRecord(uint16_t unit) { return asText(ecs4Unicode(unit)); }
// An ECS4 object record: "B!", six filler bytes, the type, then the rest of the content.
inline std::string objectRecord(char type, const std::string& rest = "") {
    const std::string content = std::string("B!") + "012345" + type + rest;
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned>(content.size() + 2));
    return "\xEF\xCC" + std::string(digits) + content;
}

// A body text (without its end byte) and what the decoder makes of it.
struct TextCase {
    const char* name;
    std::string text;
    std::string expected;
    int32_t code = KRM_OK;
    uint32_t flags = 0;
    // Cuts are tried at the offsets below this one. Object data are scanned without the header
    // test where a header splits the record, and the byte after a header met in a scan is not
    // tested: rows on those rules limit their cuts (1: the text holds a header code of its own).
    size_t cutsBelow = SIZE_MAX;
};

// The body decodes as expected, and so does the same body cut by a block header at any offset;
// a whole decode ends just past the end byte.
inline void expectDecodedAtEveryCut(const TextCase& c) {
    SCOPED_TRACE(c.name);
    const Bytes text = body(c.text);
    DecodeSetup setup;
    setup.options = makeOptions("UTF-8", c.flags);
    const Decoded whole = decode(text, setup);
    EXPECT_EQ(whole.code, c.code);
    EXPECT_EQ(whole.text, c.expected);
    for (size_t cut = 1; cut < std::min(text.size(), c.cutsBelow); ++cut) {
        SCOPED_TRACE(testing::Message() << "cut at " << cut);
        const Decoded d = decodeInBlocks(text, {cut}, setup);
        EXPECT_EQ(d.code, c.code);
        EXPECT_EQ(d.text, c.expected);
        if (c.code == KRM_OK) {
            EXPECT_EQ(d.position, text.size() + 8) << "just past the end byte";
        }
    }
}

} // namespace decoder_test
