// oasys2txt and oasysinfo run as a user runs them: the samples against their expected text and
// properties, every exit status with its message, output charsets, detection of the packaging,
// standard output against a file, standard input, ISO dates and JSON.
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <map>
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

// ---- Every outcome as a user meets it --------------------------------------------------------------

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
    // Damage: a separated body without its end mark, a compound file cut short.
    writeSeparated(d / "cut", concat({bytes("Hello"), crlf(), bytes("World"), crlf()}), formatOf());
    const Bytes compound = readFile(d / "c.ole");
    writeFile(d / "cut.ole", Bytes(compound.begin(), compound.begin() + 600));
    // Two members in different case, an empty body, a long document, two documents of one name.
    writeSeparated(d / "y", bodyOf({"upper"}), formatOf());
    writeSeparated(d / "y", bodyOf({"lower"}), formatOf(), true);
    writeSeparated(d / "empty", {}, formatOf());
    writeSeparated(d / "long", longBody(30000), formatOf());
    for (const char* folder : {"a", "b"}) {
        fs::create_directories(d / "two" / folder);
        writeDocument(Kind::Combined, d / "two" / folder, "x", hello, formatOf());
    }
}

// What a file of the case folder holds afterwards: "name=content", "name~part of its content",
// "name!" (absent), "name->target" (a link), "name:c" (a character device), "name#" (unchanged).
using FileStates = std::vector<std::string>;

struct Case {
    const char* name;
    const char* setup;                // shell commands run in the case folder first
    std::vector<std::string> command; // tool and arguments ('@': the case folder), or "sh" "-c" line
    int status;
    const char* err;                  // part of standard error; "": nothing on standard error
    FileStates files = {};
    const char* out = nullptr;        // part of standard output
    const char* notErr = nullptr;     // never on standard error
    friend void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
};

