// Properties and the password flag. The filter fills the host's PropertyRecord; here its slots
// become named fields, the dates numbers, and the keyword entries are shown the same way for
// every packaging.
#include "oasys_internal.h"

#include <array>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "container_common.h"
#include "format_block.h"
#include "krm_host.h"
#include "krm_zori2.h"

namespace oasys {
namespace {

constexpr const char* kUtf8 = "UTF-8";

// ---- The password flag ---------------------------------------------------------------------------

using krm_containers::kEntryNameGap;
using krm_containers::kPartNameSize;
using krm_containers::kPlainFileAccess;
using krm_containers::kStreamAccess;
using krm_format_block::kStartOfFormatFile;
constexpr int32_t kEntryFound = 1; // GetStreamInf found the entry asked for

// Walks a combined document as its reader does, up to the first block read after a part named
// ".FMT" (the format block), and tests the flag there. Every step reads forward within the file,
// so the walk ends at the file's end at the latest.
class CombinedPasswordWalk {
public:
    explicit CombinedPasswordWalk(uint32_t file) : file_(file), order_(static_cast<uint32_t>(IsCPUBigEndian())) {}

    // OASYS_OK with the flag, or OASYS_BROKEN when the frame is not there.
    oasys_status run(bool& passwordSet) {
        using namespace krm_containers;
        passwordSet = false;
        if (!at(OAS_DOC_BEGIN, kDWordWidth)) return OASYS_BROKEN;
        for (;;) {
            if (!readPartHeader()) return OASYS_BROKEN;
            while (at(OAS_BLOCK_TAG, kWordWidth)) {
                uint16_t length = 0;
                if (!readWordAt(file_, position_, order_, length)) return OASYS_BROKEN;
                position_ += kLengthWordSize;
                if (formatSeen_) {
                    passwordSet = havePassword(file_, position_, kPlainFileAccess) == 1;
                    return OASYS_OK;
                }
                if (bodySeen_) return OASYS_OK; // the body came first: no format block to test
                position_ += length;
            }
            if (bodySeen_) return OASYS_OK;
            if (!at(OAS_END, kDWordWidth) || !at(OAS_END, kDWordWidth)) return OASYS_BROKEN;
            if (at(OAS_END, kDWordWidth)) return OASYS_OK; // the document ended without a format block
        }
    }

private:
    bool at(uint32_t identifier, int32_t width) {
        return IsCorrectID(file_, &position_, width, identifier, order_) == 1;
    }

    bool readPartHeader() {
        using namespace krm_containers;
        uint16_t directoryLength = 0;
        if (!at(OAS_PART_BEGIN, kDWordWidth) || !at(OAS_DIR_TAG, kWordWidth) ||
            !readWordAt(file_, position_, order_, directoryLength))
            return false;
        const uint32_t directoryStart = position_ + kLengthWordSize;
        for (uint32_t scan = directoryStart; scan < directoryStart + directoryLength; ++scan) {
            uint32_t tag = scan;
            if (IsCorrectID(file_, &tag, kWordWidth, OAS_ENTRY_TAG, order_) == 1) {
                readPartName(tag + kEntryNameGap);
                break;
            }
        }
        position_ = directoryStart + directoryLength;
        return at(OAS_BLOCKS_BEGIN, kDWordWidth);
    }

    void readPartName(uint32_t namePosition) {
        std::array<char, kPartNameSize> name{};
        KRM_FileSeek(file_, namePosition, krm_containers::kSeekFromStart);
        const uint32_t got = KRM_FileRead(name.data(), 1, kPartNameSize, file_);
        const std::string_view partName(name.data(), strnlen(name.data(), got));
        // A part is named as the separated member it stands for.
        if (partName.find(kFormatExtension) != std::string_view::npos) formatSeen_ = true;
        if (partName.find(kBodyExtension) != std::string_view::npos) bodySeen_ = true;
    }

