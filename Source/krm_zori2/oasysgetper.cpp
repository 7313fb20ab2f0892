// Document properties of OASYS documents.
//
// GetProperty is the host's entry: it opens the per-call log, prepares SrcInfo for Shift-JIS
// property texts ("WINDOWS31J"), finds the file that carries the format block and hands it to the
// variant of its packaging. Each variant clears the host's PropertyRecord, stores the
// document-type text of its packaging and then lets GetKRMProperty decode the format block
// (separated and combined documents) or leaves the record to the host's summary information
// (compound documents). Packed dates of the format block become text through TimeConvert.
//
// Every text reaches its record slot through one path: a Shift-JIS source buffer, CodeConvert into
// the conversion buffer, and a copy bounded by the room of the slot (see storeInSlot).

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "container_common.h"
#include "entry_common.h"
#include "format_block.h"
#include "krm_host.h"
#include "krm_zori2.h"
#include "separated_names.h"

namespace {

using namespace krm_containers;
using krm_entry::kCloseSourceLabel;
using krm_entry::kOpenSourceLabel;
using krm_entry::kReadMode;
using krm_entry::PathBuffer;

// ---- Host interface constants ---------------------------------------------------------------

constexpr uint32_t kNotFirstConversion = 0;

// ---- PropertyRecord slots -------------------------------------------------------------------

// Every slot the filter writes, with the size the host's record gives it. A text keeps one byte of
// its slot free, so that the zero fill of the record always leaves a NUL after it: a copy never
// runs into the next slot nor past the record.
struct RecordSlot {
    uint32_t offset;
    uint32_t size;
    constexpr uint32_t room() const { return size - 1; }
};
constexpr RecordSlot kTitleSlot{KRM_PROP_TITLE, KRM_PROP_TITLE_SIZE};
constexpr RecordSlot kAuthorSlot{KRM_PROP_AUTHOR, KRM_PROP_AUTHOR_SIZE};
constexpr RecordSlot kKeywordsSlot{KRM_PROP_KEYWORDS, KRM_PROP_KEYWORDS_SIZE};
constexpr RecordSlot kCategorySlot{KRM_PROP_CATEGORY, KRM_PROP_CATEGORY_SIZE};
constexpr RecordSlot kCommentsSlot{KRM_PROP_COMMENTS, KRM_PROP_COMMENTS_SIZE};
constexpr RecordSlot kModifiedSlot{KRM_PROP_MODIFIED, KRM_PROP_MODIFIED_SIZE};
constexpr RecordSlot kDocumentTypeSlot{KRM_PROP_DOCUMENT_TYPE, KRM_PROP_DOCUMENT_TYPE_SIZE};
constexpr RecordSlot kCreatedSlot{KRM_PROP_CREATED, KRM_PROP_CREATED_SIZE};
constexpr RecordSlot kLastAuthorSlot{KRM_PROP_LAST_AUTHOR, KRM_PROP_LAST_AUTHOR_SIZE};
static_assert(kTitleSlot.room() == 1027 && kCreatedSlot.room() == 255 && kLastAuthorSlot.room() == 11007);

// ---- Document-type texts (Shift-JIS) ----------------------------------------------------------

constexpr std::string_view kTypeSeparated = "OASYS2\x95\xB6\x8F\x91";                // OASYS2文書
constexpr std::string_view kTypeCombined = "OASYS2\x8C\x8B\x8D\x87\x95\xB6\x8F\x91"; // OASYS2結合文書
constexpr std::string_view kTypeCompound = "OASYS2\x95\xA1\x8D\x87\x95\xB6\x8F\x91"; // OASYS2複合文書
static_assert(kTypeSeparated.size() == 10 && kTypeCombined.size() == 14 && kTypeCompound.size() == 14);

// ---- Format block fields and their slots ----------------------------------------------------------

// A text field of the format block and the slot it goes to.
struct TextField {
    krm_format_block::Field field;
    RecordSlot slot;
};

constexpr TextField kTitleField{krm_format_block::kTitle, kTitleSlot};
constexpr TextField kAuthorField{krm_format_block::kAuthor, kAuthorSlot};
constexpr TextField kCommentsField{krm_format_block::kComments, kCommentsSlot};
constexpr TextField kCategoryField{krm_format_block::kCategory, kCategorySlot};
constexpr TextField kLastAuthorField{krm_format_block::kLastAuthor, kLastAuthorSlot};
constexpr uint8_t kKeywordSeparator = ';';

constexpr size_t kSourceBufferSize = 256;
// The joined keyword list is the longest text a field can give.
static_assert(krm_format_block::kKeywordCount * (krm_format_block::kKeywordSize + 1) <= kSourceBufferSize);
static_assert(kTitleField.field.size <= kSourceBufferSize && kCommentsField.field.size <= kSourceBufferSize);

// ---- Packed dates ---------------------------------------------------------------------------

constexpr size_t kPackedDateSize = krm_format_block::kCreated.size; // year of century, month, day, hour, minute
constexpr size_t kDateTextSize = 20;     // two digits and a two-byte unit per packed byte
// Shift-JIS units after each pair of digits: 年 月 日 時 分.
constexpr std::array<std::array<uint8_t, 2>, kPackedDateSize> kDateUnits = {
    {{0x94, 0x4E}, {0x8C, 0x8E}, {0x93, 0xFA}, {0x8E, 0x9E}, {0x95, 0xAA}}};

// ---- Log ----------------------------------------------------------------------------------------

// The host log of one call, bound to its options and context.
class CallLog {
public:
    CallLog(const HostOptions* options, const CallContext* context) : options_(*options), context_(*context) {}
    void line(const char* text, int32_t value = 0) const { krm_entry::logText(options_, context_, text, value); }
    void named(const char* label, const char* name) const { krm_entry::logFileLine(options_, context_, label, name); }

private:
    const HostOptions& options_;
    const CallContext& context_;
};

// The format block decoder on a plain file, between its two log lines; non-zero when it decoded
// every field.
uint32_t decodeBlock(uint32_t file, uint32_t blockStart, SrcInfo* srcInfo, HostOptions* options,
                     PropertyRecord* record, CallContext* context) {
    return krm_entry::logged(*options, *context, "GetKRMProperty() starting\r\n", "GetKRMProperty() end\r\n", [&] {
        return GetKRMProperty(file, blockStart, srcInfo, options, record, kPlainFileAccess, context);
    });
}

// ---- One property text on its way into the record ------------------------------------------------

// The Shift-JIS source buffer, the conversion buffer and their lengths; both buffers and lengths
// are cleared after every text, so that each field starts from zero bytes.
class PropertyText {
public:
    PropertyText(SrcInfo* srcInfo, HostOptions* options, PropertyRecord* record, CallContext* context)
        : srcInfo_(srcInfo), options_(options), record_(record), context_(context), log_(options, context) {}

