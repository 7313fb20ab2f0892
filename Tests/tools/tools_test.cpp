// oasys2txt and oasysinfo run as a user runs them: the samples against their expected text and
// properties; then one table of cases: every exit status with its message, detection of the
// packaging, standard input, batches (workers, reports, the worst outcome, the progress bar, an
// interruption), trees an attacker prepared (planted links, unreadable folders, paths too long,
// a reader that goes away), ISO dates and JSON; and the output charsets.
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cctype>
#include <map>
#include <string_view>

#include "sample_documents.h"
#include "tool_runner.h"

namespace tool_test {
namespace {

using namespace oasys_test;
using namespace std::literals;

const std::string kSampleText = readText(kExpectedDir / "sample_combined.txt");

// Every '@' of the text replaced by the folder.
std::string expand(std::string text, const fs::path& folder) {
    for (size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, folder.string());
    return text;
}

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
    fs::create_directories(d / "old.FMT.d");
    writeDocument(Kind::Separated, d / "old.FMT.d", "a.b", hello, formatOf());
    writeFile(d / "combined.DOC", makeCombinedDocument(formatOf(), hello));
    writeDocument(Kind::Compound, d, "c", hello, formatOf());
    // Damage: a separated body without its end mark, a compound file cut short.
    writeSeparated(d / "cut", concat({bytes("Hello"), crlf(), bytes("World"), crlf()}), formatOf());
    const Bytes compound = readFile(d / "c.ole");
    writeFile(d / "cut.ole", Bytes(compound.begin(), compound.begin() + 600));
    // An empty body, a long document, two documents of one name.
    writeSeparated(d / "empty", {}, formatOf());
    Bytes longText;
    for (int i = 0; i < 30000; ++i) {
        const std::string line = "Line " + std::to_string(i) + " of a long document, with words\r\n";
        longText.insert(longText.end(), line.begin(), line.end());
    }
    writeSeparated(d / "long", concat({longText, endOfText()}), formatOf());
    for (const char* folder : {"a", "b"}) {
        fs::create_directories(d / "two" / folder);
        writeDocument(Kind::Combined, d / "two" / folder, "x", hello, formatOf());
    }
    // Properties: stored dates of both centuries and one that is no date; quotes and line breaks.
    const std::pair<const char*, std::array<uint8_t, 5>> dates[] = {
        {"d80", {0x80, 0x01, 0x01, 0x00, 0x00}}, {"d79", {0x79, 0x06, 0x15, 0x12, 0x05}}, {"dxx", {0x05, 0x13, 0x01, 0, 0}}};
    for (const auto& [name, created] : dates) {
        PropertyFields fields;
        fields.created = created;
        fields.title = "say \"hi\"";
        fields.comments = "line one\r\nline two";
        writeSeparated(d / name, hello, makePropertyBlock(fields));
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
    const char* alsoErr = nullptr;    // another part of standard error
    friend void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
};

const Case kCases[] = {
    {"success", "", {"oasys2txt", "@/doc.oas", "@/out.txt"}, 0, "", {"out.txt=Hello\r\n"}},
    // Detection of the packaging, by name for separated documents, else by the bytes.
    {"separated named by .DOC", "", {"oasys2txt", "--report", "@/report", "@/a.DOC", "@/out.txt"}, 0, "",
     {"out.txt=Hello\r\n", "report~\"packaging\":\"separated\""}},
    {"separated under a folder that looks like a member", "", {"oasys2txt", "@/old.FMT.d/a.b.DOC", "@/out.txt"}, 0,
     "", {"out.txt=Hello\r\n"}},
    {"combined by its bytes, any name", "", {"oasys2txt", "--report", "@/report", "@/combined.DOC", "@/out.txt"}, 0,
     "", {"out.txt=Hello\r\n", "report~\"packaging\":\"combined\""}},
    {"compound by its bytes", "", {"oasys2txt", "--report", "@/report", "@/c.ole", "@/out.txt"}, 0, "",
     {"out.txt=Hello\r\n", "report~\"packaging\":\"compound\""}},
    {"output limit", "", {"oasys2txt", "--max-bytes", "3", "@/doc.oas", "@/out.txt"}, 1, "maximum output size",
     {"out.txt=Hel"}},
    {"no visible text", "", {"oasys2txt", "@/blank.DOC", "@/out.txt"}, 2, "no visible text", {"out.txt!"}},
    {"password", "", {"oasys2txt", "@/secret.DOC", "@/out.txt"}, 3, "password-protected", {"out.txt!"}},
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
    {"a name of 255 bytes gets a text file name cut and marked", "mkdir in; cp doc.oas in/$(printf 'n%.0s' $(seq 251)).oas",
     {"sh", "-c", "oasys2txt -o @/out @/in && ls @/out > @/names"}, 0, "1 document: 1 ok", {"names~~"}},
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
    {"oasysinfo help lists only its own exit codes", "", {"oasysinfo", "-h"}, 0, "", {},
     "  0   done\n  4   not an OASYS document\n"},
    {"oasysinfo password flags", "", {"oasysinfo", "@/secret.DOC", "@/secret.oas", "@/secret.ole"}, 0, "", {},
     "Password protected: yes\n\nTitle:              T\nDocument type:      OASYS2結合文書\nPackaging:          combined\nPassword protected: yes\n\n"},
    {"oasysinfo ISO dates of the 1900s", "", {"oasysinfo", "-isodates", "@/d80.DOC"}, 0, "", {}, "Created:            1980-01-01T00:00\n"},
    {"oasysinfo ISO dates of the 2000s", "", {"oasysinfo", "-isodates", "@/d79.DOC"}, 0, "", {}, "Created:            2079-06-15T12:05\n"},
    {"oasysinfo ISO dates of no date", "", {"oasysinfo", "-isodates", "@/dxx.DOC"}, 0, "", {}, "Created:            05年13月01日00時00分\n"},
    {"oasysinfo json escapes", "", {"oasysinfo", "--json", "@/d80.FMT"}, 0, "", {},
     R"("title":"say \"hi\"","author":"","keywords":"","category":"","comments":"line one\r\nline two",)"},
    // Batches.
    {"two workers write what one writes", "mkdir -p in/part1; for i in $(seq 20); do cp doc.oas in/d$i.oas; "
     "cp c.ole in/part1/e$i.ole; cp a.DOC in/f$i.DOC; cp a.FMT in/f$i.FMT; done; cp secret.* blank.oas notes.txt in/part1",
     {"sh", "-c", "oasys2txt -r -j 1 -o @/o1 --report @/r1 @/in; s=$?; oasys2txt -r -j 2 -o @/o2 --report @/r2 @/in; "
      "[ $? = $s ] && diff -r @/o1 @/o2 && sed 's/\"ms\":[0-9]*//' @/r1 > @/s1 && sed 's/\"ms\":[0-9]*//' @/r2 | "
      "cmp - @/s1 && exit $s"}, 3, "64 documents: 60 ok, 1 no-text, 3 password\n",
     {"o1/part1/e7.ole.txt=Hello\r\n", "o2/f20.DOC.txt=Hello\r\n", "o1/part1/secret.DOC.txt!", "o1/part1/blank.oas.txt!",
      "r1~\"packaging\":\"compound\",\"code\":3001,\"outcome\":\"password\",\"reason\":\"the document is password-protected\",\"bytes\":0,",
      "r1~/in/part1/e7.ole\",\"packaging\":\"compound\",\"code\":0,\"outcome\":\"ok\",\"reason\":null,\"bytes\":7,"},
     nullptr, "\r"},
    {"the worst outcome wins whatever the order", "", {"oasys2txt", "-o", "@/out", "@/doc.oas", "@/gone.oas", "@/secret.DOC"},
     6, "gone.oas': cannot open", {"out/doc.oas.txt=Hello\r\n"}},
    {"a progress bar on a terminal", "", {"sh", "-c", "script -qec 'oasys2txt -r -j 2 -o @/out @/two' /dev/null"}, 0, "",
     {}, "] 2/2"},
    {"no progress bar nor summary when quiet", "",
     {"sh", "-c", "script -qec 'oasys2txt -q -r -o @/out @/two' /dev/null > @/shown"}, 0, "", {"shown="}},
    {"an interrupted batch finishes what runs and leaves no temporary file",
     "mkdir in out; oasys2txt long.DOC long.txt; for i in $(seq 300); do ln long.DOC in/d$i.DOC; ln long.FMT in/d$i.FMT; done",
     {"sh", "-c", "oasys2txt -j 2 -o @/out --report @/report @/in & p=$!; n=0; while [ $(ls @/out | wc -l) -lt 3 ] && "
      "[ $n -lt 2000 ]; do sleep 0.01; n=$((n+1)); done; kill -TERM $p; wait $p; s=$?; ls @/out | grep -v '[.]txt$' && exit 99; "
      "for f in @/out/*; do cmp -s $f @/long.txt || exit 98; done; [ $(ls @/out | wc -l) = $(wc -l < @/report) ] || exit 97; "
      "exit $s"}, 143, " not started"},
    // Trees an attacker or an unlucky user prepared.
    {"a batch changes nothing outside its output folder whatever links are planted",
     "mkdir -p victims elsewhere in/sub in/out logs; echo one > victims/v1; echo two > victims/v2; cp doc.oas in/a.oas; "
     "cp broken.oas in/b.oas; cp c.ole in/sub/; cp a.DOC in/d.DOC; cp a.FMT in/d.FMT; ln -s $PWD/victims/v1 in/out/a.oas.txt; "
     "ln -s $PWD/victims/v2 in/out/b.oas.txt; ln -s $PWD/elsewhere in/out/sub; ln -s $PWD/victims/v1 logs/a.oas.ve2.log; "
     "ln -s $PWD/elsewhere logs/sub; ln -s $PWD/elsewhere in/away; ln -s /dev/zero in/zero.oas; mkfifo in/fifo.oas",
     {"oasys2txt", "-r", "-j", "2", "-o", "@/in/out", "--log", "@/logs", "--report", "@/in/out/report", "@/in"}, 7,
     "4 documents: 2 ok, 1 broken, 1 output-error",
     {"victims/v1=one\n", "victims/v2=two\n", "elsewhere/c.ole.txt!", "elsewhere/c.ole.ve2.log!", "in/out/a.oas.txt=Hello\r\n",
      "in/out/b.oas.txt->@/victims/v2", "in/out/d.DOC.txt=Hello\r\n", "logs/a.oas.ve2.log~GetText() end successfully"},
     nullptr, nullptr, "/out/sub is a symbolic link; it is not followed"},
    {"unreadable folders and files have their report lines",
     "mkdir -p in/locked out; cp doc.oas in/ok.oas; cp doc.oas in/secret.oas; cp doc.oas in/locked/x.oas; "
     "chmod 700 in/locked; chmod 600 in/secret.oas; chown 65534 out; chmod 755 .",
     {"sh", "-c", "setpriv --reuid=65534 --regid=65534 --clear-groups oasys2txt -r -o @/out --report @/out/report @/in"}, 6,
     "locked': the folder cannot be read: Permission denied", {"out/report~secret.oas\",\"packaging\":null,\"code\":null,\"outcome\":\"unreadable\""},
     nullptr, nullptr, "3 documents: 1 ok, 2 unreadable"},
    {"paths too long for the system have their report lines",
     "mkdir in; cp doc.oas in/top.oas; src=$PWD/doc.oas; d=$(printf 'd%.0s' $(seq 250)); p=$d/$d/$d/$d/$d/$d/$d/$d/$d/$d; "
     "mkdir -p in/$p; cd in/$p; mkdir -p $p; cp $src $p/deep.oas",
     {"sh", "-c", "oasys2txt -r -o @/out --report @/report @/in; s=$?; rm -rf @/in @/out; exit $s"}, 6,
     "2 documents: 1 ok, 1 unreadable", {"report~\"outcome\":\"unreadable\",\"reason\":"}, nullptr, nullptr, "File name too long"},
    {"a closed pipe ends the tool quietly", "",
     {"sh", "-c", "{ TMPDIR=@/tmp oasys2txt --log @/logs @/long.DOC; echo $? > @/status; } | head -c 1 > /dev/null"}, 0, "",
     {"status=141\n"}},
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

// A shell line with each tool's name made its built path.
std::string withToolPaths(std::string line) {
    for (const fs::path& tool : {kOasys2txt, kOasysinfo}) {
        const std::string word = tool.filename().string() + " ";
        for (size_t at = 0; (at = line.find(word, at)) != std::string::npos; at += tool.string().size() + 1)
            line.replace(at, word.size(), tool.string() + " ");
    }
    return line;
}

TEST_P(Cases, StatusMessagesAndFiles) {
    const Case& c = GetParam();
    if (std::string(c.command.back()).find("setpriv") != std::string::npos &&
        runTool("/usr/bin/setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", kOasys2txt.string(), "--version"}).status != 0)
        GTEST_SKIP() << "needs root, setpriv and a build an unprivileged user may run";
    writeCaseDocuments(dir.path());
    fs::create_directories(dir / "tmp");
    ASSERT_EQ(runTool("/bin/sh", {"-c", "cd '" + dir.path().string() + "' || exit 1\n" + withToolPaths(c.setup)}).status, 0);
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
        arguments[2] = withToolPaths(arguments[2]);
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
    if (c.alsoErr) {
        EXPECT_NE(run.err.find(c.alsoErr), std::string::npos) << run.err;
    }
    if (c.out) {
        EXPECT_NE(run.out.find(expand(c.out, dir.path())), std::string::npos) << run.out;
    }
    for (const std::string& expected : c.files) expectFileState(dir.path(), expected, before);
    EXPECT_TRUE(fs::is_empty(dir / "tmp")) << "nothing is left in the temporary folder";
}

INSTANTIATE_TEST_SUITE_P(Cases, Cases, ::testing::ValuesIn(kCases),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

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

} // namespace
} // namespace tool_test
