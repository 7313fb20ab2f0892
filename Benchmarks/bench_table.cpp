// The throughput table of bench/run: text extraction of each packaging at several body sizes, to
// UTF-8 and to Shift_JIS, the stream entry, iconv and uconv on the same text as plain Windows-31J,
// the peak resident memory of one extraction, properties per second, small documents per second
// through the library, and oasys2txt on a batch of small documents with one and two workers, found
// in their folder, named on the command line, and in two processes at once; and with one and two
// workers on a batch of documents ten times larger.
//
// The machine is shared and noisy, so every figure is the median of runs that alternate between
// the library and the reference commands, and speeds are also given as ratios to iconv measured in
// the same run.
//
//   bench_table [--sizes 1,16,128] [--runs N] [--oasys2txt PATH] [--batch N]
//   bench_table --peak-rss SOURCE FORMAT   (one extraction; prints the growth of resident memory)
//   bench_table --write DIR SIZE_MB        (the documents of one size, kept for a profiler:
//                                           perf record bench_table --peak-rss DIR/BODY16.DOC 1)
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <unicode/ucnv.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "krm_host.h"
#include "krm_zori2.h"
#include "oasys_writer.h"

extern char** environ;

namespace {

using namespace oasys_test;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kMega = 1e6;

// ---- Realistic Japanese text --------------------------------------------------------------------
// Message catalogues of the installed Japanese translations, as Windows-31J lines.

uint32_t wordAt(const Bytes& data, size_t at) {
    uint32_t value = 0;
    std::memcpy(&value, data.data() + at, sizeof value); // .mo files of this machine's byte order
    return value;
}

void addCatalogueLines(const fs::path& path, UConverter* cp932, std::vector<Bytes>& lines) {
    const Bytes mo = readFile(path);
    constexpr uint32_t kMagic = 0x950412de;
    if (mo.size() < 28 || wordAt(mo, 0) != kMagic) return;
    const uint32_t count = wordAt(mo, 8), translations = wordAt(mo, 16);
    for (uint32_t i = 1; i < count; ++i) { // entry 0 is the catalogue header
        const size_t slot = translations + size_t{i} * 8;
        if (slot + 8 > mo.size()) return;
        const uint32_t length = wordAt(mo, slot), offset = wordAt(mo, slot + 4);
        if (size_t{offset} + length > mo.size()) return;
        std::string text(reinterpret_cast<const char*>(mo.data() + offset), length);
        std::istringstream split(text);
        for (std::string line; std::getline(split, line);) {
            line.erase(std::remove_if(line.begin(), line.end(), [](char c) { return static_cast<uint8_t>(c) < 0x20; }),
                       line.end());
            if (line.empty()) continue;
            char out[1024];
            UErrorCode status = U_ZERO_ERROR;
            ucnv_reset(cp932);
            const int32_t n = ucnv_fromAlgorithmic(cp932, UCNV_UTF8, out, sizeof out, line.data(),
                                                   static_cast<int32_t>(line.size()), &status);
            if (U_SUCCESS(status) && n > 0) lines.emplace_back(out, out + n);
        }
    }
}

const std::vector<Bytes>& japaneseLines() {
    static const std::vector<Bytes> lines = [] {
        std::vector<Bytes> all;
        UErrorCode status = U_ZERO_ERROR;
        UConverter* cp932 = ucnv_open("windows-31j", &status);
        ucnv_setFromUCallBack(cp932, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
        std::vector<fs::path> catalogues;
        for (const auto& entry : fs::directory_iterator("/usr/share/locale/ja/LC_MESSAGES"))
            if (entry.path().extension() == ".mo") catalogues.push_back(entry.path());
        std::sort(catalogues.begin(), catalogues.end());
        for (const fs::path& path : catalogues) addCatalogueLines(path, cp932, all);
        ucnv_close(cp932);
        if (all.empty()) all.push_back(bytes("\x93\xFA\x96\x7B\x8C\xEA\x82\xCC\x95\xB6\x8F\xCD OASYS")); // 日本語の文章
        return all;
    }();
    return lines;
}

// A deterministic sequence, so that every run measures the same documents.
struct Lcg {
    uint64_t state = 0x9E3779B97F4A7C15ull;
    uint32_t next() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(state >> 33);
    }
};

// Catalogue lines with half-width kana, tabs, ruled lines, a full-width space control code and
// a few Unicode records mixed in, CR LF after each, 0x1A at the end.
Bytes bodyText(size_t size) {
    const std::vector<Bytes>& lines = japaneseLines();
    const Bytes kana = bytes("\xB5\xB1\xBC\xBD "), ruled = bytes("\x84\x9F\x84\x9F\x84\x9F"),
                space = bytes("\xEF\xA9"), tab = bytes("\t");
    Bytes text;
    text.reserve(size + 256);
    for (size_t i = 0; text.size() < size; ++i) {
        const Bytes& line = lines[i % lines.size()];
        if (i % 7 == 3) text.insert(text.end(), kana.begin(), kana.end());
        if (i % 11 == 5) text.insert(text.end(), ruled.begin(), ruled.end());
        if (i % 5 == 1) text.insert(text.end(), tab.begin(), tab.end());
        text.insert(text.end(), line.begin(), line.end());
        if (i % 13 == 8) text.insert(text.end(), space.begin(), space.end());
        if (i % 97 == 40) {
            const Bytes record = concat({bytes("_"), ecs4Unicode(static_cast<uint16_t>(0x4E00 + i % 200))});
            text.insert(text.end(), record.begin(), record.end());
        }
        text.push_back('\r');
        text.push_back('\n');
    }
    text.push_back(0x1A);
    return text;
}

// Block headers at varied distances, mostly a few thousand bytes, now and then the largest block.
std::vector<size_t> blockCuts(size_t size) {
    std::vector<size_t> cuts;
    Lcg random;
    for (size_t at = 0;;) {
        const uint32_t pick = random.next();
        at += pick % 8 == 0 ? 65535 : 1 + pick % 16000;
        if (at >= size) return cuts;
        cuts.push_back(at);
    }
}

Bytes formatBlock() {
    PropertyFields fields;
    fields.title = "\x95\xF1\x8D\x90\x8F\x91"; // 報告書
    fields.author = "\x8E\x52\x93\x63";        // 山田
    fields.keywords = {"OASYS", "\x8C\xA9\x96\x7B"};
    fields.comments = "\x8C\xA9\x96\x7B\x82\xCC\x95\xB6\x8F\x91";
    fields.created = {0x98, 0x12, 0x31, 0x23, 0x59};
    fields.modified = {0x05, 0x04, 0x01, 0x09, 0x30};
    return makePropertyBlock(fields);
}

struct Document {
    fs::path source;
    uint16_t formatCode;
};

// The file holding a document's format part: a separated document's .FMT, else the document itself.
fs::path formatFileOf(const Document& document) {
    return document.formatCode == KRM_FORMAT_SEPARATED ? fs::path(document.source).replace_extension(".FMT")
                                                       : document.source;
}

struct DocumentSet {
    Document separated, combined, compound;
    fs::path plain; // the extracted text as Windows-31J: the reference commands' input
    size_t bodyBytes = 0, plainBytes = 0;
};

// The three packagings of one body, named base.*.
DocumentSet writeDocuments(const fs::path& dir, const std::string& base, const Bytes& text) {
    const std::vector<size_t> cuts = blockCuts(text.size());
    const Bytes format = formatBlock();
    const Bytes body = layBlocks(text, cuts).bytes;
    DocumentSet set;
    set.separated = {writeSeparated(dir / base, body, format).doc, KRM_FORMAT_SEPARATED};
    set.combined = {dir / (base + ".oas"), KRM_FORMAT_COMBINED};
    writeFile(set.combined.source, makeCombinedDocument(format, text, cuts));
    set.compound = {dir / (base + ".ole"), KRM_FORMAT_COMPOUND};
    writeCompoundDocument(set.compound.source, format, body);
    set.bodyBytes = text.size();
    return set;
}

HostOptions optionsFor(const char* charset) {
    HostOptions options{};
    std::snprintf(options.outputCharset, sizeof options.outputCharset, "%s", charset);
    return options;
}

int32_t extract(const Document& document, const char* charset, const fs::path& output) {
    HostOptions options = optionsFor(charset);
    return GetTextWithErrCallback(document.source.c_str(), output.c_str(), &options, &document.formatCode, 0);
}

int32_t extractToStream(const Document& document, const fs::path& output) {
    HostOptions options = optionsFor("UTF-8");
    FILE* file = std::fopen(output.c_str(), "wb");
    if (file == nullptr) return -1;
    const uint32_t stream = KRM_StreamCreateFd(fileno(file));
    const int32_t code = GetTextStreamWithErrCallback(document.source.c_str(), stream, &options, &document.formatCode, 0);
    KRM_StreamRelease(stream);
    std::fclose(file);
    return code;
}

// ---- Commands --------------------------------------------------------------------------------------

double seconds(const timeval& time) { return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6; }

// Processor time of the commands run so far (user and system), added up as each ends.
double childCpuSeconds = 0;

// Starts a command with its standard output sent to a file; its process, 0 when it did not start.
pid_t startCommand(const std::vector<std::string>& arguments, const fs::path& output) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? child : 0;
}

