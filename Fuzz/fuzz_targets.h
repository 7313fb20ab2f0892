// What each fuzz target does with one input, shared by the libFuzzer programs and by the replay
// test that runs every stored input again in the ordinary test suite.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "krm_zori2.h"
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

// Every target by the name of its corpus folder.
struct Target {
    std::string_view name;
    int32_t (*run)(const uint8_t*, size_t);
};
inline constexpr Target kTargets[] = {
    {"separated", separatedText},         {"combined", combinedText},
    {"compound_body", compoundBodyText},  {"compound_list", compoundListText},
    {"compound_file", compoundFileText},  {"property_fmt", formatProperties},
    {"property_combined", combinedProperties},
};

} // namespace oasys_fuzz
