// Shared pieces of the property tests: a fixture with a heap record of the exact host size (so
// that the address sanitizer sees any write past its end), slot readers, and the texts the tests
// expect in Shift-JIS and UTF-8.
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "oasys_writer.h"
#include "test_util.h"

namespace oasys_test {

// Every slot the filter writes, by offset.
inline constexpr uint32_t kAllSlots[] = {KRM_PROP_TITLE,    KRM_PROP_AUTHOR,        KRM_PROP_KEYWORDS,
                                         KRM_PROP_CATEGORY, KRM_PROP_COMMENTS,      KRM_PROP_MODIFIED,
                                         KRM_PROP_DOCUMENT_TYPE, KRM_PROP_CREATED,  KRM_PROP_LAST_AUTHOR};

inline std::string fromUtf8(std::u8string_view text) { return {reinterpret_cast<const char*>(text.data()), text.size()}; }

// Document-type texts as the format stores them and as UTF-8.
inline const std::string kSjisSeparated = "OASYS2\x95\xB6\x8F\x91";
inline const std::string kSjisCombined = "OASYS2\x8C\x8B\x8D\x87\x95\xB6\x8F\x91";
inline const std::string kSjisCompound = "OASYS2\x95\xA1\x8D\x87\x95\xB6\x8F\x91";
inline const std::string kUtf8Separated = fromUtf8(u8"OASYS2文書");
inline const std::string kUtf8Combined = fromUtf8(u8"OASYS2結合文書");
inline const std::string kUtf8Compound = fromUtf8(u8"OASYS2複合文書");

// A format block with every property set (ASCII texts, so that any output charset shows them
// plainly), dates 98-12-31 23:59 (created) and 01-02-03 04:05 (modified).
inline PropertyFields fullFields() {
    PropertyFields f;
    f.title = "Quarterly report";
    f.author = "Yamada";
    f.comments = "Figures for the third quarter";
    f.category = "Finance";
    f.lastAuthor = "Suzuki";
    f.keywords[0] = "sales";
    f.keywords[1] = "2024";
    f.created = {0x98, 0x12, 0x31, 0x23, 0x59};
    f.modified = {0x01, 0x02, 0x03, 0x04, 0x05};
    return f;
}
inline const std::string kCreatedUtf8 = fromUtf8(u8"98年12月31日23時59分");
inline const std::string kModifiedUtf8 = fromUtf8(u8"01年02月03日04時05分");

class PropertyTest : public HostCheckedTest {
protected:
    void SetUp() override {
        HostCheckedTest::SetUp();
        std::memset(record->bytes, 0xEE, sizeof record->bytes); // the variants must clear it
        std::strcpy(srcInfo.sourceCharset, KRM_CHARSET_WINDOWS31J);
    }

    // Text of a slot up to its NUL (byte-oriented output charsets).
    std::string slot(uint32_t offset) const {
        const auto* start = reinterpret_cast<const char*>(record->bytes + offset);
        return {start, strnlen(start, KRM_PROPERTY_RECORD_SIZE - offset)};
    }
    std::string slotBytes(uint32_t offset, size_t count) const {
        return {reinterpret_cast<const char*>(record->bytes + offset), count};
    }
    // The slots that hold a text, by offset.
    std::vector<uint32_t> filledSlots() const {
        std::vector<uint32_t> filled;
        for (uint32_t s : kAllSlots) {
            if (!slot(s).empty()) filled.push_back(s);
        }
        return filled;
    }
    // Non-zero bytes of the record that lie outside the texts of the slots (byte-oriented output
    // charsets only): the record was cleared and nothing but slot texts was written.
    size_t strayBytes() const {
        std::vector<bool> inText(KRM_PROPERTY_RECORD_SIZE, false);
        for (uint32_t s : kAllSlots) {
            for (size_t i = 0; i < slot(s).size(); ++i) inText[s + i] = true;
        }
        size_t stray = 0;
        for (size_t i = 0; i < KRM_PROPERTY_RECORD_SIZE; ++i) {
            if (!inText[i] && record->bytes[i] != 0) ++stray;
        }
        return stray;
    }

    TempDir dir;
    std::unique_ptr<PropertyRecord> record = std::make_unique<PropertyRecord>();
    HostOptions options = makeOptions("UTF-8");
    SrcInfo srcInfo{};
    CallContext context{};
};

// A plain file opened through the host, closed on scope exit.
class OpenFile {
public:
    explicit OpenFile(const std::filesystem::path& path) : handle_(KRM_FileOpen(path.c_str(), "rb")) {}
    ~OpenFile() {
        if (handle_ != 0) KRM_FileClose(handle_);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    uint32_t handle() const { return handle_; }

private:
    uint32_t handle_;
};

} // namespace oasys_test