    const uint32_t file_;
    const uint32_t order_;
    uint32_t position_ = 0;
    bool formatSeen_ = false;
    bool bodySeen_ = false;
};

// The flag of a plain file (a .FMT file or a combined document).
oasys_status plainFilePassword(const std::string& path, bool combined, bool& passwordSet, Outcome& outcome) {
    const uint32_t file = KRM_FileOpen(path.c_str(), "rb");
    if (file == 0) return outcome.fail(OASYS_UNREADABLE, "a file of the document could not be opened");
    oasys_status status = OASYS_OK;
    if (combined) {
        status = CombinedPasswordWalk(file).run(passwordSet);
    } else {
        passwordSet = havePassword(file, kStartOfFormatFile, kPlainFileAccess) == 1;
    }
    KRM_FileClose(file);
    if (status != OASYS_OK) return outcome.fail(status, "the document is broken (its frame is damaged)");
    return OASYS_OK;
}

// The flag of a compound document's format stream, found through the stream list as the reader
// finds it.
oasys_status compoundPassword(const std::string& path, bool& passwordSet, Outcome& outcome) {
    const uint32_t storage = KRM_2OLEopen(path.c_str());
    if (storage == 0) return outcome.fail(OASYS_BROKEN, "it cannot be opened as a compound file");
    HostOptions options{};
    CallContext context{};
    StreamListInfo info{};
    StreamEntry entry{};
    int32_t found = 0;
    if (const uint32_t list = KRM_2OLEopenStream(storage, KRM_STREAM_LIST_NAME); list != 0) {
        found = GetStreamInf(&info, &entry, list, KRM_STREAM_TYPE_FORMAT, &options, &context);
        KRM_2OLEcloseStream(list);
    }
    const uint32_t format = found == kEntryFound ? KRM_2OLEopenStream(storage, entry.streamName) : 0;
    if (format != 0) {
        passwordSet = havePassword(format, kStartOfFormatFile, kStreamAccess) == 1;
        KRM_2OLEcloseStream(format);
    }
    KRM_2OLEclose(storage);
    if (format == 0) return outcome.fail(OASYS_BROKEN, "the document is broken (its format stream is missing)");
    return OASYS_OK;
}

// ---- Property slots ------------------------------------------------------------------------------

// A slot of the PropertyRecord: its text runs at most to the slot's end.
struct RecordSlot {
    uint32_t offset;
    uint32_t size;
};
static_assert(KRM_PROP_LAST_AUTHOR_SIZE <= OASYS_PROPERTY_TEXT_SIZE - 4,
              "every slot fits a text field with its terminator");

// A slot's text: its bytes up to the first all-zero code unit of the charset (UTF-16 and UTF-32
// texts hold zero bytes of their own).
std::string_view slotText(const PropertyRecord& record, const RecordSlot& slot, size_t unitSize) {
    const uint8_t* start = record.bytes + slot.offset;
    size_t length = 0;
    while (length + unitSize <= slot.size) {
        bool zero = true;
        for (size_t i = 0; i < unitSize; ++i) zero = zero && start[length + i] == 0;
        if (zero) break;
        length += unitSize;
    }
    return {reinterpret_cast<const char*>(start), length};
}

void setText(oasys_text& field, std::string_view text) {
    field.length = text.size();
    if (!text.empty()) std::memcpy(field.text, text.data(), text.size());
    std::memset(field.text + text.size(), 0, sizeof field.text - text.size());
}

// "98年12月31日23時59分" (UTF-8): five two-digit numbers between non-ASCII letters.
std::optional<std::array<int, 5>> storedDateNumbers(std::string_view stored) {
    std::array<int, 5> numbers{};
    size_t count = 0;
    size_t digits = 0;
    for (const char c : stored) {
        if (c >= '0' && c <= '9') {
            if (count == numbers.size() || digits == 2) return std::nullopt;
            numbers[count] = numbers[count] * 10 + (c - '0');
            ++digits;
        } else if (static_cast<unsigned char>(c) >= 0x80) {
            if (digits == 1) return std::nullopt;
            if (digits == 2) {
                ++count;
                digits = 0;
            }
        } else {
            return std::nullopt;
        }
    }
    if (count != numbers.size() || digits != 0) return std::nullopt;
    return numbers;
}

bool isAllZero(const std::array<int, 5>& numbers) {
    for (const int n : numbers)
        if (n != 0) return false;
    return true;
}

// Stored years 80-99 are 19xx, 00-79 are 20xx.
constexpr int kFirstYearOf1900s = 80;

oasys_date dateOf(const std::array<int, 5>& n) {
    oasys_date date{};
    if (n[1] < 1 || n[1] > 12 || n[2] < 1 || n[2] > 31 || n[3] > 23 || n[4] > 59) return date;
    date.present = 1;
    date.year = n[0] >= kFirstYearOf1900s ? 1900 + n[0] : 2000 + n[0];
    date.month = n[1];
    date.day = n[2];
    date.hour = n[3];
    date.minute = n[4];
    return date;
}

// The separated and combined readers write every keyword entry followed by ";"; the summary
// information of a compound document holds the entries as the author joined them. The entries
// are shown the same way for all: no ";" after the last.
std::string_view withoutTrailingSeparator(std::string_view keywords, const char* charset) {
    std::array<char, 16> separator{};
    size_t length = 0;
    if (KRM_ConvertFromUtf8(charset, ";", 1, separator.data(), separator.size(), &length) != 0 || length == 0)
        return keywords;
    const std::string_view mark(separator.data(), length);
    if (keywords.size() >= mark.size() && keywords.substr(keywords.size() - mark.size()) == mark)
        keywords.remove_suffix(mark.size());
    return keywords;
}

struct TextSlot {
    oasys_text oasys_properties::*field;
    RecordSlot slot;
};
constexpr TextSlot kTextSlots[] = {
    {&oasys_properties::title, {KRM_PROP_TITLE, KRM_PROP_TITLE_SIZE}},
    {&oasys_properties::author, {KRM_PROP_AUTHOR, KRM_PROP_AUTHOR_SIZE}},
    {&oasys_properties::keywords, {KRM_PROP_KEYWORDS, KRM_PROP_KEYWORDS_SIZE}},
    {&oasys_properties::category, {KRM_PROP_CATEGORY, KRM_PROP_CATEGORY_SIZE}},
    {&oasys_properties::comments, {KRM_PROP_COMMENTS, KRM_PROP_COMMENTS_SIZE}},
    {&oasys_properties::last_author, {KRM_PROP_LAST_AUTHOR, KRM_PROP_LAST_AUTHOR_SIZE}},
    {&oasys_properties::document_type, {KRM_PROP_DOCUMENT_TYPE, KRM_PROP_DOCUMENT_TYPE_SIZE}},
};

struct DateSlot {
    oasys_text oasys_properties::*text;
    oasys_date oasys_properties::*date;
    RecordSlot slot;
};
constexpr DateSlot kDateSlots[] = {
    {&oasys_properties::created_text, &oasys_properties::created, {KRM_PROP_CREATED, KRM_PROP_CREATED_SIZE}},
    {&oasys_properties::modified_text, &oasys_properties::modified, {KRM_PROP_MODIFIED, KRM_PROP_MODIFIED_SIZE}},
};

void fillFields(const PropertyRecord& utf8, const PropertyRecord& shown, const char* charset,
                oasys_packaging packaging, oasys_properties& properties) {
    uint32_t unitSize = 1;
    KRM_CharsetUsable(charset, &unitSize);
    for (const TextSlot& slot : kTextSlots) {
        std::string_view text = slotText(shown, slot.slot, unitSize);
        if (slot.slot.offset == KRM_PROP_KEYWORDS && packaging != OASYS_PACKAGING_COMPOUND)
            text = withoutTrailingSeparator(text, charset);
        setText(properties.*slot.field, text);
    }
    for (const DateSlot& slot : kDateSlots) {
        const std::optional<std::array<int, 5>> numbers = storedDateNumbers(slotText(utf8, slot.slot, 1));
        const bool noDate = numbers && isAllZero(*numbers);
        setText(properties.*slot.text, noDate ? std::string_view() : slotText(shown, slot.slot, unitSize));
        properties.*slot.date = numbers && !noDate ? dateOf(*numbers) : oasys_date{};
    }
}

// One GetProperty call into record.
oasys_status callGetProperty(const oasys_document& document, const CallBinding& binding, HostOptions& host,
                             PropertyRecord& record, Outcome& outcome) {
    const uint16_t formatCode = formatCodeOf(document.packaging);
    const int32_t code = GetProperty(binding.sourcePath(document, true).c_str(), &host, &record, &formatCode);
    outcome.setFilterCode(code);
    if (code == KRM_OK) return OASYS_OK;
    return outcome.fail(statusOfFilterCode(code, document.packaging), causeOfFilterCode(code));
}

} // namespace

oasys_status passwordOf(const oasys_document& document, bool& passwordSet, Outcome& outcome) {
    if (const oasys_status status = membersPresent(document, false, outcome); status != OASYS_OK) return status;
    CallBinding binding;
    if (const oasys_status status = binding.bind(document, -1, nullptr, outcome); status != OASYS_OK) return status;
    const std::string path = binding.sourcePath(document, true);
    switch (document.packaging) {
    case OASYS_PACKAGING_SEPARATED: return plainFilePassword(path, false, passwordSet, outcome);
    case OASYS_PACKAGING_COMBINED: return plainFilePassword(path, true, passwordSet, outcome);
    case OASYS_PACKAGING_COMPOUND: return compoundPassword(path, passwordSet, outcome);
    default: return outcome.fail(OASYS_NOT_OASYS, "not an OASYS document");
    }
}

} // namespace oasys

