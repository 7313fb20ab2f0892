// Document header of OASYS files and the walk over a combined document (its layout is drawn in
// container_common.h).
//
// The first block after a part named "*.FMT" starts with the format block, whose flag word at
// offset 564 carries the password bit; the blocks of the part named "*.DOC" hold the text.
#include <array>
#include <cstring>
#include <string_view>

#include "container_common.h"
#include "entry_common.h"
#include "format_block.h"
#include "krm_host.h"
#include "krm_zori2.h"
#include "separated_names.h"

namespace {

using namespace krm_containers;
using krm_entry::logFileLine;
using krm_entry::logText;


// The parts are named like the members of a separated document, in upper case only.
constexpr std::string_view kFormatPartMark = krm_names::extensionOf(krm_names::Member::Format).upper;
constexpr std::string_view kBodyPartMark = krm_names::extensionOf(krm_names::Member::Body).upper;

using krm_format_block::kPasswordFlagBit;
using krm_format_block::kPasswordFlagOffset;

// ---- Log lines --------------------------------------------------------------------------------
constexpr const char* kLogVe2SizeStart = "LOOP(while.) %i in GetVe2Size() starting\r\n";
constexpr const char* kLogVe2SizeEnd = "LOOP(while.) %i in GetVe2Size() end\r\n";
constexpr const char* kLogWalkStart = "LOOP(do..while.) %i in GetDocTextContent() starting\r\n";
constexpr const char* kLogWalkEnd = "LOOP(do..while.) %i in GetDocTextContent() end\r\n";
constexpr const char* kLogPartName = "Fileread sep filename:";

// Numbers that name the loops in the log lines (they are not counts).
constexpr int32_t kVe2SizeLoop = 1;
constexpr int32_t kPartLoop = 1;
constexpr int32_t kEntryScanLoop = 2;
constexpr int32_t kBlockLoop = 3;

// ---- Combined document walk -------------------------------------------------------------------

// Working state of one walk over a combined document.
struct CombinedWalk {
    uint32_t file;
    uint32_t outputFile;
    uint32_t& position;
    SrcInfo* srcInfo;
    HostOptions& options;
    CallContext& context;
    uint32_t hostOrderFlag;
    uint32_t fileSize;        // taken once per walk, so that nothing is looked for beyond it
    bool formatSeen = false;  // a ".FMT" name was read and its format block is not tested yet
    bool bodySeen = false;    // a ".DOC" name was read

    void log(const char* text, int32_t value = 0) const { logText(options, context, text, value); }

    // Steps over the identifier when it stands at the position.
    bool at(uint32_t identifier, int32_t width) {
        return IsCorrectID(file, &position, width, identifier, hostOrderFlag) == 1;
    }

    // A length word at the position, stepped over; false when the file ends inside it.
    bool takeLength(uint16_t& length) {
        if (!readWordAt(file, position, hostOrderFlag, length)) return false;
        position += kLengthWordSize;
        return true;
    }

    bool passwordSetAt(uint32_t blockData) const { return havePassword(file, blockData, kPlainFileAccess) == 1; }

