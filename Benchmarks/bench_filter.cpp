// Throughput of text extraction for the three packagings and two output charsets, of property
// extraction, of the byte-at-a-time source access that the decoder is built on, and the cost of
// opening a bound name.
#include <benchmark/benchmark.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "krm_host.h"
#include "krm_zori2.h"
#include "oasys_writer.h"

namespace {

using namespace oasys_test;

constexpr size_t kBodyBytes = 5 << 20;   // about 5 MB of body text
constexpr size_t kBlockData = 4000;      // a block header every 4000 bytes of text

// Lines of mixed Japanese (Shift-JIS) and ASCII text, about 70 bytes each, ending with 0x1A.
const Bytes& bodyText() {
    static const Bytes text = [] {
        const Bytes line = concat({bytes("\x93\xFA\x96\x7B\x8C\xEA\x82\xCC\x95\xB6\x8F\xCD" // 日本語の文章
                                         "\x82\xC6 OASYS text 0123456789 \x83\x65\x83\x4C\x83\x58\x83\x67"
                                         "\x81\x40\xB1\xB2\xB3 abcdefghij"),
                                   crlf()});
        Bytes all;
        all.reserve(kBodyBytes + line.size() + 1);
        while (all.size() < kBodyBytes) all.insert(all.end(), line.begin(), line.end());
        all.push_back(0x1A);
        return all;
    }();
    return text;
}

std::vector<size_t> cutsEvery(size_t step, size_t size) {
    std::vector<size_t> cuts;
    for (size_t at = step; at < size; at += step) cuts.push_back(at);
    return cuts;
}

struct Documents {
    TempDir dir;
    SeparatedPaths separated;
    std::filesystem::path combined, compound, output;
    Documents() {
        const Bytes& text = bodyText();
        const std::vector<size_t> cuts = cutsEvery(kBlockData, text.size());
        PropertyFields fields;
        fields.title = "\x95\xF1\x8D\x90\x8F\x91";
        fields.author = "author";
        fields.keywords = {"one", "two", "three"};
        fields.created = {0x98, 0x12, 0x31, 0x23, 0x59};
        const Bytes format = makePropertyBlock(fields);
        const Bytes body = layBlocks(text, cuts).bytes;
        separated = writeSeparated(dir / "BENCH", body, format);
        combined = dir / "COMBINED.OAS";
        writeFile(combined, makeCombinedDocument(format, text, cuts));
        compound = dir / "COMPOUND.OAS";
        writeCompoundDocument(compound, format, body);
        output = dir / "out.txt";
    }
};

const Documents& documents() {
    static const Documents docs;
    return docs;
}

const char* const kCharsets[] = {"UTF-8", "Shift_JIS"};

void extractText(benchmark::State& state, const std::filesystem::path& source, uint16_t formatCode) {
    HostOptions options{};
    std::strcpy(options.outputCharset, kCharsets[state.range(0)]);
    state.SetLabel(kCharsets[state.range(0)]);
    const std::string out = documents().output.string();
    for (auto _ : state) {
        const int32_t code = GetTextWithErrCallback(source.c_str(), out.c_str(), &options, &formatCode, 0);
        if (code != KRM_OK) state.SkipWithError("text extraction failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bodyText().size()));
}

void BM_SeparatedText(benchmark::State& state) { extractText(state, documents().separated.doc, KRM_FORMAT_SEPARATED); }
void BM_CombinedText(benchmark::State& state) { extractText(state, documents().combined, KRM_FORMAT_COMBINED); }
void BM_CompoundText(benchmark::State& state) { extractText(state, documents().compound, KRM_FORMAT_COMPOUND); }
BENCHMARK(BM_SeparatedText)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CombinedText)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompoundText)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);

