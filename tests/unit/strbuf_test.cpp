// The growable buffer: growth rule, the two printf paths, absent buffers,
// allocation failure, and the JSON escaping table.
#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "fake_platform.h"
#include "strbuf.h"

namespace {

class StrbufTest : public ::testing::Test {
protected:
    void SetUp() override { fake_alloc_install(); }
    void TearDown() override {
        strbuf_free(&sb);
        fake_hooks_restore();
    }
    std::string str() const { return sb.data == nullptr ? "<absent>" : std::string(sb.data, sb.len); }
    // Fills the buffer to exactly `len` bytes of 'x'.
    void fill_to(size_t len) {
        std::string filler(len - sb.len, 'x');
        strbuf_append(&sb, filler.c_str());
        ASSERT_EQ(sb.len, len);
    }
    std::string escaped(const std::string &in) {
        strbuf_reset(&sb);
        strbuf_append_escaped_json(&sb, in.c_str());
        return str();
    }
    strbuf sb{};
};

TEST_F(StrbufTest, InitAllocatesExactCapacityWithEmptyText) {
    strbuf_init(&sb, 1024);
    ASSERT_NE(sb.data, nullptr);
    EXPECT_EQ(sb.capacity, 1024u);
    EXPECT_EQ(sb.len, 0u);
    EXPECT_STREQ(sb.data, "");
}

TEST_F(StrbufTest, GrowthDoublesOrSizesToNeedPlus1024) {
    strbuf_init(&sb, 1024);
    fill_to(1000);
    strbuf_append(&sb, std::string(30, 'a').c_str());
    EXPECT_EQ(sb.capacity, 2048u);
    EXPECT_EQ(sb.len, 1030u);

    strbuf_free(&sb);
    strbuf_init(&sb, 1024);
    fill_to(1000);
    strbuf_append(&sb, std::string(3000, 'b').c_str());
    EXPECT_EQ(sb.capacity, 5024u);  // doubling to 2048 would not hold 4001 bytes
    EXPECT_EQ(sb.len, 4000u);
    EXPECT_EQ(sb.data[sb.len], '\0');
    EXPECT_EQ(str().substr(1000), std::string(3000, 'b'));
}

TEST_F(StrbufTest, ExactFitDoesNotGrow) {
    strbuf_init(&sb, 64);
    fill_to(40);
    strbuf_append(&sb, std::string(23, 'z').c_str());  // 40 + 23 + 1 == 64
    EXPECT_EQ(sb.capacity, 64u);
    EXPECT_EQ(g_fake_alloc.reallocs, 0);
    strbuf_append(&sb, "!");
    EXPECT_EQ(sb.capacity, 128u);
}

TEST_F(StrbufTest, EmptyAppendsChangeNothing) {
    strbuf_init(&sb, 16);
    strbuf_append(&sb, "ab");
    strbuf_append(&sb, "");
    strbuf_append_escaped_json(&sb, "");
    strbuf_append(&sb, nullptr);
    strbuf_append_escaped_json(&sb, nullptr);
    EXPECT_EQ(str(), "ab");
    EXPECT_EQ(sb.data[2], '\0');
}

TEST_F(StrbufTest, PrintfAppendsPiecesOf255And256Characters) {
    for (size_t width : {size_t{255}, size_t{256}, size_t{5000}}) {
        strbuf_free(&sb);
        strbuf_init(&sb, 32);
        strbuf_append(&sb, "<");
        const std::string piece(width, 'p');
        strbuf_printf(&sb, "%s", piece.c_str());
        EXPECT_EQ(sb.len, width + 1) << width;
        EXPECT_EQ(str(), "<" + piece) << width;
        EXPECT_EQ(sb.data[sb.len], '\0') << width;
        EXPECT_LT(sb.len, sb.capacity) << width;
        strbuf_append(&sb, ">");
        EXPECT_EQ(str(), "<" + piece + ">") << width;
    }
}

TEST_F(StrbufTest, PrintfFormatsEveryArgumentOnTheLongPath) {
    // More than 255 characters: formatted a second time from fresh arguments.
    strbuf_init(&sb, 16);
    const std::string pad(300, '.');
    strbuf_printf(&sb, "%d%s%llu%.2f", -7, pad.c_str(), 18446744073709551615ull, 2.5);
    EXPECT_EQ(str(), "-7" + pad + "18446744073709551615" + "2.50");
}

TEST_F(StrbufTest, VeryLargeDoubleIsWrittenInFullFixedNotation) {
    strbuf_init(&sb, 16);
    strbuf_printf(&sb, "%.2f", 1e300);
    EXPECT_EQ(sb.len, 301u + 3u);
    EXPECT_EQ(str().substr(0, 2), "10");
    EXPECT_EQ(str().substr(sb.len - 3), ".00");
    EXPECT_EQ(str().find('e'), std::string::npos);
}

TEST_F(StrbufTest, AbsentBufferIgnoresEveryAppend) {
    strbuf_append(&sb, "text");
    strbuf_printf(&sb, "%d", 42);
    strbuf_printf(&sb, "%s", std::string(400, 'q').c_str());
    strbuf_append_escaped_json(&sb, "a\"b");
    strbuf_reset(&sb);
    EXPECT_EQ(sb.data, nullptr);
    EXPECT_EQ(sb.len, 0u);
    EXPECT_EQ(g_fake_alloc.allocs + g_fake_alloc.reallocs, 0);

    // A null buffer pointer is ignored as well.
    strbuf_append(nullptr, "x");
    strbuf_printf(nullptr, "%d", 1);
    strbuf_append_escaped_json(nullptr, "x");
    strbuf_reset(nullptr);
    strbuf_free(nullptr);
    strbuf_init(nullptr, 8);
}

TEST_F(StrbufTest, FailedInitialAllocationLeavesBufferAbsent) {
    g_fake_alloc.fail_alloc_index = 0;
    strbuf_init(&sb, 4096);
    EXPECT_EQ(sb.data, nullptr);
    EXPECT_EQ(sb.len, 0u);
    EXPECT_EQ(sb.capacity, 0u);
    strbuf_append(&sb, "still absent");
    EXPECT_EQ(sb.data, nullptr);
}

TEST_F(StrbufTest, FailedGrowthDropsThePieceAndKeepsTheBuffer) {
    strbuf_init(&sb, 16);
    strbuf_append(&sb, "012345678");
    g_fake_alloc.fail_reallocs = true;
    const char *before = sb.data;
    strbuf_append(&sb, "this piece does not fit");
    strbuf_printf(&sb, "%s", std::string(300, 'w').c_str());
    strbuf_printf(&sb, "%s", "also too long!");
    strbuf_append_escaped_json(&sb, "\x01\x02\x03");
    EXPECT_EQ(sb.data, before);
    EXPECT_EQ(sb.capacity, 16u);
    EXPECT_EQ(str(), "012345678\\u0001");  // the one escape that still fit
    EXPECT_EQ(sb.data[sb.len], '\0');
    EXPECT_LE(sb.len + 1, sb.capacity);
    EXPECT_TRUE(sb.incomplete);  // the text is not all that was appended
    strbuf_reset(&sb);
    EXPECT_FALSE(sb.incomplete);
    strbuf_append(&sb, "fits");
    EXPECT_FALSE(sb.incomplete);
}

TEST_F(StrbufTest, ResetKeepsStorageAndFreeReleasesIt) {
    strbuf_init(&sb, 16);
    strbuf_append(&sb, std::string(100, 'r').c_str());
    const size_t grown = sb.capacity;
    strbuf_reset(&sb);
    EXPECT_EQ(str(), "");
    EXPECT_EQ(sb.capacity, grown);
    strbuf_free(&sb);
    EXPECT_EQ(sb.data, nullptr);
    EXPECT_EQ(sb.len, 0u);
    EXPECT_EQ(sb.capacity, 0u);
    EXPECT_EQ(g_fake_alloc.frees, 1);
    strbuf_free(&sb);  // twice is harmless
    EXPECT_EQ(g_fake_alloc.frees, 1);
}

#if !defined(_WIN32)
TEST_F(StrbufTest, FormattingErrorDropsThePiece) {
    // A lone surrogate cannot be converted to a multibyte sequence: the C
    // library reports a formatting error.
    strbuf_init(&sb, 16);
    strbuf_append(&sb, "ok");
    const wchar_t bad[] = {static_cast<wchar_t>(0xD800), 0};
    strbuf_printf(&sb, "%ls", bad);
    EXPECT_EQ(str(), "ok");
}
#endif

TEST_F(StrbufTest, EscapesNamedCharacters) {
    strbuf_init(&sb, 8);
    EXPECT_EQ(escaped("a\"b\\c"), "a\\\"b\\\\c");
    EXPECT_EQ(escaped("\t"), "\\t");
    EXPECT_EQ(escaped("\b\f\n\r"), "\\b\\f\\n\\r");
    EXPECT_EQ(escaped("c:\\x"), "c:\\\\x");
}

TEST_F(StrbufTest, EscapesOtherControlBytesAsLowercaseUnicode) {
    strbuf_init(&sb, 8);
    EXPECT_EQ(escaped("\x01"), "\\u0001");
    EXPECT_EQ(escaped("\x0b"), "\\u000b");
    EXPECT_EQ(escaped("\x1b"), "\\u001b");
    EXPECT_EQ(escaped("\x1f"), "\\u001f");
    EXPECT_EQ(escaped("a\x0e" "b"), "a\\u000eb");
}

TEST_F(StrbufTest, PassesHighBytesDeleteAndSolidusUnchanged) {
    strbuf_init(&sb, 8);
    std::string high;
    for (int c = 0x80; c <= 0xFF; ++c) high.push_back(static_cast<char>(c));
    EXPECT_EQ(escaped(high), high);
    EXPECT_EQ(escaped("\x7f/"), "\x7f/");
    EXPECT_EQ(escaped("C:\\Program Files/\xe9t\xe9"), "C:\\\\Program Files/\xe9t\xe9");
}

TEST_F(StrbufTest, EveryAsciiByteRoundTripsThroughAJsonParser) {
    strbuf_init(&sb, 8);
    std::string all;
    for (int c = 1; c <= 0x7F; ++c) all.push_back(static_cast<char>(c));
    std::string doc = "\"";
    doc += escaped(all);
    doc += '"';
    EXPECT_EQ(nlohmann::json::parse(doc).get<std::string>(), all);
}

TEST_F(StrbufTest, BoundedEscapingStopsAtTheFieldEnd) {
    strbuf_init(&sb, 8);
    const char field[4] = {'a', '"', 'b', 'c'};  // no NUL inside the field
    strbuf_append_escaped_json_bounded(&sb, field, sizeof field);
    EXPECT_EQ(str(), "a\\\"bc");
    strbuf_reset(&sb);
    strbuf_append_escaped_json_bounded(&sb, "xy\0zz", 5);
    EXPECT_EQ(str(), "xy");
}

}  // namespace
