// oasys2txt and oasysinfo run as a user runs them: the samples against their expected text and
// properties, every exit status with its message, output charsets, detection of the packaging,
// standard output against a file, standard input, ISO dates and JSON.
#include <gtest/gtest.h>

#include <array>
#include <string_view>

#include "sample_documents.h"
#include "tool_runner.h"

namespace tool_test {
namespace {

using namespace oasys_test;
using namespace std::literals;

const std::string kSampleText = readText(kExpectedDir / "sample_combined.txt");

using Oasys2txt = ToolTest;
using Oasysinfo = ToolTest;

TEST_F(Oasys2txt, SamplesGiveTheirExpectedTextAndProperties) {
    for (const auto& sample : oasys_examples::sampleFiles()) {
        SCOPED_TRACE(sample.name);
        const std::string document = (kExamplesDir / sample.name).string();
        const std::string stem = fs::path(sample.name).stem().string();
        const ToolRun toFile = runTool(kOasys2txt, {document, (dir / "out.txt").string()});
        EXPECT_EQ(toFile.status, 0) << toFile.err;
        EXPECT_EQ(toFile.out, "");
        EXPECT_EQ(readText(dir / "out.txt"), readText(kExpectedDir / (stem + ".txt")));
        const ToolRun toStdout = runTool(kOasys2txt, {document});
        EXPECT_EQ(toStdout.status, 0) << toStdout.err;
        EXPECT_EQ(toStdout.out, kSampleText);
        EXPECT_EQ(toStdout.err, "");
        const ToolRun info = runTool(kOasysinfo, {document});
        EXPECT_EQ(info.status, 0) << info.err;
        EXPECT_EQ(info.out, readText(kExpectedDir / (stem + ".info")));
        std::string json = runTool(kOasysinfo, {"--json", document}).out;
        json.replace(json.find(kExamplesDir.string()), kExamplesDir.string().size(), "EXAMPLES");
        EXPECT_EQ(json, readText(kExpectedDir / (stem + ".json")));
    }
}

TEST_F(Oasys2txt, CommittedSamplesAreWhatTheGeneratorMakes) {
    oasys_examples::writeSamples(dir.path());
    // The compound sample goes through libgsf's writer; its text stands for it (above), the plain
    // files are compared byte for byte.
    for (const char* name : {"sample_separated.DOC", "sample_separated.FMT", "sample_combined.oas"})
        EXPECT_EQ(readText(dir / name), readText(kExamplesDir / name)) << name;
}

// ---- Exit status and message ---------------------------------------------------------------------

// The documents the cases name ("@/..."); the good ones hold "Hello".
void writeCaseDocuments(const fs::path& d) {
    const Bytes hello = bodyOf({"Hello"});
    writeDocument(Kind::Combined, d, "doc", hello, formatOf());
    writeDocument(Kind::Separated, d, "blank", bodyOf({"", ""}), formatOf());
    writeDocument(Kind::Combined, d, "blank", bodyOf({""}), formatOf());
    writeDocument(Kind::Separated, d, "secret", bodyOf({"Hidden"}), formatOf("T", 0x0008));
    writeDocument(Kind::Combined, d, "secret", bodyOf({"Hidden"}), formatOf("T", 0x0008));
    writeDocument(Kind::Compound, d, "secret", bodyOf({"Hidden"}), formatOf("T", 0x0018));
    writeFile(d / "notes.txt", bytes("plain text\n"));
    writeCompound(d / "other.ole", {{"WordDocument", bytes("abc")}});
    writeFile(d / "broken.oas", bytes("\xF1\x10\x80\x00\xF7\x7E\x80\x00\x12\x34"sv));
    writeFile(d / "lone.DOC", hello);
    // Packagings to detect.
    writeSeparated(d / "a", hello, formatOf());
    writeSeparated(d / "b", hello, formatOf(), true, true);
    writeFile(d / "Mixed.Doc", hello);
    writeFile(d / "Mixed.Fmt", formatOf());
    fs::create_directories(d / "old.FMT.d");
    writeDocument(Kind::Separated, d / "old.FMT.d", "a.b", hello, formatOf());
    writeFile(d / "combined.DOC", makeCombinedDocument(formatOf(), hello));
    writeDocument(Kind::Compound, d, "c", hello, formatOf());
}

struct StatusCase {
    const char* name;
    std::vector<std::string> command; // tool and arguments; '@' stands for the case folder
    int status;
    const char* message;          // part of standard error; empty: nothing on standard error
    const char* text = nullptr;   // what "@/out.txt" holds; nullptr: it is not left behind
    const char* packaging = nullptr; // what "@/report" names
    friend void PrintTo(const StatusCase& c, std::ostream* os) { *os << c.name; }
};

const StatusCase kStatusCases[] = {
    {"success", {"oasys2txt", "@/doc.oas", "@/out.txt"}, 0, "", "Hello\r\n"},
    // Detection of the packaging, by name for separated documents, else by the bytes.
    {"separated named by .DOC", {"oasys2txt", "--report", "@/report", "@/a.DOC", "@/out.txt"}, 0, "", "Hello\r\n",
     "separated"},
    {"separated named by .FMT", {"oasys2txt", "--report", "@/report", "@/a.FMT", "@/out.txt"}, 0, "", "Hello\r\n",
     "separated"},
    {"separated named by .grp, lower case", {"oasys2txt", "--report", "@/report", "@/b.grp", "@/out.txt"}, 0, "",
     "Hello\r\n", "separated"},
    {"separated in mixed case", {"oasys2txt", "--report", "@/report", "@/Mixed.Doc", "@/out.txt"}, 0, "",
     "Hello\r\n", "separated"},
    {"separated under a folder that looks like a member",
     {"oasys2txt", "--report", "@/report", "@/old.FMT.d/a.b.DOC", "@/out.txt"}, 0, "", "Hello\r\n", "separated"},
    {"combined by its bytes, any name", {"oasys2txt", "--report", "@/report", "@/combined.DOC", "@/out.txt"}, 0, "",
     "Hello\r\n", "combined"},
    {"compound by its bytes", {"oasys2txt", "--report", "@/report", "@/c.ole", "@/out.txt"}, 0, "", "Hello\r\n",
     "compound"},
    {"forced packaging", {"oasys2txt", "--packaging", "combined", "--report", "@/report", "@/doc.oas", "@/out.txt"}, 0,
     "", "Hello\r\n", "combined"},
    {"output limit", {"oasys2txt", "--max-bytes", "3", "@/doc.oas", "@/out.txt"}, 1, "maximum output size", "Hel"},
    {"no visible text", {"oasys2txt", "@/blank.DOC", "@/out.txt"}, 2, "no visible text"},
    {"no visible text to stdout", {"oasys2txt", "@/blank.oas"}, 2, "no visible text"},
    {"password", {"oasys2txt", "@/secret.DOC", "@/out.txt"}, 3, "password-protected"},
    // The stream entry reports a protected document as "no text"; the tool still names the cause.
    {"password to stdout", {"oasys2txt", "@/secret.ole"}, 3, "password-protected"},
    {"not OASYS", {"oasys2txt", "@/notes.txt", "@/out.txt"}, 4, "not an OASYS document"},
    {"compound file without the OASYS stream list", {"oasys2txt", "@/other.ole", "@/out.txt"}, 4,
     "not an OASYS document"},
    {"broken combined document", {"oasys2txt", "@/broken.oas", "@/out.txt"}, 5, "broken"},
    {"missing document", {"oasys2txt", "@/missing.DOC", "@/out.txt"}, 6, "no such file"},
    {"separated document without its format file", {"oasys2txt", "@/lone.DOC", "@/out.txt"}, 6,
     "format file lone.FMT is missing"},
    // A forced packaging reaches the filter: a combined file is no compound file.
    {"forced packaging the file does not have", {"oasys2txt", "--packaging", "compound", "@/doc.oas", "@/out.txt"}, 6,
     "could not be opened"},
    // No folder is made for a single text file.
    {"output folder missing", {"oasys2txt", "@/doc.oas", "@/missing/out.txt"}, 7, "cannot create"},
    {"unknown option", {"oasys2txt", "--frobnicate", "x.DOC", "@/out.txt"}, 64, "unknown option --frobnicate"},
    {"unknown charset", {"oasys2txt", "-enc", "NO-SUCH-CHARSET", "@/doc.oas", "@/out.txt"}, 64,
     "unknown output charset NO-SUCH-CHARSET"},
    {"bad number", {"oasys2txt", "-j", "0", "-o", "@", "x.DOC"}, 64, "-j needs a number"},
    {"several documents without -o", {"oasys2txt", "a.DOC", "b.DOC", "c.DOC"}, 64, "several documents need -o DIR"},
    {"oasysinfo not OASYS", {"oasysinfo", "@/notes.txt"}, 4, "oasysinfo: @/notes.txt: not an OASYS document"},
    {"oasysinfo json in another charset", {"oasysinfo", "--json", "-enc", "EUC-JP", "@/notes.txt"}, 64,
     "--json writes UTF-8"},
    {"oasysinfo unknown packaging", {"oasysinfo", "--packaging", "zip", "@/notes.txt"}, 64, "unknown packaging zip"},
    {"oasysinfo without a document", {"oasysinfo"}, 64, "give exactly one document"},
};

class ExitStatus : public ToolTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(ExitStatus, StatusMessageAndOutput) {
    const StatusCase& c = GetParam();
    writeCaseDocuments(dir.path());
    std::vector<std::string> arguments;
    for (const std::string& a : c.command) arguments.push_back(expand(a, dir.path()));
    const ToolRun run = runTool(c.command[0] == "oasysinfo" ? kOasysinfo : kOasys2txt, {arguments.begin() + 1, arguments.end()});
    EXPECT_EQ(run.status, c.status) << run.err;
    if (*c.message) {
        EXPECT_NE(run.err.find(expand(c.message, dir.path())), std::string::npos) << run.err;
        EXPECT_EQ(run.err.rfind(c.command[0] + ": ", 0), 0u) << "messages start with the tool's name";
    } else {
        EXPECT_EQ(run.err, "");
    }
    EXPECT_EQ(fs::exists(dir / "out.txt"), c.text != nullptr);
    if (c.text != nullptr) {
        EXPECT_EQ(readText(dir / "out.txt"), c.text);
        EXPECT_EQ(run.out, "") << "nothing on standard output when the text goes to a file";
    }
    if (c.status >= 2) {
        EXPECT_EQ(run.out.find_first_not_of("\r\n "), std::string::npos) << "a failed document gives no text";
    }
    if (c.packaging != nullptr) {
        EXPECT_NE(readText(dir / "report").find("\"packaging\":\""s + c.packaging + "\""), std::string::npos);
    }
    EXPECT_FALSE(fs::exists(dir / "missing"));
}

INSTANTIATE_TEST_SUITE_P(Cases, ExitStatus, ::testing::ValuesIn(kStatusCases),
                         [](const auto& info) { return testNameOf(info.param.name); });

TEST_F(Oasys2txt, AFullStandardOutputIsAnOutputError) {
    // The stream entry reports the failed write as "no text"; the tool finds the real cause.
    const std::string command =
        "exec " + kOasys2txt.string() + " " + (kExamplesDir / "sample_compound.oas").string() + " > /dev/full";
    const ToolRun run = runTool("/bin/sh", {"-c", command});
    EXPECT_EQ(run.status, 7) << run.err;
    EXPECT_NE(run.err.find("sample_compound.oas: writing to standard output failed"), std::string::npos) << run.err;
}

TEST_F(Oasys2txt, AWorkingFolderThatCannotBeMadeIsAnOutputErrorNamingTheDocument) {
    const std::string separated = (kExamplesDir / "sample_separated.DOC").string();
    const struct {
        const char* name;
        std::string command; // shell command line; '@' stands for the test folder
        const char* message;
    } cases[] = {
        // Separated documents are handed over through a private working folder.
        {"oasys2txt without a working folder", "TMPDIR=@/missing exec " + kOasys2txt.string() + " " + separated +
                                                   " @/out.txt",
         "sample_separated.DOC: cannot create a working directory"},
        {"oasys2txt batch without a working folder", "TMPDIR=@/missing exec " + kOasys2txt.string() + " -q -o @/txt " +
                                                         separated,
         ""},
        {"oasysinfo without a working folder", "TMPDIR=@/missing exec " + kOasysinfo.string() + " " + separated,
         "sample_separated.DOC: cannot create a working directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ToolRun run = runTool("/bin/sh", {"-c", expand(c.command, dir.path())});
        EXPECT_EQ(run.status, 7) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
}

// ---- Charsets, standard input, log ------------------------------------------------------------------------

TEST_F(Oasys2txt, OutputCharsetsOfBothTools) {
    const std::string info = readText(kExpectedDir / "sample_combined.info");
    for (const char* charset : {"UTF-8", "Shift_JIS", "EUC-JP", "UTF-16LE"}) {
        SCOPED_TRACE(charset);
        const fs::path output = dir / "out.txt";
        const std::string sample = (kExamplesDir / "sample_combined.oas").string();
        const ToolRun toFile = runTool(kOasys2txt, {"-enc", charset, sample, output.string()});
        EXPECT_EQ(toFile.status, 0) << toFile.err;
        EXPECT_EQ(readText(output), convertFromUtf8(kSampleText, charset));
        EXPECT_EQ(runTool(kOasys2txt, {"-enc", charset, sample, "-"}).out, convertFromUtf8(kSampleText, charset));
        EXPECT_EQ(runTool(kOasysinfo, {"-enc", charset, sample}).out, convertFromUtf8(info, charset));
    }
    const ToolRun list = runTool(kOasys2txt, {"-listenc"});
    for (const char* name : {"\nUTF-8\n", "\nUTF-16LE\n", "\nEUC-JP\n"})
        EXPECT_NE(("\n" + list.out).find(name), std::string::npos) << name;
}

TEST_F(Oasys2txt, ReadsCombinedAndCompoundDocumentsFromStandardInput) {
    for (const char* name : {"sample_combined.oas", "sample_compound.oas"}) {
        const ToolRun run = runTool(kOasys2txt, {"-"}, kExamplesDir / name);
        EXPECT_EQ(run.status, 0) << name << run.err;
        EXPECT_EQ(run.out, kSampleText) << name;
    }
    const ToolRun separated = runTool(kOasys2txt, {"-"}, kExamplesDir / "sample_separated.DOC");
    EXPECT_EQ(separated.status, 4);
    EXPECT_NE(separated.err.find("standard input: not an OASYS document"), std::string::npos) << separated.err;
}

TEST_F(Oasys2txt, WritesTheFilterLogIntoTheLogDirectory) {
    const ToolRun run = runTool(kOasys2txt, {"--log", (dir / "logs").string(),
                                             (kExamplesDir / "sample_combined.oas").string(), (dir / "o.txt").string()});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> lines = readLogLines(dir / "logs" / "o.txt.ve2.log");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "GetText() end successfully\r\n");
}

// ---- oasysinfo --------------------------------------------------------------------------------------

TEST_F(Oasysinfo, IsoDates) {
    // Two stored year digits: 80-99 are 19xx, 00-79 are 20xx; digits that are no date stay as stored.
    const struct {
        std::array<uint8_t, 5> stored;
        const char* shown;
    } cases[] = {
        {{0x98, 0x12, 0x31, 0x23, 0x59}, "1998-12-31T23:59"}, {{0x80, 0x01, 0x01, 0x00, 0x00}, "1980-01-01T00:00"},
        {{0x79, 0x06, 0x15, 0x12, 0x05}, "2079-06-15T12:05"}, {{0x00, 0x02, 0x29, 0x08, 0x30}, "2000-02-29T08:30"},
        {{0x05, 0x13, 0x01, 0x00, 0x00}, "05年13月01日00時00分"}, {{0x05, 0x01, 0x01, 0x00, 0xA5}, "05年01月01日00時:5分"},
    };
    for (const auto& c : cases) {
        PropertyFields fields;
        fields.created = c.stored;
        writeSeparated(dir / "d", bodyOf({"x"}), makePropertyBlock(fields));
        const ToolRun run = runTool(kOasysinfo, {"-isodates", (dir / "d.DOC").string()});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find(std::string("Created:            ") + c.shown + "\n"), std::string::npos) << run.out;
    }
}

TEST_F(Oasysinfo, JsonEscapesLineBreaksAndQuotes) {
    PropertyFields fields;
    fields.title = "say \"hi\"";
    fields.comments = "line one\r\nline two";
    writeSeparated(dir / "d", bodyOf({"x"}), makePropertyBlock(fields));
    const ToolRun run = runTool(kOasysinfo, {"--json", (dir / "d.FMT").string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(R"("title":"say \"hi\"")"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(R"("comments":"line one\r\nline two")"), std::string::npos) << run.out;
    // The zero-filled date of the block is kept as stored; it is no date.
    EXPECT_NE(run.out.find(R"("created":{"stored":"00年00月00日00時00分","iso":null})"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << "one line";
}

TEST_F(Oasysinfo, PasswordFlagOfEachPackaging) {
    // The samples show "no"; a protected document of each packaging shows "yes".
    writeCaseDocuments(dir.path());
    for (const char* name : {"secret.DOC", "secret.oas", "secret.ole"}) {
        const ToolRun run = runTool(kOasysinfo, {(dir / name).string()});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find("Password protected: yes\n"), std::string::npos) << name << run.out;
    }
}

} // namespace
} // namespace tool_test
