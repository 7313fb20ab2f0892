// Helpers of the conversion tests: one CodeConvert call through the real host service, and the
// records the filter handed to that service, captured on their way.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "test_util.h"

namespace conversion_test {

using Bytes = std::vector<uint8_t>;

inline Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

struct Converted {
    uint32_t result = 0;
    uint32_t length = 0; // destinationLength after the call (kUntouched if never written)
    Bytes bytes;         // the converted bytes (length of them)
};
inline constexpr uint32_t kUntouched = 0xDEADBEEF;

// CodeConvert(source in sourceCharset → options' output charset); also checks that nothing was
// written past the 16388-byte destination.
Converted codeConvert(const std::string& sourceCharset, const HostOptions& options, const Bytes& source,
                      uint32_t firstConversion = 0, CallContext* context = nullptr);
inline Converted codeConvert(const std::string& sourceCharset, const std::string& output, const Bytes& source) {
    return codeConvert(sourceCharset, oasys_test::makeOptions(output), source);
}

// What the filter handed to the service in the last conversion (see the interposed functions).
struct Captured {
    KrmConversionParams params{};
    KrmSourceCharsetRecord sourceRecord{};
    KrmConversionRequest request{};
    uint32_t initCalls = 0, charsetCalls = 0, convertCalls = 0, termCalls = 0;
};
Captured& captured();

// Fixture: host counters back to zero and no conversion left open after each test.
class ConversionTest : public oasys_test::HostCheckedTest {
protected:
    void SetUp() override;
    void TearDown() override;
};

} // namespace conversion_test
