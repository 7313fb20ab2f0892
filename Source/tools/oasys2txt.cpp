// oasys2txt: the text of OASYS documents, through the filter's exported interface.
//
//   oasys2txt [options] <document> [<text-file>]      one document; "-" is standard input/output
//   oasys2txt [options] -o DIR <document|dir>...      one text file per document under DIR

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "krm_host.h"
#include "krm_zori2.h"
#include "tool_common.h"

using namespace oasys_tools;

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kToolName = "oasys2txt";
constexpr const char* kTextSuffix = ".txt";
constexpr auto kProgressInterval = std::chrono::milliseconds(100);
constexpr int kProgressBarWidth = 30;

struct Settings : CommonSettings {
    Packaging packaging = Packaging::Auto;
    uint32_t flags = KRM_OPT_LOOP_GUARD;
    uint32_t maxBytes = 0;
    std::optional<fs::path> logDirectory;
    bool quiet = false;
    bool recursive = false;
    bool listCharsets = false;
    std::optional<fs::path> outputDirectory;
    unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
    std::optional<fs::path> reportFile;
};

constexpr OptionDef<Settings> kOptions[] = {
    {"-enc", "NAME", "output charset (default UTF-8; any name of -listenc)",
     [](Settings& s, std::string_view v) { s.charset = std::string(v); }},
    {"-listenc", "", "list the output charset names and exit",
     [](Settings& s, std::string_view) { s.listCharsets = true; }},
    {"--packaging", "KIND", "auto (default), separated, combined or compound",
     [](Settings& s, std::string_view v) {
         const auto packaging = parsePackaging(v);
         if (!packaging) throw UsageError("unknown packaging " + std::string(v));
         s.packaging = *packaging;
     }},
    {"--ruled-lines", "", "ruled lines as box-drawing characters instead of spaces",
     [](Settings& s, std::string_view) { s.flags |= KRM_OPT_RULED_LINES; }},
    {"--max-bytes", "N", "write at most N bytes of text per document",
     [](Settings& s, std::string_view v) {
         const auto n = parseCount(v, UINT32_MAX);
         if (!n) throw UsageError("--max-bytes needs a whole number up to 4294967295, not " + std::string(v));
         s.flags |= KRM_OPT_SIZE_LIMIT;
         s.maxBytes = static_cast<uint32_t>(*n);
     }},
    {"--no-loop-guard", "", "let the filter's loops run without their pass limit",
     [](Settings& s, std::string_view) { s.flags &= ~static_cast<uint32_t>(KRM_OPT_LOOP_GUARD); }},
    {"--log", "DIR", "write the filter's log files into DIR",
     [](Settings& s, std::string_view v) { s.logDirectory = fs::path(v); }},
    {"-q", "", "no messages, progress or summary",
     [](Settings& s, std::string_view) { s.quiet = true; }},
    {"-r", "", "descend into subdirectories of directory arguments",
     [](Settings& s, std::string_view) { s.recursive = true; }},
    {"-o", "DIR", "one text file per document under DIR (several documents, directories)",
     [](Settings& s, std::string_view v) { s.outputDirectory = fs::path(v); }},
    {"-j", "N", "documents in parallel (default: the number of cores)",
     [](Settings& s, std::string_view v) {
         const auto n = parseCount(v, 1024);
         if (!n || *n == 0) throw UsageError("-j needs a number from 1 to 1024, not " + std::string(v));
         s.jobs = static_cast<unsigned>(*n);
     }},
    {"--report", "FILE", "one JSON line per document into FILE",
     [](Settings& s, std::string_view v) { s.reportFile = fs::path(v); }},
    {"-h", "", "this help", [](Settings& s, std::string_view) { s.help = true; }},
    {"--help", "", "this help", [](Settings& s, std::string_view) { s.help = true; }},
    {"-v", "", "the version", [](Settings& s, std::string_view) { s.version = true; }},
};

// ---- Documents and their results ---------------------------------------------------------------

struct Job {
    fs::path source;
    std::string shown;   // the name in messages and reports
    fs::path output;     // empty: standard output
    bool fromStdin = false;
    std::string blocked; // a reason found before the run (a taken output name)
};

struct JobResult {
    std::optional<Packaging> packaging;
    std::optional<int32_t> code; // the filter's code, when it was called
    Outcome outcome = Outcome::Ok;
    std::optional<uint64_t> bytes;
    int64_t milliseconds = 0;
    std::string cause;
};

