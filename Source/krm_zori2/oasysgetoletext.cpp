// Compound (OLE) OASYS documents.
//
// The parts of the document are streams of the compound file. The stream "OasysStreamFileList"
// lists them as CR-ended text lines:
//
//   offset 0        one byte we do not read
//   offset 1        23 header bytes (kept, not interpreted)
//   offset 33       the stream count, up to five decimal digits, then CR
//   count CR + 4    the entries, one after the other:
//                     E + 0   three lead bytes (kept, not interpreted)
//                     E + 16  a first line up to CR (c1), skipped
//                     c1 + 13 the stream name up to CR (c2)
//                     c2 + 11 the stream type up to CR (c3) or the end of the list
//                     c3 + 4  the next entry
//
// Type 2 names the format stream (it starts with the format block and its password flag),
// type 1 the body stream (the text). Every byte of the list is read by offset and only inside
// the stream, so a list cut short anywhere ends the lookup instead of reading past its end.
#include <array>
#include <cstring>

#include "container_common.h"
#include "entry_common.h"
#include "format_block.h"
#include "krm_host.h"
#include "krm_zori2.h"

namespace {

using krm_containers::loopGuardTripped;
using krm_containers::resetLoopCounter;
using krm_entry::logFileLine;
using krm_entry::logText;

constexpr uint8_t kCR = 0x0D;

// ---- Stream list layout -----------------------------------------------------------------------
constexpr uint32_t kListHeaderOffset = 1;
constexpr uint32_t kListHeaderSize = sizeof(StreamListInfo::listHeader);  // 23
constexpr uint32_t kStreamCountOffset = 33;
constexpr uint32_t kStreamCountMaxDigits = 5;
constexpr uint32_t kFirstEntryGap = 4;   // from the byte that ended the count
constexpr uint32_t kLeadByteCount = 3;
constexpr uint32_t kFirstLineGap = 16;   // from the entry start
constexpr uint32_t kNameGap = 13;        // from c1
constexpr uint32_t kTypeGap = 11;        // from c2
constexpr uint32_t kNextEntryGap = 4;    // from c3

// The type field: every byte from '0' up is one digit value (letters too); the first four digit
// values form d0 + 256 d1 + 65536 d2 + 16777216 d3.
constexpr size_t kTypeDigitSlots = 8;
constexpr size_t kTypeValueDigits = 4;
constexpr uint32_t kTypeDigitRadix = 256;
constexpr uint8_t kDigitZero = '0';

// ---- Stream access ----------------------------------------------------------------------------
using krm_containers::kStreamAccess;
constexpr int16_t kStreamSeekFromStart = krm_containers::kSeekFromStart;
constexpr int16_t kStreamSeekFromEnd = krm_containers::kSeekFromEnd;
constexpr int kNoByte = -1;

// GetStreamInf answers.
constexpr int32_t kEntryFound = 1;
constexpr int32_t kEntryMissing = 0;

// The stream's size without relying on where it is positioned.
uint32_t streamSizeOf(uint32_t stream) {
    const uint32_t start = KRM_2OLEseekStream(stream, 0, kStreamSeekFromStart);
    const uint32_t end = KRM_2OLEseekStream(stream, start, kStreamSeekFromEnd);
    return end - start;
}

// The byte at offset, or kNoByte when the offset lies at or beyond the end of the stream.
int readStreamByte(uint32_t stream, uint32_t offset, uint32_t streamSize) {
    if (offset >= streamSize) return kNoByte;
    uint8_t value = 0;
    KRM_2OLEseekStream(stream, offset, kStreamSeekFromStart);
    if (KRM_2OLEreadStream(stream, &value, 1) != 1) return kNoByte;
    return value;
}

// Up to count bytes from offset into buffer, never past the end of the stream.
void readStreamBytes(uint32_t stream, uint32_t offset, uint32_t streamSize, uint8_t* buffer, uint32_t count) {
    if (offset >= streamSize) return;
    const uint32_t available = streamSize - offset;
    KRM_2OLEseekStream(stream, offset, kStreamSeekFromStart);
    KRM_2OLEreadStream(stream, buffer, count < available ? count : available);
}

// The stream count at position (up to five digits, ended by CR); see GetStreamCount.
uint32_t readStreamCount(uint32_t list, uint32_t streamSize, uint32_t& position, StreamListInfo& info) {
    info.streamCount = 0;
    int value = readStreamByte(list, position++, streamSize);
    if (value != kCR) {
        for (uint32_t digits = 0; digits < kStreamCountMaxDigits; ++digits) {
            // A missing byte (the list ends inside the count) is no digit either.
            if (value < '0' || value > '9') return 0;
            if (value != '0') info.streamCount = 1;
            value = readStreamByte(list, position++, streamSize);
            if (value == kCR) break;
        }
    }
    --position;  // back to the byte that ended the count
    return 1;
}

// Where a scan for the CR that ends a text field stopped.
enum class FieldEnd { CR, EndOfStream, LoopGuard };

// Scans from offset for the CR that ends a field, guarding loop counter 4 at each byte; each
// byte before the CR goes to take(byte). On return, end is the offset of the CR (or the stream
// size).
template <typename TakeByte>
FieldEnd scanField(uint32_t stream, uint32_t offset, uint32_t streamSize, HostOptions& options, CallContext& context,
                   uint32_t& end, TakeByte take) {
    resetLoopCounter(options, context.loopCounter4);
    for (end = offset;; ++end) {
        if (loopGuardTripped(options, context.loopCounter4)) return FieldEnd::LoopGuard;
        const int value = readStreamByte(stream, end, streamSize);
        if (value == kNoByte) return FieldEnd::EndOfStream;
        if (value == kCR) return FieldEnd::CR;
        take(static_cast<uint8_t>(value));
    }
}

uint32_t typeValueOf(const std::array<uint8_t, kTypeDigitSlots>& digits) {
    uint32_t value = 0;
    uint32_t weight = 1;
    for (size_t i = 0; i < kTypeValueDigits; ++i, weight *= kTypeDigitRadix) value += digits[i] * weight;
    return value;
}

// One entry at entryStart: its lead bytes, name and type go to entry. Returns kEntryFound when
// its type is the wanted one, kEntryMissing when the list ends or the entry is unusable, the
// loop guard code, or -1 to go on with the entry at next.
constexpr int32_t kNextEntry = -1;

int32_t readEntry(uint32_t list, uint32_t entryStart, uint32_t streamSize, StreamEntry& entry, uint32_t wantedType,
                  HostOptions& options, CallContext& context, uint32_t& next) {
    if (entryStart >= streamSize) return kEntryMissing;
    std::memset(entry.leadBytes, 0, sizeof entry.leadBytes);
    readStreamBytes(list, entryStart, streamSize, entry.leadBytes, kLeadByteCount);

    uint32_t firstLineEnd = 0;
    FieldEnd end = scanField(list, entryStart + kFirstLineGap, streamSize, options, context, firstLineEnd,
                             [](uint8_t) {});
    if (end == FieldEnd::LoopGuard) return KRM_ERR_LOOP_GUARD;
    if (end == FieldEnd::EndOfStream) return kEntryMissing;

    // The name field holds 15 characters. A longer name is never cut to fit (a cut name could
    // open some other stream): the entry is refused when it is the one asked for, and passed
    // over otherwise.
    size_t nameLength = 0;
    bool nameTooLong = false;
    uint32_t nameEnd = 0;
    std::memset(entry.streamName, 0, sizeof entry.streamName);
    end = scanField(list, firstLineEnd + kNameGap, streamSize, options, context, nameEnd, [&](uint8_t byte) {
        if (nameLength < KRM_STREAM_NAME_MAX)
            entry.streamName[nameLength++] = static_cast<char>(byte);
        else
            nameTooLong = true;
    });
    if (end == FieldEnd::LoopGuard) return KRM_ERR_LOOP_GUARD;
    if (end == FieldEnd::EndOfStream) return kEntryMissing;

    const uint32_t typeStart = nameEnd + kTypeGap;
    if (typeStart >= streamSize) return kEntryMissing;
    std::array<uint8_t, kTypeDigitSlots> digits{};
    size_t digitCount = 0;
    uint32_t typeEnd = 0;
    end = scanField(list, typeStart, streamSize, options, context, typeEnd, [&](uint8_t byte) {
        if (byte >= kDigitZero && digitCount < kTypeDigitSlots) digits[digitCount++] = byte - kDigitZero;
    });
    if (end == FieldEnd::LoopGuard) return KRM_ERR_LOOP_GUARD;

    entry.streamType = typeValueOf(digits);
    if (entry.streamType == wantedType) return nameTooLong ? kEntryMissing : kEntryFound;
    next = typeEnd + kNextEntryGap;
    return kNextEntry;
}

// Opens a stream with its log line; 0 when there is no such stream.
uint32_t openStream(uint32_t storage, const char* name, const HostOptions& options, const CallContext& context) {
    logFileLine(options, context, krm_entry::kOpenStreamLabel, name);
    return KRM_2OLEopenStream(storage, name);
}

void closeStream(uint32_t stream, const char* name, const HostOptions& options, const CallContext& context) {
    KRM_2OLEcloseStream(stream);
    logFileLine(options, context, krm_entry::kCloseStreamLabel, name);
}

// Reads the list once to find the entry of wantedType; the list is open only for this lookup.
// Returns KRM_OK with entry filled, or the code that ends the call.
int32_t lookUpStream(uint32_t storage, StreamListInfo& info, StreamEntry& entry, uint32_t wantedType,
                     HostOptions& options, CallContext& context) {
    const uint32_t list = openStream(storage, KRM_STREAM_LIST_NAME, options, context);
    if (list == 0) return KRM_ERR_BROKEN;
    const int32_t found = GetStreamInf(&info, &entry, list, wantedType, &options, &context);
    closeStream(list, KRM_STREAM_LIST_NAME, options, context);
    if (found == KRM_ERR_LOOP_GUARD) return KRM_ERR_LOOP_GUARD;
    return found == kEntryFound ? KRM_OK : KRM_ERR_BROKEN;
}

int32_t decodeBodyStream(uint32_t storage, uint32_t outputFile, const StreamEntry& entry, SrcInfo* srcInfo,
                         HostOptions& options, CallContext& context) {
    const uint32_t body = openStream(storage, entry.streamName, options, context);
    if (body == 0) return KRM_ERR_BROKEN;
    const uint32_t bodySize = GetStreamSize(body);
    if (bodySize == 0) {
        closeStream(body, entry.streamName, options, context);
        return KRM_ERR_BROKEN;
    }
    uint32_t position = 0;
    constexpr uint32_t kNoLengthWordBefore = 0;
    const int32_t code = krm_entry::runDecoder(body, outputFile, &position, srcInfo, &options, kStreamAccess,
                                               kNoLengthWordBefore, bodySize, &context);
    closeStream(body, entry.streamName, options, context);
    return code;
}

}  // namespace

