// SummaryInfo: the property record slots of an OLE compound document, from its
// "\005SummaryInformation" property set (and the category from "\005DocumentSummaryInformation").
//
// libgsf opens the compound file; the property sets are read here, because libgsf passes dates
// through a 32-bit time_t (an unset date would come back as 2009-04-22, a date before 1970 as a
// date after 2100), and the host must leave an unset date empty rather than make one up. Every
// read of the set is bounds-checked against the stream, so a hostile set cannot lead us outside it.

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host_bindings.h"
#include "host_conv_internal.h"
#include "host_gsf.h"
#include "host_internal.h"
#include "krm_host.h"
#include "krm_host_testing.h"

namespace {

using krm_host::conv::CachedConverter;
using krm_host::conv::Source;
using krm_host::conv::SourceKind;

constexpr char kSummaryStream[] = "\005SummaryInformation";
constexpr char kDocumentSummaryStream[] = "\005DocumentSummaryInformation";
constexpr size_t kMaxSetStream = 1 << 20; // far beyond any real summary; a bigger one is damaged

using Fmtid = std::array<uint8_t, 16>;
// F29F85E0-4FF9-1068-AB91-08002B27B3D9 and D5CDD502-2E9C-101B-9397-08002B2CF9AE, as stored.
constexpr Fmtid kSummaryFmtid = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                 0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
constexpr Fmtid kDocumentSummaryFmtid = {0x02, 0xD5, 0xCD, 0xD5, 0x9C, 0x2E, 0x1B, 0x10,
                                         0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE};

// Property set stream: byte order mark, version, system id, class id, set count, then a
// (FMTID, offset) pair per set.
constexpr uint16_t kByteOrderMark = 0xFFFE;
constexpr size_t kSetCountOffset = 24, kSetListOffset = 28, kSetListEntrySize = 20, kFmtidSize = 16;
// Property set: size, property count, then (PID, offset from the set start) pairs.
constexpr size_t kSetHeaderSize = 8, kPropertyEntrySize = 8;

enum PropertyId : uint32_t {
    kPidCodepage = 1, kPidTitle = 2, kPidAuthor = 4, kPidKeywords = 5, kPidComments = 6,
    kPidLastAuthor = 8, kPidCreated = 12, kPidLastSaved = 13,
    kPidCategory = 2 // in the document summary set
};
enum VariantType : uint16_t { kVtI2 = 2, kVtLpstr = 0x1E, kVtLpwstr = 0x1F, kVtFiletime = 0x40 };
constexpr uint32_t kCodepageUtf16 = 1200, kCodepageWindows31J = 932, kCodepageUtf8 = 65001;

// Record slots we fill, each with the size krm_types.h gives it.
struct Slot {
    uint32_t offset, size;
};
constexpr Slot kTitleSlot{KRM_PROP_TITLE, KRM_PROP_TITLE_SIZE};
constexpr Slot kAuthorSlot{KRM_PROP_AUTHOR, KRM_PROP_AUTHOR_SIZE};
constexpr Slot kKeywordsSlot{KRM_PROP_KEYWORDS, KRM_PROP_KEYWORDS_SIZE};
constexpr Slot kCategorySlot{KRM_PROP_CATEGORY, KRM_PROP_CATEGORY_SIZE};
constexpr Slot kCommentsSlot{KRM_PROP_COMMENTS, KRM_PROP_COMMENTS_SIZE};
constexpr Slot kModifiedSlot{KRM_PROP_MODIFIED, KRM_PROP_MODIFIED_SIZE};
constexpr Slot kCreatedSlot{KRM_PROP_CREATED, KRM_PROP_CREATED_SIZE};
constexpr Slot kLastAuthorSlot{KRM_PROP_LAST_AUTHOR, KRM_PROP_LAST_AUTHOR_SIZE};

using InfilePtr = krm_host::GObjectRef<GsfInfile>;
using InputPtr = krm_host::GObjectRef<GsfInput>;

// Little-endian reads that fail instead of leaving the bytes.
class ByteView {
public:
    explicit ByteView(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    bool has(size_t offset, size_t count) const { return offset <= bytes_.size() && count <= bytes_.size() - offset; }
    std::optional<uint32_t> u16(size_t offset) const { return read(offset, 2); }
    std::optional<uint32_t> u32(size_t offset) const { return read(offset, 4); }
    std::optional<uint64_t> u64(size_t offset) const {
        const auto low = read(offset, 4), high = read(offset + 4, 4);
        if (!low || !high) return std::nullopt;
        return uint64_t{*high} << 32 | *low;
    }
    std::span<const uint8_t> slice(size_t offset, size_t count) const { return bytes_.subspan(offset, count); }
    size_t size() const { return bytes_.size(); }

private:
    std::optional<uint32_t> read(size_t offset, size_t count) const {
        if (!has(offset, count)) return std::nullopt;
        uint32_t value = 0;
        for (size_t i = count; i-- > 0;) value = value << 8 | bytes_[offset + i];
        return value;
    }
    std::span<const uint8_t> bytes_;
};

// A string property, still in its stored encoding.
struct StoredText {
    std::span<const uint8_t> bytes;
    bool wide; // UTF-16LE
};

// One property set of a property set stream.
class PropertySet {
public:
    // Locates the set with this FMTID; false when the stream is damaged. found tells whether the
    // stream holds such a set.
    bool locate(std::span<const uint8_t> stream, const Fmtid& fmtid, bool& found) {
        const ByteView view(stream);
        found = false;
        const auto order = view.u16(0), count = view.u32(kSetCountOffset);
        if (!order || *order != kByteOrderMark || !count) return false;
        for (uint32_t i = 0; i < *count; ++i) {
            const size_t entry = kSetListOffset + size_t{i} * kSetListEntrySize;
            if (!view.has(entry, kSetListEntrySize)) return false;
            if (!std::equal(fmtid.begin(), fmtid.end(), stream.begin() + static_cast<ptrdiff_t>(entry))) continue;
            const auto offset = view.u32(entry + kFmtidSize);
            const auto size = offset ? view.u32(*offset) : std::nullopt;
            if (!size || *size < kSetHeaderSize || !view.has(*offset, *size)) return false;
            set_ = stream.subspan(*offset, *size);
            const ByteView setView(set_);
            properties_ = *setView.u32(4);
            if (properties_ > (set_.size() - kSetHeaderSize) / kPropertyEntrySize) return false;
            found = true;
            return true;
        }
        return true;
    }

