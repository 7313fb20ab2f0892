#include "filter_harness.h"

#include <unicode/ucnv.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace oasys_test {

namespace {

constexpr uint32_t kPlainFileAccess = 0;

std::vector<std::string> logWithoutConversionStarts(const std::filesystem::path& logFile) {
    std::vector<std::string> lines = readLogLines(logFile);
    std::erase_if(lines, [](const std::string& l) { return l.starts_with("Codeconvert starting"); });
    return lines;
}

std::string streamText(uint32_t stream) {
    const uint8_t* data = nullptr;
    size_t length = 0;
    return KRM_StreamGetMemory(stream, &data, &length) == 0 && data != nullptr
               ? std::string(reinterpret_cast<const char*>(data), length) : std::string();
}

// Runs call(source, output) with the log, SrcInfo block and CallContext an entry would set up, and
// releases all of it again before the result is looked at.
FilterRun runWith(RunSetup& setup, const std::function<int32_t(uint32_t output, FilterRun&)>& call) {
    TempDir dir;
    FilterRun run;
    uint32_t output = 0;
    if (setup.toStream) {
        run.context.outputMode = KRM_OUTPUT_MODE_STREAM;
        run.context.outputStreamHandle = KRM_StreamCreateMemory();
    } else {
        output = KRM_FileOpen((dir / "out.txt").c_str(), "wb");
        EXPECT_NE(output, 0u);
    }
    run.context.callerRecord = setup.caller;
    run.context.callerRecordSupplied = setup.caller != nullptr && setup.callerSupplied ? 1 : 0;
    const uint32_t flags = setup.options.optionFlags;
    const auto logFile = dir / "run.log";
    if (flags & KRM_OPT_LOG) run.context.logHandle = krm_logfopen(flags, logFile.c_str());
    run.code = call(output, run);
    if (flags & KRM_OPT_LOG) {
        krm_logfclose(flags, run.context.logHandle);
        run.log = logWithoutConversionStarts(logFile);
    }
    run.context.logHandle = 0;
    if (setup.toStream) {
        run.text = streamText(run.context.outputStreamHandle);
        KRM_StreamRelease(run.context.outputStreamHandle);
    } else {
        EXPECT_EQ(KRM_FileClose(output), 0);
        run.text = asText(readFile(dir / "out.txt"));
    }
    return run;
}

} // namespace

RunSetup flagged(uint32_t flags, uint32_t maxOutput) {
    RunSetup setup;
    setup.options = makeOptions("UTF-8", flags, maxOutput);
    return setup;
}

OpenSource::OpenSource(const std::filesystem::path& path, const Bytes& content) {
    writeFile(path, content);
    handle_ = KRM_FileOpen(path.c_str(), "rb");
    EXPECT_NE(handle_, 0u) << "source " << path;
}

OpenSource::~OpenSource() { EXPECT_EQ(KRM_FileClose(handle_), 0); }

FilterRun decode(const Bytes& bodyBytes, RunSetup setup) {
    TempDir dir;
    const OpenSource source(dir / "body.DOC", bodyBytes);
    const uint32_t size = setup.bodySize.value_or(static_cast<uint32_t>(bodyBytes.size()) - setup.start);
    return runWith(setup, [&](uint32_t output, FilterRun& run) {
        run.position = setup.start;
        return GetTextContent(source.handle(), output, &run.position, &run.srcInfo, &setup.options,
                              kPlainFileAccess, setup.firstBlockFlag, size, &run.context);
    });
}

FilterRun decodeInBlocks(const Bytes& text, const std::vector<size_t>& cuts, RunSetup setup) {
    setup.start = 4;
    setup.firstBlockFlag = 1;
    return decode(layBlocks(text, cuts, true).bytes, setup);
}

FilterRun readCombined(const Bytes& doc, RunSetup setup) {
    TempDir dir;
    const OpenSource source(dir / "doc.oas", doc);
    return runWith(setup, [&](uint32_t output, FilterRun& run) {
        uint32_t position = 0;
        return GetDocTextContent(source.handle(), output, &position, &run.srcInfo, &setup.options, &run.context);
    });
}

