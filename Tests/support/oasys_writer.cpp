// Test document writer: lays out OASYS bodies, format blocks and the three packagings byte by
// byte, so that a test can say exactly where every header, identifier and field stands.
#include "oasys_writer.h"

#include <gsf/gsf.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace oasys_test {

namespace {

// ---- Identifiers and fixed sizes of the OASYS layouts -------------------------------------------

constexpr uint8_t kBlockTag[] = {0xF0, 0x04};             // block header: tag, then 16-bit length
constexpr uint8_t kDocBegin[] = {0xF1, 0x10, 0x80, 0x00}; // first bytes of a combined document
constexpr uint8_t kPartBegin[] = {0xF7, 0x7E, 0x80, 0x00};
constexpr uint8_t kDirTag[] = {0xF1, 0x11};               // followed by the directory length L
constexpr uint8_t kEntryTag[] = {0xF4, 0xFD};             // the entry that names a part
constexpr uint8_t kBlocksBegin[] = {0xF1, 0x04, 0x80, 0x00};
constexpr uint8_t kEnd[] = {0xF0, 0x00, 0x00, 0x00};      // ends a block list, a part, a document

constexpr size_t kMaxBlockData = 0xFFFF;                  // the length word is 16 bits
constexpr size_t kEntryNameOffset = 8;                    // name stands 8 bytes after the entry tag
constexpr size_t kEntryNameSize = 13;                     // 8.3 name and its NUL
constexpr size_t kEntrySize = kEntryNameOffset + kEntryNameSize;

constexpr uint8_t kRecordLead = 0xEF;
constexpr uint8_t kSkippedRecordCode = 0xCD;
constexpr uint8_t kEcs4RecordCode = 0xCC;
constexpr uint8_t kEcs4Unicode = 0xCA;
constexpr size_t kRecordLengthDigits = 2;
constexpr size_t kMaxRecordLength = 0xFF;

// Format block fields: offset and size.
struct Field {
    size_t offset, size;
};
constexpr size_t kSkipByteOffset = 10;
constexpr Field kTitle{11, 50};
constexpr Field kCreated{216, 5};
constexpr Field kModified{221, 5};
constexpr size_t kFlagWordOffset = 564;
constexpr size_t kBlockMarkerOffset = 1280;
constexpr Field kAuthor{1286, 30};
constexpr Field kComments{1316, 80};
constexpr Field kCategory{1398, 16};
constexpr Field kKeywords{1414, 20};     // first of ten entries of 20 bytes
constexpr size_t kKeywordCount = 10;
constexpr Field kLastAuthor{1638, 30};

// The stream list of a compound document.
constexpr size_t kListHeaderOffset = 1;
constexpr size_t kListHeaderSize = 23;
constexpr size_t kListCountOffset = 33;
constexpr size_t kGapAfterCount = 3;
constexpr size_t kEntryLeadSize = 3;
constexpr size_t kGapBeforeFirstLine = 13;
constexpr size_t kGapBeforeName = 12;
constexpr size_t kGapBeforeType = 10;
constexpr size_t kGapAfterEntry = 3;
constexpr uint8_t kCR = 0x0D;
// Filler for the bytes a reader must step over: a non-CR byte at or above '0', so that a reader
// that reads one byte too early takes it into a count, a name or a type and is caught.
constexpr uint8_t kListFiller = 'x';

constexpr char kStreamListName[] = "OasysStreamFileList";
constexpr char kSummaryStreamName[] = "\005SummaryInformation";

[[noreturn]] void fail(const std::string& what) { throw std::invalid_argument("oasys writer: " + what); }

void append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

template <size_t N>
void append(Bytes& out, const uint8_t (&more)[N]) {
    out.insert(out.end(), std::begin(more), std::end(more));
}

void appendText(Bytes& out, std::string_view text) { out.insert(out.end(), text.begin(), text.end()); }

void appendWordBE(Bytes& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value & 0xFF));
}

void appendFiller(Bytes& out, size_t count) { out.insert(out.end(), count, kListFiller); }

char hexDigit(unsigned value) { return "0123456789ABCDEF"[value & 0xF]; }

// Record length L as two hexadecimal digits, high digit first.
void appendRecordLength(Bytes& out, size_t length) {
    out.push_back(static_cast<uint8_t>(hexDigit(static_cast<unsigned>(length >> 4))));
    out.push_back(static_cast<uint8_t>(hexDigit(static_cast<unsigned>(length))));
}

// Text field cut to its size; the rest of the field keeps its zero fill.
void putText(Bytes& block, Field field, std::string_view text) {
    const size_t n = std::min(text.size(), field.size);
    std::copy_n(text.begin(), n, block.begin() + static_cast<std::ptrdiff_t>(field.offset));
}

