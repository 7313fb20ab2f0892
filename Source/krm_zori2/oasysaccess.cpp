// Byte order of the processor, the word readers and writers that every OASYS reader uses, and the
// removal of an empty output file.
//
// OASYS files store every identifier, length and flag word big-endian. A reader asks
// IsCPUBigEndian once and hands that flag to the PPT_ word functions, which then move the bytes
// in stored order or reversed. The B functions keep the stored order when the flag says
// "big-endian processor"; the L functions keep it when the flag says "little-endian processor".
// So with the true flag the B functions handle big-endian data and the L functions little-endian
// data on either kind of processor, and a mismatching flag yields the byte-swapped word.
#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "krm_host.h"
#include "krm_zori2.h"

namespace {

// The probe value: its most significant byte comes first in memory on a big-endian processor.
constexpr uint16_t kByteOrderProbe = 0x1234;
constexpr uint8_t kProbeHighByte = 0x12;

enum class ByteOrder { Stored, Reversed };

// B functions keep the stored order on a big-endian processor (non-zero flag).
constexpr ByteOrder orderForBigEndianData(int32_t hostOrderFlag) {
    return hostOrderFlag != 0 ? ByteOrder::Stored : ByteOrder::Reversed;
}

// L functions keep the stored order on a little-endian processor (flag 0).
constexpr ByteOrder orderForLittleEndianData(int32_t hostOrderFlag) {
    return hostOrderFlag == 0 ? ByteOrder::Stored : ByteOrder::Reversed;
}

// Reads exactly sizeof(Word) bytes at buffer into a word of the processor's own byte order.
template <typename Word>
Word loadWord(const uint8_t* buffer, ByteOrder order) {
    std::array<uint8_t, sizeof(Word)> bytes{};
    std::memcpy(bytes.data(), buffer, bytes.size());
    if (order == ByteOrder::Reversed) {
        std::reverse(bytes.begin(), bytes.end());
    }
    return std::bit_cast<Word>(bytes);
}

// Stores all sizeof(Word) bytes of value at buffer, whichever way the order points.
template <typename Word>
void storeWord(uint8_t* buffer, Word value, ByteOrder order) {
    auto bytes = std::bit_cast<std::array<uint8_t, sizeof(Word)>>(value);
    if (order == ByteOrder::Reversed) {
        std::reverse(bytes.begin(), bytes.end());
    }
    std::memcpy(buffer, bytes.data(), bytes.size());
}

} // namespace

extern "C" {

KRM_EXPORT int32_t IsCPUBigEndian(void) {
    const auto bytes = std::bit_cast<std::array<uint8_t, sizeof kByteOrderProbe>>(kByteOrderProbe);
    return bytes[0] == kProbeHighByte ? 1 : 0;
}

KRM_EXPORT uint16_t PPT_GetWordB(const uint8_t* buffer, int32_t hostOrderFlag) {
    return loadWord<uint16_t>(buffer, orderForBigEndianData(hostOrderFlag));
}

KRM_EXPORT uint32_t PPT_GetDWordB(const uint8_t* buffer, int32_t hostOrderFlag) {
    return loadWord<uint32_t>(buffer, orderForBigEndianData(hostOrderFlag));
}

KRM_EXPORT void PPT_PutWordB(uint8_t* buffer, uint16_t value, int32_t hostOrderFlag) {
    storeWord<uint16_t>(buffer, value, orderForBigEndianData(hostOrderFlag));
}

KRM_EXPORT void PPT_PutDWordB(uint8_t* buffer, uint32_t value, int32_t hostOrderFlag) {
    storeWord<uint32_t>(buffer, value, orderForBigEndianData(hostOrderFlag));
}

KRM_EXPORT uint16_t PPT_GetWordL(const uint8_t* buffer, int32_t hostOrderFlag) {
    return loadWord<uint16_t>(buffer, orderForLittleEndianData(hostOrderFlag));
}

KRM_EXPORT uint32_t PPT_GetDWordL(const uint8_t* buffer, int32_t hostOrderFlag) {
    return loadWord<uint32_t>(buffer, orderForLittleEndianData(hostOrderFlag));
}

KRM_EXPORT void PPT_PutWordL(uint8_t* buffer, uint16_t value, int32_t hostOrderFlag) {
    storeWord<uint16_t>(buffer, value, orderForLittleEndianData(hostOrderFlag));
}

KRM_EXPORT void PPT_PutDWordL(uint8_t* buffer, uint32_t value, int32_t hostOrderFlag) {
    storeWord<uint32_t>(buffer, value, orderForLittleEndianData(hostOrderFlag));
}

// An output file that received no text is not worth keeping; the host's answer (non-zero when it
// removed the file) tells the entry point that nothing is left to remove.
KRM_EXPORT int32_t kill0file(const char* path) { return KRM_FileRemoveIfSizeIsZero(path); }

} // extern "C"
