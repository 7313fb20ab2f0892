// oasys2txt: the text of OASYS documents.
//
//   oasys2txt [options] <document> [<text-file>]      one document; "-" is standard input/output
//   oasys2txt [options] -o DIR <document|dir>...      one text file per document under DIR

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <unordered_set>
#include <thread>
#include <vector>

#include "documents.h"
#include "folder_walk.h"
#include "safe_files.h"
#include "text_engine.h"
#include "tool_common.h"

using namespace oasys_tools;

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kToolName = "oasys2txt";
constexpr const char* kTextSuffix = ".txt";
constexpr const char* kLogSuffix = ".ve2.log";
constexpr const char* kStdinName = "standard-input"; // its name for logs
constexpr auto kProgressInterval = std::chrono::milliseconds(100);
constexpr int kProgressBarWidth = 30;

struct Settings : CommonSettings {
    TextRequest text;
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
    kPackagingOptionDef<Settings>,
    {"--ruled-lines", "", "ruled lines as box-drawing characters instead of spaces",
     [](Settings& s, std::string_view) { s.text.ruledLines = true; }},
    {"--max-bytes", "N", "write at most N bytes of text per document",
     [](Settings& s, std::string_view v) {
         const auto n = parseCount(v, UINT32_MAX);
         if (!n) throw UsageError("--max-bytes needs a whole number up to 4294967295, not " + std::string(v));
         s.text.maxBytes = static_cast<uint32_t>(*n);
     }},
    {"--strict", "", "no text at all for a damaged document (default: the text before the damage)",
     [](Settings& s, std::string_view) { s.text.strict = true; }},
    {"--loop-guard", "", "stop a document after 524288 passes of one of the filter's loops",
     [](Settings& s, std::string_view) { s.text.loopGuard = true; }},
    {"--no-loop-guard", "", "no loop guard (the default)",
     [](Settings& s, std::string_view) { s.text.loopGuard = false; }},
    {"--log", "DIR", "the filter's log of each document into DIR (<path in its argument>.ve2.log)",
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
    kStdinLimitOptionDef<Settings>,
    kHelpOptionDef<Settings>,
    kLongHelpOptionDef<Settings>,
    kVersionOptionDef<Settings>,
    kLongVersionOptionDef<Settings>,
};

// ---- Documents and their results ---------------------------------------------------------------

struct Job {
    size_t index = 0;                 // in the run
    fs::path source;
    std::string shown;                // the name in messages and reports
    fs::path relative;                // beneath its argument: names its text file in a batch and its log
    std::optional<fs::path> output;   // a single document's named text file; none: standard output
    bool fromStdin = false;
    std::optional<Outcome> blocked;   // an outcome found before the run (unreadable, taken name)
    std::string blockedCause;
    bool candidate = false;           // found in a folder: no report when it is no OASYS document
};

struct JobResult {
    std::optional<Packaging> packaging;
    std::optional<int32_t> code; // the filter's code, when it was called
    Outcome outcome = Outcome::Ok;
    std::optional<uint64_t> bytes;
    int64_t milliseconds = 0;
    std::string cause;
    bool closedPipe = false; // standard output was closed by its reader
    bool noDocument = false; // a candidate that is no OASYS document: not a document of the run
};

// A result that counts in the report, the summary and the exit status.
bool isDocumentResult(const std::optional<JobResult>& result) { return result && !result->noDocument; }

// What every job of a run shares.
struct RunPlaces {
    std::optional<OutputFolder> outputRoot; // batch
    std::optional<OutputFolder> logRoot;    // --log
    std::optional<ScratchDir> logScratch;   // where the filter writes a log before it is placed
    FileIdSet inputs;                       // every file read by the run
};

// Messages on standard error; a progress bar on the same terminal line is cleared first.
class Console {
public:
    explicit Console(bool quiet) : quiet_(quiet) {}
    void setProgressActive(bool active) { progressActive_ = active; }
    void message(const std::string& text) {
        if (quiet_) return;
        std::lock_guard lock(mutex_);
        std::fprintf(stderr, "%s%s: %s\n", progressActive_ ? "\r\033[K" : "", kToolName, oneLine(text).c_str());
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

std::optional<TextOutput> openOutput(const Job& job, const RunPlaces& places, std::string& cause) {
    if (places.outputRoot) {
        std::optional<OutputFolder> folder = places.outputRoot->beneath(job.relative.parent_path(), cause);
        if (!folder) return std::nullopt;
        return TextOutput::inFolder(std::move(*folder), soundFileName(job.relative.filename().string(), kTextSuffix),
                                    places.inputs, cause);
    }
    if (job.output) return TextOutput::named(*job.output, places.inputs, cause);
    return TextOutput::standardOutput();
}

// The filter's log of the document, moved from the private folder it was written in to its
// place under --log DIR.
std::string placeLog(const fs::path& written, const Job& job, const RunPlaces& places) {
    std::string cause;
    UniqueFd in(::open(written.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) return {};
    std::optional<OutputFolder> folder = places.logRoot->beneath(job.relative.parent_path(), cause);
    PendingFile log;
    if (folder && log.create(*folder, soundFileName(job.relative.filename().string(), kLogSuffix), places.inputs,
                             cause)) {
        char buffer[65536];
        bool copied = true;
        for (ssize_t got; copied && (got = ::read(in.get(), buffer, sizeof buffer)) > 0;)
            copied = ::write(log.fd(), buffer, static_cast<size_t>(got)) == got;
        if (!copied) cause = systemCause("cannot write the log of " + shownName(job.shown), errno);
        if (copied) log.commit(cause);
    }
    ::unlink(written.c_str());
    return cause;
}

JobResult runJob(const Job& job, const Settings& settings, const RunPlaces& places) {
    const auto started = Clock::now();
    JobResult result;
    auto finish = [&](Outcome outcome, std::string cause) {
        result.outcome = outcome;
        result.cause = std::move(cause);
        result.milliseconds =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
        return result;
    };
    if (job.blocked) return finish(*job.blocked, job.blockedCause);

    Document document;
    const OpenResult opened = job.fromStdin ? readStandardInput(settings.stdinLimit, settings.packaging, document)
                                            : openDocument(job.source, settings.packaging, document);
    if (opened.packaging != Packaging::Auto) result.packaging = opened.packaging;
    result.noDocument = job.candidate && opened.outcome == Outcome::NotOasys;
    if (opened.outcome != Outcome::Ok) return finish(opened.outcome, opened.cause);

    std::string cause;
    std::optional<TextOutput> output = openOutput(job, places, cause);
    if (!output) return finish(Outcome::OutputError, cause);

    TextRequest request = settings.text;
    request.charset = settings.charset;
    if (places.logScratch) request.log = places.logScratch->path() / (std::to_string(job.index) + kLogSuffix);
    TextResult text = extractText(document, request, [&](const void* data, size_t size) {
        return output->write(data, size);
    });
    result.code = text.code;
    if (request.log) {
        if (std::string logCause = placeLog(*request.log, job, places); !logCause.empty()) {
            text.outcome = worse(text.outcome, Outcome::OutputError);
            text.cause = logCause;
        }
    }
    if (output->error() != 0) {
        text.cause = systemCause("writing to " + output->shownName() + " failed", output->error());
        result.closedPipe = output->error() == EPIPE && !job.output && !places.outputRoot;
    }
    if (!output->finish(text.keepText, cause)) return finish(Outcome::OutputError, cause);
    result.bytes = text.keepText ? output->bytes() : 0;
    return finish(text.outcome, text.cause);
}

// A document that cannot be worked on at all (no working folder, no memory) is an output error of
// that document: it must neither end the whole run nor escape a worker thread.
JobResult runJobCatching(const Job& job, const Settings& settings, const RunPlaces& places) {
    try {
        return runJob(job, settings, places);
    } catch (const std::exception& error) {
        JobResult result;
        result.outcome = Outcome::OutputError;
        result.cause = error.what();
        return result;
    }
}

// ---- Collecting the documents ------------------------------------------------------------------

// True when path is the folder or lies beneath it.
bool isWithin(const fs::path& path, const fs::path& folder) {
    std::error_code error;
    const fs::path a = fs::weakly_canonical(fs::absolute(path, error), error);
    const fs::path b = fs::weakly_canonical(fs::absolute(folder, error), error);
    const auto [end, ignored] = std::mismatch(b.begin(), b.end(), a.begin(), a.end());
    return end == b.end();
}

std::vector<Job> collectJobs(const std::vector<std::string>& arguments, const Settings& settings,
                             RunPlaces& places) {
    std::vector<Job> jobs;
    std::unordered_set<std::string> outputsTaken; // normal forms of the text files' paths
    FileIdSet skip{places.outputRoot->id()};
    if (places.logRoot) skip.insert(places.logRoot->id());
    // A document named on the command line brings its own members; those found in a folder were
    // taken from the folder's listing by the walk.
    auto add = [&](const fs::path& source, const fs::path& relative, const std::string& unreadable, bool named,
                   bool candidate) {
        Job job;
        job.source = source;
        job.shown = source.string();
        job.relative = relative;
        const fs::path key = relative.parent_path() / soundFileName(relative.filename().string(), kTextSuffix);
        if (!unreadable.empty()) {
            job.blocked = Outcome::Unreadable;
            job.blockedCause = unreadable;
        } else if (!outputsTaken.insert(key.lexically_normal().native()).second) {
            job.blocked = Outcome::OutputError;
            job.blockedCause = "its text file " + key.string() + " is already written for another document";
        }
        if (named) addInputIds(source, places.inputs);
        job.candidate = candidate;
        job.index = jobs.size();
        jobs.push_back(std::move(job));
    };
    for (const std::string& argument : arguments) {
        if (argument == "-") throw UsageError("standard input \"-\" cannot be used with -o");
        const fs::path path(argument);
        if (isWithin(path, *settings.outputDirectory))
            throw UsageError(shownName(argument) + " lies in the output folder; it is not read as input");
        std::error_code error;
        if (!fs::is_directory(path, error)) {
            add(path, path.filename(), {}, true, false);
            continue;
        }
        std::vector<FoundEntry> found;
        walkFolder(path, settings.recursive, skip, found, places.inputs);
        for (const FoundEntry& entry : found) add(entry.path, entry.relative, entry.unreadable, false, entry.candidate);
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


// Runs the jobs on the workers; a job not started because of an interruption has no result.
std::vector<std::optional<JobResult>> runJobs(const std::vector<Job>& jobs, const Settings& settings,
                                              const RunPlaces& places, Console& console, bool showProgress) {
    std::vector<std::optional<JobResult>> results(jobs.size());
    std::atomic<size_t> next{0};
    std::atomic<size_t> done{0};
    std::mutex doneMutex;
    std::condition_variable doneChanged;

    auto work = [&] {
        for (size_t i = next++; i < jobs.size() && interruptSignal() == 0; i = next++) {
            results[i] = runJobCatching(jobs[i], settings, places);
            if (isDocumentResult(results[i]) && results[i]->outcome != Outcome::Ok && !results[i]->closedPipe)
                console.message(shownName(jobs[i].shown) + ": " + results[i]->cause);
            {
                std::lock_guard lock(doneMutex);
                ++done;
            }
            doneChanged.notify_one();
        }
        doneChanged.notify_one();
    };

    const auto started = Clock::now();
    console.setProgressActive(showProgress);
    const unsigned workerCount = static_cast<unsigned>(std::min<size_t>(settings.jobs, std::max<size_t>(jobs.size(), 1)));
    std::vector<std::thread> workers;
    for (unsigned i = 0; i < workerCount; ++i) workers.emplace_back(work);
    if (showProgress) {
        std::unique_lock lock(doneMutex);
        while (done < jobs.size() && interruptSignal() == 0) {
            const size_t now = done;
            lock.unlock();
            console.progress(progressLine(now, jobs.size(), Clock::now() - started));
            lock.lock();
            doneChanged.wait_for(lock, kProgressInterval, [&] { return done != now; });
        }
    }
    for (std::thread& worker : workers) worker.join();
    if (showProgress) {
        console.progress(progressLine(done, jobs.size(), Clock::now() - started));
        std::fputc('\n', stderr);
        console.setProgressActive(false);
    }
    return results;
}

std::string reportLine(const Job& job, const JobResult& r) {
    std::string line = "{\"path\":" + jsonString(job.shown);
    if (!isValidUtf8(job.shown)) line += ",\"path_hex\":\"" + hexBytes(job.shown) + "\"";
    line += ",\"packaging\":" + (r.packaging ? jsonString(packagingName(*r.packaging)) : "null");
    line += ",\"code\":" + (r.code ? std::to_string(*r.code) : "null");
    line += ",\"outcome\":\"" + std::string(wordOf(r.outcome)) + "\"";
    line += ",\"reason\":" + (r.outcome == Outcome::Ok ? "null" : jsonString(r.cause));
    line += ",\"bytes\":" + (r.bytes ? std::to_string(*r.bytes) : "null");
    return line + ",\"ms\":" + std::to_string(r.milliseconds) + "}\n";
}

// The report, written as a new file renamed into place: one line per finished document.
bool writeReport(const fs::path& file, const std::vector<Job>& jobs,
                 const std::vector<std::optional<JobResult>>& results, const FileIdSet& inputs, std::string& cause) {
    std::optional<OutputFolder> folder = OutputFolder::parentOf(file, cause);
    PendingFile report;
    if (!folder || !report.create(*folder, file.filename().string(), inputs, cause)) return false;
    std::string text;
    for (size_t i = 0; i < jobs.size(); ++i)
        if (isDocumentResult(results[i])) text += reportLine(jobs[i], *results[i]);
    if (::write(report.fd(), text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        cause = systemCause("cannot write the report " + file.string(), errno);
        return false;
    }
    return report.commit(cause);
}

std::string summaryOf(const std::vector<std::optional<JobResult>>& results) {
    std::map<int, size_t> counts; // by exit code, so that the words come mild to severe
    size_t finished = 0, notStarted = 0;
    for (const auto& r : results) {
        notStarted += r ? 0 : 1;
        if (!isDocumentResult(r)) continue;
        ++finished;
        ++counts[exitCodeOf(r->outcome)];
    }
    std::string text = std::to_string(finished) + (finished == 1 ? " document:" : " documents:");
    const char* separator = " ";
    for (const auto& [exitCode, count] : counts) {
        text += separator + std::to_string(count) + " " + std::string(wordOf(static_cast<Outcome>(exitCode)));
        separator = ", ";
    }
    if (notStarted > 0) text += "; interrupted, " + std::to_string(notStarted) + " not started";
    return text;
}

constexpr const char* kUsage =
    "Usage: oasys2txt [options] <document> [<text-file>|-]\n"
    "       oasys2txt [options] -o DIR <document|directory>...\n"
    "The text of OASYS documents (separated .DOC/.FMT, combined or compound packaging).\n"
    "<document> \"-\" reads a combined or compound document from standard input.\n\n";

std::optional<OutputFolder> openFolderOrSay(const fs::path& path, Console& console) {
    std::string cause;
    std::optional<OutputFolder> folder = OutputFolder::open(path, true, cause);
    if (!folder) console.message(cause);
    return folder;
}

std::vector<Job> singleJob(const std::vector<std::string>& arguments, RunPlaces& places) {
    if (arguments.size() > 2) throw UsageError("several documents need -o DIR");
    std::error_code error;
    if (fs::is_directory(arguments[0], error)) throw UsageError("a directory needs -o DIR");
    Job job;
    job.fromStdin = arguments[0] == "-";
    job.source = arguments[0];
    job.shown = job.fromStdin ? "standard input" : arguments[0];
    job.relative = job.fromStdin ? fs::path(kStdinName) : job.source.filename();
    if (arguments.size() == 2 && arguments[1] != "-") job.output = arguments[1];
    if (!job.fromStdin) addInputIds(job.source, places.inputs);
    return {std::move(job)};
}

int run(Settings& settings, const std::vector<std::string>& arguments) {
    if (settings.listCharsets) {
        listCharsets(stdout);
        return 0;
    }
    if (arguments.empty()) throw UsageError("no document given");
    const bool batch = settings.outputDirectory.has_value();
    if (!batch && arguments[0] == "-" && settings.packaging == Packaging::Separated)
        throw UsageError("a separated document cannot be read from standard input");

    Console console(settings.quiet);
    RunPlaces places;
    const int outputError = exitCodeOf(Outcome::OutputError);
    if (settings.logDirectory) {
        places.logRoot = openFolderOrSay(*settings.logDirectory, console);
        if (!places.logRoot) return outputError;
        places.logScratch.emplace();
    }
    if (batch) {
        places.outputRoot = openFolderOrSay(*settings.outputDirectory, console);
        if (!places.outputRoot) return outputError;
    }
    const std::vector<Job> jobs = batch ? collectJobs(arguments, settings, places) : singleJob(arguments, places);

    const bool showProgress = batch && !settings.quiet && ::isatty(STDERR_FILENO);
    const std::vector<std::optional<JobResult>> results = runJobs(jobs, settings, places, console, showProgress);

    Outcome overall = Outcome::Ok;
    bool closedPipe = false;
    for (const auto& r : results) {
        if (!isDocumentResult(r)) continue;
        overall = worse(overall, r->outcome);
        closedPipe = closedPipe || r->closedPipe;
    }
    std::string cause;
    if (settings.reportFile && !writeReport(*settings.reportFile, jobs, results, places.inputs, cause)) {
        console.message(cause);
        overall = worse(overall, Outcome::OutputError);
    }
    if (batch) console.message(summaryOf(results));
    if (closedPipe) {
        // Standard output closed by its reader: end quietly, as a GNU tool does (after removing
        // the private log folder, which no destructor removes after the signal).
        places.logScratch.reset();
        std::signal(SIGPIPE, SIG_DFL);
        std::raise(SIGPIPE);
    }
    if (const int signal = interruptSignal(); signal != 0) return 128 + signal;
    return exitCodeOf(overall);
}

} // namespace

int main(int argc, char** argv) {
    // A closed pipe on standard output is seen as a write error (EPIPE) and ends the tool quietly.
    std::signal(SIGPIPE, SIG_IGN);
    installInterruptHandlers();
    return runTool(kToolName, kUsage, kOptions, kTextToolOutcomes, argc, argv, run);
}