void putDate(Bytes& block, Field field, const std::array<uint8_t, 5>& date) {
    std::copy(date.begin(), date.end(), block.begin() + static_cast<std::ptrdiff_t>(field.offset));
}

// ---- libgsf helpers ---------------------------------------------------------------------------

// gsf_init once, before any writing, and the types the metadata writer creates lazily (the
// timestamp and property types are not registered by gsf_init and their first use races).
void initGsfOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        gsf_init();
        (void)gsf_timestamp_get_type();
        (void)gsf_doc_prop_get_type();
        GsfOutput* scratch = gsf_output_memory_new();
        GsfOutfile* ole = gsf_outfile_msole_new(scratch);
        g_object_unref(scratch);
        if (ole != nullptr) {
            GsfOutput* stream = gsf_outfile_new_child(ole, kSummaryStreamName, FALSE);
            GsfDocMetaData* md = gsf_doc_meta_data_new();
            gsf_doc_meta_data_write_to_msole(md, stream, FALSE);
            g_object_unref(md);
            gsf_output_close(stream);
            g_object_unref(stream);
            gsf_output_close(GSF_OUTPUT(ole));
            g_object_unref(ole);
        }
    });
}

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

struct GErrorGuard {
    GError* error = nullptr;
    ~GErrorGuard() {
        if (error != nullptr) g_error_free(error);
    }
    std::string message() const { return error != nullptr ? error->message : "unknown error"; }
};

void insertString(GsfDocMetaData* md, const char* key, const std::optional<std::string>& value) {
    if (!value) return;
    GValue* v = g_new0(GValue, 1);
    g_value_init(v, G_TYPE_STRING);
    g_value_set_string(v, value->c_str());
    gsf_doc_meta_data_insert(md, g_strdup(key), v); // takes both the key and the value
}

void insertTime(GsfDocMetaData* md, const char* key, const std::optional<int64_t>& unixSeconds) {
    if (!unixSeconds) return;
    GsfTimestamp* ts = gsf_timestamp_new();
    gsf_timestamp_set_time(ts, static_cast<guint64>(*unixSeconds));
    GValue* v = g_new0(GValue, 1);
    g_value_init(v, GSF_TIMESTAMP_TYPE); // to_value only sets the boxed stamp; it needs a typed value
    gsf_timestamp_to_value(ts, v);       // copies the stamp into the value
    gsf_timestamp_free(ts);
    gsf_doc_meta_data_insert(md, g_strdup(key), v);
}

void writeSummary(GsfOutfile* ole, const SummaryFields& summary) {
    GPtr<GsfDocMetaData> md(gsf_doc_meta_data_new());
    insertString(md.get(), "dc:title", summary.title);
    insertString(md.get(), "dc:subject", summary.subject);
    insertString(md.get(), "dc:creator", summary.author);
    insertString(md.get(), "dc:keywords", summary.keywords);
    insertString(md.get(), "dc:description", summary.comments);
    insertString(md.get(), "gsf:last-saved-by", summary.lastAuthor);
    insertTime(md.get(), "meta:creation-date", summary.created);
    insertTime(md.get(), "dc:date", summary.lastSaved);
    GPtr<GsfOutput> stream(gsf_outfile_new_child(ole, kSummaryStreamName, FALSE));
    if (!stream) fail("cannot create the summary stream");
    // FALSE: the SummaryInformation set, not DocumentSummaryInformation.
    const bool written = gsf_doc_meta_data_write_to_msole(md.get(), stream.get(), FALSE);
    gsf_output_close(stream.get());
    if (!written) fail("cannot write the summary information");
}

} // namespace

// ---- Bytes -----------------------------------------------------------------------------------

Bytes bytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) append(out, part);
    return out;
}

// ---- Body text ---------------------------------------------------------------------------------

Bytes blockHeader(uint16_t dataLength) {
    Bytes out;
    append(out, kBlockTag);
    appendWordBE(out, dataLength);
    return out;
}

BlockRun layBlocks(const Bytes& text, const std::vector<size_t>& cuts, bool withLeadingHeader) {
    std::vector<size_t> bounds{0};
    for (size_t cut : cuts) {
        if (cut < bounds.back() || cut > text.size()) fail("cuts must be in order and inside the text");
        bounds.push_back(cut);
    }
    bounds.push_back(text.size());

    BlockRun run{{}, 0};
    run.bytes.reserve(text.size() + 4 * bounds.size());
    for (size_t i = 0; i + 1 < bounds.size(); ++i) {
        const size_t length = bounds[i + 1] - bounds[i];
        if (length > kMaxBlockData) fail("a block holds at most 65535 bytes; add cuts");
        if (i == 0) run.firstBlockLength = static_cast<uint16_t>(length);
        if (i > 0 || withLeadingHeader) append(run.bytes, blockHeader(static_cast<uint16_t>(length)));
        run.bytes.insert(run.bytes.end(), text.begin() + static_cast<std::ptrdiff_t>(bounds[i]),
                         text.begin() + static_cast<std::ptrdiff_t>(bounds[i + 1]));
    }
    return run;
}

