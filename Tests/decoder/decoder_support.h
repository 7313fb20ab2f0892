// Runs GetTextContent on a body written by the test document writer: from a plain file or a
// compound-file stream, into a real output file or a host memory stream, with the records an
// entry point would hand over, and gives back the code, the text and the final position.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "oasys_writer.h"
#include "test_util.h"

namespace decoder_test {

using namespace oasys_test;

enum class Target { File, Stream };
enum class Source { File, CompoundStream };

struct DecodeSetup {
    HostOptions options = makeOptions("UTF-8");
    std::optional<uint32_t> bodySize;  // default: every byte of the body from the start offset
    uint32_t start = 0;                // offset of the first body byte
    uint32_t firstBlockFlag = 0;
    Target target = Target::File;
    Source source = Source::File;
    CallerRecord* caller = nullptr;
    bool callerSupplied = true;        // false: the record is the entry point's own
};

struct Decoded {
    int32_t code = -1;
    std::string text;
    uint32_t position = 0;
    CallContext context{};
    SrcInfo srcInfo{};
};

inline std::string asText(const Bytes& b) { return std::string(b.begin(), b.end()); }

inline Decoded decode(const Bytes& body, DecodeSetup setup = {}) {
    TempDir dir;
    Decoded result;
    uint32_t source = 0;
    uint32_t storage = 0;
    uint32_t accessMode = 0;
    if (setup.source == Source::File) {
        writeFile(dir / "body.DOC", body);
        source = KRM_FileOpen((dir / "body.DOC").c_str(), "rb");
    } else {
        writeCompound(dir / "doc.oas", {{"BODY", body}});
        storage = KRM_2OLEopen((dir / "doc.oas").c_str());
        source = KRM_2OLEopenStream(storage, "BODY");
        accessMode = 1;
    }
    EXPECT_NE(source, 0u) << "body source";
    uint32_t output = 0;
    if (setup.target == Target::File) {
        output = KRM_FileOpen((dir / "out.txt").c_str(), "wb");
        EXPECT_NE(output, 0u) << "output file";
    } else {
        result.context.outputMode = KRM_OUTPUT_MODE_STREAM;
        result.context.outputStreamHandle = KRM_StreamCreateMemory();
    }
    if (setup.caller != nullptr) {
        result.context.callerRecord = setup.caller;
        result.context.callerRecordSupplied = setup.callerSupplied ? 1 : 0;
    }
    result.position = setup.start;
    const uint32_t size = setup.bodySize.value_or(static_cast<uint32_t>(body.size()) - setup.start);
    result.code = GetTextContent(source, output, &result.position, &result.srcInfo, &setup.options, accessMode,
                                 setup.firstBlockFlag, size, &result.context);
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

// The text cut into blocks at the given offsets and laid out as in a combined document: the first
// block has its header too and the body starts after it, so the decoder knows where the next
// header lies from the start.
inline Decoded decodeInBlocks(const Bytes& text, const std::vector<size_t>& cuts, DecodeSetup setup = {}) {
    const BlockRun run = layBlocks(text, cuts, true);
    setup.start = 4;
    setup.firstBlockFlag = 1;
    return decode(run.bytes, setup);
}
inline size_t inBlocksSize(const Bytes& text, size_t cutCount) { return text.size() + 4 * (cutCount + 1); }

// A body: the text, then the end byte.
inline Bytes body(std::string_view text) { return concat({bytes(text), endOfText()}); }

} // namespace decoder_test
