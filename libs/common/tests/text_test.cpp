// Tests of the text helpers used by messages and reports.
#include "quillmere/common/text.hpp"

#include <gtest/gtest.h>

namespace quillmere::common {
namespace {

TEST(TextTest, Hex8IsAlwaysEightUpperCaseDigits) {
    EXPECT_EQ(hex8(0), "00000000");
    EXPECT_EQ(hex8(0x0A0000FF), "0A0000FF");
    EXPECT_EQ(hex8(0xFFFFFFFF), "FFFFFFFF");
    EXPECT_EQ(hex8(0x1B), "0000001B");
}

TEST(TextTest, HexLowerHasNoLeadingZeros) {
    EXPECT_EQ(hex_lower(0), "0");
    EXPECT_EQ(hex_lower(0x1C), "1c");
    EXPECT_EQ(hex_lower(0xFFFFFFFFFFFFFFFF), "ffffffffffffffff");
}

TEST(TextTest, PaddingKeepsLongTextWhole) {
    EXPECT_EQ(pad_right("id", 4), "id  ");
    EXPECT_EQ(pad_left("7", 3), "  7");
    EXPECT_EQ(pad_left("12345678901", 10), "12345678901");
    EXPECT_EQ(pad_right("abcdef", 2), "abcdef");
}

TEST(TextTest, QuotedEscapesQuotesBackslashesAndControls) {
    EXPECT_EQ(quoted("plain"), "\"plain\"");
    EXPECT_EQ(quoted("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(quoted(std::string_view("\n\r\t\0", 4)), "\"\\n\\r\\t\\0\"");
    EXPECT_EQ(quoted("\x1b"), "\"\\u{1b}\"");
    EXPECT_EQ(quoted("\xE2\x80\x94"), "\"\xE2\x80\x94\"");
}

TEST(TextTest, ByteListIsDecimal) {
    const std::uint8_t bytes[] = {1, 0, 255};
    EXPECT_EQ(byte_list(bytes), "[1, 0, 255]");
    EXPECT_EQ(byte_list({}), "[]");
}

TEST(TextTest, Utf8ValidationRejectsEveryMalformedForm) {
    EXPECT_TRUE(is_valid_utf8(""));
    EXPECT_TRUE(is_valid_utf8("plain ascii"));
    EXPECT_TRUE(is_valid_utf8("caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF"));
    for (const char* bad :
         {"\xFF", "\x80", "\xC0\xAF", "\xC1\xBF", "\xE0\x80\xAF", "\xED\xA0\x80",
          "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "cut\xE2\x80", "\xC3(", "\xE2\x28\xA1"}) {
        EXPECT_FALSE(is_valid_utf8(bad)) << quoted(bad);
    }
    EXPECT_EQ(utf8_sequence_length("a\xC3\xA9", 1), 2u);
    EXPECT_EQ(utf8_sequence_length("\xF0\x9F\x98\x80", 0), 4u);
    EXPECT_EQ(utf8_sequence_length("a", 0), 0u);
}

} // namespace
} // namespace quillmere::common
