// oasys2txt: the text of OASYS documents.
//
//   oasys2txt [options] <document> [<text-file>]      one document; "-" is standard input/output
//   oasys2txt [options] -o DIR <document|dir>...      one text file per document under DIR

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <unordered_map>
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
    InputFiles inputs;                      // every file read by the run
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

// The output subfolder of a worker's last document, kept open for its next documents: the
// documents of a folder come one after another, and opening their folder anew for each (a
// duplicate, a mkdirat that takes the parent folder's lock even where the folder is there, the
// open, an fstat, a close) made the workers wait for each other.
struct WorkerFolder {
    fs::path relative;
    std::optional<OutputFolder> folder;
};

std::optional<TextOutput> openOutput(const Job& job, const RunPlaces& places, WorkerFolder& last, std::string& cause) {
    if (places.outputRoot) {
        const std::string name = soundFileName(job.relative.filename().string(), kTextSuffix);
        const fs::path parent = job.relative.parent_path();
        // The root is open for the whole run; a folder beneath it is opened once for the documents
        // of that folder that this worker takes one after another.
        if (parent.empty()) return TextOutput::inFolder(*places.outputRoot, name, places.inputs, cause);
        if (!last.folder || last.relative != parent) {
            last.folder = places.outputRoot->beneath(parent, cause);
            last.relative = parent;
            if (!last.folder) return std::nullopt;
        }
        return TextOutput::inFolder(*last.folder, name, places.inputs, cause);
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

JobResult runJob(const Job& job, const Settings& settings, const RunPlaces& places, WorkerFolder& folder) {
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
    std::optional<TextOutput> output = openOutput(job, places, folder, cause);
    if (!output) return finish(Outcome::OutputError, cause);

    TextRequest request = settings.text;
    request.charset = settings.charset;
    if (places.logScratch) request.log = places.logScratch->path() / (std::to_string(job.index) + kLogSuffix);
    const int newFile = output->newFileFd();
    TextResult text = newFile >= 0 ? extractTextToFile(document, request, newFile)
                                   : extractText(document, request, [&](const void* data, size_t size) {
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
    result.bytes = text.bytes;
    return finish(text.outcome, text.cause);
}

// A document that cannot be worked on at all (no working folder, no memory) is an output error of
// that document: it must neither end the whole run nor escape a worker thread.
JobResult runJobCatching(const Job& job, const Settings& settings, const RunPlaces& places, WorkerFolder& folder) {
    try {
        return runJob(job, settings, places, folder);
    } catch (const std::exception& error) {
        JobResult result;
        result.outcome = Outcome::OutputError;
        result.cause = error.what();
        return result;
    }
}

// ---- Collecting the documents ------------------------------------------------------------------

// Where paths lead once every link is followed: absolute, without "." or "..", as the system
// resolves them (a part that does not exist yet is taken as written). The system is asked about
// every component of a path, so the folders of a batch's arguments are resolved once each and an
// argument is looked at only for its own name.
class ResolvedPaths {
public:
    fs::path of(const fs::path& path) {
        const fs::path name = path.filename();
        // A name that is a link leads anywhere; "." and ".." are not names within their folder.
        if (name.empty() || name == "." || name == ".." || isLink(path)) return resolvedWhole(path);
        const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
        const auto [place, isNew] = folders_.try_emplace(folder.native());
        if (isNew) place->second = resolvedWhole(folder);
        return place->second.empty() ? resolvedWhole(path) : place->second / name;
    }

    static fs::path resolvedWhole(const fs::path& path) {
        std::error_code error;
        return fs::weakly_canonical(fs::absolute(path, error), error);
    }

private:
    static bool isLink(const fs::path& path) {
        struct stat info {};
        return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
    }
    std::unordered_map<std::string, fs::path> folders_; // by the folder's path as given
};

// True when the resolved path is the resolved folder or lies beneath it.
bool isWithin(const fs::path& path, const fs::path& folder) {
    const auto [end, ignored] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
    return end == folder.end();
}

// The documents of a batch as the walk finds them. Workers take them in order while the walk goes
// on; a job keeps its place, so that the report lists the documents in the walk's order.
class JobQueue {
public:
    void add(Job job) {
        {
            std::lock_guard lock(mutex_);
            job.index = jobs_.size();
            jobs_.push_back(std::move(job));
            results_.emplace_back();
        }
        changed_.notify_one();
    }
    // No job comes after this.
    void close() {
        {
            std::lock_guard lock(mutex_);
            closed_ = true;
        }
        changed_.notify_all();
    }
    // The next job and the place of its result; false once the queue is closed and every job taken.
    bool take(const Job*& job, std::optional<JobResult>*& result) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return next_ < jobs_.size() || closed_; });
        if (next_ == jobs_.size()) return false;
        job = &jobs_[next_];
        result = &results_[next_];
        ++next_;
        return true;
    }
    size_t found() const {
        std::lock_guard lock(mutex_);
        return jobs_.size();
    }
    // Once no worker runs any more: every job and its result, in the walk's order.
    const std::deque<Job>& jobs() const { return jobs_; }
    const std::deque<std::optional<JobResult>>& results() const { return results_; }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> jobs_; // a deque: a job taken stays where it is while more are added
    std::deque<std::optional<JobResult>> results_;
    size_t next_ = 0;
    bool closed_ = false;
};

// Refuses a batch's arguments before any document is worked on.
void checkBatchArguments(const std::vector<std::string>& arguments, const Settings& settings) {
    ResolvedPaths resolved;
    const fs::path outputFolder = ResolvedPaths::resolvedWhole(*settings.outputDirectory);
    for (const std::string& argument : arguments) {
        if (argument == "-") throw UsageError("standard input \"-\" cannot be used with -o");
        if (isWithin(resolved.of(argument), outputFolder))
            throw UsageError(shownName(argument) + " lies in the output folder; it is not read as input");
    }
}

// Adds the documents of the batch's arguments to the queue, folders walked, in order.
void walkJobs(const std::vector<std::string>& arguments, const Settings& settings, RunPlaces& places,
              JobQueue& queue) {
    std::unordered_set<std::string> outputsTaken; // normal forms of the text files' paths
    FileIdSet skip{places.outputRoot->id()};
    if (places.logRoot) skip.insert(places.logRoot->id());
    FileIdSet& inputs = places.inputs.filling();
    NamedInputs namedInputs;
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
        if (named) namedInputs.addInputIds(source, inputs);
        job.candidate = candidate;
        queue.add(std::move(job));
    };
    for (const std::string& argument : arguments) {
        const fs::path path(argument);
        std::error_code error;
        if (!fs::is_directory(path, error)) {
            add(path, path.filename(), {}, true, false);
            continue;
        }
        walkFolder(path, settings.recursive, skip, [&](const FoundEntry& entry) {
            add(entry.path, entry.relative, entry.unreadable, false, entry.candidate);
        }, inputs);
    }
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


// A batch's progress on the terminal, drawn again by the worker that finishes a document, at most
// every kProgressInterval.
class Progress {
public:
    Progress(Console& console, const JobQueue& queue, bool shown) : console_(console), queue_(queue), shown_(shown) {
        console_.setProgressActive(shown);
    }
    void documentDone() {
        const size_t done = ++done_;
        if (!shown_) return;
        std::unique_lock lock(mutex_, std::try_to_lock);
        const auto now = Clock::now();
        if (!lock || now - lastDrawn_ < kProgressInterval) return;
        lastDrawn_ = now;
        console_.progress(progressLine(done, queue_.found(), now - started_));
    }
    void finish() {
        if (!shown_) return;
        console_.progress(progressLine(done_, queue_.found(), Clock::now() - started_));
        std::fputc('\n', stderr);
        console_.setProgressActive(false);
    }

private:
    Console& console_;
    const JobQueue& queue_;
    const bool shown_;
    const Clock::time_point started_ = Clock::now();
    std::atomic<size_t> done_{0};
    std::mutex mutex_;
    Clock::time_point lastDrawn_{};
};

// Runs the jobs that fill() adds on `settings.jobs` threads: this one, once fill() is done, and the
// others from the start, so that the first documents are worked on while the folders are still
// walked and no more than that many threads ever work. A job not started because of an
// interruption has no result.
void runJobs(const std::function<void(JobQueue&)>& fill, const Settings& settings, RunPlaces& places,
             Console& console, bool showProgress, JobQueue& queue) {
    Progress progress(console, queue, showProgress);
    auto work = [&] {
        const Job* job = nullptr;
        std::optional<JobResult>* result = nullptr;
        WorkerFolder folder;
        while (interruptSignal() == 0 && queue.take(job, result)) {
            *result = runJobCatching(*job, settings, places, folder);
            if (isDocumentResult(*result) && (*result)->outcome != Outcome::Ok && !(*result)->closedPipe)
                console.message(shownName(job->shown) + ": " + (*result)->cause);
            progress.documentDone();
        }
    };
    {
        std::vector<std::thread> others;
        // However the filling ends, the list of inputs is complete, no job comes after it, and
        // the other threads are joined before this block is left.
        struct Finish {
            JobQueue& queue;
            InputFiles& inputs;
            std::vector<std::thread>& threads;
            ~Finish() {
                inputs.complete();
                queue.close();
                for (std::thread& thread : threads) thread.join();
            }
        } finish{queue, places.inputs, others};
        for (unsigned i = 1; i < settings.jobs; ++i) others.emplace_back(work);
        fill(queue);
        places.inputs.complete(); // before this thread works too; the guard doing it again changes nothing
        queue.close();
        work();
    }
    progress.finish();
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
bool writeReport(const fs::path& file, const std::deque<Job>& jobs,
                 const std::deque<std::optional<JobResult>>& results, const InputFiles& inputs, std::string& cause) {
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

std::string summaryOf(const std::deque<std::optional<JobResult>>& results) {
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

Job singleJob(const std::vector<std::string>& arguments, RunPlaces& places) {
    if (arguments.size() > 2) throw UsageError("several documents need -o DIR");
    std::error_code error;
    if (fs::is_directory(arguments[0], error)) throw UsageError("a directory needs -o DIR");
    Job job;
    job.fromStdin = arguments[0] == "-";
    job.source = arguments[0];
    job.shown = job.fromStdin ? "standard input" : arguments[0];
    job.relative = job.fromStdin ? fs::path(kStdinName) : job.source.filename();
    if (arguments.size() == 2 && arguments[1] != "-") job.output = arguments[1];
    if (!job.fromStdin) NamedInputs().addInputIds(job.source, places.inputs.filling());
    return job;
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
    if (batch) checkBatchArguments(arguments, settings);
    std::optional<Job> single;
    if (!batch) {
        single = singleJob(arguments, places);
        settings.jobs = 1; // one document: no worker thread waits for a second
    }
    const bool showProgress = batch && !settings.quiet && ::isatty(STDERR_FILENO);
    JobQueue queue;
    runJobs(
        [&](JobQueue& jobs) {
            if (batch) walkJobs(arguments, settings, places, jobs);
            else jobs.add(std::move(*single));
        },
        settings, places, console, showProgress, queue);
    const std::deque<Job>& jobs = queue.jobs();
    const std::deque<std::optional<JobResult>>& results = queue.results();

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
