// UTF-8 output of Shift-JIS based text goes straight into the caller's room: the bytes after the
// result stay as the caller left them, whatever codes end the line and however long it is.
#include <cstring>
#include <vector>

#include "filter_harness.h"

namespace {

using namespace oasys_test;

class Utf8Room : public HostCheckedTest {};

TEST_F(Utf8Room, BytesPastTheResultStayUntouched) {
    constexpr uint8_t kGuard = 0xA5;
    // One code of each output length (1, 2 and 3 bytes) and of each way a code can end a text.
    const std::string codes[] = {"a", "\r\n", "\xB1", "\x82\xA0", "\x93\xFA", "\x81", "\xA0\x40", "\xFD", "\x81\x20"};
    HostOptions options = makeOptions("UTF-8");
    SrcInfo srcInfo{};
    std::strcpy(srcInfo.sourceCharset, KRM_CHARSET_OASYS_WIN);
    CallContext context{};
    for (const std::string& body : codes) {
        for (const std::string& last : codes) {
            for (size_t repeat = 0; repeat < 6; ++repeat) {
                std::string line;
                for (size_t i = 0; i < repeat; ++i) line += body;
                line += last;
                SCOPED_TRACE(::testing::PrintToString(line));
                std::vector<uint8_t> room(KRM_CONV_DEST_CAPACITY, kGuard);
                uint32_t length = 0;
                ASSERT_EQ(CodeConvert(&srcInfo, &options, reinterpret_cast<const uint8_t*>(line.data()), room.data(),
                                      static_cast<int32_t>(line.size()), &length, 0, &context),
                          1u);
                for (size_t i = length; i < room.size(); ++i) ASSERT_EQ(room[i], kGuard) << "written at " << i;
            }
        }
    }
}

} // namespace