    std::span<uint8_t, kSourceBufferSize> source() { return source_; }
    void setSourceLength(int32_t length) { sourceLength_ = length; }
    int32_t* sourceLength() { return &sourceLength_; }
    void append(std::span<const uint8_t> bytes) {
        const size_t room = source_.size() - static_cast<size_t>(sourceLength_);
        const size_t count = std::min(bytes.size(), room);
        std::memcpy(source_.data() + sourceLength_, bytes.data(), count);
        sourceLength_ += static_cast<int32_t>(count);
    }

    bool convert() {
        return CodeConvert(srcInfo_, options_, source_.data(), converted_.data(), sourceLength_, &convertedLength_,
                           kNotFirstConversion, context_) != 0;
    }
    void logConverted() const { log_.line(krm_entry::kConvertedText, static_cast<int32_t>(convertedLength_)); }

    // Copies the converted text into its slot without a terminator (the record's zero fill ends
    // it). Outputs that a charset makes longer than the slot's room are cut on a character
    // boundary by the host's CutStr; a cut the host cannot make within the room is a failure.
    bool storeInSlot(const RecordSlot& slot) {
        uint32_t length = std::min<uint32_t>(convertedLength_, KRM_CONV_DEST_CAPACITY);
        const uint32_t room = slot.room();
        if (length > room) {
            length = CutStr(converted_.data(), length, room, options_);
            if (length > room) return false;
        }
        std::memcpy(record_->bytes + slot.offset, converted_.data(), length);
        return true;
    }

    // Convert the source text, log its converted length, store it: the common procedure of every
    // format-block field (the log line comes whether or not the conversion succeeded).
    bool convertLogAndStore(const RecordSlot& slot) {
        const bool converted = convert();
        logConverted();
        const bool stored = converted && storeInSlot(slot);
        clear();
        return stored;
    }

