// oasys2txt and oasysinfo as a user runs them, one table of shell lines: the samples, every exit status
// with its message, packagings, standard input, batches (workers, reports, progress, interruption),
// trees an attacker prepared (planted links, unreadable folders, paths too long, a reader gone), JSON.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cstdlib>
#include <map>
#include <string_view>

#include "oasys_writer.h"
#include "test_util.h"

namespace {

using namespace oasys_test;
using namespace std::literals;
namespace fs = std::filesystem;

struct ToolRun {
    int status; // -1 when the shell did not exit normally
    std::string out, err;
};

// Runs a shell line with the tools' names made their built paths, $E the samples, $X their expected outputs.
ToolRun runShell(std::string line) {
    for (const std::string tool : {OASYS2TXT_PATH, OASYSINFO_PATH}) {
        const std::string word = fs::path(tool).filename().string() + " ";
        for (size_t at = 0; (at = line.find(word, at)) != std::string::npos; at += tool.size() + 1)
            line.replace(at, word.size(), tool + " ");
    }
    TempDir capture;
    const int status = std::system(("E='" EXAMPLES_DIR "' X='" EXPECTED_DIR "'; (" + line + ") </dev/null >" +
                                    (capture / "out").string() + " 2>" + (capture / "err").string()).c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readText(capture / "out"), readText(capture / "err")};
}

// Every '@' of the text replaced by the folder.
std::string expand(std::string text, const fs::path& folder) {
    for (size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, folder.string());
    return text;
}

// The documents the cases name ("@/..."); the good ones hold "Hello".
Bytes bodyOf(const std::vector<std::string>& lines) {
    Bytes body;
    for (const std::string& line : lines) body = concat({body, bytes(line), crlf()});
    return concat({body, endOfText()});
}

Bytes formatOf(const std::string& title = "T", uint16_t flagWord = 0) {
    return makePropertyBlock({.flagWord = flagWord, .title = title});
}

void writeCaseDocuments(const fs::path& d) {
    const Bytes hello = bodyOf({"Hello"}), hidden = bodyOf({"Hidden"});
    const auto combined = [&](const std::string& name, const Bytes& body, const Bytes& format) {
        writeFile(d / name, makeCombinedDocument(format, body, {3}));
    };
    combined("doc.oas", hello, formatOf());
    combined("blank.oas", bodyOf({""}), formatOf());
    combined("secret.oas", hidden, formatOf("T", 0x0008));
    combined("combined.DOC", hello, formatOf());
    writeSeparated(d / "blank", bodyOf({"", ""}), formatOf());
    writeSeparated(d / "secret", hidden, formatOf("T", 0x0008));
    writeCompoundDocument(d / "secret.ole", formatOf("T", 0x0018), hidden);
    writeFile(d / "notes.txt", bytes("plain text\n"));
    writeFile(d / "broken.oas", bytes("\xF1\x10\x80\x00\xF7\x7E\x80\x00\x12\x34"sv));
    writeFile(d / "lone.DOC", hello);
    writeSeparated(d / "a", hello, formatOf());
    writeCompoundDocument(d / "c.ole", formatOf(), hello);
    writeCompound(d / "nofmt.ole", {{"OasysStreamFileList", makeStreamList({{"DOC1.FMT", "2"}, {"DOC1.DOC", "1"}})}, {"DOC1.DOC", hello}});
    // Damage: a separated body without its end mark, a compound file cut short.
    writeSeparated(d / "cut", concat({bytes("Hello"), crlf(), bytes("World"), crlf()}), formatOf());
    const Bytes compound = readFile(d / "c.ole");
    writeFile(d / "cut.ole", Bytes(compound.begin(), compound.end() - 512)); // its last sector missing
    // An empty body, a long document, two documents in a folder.
    writeSeparated(d / "empty", {}, formatOf());
    std::string longText;
    for (int i = 0; i < 30000; ++i) longText += "Line " + std::to_string(i) + " of a long document, with words\r\n";
    writeSeparated(d / "long", concat({bytes(longText), endOfText()}), formatOf());
    fs::create_directories(d / "two");
    for (const char* name : {"x.oas", "y.oas"}) writeFile(d / "two" / name, makeCombinedDocument(formatOf(), hello));
    // Properties: a stored date of the 1900s; quotes and line breaks.
    writeSeparated(d / "d80", hello, makePropertyBlock({.title = "say \"hi\"", .comments = "line one\r\nline two",
                                                        .created = {0x80, 0x01, 0x01, 0x00, 0x00}}));
}

// What a file of the case folder holds afterwards: "name=content", "name~part of its content",
// "name!" (absent), "name->target" (a link), "name#" (unchanged).
using FileStates = std::vector<std::string>;

// A case: shell commands run in the case folder first, then a shell line ('@': the case folder), its exit status,
// a part of standard error ("": nothing there), file states, a part of standard output, a text never on standard
// error, another part of standard error.
struct Case {
    const char *name, *setup, *command;
    int status;
    const char* err;
    FileStates files = {};
    const char *out = nullptr, *notErr = nullptr, *alsoErr = nullptr;
    friend void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
};

const Case kCases[] = {
    {"the samples give their expected text and properties", "",
     "for s in separated.DOC combined.oas compound.oas; do d=$E/sample_$s; x=$X/sample_${s%.*}; oasys2txt $d @/t && "
     "cmp @/t $x.txt && oasys2txt $d | cmp - $X/sample_combined.txt && oasysinfo $d | cmp - $x.info && "
     "oasysinfo --json $d | sed \"s|$E|EXAMPLES|\" | cmp - $x.json || exit 1; done", 0, ""},
    {"success", "", "oasys2txt @/doc.oas @/out.txt", 0, "", {"out.txt=Hello\r\n"}},
    {"libgsf is loaded for a compound document only", "",
     "for d in a.DOC doc.oas c.ole; do LD_DEBUG=files oasys2txt @/$d @/$d.txt 2>&1 | grep -q 'file=libgsf' && echo $d loads "
     "libgsf || echo $d not; done", 0, "", {"c.ole.txt=Hello\r\n"}, "a.DOC not\ndoc.oas not\nc.ole loads libgsf\n"},
    {"a libgsf that cannot be loaded fails compound documents only", "mkdir lib; : > lib/" KRM_GSF_SONAME,
     "LD_LIBRARY_PATH=@/lib oasys2txt -o @/o @/a.DOC @/c.ole", 5,
     "c.ole': it has the compound-file signature but cannot be opened as a compound file: Can not access a needed shared",
     {"o/a.DOC.txt=Hello\r\n", "o/c.ole.txt!"}},
    {"a document in the root folder", "# as root\ncp a.DOC /$(basename $PWD).DOC; cp a.FMT /$(basename $PWD).FMT",
     "oasys2txt /$(basename @).DOC @/out.txt; s=$?; rm /$(basename @).DOC /$(basename @).FMT; exit $s", 0, "", {"out.txt=Hello\r\n"}},
    {"separated named by .FMT", "", "oasys2txt @/a.FMT @/out.txt", 0, "", {"out.txt=Hello\r\n"}},
    {"separated named by .grp in lower case", "mv a.DOC b.doc; mv a.FMT b.fmt; : > b.grp", "oasys2txt @/b.grp @/out.txt", 0, "",
     {"out.txt=Hello\r\n"}},
    {"the charsets listed, each once", "", "oasys2txt -listenc > @/l && grep -x Shift_JIS @/l && sort @/l | uniq -d > @/twice",
     0, "", {"twice="}, "Shift_JIS"},
    {"a stem holding .FMT names its own members", "cp a.DOC n.FMT.v2.DOC; cp a.FMT n.FMT.v2.FMT",
     "oasys2txt @/n.FMT.v2.DOC @/out.txt", 0, "", {"out.txt=Hello\r\n"}},
    {"members in other cases than the name given", "mv a.FMT a.fMt; : > a.Grp", "oasys2txt @/a.Grp @/out.txt", 0, "",
     {"out.txt=Hello\r\n"}},
    {"a compound document without its format stream", "", "oasysinfo @/nofmt.ole", 5, "format stream is missing"},
    {"the member named is the member read", "cp blank.DOC a.doc", "oasys2txt @/a.doc @/out.txt", 2, "no visible text"},
    {"a format file alone has no text", "cp a.FMT alone.FMT", "oasys2txt @/alone.FMT @/out.txt", 6, "alone.DOC", {"out.txt!"}},
    // Detection of the packaging, by name for separated documents, else by the bytes.
    {"separated by name, combined and compound by their bytes", "", "oasys2txt -o @/o --report @/r @/a.DOC @/combined.DOC @/c.ole",
     0, "3 documents: 3 ok", {"o/c.ole.txt=Hello\r\n", "r~a.DOC\",\"packaging\":\"separated\"", "r~combined.DOC\",\"packaging\":\"combined\"",
     "r~c.ole\",\"packaging\":\"compound\""}},
    {"no visible text", "", "oasys2txt @/blank.DOC @/out.txt", 2, "no visible text", {"out.txt!"}},
    {"password", "", "oasys2txt @/secret.DOC @/out.txt", 3, "password-protected", {"out.txt!"}},
    {"not OASYS", "", "oasys2txt @/notes.txt @/out.txt", 4, "not an OASYS document", {"out.txt!"}},
    {"broken combined document", "", "oasys2txt @/broken.oas @/out.txt", 5, "broken", {"out.txt!"}},
    {"missing document", "", "oasys2txt @/missing.DOC @/out.txt", 6,
     "'@/missing.DOC': cannot open @/missing.DOC: No such file or directory"},
    {"separated document without its format file", "", "oasys2txt @/lone.DOC @/out.txt", 6, "format file lone.FMT is missing"},
    {"unknown option", "", "oasys2txt --frobnicate x.DOC @/out.txt", 64, "unknown option --frobnicate"},
    {"a bad -j", "", "oasys2txt -j 0 -o @/o @/doc.oas", 64, "-j needs a number from 1 to 1024, not 0", {"o!"}},
    {"several documents without -o", "", "oasys2txt @/doc.oas @/a.DOC @/c.ole", 64, "several documents need -o DIR"},
    {"help", "", "oasys2txt --help && oasysinfo --help >/dev/null", 0, "", {}, "Usage: oasys2txt [options] <document>"},
    // A failed document leaves whatever was at the output path as it was.
    {"a device takes the text and stays", "mknod null c 1 3", "oasys2txt --report @/report @/doc.oas @/null && test -c @/null",
     0, "", {"report~\"bytes\":7,"}},
    {"a success replaces a dangling link", "ln -s gone out.txt", "oasys2txt @/doc.oas @/out.txt", 0, "",
     {"out.txt=Hello\r\n", "gone!"}},
    {"a failure keeps an existing file, and no temporary file", "echo kept > out.txt",
     "oasys2txt @/secret.DOC @/out.txt; s=$?; ls -A @ | grep '^[.]oasys-' && exit 99; exit $s", 3, "password",
     {"out.txt=kept\n"}},
    // Long documents need no loop guard; the guard, when asked for, names itself.
    {"a long document with the loop guard", "", "oasys2txt --loop-guard @/long.DOC @/out.txt", 5, "--loop-guard"},
    {"a full device is a write error", "", "oasys2txt @/doc.oas /dev/full", 7,
     "writing to /dev/full failed: No space left on device"},
    // Damage: the text before it is kept, unless --strict.
    {"damaged document to a file", "", "oasys2txt @/cut.DOC @/out.txt", 5,
     "the text decoded before the damage was kept (14 bytes), ending after line 2", {"out.txt=Hello\r\nWorld\r\n"}},
    {"damaged document, strict", "", "oasys2txt --strict @/cut.DOC @/out.txt", 5, "broken", {"out.txt!"}, nullptr, "kept"},
    {"a truncated compound file has its report line", "mkdir in; cp cut.ole doc.oas in/",
     "oasys2txt -o @/out --report @/report @/in", 5, "2 documents: 1 ok, 1 broken",
     {"report~cut.ole\",\"packaging\":\"compound\",\"code\":null,\"outcome\":\"broken\",\"reason\":\"it has the compound"}, nullptr, "libgsf"},
    // Reports, and names that are no UTF-8.
    {"a name that is no UTF-8 in the report", "mkdir in; cp doc.oas \"in/$(printf '\\223\\372')\"",
     "oasys2txt -o @/out --report @/report @/in", 0, "1 document: 1 ok",
     {"report~\"path\":\"@/in/\xEF\xBF\xBD\xEF\xBF\xBD\",\"path_hex\":\""}},
    {"an empty body beside its format file", "", "oasys2txt @/empty.DOC @/out.txt", 0, "", {"out.txt="}},
    // Inputs are never harmed and only regular files are read.
    {"the output is the document", "", "oasys2txt @/doc.oas @/doc.oas", 7, "would replace an input", {"doc.oas#"}},
    {"the output folder is an input", "", "oasys2txt -o @ @", 64, "lies in the output folder", {"doc.oas#"}},
    {"a link beside another argument leads into the output folder", "mkdir out; cp doc.oas out/; ln -s out/doc.oas link.oas",
     "oasys2txt -o @/out @/doc.oas @/link.oas", 64, "link.oas' lies in the output folder"},
    {"named members in another case are inputs", "mv a.FMT a.fmt; mkdir o; ln a.fmt o/a.DOC.txt",
     "oasys2txt -o @/o @/blank.DOC @/a.DOC", 7, "a.DOC.txt would replace an input", {"a.fmt#"}},
    {"a pipe named as a document", "mkfifo fifo.oas", "oasys2txt @/fifo.oas @/out.txt", 6, "is not a regular file",
     {"out.txt!"}},
    {"a combined document from standard input", "", "oasys2txt - < @/doc.oas", 0, "", {}, "Hello\r\n"},
    {"standard input whose first bytes come in pieces", "",
     "{ head -c 3 @/doc.oas; sleep 0.3; tail -c +4 @/doc.oas; } | oasys2txt -", 0, "", {}, "Hello\r\n"},
    {"a separated body from standard input", "", "oasys2txt - < @/a.DOC", 4, "'standard input': not an OASYS document"},
    {"endless standard input that is no document", "", "cat /dev/zero | TMPDIR=@/tmp oasys2txt - @/z.txt", 4,
     "not an OASYS document", {"z.txt!"}},
    {"standard input interrupted", "",
     "sleep 1 | { exec 3<&0; TMPDIR=@/tmp oasys2txt - @/z.txt <&3 & p=$!; sleep 0.3; kill -TERM $p; wait $p; }", 143,
     "interrupted while reading standard input", {"z.txt!"}},
    {"standard input past its bound", "",
     "{ cat @/doc.oas; head -c 100000 /dev/zero; } | oasys2txt --stdin-limit 1000 - @/z.txt", 6,
     "--stdin-limit raises the bound", {"z.txt!"}},
    // Names quoted and cut; oasysinfo; batches.
    {"the log of one document", "", "oasys2txt --log @/logs @/doc.oas @/out.txt", 0, "",
     {"logs/doc.oas.ve2.log~GetText() end successfully\r\n"}},
    {"a name with a line break is quoted, in causes too", "mkdir in; cp lone.DOC \"in/x$(printf '\\nz').DOC\"",
     "oasys2txt -o @/out @/in", 6, "/in/x\\nz.DOC': its format file x\\nz.FMT is missing", {}, nullptr, "x\nz"},
    {"a name of 255 bytes gets a text file name cut and marked", "mkdir in; cp doc.oas in/$(printf 'n%.0s' $(seq 251)).oas",
     "oasys2txt -o @/out @/in && ls @/out > @/names", 0, "1 document: 1 ok", {"names~~"}},
    {"oasysinfo password flags", "", "oasysinfo @/secret.DOC @/secret.oas @/secret.ole", 0, "", {},
     "Password protected: yes\n\nTitle:              T\nDocument type:      OASYS2結合文書\nPackaging:          "
     "combined\nPassword protected: yes\n\n"},
    {"oasysinfo ISO dates of the 1900s", "", "oasysinfo -isodates @/d80.DOC", 0, "", {},
     "Created:            1980-01-01T00:00\n"},
    {"oasysinfo json escapes", "", "oasysinfo --json @/d80.FMT", 0, "", {},
     R"("title":"say \"hi\"","author":"","keywords":"","category":"","comments":"line one\r\nline two",)"},
    {"two workers write what one writes",
     "mkdir -p in/part1; for i in $(seq 20); do cp doc.oas in/d$i.oas; cp c.ole in/part1/e$i.ole; cp a.DOC in/f$i.DOC; "
     "cp a.FMT in/f$i.FMT; done; cp secret.* blank.oas notes.txt in/part1",
     "oasys2txt -r -j 1 -o @/o1 --report @/r1 @/in; s=$?; oasys2txt -r -j 2 -o @/o2 --report @/r2 @/in; [ $? = $s ] && "
     "diff -r @/o1 @/o2 && sed 's/\"ms\":[0-9]*//' @/r1 > @/s1 && sed 's/\"ms\":[0-9]*//' @/r2 | cmp - @/s1 && exit $s",
     3, "64 documents: 60 ok, 1 no-text, 3 password\n", {"o1/part1/e7.ole.txt=Hello\r\n", "o1/part1/secret.DOC.txt!",
     "r1~\"code\":3001,\"outcome\":\"password\",\"reason\":\"the document is password-protected\",\"bytes\":0,",
     "r1~/in/part1/e7.ole\",\"packaging\":\"compound\",\"code\":0,\"outcome\":\"ok\",\"reason\":null,\"bytes\":7,"},
     nullptr, "\r"},
    {"each text in its own subfolder, however the folders alternate",
     "mkdir -p in/a in/b/c; cp doc.oas in/a/x.oas; cp doc.oas in/b/c/z.oas; cp doc.oas in/b/y.oas; cp doc.oas in/w.oas; "
     "cp doc.oas in/b/c/v.oas",
     "oasys2txt -r -j 1 -o @/o @/in", 0, "5 documents: 5 ok",
     {"o/a/x.oas.txt=Hello\r\n", "o/b/c/v.oas.txt=Hello\r\n", "o/b/c/z.oas.txt=Hello\r\n", "o/b/y.oas.txt=Hello\r\n",
      "o/w.oas.txt=Hello\r\n", "o/a/z.oas.txt!", "o/b/c/y.oas.txt!", "o/b/w.oas.txt!"}},
    {"the worst outcome wins whatever the order", "", "oasys2txt -o @/out @/doc.oas @/gone.oas @/secret.DOC", 6,
     "gone.oas': cannot open", {"out/doc.oas.txt=Hello\r\n"}},
    {"a progress bar on a terminal", "", "script -qec 'oasys2txt -r -j 2 -o @/out @/two' /dev/null", 0, "", {}, "] 2/2"},
    {"an interrupted batch finishes what runs and leaves no temporary file",
     "mkdir in out; oasys2txt long.DOC long.txt; for i in $(seq 300); do ln long.DOC in/d$i.DOC; ln long.FMT in/d$i.FMT; done",
     "oasys2txt -j 2 -o @/out --report @/report @/in & p=$!; n=0; while [ $(ls @/out | wc -l) -lt 3 ] && [ $n -lt 2000 ]; "
     "do sleep 0.01; n=$((n+1)); done; kill -TERM $p; wait $p; s=$?; ls -A @/out | grep -v '[.]txt$' && exit 99; for f in "
     "@/out/*; do cmp -s $f @/long.txt || exit 98; done; [ $(ls @/out | wc -l) = $(wc -l < @/report) ] || exit 97; exit $s",
     143, " not started"},
    {"a killed batch leaves whole texts and nothing else",
     "mkdir in out; oasys2txt long.DOC long.txt; for i in $(seq 300); do ln long.DOC in/d$i.DOC; ln long.FMT in/d$i.FMT; done",
     "oasys2txt -j 2 -o @/out @/in & p=$!; n=0; while [ $(ls @/out | wc -l) -lt 3 ] && [ $n -lt 2000 ]; do sleep 0.01; "
     "n=$((n+1)); done; kill -KILL $p; { wait $p; } 2>/dev/null; ls -A @/out | grep -v '[.]txt$' && exit 99; for f in @/out/*; do "
     "cmp -s $f @/long.txt || exit 98; done; exit 0", 0, ""},
    // Trees an attacker or an unlucky user prepared.
    {"a batch changes nothing outside its output folder whatever links are planted",
     "mkdir -p victims elsewhere in/sub in/out logs; echo one > victims/v1; echo two > victims/v2; cp doc.oas in/a.oas; "
     "cp broken.oas in/b.oas; cp c.ole in/sub/; cp a.DOC a.FMT in/; ln -s $PWD/victims/v1 in/out/a.oas.txt; ln -s "
     "$PWD/victims/v2 in/out/b.oas.txt; ln -s $PWD/elsewhere in/out/sub; ln -s $PWD/victims/v1 logs/a.oas.ve2.log; "
     "ln -s $PWD/elsewhere logs/sub; ln -s $PWD/elsewhere in/away; ln -s /dev/zero in/zero.oas; mkfifo in/fifo.oas",
     "oasys2txt -r -j 2 -o @/in/out --log @/logs --report @/in/out/report @/in", 7,
     "4 documents: 2 ok, 1 broken, 1 output-error", {"victims/v1=one\n", "victims/v2=two\n", "elsewhere/c.ole.txt!",
     "elsewhere/c.ole.ve2.log!", "in/out/a.oas.txt=Hello\r\n", "in/out/b.oas.txt->@/victims/v2", "in/out/a.DOC.txt=Hello\r\n",
     "logs/a.oas.ve2.log~GetText() end successfully"}, nullptr, nullptr, "/out/sub is a symbolic link; it is not followed"},
    {"a file system that tells no entry's kind is walked the same",
     "mkdir -p in/sub elsewhere; cp doc.oas in/a.oas; cp a.DOC a.FMT in/; cp c.ole in/sub/; cp doc.oas elsewhere/; "
     "ln -s a.oas in/link.oas; ln -s $PWD/elsewhere in/away; ln -s gone in/gone.oas; mkfifo in/fifo.oas",
     "oasys2txt -r -o @/o1 --report @/r1 @/in && KRM_UNKNOWN_KINDS_MARK=@/mark LD_PRELOAD=" UNKNOWN_ENTRY_KINDS
     " ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0 oasys2txt -r -o @/o2 --report @/r2 @/in && "
     "diff -r @/o1 @/o2 && sed 's/\"ms\":[0-9]*//' @/r1 > @/s1 && sed 's/\"ms\":[0-9]*//' @/r2 | cmp - @/s1",
     0, "4 documents: 4 ok", {"mark=used", "o2/link.oas.txt=Hello\r\n", "o2/sub/c.ole.txt=Hello\r\n", "o2/away!"}},
    {"unreadable folders and files have their report lines",
     "mkdir -p in/locked out; cp doc.oas in/ok.oas; cp doc.oas in/secret.oas; cp doc.oas in/locked/x.oas; "
     "chmod 700 in/locked; chmod 600 in/secret.oas; chown 65534 out; chmod 755 .",
     "setpriv --reuid=65534 --regid=65534 --clear-groups oasys2txt -r -o @/out --report @/out/report @/in", 6,
     "locked': the folder cannot be read: Permission denied",
     {"out/report~secret.oas\",\"packaging\":null,\"code\":null,\"outcome\":\"unreadable\""}, nullptr, nullptr,
     "3 documents: 1 ok, 2 unreadable"},
    {"a folder named that cannot be read has its report line", "mkdir locked out; chmod 700 locked; chown 65534 out; chmod 755 .",
     "setpriv --reuid=65534 --regid=65534 --clear-groups oasys2txt -o @/out @/locked", 6,
     "locked': the folder cannot be read: Permission denied", {}, nullptr, nullptr, "1 document: 1 unreadable"},
    {"paths too long for the system have their report lines",
     "mkdir in; cp doc.oas in/top.oas; src=$PWD/doc.oas; d=$(printf 'd%.0s' $(seq 250)); p=$d/$d/$d/$d/$d/$d/$d/$d/$d/$d; "
     "mkdir -p in/$p; cd in/$p; mkdir -p $p; cp $src $p/deep.oas",
     "oasys2txt -r -o @/out --report @/report @/in; s=$?; rm -rf @/in @/out; exit $s", 6, "2 documents: 1 ok, 1 unreadable",
     {"report~\"outcome\":\"unreadable\",\"reason\":"}, nullptr, nullptr, "File name too long"},
    {"a closed pipe ends the tool quietly", "",
     "{ TMPDIR=@/tmp oasys2txt --log @/logs @/long.DOC; echo $? > @/status; } | head -c 1 > /dev/null", 0, "",
     {"status=141\n"}},
};

// A file's state as the FileStates spell it, "(missing)" when it does not exist (so that "name="
// asks for an empty file, not for no file).
std::string stateOf(const fs::path& file, char kind) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(file, error);
    if (error || !fs::exists(status)) return "(missing)";
    if (kind == '>') return fs::is_symlink(status) ? fs::read_symlink(file).string() : "(no link)";
    return fs::is_regular_file(status) ? readText(file) : "(no regular file)";
}

