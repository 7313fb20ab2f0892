#include "container_support.h"

#include <algorithm>
#include <cstring>

namespace oasys_test {

ReaderRun ContainerTest::runReader(uint32_t flags, const CallContext& preset, const ReaderCall& call) {
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

    run.code = call(output, srcInfo, &options, &run.context);

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
    ReaderRun run;
    withFile(doc, [&](uint32_t file) {
        run = runReader(flags, preset, [file](uint32_t output, SrcInfo* info, HostOptions* options, CallContext* context) {
            uint32_t position = 0;
            return GetDocTextContent(file, output, &position, info, options, context);
        });
    });
    expectHostCountersZero();
    return run;
}

ReaderRun ContainerTest::runCompound(const std::vector<CompoundStream>& streams, uint32_t flags,
                                     const CallContext& preset) {
    const auto path = dir / "compound.ole";
    std::filesystem::remove(path);
    writeCompound(path, streams);
    const uint32_t storage = KRM_2OLEopen(path.c_str());
    EXPECT_NE(storage, 0u);
    ReaderRun run = runReader(flags, preset, [storage](uint32_t output, SrcInfo* info, HostOptions* options,
                                                       CallContext* context) {
        return GetOleTextContent(storage, output, info, options, context);
    });
    KRM_2OLEclose(storage);
    expectHostCountersZero();
    return run;
}

void ContainerTest::withFile(const Bytes& content, const std::function<void(uint32_t)>& fn) {
    writeFile(dir / "file.bin", content);
    const uint32_t file = KRM_FileOpen((dir / "file.bin").c_str(), "rb");
    ASSERT_NE(file, 0u);
    fn(file);
    EXPECT_EQ(KRM_FileClose(file), 0);
}

void ContainerTest::withStream(const Bytes& content, const std::function<void(uint32_t)>& fn) {
    const auto path = dir / "stream.ole";
    std::filesystem::remove(path);
    writeCompound(path, {{"S", content}});
    const uint32_t storage = KRM_2OLEopen(path.c_str());
    ASSERT_NE(storage, 0u);
    const uint32_t stream = KRM_2OLEopenStream(storage, "S");
    EXPECT_NE(stream, 0u);
    if (stream != 0) {
        fn(stream);
        KRM_2OLEcloseStream(stream);
    }
    KRM_2OLEclose(storage);
}

bool hasLine(const std::vector<std::string>& log, const std::string& line) {
    return std::find(log.begin(), log.end(), line) != log.end();
}

Bytes repeated(const Bytes& content, size_t n) {
    Bytes result;
    result.reserve(content.size() * n);
    for (size_t i = 0; i < n; ++i) result.insert(result.end(), content.begin(), content.end());
    return result;
}

Bytes sampleBody() { return concat({bytes("Hello"), crlf(), bytes("World"), crlf(), endOfText()}); }

Bytes formatBlock(uint16_t flagWord, size_t size) {
    PropertyFields fields;
    fields.flagWord = flagWord;
    fields.size = size;
    return makePropertyBlock(fields);
}

}  // namespace oasys_test
