// UTF-8 text copied into fixed fields, cut at character boundaries.
#include <gtest/gtest.h>

#include <cstring>

#include "text_fields.h"

TEST(TextFields, CopiesCutAtCharacterBoundaries) {
    // The field holds 7 bytes; each character crosses the edge in turn.
    struct cut {
        const char *text;
        const char *kept;
    } cuts[] = {
        {"abcdef\xC3\xBC", "abcdef"},          // 2-byte character at bytes 6-7
        {"abcde\xC3\xBC", "abcde\xC3\xBC"},    // fits exactly
        {"abcde\xE2\x82\xAC", "abcde"},        // 3-byte character at bytes 5-7
        {"abcd\xE2\x82\xAC", "abcd\xE2\x82\xAC"},
        {"abcd\xF0\x9D\x84\x9E", "abcd"},      // 4-byte character at bytes 4-7
        {"abc\xF0\x9D\x84\x9E", "abc\xF0\x9D\x84\x9E"},
        {"abcdefg", "abcdefg"},
    };
    for (const cut &c : cuts) {
        char field[8];
        utf8_copy_cut(field, sizeof field, c.text, std::strlen(c.text) + 1);
        EXPECT_STREQ(field, c.kept) << c.text;
    }
    // A source that ends (without NUL) inside a character loses it.
    char field[16];
    utf8_copy_cut(field, sizeof field, "ab\xE2\x82\xAC", 4);
    EXPECT_STREQ(field, "ab");
    EXPECT_EQ(utf8_boundary("ab\xE2\x82", 4), 2u);
    EXPECT_EQ(utf8_boundary("\xE2\x82\xAC", 3), 3u);
    EXPECT_EQ(utf8_boundary("\x82\x82", 2), 0u);
}