// Messages on standard error; a progress bar on the same terminal line is cleared first.
class Console {
public:
    explicit Console(bool quiet) : quiet_(quiet) {}
    void setProgressActive(bool active) { progressActive_ = active; }
    void message(const std::string& text) {
        if (quiet_) return;
        std::lock_guard lock(mutex_);
        std::fprintf(stderr, "%s%s: %s\n", progressActive_ ? "\r\033[K" : "", kToolName, text.c_str());
    }
    void progress(const std::string& line) {
        std::lock_guard lock(mutex_);
        std::fprintf(stderr, "\r%s\033[K", line.c_str());
        std::fflush(stderr);
    }

private:
    bool quiet_;
    bool progressActive_ = false;
    std::mutex mutex_;
};

std::optional<uint64_t> fileSize(const fs::path& path) {
    std::error_code error;
    const auto size = fs::file_size(path, error);
    return error ? std::optional<uint64_t>(0) : std::optional<uint64_t>(size);
}

// Creates the output file before the filter runs, so that a place we cannot write is told apart
// from a document we cannot read (the filter reports both as 22).
// In a batch the folders that mirror the documents' folders are made first.
bool canCreate(const fs::path& output, bool makeFolders, std::string& cause) {
    std::error_code error;
    if (makeFolders && output.has_parent_path()) fs::create_directories(output.parent_path(), error);
    const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT, 0666);
    if (fd < 0) {
        cause = "cannot create " + output.string() + ": " + std::strerror(errno);
        return false;
    }
    ::close(fd);
    return true;
}

// The stream entry reports several failures as "no text"; the file entry tells them apart. It is
// asked again into a scratch file only after such a failure.
int32_t exactCodeOf(const PreparedDocument& document, HostOptions& options) {
    ScratchDir scratch;
    const fs::path probe = scratch.path() / "probe.txt";
    return GetTextWithErrCallback(document.filterPath.c_str(), probe.c_str(), &options, &document.formatCode, 0);
}

int32_t extractToStdout(const PreparedDocument& document, HostOptions& options, JobResult& result) {
    std::fflush(stdout);
    const off_t start = ::lseek(STDOUT_FILENO, 0, SEEK_CUR);
    const uint32_t stream = KRM_StreamCreateFd(STDOUT_FILENO);
    int32_t code = GetTextStreamWithErrCallback(document.filterPath.c_str(), stream, &options, &document.formatCode, 0);
    KRM_StreamRelease(stream);
    const off_t end = ::lseek(STDOUT_FILENO, 0, SEEK_CUR);
    if (start >= 0 && end >= start) result.bytes = static_cast<uint64_t>(end - start);
    if (code == KRM_ERR_NO_TEXT) {
        code = exactCodeOf(document, options);
        // The document itself is fine: only the writing to standard output failed.
        if (code == KRM_OK || code == KRM_ERR_OUTPUT_LIMIT) code = KRM_ERR_WRITE;
    }
    return code;
}

JobResult runJob(const Job& job, const Settings& settings) {
    const auto started = Clock::now();
    JobResult result;
    auto finish = [&](Outcome outcome, std::string cause) {
        result.outcome = outcome;
        result.cause = std::move(cause);
        result.milliseconds =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
        return result;
    };
    if (!job.blocked.empty()) return finish(Outcome::OutputError, job.blocked);

    std::optional<ScratchDir> stdinScratch;
    fs::path source = job.source;
    Packaging requested = settings.packaging;
    if (job.fromStdin) {
        stdinScratch.emplace();
        source = stdinScratch->path() / "standard-input";
        if (!copyFdToFile(STDIN_FILENO, source)) return finish(Outcome::Unreadable, "cannot read standard input");
        if (requested == Packaging::Auto) {
            const auto detected = detectPackaging(source, false);
            if (!detected) return finish(Outcome::NotOasys, "not an OASYS document");
            requested = *detected;
        }
    }

    PreparedDocument document;
    const PrepareResult prepared = prepareDocument(source, requested, true, document);
    if (document.packaging != Packaging::Auto) result.packaging = document.packaging;
    if (prepared.outcome != Outcome::Ok) return finish(prepared.outcome, prepared.cause);

    HostOptions options = makeHostOptions(settings.charset, settings.flags, settings.maxBytes);
    int32_t code = 0;
    if (job.output.empty()) {
        code = extractToStdout(document, options, result);
    } else {
        std::string cause;
        if (!canCreate(job.output, settings.outputDirectory.has_value(), cause)) return finish(Outcome::OutputError, cause);
        code = GetTextWithErrCallback(document.filterPath.c_str(), job.output.c_str(), &options,
                                      &document.formatCode, 0);
        result.bytes = fs::exists(job.output) ? fileSize(job.output) : std::optional<uint64_t>(0);
    }
    result.code = code;
    std::string cause = causeOfCode(code);
    if (code == KRM_ERR_WRITE && job.output.empty()) cause = "writing to standard output failed";
    return finish(outcomeOfCode(code), cause);
}

