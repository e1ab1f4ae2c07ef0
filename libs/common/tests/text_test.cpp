// Tests of the text helpers used by messages and reports.
#include "quillmere/common/text.hpp"

#include <gtest/gtest.h>
#include <limits>
#include <vector>

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

TEST(TextTest, HexDigitsValueTakesOneToEightDigitsOfEitherCase) {
    EXPECT_EQ(hex_digits_value("3000001"), 0x03000001U);
    EXPECT_EQ(hex_digits_value("fFfFfFfF"), 0xFFFFFFFFU);
    EXPECT_EQ(hex_digits_value("0"), 0U);
    for (const char* bad : {"", "100000000", "0x1", "1g", " 1", "-1"}) {
        EXPECT_EQ(hex_digits_value(bad), std::nullopt) << bad;
    }
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
}

TEST(TextTest, Utf8DecoderStepsOverCharactersAndMaximalIllFormedStretches) {
    const struct {
        std::string_view text;
        std::size_t at;
        Utf8Sequence expected;
    } cases[] = {
        {"a\xC3\xA9", 0, {1, true}},
        {"a\xC3\xA9", 1, {2, true}},
        {"\xF0\x9F\x98\x80", 0, {4, true}},
        {"\xE2\x80z", 0, {2, false}},    // cut short before an ASCII byte
        {"\xED\xA0\x80", 0, {1, false}}, // a surrogate's lead starts nothing longer
        {"\x80", 0, {1, false}},
        {"\xF5\x80", 0, {1, false}},
        {"a", 1, {0, false}},
    };
    for (const auto& c : cases) {
        const Utf8Sequence got = utf8_sequence_at(c.text, c.at);
        EXPECT_EQ(got.length, c.expected.length) << quoted(c.text);
        EXPECT_EQ(got.valid, c.expected.valid) << quoted(c.text);
    }
}

TEST(TextTest, MalformedUtf8BecomesReplacementCharacters) {
    const std::string replacement = "\xEF\xBF\xBD";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"plain \xE2\x80\x94 text", "plain \xE2\x80\x94 text"},
        {"\xFF", replacement},
        {"a\x80z", "a" + replacement + "z"},
        {"\xE2\x80", replacement},                                 // cut short at the end
        {"\xE2\x80z", replacement + "z"},                          // cut short before an ASCII byte
        {"\xED\xA0\x80", replacement + replacement + replacement}, // a surrogate is not valid
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
        {"\xC0\xAF", replacement + replacement}, // overlong
        {std::string("\0x", 2), std::string("\0x", 2)},
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(to_valid_utf8(input), expected) << quoted(input);
    }
}

TEST(TextTest, JsonEscapeCoversControlsDelAndIllFormedBytes) {
    EXPECT_EQ(json_escape("a\"b\\c\n\t\r\b\f"), "a\\\"b\\\\c\\n\\t\\r\\b\\f");
    EXPECT_EQ(json_escape(std::string_view("\x01\x1f\0\x7f", 4)), "\\u0001\\u001f\\u0000\\u007f");
    EXPECT_EQ(json_escape("caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x98\x80"),
              "caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x98\x80");
    EXPECT_EQ(json_escape("\xE2\x80z\xFF"), "\xEF\xBF\xBDz\xEF\xBF\xBD");
    EXPECT_EQ(json_quote("plain"), "\"plain\"");
}

TEST(TextTest, HexBytesInEitherCase) {
    const std::uint8_t bytes[] = {0x0A, 0xFF, 0x00};
    EXPECT_EQ(hex_bytes(bytes), "0aff00");
    EXPECT_EQ(hex_bytes(bytes, LetterCase::Upper), "0AFF00");
    EXPECT_EQ(hex_bytes({}), "");
}

TEST(TextTest, FloatsInTheirShortestFormInBothStyles) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(float_text(0.1f), "0.1");
    EXPECT_EQ(float_text(-0.0f), "-0");
    EXPECT_EQ(float_text(1e30f), "1e+30");
    EXPECT_EQ(float_text(1.25), "1.25");
    EXPECT_EQ(float_text(nan), "nan");
    EXPECT_EQ(float_text(-inf), "-inf");
    EXPECT_EQ(float_text(1.0, FloatStyle::Debug), "1.0");
    EXPECT_EQ(float_text(-0.0, FloatStyle::Debug), "-0.0");
    EXPECT_EQ(float_text(0.1f, FloatStyle::Debug), "0.1");
    EXPECT_EQ(float_text(1e16, FloatStyle::Debug), "1e16");
    EXPECT_EQ(float_text(1.5e-7, FloatStyle::Debug), "1.5e-7");
    EXPECT_EQ(float_text(nan, FloatStyle::Debug), "NaN");
    EXPECT_EQ(float_text(inf, FloatStyle::Debug), "inf");
}

} // namespace
} // namespace quillmere::common