    void clear() {
        source_.fill(0);
        converted_.fill(0);
        sourceLength_ = 0;
        convertedLength_ = 0;
    }

private:
    SrcInfo* srcInfo_;
    HostOptions* options_;
    PropertyRecord* record_;
    CallContext* context_;
    CallLog log_;
    std::array<uint8_t, kSourceBufferSize> source_{};
    std::array<uint8_t, KRM_CONV_DEST_CAPACITY> converted_{};
    int32_t sourceLength_ = 0;
    uint32_t convertedLength_ = 0;
};

void clearRecord(PropertyRecord* record) { std::memset(record->bytes, 0, sizeof record->bytes); }

// When the "Codeconvert end" line of the document-type text is written: the separated variant
// logs only a successful conversion, the other two log before they test the result.
enum class LogFailedConversion : bool { No, Yes };

// Stores the packaging's document-type text in the document-type slot.
bool writeDocumentType(PropertyText& text, std::string_view type, LogFailedConversion logFailed) {
    text.clear();
    text.append({reinterpret_cast<const uint8_t*>(type.data()), type.size()});
    const bool converted = text.convert();
    if (converted || logFailed == LogFailedConversion::Yes) text.logConverted();
    const bool stored = converted && text.storeInSlot(kDocumentTypeSlot);
    text.clear();
    return stored;
}

// ---- Format block decoder ---------------------------------------------------------------------

// Reads of the format block: explicit seek, then count bytes into a buffer. Read results are not
// examined; every buffer is zeroed beforehand, so a short read leaves defined bytes.
class BlockReader {
public:
    BlockReader(uint32_t source, uint32_t blockStart, uint32_t accessMode)
        : source_(source), blockStart_(blockStart), accessMode_(accessMode) {}
    void read(uint32_t offset, std::span<uint8_t> into) const {
        KRM_fSeek(source_, blockStart_ + offset, kSeekFromStart, accessMode_);
        KRM_fRead(into.data(), 1, static_cast<uint16_t>(into.size()), source_, accessMode_);
    }

private:
    uint32_t source_;
    uint32_t blockStart_;
    uint32_t accessMode_;
};

size_t textLength(std::span<const uint8_t> field) {
    return static_cast<size_t>(std::find(field.begin(), field.end(), uint8_t{0}) - field.begin());
}

bool decodeTextField(const BlockReader& block, PropertyText& text, const TextField& field) {
    const auto source = text.source().first(field.field.size);
    block.read(field.field.offset, source);
    text.setSourceLength(static_cast<int32_t>(textLength(source)));
    return text.convertLogAndStore(field.slot);
}

// The date buffer is shared by both dates and never cleared between them: a date that cannot be
// read repeats the one before it.
bool decodeDate(const BlockReader& block, PropertyText& text, std::span<uint8_t, kPackedDateSize> date,
                const krm_format_block::Field& field, const RecordSlot& slot) {
    block.read(field.offset, date);
    TimeConvert(date.data(), text.source().data(), text.sourceLength());
    return text.convertLogAndStore(slot);
}

// Ten 20-byte entries joined into one text; each non-empty entry (first byte not NUL) is followed
// by ';', empty entries add nothing.
bool decodeKeywords(const BlockReader& block, PropertyText& text) {
    using krm_format_block::kKeywordCount;
    using krm_format_block::kKeywords;
    using krm_format_block::kKeywordSize;
    std::array<uint8_t, kKeywords.size> entries{};
    for (uint32_t k = 0; k < kKeywordCount; ++k) {
        const auto entry = std::span(entries).subspan(k * kKeywordSize, kKeywordSize);
        block.read(kKeywords.offset + k * kKeywordSize, entry);
        text.append(entry.first(textLength(entry)));
        if (entry[0] != 0) text.append({&kKeywordSeparator, 1});
    }
    return text.convertLogAndStore(kKeywordsSlot);
}

uint8_t readByte(const BlockReader& block, uint32_t offset) {
    uint8_t value = 0;
    block.read(offset, {&value, 1});
    return value;
}

// ---- GetProperty helpers ------------------------------------------------------------------------

// The .FMT file of a separated document from the host's name, into formatPath: 0, 3002 (no known
// extension) or 22 (nothing left before the swapped extension, or a path that does not fit the
// 1024-byte buffer, which no file can be opened by).
int32_t deriveFormatPath(const char* source, PathBuffer& formatPath) {
    constexpr size_t kNoSpare = 0; // a swap never makes the name longer
    if (!krm_names::copyName(formatPath, source, kNoSpare)) return KRM_ERR_OPEN;
    const krm_names::MemberName named = krm_names::nameMember(formatPath, krm_names::Member::Format);
    switch (named.match) {
    case krm_names::MemberName::Match::None: return KRM_ERR_UNSUPPORTED;
    case krm_names::MemberName::Match::Swapped: return named.at == 0 ? KRM_ERR_OPEN : KRM_OK;
    case krm_names::MemberName::Match::Kept: return KRM_OK;
    }
    return KRM_ERR_UNSUPPORTED;
}

// Property texts are Shift-JIS of the Windows kind, unlike the body text.
void prepareSrcInfo(SrcInfo* srcInfo, const HostOptions* options) {
    krm_entry::copyConversionParam(*srcInfo, *options);
    krm_entry::setSourceCharset(*srcInfo, KRM_CHARSET_WINDOWS31J);
}

// The property entry's own start, SrcInfo and success lines.
constexpr krm_entry::EntryTexts kPropertyEntryTexts{
    "Lib krm_zori2 export function: GetProperty():\r\nStart operating .....\r\n",
    "Memory allocate for pSrcInfo: %i bytes\r\n", "Memory free for pSrcInfo: %i bytes\r\n",
    "GetProperty() end successfully:\r\n"};

} // namespace