    void readPartName(uint32_t namePosition);
    int32_t readPartHeader();
    int32_t skipPartBlocks(bool& documentEnded);
    int32_t readBody();
    int32_t run();
};

// Reads the 13-byte part name and sets the part's role. A name without its NUL is taken as its
// 13 bytes only; a name cut by the end of the file as the bytes that are there.
void CombinedWalk::readPartName(uint32_t namePosition) {
    std::array<char, kPartNameSize + 1> name{};  // one more byte keeps the logged text terminated
    KRM_FileSeek(file, namePosition, kSeekFromStart);
    KRM_FileRead(name.data(), 1, kPartNameSize, file);
    logFileLine(options, context, kLogPartName, name.data());

    const std::string_view partName(name.data(), strnlen(name.data(), kPartNameSize));
    if (partName.find(kFormatPartMark) != std::string_view::npos) formatSeen = true;
    if (partName.find(kBodyPartMark) != std::string_view::npos) bodySeen = true;
}

// From the part begin up to and including the block list begin: the directory is scanned for
// the name entry and then stepped over as a whole, wherever the entry stood.
int32_t CombinedWalk::readPartHeader() {
    if (!at(OAS_PART_BEGIN, kDWordWidth) || !at(OAS_DIR_TAG, kWordWidth)) return KRM_ERR_BROKEN;
    uint16_t directoryLength = 0;
    if (!takeLength(directoryLength)) return KRM_ERR_BROKEN;
    const uint32_t directoryStart = position;

    resetLoopCounter(options, context.loopCounter4);
    log(kLogWalkStart, kEntryScanLoop);
    // The scan never runs past the end of the file: no tag can stand there.
    const uint32_t bytesInFile = fileSize > directoryStart ? fileSize - directoryStart : 0;
    const uint32_t scanLimit = directoryLength < bytesInFile ? directoryLength : bytesInFile;
    uint32_t scanPosition = directoryStart;
    for (uint32_t skipped = 0; skipped < scanLimit; ++skipped) {
        if (loopGuardTripped(options, context.loopCounter4)) return KRM_ERR_LOOP_GUARD;
        if (IsCorrectID(file, &scanPosition, kWordWidth, OAS_ENTRY_TAG, hostOrderFlag) == 1) {
            readPartName(scanPosition + kEntryNameGap);
            break;
        }
        ++scanPosition;
    }
    log(kLogWalkEnd, kEntryScanLoop);

    position = directoryStart + directoryLength;
    if (!at(OAS_BLOCKS_BEGIN, kDWordWidth)) return KRM_ERR_BROKEN;
    resetLoopCounter(options, context.loopCounter4);
    log(kLogWalkStart, kBlockLoop);
    return KRM_OK;
}

// Steps over the blocks of a part that is not the body, testing the password flag in the first
// block read after a ".FMT" name, then over the ends of the block list and of the part.
int32_t CombinedWalk::skipPartBlocks(bool& documentEnded) {
    for (;;) {
        if (loopGuardTripped(options, context.loopCounter4)) return KRM_ERR_LOOP_GUARD;
        if (!at(OAS_BLOCK_TAG, kWordWidth)) break;
        uint16_t dataLength = 0;
        if (!takeLength(dataLength)) return KRM_ERR_BROKEN;
        if (formatSeen) {
            if (passwordSetAt(position)) return KRM_ERR_PASSWORD;
            formatSeen = false;
        }
        position += dataLength;
    }
    if (!at(OAS_END, kDWordWidth)) return KRM_ERR_BROKEN;
    log(kLogWalkEnd, kBlockLoop);
    if (!at(OAS_END, kDWordWidth)) return KRM_ERR_BROKEN;
    documentEnded = at(OAS_END, kDWordWidth);
    return KRM_OK;
}

// The body part: its run of blocks goes to the decoder in one piece.
int32_t CombinedWalk::readBody() {
    if (loopGuardTripped(options, context.loopCounter4)) return KRM_ERR_LOOP_GUARD;
    if (!at(OAS_BLOCK_TAG, kWordWidth)) {
        // A body without text: the empty block list must still be closed, and so must the part.
        if (!at(OAS_END, kDWordWidth)) return KRM_ERR_BROKEN;
        log(kLogWalkEnd, kBlockLoop);
        if (!at(OAS_END, kDWordWidth)) return KRM_ERR_BROKEN;
        at(OAS_END, kDWordWidth);  // end of the document; nothing follows that we need
        return KRM_OK;
    }

    uint16_t firstBlockLength = 0;
    if (!takeLength(firstBlockLength)) return KRM_ERR_BROKEN;
    uint32_t bodySize = firstBlockLength;
    // A format part without blocks leaves its test to the first block that follows.
    if (formatSeen && passwordSetAt(position)) return KRM_ERR_PASSWORD;
    if (GetVe2Size(file, position, &bodySize, &options, &context) != KRM_OK) return KRM_ERR_LOOP_GUARD;

    constexpr uint32_t kLengthWordBefore = 1;  // the first block's length word stands just before
    const int32_t code = krm_entry::runDecoder(file, outputFile, &position, srcInfo, &options, kPlainFileAccess,
                                               kLengthWordBefore, bodySize, &context);
    if (code != KRM_OK) return code;

    log(kLogWalkEnd, kBlockLoop);
    if (!at(OAS_END, kDWordWidth)) return KRM_ERR_BROKEN;
    at(OAS_END, kDWordWidth);  // end of the part: tolerated when missing
    return KRM_OK;
}

int32_t CombinedWalk::run() {
    if (srcInfo != nullptr) srcInfo->hostOrderFlag = hostOrderFlag;
    if (!at(OAS_DOC_BEGIN, kDWordWidth)) return KRM_ERR_BROKEN;

    resetLoopCounter(options, context.loopCounter3);
    log(kLogWalkStart, kPartLoop);
    for (;;) {
        if (loopGuardTripped(options, context.loopCounter3)) return KRM_ERR_LOOP_GUARD;
        if (const int32_t code = readPartHeader(); code != KRM_OK) return code;
        if (bodySeen) break;
        bool documentEnded = false;
        if (const int32_t code = skipPartBlocks(documentEnded); code != KRM_OK) return code;
        if (documentEnded) {
            log(kLogWalkEnd, kPartLoop);
            return KRM_ERR_BROKEN;  // the document holds no body part
        }
    }
    const int32_t code = readBody();
    if (code != KRM_OK) return code;
    log(kLogWalkEnd, kPartLoop);
    return KRM_OK;
}

}  // namespace