const Case kCases[] = {
    {"success", "", {"oasys2txt", "@/doc.oas", "@/out.txt"}, 0, "", {"out.txt=Hello\r\n"}},
    // Detection of the packaging, by name for separated documents, else by the bytes.
    {"separated named by .DOC", "", {"oasys2txt", "--report", "@/report", "@/a.DOC", "@/out.txt"}, 0, "",
     {"out.txt=Hello\r\n", "report~\"packaging\":\"separated\""}},
    {"separated named by .FMT", "", {"oasys2txt", "@/a.FMT", "@/out.txt"}, 0, "", {"out.txt=Hello\r\n"}},
    {"separated named by .grp, lower case", "", {"oasys2txt", "@/b.grp", "@/out.txt"}, 0, "", {"out.txt=Hello\r\n"}},
    {"separated in mixed case", "", {"oasys2txt", "@/Mixed.Doc", "@/out.txt"}, 0, "", {"out.txt=Hello\r\n"}},
    {"separated under a folder that looks like a member", "", {"oasys2txt", "@/old.FMT.d/a.b.DOC", "@/out.txt"}, 0,
     "", {"out.txt=Hello\r\n"}},
    {"combined by its bytes, any name", "", {"oasys2txt", "--report", "@/report", "@/combined.DOC", "@/out.txt"}, 0,
     "", {"out.txt=Hello\r\n", "report~\"packaging\":\"combined\""}},
    {"compound by its bytes", "", {"oasys2txt", "--report", "@/report", "@/c.ole", "@/out.txt"}, 0, "",
     {"out.txt=Hello\r\n", "report~\"packaging\":\"compound\""}},
    {"forced packaging", "", {"oasys2txt", "--packaging", "combined", "@/doc.oas", "@/out.txt"}, 0, "",
     {"out.txt=Hello\r\n"}},
    {"the member named is the member read", "", {"oasys2txt", "@/y.doc", "@/out.txt"}, 0, "", {"out.txt=lower\r\n"}},
    {"output limit", "", {"oasys2txt", "--max-bytes", "3", "@/doc.oas", "@/out.txt"}, 1, "maximum output size",
     {"out.txt=Hel"}},
    {"no visible text", "", {"oasys2txt", "@/blank.DOC", "@/out.txt"}, 2, "no visible text", {"out.txt!"}},
    {"no visible text to stdout", "", {"oasys2txt", "@/blank.oas"}, 2, "no visible text"},
    {"password", "", {"oasys2txt", "@/secret.DOC", "@/out.txt"}, 3, "password-protected", {"out.txt!"}},
    {"password to stdout", "", {"oasys2txt", "@/secret.ole"}, 3, "password-protected"},
    {"not OASYS", "", {"oasys2txt", "@/notes.txt", "@/out.txt"}, 4, "not an OASYS document", {"out.txt!"}},
    {"compound file without the OASYS stream list", "", {"oasys2txt", "@/other.ole", "@/out.txt"}, 4,
     "without the OASYS stream list"},
    {"broken combined document", "", {"oasys2txt", "@/broken.oas", "@/out.txt"}, 5, "broken", {"out.txt!"}},
    {"missing document", "", {"oasys2txt", "@/missing.DOC", "@/out.txt"}, 6,
     "'@/missing.DOC': cannot open @/missing.DOC: No such file or directory"},
    {"separated document without its format file", "", {"oasys2txt", "@/lone.DOC", "@/out.txt"}, 6,
     "format file lone.FMT is missing"},
    {"forced packaging the file does not have", "",
     {"oasys2txt", "--packaging", "compound", "@/doc.oas", "@/out.txt"}, 5, "could not be opened", {"out.txt!"}},
    {"output folder missing", "", {"oasys2txt", "@/doc.oas", "@/missing/out.txt"}, 7,
     "cannot open the folder @/missing: No such file or directory", {"missing!"}},
    {"unknown option", "", {"oasys2txt", "--frobnicate", "x.DOC", "@/out.txt"}, 64, "unknown option --frobnicate"},
    {"unknown charset", "", {"oasys2txt", "-enc", "NO-SUCH-CHARSET", "@/doc.oas", "@/out.txt"}, 64,
     "unknown output charset NO-SUCH-CHARSET"},
    {"bad number", "", {"oasys2txt", "-j", "0", "-o", "@", "x.DOC"}, 64, "-j needs a number"},
    {"several documents without -o", "", {"oasys2txt", "a.DOC", "b.DOC", "c.DOC"}, 64,
     "several documents need -o DIR"},
    {"version", "", {"oasys2txt", "--version"}, 0, "", {}, "oasys2txt 5."},
    // A failed document leaves whatever was at the output path as it was.
    {"a failure keeps an existing file", "echo kept > out.txt", {"oasys2txt", "@/secret.DOC", "@/out.txt"}, 3,
     "password", {"out.txt=kept\n"}},
    {"a failure keeps a link", "echo kept > victim; ln -s victim out.txt", {"oasys2txt", "@/broken.oas", "@/out.txt"},
     5, "broken", {"out.txt->victim", "victim=kept\n"}},
    {"a failure keeps a device", "mknod out.txt c 1 3", {"oasys2txt", "@/secret.oas", "@/out.txt"}, 3, "password",
     {"out.txt:c"}},
    {"a success replaces a link, not its target", "echo kept > victim; ln -s victim out.txt",
     {"oasys2txt", "@/doc.oas", "@/out.txt"}, 0, "", {"out.txt=Hello\r\n", "victim=kept\n"}},
    {"a device takes the text and stays", "mknod null c 1 3",
     {"oasys2txt", "--report", "@/report", "@/doc.oas", "@/null"}, 0, "", {"null:c", "report~\"bytes\":7,"}},
    // Long documents need no loop guard; the guard, when asked for, names itself.
    {"a long document by default", "", {"oasys2txt", "@/long.DOC", "@/out.txt"}, 0, "",
     {"out.txt~Line 29999 of a long"}},
    {"a long document with the loop guard", "", {"oasys2txt", "--loop-guard", "@/long.DOC", "@/out.txt"}, 5,
     "--loop-guard"},
    {"a full device is a write error", "", {"oasys2txt", "@/doc.oas", "/dev/full"}, 7,
     "writing to /dev/full failed: No space left on device"},
    {"a full standard output is a write error", "", {"sh", "-c", "exec oasys2txt @/c.ole > /dev/full"}, 7,
     "'@/c.ole': writing to standard output failed: No space left on device"},
    // Damage: the text before it is kept, unless --strict.
    {"damaged document to a file", "", {"oasys2txt", "@/cut.DOC", "@/out.txt"}, 5,
     "the text decoded before the damage was kept (14 bytes), ending after line 2", {"out.txt=Hello\r\nWorld\r\n"}},
    {"damaged document to standard output", "", {"oasys2txt", "@/cut.DOC"}, 5, "broken", {}, "Hello\r\nWorld\r\n"},
    {"damaged document, strict", "", {"oasys2txt", "--strict", "@/cut.DOC", "@/out.txt"}, 5, "broken", {"out.txt!"},
     nullptr, "kept"},
    {"a truncated compound file is broken", "", {"oasys2txt", "@/cut.ole", "@/out.txt"}, 5,
     "cannot be opened as a compound file", {"out.txt!"}},
    {"a truncated compound file has its report line", "mkdir in; cp cut.ole doc.oas in/",
     {"oasys2txt", "-o", "@/out", "--report", "@/report", "@/in"}, 5, "2 documents: 1 ok, 1 broken",
     {"report~{\"path\":\"@/in/cut.ole\",\"packaging\":\"compound\",\"code\":null,\"outcome\":\"broken\","
      "\"reason\":\"it has the compound-file signature but cannot be opened"}},
    // Reports: a reason, the bytes written wherever they went, names that are no UTF-8.
    {"a report line gives the reason", "", {"oasys2txt", "--report", "@/report", "@/secret.DOC", "@/out.txt"}, 3,
     "password", {"report~\"outcome\":\"password\",\"reason\":\"the document is password-protected\""}},
    {"bytes written to /dev/null are counted", "", {"oasys2txt", "--report", "@/report", "@/doc.oas", "/dev/null"},
     0, "", {"report~\"bytes\":7,"}},
    {"a name that is no UTF-8 in the report", "mkdir in; cp doc.oas \"in/$(printf '\\223\\372')\"",
     {"oasys2txt", "-o", "@/out", "--report", "@/report", "@/in"}, 0, "1 document: 1 ok",
     {"report~\"path\":\"@/in/\xEF\xBF\xBD\xEF\xBF\xBD\",\"path_hex\":\""}},
    {"oasysinfo json with a name that is no UTF-8", "mkdir in; cp doc.oas \"in/$(printf '\\223\\372')\"",
     {"sh", "-c", "oasysinfo --json @/in/*"}, 0, "", {}, "2f93fa\",\"packaging\":\"combined\""},
    {"an empty body beside its format file", "", {"oasys2txt", "@/empty.DOC", "@/out.txt"}, 0, "", {"out.txt="}},
    {"a folder that cannot be made says why", "", {"oasys2txt", "-o", "@/notes.txt/out", "@/doc.oas"}, 7,
     "cannot make the folder @/notes.txt/out: Not a directory"},
    // Inputs are never harmed and only regular files are read.
    {"the output is the document", "", {"oasys2txt", "@/doc.oas", "@/doc.oas"}, 7, "would replace an input",
     {"doc.oas#"}},
    {"the output is the format file", "", {"oasys2txt", "@/a.DOC", "@/a.FMT"}, 7, "would replace an input",
     {"a.FMT#"}},
    {"the output folder is an input", "", {"oasys2txt", "-o", "@", "@"}, 64, "lies in the output folder",
     {"doc.oas#"}},
    {"a pipe named as a document", "mkfifo fifo.oas", {"oasys2txt", "@/fifo.oas", "@/out.txt"}, 6,
     "is not a regular file", {"out.txt!"}},
    {"a device behind a link, forced compound", "ln -s /dev/zero zero.ole",
     {"oasys2txt", "--packaging", "compound", "@/zero.ole", "@/out.txt"}, 6, "is not a regular file", {"out.txt!"}},
    {"oasysinfo on a pipe", "mkfifo fifo.oas", {"oasysinfo", "@/fifo.oas"}, 6, "is not a regular file"},
    {"a combined document from standard input", "", {"sh", "-c", "oasys2txt - < @/doc.oas"}, 0, "", {}, "Hello\r\n"},
    {"a compound document from standard input", "", {"sh", "-c", "oasys2txt - < @/c.ole"}, 0, "", {}, "Hello\r\n"},
    {"a separated body from standard input", "", {"sh", "-c", "oasys2txt - < @/a.DOC"}, 4,
     "'standard input': not an OASYS document"},
    {"endless standard input that is no document", "",
     {"sh", "-c", "cat /dev/zero | TMPDIR=@/tmp oasys2txt - @/z.txt"}, 4, "not an OASYS document", {"z.txt!"}},
    {"standard input interrupted", "",
     {"sh", "-c", "sleep 1 | { exec 3<&0; TMPDIR=@/tmp oasys2txt - @/z.txt <&3 & p=$!; sleep 0.3; kill -TERM $p; wait $p; }"}, 143,
     "interrupted while reading standard input", {"z.txt!"}},
    {"standard input past its bound", "",
     {"sh", "-c", "{ cat @/doc.oas; head -c 100000 /dev/zero; } | oasys2txt --stdin-limit 1000 - @/z.txt"}, 6,
     "--stdin-limit raises the bound", {"z.txt!"}},
    // Batches: logs apart, names quoted, own outputs and long names.
    {"the log of one document", "", {"oasys2txt", "--log", "@/logs", "@/doc.oas", "@/out.txt"}, 0, "",
     {"logs/doc.oas.ve2.log~GetText() end successfully\r\n"}},
    {"logs of documents of one name stay apart", "",
     {"oasys2txt", "-r", "-o", "@/out", "--log", "@/logs", "@/two"}, 0, "2 documents: 2 ok",
     {"logs/a/x.oas.ve2.log~GetText() end successfully", "logs/b/x.oas.ve2.log~GetText() end successfully"}},
    {"a name with a line break is quoted, in causes too", "mkdir in; cp lone.DOC \"in/x$(printf '\\nz').DOC\"",
     {"oasys2txt", "-o", "@/out", "@/in"}, 6, "/in/x\\nz.DOC': its format file x\\nz.FMT is missing", {}, nullptr,
     "x\nz"},
    {"the output folder inside the input is not read",
     "mkdir -p in/out; cp doc.oas in/; cp doc.oas in/out/doc.oas.txt", {"oasys2txt", "-r", "-o", "@/in/out", "@/in"},
     0, "1 document: 1 ok", {"in/out/doc.oas.txt=Hello\r\n"}},
    {"a name of 255 bytes", "mkdir in; cp doc.oas in/$(printf 'n%.0s' $(seq 251)).oas",
     {"oasys2txt", "-o", "@/out", "@/in"}, 0, "1 document: 1 ok"},
    // oasysinfo
    {"oasysinfo not OASYS", "", {"oasysinfo", "@/notes.txt"}, 4, "oasysinfo: '@/notes.txt': not an OASYS document"},
    {"oasysinfo json in another charset", "", {"oasysinfo", "--json", "-enc", "EUC-JP", "@/notes.txt"}, 64,
     "--json writes UTF-8"},
    {"oasysinfo unknown packaging", "", {"oasysinfo", "--packaging", "zip", "@/notes.txt"}, 64,
     "unknown packaging zip"},
    {"oasysinfo without a document", "", {"oasysinfo"}, 64, "no document given"},
    {"oasysinfo on several documents and standard input", "",
     {"sh", "-c", "oasysinfo @/a.DOC - @/notes.txt < @/doc.oas"}, 4, "'@/notes.txt': not an OASYS document", {},
     "Password protected: no\n\nTitle:              T\n"},
    {"oasysinfo json lines", "", {"oasysinfo", "--json", "@/a.DOC", "@/c.ole"}, 0, "", {},
     "\"document_type\":\"OASYS2\xE6\x96\x87\xE6\x9B\xB8\"}\n{\"path\":\"@/c.ole\""},
    {"oasysinfo a damaged compound file", "", {"oasysinfo", "@/cut.ole"}, 5, "cannot be opened as a compound file"},
    {"oasysinfo leaves an unset date out", "", {"oasysinfo", "@/doc.oas"}, 0, "", {},
     "Title:              T\nDocument type:"},
    {"oasysinfo version", "", {"oasysinfo", "--version"}, 0, "", {}, "oasysinfo 5."},
    {"oasysinfo help lists only its own exit codes", "", {"oasysinfo", "-h"}, 0, "", {},
     "  0   done\n  4   not an OASYS document\n"},
};