extern "C" {

KRM_EXPORT void TimeConvert(const uint8_t* packed, uint8_t* output, int32_t* length) {
    for (size_t i = 0; i < kPackedDateSize; ++i) {
        output[4 * i] = static_cast<uint8_t>('0' + (packed[i] >> 4));
        output[4 * i + 1] = static_cast<uint8_t>('0' + (packed[i] & 0x0F));
        output[4 * i + 2] = kDateUnits[i][0];
        output[4 * i + 3] = kDateUnits[i][1];
    }
    *length += static_cast<int32_t>(kDateTextSize);
}

KRM_EXPORT uint32_t GetKRMProperty(uint32_t source, uint32_t blockStart, SrcInfo* srcInfo, HostOptions* options,
                                   PropertyRecord* record, uint32_t accessMode, CallContext* context) {
    const BlockReader block(source, blockStart, accessMode);
    PropertyText text(srcInfo, options, record, context);
    std::array<uint8_t, kPackedDateSize> date{};

    if (readByte(block, krm_format_block::kSkipTitleOffset) == 0) {
        if (!decodeTextField(block, text, kTitleField)) return 0;
    }
    text.clear();
    if (!decodeDate(block, text, date, krm_format_block::kCreated, kCreatedSlot)) return 0;
    if (!decodeDate(block, text, date, krm_format_block::kModified, kModifiedSlot)) return 0;
    if (readByte(block, krm_format_block::kMarkerOffset) != krm_format_block::kMarkerWithProperties) return 0;
    for (const TextField& field : {kAuthorField, kCommentsField, kCategoryField}) {
        if (!decodeTextField(block, text, field)) return 0;
    }
    if (!decodeKeywords(block, text)) return 0;
    if (!decodeTextField(block, text, kLastAuthorField)) return 0;
    return 1;
}

KRM_EXPORT int32_t GetOasSepProperty(uint32_t file, SrcInfo* srcInfo, HostOptions* options, PropertyRecord* record,
                                     CallContext* context) {
    clearRecord(record);
    KRM_FileSeek(file, 0, kSeekFromStart);
    {
        PropertyText text(srcInfo, options, record, context);
        if (!writeDocumentType(text, kTypeSeparated, LogFailedConversion::No)) return KRM_ERR_BROKEN;
    }
    const uint32_t decoded = decodeBlock(file, krm_format_block::kStartOfFormatFile, srcInfo, options, record, context);
    return decoded != 0 ? KRM_OK : KRM_ERR_BROKEN;
}

KRM_EXPORT int32_t GetOasCombProperty(uint32_t file, SrcInfo* srcInfo, HostOptions* options, PropertyRecord* record,
                                      CallContext* context) {
    const uint32_t hostOrder = static_cast<uint32_t>(IsCPUBigEndian());
    clearRecord(record);
    uint32_t position = 0;
    KRM_FileSeek(file, position, kSeekFromStart);
    {
        PropertyText text(srcInfo, options, record, context);
        if (!writeDocumentType(text, kTypeCombined, LogFailedConversion::Yes)) return KRM_ERR_BROKEN;
    }

    // Only the first part is looked at: its first block is taken as the format block, whatever
    // the part's name.
    if (!IsCorrectID(file, &position, kDWordWidth, OAS_DOC_BEGIN, hostOrder) ||
        !IsCorrectID(file, &position, kDWordWidth, OAS_PART_BEGIN, hostOrder) ||
        !IsCorrectID(file, &position, kWordWidth, OAS_DIR_TAG, hostOrder)) {
        return KRM_ERR_BROKEN;
    }
    uint16_t directoryLength = 0;  // a file cut inside the length word counts as an empty directory
    readWordAt(file, position, hostOrder, directoryLength);
    position += kLengthWordSize + directoryLength;
    if (!IsCorrectID(file, &position, kDWordWidth, OAS_BLOCKS_BEGIN, hostOrder)) return KRM_ERR_BROKEN;
    if (IsCorrectID(file, &position, kWordWidth, OAS_BLOCK_TAG, hostOrder)) {
        // The block length is read only to step over it: the format block needs no length.
        uint16_t blockLength = 0;
        readWordAt(file, position, hostOrder, blockLength);
        position += kLengthWordSize;
    }

    const uint32_t decoded = decodeBlock(file, position, srcInfo, options, record, context);
    return decoded != 0 ? KRM_OK : KRM_ERR_BROKEN;
}

KRM_EXPORT int32_t GetOasCompProperty(const char* source, SrcInfo* srcInfo, HostOptions* options,
                                      PropertyRecord* record, const uint16_t* formatCode, CallContext* context) {
    const CallLog log(options, context);
    clearRecord(record);
    log.named("Open OLEfile: ", source);
    const uint32_t storage = KRM_2OLEopen(source);
    if (storage == 0) return KRM_ERR_OPEN;

    const int32_t summaryCode = krm_entry::logged(*options, *context, "SummaryInfo() starting\r\n",
                                                  "SummaryInfo() end\r\n",
                                                  [&] { return SummaryInfo(source, options, record, formatCode); });

    // The document-type text goes in after the summary information has filled the record.
    {
        PropertyText text(srcInfo, options, record, context);
        if (!writeDocumentType(text, kTypeCompound, LogFailedConversion::Yes)) {
            KRM_2OLEclose(storage);
            return KRM_ERR_BROKEN;
        }
    }
    // No stream is read: the stream list is only named in the log.
    log.named(krm_entry::kOpenStreamLabel, KRM_STREAM_LIST_NAME);
    KRM_2OLEclose(storage);
    log.named("Close OLEfile: ", source);
    return summaryCode;
}

KRM_EXPORT int32_t GetProperty(const char* source, HostOptions* options, PropertyRecord* record,
                               const uint16_t* formatCode) {
    // A host that passes no record or option block gets a refusal instead of a crash.
    if (source == nullptr || options == nullptr || record == nullptr || formatCode == nullptr) {
        return KRM_ERR_UNSUPPORTED;
    }
    // Every exit before the variant has run is a return: the frame frees SrcInfo, logging it, and
    // closes the log.
    krm_entry::CallFrame frame(*options, kPropertyEntryTexts);
    frame.openLog(source);
    if (!frame.begin()) return KRM_ERR_NO_MEMORY;
    SrcInfo* srcInfo = frame.srcInfo();
    CallContext* context = &frame.context();
    prepareSrcInfo(srcInfo, options);

    PathBuffer formatPath{};
    uint32_t file = 0;
    int32_t code = KRM_ERR_UNSUPPORTED;
    switch (*formatCode) {
    case KRM_FORMAT_SEPARATED: {
        // Only the .FMT file carries the properties; the .DOC body is not opened.
        const int32_t nameCode = deriveFormatPath(source, formatPath);
        if (nameCode != KRM_OK) return nameCode;
        file = KRM_FileOpen(formatPath.data(), kReadMode);
        if (file == 0) return KRM_ERR_OPEN;
        frame.logFile(kOpenSourceLabel, formatPath.data());
        code = krm_entry::logged(*options, *context, "GetOasSepProperty() starting\r\n", "GetOasSepProperty() end\r\n",
                                 [&] { return GetOasSepProperty(file, srcInfo, options, record, context); });
        break;
    }
    case KRM_FORMAT_COMBINED:
        file = KRM_FileOpen(source, kReadMode);
        if (file == 0) return KRM_ERR_OPEN;
        frame.logFile(kOpenSourceLabel, source);
        // The end line's spelling is the one hosts have always seen.
        code = krm_entry::logged(*options, *context, "GetOasCombProperty() starting\r\n",
                                 "GetOasCpmbProperty() end\r\n",
                                 [&] { return GetOasCombProperty(file, srcInfo, options, record, context); });
        break;
    case KRM_FORMAT_COMPOUND:
        code = krm_entry::logged(
            *options, *context, "GetOasCompProperty() starting\r\n", "GetOasCompProperty() end\r\n",
            [&] { return GetOasCompProperty(source, srcInfo, options, record, formatCode, context); });
        break;
    default:
        return KRM_ERR_UNSUPPORTED;
    }

    frame.releaseSrcInfo();
    if (file != 0) {
        KRM_FileClose(file); // the properties are already in the record; a failed close changes nothing
        frame.logFile(kCloseSourceLabel, formatPath[0] != '\0' ? formatPath.data() : source);
    }
    return frame.finish(code);
}

} // extern "C"
