// The format block decoder: which slot gets which field, and what a damaged block leaves behind.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "property_test_support.h"

namespace oasys_test {
namespace {

struct DecodeCase {
    const char* name;
    PropertyFields fields;
    std::vector<std::pair<size_t, std::string>> rawBytes; // placed after the fields, as they stand
    uint32_t expectedResult;
    std::map<uint32_t, std::string> expectedSlots;        // every other slot stays empty
};

PropertyFields with(void (*change)(PropertyFields&)) {
    PropertyFields f = fullFields();
    change(f);
    return f;
}

std::map<uint32_t, std::string> allSlotsOfFullFields() {
    return {{KRM_PROP_TITLE, "Quarterly report"},
            {KRM_PROP_CREATED, kCreatedUtf8},
            {KRM_PROP_MODIFIED, kModifiedUtf8},
            {KRM_PROP_AUTHOR, "Yamada"},
            {KRM_PROP_COMMENTS, "Figures for the third quarter"},
            {KRM_PROP_CATEGORY, "Finance"},
            {KRM_PROP_KEYWORDS, "sales;2024;"},
            {KRM_PROP_LAST_AUTHOR, "Suzuki"}};
}

std::map<uint32_t, std::string> changed(std::map<uint32_t, std::string> slots, uint32_t slot, std::string text) {
    if (text.empty()) {
        slots.erase(slot);
    } else {
        slots[slot] = std::move(text);
    }
    return slots;
}

const std::map<uint32_t, std::string> kBeforeMarker = {
    {KRM_PROP_TITLE, "Quarterly report"}, {KRM_PROP_CREATED, kCreatedUtf8}, {KRM_PROP_MODIFIED, kModifiedUtf8}};

std::string twentyOf(char c) { return std::string(20, c); }

std::vector<DecodeCase> decodeCases() {
    std::vector<DecodeCase> cases;
    cases.push_back({"AllFields", fullFields(), {}, 1, allSlotsOfFullFields()});
    cases.push_back({"SkipByteSet", with([](PropertyFields& f) { f.skipByte = 1; }), {}, 1,
                     changed(allSlotsOfFullFields(), KRM_PROP_TITLE, "")});
    cases.push_back({"MarkerZero", with([](PropertyFields& f) { f.blockMarker = 0; }), {}, 0, kBeforeMarker});
    cases.push_back({"MarkerThree", with([](PropertyFields& f) { f.blockMarker = 3; }), {}, 0, kBeforeMarker});
    // A title that fills its 50 bytes: taken whole, and not a byte of what follows the field.
    cases.push_back({"TitleWithoutNul", fullFields(), {{11, std::string(50, 'T') + "ZZ"}}, 1,
                     changed(allSlotsOfFullFields(), KRM_PROP_TITLE, std::string(50, 'T'))});
    // 16 category bytes directly followed by the first keyword entry.
    cases.push_back({"CategoryWithoutNul", with([](PropertyFields& f) { f.keywords[0] = "NEXT"; }),
                     {{1398, "0123456789ABCDEF"}}, 1,
                     changed(changed(allSlotsOfFullFields(), KRM_PROP_CATEGORY, "0123456789ABCDEF"),
                             KRM_PROP_KEYWORDS, "NEXT;2024;")});
    cases.push_back({"KeywordsWithGaps", with([](PropertyFields& f) {
                         f.keywords = {};
                         f.keywords[0] = "ABC";
                         f.keywords[2] = "DEF";
                     }),
                     {}, 1, changed(allSlotsOfFullFields(), KRM_PROP_KEYWORDS, "ABC;DEF;")});
    cases.push_back({"KeywordsAllEmpty", with([](PropertyFields& f) { f.keywords = {}; }), {}, 1,
                     changed(allSlotsOfFullFields(), KRM_PROP_KEYWORDS, "")});
    // An entry whose first byte is NUL adds nothing, whatever stands behind that byte.
    cases.push_back({"KeywordEntryStartingWithNul", with([](PropertyFields& f) { f.keywords = {}; }),
                     {{1414 + 20 * 3, std::string("\0HIDDEN", 7)}, {1414 + 20 * 4, "SHOWN"}}, 1,
                     changed(allSlotsOfFullFields(), KRM_PROP_KEYWORDS, "SHOWN;")});
    {
        std::string raw, joined;
        for (char c = 'a'; c < 'a' + 10; ++c) {
            raw += twentyOf(c);
            joined += twentyOf(c) + ";";
        }
        cases.push_back({"KeywordsAllFull", with([](PropertyFields& f) { f.keywords = {}; }),
                         {{1414, raw + "after the list"}}, 1,
                         changed(allSlotsOfFullFields(), KRM_PROP_KEYWORDS, joined)});
    }
    // The block ends before its marker: what was read stays, the rest is empty.
    cases.push_back({"EndsBeforeMarker", with([](PropertyFields& f) { f.size = 1000; }), {}, 0, kBeforeMarker});
    // The block ends inside the title: the title is what could be read; neither date could be
    // read, so both come from the zero-filled date buffer.
    cases.push_back({"EndsInsideTitle", with([](PropertyFields& f) { f.size = 20; }), {}, 0,
                     {{KRM_PROP_TITLE, "Quarterly"},
                      {KRM_PROP_CREATED, fromUtf8(u8"00年00月00日00時00分")},
                      {KRM_PROP_MODIFIED, fromUtf8(u8"00年00月00日00時00分")}}});
    // The second date is cut after two bytes: the date buffer still holds the rest of the first.
    cases.push_back({"EndsInsideSecondDate", with([](PropertyFields& f) { f.size = 223; }), {}, 0,
                     {{KRM_PROP_TITLE, "Quarterly report"},
                      {KRM_PROP_CREATED, kCreatedUtf8},
                      {KRM_PROP_MODIFIED, fromUtf8(u8"01年02月31日23時59分")}}});
    return cases;
}

class DecodeTable : public PropertyTest, public ::testing::WithParamInterface<DecodeCase> {};

TEST_P(DecodeTable, FillsTheSlotsOfTheBlock) {
    const DecodeCase& c = GetParam();
    Bytes block = makePropertyBlock(c.fields);
    for (const auto& [offset, raw] : c.rawBytes) putField(block, offset, raw);
    // The block starts after some leading bytes, as inside a combined file.
    constexpr uint32_t kBlockStart = 37;
    writeFile(dir / "doc.FMT", concat({Bytes(kBlockStart, 0xF0), block}));
    std::memset(record->bytes, 0, sizeof record->bytes);

    uint32_t result;
    {
        OpenFile file(dir / "doc.FMT");
        ASSERT_NE(file.handle(), 0u);
        result = GetKRMProperty(file.handle(), kBlockStart, &srcInfo, &options, record.get(), 0, &context);
    }

    EXPECT_EQ(result, c.expectedResult);
    for (uint32_t s : kAllSlots) {
        const auto expected = c.expectedSlots.find(s);
        EXPECT_EQ(slot(s), expected == c.expectedSlots.end() ? "" : expected->second) << "slot " << s;
    }
    EXPECT_EQ(strayBytes(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Blocks, DecodeTable, ::testing::ValuesIn(decodeCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// A failed conversion stops the decoder at that field: the slots before it stay filled.
class ConversionFailure : public PropertyTest, public ::testing::WithParamInterface<int> {};

TEST_P(ConversionFailure, KeepsTheSlotsBeforeTheFailingField) {
    // Conversion order of the fields.
    const uint32_t order[] = {KRM_PROP_TITLE,    KRM_PROP_CREATED,  KRM_PROP_MODIFIED, KRM_PROP_AUTHOR,
                              KRM_PROP_COMMENTS, KRM_PROP_CATEGORY, KRM_PROP_KEYWORDS, KRM_PROP_LAST_AUTHOR};
    const int failing = GetParam();
    writeFile(dir / "doc.FMT", makePropertyBlock(fullFields()));
    std::memset(record->bytes, 0, sizeof record->bytes);

    KRMTest_FailAt(KRM_SVC_CONV_CONVERT, static_cast<uint32_t>(failing));
    uint32_t result;
    {
        OpenFile file(dir / "doc.FMT");
        result = GetKRMProperty(file.handle(), 0, &srcInfo, &options, record.get(), 0, &context);
    }

    EXPECT_EQ(result, 0u);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(slot(order[i]).empty(), i + 1 >= failing) << "slot " << order[i];
    }
}

INSTANTIATE_TEST_SUITE_P(AtEachField, ConversionFailure, ::testing::Range(1, 9));

} // namespace
} // namespace oasys_test