    // The offset of a property's typed value inside the set, nullopt when absent; false if damaged.
    bool valueOffset(uint32_t pid, std::optional<size_t>& offset) const {
        const ByteView view(set_);
        offset.reset();
        for (uint32_t i = 0; i < properties_; ++i) {
            const size_t entry = kSetHeaderSize + size_t{i} * kPropertyEntrySize;
            if (*view.u32(entry) != pid) continue;
            const uint32_t at = *view.u32(entry + 4);
            if (!view.has(at, 4)) return false;
            offset = at;
            return true;
        }
        return true;
    }

    bool codepage(uint32_t& codepage) const {
        std::optional<size_t> at;
        if (!valueOffset(kPidCodepage, at)) return false;
        const ByteView view(set_);
        if (at && *view.u16(*at) == kVtI2) {
            const auto value = view.u16(*at + 4);
            if (!value) return false;
            codepage = *value; // stored as a signed 16-bit value: 65001 reads as -535
        }
        return true;
    }

    // A string property without its terminator; nullopt when absent or not a string.
    bool text(uint32_t pid, uint32_t codepage, std::optional<StoredText>& text) const {
        std::optional<size_t> at;
        text.reset();
        if (!valueOffset(pid, at)) return false;
        if (!at) return true;
        const ByteView view(set_);
        const uint32_t type = *view.u16(*at);
        if (type != kVtLpstr && type != kVtLpwstr) return true;
        const auto count = view.u32(*at + 4);
        if (!count) return false;
        const bool wide = type == kVtLpwstr || codepage == kCodepageUtf16;
        const size_t bytes = type == kVtLpwstr ? size_t{*count} * 2 : *count; // LPWSTR counts characters
        if (!view.has(*at + 8, bytes)) return false;
        text = StoredText{withoutTerminator(view.slice(*at + 8, bytes), wide), wide};
        return true;
    }

    bool filetime(uint32_t pid, std::optional<uint64_t>& value) const {
        std::optional<size_t> at;
        value.reset();
        if (!valueOffset(pid, at)) return false;
        if (!at) return true;
        const ByteView view(set_);
        if (*view.u16(*at) != kVtFiletime) return true;
        value = view.u64(*at + 4);
        return value.has_value();
    }

private:
    static std::span<const uint8_t> withoutTerminator(std::span<const uint8_t> bytes, bool wide) {
        const size_t unit = wide ? 2 : 1;
        for (size_t i = 0; i + unit <= bytes.size(); i += unit)
            if (bytes[i] == 0 && (!wide || bytes[i + 1] == 0)) return bytes.first(i);
        return bytes.first(bytes.size() - bytes.size() % unit);
    }

