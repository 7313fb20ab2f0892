// make_documents <directory> <count> [<extra lines>]: an archive for the tests and benchmarks of bindings and
// batch runs. <count> good documents of the three packagings in turn, alternately at the top and in part1/, each
// of two lines and <extra lines> more; then the cases a batch must report without losing any (password, no visible
// text, a combined document cut short, a compound file that is none, a body without its format file, a Japanese
// name, a name that is no UTF-8, one too long for a suffix) and a file that is no document (no report line).
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>

#include "oasys_writer.h"

using namespace oasys_test;
namespace fs = std::filesystem;

namespace {

Bytes bodyOf(const std::string& first, const std::string& second, int extraLines = 0) {
    Bytes body = concat({bytes(first), crlf(), bytes(second), crlf()});
    const Bytes line = concat({bytes("\x93\xFA\x96\x7B and more text"), crlf()});
    for (int i = 0; i < extraLines; ++i) body.insert(body.end(), line.begin(), line.end());
    return concat({body, endOfText()});
}

Bytes formatOf(const std::string& title, uint16_t flagWord = 0) {
    return makePropertyBlock({.flagWord = flagWord, .title = title, .created = {0x98, 0x12, 0x31, 0x23, 0x59}});
}

void writeGood(const fs::path& root, int i, int extraLines) {
    char name[16];
    std::snprintf(name, sizeof name, "doc%03d", i);
    const fs::path folder = i % 2 ? root / "part1" : root;
    // "Document i", then 日本 and a line number: every text differs from its neighbours.
    const Bytes body =
        bodyOf("Document " + std::to_string(i), "\x93\xFA\x96\x7B line " + std::to_string(i % 7), extraLines);
    const Bytes format = formatOf(name);
    switch (i % 3) {
    case 0: writeSeparated(folder / name, body, format); break;
    case 1: writeFile(folder / (std::string(name) + ".oas"), makeCombinedDocument(format, body, {3})); break;
    default: writeCompoundDocument(folder / (std::string(name) + ".ole"), format, body); break;
    }
}

void writeSpecial(const fs::path& root) {
    const Bytes body = bodyOf("Special", "\x93\xFA\x96\x7B");
    writeSeparated(root / "part1" / "secret", bodyOf("Hidden", "text"), formatOf("secret", 0x0008));
    writeFile(root / "blank.oas", makeCombinedDocument(formatOf("blank"), concat({crlf(), endOfText()})));
    const Bytes whole = makeCombinedDocument(formatOf("cut"), concat({bytes("Kept line"), crlf(), body}), {4});
    writeFile(root / "cut.oas", Bytes(whole.begin(), whole.end() - 12));
    writeFile(root / "garbled.ole", concat({bytes("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"), Bytes(600, 0x5A)}));
    writeFile(root / "orphan.DOC", body);
    writeFile(root / "\xE6\x97\xA5\xE6\x9C\xAC.oas", makeCombinedDocument(formatOf("nihon"), body)); // 日本.oas
    writeFile(root / "latin1-\xE9.oas", makeCombinedDocument(formatOf("latin"), body)); // a name that is no UTF-8
    // A name so long that its text file's name is cut and marked with a hash.
    writeFile(root / (std::string(248, 'L') + ".oas"), makeCombinedDocument(formatOf("long"), body));
    writeFile(root / "readme.txt", bytes("not a document\n"));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: make_documents <directory> <count> [<extra lines>]\n");
        return 64;
    }
    try {
        const fs::path root = argv[1];
        fs::create_directories(root / "part1");
        const int count = std::atoi(argv[2]);
        const int extraLines = argc == 4 ? std::atoi(argv[3]) : 0;
        for (int i = 0; i < count; ++i) writeGood(root, i, extraLines);
        writeSpecial(root);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make_documents: %s\n", error.what());
        return 1;
    }
    return 0;
}
