// The writer's files: separated pairs under the right names, and compound documents whose streams
// libgsf reads back. (The compound files' contents, summary information included, are read back
// through the host's compound-file and summary services by their own tests.)
#include <gsf/gsf.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "oasys_writer.h"

namespace oasys_test {
namespace {

namespace fs = std::filesystem;

TEST(WriterFiles, TempDirsAreFreshAndRemovedAndFilesKeepEveryByte) {
    fs::path kept;
    {
        TempDir a, b;
        EXPECT_NE(a.path(), b.path());
        EXPECT_TRUE(fs::is_empty(a.path()));
        Bytes all(256);
        for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint8_t>(i);
        writeFile(a / "all.bin", all);
        EXPECT_EQ(readFile(a / "all.bin"), all);
        writeFile(a / "all.bin", bytes("\x1A"));
        EXPECT_EQ(readFile(a / "all.bin"), bytes("\x1A")) << "rewriting truncates";
        kept = a.path();
    }
    EXPECT_FALSE(fs::exists(kept));
}

TEST(WriterFiles, SeparatedPairNames) {
    const struct {
        bool lower, group;
        const char *doc, *fmt, *grp;
    } cases[] = {
        {false, false, "R.DOC", "R.FMT", ""},
        {true, true, "R.doc", "R.fmt", "R.grp"},
        {false, true, "R.DOC", "R.FMT", "R.GRP"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const SeparatedPaths paths = writeSeparated(dir / "R", bytes("body\x1A"), bytes("fmt"), c.lower, c.group);
        EXPECT_EQ(paths.doc, dir / c.doc);
        EXPECT_EQ(paths.fmt, dir / c.fmt);
        EXPECT_EQ(paths.grp, *c.grp ? dir / c.grp : fs::path());
        EXPECT_EQ(readFile(paths.doc), bytes("body\x1A"));
        EXPECT_EQ(readFile(paths.fmt), bytes("fmt"));
        const auto files = std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator());
        EXPECT_EQ(files, *c.grp ? 3 : 2) << c.doc;
    }
}

struct Unref {
    void operator()(gpointer p) const { g_object_unref(p); }
};
template <typename T>
using GPtr = std::unique_ptr<T, Unref>;

// Every top-level stream of a compound file, read with libgsf.
std::map<std::string, Bytes> readStreams(const fs::path& path) {
    std::map<std::string, Bytes> streams;
    GPtr<GsfInput> in(gsf_input_stdio_new(path.c_str(), nullptr));
    GPtr<GsfInfile> ole(in ? gsf_infile_msole_new(in.get(), nullptr) : nullptr);
    for (int i = 0; ole && i < gsf_infile_num_children(ole.get()); ++i) {
        GPtr<GsfInput> child(gsf_infile_child_by_index(ole.get(), i));
        Bytes data(static_cast<size_t>(gsf_input_size(child.get())));
        if (!data.empty()) gsf_input_read(child.get(), data.size(), data.data());
        streams[gsf_infile_name_by_index(ole.get(), i)] = data;
    }
    return streams;
}

TEST(WriterCompound, UsualDocumentHasListFormatBodyAndSummaryWhenGiven) {
    TempDir dir;
    const Bytes format = makePropertyBlock({});
    const Bytes body = concat({bytes("AB"), crlf(), endOfText()});
    writeCompoundDocument(dir / "d.oas", format, body);
    const std::map<std::string, Bytes> expected = {
        {"OasysStreamFileList", makeStreamList({{"DOC1.FMT", "2"}, {"DOC1.DOC", "1"}})},
        {"DOC1.FMT", format},
        {"DOC1.DOC", body},
    };
    EXPECT_EQ(readStreams(dir / "d.oas"), expected);
    SummaryFields summary;
    summary.title = "T";
    writeCompoundDocument(dir / "s.oas", format, body, summary);
    EXPECT_EQ(readStreams(dir / "s.oas").count("\005SummaryInformation"), 1u);
}

} // namespace
} // namespace oasys_test
