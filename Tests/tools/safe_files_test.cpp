// The output folders of a batch: a folder the run made is written without looking names up first,
// and a name taken there all the same is refused when the text is given its name, never replaced.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cctype>
#include <optional>

#include "oasys_writer.h"
#include "safe_files.h"

namespace {

using namespace oasys_test;
using oasys_tools::InputFiles;
using oasys_tools::OutputFolder;
using oasys_tools::PendingFile;
namespace fs = std::filesystem;

enum class Folder { MadeByTheRun, MadeBeneathByTheRun, AlreadyThere, AlreadyThereBeneath };
enum class Planted { Nothing, BeforeTheFileIsMade, WhileItIsWritten };

struct Case {
    const char* name;
    Folder folder;
    Planted planted;
    bool madeByThisRun;
    const char* cause; // nullptr: the text is committed under its name
    friend void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
};

const Case kCases[] = {
    {"made, nothing there", Folder::MadeByTheRun, Planted::Nothing, true, nullptr},
    {"made, a file put there before", Folder::MadeByTheRun, Planted::BeforeTheFileIsMade, true, "appeared while its text"},
    {"made, a file put there meanwhile", Folder::MadeByTheRun, Planted::WhileItIsWritten, true, "appeared while its text"},
    {"made beneath, a file put there before", Folder::MadeBeneathByTheRun, Planted::BeforeTheFileIsMade, true,
     "appeared while its text"},
    {"already there, nothing there", Folder::AlreadyThere, Planted::Nothing, false, nullptr},
    {"already there, an old file is replaced", Folder::AlreadyThere, Planted::BeforeTheFileIsMade, false, nullptr},
    {"already there, a file put there meanwhile", Folder::AlreadyThere, Planted::WhileItIsWritten, false,
     "appeared while its text"},
    {"already there beneath, an old file is replaced", Folder::AlreadyThereBeneath, Planted::BeforeTheFileIsMade, false,
     nullptr},
};

class OutputFolders : public testing::TestWithParam<Case> {};

TEST_P(OutputFolders, ANameTakenInAFolderTheRunMadeIsRefusedNotReplaced) {
    const Case& c = GetParam();
    TempDir dir;
    const fs::path root = dir / "out";
    if (c.folder == Folder::AlreadyThere || c.folder == Folder::AlreadyThereBeneath) fs::create_directories(root / "sub");
    std::string cause;
    std::optional<OutputFolder> folder = OutputFolder::open(root, true, cause);
    ASSERT_TRUE(folder) << cause;
    if (c.folder == Folder::MadeBeneathByTheRun || c.folder == Folder::AlreadyThereBeneath) {
        folder = folder->beneath("sub", cause);
        ASSERT_TRUE(folder) << cause;
    }
    EXPECT_EQ(folder->madeByThisRun(), c.madeByThisRun);
    const fs::path text = folder->path() / "doc.txt";
    if (c.planted == Planted::BeforeTheFileIsMade) writeFile(text, bytes("old"));

    InputFiles inputs;
    inputs.complete();
    PendingFile pending;
    ASSERT_TRUE(pending.create(*folder, "doc.txt", inputs, cause)) << cause;
    if (c.planted == Planted::WhileItIsWritten) writeFile(text, bytes("old"));
    ASSERT_EQ(::write(pending.fd(), "new", 3), 3);
    const bool committed = pending.commit(cause);

    EXPECT_EQ(committed, c.cause == nullptr) << cause;
    if (c.cause != nullptr) {
        EXPECT_NE(cause.find(c.cause), std::string::npos) << cause;
    }
    EXPECT_EQ(readText(text), committed ? "new" : "old"); // every refusal is of a planted file
    for (const auto& entry : fs::directory_iterator(folder->path()))
        EXPECT_NE(entry.path().filename().string().rfind(".oasys-", 0), 0u) << "a temporary file left behind";
}

INSTANTIATE_TEST_SUITE_P(Cases, OutputFolders, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) {
                             std::string name = info.param.name;
                             for (char& ch : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             }
                             return name;
                         });

// A folder counts as made by the run for every folder opened from the same opened root: made by
// this open or beneath it for an earlier document, at any depth; a folder that was there before,
// or that another open of the root made, does not.
TEST(OutputFolders, AFolderMadeBeneathARootIsKnownAsMadeToIt) {
    TempDir dir;
    std::string cause;
    fs::create_directories(dir / "out" / "old");
    const std::optional<OutputFolder> root = OutputFolder::open(dir / "out", true, cause);
    const std::optional<OutputFolder> fresh = OutputFolder::open(dir / "new", true, cause);
    const std::optional<OutputFolder> other = OutputFolder::open(dir / "out", true, cause);
    ASSERT_TRUE(root && fresh && other) << cause;
    EXPECT_FALSE(root->madeByThisRun());
    EXPECT_TRUE(fresh->madeByThisRun());
    EXPECT_TRUE(fresh->beneath("", cause)->madeByThisRun()); // the folder itself
    const struct { const OutputFolder& from; const char* relative; bool made; } cases[] = {
        {*root, "old", false},   {*root, "a/b", true},  {*root, "a/b", true}, {*root, "a", true},
        {*other, "a/b", false},  {*other, "a", false},  {*root, "./a/./b", true}, {*other, "c", true},
        {*root, "c", false},
    };
    for (const auto& c : cases) {
        const std::optional<OutputFolder> folder = c.from.beneath(c.relative, cause);
        ASSERT_TRUE(folder) << c.relative << ": " << cause;
        EXPECT_EQ(folder->madeByThisRun(), c.made) << c.relative << (&c.from == &*root ? " from the root" : " from the other");
    }
    EXPECT_FALSE(OutputFolder::parentOf(dir / "new" / "x.txt", cause)->madeByThisRun());
}

} // namespace