// A file's state as the FileStates spell it, "" when it does not exist.
std::string stateOf(const fs::path& file, char kind) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(file, error);
    if (error || !fs::exists(status)) return "";
    switch (kind) {
    case '>': return fs::is_symlink(status) ? fs::read_symlink(file).string() : "(no link)";
    case 'c': return fs::is_character_file(status) ? "c" : "(no device)";
    default: return fs::is_regular_file(status) ? readText(file) : "(no regular file)";
    }
}

void expectFileState(const fs::path& folder, const std::string& expected,
                     const std::map<std::string, std::string>& before) {
    const size_t at = expected.find_first_of("=~!#:-");
    const std::string name = expected.substr(0, at);
    const std::string rest = expand(expected.substr(at + 1), folder);
    const fs::path file = folder / name;
    switch (expected[at]) {
    case '=': EXPECT_EQ(stateOf(file, '='), rest) << name; break;
    case '~': EXPECT_NE(stateOf(file, '=').find(rest), std::string::npos) << name << ": " << stateOf(file, '='); break;
    case '!': EXPECT_FALSE(fs::exists(fs::symlink_status(file))) << name; break;
    case '#': EXPECT_EQ(stateOf(file, '='), before.at(name)) << name << " changed"; break;
    case ':': EXPECT_EQ(stateOf(file, rest[0]), rest) << name; break;
    case '-': EXPECT_EQ(stateOf(file, '>'), rest.substr(1)) << name; break;
    }
}

