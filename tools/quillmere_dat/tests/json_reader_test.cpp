// The strict JSON reader: what it accepts reads back right, and each kind of malformed document
// is refused with the offset of the first byte that does not fit.
#include "json_reader.hpp"

#include <gtest/gtest.h>

namespace quillmere::dat_tool {
namespace {

TEST(JsonReaderTest, ContainersAndValuesReadInOrder) {
    const std::string text = "\t{\"n\":\r\n4294967295, " +
                             std::string(R"("list": [0, 17], "s": "a\"\\\/\b\f\n\r\t\u00e9)") +
                             R"(\u007f\u0080\u07FF\u0800\uffff\udbff\udfff)" +
                             R"(\u20AC\ud83d\ude00 é", "empty": {}} )";
    JsonReader reader(text);
    ASSERT_TRUE(reader.begin_object());
    EXPECT_EQ(reader.next_member(), "n");
    EXPECT_EQ(reader.read_u32(), 4294967295U);
    EXPECT_EQ(reader.next_member(), "list");
    ASSERT_TRUE(reader.begin_array());
    std::vector<std::uint32_t> list;
    while (reader.next_element() == true) {
        list.push_back(reader.read_u32().value_or(99));
    }
    EXPECT_EQ(list, (std::vector<std::uint32_t>{0, 17}));
    EXPECT_EQ(reader.next_member(), "s");
    EXPECT_EQ(reader.read_string(),
              "a\"\\/\b\f\n\r\t\xC3\xA9\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF4\x8F\xBF\xBF"
              "\xE2\x82\xAC\xF0\x9F\x98\x80 \xC3\xA9");
    EXPECT_EQ(reader.next_member(), "empty");
    EXPECT_EQ(reader.offset(), text.find("{}"));
    ASSERT_TRUE(reader.begin_object());
    EXPECT_EQ(reader.next_member(), std::nullopt);
    EXPECT_EQ(reader.next_member(), std::nullopt);
    EXPECT_TRUE(reader.finish());
}

TEST(JsonReaderTest, SkipValueWalksAnyValueUpToTheDepthLimit) {
    JsonReader reader(R"([{"x": [true, false, null, -0.5e+3, 10E-2, {"y": "z"}, []]}, 7])");
    ASSERT_TRUE(reader.begin_array());
    ASSERT_EQ(reader.next_element(), true);
    ASSERT_TRUE(reader.skip_value());
    ASSERT_EQ(reader.next_element(), true);
    EXPECT_EQ(reader.read_u32(), 7U);
    EXPECT_EQ(reader.next_element(), false);
    EXPECT_TRUE(reader.finish());

    const std::size_t limit = JsonReader::kMaxDepth;
    const std::string deepest = std::string(limit, '[') + std::string(limit, ']');
    EXPECT_TRUE(JsonReader(deepest).skip_value());
    // A million levels cost nothing: the walk stops at the first level too many.
    const std::string too_deep(1'000'000, '[');
    EXPECT_EQ(JsonReader(too_deep).skip_value().error(),
              "nesting deeper than 64 levels at byte 64");
}

TEST(JsonReaderTest, MalformedDocumentsAreRefusedAtTheirFirstBadByte) {
    enum class Read { Value, Integer, String };
    struct Case {
        std::string text;
        Read read;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"", Read::Value, "expected a value but the document ends at byte 0"},
        {"// note\n1", Read::Value, "expected a value at byte 0"},
        {"[1,]", Read::Value, "expected a value at byte 3"},
        {"[1 2]", Read::Value, "expected ',' or ']' at byte 3"},
        {"[1", Read::Value, "expected ',' or ']' but the document ends at byte 2"},
        {R"({"a" 1})", Read::Value, "expected ':' at byte 5"},
        {"{1: 2}", Read::Value, "expected a member name or '}' at byte 1"},
        {R"({"a": 1,})", Read::Value, "expected a member name at byte 8"},
        {"tru", Read::Value, "expected a value at byte 0"},
        {"-", Read::Value, "malformed number at byte 0"},
        {"[01]", Read::Value, "malformed number at byte 1"},
        {"1.", Read::Value, "malformed number at byte 0"},
        {"1e+", Read::Value, "malformed number at byte 0"},
        {"1 2", Read::Value, "unexpected text after the document at byte 2"},
        {"01", Read::Integer, "number with a leading zero at byte 0"},
        {" -1", Read::Integer, "expected an unsigned 32-bit integer at byte 1"},
        {"1.5", Read::Integer, "expected an unsigned 32-bit integer at byte 0"},
        {"2e3", Read::Integer, "expected an unsigned 32-bit integer at byte 0"},
        {"\"7\"", Read::Integer, "expected an unsigned 32-bit integer at byte 0"},
        {"4294967296", Read::Integer, "number above 4294967295 at byte 0"},
        {"99999999999999999999999", Read::Integer, "number above 4294967295 at byte 0"},
        {"7", Read::String, "expected a string at byte 0"},
        {"\"abc", Read::String, "unterminated string at byte 0"},
        {"\"ab\\", Read::String, "unterminated string at byte 0"},
        {"\"a\x01\"", Read::String, "control character in a string at byte 2"},
        {"\"a\x1F\"", Read::String, "control character in a string at byte 2"},
        {"\"a\\x\"", Read::String, "invalid escape at byte 2"},
        {"\"\\u12G4\"", Read::String, "malformed \\u escape at byte 1"},
        {"\"\\u12\"", Read::String, "malformed \\u escape at byte 1"},
        {"\"\\udc00\"", Read::String, "unpaired surrogate escape at byte 1"},
        {"\"\\ud800x\"", Read::String, "unpaired surrogate escape at byte 1"},
        {"\"\\ud800\\u0041\"", Read::String, "unpaired surrogate escape at byte 1"},
        {"\"\\ud800\\ue000\"", Read::String, "unpaired surrogate escape at byte 1"},
        {"\"a\xC3\x28\"", Read::String, "invalid UTF-8 in a string at byte 2"},
        {"\"\xED\xA0\x80\"", Read::String, "invalid UTF-8 in a string at byte 1"},
    };
    for (const auto& c : cases) {
        JsonReader reader(c.text);
        Gathered<void> result;
        switch (c.read) {
        case Read::Value:
            result = reader.skip_value();
            break;
        case Read::Integer:
            if (auto value = reader.read_u32(); !value) {
                result = std::unexpected(value.error());
            }
            break;
        case Read::String:
            if (auto value = reader.read_string(); !value) {
                result = std::unexpected(value.error());
            }
            break;
        }
        if (result) {
            result = reader.finish();
        }
        ASSERT_FALSE(result) << c.text;
        EXPECT_EQ(result.error(), c.error) << c.text;
    }
}

// What the JSON library underneath would let through or word its own way is refused as the rest.
TEST(JsonReaderTest, ByteOrderMarksZeroBytesAndHugeNumbersAreRefused) {
    EXPECT_EQ(JsonReader("\xEF\xBB\xBF{}").skip_value().error(), "expected a value at byte 0");
    JsonReader after_zero(std::string_view("[1]\0 2", 6));
    ASSERT_TRUE(after_zero.skip_value());
    EXPECT_EQ(after_zero.finish().error(), "unexpected text after the document at byte 3");
    EXPECT_EQ(JsonReader("[1E400]").skip_value().error(), "number out of range at byte 1");
}

} // namespace
} // namespace quillmere::dat_tool