// Small documents, one after the other: what each call costs besides its text.
void BM_SmallDocument(benchmark::State& state) {
    static const struct Small {
        TempDir dir;
        std::filesystem::path paths[3];
        Small() {
            const Bytes text = concat({bytes("\x93\xFA\x96\x7B\x8C\xEA OASYS"), crlf(), endOfText()});
            const Bytes format = makePropertyBlock({});
            paths[0] = writeSeparated(dir / "SMALL", text, format).doc;
            paths[1] = dir / "small.oas";
            writeFile(paths[1], makeCombinedDocument(format, text));
            paths[2] = dir / "small.ole";
            writeCompoundDocument(paths[2], format, text);
        }
    } small;
    const uint16_t codes[3] = {KRM_FORMAT_SEPARATED, KRM_FORMAT_COMBINED, KRM_FORMAT_COMPOUND};
    HostOptions options{};
    std::strcpy(options.outputCharset, "UTF-8");
    const std::string out = (small.dir / "out.txt").string();
    const int which = static_cast<int>(state.range(0));
    for (auto _ : state) {
        std::filesystem::remove(out); // a new file each time, as in a batch
        if (GetTextWithErrCallback(small.paths[which].c_str(), out.c_str(), &options, &codes[which], 0) != KRM_OK)
            state.SkipWithError("text extraction failed");
    }
}
BENCHMARK(BM_SmallDocument)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

void BM_GetProperty(benchmark::State& state) {
    HostOptions options{};
    std::strcpy(options.outputCharset, "UTF-8");
    const uint16_t formatCode = KRM_FORMAT_SEPARATED;
    static PropertyRecord record;
    const std::string fmt = documents().separated.fmt.string();
    for (auto _ : state) {
        if (GetProperty(fmt.c_str(), &options, &record, &formatCode) != KRM_OK)
            state.SkipWithError("property extraction failed");
    }
}
BENCHMARK(BM_GetProperty)->Unit(benchmark::kMicrosecond);

// The decoder's access pattern: an explicit seek before every one-byte read.
void BM_SeekAndReadOneByte(benchmark::State& state) {
    const std::string doc = documents().separated.doc.string();
    const uint32_t file = KRM_FileOpen(doc.c_str(), "rb");
    if (file == 0) {
        state.SkipWithError("cannot open the body");
        return;
    }
    const uint32_t size = static_cast<uint32_t>(std::filesystem::file_size(doc));
    uint32_t offset = 0;
    uint8_t byte = 0;
    for (auto _ : state) {
        KRM_FileSeek(file, offset, 0);
        benchmark::DoNotOptimize(KRM_FileRead(&byte, 1, 1, file));
        benchmark::DoNotOptimize(byte);
        if (++offset == size) offset = 0;
    }
    KRM_FileClose(file);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_SeekAndReadOneByte);

// Opening, reading and closing a bound name, as an application's small document costs it: "rb"
// takes a duplicate of the bound memfd, "a+b" opens it afresh through /proc/self/fd (compare the two).
void BM_BoundNameOpenReadClose(benchmark::State& state) {
    const char* const mode = state.range(0) == 0 ? "rb" : "a+b";
    state.SetLabel(mode);
    const int memfd = ::memfd_create("bench", MFD_CLOEXEC);
    char prefix[KRM_BINDING_PREFIX_MAX];
    const uint32_t binding = KRM_BindingCreate(prefix, sizeof prefix);
    const std::string name = std::string(prefix) + "doc";
    if (memfd < 0 || ::write(memfd, "text", 4) != 4 || KRM_BindingAddFd(binding, "doc", memfd) != 0) {
        state.SkipWithError("cannot bind a memfd");
    }
    char text[4];
    for (auto _ : state) {
        const uint32_t file = KRM_FileOpen(name.c_str(), mode);
        benchmark::DoNotOptimize(KRM_FileRead(text, 1, sizeof text, file));
        KRM_FileClose(file);
    }
    KRM_BindingRelease(binding);
    ::close(memfd);
}
BENCHMARK(BM_BoundNameOpenReadClose)->DenseRange(0, 1);

} // namespace
