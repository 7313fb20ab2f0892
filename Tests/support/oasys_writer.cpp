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

const Bytes kDocBegin = {0xF1, 0x10, 0x80, 0x00};   // first bytes of a combined document
const Bytes kPartBegin = {0xF7, 0x7E, 0x80, 0x00, 0xF1, 0x11}; // then the directory length L
const Bytes kBlocksBegin = {0xF1, 0x04, 0x80, 0x00};
const Bytes kEnd = {0xF0, 0x00, 0x00, 0x00};        // ends a block list, a part, a document
constexpr size_t kMaxBlockData = 0xFFFF;           // the length words are 16 bits
constexpr size_t kEntryNameOffset = 8, kEntryNameSize = 13; // the name after the entry tag F4 FD

// Format block fields: offset and size.
struct Field {
    size_t offset, size;
};
constexpr Field kTitle{11, 50}, kCreated{216, 5}, kModified{221, 5}, kAuthor{1286, 30}, kComments{1316, 80},
    kCategory{1398, 16}, kKeywords{1414, 20} /* first of ten */, kLastAuthor{1638, 30};

// Filler of the stream list for the bytes a reader must step over: a non-CR byte at or above
// '0', so that a reader that reads one byte too early takes it into a count, name or type.
constexpr char kFill = 'x';
constexpr char kSummaryStreamName[] = "\005SummaryInformation";

[[noreturn]] void fail(const std::string& what) { throw std::invalid_argument("oasys writer: " + what); }

void append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }
void appendText(Bytes& out, std::string_view text) { out.insert(out.end(), text.begin(), text.end()); }
void appendWordBE(Bytes& out, size_t value) { out.insert(out.end(), {uint8_t(value >> 8), uint8_t(value)}); }
char hexDigit(unsigned value) { return "0123456789ABCDEF"[value & 0xF]; }

// A record: EF, its code, the length L (digits included) as two hexadecimal digits, the content.
Bytes record(uint8_t code, const Bytes& content) {
    const size_t length = 2 + content.size();
    if (length > 0xFF) fail("a record holds at most 253 content bytes");
    Bytes out{0xEF, code, uint8_t(hexDigit(unsigned(length >> 4))), uint8_t(hexDigit(unsigned(length)))};
    append(out, content);
    return out;
}

// A text field cut to its size; the rest keeps its zero fill.
void putText(Bytes& block, Field field, std::string_view text) {
    std::copy_n(text.begin(), std::min(text.size(), field.size), block.begin() + std::ptrdiff_t(field.offset));
}

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
        GsfOutput* stream = gsf_outfile_new_child(ole, kSummaryStreamName, FALSE);
        GsfDocMetaData* md = gsf_doc_meta_data_new();
        gsf_doc_meta_data_write_to_msole(md, stream, FALSE);
        g_object_unref(md);
        gsf_output_close(stream);
        g_object_unref(stream);
        gsf_output_close(GSF_OUTPUT(ole));
        g_object_unref(ole);
    });
}

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

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
    // FALSE: the SummaryInformation set, not DocumentSummaryInformation.
    const bool written = stream && gsf_doc_meta_data_write_to_msole(md.get(), stream.get(), FALSE);
    if (stream) gsf_output_close(stream.get());
    if (!written) fail("cannot write the summary information");
}

} // namespace

Bytes bytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) append(out, part);
    return out;
}

Bytes blockHeader(uint16_t dataLength) {
    Bytes out{0xF0, 0x04};
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
    for (size_t i = 0; i + 1 < bounds.size(); ++i) {
        const size_t length = bounds[i + 1] - bounds[i];
        if (length > kMaxBlockData) fail("a block holds at most 65535 bytes; add cuts");
        if (i == 0) run.firstBlockLength = static_cast<uint16_t>(length);
        if (i > 0 || withLeadingHeader) append(run.bytes, blockHeader(static_cast<uint16_t>(length)));
        run.bytes.insert(run.bytes.end(), text.begin() + std::ptrdiff_t(bounds[i]), text.begin() + std::ptrdiff_t(bounds[i + 1]));
    }
    return run;
}

Bytes crlf() { return {0x0D, 0x0A}; }
Bytes endOfText() { return {0x1A}; }

