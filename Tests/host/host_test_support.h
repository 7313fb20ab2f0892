// Helpers shared by the host library's tests.
#pragma once

#include <cstdint>

#include "krm_host.h"
#include "oasys_writer.h"
#include "test_util.h"

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

// Fixture: host counters checked after each test, and a fresh folder for its files.
class HostTest : public oasys_test::HostCheckedTest {
protected:
    oasys_test::TempDir dir;
};

} // namespace host_test