Bytes crlf() { return {0x0D, 0x0A}; }
Bytes endOfText() { return {0x1A}; }

Bytes ecs4Unicode(uint16_t unit) {
    Bytes out{kRecordLead, kEcs4RecordCode};
    constexpr size_t contentLength = 5; // CA and four hexadecimal digits
    appendRecordLength(out, kRecordLengthDigits + contentLength);
    out.push_back(kEcs4Unicode);
    for (int shift = 12; shift >= 0; shift -= 4) out.push_back(static_cast<uint8_t>(hexDigit(unit >> shift)));
    return out;
}

Bytes skippedRecord(const Bytes& content) {
    const size_t length = kRecordLengthDigits + content.size();
    if (length > kMaxRecordLength) fail("a record holds at most 253 content bytes");
    Bytes out{kRecordLead, kSkippedRecordCode};
    appendRecordLength(out, length);
    append(out, content);
    return out;
}

// ---- Format block ---------------------------------------------------------------------------

Bytes makePropertyBlock(const PropertyFields& fields) {
    constexpr size_t fullSize = 1700;
    Bytes block(std::max(fullSize, fields.size), 0);
    block[kSkipByteOffset] = fields.skipByte;
    putText(block, kTitle, fields.title);
    putDate(block, kCreated, fields.created);
    putDate(block, kModified, fields.modified);
    block[kFlagWordOffset] = static_cast<uint8_t>(fields.flagWord >> 8);
    block[kFlagWordOffset + 1] = static_cast<uint8_t>(fields.flagWord & 0xFF);
    block[kBlockMarkerOffset] = fields.blockMarker;
    putText(block, kAuthor, fields.author);
    putText(block, kComments, fields.comments);
    putText(block, kCategory, fields.category);
    for (size_t k = 0; k < kKeywordCount; ++k)
        putText(block, {kKeywords.offset + k * kKeywords.size, kKeywords.size}, fields.keywords[k]);
    putText(block, kLastAuthor, fields.lastAuthor);
    block.resize(fields.size);
    return block;
}

void putField(Bytes& block, size_t offset, std::string_view raw) {
    if (block.size() < offset + raw.size()) block.resize(offset + raw.size(), 0);
    std::copy(raw.begin(), raw.end(), block.begin() + static_cast<std::ptrdiff_t>(offset));
}

// ---- Separated documents -----------------------------------------------------------------------

SeparatedPaths writeSeparated(const std::filesystem::path& base, const Bytes& body, const Bytes& format,
                              bool lowerCase, bool withGroup) {
    auto withExtension = [&](const char* upper, const char* lower) {
        std::filesystem::path p = base;
        p += lowerCase ? lower : upper;
        return p;
    };
    SeparatedPaths paths{withExtension(".DOC", ".doc"), withExtension(".FMT", ".fmt"), {}};
    writeFile(paths.doc, body);
    writeFile(paths.fmt, format);
    if (withGroup) {
        paths.grp = withExtension(".GRP", ".grp");
        // Readable text that would show up in the output if a reader took the group file for the body.
        writeFile(paths.grp, bytes("GROUP FILE\r\n\x1A"));
    }
    return paths;
}

// ---- Combined documents ----------------------------------------------------------------------

namespace {

Bytes makeDirectory(const CombinedPart& part) {
    Bytes directory(part.directoryLength, 0);
    if (!part.withEntryTag) return directory;
    if (part.entryOffset + kEntrySize > part.directoryLength) fail("the entry does not fit the directory");
    const auto entry = directory.begin() + static_cast<std::ptrdiff_t>(part.entryOffset);
    std::copy(std::begin(kEntryTag), std::end(kEntryTag), entry);
    const auto name = entry + kEntryNameOffset;
    if (part.rawName) {
        if (part.rawName->size() != kEntryNameSize) fail("a raw part name has exactly 13 bytes");
        std::copy(part.rawName->begin(), part.rawName->end(), name);
    } else {
        if (part.name.size() > kEntryNameSize) fail("a part name has at most 13 bytes");
        std::copy(part.name.begin(), part.name.end(), name); // the rest stays NUL
    }
    return directory;
}

} // namespace