extern "C" {

KRM_EXPORT int32_t GetOleTextContent(uint32_t storage, uint32_t outputFile, SrcInfo* srcInfo, HostOptions* options,
                                     CallContext* context) {
    if (options == nullptr || context == nullptr) return KRM_ERR_BROKEN;
    StreamListInfo info{};
    StreamEntry entry{};

    // The format stream first: a protected document is refused before its body is opened.
    if (const int32_t code = lookUpStream(storage, info, entry, KRM_STREAM_TYPE_FORMAT, *options, *context);
        code != KRM_OK)
        return code;
    const uint32_t format = openStream(storage, entry.streamName, *options, *context);
    if (format == 0) return KRM_ERR_BROKEN;
    const uint32_t passwordSet = havePassword(format, krm_format_block::kStartOfFormatFile, kStreamAccess);
    closeStream(format, entry.streamName, *options, *context);
    if (passwordSet == 1) return KRM_ERR_PASSWORD;

    if (const int32_t code = lookUpStream(storage, info, entry, KRM_STREAM_TYPE_BODY, *options, *context);
        code != KRM_OK)
        return code;
    return decodeBodyStream(storage, outputFile, entry, srcInfo, *options, *context);
}

KRM_EXPORT int32_t GetStreamInf(StreamListInfo* info, StreamEntry* entry, uint32_t listStream, uint32_t wantedType,
                                HostOptions* options, CallContext* context) {
    if (info == nullptr || entry == nullptr || options == nullptr || context == nullptr) return kEntryMissing;
    const uint32_t streamSize = streamSizeOf(listStream);
    readStreamBytes(listStream, kListHeaderOffset, streamSize, info->listHeader, kListHeaderSize);

    uint32_t position = kStreamCountOffset;
    if (readStreamCount(listStream, streamSize, position, *info) == 0) return kEntryMissing;
    resetLoopCounter(*options, context->loopCounter3);
    if (info->streamCount == 0) return kEntryMissing;

    // The entries are read until the wanted type turns up or the list ends; the declared count
    // only tells whether there are any.
    uint32_t entryStart = position + kFirstEntryGap;
    for (;;) {
        if (loopGuardTripped(*options, context->loopCounter3)) return KRM_ERR_LOOP_GUARD;
        uint32_t next = 0;
        const int32_t answer = readEntry(listStream, entryStart, streamSize, *entry, wantedType, *options,
                                         *context, next);
        if (answer != kNextEntry) return answer;
        entryStart = next;
    }
}

KRM_EXPORT uint32_t GetStreamCount(uint32_t listStream, uint32_t* position, StreamListInfo* info) {
    if (position == nullptr || info == nullptr) return 0;
    return readStreamCount(listStream, streamSizeOf(listStream), *position, *info);
}

KRM_EXPORT uint32_t GetStreamSize(uint32_t stream) { return KRM_2OLEseekStream(stream, 0, kStreamSeekFromEnd); }

}  // extern "C"