void expectFileState(const fs::path& folder, const std::string& expected,
                     const std::map<std::string, std::string>& before) {
    const size_t at = expected.find_first_of("=~!#-");
    const std::string name = expected.substr(0, at);
    const std::string rest = expand(expected.substr(at + 1), folder);
    const fs::path file = folder / name;
    switch (expected[at]) {
    case '=': EXPECT_EQ(stateOf(file, '='), rest) << name; break;
    case '~': EXPECT_NE(stateOf(file, '=').find(rest), std::string::npos) << name << ": " << stateOf(file, '='); break;
    case '!': EXPECT_FALSE(fs::exists(fs::symlink_status(file))) << name; break;
    case '#': EXPECT_EQ(stateOf(file, '='), before.at(name)) << name << " changed"; break;
    case '-': EXPECT_EQ(stateOf(file, '>'), rest.substr(1)) << name; break;
    }
}

class Cases : public HostCheckedTest, public ::testing::WithParamInterface<Case> {
protected:
    TempDir dir;
};

TEST_P(Cases, StatusMessagesAndFiles) {
    const Case& c = GetParam();
    const std::string_view setup = c.setup;
    if ((setup.starts_with("# as root") || setup.find("mknod") != setup.npos) && geteuid() != 0)
        GTEST_SKIP() << "needs root";
    const std::string asNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    if (std::string_view(c.command).starts_with(asNobody) && runShell(asNobody + "oasys2txt --version").status != 0)
        GTEST_SKIP() << "needs root, setpriv and a build an unprivileged user may run";
    writeCaseDocuments(dir.path());
    fs::create_directories(dir / "tmp");
    ASSERT_EQ(runShell("cd '" + dir.path().string() + "' || exit 1\n" + c.setup).status, 0);
    std::map<std::string, std::string> before;
    for (const std::string& expected : c.files)
        if (const std::string name = expected.substr(0, expected.size() - 1); expected.back() == '#') before[name] = readText(dir / name);
    const ToolRun run = runShell(expand(c.command, dir.path()));
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_TRUE(*c.err ? run.err.find(expand(c.err, dir.path())) != std::string::npos : run.err.empty()) << run.err;
    EXPECT_TRUE(!c.notErr || run.err.find(c.notErr) == std::string::npos) << run.err;
    EXPECT_TRUE(!c.alsoErr || run.err.find(c.alsoErr) != std::string::npos) << run.err;
    EXPECT_TRUE(!c.out || run.out.find(expand(c.out, dir.path())) != std::string::npos) << run.out;
    for (const std::string& expected : c.files) expectFileState(dir.path(), expected, before);
    EXPECT_TRUE(fs::is_empty(dir / "tmp")) << "nothing is left in the temporary folder";
}

INSTANTIATE_TEST_SUITE_P(Cases, Cases, ::testing::ValuesIn(kCases), [](const auto& info) {
    std::string name = info.param.name;
    for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
});

} // namespace