Bytes makeCombined(const std::vector<CombinedPart>& parts, bool withDocumentEnd) {
    Bytes out;
    append(out, kDocBegin);
    for (const CombinedPart& part : parts) {
        if (part.directoryLength > kMaxBlockData) fail("a directory holds at most 65535 bytes");
        append(out, kPartBegin);
        append(out, kDirTag);
        appendWordBE(out, static_cast<uint16_t>(part.directoryLength));
        append(out, makeDirectory(part));
        append(out, kBlocksBegin);
        append(out, part.blocks);
        if (part.endOfBlockList) append(out, kEnd);
        if (part.endOfPart) append(out, kEnd);
    }
    if (withDocumentEnd) append(out, kEnd);
    return out;
}

Bytes makeCombinedDocument(const Bytes& format, const Bytes& bodyText, const std::vector<size_t>& cuts,
                           const std::string& base) {
    if (format.size() > kMaxBlockData) fail("the format block holds at most 65535 bytes");
    CombinedPart formatPart;
    formatPart.name = base + ".FMT";
    formatPart.blocks = concat({blockHeader(static_cast<uint16_t>(format.size())), format});
    CombinedPart bodyPart;
    bodyPart.name = base + ".DOC";
    bodyPart.blocks = layBlocks(bodyText, cuts, true).bytes;
    return makeCombined({formatPart, bodyPart});
}

// ---- Compound documents ----------------------------------------------------------------------

Bytes makeStreamList(const std::vector<StreamListEntry>& entries, const std::string& countText) {
    Bytes out;
    out.push_back(kListFiller);
    constexpr std::string_view header = "OASYS STREAM LIST HEAD.";
    static_assert(header.size() == kListHeaderSize);
    appendText(out, header);
    appendFiller(out, kListCountOffset - kListHeaderOffset - kListHeaderSize);
    appendText(out, countText.empty() ? std::to_string(entries.size()) : countText);
    out.push_back(kCR);
    appendFiller(out, kGapAfterCount);
    for (size_t i = 0; i < entries.size(); ++i) {
        const StreamListEntry& entry = entries[i];
        const bool last = i + 1 == entries.size();
        if (entry.lastWithoutCR && !last) fail("only the last entry may end without CR");
        const std::string lead = "E" + std::to_string(i % 100 / 10) + std::to_string(i % 10);
        static_assert(kEntryLeadSize == 3);
        appendText(out, lead);
        appendFiller(out, kGapBeforeFirstLine);
        appendText(out, entry.firstLine);
        out.push_back(kCR);
        appendFiller(out, kGapBeforeName);
        appendText(out, entry.name);
        out.push_back(kCR);
        appendFiller(out, kGapBeforeType);
        appendText(out, entry.typeField);
        if (entry.lastWithoutCR) break;
        out.push_back(kCR);
        appendFiller(out, kGapAfterEntry);
    }
    return out;
}

void writeCompound(const std::filesystem::path& path, const std::vector<CompoundStream>& streams,
                   const std::optional<SummaryFields>& summary) {
    initGsfOnce();
    GErrorGuard err;
    GPtr<GsfOutput> sink(gsf_output_stdio_new(path.c_str(), &err.error));
    if (!sink) fail("cannot create " + path.string() + ": " + err.message());
    GPtr<GsfOutfile> ole(gsf_outfile_msole_new(sink.get()));
    if (!ole) fail("cannot start a compound file");
    for (const CompoundStream& s : streams) {
        GPtr<GsfOutput> child(gsf_outfile_new_child(ole.get(), s.name.c_str(), FALSE));
        if (!child) fail("cannot create stream " + s.name);
        const bool written = s.data.empty() || gsf_output_write(child.get(), s.data.size(), s.data.data());
        gsf_output_close(child.get());
        if (!written) fail("cannot write stream " + s.name);
    }
    if (summary) writeSummary(ole.get(), *summary);
    if (!gsf_output_close(GSF_OUTPUT(ole.get()))) fail("cannot finish " + path.string());
}

void writeCompoundDocument(const std::filesystem::path& path, const Bytes& format, const Bytes& bodyText,
                           const std::optional<SummaryFields>& summary) {
    const Bytes list = makeStreamList({{"DOC1.FMT", "2"}, {"DOC1.DOC", "1"}});
    writeCompound(path, {{kStreamListName, list}, {"DOC1.FMT", format}, {"DOC1.DOC", bodyText}}, summary);
}

// ---- Files -------------------------------------------------------------------------------------

void writeFile(const std::filesystem::path& path, const Bytes& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
    out.close();
    if (!out) fail("cannot write " + path.string());
}

Bytes readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail("cannot read " + path.string());
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "oasys_test_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) fail("cannot create a temporary directory");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

} // namespace oasys_test