// Waits for a started command; its exit status.
int waitCommand(pid_t child) {
    if (child == 0) return -1;
    int status = 0;
    struct rusage usage {};
    wait4(child, &status, 0, &usage);
    childCpuSeconds += seconds(usage.ru_utime) + seconds(usage.ru_stime);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int runCommand(const std::vector<std::string>& arguments, const fs::path& output) {
    return waitCommand(startCommand(arguments, output));
}

double secondsOf(const std::function<void()>& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double ownCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Elapsed time, and the processor time of this process and of the commands it ran: on a machine
// that others use at the same time, the processor time is the steadier figure of the work itself.
struct Timing {
    double wall = 0;
    double cpu = 0;
};

Timing timingOf(const std::function<void()>& work) {
    const double cpuBefore = ownCpuSeconds() + childCpuSeconds;
    const double wall = secondsOf(work);
    return {wall, ownCpuSeconds() + childCpuSeconds - cpuBefore};
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Runs every measurement once per round, alternating, and keeps the median time of each. Before
// each run (untimed) the outputs folder is emptied: rewriting a file truncated from full makes
// the file system write it out at its close, which would time the disk, not the work.
std::map<std::string, Timing> alternate(const std::vector<std::pair<std::string, std::function<void()>>>& work,
                                        int rounds, const fs::path& outputs) {
    std::map<std::string, std::vector<double>> walls, cpus;
    for (int round = 0; round < rounds; ++round)
        for (const auto& [name, run] : work) {
            fs::remove_all(outputs);
            fs::create_directories(outputs);
            const Timing timing = timingOf(run);
            walls[name].push_back(timing.wall);
            cpus[name].push_back(timing.cpu);
        }
    std::map<std::string, Timing> medians;
    for (const auto& [name, values] : walls) medians[name] = {median(values), median(cpus[name])};
    return medians;
}

void fail(const std::string& what) {
    std::fprintf(stderr, "bench_table: %s\n", what.c_str());
    std::exit(1);
}

// ---- Peak resident memory -------------------------------------------------------------------------

long statusKilobytes(const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field)));
    return -1;
}

