// Shared pieces of the property tests: a fixture with a heap record of the exact host size (so
// that the address sanitizer sees any write past its end), slot readers, and a format block with
// every property set.
#pragma once

#include <algorithm>
#include <cstring>
#include <map>
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

// A format block with every property set (ASCII texts, so that any output charset shows them
// plainly), dates 98-12-31 23:59 (created) and 01-02-03 04:05 (modified), and its slots in UTF-8.
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
using Slots = std::map<uint32_t, std::string>; // slot offset -> text; every other slot empty
inline Slots fullFieldSlots() {
    return {{KRM_PROP_TITLE, "Quarterly report"},
            {KRM_PROP_CREATED, fromUtf8(u8"98年12月31日23時59分")},
            {KRM_PROP_MODIFIED, fromUtf8(u8"01年02月03日04時05分")},
            {KRM_PROP_AUTHOR, "Yamada"},
            {KRM_PROP_COMMENTS, "Figures for the third quarter"},
            {KRM_PROP_CATEGORY, "Finance"},
            {KRM_PROP_KEYWORDS, "sales;2024;"},
            {KRM_PROP_LAST_AUTHOR, "Suzuki"}};
}

// The slots with some texts changed (an empty text empties the slot).
inline Slots with(Slots slots, const Slots& changes) {
    for (const auto& [s, text] : changes) {
        if (text.empty()) slots.erase(s);
        else slots[s] = text;
    }
    return slots;
}

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
    // Every slot holds the text given for it (empty when not given), and no byte of the record
    // outside those texts is set: the record was cleared and nothing else was written.
    void expectSlots(const Slots& expected) const {
        std::vector<bool> inText(KRM_PROPERTY_RECORD_SIZE, false);
        for (uint32_t s : kAllSlots) {
            const auto found = expected.find(s);
            EXPECT_EQ(slot(s), found == expected.end() ? "" : found->second) << "slot " << s;
            std::fill_n(inText.begin() + s, slot(s).size(), true);
        }
        size_t stray = 0;
        for (size_t i = 0; i < KRM_PROPERTY_RECORD_SIZE; ++i) stray += !inText[i] && record->bytes[i] != 0;
        EXPECT_EQ(stray, 0u) << "bytes outside the slot texts";
    }
    bool recordIsZero() const {
        return std::all_of(record->bytes, record->bytes + KRM_PROPERTY_RECORD_SIZE, [](uint8_t b) { return b == 0; });
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