// A document that cannot be worked on at all (no working folder, no memory) is an output error of
// that document: it must neither end the whole run nor escape a worker thread.
JobResult runJobCatching(const Job& job, const Settings& settings) {
    try {
        return runJob(job, settings);
    } catch (const std::exception& error) {
        JobResult result;
        result.outcome = Outcome::OutputError;
        result.cause = error.what();
        return result;
    }
}

// ---- Collecting the documents ------------------------------------------------------------------

// In a directory, a file counts as a document when it is the body of a separated document or a
// combined or compound document by its bytes; format and group members are part of their body.
bool isDocumentInDirectory(const fs::path& path) {
    if (hasBodyExtension(path)) return true;
    if (hasSeparatedExtension(path)) return false;
    return detectPackaging(path, false).has_value();
}

std::vector<Job> collectJobs(const std::vector<std::string>& arguments, const Settings& settings) {
    std::vector<Job> jobs;
    std::set<fs::path> outputsTaken;
    auto add = [&](const fs::path& source, const fs::path& relative) {
        Job job;
        job.source = source;
        job.shown = source.string();
        job.output = *settings.outputDirectory / fs::path(relative.string() + kTextSuffix);
        const fs::path key = job.output.lexically_normal();
        if (!outputsTaken.insert(key).second)
            job.blocked = "its text file " + job.output.string() + " is already written for another document";
        jobs.push_back(std::move(job));
    };
    for (const std::string& argument : arguments) {
        if (argument == "-") throw UsageError("standard input \"-\" cannot be used with -o");
        const fs::path path(argument);
        std::error_code error;
        if (!fs::is_directory(path, error)) {
            add(path, path.filename());
            continue;
        }
        std::vector<fs::path> found;
        auto consider = [&](const fs::directory_entry& entry) {
            std::error_code ignored;
            if (entry.is_regular_file(ignored) && isDocumentInDirectory(entry.path())) found.push_back(entry.path());
        };
        if (settings.recursive) {
            for (fs::recursive_directory_iterator it(path, fs::directory_options::skip_permission_denied, error), end;
                 !error && it != end; it.increment(error))
                consider(*it);
        } else {
            for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) consider(*it);
        }
        std::sort(found.begin(), found.end());
        for (const fs::path& file : found) add(file, file.lexically_relative(path));
    }
    return jobs;
}

// ---- Running the batch ---------------------------------------------------------------------------

std::string progressLine(size_t done, size_t total, Clock::duration elapsed) {
    const double seconds = std::chrono::duration<double>(elapsed).count();
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
    const int filled = total ? static_cast<int>(done * kProgressBarWidth / total) : kProgressBarWidth;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(kProgressBarWidth, '-');
    char eta[32] = "--:--";
    if (rate > 0) {
        const auto remaining = static_cast<long>(static_cast<double>(total - done) / rate + 0.5);
        std::snprintf(eta, sizeof eta, "%ld:%02ld", remaining / 60, remaining % 60);
    }
    char line[160];
    std::snprintf(line, sizeof line, "[%s] %zu/%zu  %.1f doc/s  ETA %s", bar.c_str(), done, total, rate, eta);
    return line;
}

std::vector<JobResult> runJobs(const std::vector<Job>& jobs, const Settings& settings, Console& console,
                               bool showProgress) {
    std::vector<JobResult> results(jobs.size());
    std::atomic<size_t> next{0};
    std::atomic<size_t> done{0};
    std::mutex doneMutex;
    std::condition_variable doneChanged;

    auto work = [&] {
        for (size_t i = next++; i < jobs.size(); i = next++) {
            results[i] = runJobCatching(jobs[i], settings);
            if (results[i].outcome != Outcome::Ok) console.message(jobs[i].shown + ": " + results[i].cause);
            {
                std::lock_guard lock(doneMutex);
                ++done;
            }
            doneChanged.notify_one();
        }
    };

    const auto started = Clock::now();
    console.setProgressActive(showProgress);
    const unsigned workerCount = static_cast<unsigned>(std::min<size_t>(settings.jobs, std::max<size_t>(jobs.size(), 1)));
    std::vector<std::thread> workers;
    for (unsigned i = 0; i < workerCount; ++i) workers.emplace_back(work);
    if (showProgress) {
        std::unique_lock lock(doneMutex);
        while (done < jobs.size()) {
            const size_t now = done;
            lock.unlock();
            console.progress(progressLine(now, jobs.size(), Clock::now() - started));
            lock.lock();
            doneChanged.wait_for(lock, kProgressInterval, [&] { return done != now; });
        }
    }
    for (std::thread& worker : workers) worker.join();
    if (showProgress) {
        console.progress(progressLine(jobs.size(), jobs.size(), Clock::now() - started));
        std::fputc('\n', stderr);
        console.setProgressActive(false);
    }
    return results;
}