extern "C" {

KRM_EXPORT uint32_t IsCorrectID(uint32_t file, uint32_t* position, int32_t width, uint32_t expected,
                                uint32_t hostOrderFlag) {
    if (position == nullptr) return 0;
    if (width != 1 && width != kWordWidth && width != kDWordWidth) return 0;

    std::array<uint8_t, kDWordWidth> buffer{};
    KRM_FileSeek(file, *position, kSeekFromStart);
    // An identifier that would reach past the end of the file is not there.
    if (KRM_FileRead(buffer.data(), static_cast<uint32_t>(width), 1, file) != 1) return 0;

    const int32_t flag = static_cast<int32_t>(hostOrderFlag);
    uint32_t value = buffer[0];
    if (width == kWordWidth) value = PPT_GetWordB(buffer.data(), flag);
    if (width == kDWordWidth) value = PPT_GetDWordB(buffer.data(), flag);
    if (value != expected) return 0;
    *position += static_cast<uint32_t>(width);
    return 1;
}

KRM_EXPORT uint32_t havePassword(uint32_t source, uint32_t base, uint32_t accessMode) {
    const int32_t hostOrderFlag = IsCPUBigEndian();
    if (base > UINT32_MAX - kPasswordFlagOffset) return 0;
    // A format block too short to hold the flag word has no password flag: not protected.
    std::array<uint8_t, kLengthWordSize> buffer{};
    const uint32_t flagOffset = base + kPasswordFlagOffset;
    const uint32_t reached = KRM_fSeek(source, flagOffset, kSeekFromStart, accessMode);
    // A stream cannot be positioned beyond its end: the seek then leaves it where it was, and a
    // read there would take some other word for the flag.
    if (accessMode != 0 && reached != flagOffset) return 0;
    if (KRM_fRead(buffer.data(), 1, kLengthWordSize, source, accessMode) != kLengthWordSize) return 0;
    const uint16_t flagWord = PPT_GetWordB(buffer.data(), hostOrderFlag);
    return (flagWord & kPasswordFlagBit) != 0 ? 1 : 0;
}

// The run ends at the first marker that is not F0 04. When the file ends inside the run (a
// marker or a length word cut short), the run ends there too and the total is reported as far as
// the file goes, so that the decoder is never sent beyond the end of the file.
KRM_EXPORT int32_t GetVe2Size(uint32_t file, uint32_t base, uint32_t* size, HostOptions* options,
                              CallContext* context) {
    if (size == nullptr || options == nullptr || context == nullptr) return KRM_ERR_BROKEN;
    const uint32_t hostOrderFlag = static_cast<uint32_t>(IsCPUBigEndian());
    const uint32_t fileSize = GetDocSize(file);

    uint32_t total = *size;
    uint32_t position = base + total;
    uint16_t marker = 0;
    bool haveMarker = readWordAt(file, position, hostOrderFlag, marker);

    resetLoopCounter(*options, context->loopCounter1);
    logText(*options, *context, kLogVe2SizeStart, kVe2SizeLoop);
    while (haveMarker && marker == OAS_BLOCK_TAG) {
        if (loopGuardTripped(*options, context->loopCounter1)) return KRM_ERR_LOOP_GUARD;
        uint16_t dataLength = 0;
        if (!readWordAt(file, position + kLengthWordSize, hostOrderFlag, dataLength)) break;
        total += kBlockHeaderSize + dataLength;
        position += kBlockHeaderSize + dataLength;
        haveMarker = readWordAt(file, position, hostOrderFlag, marker);
    }
    logText(*options, *context, kLogVe2SizeEnd, kVe2SizeLoop);

    const uint32_t bytesFromBase = fileSize > base ? fileSize - base : 0;
    *size = total < bytesFromBase ? total : bytesFromBase;
    return KRM_OK;
}

KRM_EXPORT int32_t GetDocTextContent(uint32_t file, uint32_t outputFile, uint32_t* position, SrcInfo* srcInfo,
                                     HostOptions* options, CallContext* context) {
    if (position == nullptr || options == nullptr || context == nullptr) return KRM_ERR_BROKEN;
    CombinedWalk walk{file,     outputFile, *position, srcInfo, *options, *context,
                      static_cast<uint32_t>(IsCPUBigEndian()), GetDocSize(file)};
    return walk.run();
}

}  // extern "C"
