// The format block decoder: which slot gets which field, and what a damaged block leaves behind.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "property_test_support.h"

namespace oasys_test {
namespace {

class KrmProperty : public PropertyTest {
protected:
    // Decodes the block placed after some leading bytes, as inside a combined file.
    uint32_t decodeBlock(const Bytes& block) {
        constexpr uint32_t kBlockStart = 37;
        writeFile(dir / "doc.FMT", concat({Bytes(kBlockStart, 0xF0), block}));
        std::memset(record->bytes, 0, sizeof record->bytes);
        OpenFile file(dir / "doc.FMT");
        return GetKRMProperty(file.handle(), kBlockStart, &srcInfo, &options, record.get(), 0, &context);
    }
};

TEST_F(KrmProperty, FillsTheSlotsOfTheBlock) {
    const Slots beforeMarker = {{KRM_PROP_TITLE, "Quarterly report"},
                                {KRM_PROP_CREATED, fullFieldSlots()[KRM_PROP_CREATED]},
                                {KRM_PROP_MODIFIED, fullFieldSlots()[KRM_PROP_MODIFIED]}};
    std::string tenFull, tenJoined;
    for (char c = 'a'; c < 'a' + 10; ++c) {
        tenFull += std::string(20, c);
        tenJoined += std::string(20, c) + ";";
    }
    const struct {
        const char* name;
        std::function<void(PropertyFields&)> change;
        std::vector<std::pair<size_t, std::string>> rawBytes; // placed after the fields, as they stand
        uint32_t result;
        Slots expected;
    } cases[] = {
        {"all fields", [](PropertyFields&) {}, {}, 1, fullFieldSlots()},
        {"skip byte set", [](PropertyFields& f) { f.skipByte = 1; }, {}, 1,
         with(fullFieldSlots(), {{KRM_PROP_TITLE, ""}})},
        {"marker 0", [](PropertyFields& f) { f.blockMarker = 0; }, {}, 0, beforeMarker},
        {"marker 3", [](PropertyFields& f) { f.blockMarker = 3; }, {}, 0, beforeMarker},
        // A title that fills its 50 bytes: taken whole, and not a byte of what follows the field.
        {"title without NUL", [](PropertyFields&) {}, {{11, std::string(50, 'T') + "ZZ"}}, 1,
         with(fullFieldSlots(), {{KRM_PROP_TITLE, std::string(50, 'T')}})},
        // 16 category bytes directly followed by the first keyword entry.
        {"category without NUL", [](PropertyFields& f) { f.keywords[0] = "NEXT"; }, {{1398, "0123456789ABCDEF"}}, 1,
         with(fullFieldSlots(), {{KRM_PROP_CATEGORY, "0123456789ABCDEF"}, {KRM_PROP_KEYWORDS, "NEXT;2024;"}})},
        {"keywords with gaps", [](PropertyFields& f) { f.keywords = {"ABC", "", "DEF"}; }, {}, 1,
         with(fullFieldSlots(), {{KRM_PROP_KEYWORDS, "ABC;DEF;"}})},
        {"keywords all empty", [](PropertyFields& f) { f.keywords = {}; }, {}, 1,
         with(fullFieldSlots(), {{KRM_PROP_KEYWORDS, ""}})},
        // An entry whose first byte is NUL adds nothing, whatever stands behind that byte.
        {"keyword entry starting with NUL", [](PropertyFields& f) { f.keywords = {}; },
         {{1414 + 20 * 3, std::string("\0HIDDEN", 7)}, {1414 + 20 * 4, "SHOWN"}}, 1,
         with(fullFieldSlots(), {{KRM_PROP_KEYWORDS, "SHOWN;"}})},
        {"keywords all full", [](PropertyFields& f) { f.keywords = {}; }, {{1414, tenFull + "after the list"}}, 1,
         with(fullFieldSlots(), {{KRM_PROP_KEYWORDS, tenJoined}})},
        // The block ends early: what was read stays, the rest is empty; a date that could not be
        // read comes from the zero-filled date buffer.
        {"ends before the marker", [](PropertyFields& f) { f.size = 1000; }, {}, 0, beforeMarker},
        {"ends inside the title", [](PropertyFields& f) { f.size = 20; }, {}, 0,
         {{KRM_PROP_TITLE, "Quarterly"},
          {KRM_PROP_CREATED, fromUtf8(u8"00年00月00日00時00分")},
          {KRM_PROP_MODIFIED, fromUtf8(u8"00年00月00日00時00分")}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PropertyFields fields = fullFields();
        c.change(fields);
        Bytes block = makePropertyBlock(fields);
        for (const auto& [offset, raw] : c.rawBytes) putField(block, offset, raw);
        EXPECT_EQ(decodeBlock(block), c.result);
        expectSlots(c.expected);
        expectHostCountersZero();
    }
}

// A failed conversion stops the decoder at that field: the slots before it stay filled.
TEST_F(KrmProperty, ConversionFailureKeepsTheSlotsBeforeTheFailingField) {
    const uint32_t order[] = {KRM_PROP_TITLE,    KRM_PROP_CREATED,  KRM_PROP_MODIFIED, KRM_PROP_AUTHOR,
                              KRM_PROP_COMMENTS, KRM_PROP_CATEGORY, KRM_PROP_KEYWORDS, KRM_PROP_LAST_AUTHOR};
    for (uint32_t failing = 1; failing <= 8; ++failing) {
        KRMTest_FailAt(KRM_SVC_CONV_CONVERT, failing);
        EXPECT_EQ(decodeBlock(makePropertyBlock(fullFields())), 0u) << failing;
        KRMTest_ResetFailures();
        for (uint32_t i = 0; i < 8; ++i) EXPECT_EQ(slot(order[i]).empty(), i + 1 >= failing) << failing << " " << i;
    }
}

} // namespace
} // namespace oasys_test
