// Helpers shared by the host library's tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "krm_host.h"
#include "oasys_writer.h"

namespace host_test {

using oasys_test::Bytes;

// Bytes that differ from their neighbours and from every other seed, so that a read from the
// wrong place or of the wrong stream shows.
inline Bytes patternBytes(size_t length, uint32_t seed = 1) {
    Bytes out(length);
    uint32_t state = seed * 2654435761u + 12345u;
    for (auto& byte : out) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return out;
}

inline std::string asText(const Bytes& data) {
    return std::string(data.begin(), data.end());
}

// Reads count elements of size bytes at offset; the elements read and the bytes they fill.
struct ReadResult {
    uint32_t elements;
    Bytes data;
};
inline ReadResult readAt(uint32_t file, uint32_t offset, uint32_t size, uint32_t count) {
    KRM_FileSeek(file, offset, 0);
    Bytes buffer(static_cast<size_t>(size) * count);
    const uint32_t elements = KRM_FileRead(buffer.data(), size, count, file);
    buffer.resize(static_cast<size_t>(elements) * size);
    return {elements, buffer};
}

} // namespace host_test
