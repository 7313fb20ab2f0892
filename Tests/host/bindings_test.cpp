// Bound names: the filter's services open a bound descriptor's file by its name, afresh and from
// offset 0; under a live prefix only bound names open; a bound file is never removed by them; a
// released binding is gone.
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "host_test_support.h"
#include "krm_host_testing.h"

using namespace host_test;
using oasys_test::readFile;
using oasys_test::writeFile;

namespace {

class Bindings : public HostTest {
protected:
    void TearDown() override {
        EXPECT_EQ(KRMTest_LiveBindings(), 0);
        HostTest::TearDown();
    }
};

std::string readAll(uint32_t file, size_t room) {
    std::string text(room, '\0');
    text.resize(KRM_FileRead(text.data(), 1, static_cast<uint32_t>(room), file));
    return text;
}

TEST_F(Bindings, BoundNamesOpenTheirDescriptorsAndNothingElse) {
    writeFile(dir / "source", oasys_test::bytes("0123456789"));
    writeFile(dir / "output", oasys_test::bytes("old"));
    const int source = ::open((dir / "source").c_str(), O_RDONLY);
    const int output = ::open((dir / "output").c_str(), O_RDWR);
    ASSERT_EQ(::lseek(source, 4, SEEK_SET), 4); // the caller's offset is neither used nor moved

    char prefix[KRM_BINDING_PREFIX_MAX];
    const uint32_t binding = KRM_BindingCreate(prefix, sizeof prefix);
    ASSERT_NE(binding, 0u);
    ASSERT_EQ(KRM_BindingAddFd(binding, "doc.DOC", source), 0);
    ASSERT_EQ(KRM_BindingAddFd(binding, "out.txt", output), 0);
    EXPECT_NE(KRM_BindingAddFd(binding, "doc.DOC", output), 0); // a name is bound once
    EXPECT_NE(KRM_BindingAddFd(binding, "sub/name", output), 0);
    const std::string doc = std::string(prefix) + "doc.DOC", out = std::string(prefix) + "out.txt";

    const uint32_t read = KRM_FileOpen(doc.c_str(), "rb");
    ASSERT_NE(read, 0u);
    EXPECT_EQ(readAll(read, 64), "0123456789");
    EXPECT_EQ(KRM_FileClose(read), 0);
    EXPECT_EQ(::lseek(source, 0, SEEK_CUR), 4);
    EXPECT_EQ(KRM_FileOpen((std::string(prefix) + "doc.FMT").c_str(), "rb"), 0u);
    EXPECT_EQ(KRM_2OLEopen(doc.c_str()), 0u); // not a compound file

    const uint32_t write = KRM_FileOpen(out.c_str(), "wb");
    ASSERT_NE(write, 0u);
    EXPECT_EQ(KRM_FileRemoveIfSizeIsZero(out.c_str()), 1); // emptied by "wb", still not removed
    EXPECT_EQ(KRM_FileWrite("new", 1, 3, write), 3u);
    EXPECT_EQ(KRM_FileClose(write), 0);
    EXPECT_EQ(KRM_FileRemove(out.c_str()), 0);
    EXPECT_EQ(readFile(dir / "output"), oasys_test::bytes("new"));

    char name[KRM_PATH_MAX] = {};
    ASSERT_EQ(KRM_BindingSetLog(binding, (dir / "call.log").c_str()), 0);
    GetLogFileName(out.c_str(), "ve2", name);
    EXPECT_EQ(std::string(name), (dir / "call.log").string());

    KRM_BindingRelease(binding);
    EXPECT_NE(KRM_BindingAddFd(binding, "late", source), 0);
    EXPECT_EQ(KRM_FileOpen(doc.c_str(), "rb"), 0u);
    ::close(source);
    ::close(output);
}

} // namespace
