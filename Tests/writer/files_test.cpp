// The writer's files: separated pairs under the right names, and compound files that libgsf reads
// back stream by stream, summary information included.
#include <gsf/gsf.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "oasys_writer.h"

namespace oasys_test {
namespace {

TEST(WriterFiles, TempDirIsFreshAndRemoved) {
    std::filesystem::path kept;
    {
        TempDir a, b;
        EXPECT_NE(a.path(), b.path());
        EXPECT_TRUE(std::filesystem::is_empty(a.path()));
        writeFile(a / "x.bin", bytes("x"));
        kept = a.path();
    }
    EXPECT_FALSE(std::filesystem::exists(kept));
}

TEST(WriterFiles, WriteAndReadKeepEveryByte) {
    TempDir dir;
    Bytes all(256);
    for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint8_t>(i);
    writeFile(dir / "all.bin", all);
    EXPECT_EQ(readFile(dir / "all.bin"), all);
    writeFile(dir / "all.bin", bytes("\x1A"));
    EXPECT_EQ(readFile(dir / "all.bin"), bytes("\x1A")); // rewriting truncates
}

TEST(WriterFiles, SeparatedPairNames) {
    struct Case { bool lower, group; const char *doc, *fmt, *grp; };
    const Case cases[] = {
        {false, false, "R.DOC", "R.FMT", nullptr},
        {true, false, "R.doc", "R.fmt", nullptr},
        {false, true, "R.DOC", "R.FMT", "R.GRP"},
        {true, true, "R.doc", "R.fmt", "R.grp"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const SeparatedPaths paths = writeSeparated(dir / "R", bytes("body\x1A"), bytes("fmt"), c.lower, c.group);
        EXPECT_EQ(paths.doc, dir / c.doc);
        EXPECT_EQ(paths.fmt, dir / c.fmt);
        EXPECT_EQ(readFile(paths.doc), bytes("body\x1A"));
        EXPECT_EQ(readFile(paths.fmt), bytes("fmt"));
        if (c.grp != nullptr) {
            EXPECT_EQ(paths.grp, dir / c.grp);
            EXPECT_TRUE(std::filesystem::exists(paths.grp));
        } else {
            EXPECT_TRUE(paths.grp.empty());
        }
        size_t files = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++files;
        EXPECT_EQ(files, c.grp != nullptr ? 3u : 2u);
    }
}

struct Unref {
    void operator()(gpointer p) const { g_object_unref(p); }
};
template <typename T>
using GPtr = std::unique_ptr<T, Unref>;

// Every top-level stream of a compound file, read with libgsf.
std::map<std::string, Bytes> readStreams(const std::filesystem::path& path) {
    std::map<std::string, Bytes> streams;
    GPtr<GsfInput> in(gsf_input_stdio_new(path.c_str(), nullptr));
    if (!in) return streams;
    GPtr<GsfInfile> ole(gsf_infile_msole_new(in.get(), nullptr));
    if (!ole) return streams;
    for (int i = 0; i < gsf_infile_num_children(ole.get()); ++i) {
        GPtr<GsfInput> child(gsf_infile_child_by_index(ole.get(), i));
        Bytes data(static_cast<size_t>(gsf_input_size(child.get())));
        if (!data.empty()) gsf_input_read(child.get(), data.size(), data.data());
        streams[gsf_infile_name_by_index(ole.get(), i)] = data;
    }
    return streams;
}

TEST(WriterCompound, StreamsReadBackWithLibgsf) {
    TempDir dir;
    Bytes big(5000); // past the 4096-byte mini-stream bound
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7);
    const std::vector<CompoundStream> streams = {
        {"OasysStreamFileList", makeStreamList({{"DOC1.FMT", "2"}})},
        {"DOC1.FMT", makePropertyBlock({})},
        {"BIG.DOC", big},
        {"EMPTY", {}},
    };
    writeCompound(dir / "c.oas", streams);
    const auto back = readStreams(dir / "c.oas");
    ASSERT_EQ(back.size(), streams.size());
    for (const CompoundStream& s : streams) {
        ASSERT_TRUE(back.count(s.name)) << s.name;
        EXPECT_EQ(back.at(s.name), s.data) << s.name;
    }
}

TEST(WriterCompound, UsualDocumentHasListFormatAndBody) {
    TempDir dir;
    const Bytes format = makePropertyBlock({});
    const Bytes body = concat({bytes("AB"), crlf(), endOfText()});
    writeCompoundDocument(dir / "d.oas", format, body);
    const auto back = readStreams(dir / "d.oas");
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(back.at("OasysStreamFileList"), makeStreamList({{"DOC1.FMT", "2"}, {"DOC1.DOC", "1"}}));
    EXPECT_EQ(back.at("DOC1.FMT"), format);
    EXPECT_EQ(back.at("DOC1.DOC"), body);
}

std::string stringProp(GsfDocMetaData* md, const char* key) {
    GsfDocProp* prop = gsf_doc_meta_data_lookup(md, key);
    if (prop == nullptr) return "<missing>";
    const GValue* v = gsf_doc_prop_get_val(prop);
    return G_VALUE_HOLDS_STRING(v) ? g_value_get_string(v) : "<not a string>";
}

int64_t timeProp(GsfDocMetaData* md, const char* key) {
    GsfDocProp* prop = gsf_doc_meta_data_lookup(md, key);
    if (prop == nullptr) return -1;
    const GValue* v = gsf_doc_prop_get_val(prop);
    if (!VAL_IS_GSF_TIMESTAMP(v)) return -2;
    return static_cast<const GsfTimestamp*>(g_value_get_boxed(v))->timet;
}

// The summary information of a compound file, read back with libgsf.
GPtr<GsfDocMetaData> readSummary(const std::filesystem::path& path) {
    GPtr<GsfDocMetaData> md(gsf_doc_meta_data_new());
    GPtr<GsfInput> in(gsf_input_stdio_new(path.c_str(), nullptr));
    if (!in) return nullptr;
    GPtr<GsfInfile> ole(gsf_infile_msole_new(in.get(), nullptr));
    if (!ole) return nullptr;
    GPtr<GsfInput> stream(gsf_infile_child_by_name(ole.get(), "\005SummaryInformation"));
    if (!stream) return nullptr;
    GError* error = gsf_doc_meta_data_read_from_msole(md.get(), stream.get());
    if (error != nullptr) {
        ADD_FAILURE() << error->message;
        g_error_free(error);
        return nullptr;
    }
    return md;
}

TEST(WriterCompound, SummaryInformationReadsBack) {
    TempDir dir;
    SummaryFields summary;
    summary.title = "報告書";
    summary.subject = "subject";
    summary.author = "山田";
    summary.keywords = "a;b";
    summary.comments = "note";
    summary.lastAuthor = "鈴木";
    summary.created = 1700000000;
    summary.lastSaved = 1000000000;
    writeCompoundDocument(dir / "s.oas", makePropertyBlock({}), bytes("\x1A"), summary);
    EXPECT_EQ(readStreams(dir / "s.oas").size(), 4u);

    const GPtr<GsfDocMetaData> md = readSummary(dir / "s.oas");
    ASSERT_TRUE(md);
    struct Case { const char* key; const char* value; };
    const Case strings[] = {{"dc:title", "報告書"}, {"dc:subject", "subject"}, {"dc:creator", "山田"},
                            {"dc:keywords", "a;b"}, {"dc:description", "note"}, {"gsf:last-saved-by", "鈴木"}};
    for (const Case& c : strings) EXPECT_EQ(stringProp(md.get(), c.key), c.value) << c.key;
    EXPECT_EQ(timeProp(md.get(), "meta:creation-date"), 1700000000);
    EXPECT_EQ(timeProp(md.get(), "dc:date"), 1000000000);
}

TEST(WriterCompound, OnlyTheSummaryFieldsGivenAreWritten) {
    TempDir dir;
    writeCompoundDocument(dir / "n.oas", makePropertyBlock({}), bytes("\x1A"));
    EXPECT_FALSE(readStreams(dir / "n.oas").count("\005SummaryInformation"));

    SummaryFields onlyTitle;
    onlyTitle.title = "T";
    writeCompoundDocument(dir / "t.oas", makePropertyBlock({}), bytes("\x1A"), onlyTitle);
    const GPtr<GsfDocMetaData> md = readSummary(dir / "t.oas");
    ASSERT_TRUE(md);
    EXPECT_EQ(stringProp(md.get(), "dc:title"), "T");
    for (const char* key : {"dc:creator", "dc:subject", "gsf:last-saved-by"})
        EXPECT_EQ(stringProp(md.get(), key), "<missing>") << key;
    EXPECT_EQ(timeProp(md.get(), "meta:creation-date"), -1);
}

} // namespace
} // namespace oasys_test