class Cases : public ToolTest, public ::testing::WithParamInterface<Case> {};

TEST_P(Cases, StatusMessagesAndFiles) {
    const Case& c = GetParam();
    if (std::string_view(c.setup).find("mknod") != std::string_view::npos && geteuid() != 0)
        GTEST_SKIP() << "making a device node needs root";
    writeCaseDocuments(dir.path());
    fs::create_directories(dir / "tmp");
    ASSERT_EQ(runTool("/bin/sh", {"-c", "cd '" + dir.path().string() + "' || exit 1\n" + c.setup}).status, 0);
    std::map<std::string, std::string> before;
    for (const std::string& expected : c.files) {
        const std::string name = expected.substr(0, expected.size() - 1);
        if (expected.back() == '#') before[name] = readText(dir / name);
    }

    std::vector<std::string> arguments;
    for (const std::string& a : c.command) arguments.push_back(expand(a, dir.path()));
    fs::path tool = c.command[0] == "oasysinfo" ? kOasysinfo : kOasys2txt;
    if (c.command[0] == "sh") {
        tool = "/bin/sh";
        for (const fs::path& named : {kOasys2txt, kOasysinfo}) {
            const std::string word = named.filename().string();
            if (const size_t at = arguments[2].find(word + " "); at != std::string::npos)
                arguments[2].replace(at, word.size(), named.string());
        }
    }
    const ToolRun run = runTool(tool, {arguments.begin() + 1, arguments.end()});

    EXPECT_EQ(run.status, c.status) << run.err;
    if (*c.err) {
        EXPECT_NE(run.err.find(expand(c.err, dir.path())), std::string::npos) << run.err;
    } else {
        EXPECT_EQ(run.err, "");
    }
    if (c.notErr) {
        EXPECT_EQ(run.err.find(c.notErr), std::string::npos) << run.err;
    }
    if (c.out) {
        EXPECT_NE(run.out.find(expand(c.out, dir.path())), std::string::npos) << run.out;
    }
    for (const std::string& expected : c.files) expectFileState(dir.path(), expected, before);
    EXPECT_TRUE(fs::is_empty(dir / "tmp")) << "nothing is left in the temporary folder";
}

INSTANTIATE_TEST_SUITE_P(Cases, Cases, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return testNameOf(info.param.name); });

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
    EXPECT_EQ(list.status, 0);
    for (const char* name : {"\nUTF-8\n", "\nUTF-16LE\n", "\nEUC-JP\n"})
        EXPECT_NE(("\n" + list.out).find(name), std::string::npos) << name;
}

// ---- oasysinfo --------------------------------------------------------------------------------------

TEST_F(Oasysinfo, IsoDates) {
    // Two stored year digits: 80-99 are 19xx, 00-79 are 20xx; digits that are no date stay as stored.
    const struct {
        std::array<uint8_t, 5> stored;
        const char* shown;
    } cases[] = {
        {{0x80, 0x01, 0x01, 0x00, 0x00}, "1980-01-01T00:00"}, {{0x79, 0x06, 0x15, 0x12, 0x05}, "2079-06-15T12:05"},
        {{0x05, 0x13, 0x01, 0x00, 0x00}, "05年13月01日00時00分"},
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
    // The zero-filled date of the block was never set.
    EXPECT_NE(run.out.find(R"("created":null)"), std::string::npos) << run.out;
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
