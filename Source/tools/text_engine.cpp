// The tools' questions answered by the filter's exported interface.
//
// The filter takes paths: a document the tools have opened is handed over as /proc/self/fd/<n> of
// the very descriptor they checked, and a separated document as two links "<n>.DOC" and "<n>.FMT"
// to its members' descriptors in a private folder (the filter derives one member's name from the
// other's and takes no mixed case). The text comes through a memory stream, so that the tools do
// the writing themselves; the stream entry folds several failures into "no text", so only after
// such a failure the file entry is asked for the exact code.
#include "text_engine.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "krm_host.h"
#include "krm_zori2.h"

namespace oasys_tools {

namespace {

constexpr std::string_view kLogSuffix = ".ve2.log";

std::string descriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

struct Handover {
    std::optional<ScratchDir> scratch; // holds the links of a separated document
    std::string path;
    uint16_t formatCode = 0;
};

void handOver(const InputDocument& document, bool forText, Handover& handover) {
    handover.formatCode = formatCodeOf(document.packaging);
    if (document.packaging != Packaging::Separated) {
        handover.path = descriptorPath(document.body.get());
        return;
    }
    handover.scratch.emplace();
    const int key = document.body ? document.body.get() : document.format.get();
    const fs::path base = handover.scratch->path() / std::to_string(key);
    const fs::path format = fs::path(base.string() + ".FMT");
    fs::create_symlink(descriptorPath(document.format.get()), format);
    handover.path = format.string();
    if (document.body) {
        const fs::path body = fs::path(base.string() + ".DOC");
        fs::create_symlink(descriptorPath(document.body.get()), body);
        if (forText) handover.path = body.string();
    }
}

std::mutex logFolderMutex;
std::optional<ScratchDir> logFolder;

uint32_t flagsOf(const TextRequest& request) {
    uint32_t flags = 0;
    if (request.ruledLines) flags |= KRM_OPT_RULED_LINES;
    if (request.loopGuard) flags |= KRM_OPT_LOOP_GUARD;
    if (request.maxBytes) flags |= KRM_OPT_SIZE_LIMIT;
    return flags;
}

// The file entry's code for a document the stream entry called "no text".
int32_t exactCodeOf(const Handover& handover, HostOptions options) {
    options.optionFlags &= ~static_cast<uint32_t>(KRM_OPT_LOG);
    ScratchDir scratch;
    const fs::path probe = scratch.path() / "probe.txt";
    return GetTextWithErrCallback(handover.path.c_str(), probe.c_str(), &options, &handover.formatCode, 0);
}

std::string salvageCause(const std::string& cause, const std::vector<uint8_t>& text) {
    const size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    return cause + "; the text decoded before the damage was kept: " + std::to_string(text.size()) +
           " bytes, ending after line " + std::to_string(lines);
}

// A file with the compound-file signature that no compound reader can open is broken, not "not
// OASYS": it is what a truncated compound document looks like.
template <class Result>
Result refuseDamagedCompound(Result& result) {
    result.outcome = Outcome::Broken;
    result.cause = "the document is broken (its compound file cannot be opened)";
    return result;
}

} // namespace

CompoundKind examineCompound(int fd) {
    const uint32_t storage = KRM_2OLEopen(descriptorPath(fd).c_str());
    if (storage == 0) return CompoundKind::Unreadable;
    const uint32_t list = KRM_2OLEopenStream(storage, KRM_STREAM_LIST_NAME);
    if (list != 0) KRM_2OLEcloseStream(list);
    KRM_2OLEclose(storage);
    return list != 0 ? CompoundKind::Oasys : CompoundKind::Other;
}

void enableLogs() {
    std::lock_guard lock(logFolderMutex);
    if (logFolder) return;
    logFolder.emplace();
    KRM_SetLogDirectory(logFolder->path().c_str());
}

TextResult extractText(const InputDocument& document, const TextRequest& request, const TextSink& sink) {
    TextResult result;
    if (document.damagedCompound) return refuseDamagedCompound(result);
    Handover handover;
    handOver(document, true, handover);
    uint32_t flags = flagsOf(request);
    if (request.log) flags |= KRM_OPT_LOG;
    HostOptions options = makeHostOptions(request.charset, flags, request.maxBytes.value_or(0));

    const uint32_t stream = KRM_StreamCreateMemory();
    int32_t code = GetTextStreamWithErrCallback(handover.path.c_str(), stream, &options, &handover.formatCode, 0);
    const uint8_t* data = nullptr;
    size_t length = 0;
    KRM_StreamGetMemory(stream, &data, &length);
    const std::vector<uint8_t> text(data, data + length);
    KRM_StreamRelease(stream);
    if (request.log && logFolder)
        result.log = logFolder->path() / (fs::path(handover.path).filename().string() + std::string(kLogSuffix));

    if (code == KRM_ERR_NO_TEXT) {
        const int32_t exact = exactCodeOf(handover, options);
        if (exact != KRM_OK && exact != KRM_ERR_OUTPUT_LIMIT) code = exact;
    }
    result.code = code;
    result.outcome = outcomeOfCode(code);
    result.cause = causeOfCode(code);
    if (code == KRM_ERR_LOOP_GUARD) result.cause += " (" + std::string(kLoopGuardOption) + " is set)";
    result.keepText = code == KRM_OK || code == KRM_ERR_OUTPUT_LIMIT;
    if (result.outcome == Outcome::Broken && !request.strict && !text.empty()) {
        result.keepText = true;
        result.cause = salvageCause(result.cause, text);
    }
    if (result.keepText && !text.empty() && !sink(text.data(), text.size())) {
        result.outcome = Outcome::OutputError;
        result.keepText = false;
        result.cause = "writing the text failed";
    }
    return result;
}

PropertiesResult readProperties(const InputDocument& document, const std::string& charset) {
    PropertiesResult result;
    if (document.damagedCompound) return refuseDamagedCompound(result);
    Handover handover;
    handOver(document, false, handover);
    HostOptions options = makeHostOptions(charset, 0);
    const int32_t code = GetProperty(handover.path.c_str(), &options, &result.record, &handover.formatCode);
    result.outcome = outcomeOfCode(code);
    if (code != KRM_OK) result.cause = causeOfCode(code);
    return result;
}

bool isPasswordProtected(const InputDocument& document) {
    if (document.damagedCompound) return false;
    if (document.packaging == Packaging::Separated) {
        const uint32_t file = KRM_FileOpen(descriptorPath(document.format.get()).c_str(), "rb");
        if (file == 0) return false;
        const bool protectedByPassword = havePassword(file, 0, 0) != 0;
        KRM_FileClose(file);
        return protectedByPassword;
    }
    // The readers of the other packagings tell it only by their code: one byte of text is asked.
    Handover handover;
    handOver(document, true, handover);
    ScratchDir scratch;
    const fs::path probe = scratch.path() / "probe.txt";
    HostOptions options = makeHostOptions("UTF-8", KRM_OPT_SIZE_LIMIT, 1);
    return GetTextWithErrCallback(handover.path.c_str(), probe.c_str(), &options, &handover.formatCode, 0) ==
           KRM_ERR_PASSWORD;
}

} // namespace oasys_tools
