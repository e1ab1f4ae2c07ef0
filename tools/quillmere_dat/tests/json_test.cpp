// Tests of the tool's JSON writer: escaping, numbers, layout, and that every document it writes
// reads back through an independent parser.
#include "json.hpp"
#include "json_reading.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace quillmere::dat_tool {
namespace {

using testing::parse_json;

TEST(JsonTest, EveryByteStringGivesAValidDocument) {
    std::string all;
    for (int c = 0; c < 256; ++c) {
        all.push_back(static_cast<char>(c));
    }
    auto doc = Json::object();
    doc.set(all, Json::string(all));
    std::string error;
    EXPECT_TRUE(parse_json(doc.dump(), &error)) << error;
}

TEST(JsonTest, NumbersAreExactAndNonFiniteFloatsBecomeStrings) {
    EXPECT_EQ(Json::number(std::uint64_t{18446744073709551615U}).dump(), "18446744073709551615\n");
    EXPECT_EQ(Json::number(std::int32_t{-5}).dump(), "-5\n");
    EXPECT_EQ(Json::number(0.1f).dump(), "0.1\n");
    EXPECT_EQ(Json::number(-0.0f).dump(), "-0\n");
    EXPECT_EQ(Json::number(1e30f).dump(), "1e+30\n");
    EXPECT_EQ(Json::number(std::numeric_limits<float>::quiet_NaN()).dump(), "\"nan\"\n");
    EXPECT_EQ(Json::number(-std::numeric_limits<double>::infinity()).dump(), "\"-inf\"\n");
    EXPECT_EQ(Json::boolean(true).dump(), "true\n");
    EXPECT_EQ(Json().dump(), "null\n");

    for (float value : {0.1f, 3.4028235e38f, 1.4e-45f, -2.5f}) {
        auto parsed = parse_json(Json::number(value).dump());
        ASSERT_TRUE(parsed);
        EXPECT_EQ(static_cast<float>(parsed->get<double>()), value);
    }
}

TEST(JsonTest, TopTwoLevelsTakeALinePerMemberAndDeeperOnesStayOnOne) {
    auto inner = Json::object();
    inner.set("x", Json::number(1)).set("y", Json::array());
    auto list = Json::array();
    list.push(std::move(inner));
    auto doc = Json::object();
    doc.set("list", std::move(list)).set("empty", Json::object());
    EXPECT_EQ(doc.dump(), "{\n"
                          "  \"list\": [\n"
                          "    {\"x\": 1, \"y\": []}\n"
                          "  ],\n"
                          "  \"empty\": {}\n"
                          "}\n");
}

TEST(JsonTest, DocumentsRoundTripThroughAParser) {
    auto row = Json::object();
    row.set("id", Json::string("0x03000001"))
        .set("size", Json::number(7360U))
        .set("ok", Json::boolean(false))
        .set("nothing", Json())
        .set("nested", Json::array().push(Json::number(-1)).push(Json::string("\"q\"")));
    auto doc = Json::object();
    doc.set("rows", Json::array().push(row).push(row));
    auto first = parse_json(doc.dump());
    ASSERT_TRUE(first);
    auto second = parse_json(first->dump());
    ASSERT_TRUE(second);
    EXPECT_EQ(*first, *second);
    EXPECT_EQ(first->at("rows").at(1).at("nested").at(1), "\"q\"");
    EXPECT_EQ(first->at("rows").at(0).at("size").dump(), "7360");
}

} // namespace
} // namespace quillmere::dat_tool