int peakRssChild(const char* source, const char* formatCode) {
    const Document document{source, static_cast<uint16_t>(std::stoi(formatCode))};
    const fs::path output = fs::path(source).string() + ".rss.txt";
    const long before = statusKilobytes("VmRSS:");
    const int32_t code = extract(document, "UTF-8", output);
    const long peak = statusKilobytes("VmHWM:");
    fs::remove(output);
    std::printf("%ld\n", code == KRM_OK ? peak - before : -1);
    return 0;
}

// Growth of resident memory over one extraction, in a fresh process (KB).
long peakRss(const Document& document, const fs::path& work) {
    const fs::path report = work / "rss.out";
    runCommand({"/proc/self/exe", "--peak-rss", document.source.string(), std::to_string(document.formatCode)}, report);
    std::ifstream in(report);
    long kilobytes = -1;
    in >> kilobytes;
    return kilobytes;
}

// ---- The table -------------------------------------------------------------------------------------

struct Options {
    std::vector<size_t> sizesMb{1, 16, 128};
    int runs = 5;
    std::string oasys2txt;
    int batch = 2000;
};

std::string machine() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string model = "unknown processor";
    for (std::string line; std::getline(cpuinfo, line);)
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    return model + ", " + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " cores";
}

// The one table that bench/run prints: a row per measurement, a column per body size; figures
// that do not depend on the size stand in a column of their own.
class Table {
public:
    void set(const std::string& row, const std::string& column, const std::string& cell) {
        if (std::find(rows_.begin(), rows_.end(), row) == rows_.end()) rows_.push_back(row);
        if (std::find(columns_.begin(), columns_.end(), column) == columns_.end()) columns_.push_back(column);
        cells_[{row, column}] = cell;
    }
    void print() const {
        std::printf("\n| what |");
        for (const std::string& column : columns_) std::printf(" %s |", column.c_str());
        std::printf("\n|---|");
        for (size_t i = 0; i < columns_.size(); ++i) std::printf("---:|");
        std::printf("\n");
        for (const std::string& row : rows_) {
            std::printf("| %s |", row.c_str());
            for (const std::string& column : columns_) {
                const auto cell = cells_.find({row, column});
                std::printf(" %s |", cell != cells_.end() ? cell->second.c_str() : "");
            }
            std::printf("\n");
        }
    }

private:
    std::vector<std::string> rows_, columns_;
    std::map<std::pair<std::string, std::string>, std::string> cells_;
};