using oasys::Outcome;

extern "C" {

OASYS_API oasys_status oasys_password_protected(oasys_document* document, int* is_protected,
                                                oasys_result* result) {
    return oasys::guarded(result, [&] {
        Outcome outcome(result, document != nullptr ? document->packaging : OASYS_PACKAGING_AUTO);
        if (document == nullptr || is_protected == nullptr)
            return outcome.fail(OASYS_BAD_ARGUMENT, "a document and a place for the answer are needed");
        bool passwordSet = false;
        if (const oasys_status status = oasys::passwordOf(*document, passwordSet, outcome); status != OASYS_OK)
            return status;
        *is_protected = passwordSet ? 1 : 0;
        return outcome.ok();
    });
}

OASYS_API oasys_status oasys_read_properties(oasys_document* document, const oasys_options* options,
                                             oasys_properties* properties, oasys_result* result) {
    return oasys::guarded(result, [&] {
        Outcome outcome(result, document != nullptr ? document->packaging : OASYS_PACKAGING_AUTO);
        if (document == nullptr || properties == nullptr)
            return outcome.fail(OASYS_BAD_ARGUMENT, "a document and a place for its properties are needed");
        HostOptions host{};
        if (const oasys_status status = oasys::hostOptionsOf(options, host, outcome); status != OASYS_OK)
            return status;
        host.optionFlags &= ~static_cast<uint32_t>(KRM_OPT_SIZE_LIMIT | KRM_OPT_RULED_LINES);
        if (const oasys_status status = oasys::membersPresent(*document, false, outcome); status != OASYS_OK)
            return status;

        oasys::CallBinding binding;
        const char* logPath = options != nullptr ? options->log_path : nullptr;
        if (const oasys_status status = binding.bind(*document, -1, logPath, outcome); status != OASYS_OK)
            return status;
        // The dates are read as numbers from the UTF-8 texts; another charset is asked for once more.
        HostOptions utf8 = host;
        std::snprintf(utf8.outputCharset, sizeof utf8.outputCharset, "%s", oasys::kUtf8);
        auto utf8Record = std::make_unique<PropertyRecord>();
        if (const oasys_status status = oasys::callGetProperty(*document, binding, utf8, *utf8Record, outcome);
            status != OASYS_OK)
            return status;
        std::unique_ptr<PropertyRecord> shownRecord;
        if (KRM_CharsetIsUtf8(host.outputCharset) != 1) {
            shownRecord = std::make_unique<PropertyRecord>();
            if (const oasys_status status = oasys::callGetProperty(*document, binding, host, *shownRecord, outcome);
                status != OASYS_OK)
                return status;
        }
        bool passwordSet = false;
        if (const oasys_status status = oasys::passwordOf(*document, passwordSet, outcome); status != OASYS_OK)
            return status;

        std::memset(properties, 0, sizeof *properties);
        oasys::fillFields(*utf8Record, shownRecord ? *shownRecord : *utf8Record, host.outputCharset,
                          document->packaging, *properties);
        properties->packaging = document->packaging;
        properties->password_protected = passwordSet ? 1 : 0;
        return outcome.ok();
    });
}

} // extern "C"
