// The tools' text helpers: what makes a JSON line valid UTF-8, a name one safe line on standard
// error, and an output name one the file system takes.
#include <gtest/gtest.h>

#include "safe_files.h"
#include "tool_common.h"

namespace oasys_tools {
namespace {

TEST(TextHelpers, Utf8Validity) {
    const struct {
        const char* text;
        bool valid;
    } cases[] = {
        {"plain", true},
        {"\xC2\xA9", true},                   // ©, the smallest lead byte of two
        {"\xE6\x97\xA5\xE6\x9C\xAC", true},   // 日本
        {"\xE0\xA0\x80", true},               // U+0800, the first three-byte character
        {"\xF0\x90\x80\x80", true},           // U+10000
        {"\xF4\x8F\xBF\xBF", true},           // U+10FFFF, the last character
        {"\x80", false},                      // a continuation byte alone
        {"\x93\xFA", false},                  // Shift_JIS
        {"\xC0\xAF", false},                  // an overlong form
        {"\xE0\x9F\xBF", false},              // U+07FF in three bytes
        {"\xED\xA0\x80", false},              // a surrogate
        {"\xF4\x90\x80\x80", false},          // past U+10FFFF
        {"\xE6\x97", false},                  // cut short
    };
    for (const auto& c : cases) EXPECT_EQ(isValidUtf8(c.text), c.valid) << hexBytes(c.text);
}

TEST(TextHelpers, EscapedForms) {
    const struct {
        std::string (*form)(std::string_view);
        const char* text;
        const char* shown;
    } cases[] = {
        {jsonString, "a\"b\\c", "\"a\\\"b\\\\c\""},
        {jsonString, "\x01\x7F", "\"\\u0001\\u007f\""},
        {jsonString, "\x93\xFA" "x", "\"\xEF\xBF\xBD\xEF\xBF\xBDx\""},
        {shownName, "it's", "'it\\'s'"},
        {shownName, "a\x1b[2Jb\n", "'a\\x1b[2Jb\\n'"},
        {shownName, "\x93\xFA", "'\x93\xFA'"}, // bytes that are no control characters stay
        {oneLine, "cannot open a\nb\x7F: x", "cannot open a\\nb\\x7f: x"},
        {oneLine, "'a\\nb' stays", "'a\\nb' stays"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.form(c.text), c.shown) << hexBytes(c.text);
}

TEST(TextHelpers, SoundFileNames) {
    EXPECT_EQ(soundFileName("report.DOC", ".txt"), "report.DOC.txt");
    const std::string fits(251, 'n');
    EXPECT_EQ(soundFileName(fits, ".txt"), fits + ".txt");
    // Too long: cut at a character boundary, marked with a hash of the whole name.
    std::string kana;
    for (int i = 0; i < 90; ++i) kana += "\xE3\x81\x82"; // 270 bytes
    for (const std::string& name : {fits + "n", kana}) {
        const std::string sound = soundFileName(name, ".txt");
        EXPECT_LE(sound.size(), kNameMax);
        EXPECT_TRUE(isValidUtf8(sound)) << sound;
        EXPECT_EQ(sound.substr(sound.size() - 13, 1), "~") << sound;
        EXPECT_EQ(sound.substr(sound.size() - 4), ".txt");
    }
    EXPECT_NE(soundFileName(kana + "a", ".txt"), soundFileName(kana + "b", ".txt"));
}

} // namespace
} // namespace oasys_tools