FilterRun readCompound(const std::vector<CompoundStream>& streams, RunSetup setup) {
    TempDir dir;
    writeCompound(dir / "doc.ole", streams);
    const uint32_t storage = KRM_2OLEopen((dir / "doc.ole").c_str());
    EXPECT_NE(storage, 0u);
    FilterRun run = runWith(setup, [&](uint32_t output, FilterRun& r) {
        return GetOleTextContent(storage, output, &r.srcInfo, &setup.options, &r.context);
    });
    KRM_2OLEclose(storage);
    return run;
}

FilterRun callEntry(Entry entry, const std::filesystem::path& source, const std::filesystem::path& output,
              uint16_t formatCode, const HostOptions& given, CallerRecord* caller) {
    HostOptions options = given;
    FilterRun run;
    std::filesystem::path logOwner = source;
    if (entry == Entry::Stream) {
        const uint32_t stream = KRM_StreamCreateMemory();
        run.code = GetTextStreamWithErrCallback(source.c_str(), stream, &options, &formatCode, 0);
        run.text = streamText(stream);
        KRM_StreamRelease(stream);
    } else if (entry == Entry::Properties) {
        run.record = std::make_unique<PropertyRecord>();
        std::memset(run.record->bytes, 0xEE, sizeof run.record->bytes);
        run.code = GetProperty(source.c_str(), &options, run.record.get(), &formatCode);
    } else {
        run.code = entry == Entry::File
                       ? GetTextWithErrCallback(source.c_str(), output.c_str(), &options, &formatCode, 0)
                       : GetText5WithErrCallback(source.c_str(), output.c_str(), &options, &formatCode, caller, 0);
        run.outputExists = std::filesystem::exists(output);
        if (run.outputExists) run.text = asText(readFile(output));
        logOwner = output;
    }
    KRMTest_ResetFailures();
    char logName[KRM_PATH_MAX];
    GetLogFileName(logOwner.c_str(), "ve2", logName);
    run.log = logWithoutConversionStarts(logName);
    return run;
}

bool hasLine(const std::vector<std::string>& log, const std::string& line) {
    return std::find(log.begin(), log.end(), line) != log.end();
}

std::string slotText(const PropertyRecord& record, uint32_t offset) {
    const auto* start = reinterpret_cast<const char*>(record.bytes + offset);
    return {start, strnlen(start, sizeof record.bytes - offset)};
}

Bytes repeated(const Bytes& content, size_t n) {
    Bytes result;
    while (n-- > 0) result.insert(result.end(), content.begin(), content.end());
    return result;
}

std::string asText(const Bytes& b) { return std::string(b.begin(), b.end()); }
std::string icuConvert(const char* to, const char* from, std::string_view text) {
    std::string out(text.size() * 4 + 16, '\0');
    UErrorCode status = U_ZERO_ERROR;
    const int32_t n = ucnv_convert(to, from, out.data(), static_cast<int32_t>(out.size()), text.data(),
                                   static_cast<int32_t>(text.size()), &status);
    out.resize(U_SUCCESS(status) ? static_cast<size_t>(n) : 0);
    return out;
}
Bytes body(std::string_view text) { return concat({bytes(text), endOfText()}); }
Bytes sampleBody() { return body("Hello\r\nWorld\r\n"); }

Bytes formatBlock(uint16_t flagWord, size_t size) { return makePropertyBlock({.flagWord = flagWord, .size = size}); }

std::string unicodeRecord(uint16_t unit) { return asText(ecs4Unicode(unit)); }

std::string objectRecord(char type, const std::string& rest) {
    const std::string content = std::string("B!") + "012345" + type + rest;
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned>(content.size() + 2));
    return "\xEF\xCC" + std::string(digits) + content;
}

void expectDecodedAtEveryCut(const TextCase& c) {
    SCOPED_TRACE(c.name);
    const Bytes text = body(c.text);
    const RunSetup setup = flagged(c.flags);
    const FilterRun whole = decode(text, setup);
    EXPECT_EQ(whole.code, c.code);
    EXPECT_EQ(whole.text, c.expected);
    for (size_t cut = 1; cut < std::min(text.size(), c.cutsBelow); ++cut) {
        SCOPED_TRACE(testing::Message() << "cut at " << cut);
        const FilterRun d = decodeInBlocks(text, {cut}, setup);
        EXPECT_EQ(d.code, c.code);
        EXPECT_EQ(d.text, c.expected);
        if (c.code == KRM_OK) { EXPECT_EQ(d.position, text.size() + 8) << "just past the end byte"; }
    }
}

} // namespace oasys_test