Table table;

std::string format(const char* pattern, double a, double b = 0) {
    char cell[64];
    std::snprintf(cell, sizeof cell, pattern, a, b);
    return cell;
}

// MB/s and its ratio to iconv's in the same run, elapsed; then the ratio of processor time.
void speedRow(const std::string& what, const std::string& column, double megabytes, Timing time, double iconvRate,
              double iconvCpuRate) {
    const double rate = megabytes / time.wall;
    char cell[96];
    std::snprintf(cell, sizeof cell, "%.1f (%.2f×; CPU %.2f×)", rate, rate / iconvRate, megabytes / time.cpu / iconvCpuRate);
    table.set(what + ": MB/s (× iconv; CPU × iconv)", column, cell);
}

void throughputAt(size_t sizeMb, const Options& options, const fs::path& work) {
    const std::string base = "BODY" + std::to_string(sizeMb);
    DocumentSet set = writeDocuments(work, base, bodyText(sizeMb * 1000 * 1000));
    set.plain = work / (base + ".sjis");
    if (extract(set.separated, "Shift_JIS", set.plain) != KRM_OK) fail("cannot extract the reference text");
    set.plainBytes = fs::file_size(set.plain);
    const fs::path outputs = work / "out", out = outputs / "out.txt", cmdOut = outputs / "cmd.out";
    const std::vector<std::pair<std::string, Document>> packagings = {
        {"separated", set.separated}, {"combined", set.combined}, {"compound", set.compound}};

    std::vector<std::pair<std::string, std::function<void()>>> work_;
    work_.emplace_back("iconv", [&] { runCommand({"iconv", "-f", "CP932", "-t", "UTF-8", set.plain.string()}, cmdOut); });
    work_.emplace_back("uconv", [&] { runCommand({"uconv", "-f", "windows-31j", "-t", "UTF-8", set.plain.string()}, cmdOut); });
    for (const auto& [name, document] : packagings)
        for (const char* charset : {"UTF-8", "Shift_JIS"})
            work_.emplace_back(name + " → " + charset, [&, charset] {
                if (extract(document, charset, out) != KRM_OK) fail("extraction failed: " + document.source.string());
            });
    work_.emplace_back("stream entry, separated → UTF-8", [&] {
        if (extractToStream(set.separated, out) != KRM_OK) fail("stream extraction failed");
    });
    const int rounds = sizeMb >= 100 ? std::max(1, options.runs * 3 / 5) : options.runs;
    const std::map<std::string, Timing> times = alternate(work_, rounds, outputs);

    const double body = set.bodyBytes / kMega, plain = set.plainBytes / kMega;
    const double iconvRate = plain / times.at("iconv").wall, iconvCpuRate = plain / times.at("iconv").cpu;
    const std::string column = std::to_string(sizeMb) + " MB";
    auto row = [&](const std::string& what, double megabytes, const std::string& name) {
        speedRow(what, column, megabytes, times.at(name), iconvRate, iconvCpuRate);
    };
    row("iconv -f CP932 -t UTF-8, plain text", plain, "iconv");
    row("uconv -f windows-31j -t UTF-8, plain text", plain, "uconv");
    for (const auto& [name, document] : packagings)
        for (const char* charset : {"UTF-8", "Shift_JIS"})
            row("text entry, " + name + " → " + charset, body, name + " → " + charset);
    row("stream entry, separated → UTF-8", body, "stream entry, separated → UTF-8");
    table.set("seconds, separated → UTF-8", column, format("%.3f", times.at("separated → UTF-8").wall));
    table.set("seconds, compound → UTF-8", column, format("%.3f", times.at("compound → UTF-8").wall));
    for (const auto& [name, document] : packagings)
        table.set("peak resident memory above the process's baseline, one extraction, " + name + " → UTF-8 (KB)", column,
                  format("%.0f", static_cast<double>(peakRss(document, work))));
    table.set("rounds (median of)", column, format("%.0f", rounds));
    for (const auto& [name, document] : packagings) fs::remove(document.source);
    fs::remove(work / (base + ".FMT"));
    fs::remove(set.plain);
}