    std::span<const uint8_t> set_;
    uint32_t properties_ = 0;
};

// ---- Dates ---------------------------------------------------------------------------------------
constexpr uint64_t kFiletimeTicksPerSecond = 10'000'000;
constexpr int64_t kDaysFrom1601To1970 = 134'774;
constexpr int64_t kSecondsPerDay = 86'400;

// YY年MM月DD日hh時mm分 in UTF-8, from a FILETIME (UTC, 100 ns since 1601).
std::string dateText(uint64_t filetime) {
    const auto seconds = static_cast<int64_t>(filetime / kFiletimeTicksPerSecond);
    const int64_t days = seconds / kSecondsPerDay - kDaysFrom1601To1970;
    const int64_t inDay = seconds % kSecondsPerDay;
    const std::chrono::year_month_day date{std::chrono::sys_days{std::chrono::days{days}}};
    char text[64];
    std::snprintf(text, sizeof text, "%02d年%02u月%02u日%02d時%02d分", static_cast<int>(date.year()) % 100,
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(inDay / 3600), static_cast<int>(inDay / 60 % 60));
    return text;
}

// ---- Record filling ------------------------------------------------------------------------------
class RecordWriter {
public:
    RecordWriter(PropertyRecord& record, CachedConverter& output) : record_(record), output_(output) {}

