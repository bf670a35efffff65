// UTF-16 to UTF-8 conversion, of single texts and of lists.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "utf8_text.h"

namespace {

std::string convert(const std::u16string &text, size_t out_size) {
    std::vector<char> out(out_size + 1, '#');
    utf8_from_utf16(out.data(), out_size, text.data(), text.size());
    EXPECT_EQ(out[out_size], '#') << "wrote past the output";
    return std::string(out.data());
}

}  // namespace

TEST(Utf8Text, ConvertsEveryCharacterLength) {
    EXPECT_EQ(convert(u"Zürich-é.exe", 64), "Z\xC3\xBCrich-\xC3\xA9.exe");
    EXPECT_EQ(convert(u"€", 8), "\xE2\x82\xAC");
    EXPECT_EQ(convert(u"\U0001D11E", 8), "\xF0\x9D\x84\x9E");  // a surrogate pair
    EXPECT_EQ(convert(u"ab\0cd", 8), "ab");                     // ends at a NUL unit
    // Unpaired surrogates become U+FFFD.
    EXPECT_EQ(convert(std::u16string(1, u'\xD834') + u"x", 8), "\xEF\xBF\xBDx");
    EXPECT_EQ(convert(std::u16string(1, u'\xDD1E'), 8), "\xEF\xBF\xBD");
    EXPECT_EQ(convert(std::u16string(1, u'\xD834'), 8), "\xEF\xBF\xBD");
}

TEST(Utf8Text, CutsBeforeACharacterThatWouldNotFit) {
    // Room for 4 bytes (size 5): "abc" + a 2-byte character does not fit.
    EXPECT_EQ(convert(u"abcü", 5), "abc");
    EXPECT_EQ(convert(u"abü", 5), "ab\xC3\xBC");
    EXPECT_EQ(convert(u"ab€", 5), "ab");
    EXPECT_EQ(convert(u"a€", 5), "a\xE2\x82\xAC");
    EXPECT_EQ(convert(u"a\U0001D11E", 5), "a");
    EXPECT_EQ(convert(u"\U0001D11E", 5), "\xF0\x9D\x84\x9E");
    EXPECT_EQ(convert(u"x", 1), "");
    char untouched = '#';
    EXPECT_EQ(utf8_from_utf16(&untouched, 0, u"x", 1), 0u);
    EXPECT_EQ(untouched, '#');

    // Units are read byte by byte: an odd address is fine.
    alignas(2) unsigned char bytes[7] = {0, 'h', 0, 'i', 0, 0, 0};
    char out[8];
    EXPECT_EQ(utf8_from_utf16(out, sizeof out, bytes + 1, 2), 2u);
    EXPECT_STREQ(out, "hi");
}

TEST(Utf8Text, ListsKeepTheirSeparators) {
    const char16_t list[] = u"C:\\\0D:\\\0\0";
    char out[32];
    std::memset(out, '#', sizeof out);
    utf8_list_from_utf16(out, sizeof out, list, sizeof list / 2 - 1);
    EXPECT_EQ(std::string(out, 9), std::string("C:\\\0D:\\\0\0", 9));
    // Cut short: the output still ends with a NUL after the last text.
    std::memset(out, '#', sizeof out);
    utf8_list_from_utf16(out, 6, list, sizeof list / 2 - 1);
    EXPECT_EQ(std::string(out, 6), std::string("C:\\\0\0\0", 6));
}
