#include "container_support.h"

#include <algorithm>
#include <cstring>

namespace oasys_test {

ReaderRun ContainerTest::runReader(uint32_t source, uint32_t flags, const CallContext& preset, const ReaderCall& call) {
    ReaderRun run;
    const auto logPath = dir / "reader.log";
    const auto outputPath = dir / "out.txt";
    std::filesystem::remove(logPath);

    HostOptions options = makeOptions("UTF-8", flags);
    run.context = preset;
    run.context.logHandle = krm_logfopen(flags, logPath.c_str());
    auto* srcInfo = static_cast<SrcInfo*>(KRM_malloc(KRM_SRCINFO_SIZE));
    EXPECT_NE(srcInfo, nullptr);
    if (srcInfo != nullptr) std::memset(srcInfo, 0, KRM_SRCINFO_SIZE);
    const uint32_t output = KRM_FileOpen(outputPath.c_str(), "wb");
    EXPECT_NE(output, 0u);

    run.code = call(source, output, srcInfo, &options, &run.context);

    KRM_free(srcInfo);
    EXPECT_EQ(KRM_FileClose(output), 0);
    krm_logfclose(flags, run.context.logHandle);
    run.context.logHandle = 0;
    run.log = readLogLines(logPath);
    const Bytes text = readFile(outputPath);
    run.text.assign(text.begin(), text.end());
    return run;
}

ReaderRun ContainerTest::runCombined(const Bytes& doc, uint32_t flags, const CallContext& preset) {
    const auto path = dir / "combined.oas";
    writeFile(path, doc);
    const uint32_t file = KRM_FileOpen(path.c_str(), "rb");
    EXPECT_NE(file, 0u);
    ReaderRun run = runReader(file, flags, preset, [](uint32_t source, uint32_t output, SrcInfo* info,
                                                      HostOptions* options, CallContext* context) {
        uint32_t position = 0;
        return GetDocTextContent(source, output, &position, info, options, context);
    });
    EXPECT_EQ(KRM_FileClose(file), 0);
    return run;
}

std::filesystem::path ContainerTest::compoundFile(const std::vector<CompoundStream>& streams) {
    const auto path = dir / "compound.ole";
    std::filesystem::remove(path);
    writeCompound(path, streams);
    return path;
}

ReaderRun ContainerTest::runCompound(const std::vector<CompoundStream>& streams, uint32_t flags,
                                     const CallContext& preset) {
    const uint32_t storage = KRM_2OLEopen(compoundFile(streams).c_str());
    EXPECT_NE(storage, 0u);
    ReaderRun run = runReader(storage, flags, preset, [](uint32_t source, uint32_t output, SrcInfo* info,
                                                         HostOptions* options, CallContext* context) {
        return GetOleTextContent(source, output, info, options, context);
    });
    KRM_2OLEclose(storage);
    return run;
}

bool hasLine(const std::vector<std::string>& log, const std::string& line) {
    return std::find(log.begin(), log.end(), line) != log.end();
}

size_t indexOfLine(const std::vector<std::string>& log, const std::string& line) {
    return static_cast<size_t>(std::find(log.begin(), log.end(), line) - log.begin());
}

Bytes sampleBody() { return concat({bytes("Hello"), crlf(), bytes("World"), crlf(), endOfText()}); }

Bytes formatBlock(uint16_t flagWord, size_t size) {
    PropertyFields fields;
    fields.flagWord = flagWord;
    fields.size = size;
    return makePropertyBlock(fields);
}

}  // namespace oasys_test
