#include "conversion_support.h"

#include <dlfcn.h>

#include <cstring>

namespace conversion_test {

Captured& captured() {
    static Captured state;
    return state;
}

Converted codeConvert(const std::string& sourceCharset, const HostOptions& options, const Bytes& source,
                      uint32_t firstConversion, CallContext* context, std::optional<int32_t> sourceLength) {
    constexpr size_t kGuard = 64;
    constexpr uint8_t kGuardByte = 0xA5;
    std::vector<uint8_t> destination(KRM_CONV_DEST_CAPACITY + kGuard, kGuardByte);
    SrcInfo srcInfo{};
    std::strncpy(srcInfo.sourceCharset, sourceCharset.c_str(), sizeof srcInfo.sourceCharset - 1);
    HostOptions copy = options;
    CallContext ownContext{};
    Converted out;
    out.result = CodeConvert(&srcInfo, &copy, source.data(), destination.data(),
                             sourceLength.value_or(static_cast<int32_t>(source.size())), &out.length, firstConversion,
                             context != nullptr ? context : &ownContext);
    for (size_t i = KRM_CONV_DEST_CAPACITY; i < destination.size(); ++i)
        EXPECT_EQ(destination[i], kGuardByte) << "written past the destination at " << i;
    if (out.length != kUntouched && out.length <= KRM_CONV_DEST_CAPACITY)
        out.bytes.assign(destination.begin(), destination.begin() + out.length);
    return out;
}

void ConversionTest::SetUp() {
    HostCheckedTest::SetUp();
    captured() = Captured{};
}

void ConversionTest::TearDown() {
    HostCheckedTest::TearDown();
    EXPECT_EQ(KRMTest_LiveConversions(), 0) << "a conversion was left without cconvTermConvert";
}

} // namespace conversion_test

// The filter calls the host's conversion service through the dynamic linker, so these definitions
// in the test program stand in front of the host's: each notes what it was given and hands the
// call on to the host unchanged.
namespace {
template <typename Fn>
Fn hostFunction(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}
} // namespace

extern "C" {
int32_t cconvInitConvert(KrmConversionContext* context, const KrmConversionParams* params, const HostOptions* options) {
    static const auto host = hostFunction<decltype(&cconvInitConvert)>("cconvInitConvert");
    auto& c = conversion_test::captured();
    ++c.initCalls;
    if (params != nullptr) c.params = *params;
    return host(context, params, options);
}
int32_t cconvChgCharset(KrmConversionContext* context, const KrmSourceCharsetRecord* record, const SrcInfo* srcInfo) {
    static const auto host = hostFunction<decltype(&cconvChgCharset)>("cconvChgCharset");
    auto& c = conversion_test::captured();
    ++c.charsetCalls;
    if (record != nullptr) c.sourceRecord = *record;
    return host(context, record, srcInfo);
}
int32_t cconvConvert(KrmConversionContext* context) {
    static const auto host = hostFunction<decltype(&cconvConvert)>("cconvConvert");
    auto& c = conversion_test::captured();
    ++c.convertCalls;
    c.request = context->request;
    return host(context);
}
int32_t cconvTermConvert(KrmConversionContext* context) {
    static const auto host = hostFunction<decltype(&cconvTermConvert)>("cconvTermConvert");
    ++conversion_test::captured().termCalls;
    return host(context);
}
}
