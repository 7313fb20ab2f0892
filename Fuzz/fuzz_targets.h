// What each fuzz target does with one input, shared by the libFuzzer programs and by the replay
// test that runs every stored input again in the ordinary test suite.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "krm_host_testing.h"
#include "krm_zori2.h"
#include "oasys.h"
#include "oasys_writer.h"

namespace oasys_fuzz {

using oasys_test::Bytes;

// Inputs above this size are cut: the readers are byte-at-a-time and the fuzzer gains nothing
// from megabytes of text.
constexpr size_t kMaxInput = 1 << 20;
// The most text an input may write, so that a decoder that loops over its output is stopped by
// the size limit rather than by a full disk.
constexpr uint32_t kMaxOutput = 1 << 20;

inline Bytes input(const uint8_t* data, size_t size) {
    return Bytes(data, data + (size < kMaxInput ? size : kMaxInput));
}

inline HostOptions options() {
    HostOptions o{};
    std::strcpy(o.outputCharset, "UTF-8");
    o.optionFlags = KRM_OPT_RULED_LINES | KRM_OPT_SIZE_LIMIT;
    o.maxOutputSize = kMaxOutput;
    return o;
}

// One scratch directory per process; every run overwrites the same few files in it.
inline const oasys_test::TempDir& scratch() {
    static const oasys_test::TempDir dir;
    return dir;
}

// A format block of an unprotected document, and a body with one line of text.
inline Bytes plainFormat() { return oasys_test::makePropertyBlock({}); }
inline Bytes plainBody() { return oasys_test::bytes("OASYS\r\n\x1A"); }

inline int32_t textOf(const std::filesystem::path& source, uint16_t formatCode) {
    HostOptions o = options();
    const std::string out = (scratch() / "out.txt").string();
    return GetTextWithErrCallback(source.c_str(), out.c_str(), &o, &formatCode, 0);
}

inline int32_t propertiesOf(const std::filesystem::path& source, uint16_t formatCode) {
    HostOptions o = options();
    static PropertyRecord record;
    return GetProperty(source.c_str(), &o, &record, &formatCode);
}

// The input as the .DOC body of a separated document with a fixed .FMT.
inline int32_t separatedText(const uint8_t* data, size_t size) {
    const auto paths = oasys_test::writeSeparated(scratch() / "SEP", input(data, size), plainFormat());
    return textOf(paths.doc, KRM_FORMAT_SEPARATED);
}

// The input as a whole combined document.
inline int32_t combinedText(const uint8_t* data, size_t size) {
    const auto path = scratch() / "COMB.OAS";
    oasys_test::writeFile(path, input(data, size));
    return textOf(path, KRM_FORMAT_COMBINED);
}

// The input as the body stream of a compound document with a fixed list and format stream.
inline int32_t compoundBodyText(const uint8_t* data, size_t size) {
    const auto path = scratch() / "BODY.OAS";
    oasys_test::writeCompoundDocument(path, plainFormat(), input(data, size));
    return textOf(path, KRM_FORMAT_COMPOUND);
}

// The input as the stream list of a compound document whose format and body streams are fixed.
inline int32_t compoundListText(const uint8_t* data, size_t size) {
    const auto path = scratch() / "LIST.OAS";
    oasys_test::writeCompound(path, {{KRM_STREAM_LIST_NAME, input(data, size)},
                                     {"DOC1.FMT", plainFormat()},
                                     {"DOC1.DOC", plainBody()}});
    return textOf(path, KRM_FORMAT_COMPOUND);
}

// The input as a whole compound file.
inline int32_t compoundFileText(const uint8_t* data, size_t size) {
    const auto path = scratch() / "FILE.OAS";
    oasys_test::writeFile(path, input(data, size));
    return textOf(path, KRM_FORMAT_COMPOUND);
}

// The input as the .FMT format file of a separated document.
inline int32_t formatProperties(const uint8_t* data, size_t size) {
    const auto paths = oasys_test::writeSeparated(scratch() / "PROP", plainBody(), input(data, size));
    return propertiesOf(paths.fmt, KRM_FORMAT_SEPARATED);
}

// The input as a whole combined document, for its properties.
inline int32_t combinedProperties(const uint8_t* data, size_t size) {
    const auto path = scratch() / "PROP.OAS";
    oasys_test::writeFile(path, input(data, size));
    return propertiesOf(path, KRM_FORMAT_COMBINED);
}

// What an application does with a document it opens: its password flag, its properties and its
// text into memory. Gives the filter code of the extraction, or kBrokenContract when a call
// answers with a status it has no business giving to valid arguments.
constexpr int32_t kBrokenContract = -1;
template <typename Open>
int32_t useDocument(Open open) {
    oasys_document* document = nullptr;
    oasys_result r{};
    if (const oasys_status opened = open(&document, &r); opened != OASYS_OK)
        return opened < OASYS_BAD_ARGUMENT ? r.filter_code : kBrokenContract;
    oasys_options o;
    oasys_options_init(&o);
    o.ruled_lines = 1;
    o.max_bytes = kMaxOutput;
    int locked = 0;
    const auto properties = std::make_unique<oasys_properties>();
    oasys_buffer text{};
    const bool kept = oasys_password_protected(document, &locked, &r) < OASYS_BAD_ARGUMENT &&
                      oasys_read_properties(document, &o, properties.get(), &r) < OASYS_BAD_ARGUMENT &&
                      oasys_extract_to_buffer(document, &text, &o, &r) < OASYS_BAD_ARGUMENT;
    oasys_buffer_free(&text);
    oasys_close(document);
    return kept ? r.filter_code : kBrokenContract;
}

// Separates the members of a separated document within one input.
constexpr std::string_view kFormatMark = "\n--FMT--\n";

// The input whole, opened from memory with its packaging detected; then as the members of a
// separated document: the body before the first kFormatMark and the format after it (a plain
// format when the input has no mark).
inline int32_t libraryMemory(const uint8_t* data, size_t size) {
    const Bytes in = input(data, size);
    const int32_t detected = useDocument([&](oasys_document** document, oasys_result* result) {
        return oasys_open_memory(in.data(), in.size(), OASYS_PACKAGING_AUTO, document, result);
    });
    // Pointers into the input, as an application hands them in: an empty format part is still given.
    const auto mark = std::search(in.begin(), in.end(), kFormatMark.begin(), kFormatMark.end());
    const Bytes plain = plainFormat();
    const size_t bodySize = static_cast<size_t>(mark - in.begin());
    const uint8_t* format = mark == in.end() ? plain.data() : in.data() + bodySize + kFormatMark.size();
    const size_t formatSize = mark == in.end() ? plain.size() : in.size() - bodySize - kFormatMark.size();
    const int32_t separated = useDocument([&](oasys_document** document, oasys_result* result) {
        return oasys_open_separated_memory(in.data(), bodySize, format, formatSize, document, result);
    });
    return std::min(detected, separated); // a broken contract outranks any filter code
}

// True when every handle, block and name binding of the host is released again.
inline bool hostReleasedEverything() {
    const KrmHostCounters c = KRMTest_Counters();
    return c.openFiles == 0 && c.openStorages == 0 && c.openStreams == 0 && c.openLogs == 0 &&
           c.outstandingBlocks == 0 && c.outputStreams == 0 && KRMTest_LiveBindings() == 0;
}

// libgsf 1.14.50 loses a directory entry of some damaged compound files inside
// gsf_infile_msole_new (every frame from that call to the allocation is libgsf's; a program that
// only opens such a file with libgsf leaks the same), so that one leak is suppressed and every
// other leak, ours above all, stays fatal. The suppression hides nothing of ours: a compound file
// we forgot to release would not show as a leak anyway (GSlice keeps a GObject's memory
// reachable), which is why what our host acquires is counted and checked after each input.
// GLib keeps no frame pointers, so only the full unwinder sees which call a leaked GLib block
// came from. (This header is included by one file of each program; visible, so that a shared
// sanitizer runtime finds them.)
#define OASYS_FUZZ_HOOK extern "C" __attribute__((visibility("default"))) const char*
OASYS_FUZZ_HOOK __asan_default_options() { return "fast_unwind_on_malloc=0"; }
OASYS_FUZZ_HOOK __lsan_default_suppressions() { return "leak:gsf_infile_msole_new\n"; }

// Every target by the name of its corpus folder.
struct Target {
    std::string_view name;
    int32_t (*run)(const uint8_t*, size_t);
};
inline constexpr Target kTargets[] = {
    {"separated", separatedText},         {"combined", combinedText},
    {"compound_body", compoundBodyText},  {"compound_list", compoundListText},
    {"compound_file", compoundFileText},  {"property_fmt", formatProperties},
    {"property_combined", combinedProperties}, {"library_memory", libraryMemory},
};

} // namespace oasys_fuzz
