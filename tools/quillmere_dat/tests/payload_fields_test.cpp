// Tests of the payload fields as the hooks command prints them.
#include "json_reading.hpp"
#include "payload_fields.hpp"

#include <gtest/gtest.h>
#include <limits>

namespace quillmere::dat_tool {
namespace {

namespace setup = dat::file_type::setup_model;

TEST(PayloadFieldsTest, FieldsFollowThePayloadInWireOrder) {
    const setup::HookPayload payload = setup::CreateParticleHookPayload{
        0x32000010, 2, {{0.5f, -0.25f, 2.0f}, {1.0f, 0.0f, 0.0f, 0.0f}}, 7};
    EXPECT_EQ(fields_text(payload_fields(payload)),
              "emitter_info_id=0x32000010 part_index=2 "
              "offset={origin=(0.5, -0.25, 2) orientation=(1, 0, 0, 0)} emitter_id=7");
}

// File ids print as 0x and eight digits, other numbers in decimal, signed ones with their sign.
TEST(PayloadFieldsTest, IdsAreHexAndOtherNumbersDecimal) {
    struct Case {
        setup::HookPayload payload;
        std::string text;
    };
    const Case cases[] = {
        {setup::EmptyPayload{}, ""},
        {setup::SoundPayload{0x0A00002A}, "id=0x0A00002A"},
        {setup::SoundTablePayload{42}, "sound_type=42"},
        {setup::AnimPartChange{3, 0x00010002}, "part_index=3 part_id=0x00010002"},
        {setup::EtherealPayload{-1}, "ethereal=-1"},
        {setup::CallPesPayload{0x33000042, 0.75f}, "pes=0x33000042 pause=0.75"},
        {setup::SoundTweakedPayload{0x0A000001, 0.5f, 1, 0.25f},
         "sound_id=0x0A000001 probability=0.5 priority=1 volume=0.25"},
        {setup::SetOmegaPayload{{0, -1, 0.125f}}, "axis=(0, -1, 0.125)"},
        {setup::SetLightPayload{-7}, "lights_on=-7"},
        {setup::AttackCone{1, -0.5f, 0.5f, 0.5f, 0.5f, 2, 1.5f},
         "part_index=1 left_x=-0.5 left_y=0.5 right_x=0.5 right_y=0.5 radius=2 height=1.5"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fields_text(payload_fields(c.payload)), c.text);
    }
}

TEST(PayloadFieldsTest, JsonKeepsFieldNamesAndTypes) {
    const setup::HookPayload payload = setup::CreateParticleHookPayload{
        0x32000010, 2, {{0.5f, -0.25f, 2.0f}, {1.0f, 0.0f, 0.0f, 0.0f}}, 7};
    auto json = testing::parse_json(fields_json(payload_fields(payload)).dump());
    ASSERT_TRUE(json);
    EXPECT_EQ(testing::keys(*json),
              (std::vector<std::string>{"emitter_info_id", "part_index", "offset", "emitter_id"}));
    EXPECT_EQ(json->at("emitter_info_id"), "0x32000010");
    EXPECT_EQ(json->at("part_index"), 2);
    EXPECT_EQ(json->at("offset").at("origin").at("y"), -0.25);
    EXPECT_EQ(json->at("offset").at("orientation").at("w"), 1);
    EXPECT_EQ(json->at("emitter_id"), 7);
}

} // namespace
} // namespace quillmere::dat_tool