bool writeReport(const fs::path& file, const std::vector<Job>& jobs, const std::vector<JobResult>& results) {
    std::FILE* out = std::fopen(file.c_str(), "w");
    if (!out) return false;
    for (size_t i = 0; i < jobs.size(); ++i) {
        const JobResult& r = results[i];
        std::fprintf(out, "{\"path\":%s,\"packaging\":%s,\"code\":%s,\"outcome\":\"%s\",\"bytes\":%s,\"ms\":%lld}\n",
                     jsonString(jobs[i].shown).c_str(),
                     r.packaging ? jsonString(packagingName(*r.packaging)).c_str() : "null",
                     r.code ? std::to_string(*r.code).c_str() : "null", outcomeInfo(r.outcome).word.data(),
                     r.bytes ? std::to_string(*r.bytes).c_str() : "null", static_cast<long long>(r.milliseconds));
    }
    return std::fclose(out) == 0;
}

std::string summaryOf(const std::vector<JobResult>& results) {
    std::map<int, size_t> counts; // by exit code, so that the words come mild to severe
    for (const JobResult& r : results) ++counts[outcomeInfo(r.outcome).exitCode];
    std::string text = std::to_string(results.size()) + (results.size() == 1 ? " document:" : " documents:");
    const char* separator = " ";
    for (const OutcomeInfo& info : kOutcomes) {
        if (auto it = counts.find(info.exitCode); it != counts.end()) {
            text += separator + std::to_string(it->second) + " " + std::string(info.word);
            separator = ", ";
        }
    }
    return text;
}

constexpr const char* kUsage =
    "Usage: oasys2txt [options] <document> [<text-file>|-]\n"
    "       oasys2txt [options] -o DIR <document|directory>...\n"
    "The text of OASYS documents (separated .DOC/.FMT, combined or compound packaging).\n"
    "<document> \"-\" reads a combined or compound document from standard input.\n\n";

int run(Settings& settings, const std::vector<std::string>& arguments) {
    if (settings.listCharsets) {
        listCharsets(stdout);
        return 0;
    }
    if (arguments.empty()) throw UsageError("no document given");
    if (settings.logDirectory) {
        std::error_code error;
        fs::create_directories(*settings.logDirectory, error);
        if (!fs::is_directory(*settings.logDirectory, error))
            throw UsageError("log directory " + settings.logDirectory->string() + " cannot be made");
        KRM_SetLogDirectory(settings.logDirectory->c_str());
        settings.flags |= KRM_OPT_LOG;
    }

    std::vector<Job> jobs;
    const bool batch = settings.outputDirectory.has_value();
    if (batch) {
        jobs = collectJobs(arguments, settings);
    } else {
        if (arguments.size() > 2) throw UsageError("several documents need -o DIR");
        std::error_code error;
        if (fs::is_directory(arguments[0], error)) throw UsageError("a directory needs -o DIR");
        Job job;
        job.source = arguments[0];
        job.shown = arguments[0] == "-" ? "standard input" : arguments[0];
        job.fromStdin = arguments[0] == "-";
        if (job.fromStdin && settings.packaging == Packaging::Separated)
            throw UsageError("a separated document cannot be read from standard input");
        if (arguments.size() == 2 && arguments[1] != "-") job.output = arguments[1];
        jobs.push_back(std::move(job));
    }

    Console console(settings.quiet);
    const bool showProgress = batch && !settings.quiet && ::isatty(STDERR_FILENO);
    const std::vector<JobResult> results = runJobs(jobs, settings, console, showProgress);

    Outcome overall = Outcome::Ok;
    for (const JobResult& r : results) overall = worse(overall, r.outcome);
    if (settings.reportFile && !writeReport(*settings.reportFile, jobs, results)) {
        console.message("cannot write the report " + settings.reportFile->string());
        overall = worse(overall, Outcome::OutputError);
    }
    if (batch) console.message(summaryOf(results));
    return outcomeInfo(overall).exitCode;
}

} // namespace

int main(int argc, char** argv) {
    // A closed pipe on standard output is a write error of the document, not the end of the tool.
    std::signal(SIGPIPE, SIG_IGN);
    return runTool(kToolName, kUsage, kOptions, argc, argv, run);
}
