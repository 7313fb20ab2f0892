// Helpers of the conversion tests: one CodeConvert call through the real host service, and the
// records the filter handed to that service, captured on their way.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "oasys_writer.h"
#include "test_util.h"

namespace conversion_test {

using oasys_test::Bytes;
using oasys_test::makeOptions;

inline Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

inline constexpr uint32_t kUntouched = 0xDEADBEEF;
struct Converted {
    uint32_t result = 0;
    uint32_t length = kUntouched; // destinationLength after the call
    Bytes bytes;                  // the converted bytes (length of them)
};

// CodeConvert(source in sourceCharset → options' output charset), with the source length given
// unless overridden; also checks that nothing was written past the 16388-byte destination.
Converted codeConvert(const std::string& sourceCharset, const HostOptions& options, const Bytes& source,
                      uint32_t firstConversion = 0, CallContext* context = nullptr,
                      std::optional<int32_t> sourceLength = std::nullopt);
inline Converted codeConvert(const std::string& sourceCharset, const std::string& output, const Bytes& source) {
    return codeConvert(sourceCharset, makeOptions(output), source);
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
    oasys_test::TempDir dir;
};

} // namespace conversion_test