// Documents of about size bytes of body, a third in each packaging, in dir.
std::vector<Document> smallDocuments(const fs::path& dir, int count, size_t size) {
    fs::create_directories(dir);
    const Bytes text = bodyText(size);
    std::vector<Document> documents;
    for (int i = 0; i < count; i += 3) {
        const DocumentSet set = writeDocuments(dir, "D" + std::to_string(i), text);
        documents.insert(documents.end(), {set.separated, set.combined, set.compound});
    }
    return documents;
}

// Links the files of documents [first, end) into a folder of their own, a separated document's
// format file beside its body.
void linkDocuments(const std::vector<Document>& documents, size_t first, size_t end, const fs::path& folder) {
    fs::create_directories(folder);
    for (size_t i = first; i < end; ++i) {
        const fs::path& source = documents[i].source;
        const fs::path format = formatFileOf(documents[i]);
        fs::create_hard_link(source, folder / source.filename());
        if (format != source) fs::create_hard_link(format, folder / format.filename());
    }
}

// Runs each set of commands (a set's processes all at once) in alternating rounds into an empty
// texts folder; the median elapsed and processor seconds of each set.
std::map<std::string, Timing> batchTimings(const std::map<std::string, std::vector<std::vector<std::string>>>& commands,
                                           const fs::path& texts, const fs::path& work, int runs) {
    std::map<std::string, std::vector<double>> times, cpus;
    for (int round = 0; round < runs; ++round)
        for (const auto& [name, processes] : commands) {
            fs::remove_all(texts);
            const Timing timing = timingOf([&] {
                std::vector<pid_t> started;
                for (size_t i = 0; i < processes.size(); ++i)
                    started.push_back(startCommand(processes[i], work / ("tool" + std::to_string(i) + ".out")));
                for (const pid_t child : started)
                    if (waitCommand(child) != 0) fail("oasys2txt failed in the batch \"" + name + "\"");
            });
            times[name].push_back(timing.wall);
            cpus[name].push_back(timing.cpu);
        }
    std::map<std::string, Timing> medians;
    for (const auto& [name, ignored] : commands) medians[name] = {median(times[name]), median(cpus[name])};
    fs::remove_all(texts);
    return medians;
}

void batchFigures(const Options& options, const fs::path& work, const std::string& column) {
    const fs::path batch = work / "batch", large = work / "large", texts = work / "texts";
    // A batch takes a fraction of a second, where the machine's noise weighs most: five times the
    // rounds of the other figures.
    const int rounds = 5 * options.runs;
    const std::vector<Document> documents = smallDocuments(batch, options.batch, 4000);
    const auto jobs = [&](const char* n, const fs::path& folder, const fs::path& into) {
        return std::vector<std::string>{options.oasys2txt, "-q", "-j", n, "-o", into.string(), folder.string()};
    };
    // The same documents found by walking the folder (-j 1, -j 2), named one by one (-j 1), and
    // named in two halves to two -j 1 processes at once: what two independent processes get out of
    // this machine for the same work, the reference for -j 2. Last, two -j 1 processes that
    // share nothing but the machine and its file system: each walks a folder of half of the
    // documents (links to the same files) into a texts folder of its own.
    const auto namedFrom = [&](size_t first, size_t end) {
        std::vector<std::string> command{options.oasys2txt, "-q", "-j", "1", "-o", texts.string()};
        for (size_t i = first; i < end; ++i) command.push_back(documents[i].source.string());
        return command;
    };
    const size_t half = documents.size() / 2;
    const fs::path firstHalf = work / "half1", secondHalf = work / "half2";
    linkDocuments(documents, 0, half, firstHalf);
    linkDocuments(documents, half, documents.size(), secondHalf);
    auto t = batchTimings({{"1", {jobs("1", batch, texts)}}, {"2", {jobs("2", batch, texts)}},
                           {"named", {namedFrom(0, documents.size())}},
                           {"pair", {namedFrom(0, half), namedFrom(half, documents.size())}},
                           {"apart", {jobs("1", firstHalf, texts / "1"), jobs("1", secondHalf, texts / "2")}}},
                          texts, work, rounds);
    const double n = static_cast<double>(documents.size()), one = t["1"].wall;
    table.set("oasys2txt -j 1, " + std::to_string(documents.size()) +
                  " documents of 4 KB: documents per second; per CPU second",
              column, format("%.0f; %.0f", n / one, n / t["1"].cpu));
    table.set("oasys2txt -j 2, the same: documents per second (× -j 1)", column,
              format("%.0f (%.2f×)", n / t["2"].wall, one / t["2"].wall));
    table.set("oasys2txt -j 1, the same documents named on the command line: documents per second (× the folder)",
              column, format("%.0f (%.2f×)", n / t["named"].wall, one / t["named"].wall));
    table.set("two oasys2txt -j 1 at once, each naming half of them: documents per second (× -j 1)", column,
              format("%.0f (%.2f×)", n / t["pair"].wall, one / t["pair"].wall));
    table.set("two oasys2txt -j 1 at once, each walking a folder of half of them into a texts folder of its own: "
              "documents per second (× -j 1)",
              column, format("%.0f (%.2f×)", n / t["apart"].wall, one / t["apart"].wall));
    for (const fs::path& folder : {batch, firstHalf, secondHalf}) fs::remove_all(folder);

    // Documents ten times larger: less of each document's time goes to opening and making files.
    const size_t largeCount = 600;
    smallDocuments(large, static_cast<int>(largeCount), 40000);
    t = batchTimings({{"1", {jobs("1", large, texts)}}, {"2", {jobs("2", large, texts)}}}, texts, work, rounds);
    table.set("oasys2txt -j 2 over " + std::to_string(largeCount) + " documents of 40 KB: documents per second (× -j 1)",
              column, format("%.0f (%.2f×)", largeCount / t["2"].wall, t["1"].wall / t["2"].wall));
    fs::remove_all(large);
    table.set("oasys2txt rounds (median of)", column, format("%.0f", rounds));
}