Bytes ecs4Unicode(uint16_t unit) {
    Bytes content{0xCA}; // the Unicode tag, then four hexadecimal digits
    for (int shift = 12; shift >= 0; shift -= 4) content.push_back(static_cast<uint8_t>(hexDigit(unit >> shift)));
    return record(0xCC, content);
}

Bytes skippedRecord(const Bytes& content) { return record(0xCD, content); }

Bytes makePropertyBlock(const PropertyFields& fields) {
    Bytes block(std::max<size_t>(1700, fields.size), 0);
    block[10] = fields.skipByte;
    putText(block, kTitle, fields.title);
    std::copy(fields.created.begin(), fields.created.end(), block.begin() + kCreated.offset);
    std::copy(fields.modified.begin(), fields.modified.end(), block.begin() + kModified.offset);
    block[564] = uint8_t(fields.flagWord >> 8), block[565] = uint8_t(fields.flagWord);
    block[1280] = fields.blockMarker;
    for (const auto& [field, text] : {std::pair{kAuthor, &fields.author}, {kComments, &fields.comments},
                                      {kCategory, &fields.category}, {kLastAuthor, &fields.lastAuthor}})
        putText(block, field, *text);
    for (size_t k = 0; k < fields.keywords.size(); ++k)
        putText(block, {kKeywords.offset + k * kKeywords.size, kKeywords.size}, fields.keywords[k]);
    block.resize(fields.size);
    return block;
}

void putField(Bytes& block, size_t offset, std::string_view raw) {
    if (block.size() < offset + raw.size()) block.resize(offset + raw.size(), 0);
    std::copy(raw.begin(), raw.end(), block.begin() + std::ptrdiff_t(offset));
}

SeparatedPaths writeSeparated(const std::filesystem::path& base, const Bytes& body, const Bytes& format) {
    const SeparatedPaths paths{base.string() + ".DOC", base.string() + ".FMT"};
    writeFile(paths.doc, body);
    writeFile(paths.fmt, format);
    return paths;
}