    // Converts text into the slot, cut on a character boundary so that the slot keeps room for a
    // terminator of the output charset (two bytes in UTF-16, four in UTF-32).
    bool put(const Slot& slot, const Source& source, std::span<const uint8_t> text) {
        const auto terminator = static_cast<uint32_t>(std::max<int8_t>(1, ucnv_getMinCharSize(output_.converter)));
        const uint32_t room = slot.size - terminator;
        std::vector<uint8_t> converted(text.size() * 4 + 64);
        size_t produced = 0;
        while (!krm_host::conv::convertText(source, text, output_, 0, converted, produced)) {
            if (converted.size() > text.size() * 64 + 4096) return false; // not for want of room
            converted.resize(converted.size() * 4);
        }
        const uint32_t kept = krm_host::conv::cutTextInPlace(output_, converted.data(), static_cast<uint32_t>(produced), room);
        if (kept > room) return false;
        std::memcpy(record_.bytes + slot.offset, converted.data(), kept);
        return true;
    }

private:
    PropertyRecord& record_;
    CachedConverter& output_;
};

bool sourceForCodepage(uint32_t codepage, bool wide, Source& source) {
    const auto icu = [&](const char* name) {
        CachedConverter* converter = krm_host::conv::cachedConverter(name);
        source = {SourceKind::Icu, converter};
        return converter != nullptr;
    };
    if (wide) return icu("UTF-16LE");
    if (codepage == kCodepageWindows31J) {
        source = {SourceKind::Windows31J, nullptr};
        return true;
    }
    if (codepage == kCodepageUtf8) return icu("UTF-8");
    const std::string windows = "windows-" + std::to_string(codepage);
    return icu(windows.c_str()) || icu(("cp" + std::to_string(codepage)).c_str());
}

bool putStoredText(RecordWriter& writer, const Slot& slot, const PropertySet& set, uint32_t pid, uint32_t codepage) {
    std::optional<StoredText> text;
    if (!set.text(pid, codepage, text)) return false;
    if (!text || text->bytes.empty()) return true;
    Source source{};
    return sourceForCodepage(codepage, text->wide, source) && writer.put(slot, source, text->bytes);
}

bool putDate(RecordWriter& writer, const Slot& slot, const PropertySet& set, uint32_t pid) {
    std::optional<uint64_t> filetime;
    if (!set.filetime(pid, filetime)) return false;
    if (!filetime || *filetime == 0) return true; // unset: the slot stays empty
    const std::string text = dateText(*filetime);
    Source utf8{SourceKind::Icu, krm_host::conv::cachedConverter("UTF-8")};
    return utf8.icu != nullptr &&
           writer.put(slot, utf8, {reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

enum class ReadResult { Absent, Read, Damaged };
ReadResult readStream(GsfInfile* ole, const char* name, std::vector<uint8_t>& bytes) {
    InputPtr stream(krm_host::findTopLevelStream(ole, name));
    if (!stream) return ReadResult::Absent;
    const gsf_off_t size = krm_host::gsf.gsf_input_size(stream.get());
    if (size < 0 || static_cast<uint64_t>(size) > kMaxSetStream) return ReadResult::Damaged;
    bytes.resize(static_cast<size_t>(size));
    if (size > 0 && krm_host::gsf.gsf_input_read(stream.get(), static_cast<size_t>(size), bytes.data()) == nullptr)
        return ReadResult::Damaged;
    return ReadResult::Read;
}

constexpr std::array kSummarySlots = {kTitleSlot,    kAuthorSlot,  kKeywordsSlot, kCategorySlot,
                                      kCommentsSlot, kModifiedSlot, kCreatedSlot, kLastAuthorSlot};

// Reads the property set of this FMTID from the stream and hands it with its codepage to fill;
// a stream or set that is not there is no error.
template <typename Fill>
int32_t withPropertySet(GsfInfile* ole, const char* streamName, const Fmtid& fmtid, Fill fill) {
    std::vector<uint8_t> stream;
    const ReadResult read = readStream(ole, streamName, stream);
    if (read != ReadResult::Read) return read == ReadResult::Absent ? KRM_OK : KRM_ERR_BROKEN;
    PropertySet set;
    bool found = false;
    uint32_t codepage = kCodepageWindows31J; // the codepage of the documents this host serves
    if (!set.locate(stream, fmtid, found)) return KRM_ERR_BROKEN;
    if (!found) return KRM_OK;
    return set.codepage(codepage) && fill(set, codepage) ? KRM_OK : KRM_ERR_BROKEN;
}

int32_t fillRecord(GsfInfile* ole, PropertyRecord& record, CachedConverter& output) {
    for (const Slot& slot : kSummarySlots) std::memset(record.bytes + slot.offset, 0, slot.size);
    RecordWriter writer(record, output);
    const int32_t summary = withPropertySet(ole, kSummaryStream, kSummaryFmtid, [&](const PropertySet& set, uint32_t cp) {
        return putStoredText(writer, kTitleSlot, set, kPidTitle, cp) &&
               putStoredText(writer, kAuthorSlot, set, kPidAuthor, cp) &&
               putStoredText(writer, kKeywordsSlot, set, kPidKeywords, cp) &&
               putStoredText(writer, kCommentsSlot, set, kPidComments, cp) &&
               putDate(writer, kModifiedSlot, set, kPidLastSaved) && putDate(writer, kCreatedSlot, set, kPidCreated) &&
               putStoredText(writer, kLastAuthorSlot, set, kPidLastAuthor, cp);
    });
    if (summary != KRM_OK) return summary;
    return withPropertySet(ole, kDocumentSummaryStream, kDocumentSummaryFmtid, [&](const PropertySet& set, uint32_t cp) {
        return putStoredText(writer, kCategorySlot, set, kPidCategory, cp);
    });
}

} // namespace

extern "C" KRM_EXPORT int32_t SummaryInfo(const char* path, const HostOptions* options, PropertyRecord* record,
                                          const uint16_t*) {
    if (krm_host::shouldFail(KRM_SVC_SUMMARY_INFO)) return KRM_ERR_BROKEN;
    if (path == nullptr || options == nullptr || record == nullptr) return KRM_ERR_OPEN;
    const size_t nameLength = strnlen(options->outputCharset, KRM_CHARSET_NAME_MAX);
    if (nameLength == KRM_CHARSET_NAME_MAX) return KRM_ERR_BROKEN;
    if (!krm_host::ensureGsfInitialised()) return KRM_ERR_OPEN;
    const krm_host::GsfQuietScope quiet; // a damaged compound file is a return code, never a message
    try {
        InputPtr input(krm_host::openCompoundInput(path));
        if (!input) return KRM_ERR_OPEN;
        GError* error = nullptr;
        InfilePtr ole(krm_host::gsf.gsf_infile_msole_new(input.get(), &error));
        krm_host::gsf.g_clear_error(&error);
        if (!ole) return KRM_ERR_OPEN;
        CachedConverter* output = krm_host::conv::cachedConverter({options->outputCharset, nameLength});
        if (output == nullptr) return KRM_ERR_BROKEN;
        return fillRecord(ole.get(), *record, *output);
    } catch (...) { // out of memory: no exception crosses the C interface
        return KRM_ERR_BROKEN;
    }
}
