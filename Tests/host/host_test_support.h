// Helpers shared by the host library's tests.
#pragma once

#include "oasys_writer.h"
#include "test_util.h"

namespace host_test {

using oasys_test::Bytes;

// Bytes unlike their neighbours and every other seed's: a read from the wrong place or stream shows.
inline Bytes patternBytes(size_t length, uint32_t seed = 1) {
    Bytes out(length);
    uint32_t state = seed * 2654435761u + 12345u;
    for (auto& byte : out) byte = static_cast<uint8_t>((state = state * 1664525u + 1013904223u) >> 24);
    return out;
}

// Host counters checked after each test, and a fresh folder for its files.
class HostTest : public oasys_test::HostCheckedTest {
protected:
    oasys_test::TempDir dir;
};

} // namespace host_test