Bytes makeCombined(const std::vector<CombinedPart>& parts, bool withDocumentEnd) {
    Bytes out = kDocBegin;
    for (const CombinedPart& part : parts) {
        Bytes directory(part.directoryLength, 0);
        if (part.withEntryTag) {
            if (part.entryOffset + kEntryNameOffset + kEntryNameSize > directory.size())
                fail("the entry does not fit the directory");
            const auto entry = directory.begin() + std::ptrdiff_t(part.entryOffset);
            entry[0] = 0xF4, entry[1] = 0xFD;
            const std::string_view name = part.rawName ? std::string_view(reinterpret_cast<const char*>(part.rawName->data()),
                                                                          part.rawName->size())
                                                       : std::string_view(part.name);
            if (name.size() > kEntryNameSize || (part.rawName && name.size() != kEntryNameSize))
                fail("a part name has at most (a raw one exactly) 13 bytes");
            std::copy(name.begin(), name.end(), entry + kEntryNameOffset); // the rest stays NUL
        }
        if (directory.size() > kMaxBlockData) fail("a directory holds at most 65535 bytes");
        append(out, kPartBegin);
        appendWordBE(out, directory.size());
        append(out, directory);
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
    return makeCombined({{.name = base + ".FMT", .blocks = concat({blockHeader(uint16_t(format.size())), format})},
                         {.name = base + ".DOC", .blocks = layBlocks(bodyText, cuts, true).bytes}});
}

Bytes makeStreamList(const std::vector<StreamListEntry>& entries, const std::string& countText) {
    Bytes out;
    const auto field = [&](size_t gap, std::string_view text, bool withCR = true) {
        out.insert(out.end(), gap, kFill);
        appendText(out, text);
        if (withCR) out.push_back(0x0D);
    };
    field(1, "OASYS STREAM LIST HEAD.", false);
    field(9, countText.empty() ? std::to_string(entries.size()) : countText);
    for (size_t i = 0; i < entries.size(); ++i) {
        const StreamListEntry& entry = entries[i];
        if (entry.lastWithoutCR && i + 1 != entries.size()) fail("only the last entry may end without CR");
        field(3, "E" + std::to_string(i % 100 / 10) + std::to_string(i % 10), false);
        field(13, entry.firstLine);
        field(12, entry.name);
        field(10, entry.typeField, !entry.lastWithoutCR);
    }
    if (entries.empty() || !entries.back().lastWithoutCR) out.insert(out.end(), 3, kFill);
    return out;
}

void writeCompound(const std::filesystem::path& path, const std::vector<CompoundStream>& streams,
                   const std::optional<SummaryFields>& summary) {
    initGsfOnce();
    GError* error = nullptr;
    GPtr<GsfOutput> sink(gsf_output_stdio_new(path.c_str(), &error));
    if (error != nullptr) g_error_free(error);
    if (!sink) fail("cannot create " + path.string());
    GPtr<GsfOutfile> ole(gsf_outfile_msole_new(sink.get()));
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
    writeCompound(path, {{"OasysStreamFileList", list}, {"DOC1.FMT", format}, {"DOC1.DOC", bodyText}}, summary);
}

namespace {
void putU32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
} // namespace

Bytes typed(uint32_t type, const Bytes& payload) {
    Bytes b;
    putU32(b, type);
    append(b, payload);
    while (b.size() % 4 != 0) b.push_back(0);
    return b;
}
Bytes codepage(uint16_t cp) { return typed(2, {static_cast<uint8_t>(cp), static_cast<uint8_t>(cp >> 8)}); }
Bytes lpstr(const std::string& text) {
    Bytes payload;
    putU32(payload, static_cast<uint32_t>(text.size() + 1));
    appendText(payload, text);
    payload.push_back(0);
    return typed(0x1E, payload);
}
Bytes lpwstr(const std::u16string& text) {
    Bytes payload;
    putU32(payload, static_cast<uint32_t>(text.size() + 1));
    for (const char16_t unit : text + u'\0') payload.insert(payload.end(), {uint8_t(unit), uint8_t(unit >> 8)});
    return typed(0x1F, payload);
}
Bytes filetime(std::chrono::sys_seconds when) {
    constexpr int64_t kSecondsFrom1601To1970 = 11'644'473'600;
    const auto value = static_cast<uint64_t>(when.time_since_epoch().count() + kSecondsFrom1601To1970) * 10'000'000u;
    Bytes payload;
    for (int i = 0; i < 8; ++i) payload.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return typed(0x40, payload);
}

Bytes propertySetStream(const std::vector<Property>& properties, const SetLayout& layout) {
    constexpr uint8_t kSummary[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                      0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
    constexpr uint8_t kDocumentSummary[16] = {0x02, 0xD5, 0xCD, 0xD5, 0x9C, 0x2E, 0x1B, 0x10,
                                              0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE};
    const uint8_t* const kFmtid = layout.documentSummary ? kDocumentSummary : kSummary;
    Bytes s = {static_cast<uint8_t>(layout.byteOrder), static_cast<uint8_t>(layout.byteOrder >> 8), 0, 0};
    putU32(s, 0x00020006);           // system identifier
    s.insert(s.end(), 16, 0);        // class id
    putU32(s, layout.setCount);
    s.insert(s.end(), kFmtid, kFmtid + 16);
    if (!layout.summaryFmtid) s[28] ^= 0xFF;
    putU32(s, layout.setOffset.value_or(48));
    Bytes set, values;
    uint32_t offset = 8 + 8 * static_cast<uint32_t>(properties.size());
    putU32(set, 0); // size, patched below
    putU32(set, layout.propertyCount.value_or(static_cast<uint32_t>(properties.size())));
    for (size_t i = 0; i < properties.size(); ++i) {
        putU32(set, properties[i].pid);
        putU32(set, i + 1 == properties.size() && layout.lastValueOffset ? *layout.lastValueOffset : offset);
        offset += static_cast<uint32_t>(properties[i].value.size());
        append(values, properties[i].value);
    }
    append(set, values);
    const auto size = static_cast<uint32_t>(set.size());
    for (int i = 0; i < 4; ++i) set[i] = static_cast<uint8_t>(size >> (8 * i));
    append(s, set);
    return s;
}

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

std::string readText(const std::filesystem::path& path) {
    const Bytes content = readFile(path);
    return {content.begin(), content.end()};
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "oasys_test_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) fail("cannot create a temporary directory");
    path_ = pattern;
}

TempDir::~TempDir() { std::error_code ignored; std::filesystem::remove_all(path_, ignored); }

} // namespace oasys_test