void smallDocumentFigures(const Options& options, const fs::path& work) {
    const std::vector<Document> small = smallDocuments(work / "small1k", 300, 1000);
    const fs::path outputs = work / "out";
    PropertyRecord record;
    const auto figures = alternate(
        {{"text", [&] {
              int n = 0;
              for (const Document& document : small) extract(document, "UTF-8", outputs / (std::to_string(n++) + ".txt"));
          }},
         {"properties", [&] {
              HostOptions host = optionsFor("UTF-8");
              for (const Document& document : small) {
                  GetProperty(formatFileOf(document).c_str(), &host, &record, &document.formatCode);
              }
          }}},
        options.runs, outputs);
    const std::string column = "size-free";
    table.set("documents of 1 KB per second through the library, one thread (a third in each packaging); per CPU second",
              column, format("%.0f; %.0f", small.size() / figures.at("text").wall, small.size() / figures.at("text").cpu));
    table.set("properties per second through the library, one thread; per CPU second", column,
              format("%.0f; %.0f", small.size() / figures.at("properties").wall, small.size() / figures.at("properties").cpu));
    fs::remove_all(work / "small1k");

    if (options.oasys2txt.empty()) return;
    batchFigures(options, work, column);
}

std::vector<size_t> parseSizes(const std::string& list) {
    std::vector<size_t> sizes;
    std::istringstream split(list);
    for (std::string item; std::getline(split, item, ',');) sizes.push_back(std::stoul(item));
    return sizes;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--peak-rss") == 0) return peakRssChild(argv[2], argv[3]);
    if (argc == 4 && std::strcmp(argv[1], "--write") == 0) {
        const double sizeMb = std::stod(argv[3]); // 0.004: 4 KB
        writeDocuments(argv[2], "BODY" + std::string(argv[3]), bodyText(static_cast<size_t>(sizeMb * 1000 * 1000)));
        return 0;
    }
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i], value = argv[i + 1];
        if (flag == "--sizes") options.sizesMb = parseSizes(value);
        else if (flag == "--runs") options.runs = std::max(1, std::stoi(value));
        else if (flag == "--oasys2txt") options.oasys2txt = value;
        else if (flag == "--batch") options.batch = std::stoi(value);
        else fail("unknown option " + flag);
    }
    const TempDir work;
    for (const size_t size : options.sizesMb) throughputAt(size, options, work.path());
    smallDocumentFigures(options, work.path());
    std::printf("Machine: %s. MB/s: 10^6 bytes of body (of plain text for iconv and uconv) per second, median of\n"
                "alternating rounds; × iconv: the ratio to iconv on the same text in the same run.\n",
                machine().c_str());
    table.print();
    return 0;
}
