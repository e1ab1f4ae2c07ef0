// Tests of the typed payload views: every hook type's layout, field order, sizes, the packed part
// id of ReplaceObject, and short data.
#include "file_type/detail/hook_payload.hpp"
#include "quillmere/dat/file_type/hook_payload.hpp"
#include "quillmere/testkit/bytes.hpp"
#include "quillmere/testkit/matchers.hpp"
#include "quillmere/testkit/portal_files.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quillmere::dat::file_type::setup_model {
namespace {

using common::ByteCursor;
using common::Quaternion;
using common::Vector3;
using testkit::Bytes;

// One row of the hook table: the payload bytes written field by field in wire order, the view a
// correct decoder gives for them, and the field names in order with the byte each one starts at.
struct Row {
    std::uint32_t type;
    std::vector<std::uint8_t> payload;
    HookPayload expected;
    std::string record;
    std::vector<std::pair<std::size_t, std::string>> fields;
};

const graphics::Frame kOffset{Vector3{1.5f, -2.0f, 3.25f}, Quaternion{0.5f, -0.5f, 0.25f, 1.0f}};

std::vector<Row> hook_table() {
    auto ramp = [](std::uint32_t type) {
        return Row{type,
                   Bytes().f32(0.25f).f32(0.75f).f32(2.5f).take(),
                   Ramp{0.25f, 0.75f, 2.5f},
                   "Ramp",
                   {{0, "start"}, {4, "end"}, {8, "time"}}};
    };
    auto part_ramp = [](std::uint32_t type) {
        return Row{type,
                   Bytes().u32(7).f32(0.25f).f32(0.75f).f32(2.5f).take(),
                   PartRamp{7, 0.25f, 0.75f, 2.5f},
                   "PartRamp",
                   {{0, "part"}, {4, "start"}, {8, "end"}, {12, "time"}}};
    };
    auto particle = [](std::uint32_t type) {
        return Row{type,
                   Bytes()
                       .u32(0x32000011)
                       .u32(4)
                       .f32(1.5f)
                       .f32(-2.0f)
                       .f32(3.25f)
                       .f32(0.5f)
                       .f32(-0.5f)
                       .f32(0.25f)
                       .f32(1.0f)
                       .u32(9)
                       .take(),
                   CreateParticleHookPayload{0x32000011, 4, kOffset, 9},
                   "CreateParticleHookPayload",
                   {{0, "emitter_info_id"}, {4, "part_index"}, {8, "offset"}, {36, "emitter_id"}}};
    };
    auto emitter = [](std::uint32_t type) {
        return Row{type,
                   Bytes().u32(12).take(),
                   ParticleEmitterPayload{12},
                   "ParticleEmitterPayload",
                   {{0, "emitter_id"}}};
    };
    return {
        {0, {}, EmptyPayload{}, "", {}},
        {1, Bytes().u32(0x0A000123).take(), SoundPayload{0x0A000123}, "SoundPayload", {{0, "id"}}},
        {2, Bytes().u32(3).take(), SoundTablePayload{3}, "SoundTablePayload", {{0, "sound_type"}}},
        {3,
         Bytes().u32(2).f32(-1.0f).f32(0.5f).f32(1.0f).f32(0.5f).f32(3.0f).f32(1.75f).take(),
         AttackCone{2, -1.0f, 0.5f, 1.0f, 0.5f, 3.0f, 1.75f},
         "AttackCone",
         {{0, "part_index"},
          {4, "left_x"},
          {8, "left_y"},
          {12, "right_x"},
          {16, "right_y"},
          {20, "radius"},
          {24, "height"}}},
        {4, {}, EmptyPayload{}, "", {}},
        {5,
         Bytes().u8(6).u16(0x1234).take(),
         AnimPartChange{6, 0x1234},
         "AnimPartChange",
         {{0, "part_index"}, {1, "part_id"}}},
        {6, Bytes().i32(-1).take(), EtherealPayload{-1}, "EtherealPayload", {{0, "ethereal"}}},
        part_ramp(7),
        ramp(8),
        part_ramp(9),
        ramp(10),
        part_ramp(11),
        {12,
         Bytes().f32(1.25f).f32(0.5f).take(),
         ScalePayload{1.25f, 0.5f},
         "ScalePayload",
         {{0, "end"}, {4, "time"}}},
        particle(13),
        emitter(14),
        emitter(15),
        {16, Bytes().u32(1).take(), NoDrawPayload{1}, "NoDrawPayload", {{0, "no_draw"}}},
        {17, {}, EmptyPayload{}, "", {}},
        {18,
         Bytes().u32(5).take(),
         DefaultScriptPartPayload{5},
         "DefaultScriptPartPayload",
         {{0, "part_index"}}},
        {19,
         Bytes().u32(0x33000042).f32(0.125f).take(),
         CallPesPayload{0x33000042, 0.125f},
         "CallPesPayload",
         {{0, "pes"}, {4, "pause"}}},
        ramp(20),
        {21,
         Bytes().u32(0x0A000777).f32(0.5f).f32(0.25f).f32(0.75f).take(),
         SoundTweakedPayload{0x0A000777, 0.5f, 0.25f, 0.75f},
         "SoundTweakedPayload",
         {{0, "sound_id"}, {4, "probability"}, {8, "priority"}, {12, "volume"}}},
        {22,
         Bytes().f32(0.0f).f32(-1.0f).f32(2.0f).take(),
         SetOmegaPayload{Vector3{0.0f, -1.0f, 2.0f}},
         "SetOmegaPayload",
         {{0, "axis"}}},
        {23,
         Bytes().f32(0.5f).f32(-0.5f).take(),
         TextureVelocityPayload{0.5f, -0.5f},
         "TextureVelocityPayload",
         {{0, "u_speed"}, {4, "v_speed"}}},
        {24,
         Bytes().u32(3).f32(0.5f).f32(-0.5f).take(),
         TextureVelocityPartPayload{3, 0.5f, -0.5f},
         "TextureVelocityPartPayload",
         {{0, "part_index"}, {4, "u_speed"}, {8, "v_speed"}}},
        {25, Bytes().i32(1).take(), SetLightPayload{1}, "SetLightPayload", {{0, "lights_on"}}},
        particle(26),
    };
}

TEST(HookPayloadTest, TableCoversEveryHookTypeWithItsPayloadSize) {
    const auto table = hook_table();
    ASSERT_EQ(table.size(), kHookTypeCount);
    for (std::uint32_t type = 0; type < kHookTypeCount; ++type) {
        EXPECT_EQ(table[type].type, type);
        if (const auto size = fixed_payload_size(type)) {
            EXPECT_EQ(table[type].payload.size(), *size) << type;
        }
    }
}

// Each type's fields are read in wire order with the right widths and kinds.
TEST(HookPayloadTest, EveryTypeDecodesItsFieldsInOrder) {
    for (const auto& row : hook_table()) {
        auto view = unpack_payload(row.type, row.payload);
        ASSERT_TRUE(view) << row.type << ": " << view.error().message();
        EXPECT_EQ(*view, row.expected) << row.type;
    }
}

// Types sharing a layout are told apart by the hook, not the view: the three ramps and the two
// particle creations decode to the same alternative.
TEST(HookPayloadTest, SharedLayoutsShareAnAlternative) {
    const auto table = hook_table();
    auto index = [&](std::uint32_t type) { return table[type].expected.index(); };
    EXPECT_EQ(index(7), index(9));
    EXPECT_EQ(index(7), index(11));
    EXPECT_EQ(index(8), index(10));
    EXPECT_EQ(index(8), index(20));
    EXPECT_EQ(index(13), index(26));
    EXPECT_EQ(index(14), index(15));
    EXPECT_EQ(index(0), index(4));
    EXPECT_EQ(index(0), index(17));
    EXPECT_NE(index(7), index(8));
}

// Cutting a payload short at every length fails with a short read whose outermost context names
// the field the cut falls into.
TEST(HookPayloadTest, ShortDataFailsNamingTheFieldItHits) {
    for (const auto& row : hook_table()) {
        for (std::size_t length = 0; length < row.payload.size(); ++length) {
            const std::span<const std::uint8_t> cut(row.payload.data(), length);
            auto view = unpack_payload(row.type, cut);
            ASSERT_FALSE(view) << row.type << " cut at " << length;
            EXPECT_TRUE(testkit::is_short_read(view.error())) << row.type << " at " << length;
            std::string field;
            for (const auto& [start, name] : row.fields) {
                if (start <= length) {
                    field = name;
                }
            }
            const auto contexts = testkit::contexts_of(view.error());
            ASSERT_FALSE(contexts.empty()) << row.type << " at " << length;
            EXPECT_EQ(contexts.back(), "While parsing field '" + field + "' in " + row.record)
                << row.type << " at " << length;
        }
    }
}

TEST(HookPayloadTest, NestedRecordsKeepTheirInnerContexts) {
    const auto row = hook_table()[13];
    auto view = unpack_payload(13, std::span(row.payload).first(16));
    ASSERT_FALSE(view);
    EXPECT_EQ(testkit::contexts_of(view.error()),
              (std::vector<std::string>{"While parsing field 'z' in Vector3",
                                        "While parsing field 'origin' in Frame",
                                        "While parsing field 'offset' in "
                                        "CreateParticleHookPayload"}));
}

TEST(HookPayloadTest, PaddingAndExtraBytesAfterThePayloadAreIgnored) {
    for (const auto& row : hook_table()) {
        auto longer = row.payload;
        longer.insert(longer.end(), {0xAB, 0xCD, 0xEF, 0x01});
        auto view = unpack_payload(row.type, longer);
        ASSERT_TRUE(view) << row.type;
        EXPECT_EQ(*view, row.expected) << row.type;
    }
}

TEST(HookPayloadTest, UnknownTypeIsRefusedWithTheDecodersMessage) {
    for (std::uint32_t type : {27U, 0xFFFFFFFFU}) {
        auto view = unpack_payload(type, std::vector<std::uint8_t>(64, 0));
        ASSERT_FALSE(view);
        const auto* custom = view.error().custom_error();
        ASSERT_NE(custom, nullptr);
        EXPECT_EQ(custom->pos, 0U);
        EXPECT_EQ(custom->message, "Unsupported AnimationHook type: 0x" +
                                       std::string(type == 27 ? "0000001B" : "FFFFFFFF"));
    }
}

// The packed part id: the word itself when bit 15 is clear, else (upper & 0x7FFF) << 16 | lower.
TEST(HookPayloadTest, ReplaceObjectCombinesThePackedPartId) {
    struct Case {
        std::vector<std::uint8_t> payload;
        AnimPartChange expected;
    };
    const std::vector<Case> cases = {
        {Bytes().u8(3).u16(0x1234).u8(0xFF).take(), {3, 0x1234}},
        {Bytes().u8(0).u16(0x7FFF).u8(0).take(), {0, 0x7FFF}},
        {Bytes().u8(3).u16(0x8001).u16(0x0002).raw({1, 2, 3}).take(), {3, 0x00010002}},
        {Bytes().u8(255).u16(0x8000).u16(0x0005).take(), {255, 0x00000005}},
        {Bytes().u8(1).u16(0xFFFF).u16(0xFFFF).take(), {1, 0x7FFFFFFF}},
    };
    for (const auto& c : cases) {
        auto view = unpack_payload(5, c.payload);
        ASSERT_TRUE(view);
        EXPECT_EQ(std::get<AnimPartChange>(*view), c.expected) << c.expected.part_id;
    }
}

TEST(HookPayloadTest, LongPartIdWithoutItsSecondWordFails) {
    for (std::size_t length : {3U, 4U}) {
        auto view =
            unpack_payload(5, std::span(Bytes().u8(3).u16(0x8001).u16(2).bytes()).first(length));
        ASSERT_FALSE(view) << length;
        EXPECT_TRUE(testkit::is_short_read(view.error()));
        EXPECT_EQ(testkit::contexts_of(view.error()),
                  std::vector<std::string>{"While parsing field 'part_id' in AnimPartChange"});
    }
}

TEST(HookPayloadTest, PackedIdFailureLeavesTheCursorAtItsStart) {
    const auto data = Bytes().u8(9).u16(0x8001).u8(0).take();
    ByteCursor cursor(data);
    cursor.set_position(1);
    auto id = detail::read_packed_id(cursor);
    ASSERT_FALSE(id);
    EXPECT_EQ(cursor.position(), 1U);
}

// Hooks as the decoder returns them, padding included, view cleanly; the hook is left as it was.
TEST(HookPayloadTest, DecodedHooksOfEveryTypeViewWithoutChange) {
    for (std::uint32_t type = 0; type < kHookTypeCount; ++type) {
        for (std::uint32_t seed : {1U, 2U}) {
            const auto hook = testkit::make_hook(type, -1, seed);
            Bytes wire;
            testkit::append_hook(wire, hook);
            ByteCursor cursor(wire.bytes());
            auto decoded = AnimationHook::read(cursor);
            ASSERT_TRUE(decoded) << type;
            const auto before = *decoded;
            auto view = unpack_payload(*decoded);
            ASSERT_TRUE(view) << type << ": " << view.error().message();
            EXPECT_EQ(view->index(), hook_table()[type].expected.index()) << type;
            EXPECT_EQ(*decoded, before);
        }
    }
}

// The public table of hook types says what the decoders do: each type's payload record, its
// fields in order and its size.
TEST(HookPayloadTest, HookTypeTableMatchesTheDecoders) {
    for (const auto& row : hook_table()) {
        const hooks::HookTypeInfo& info = hooks::kHookTypes[row.type];
        EXPECT_EQ(hooks::hook_type_number(info.type), row.type);
        EXPECT_EQ(hooks::hook_type_of(row.type), info.type);
        EXPECT_EQ(info.payload_size, fixed_payload_size(row.type)) << row.type;
        std::vector<std::string> names;
        for (const auto& [start, name] : row.fields) {
            names.push_back(name);
        }
        EXPECT_EQ(std::vector<std::string>(info.fields.begin(), info.fields.end()), names);
        EXPECT_EQ(info.payload_record, row.record.empty() ? "EmptyPayload" : row.record);
    }
    EXPECT_EQ(hooks::hook_type_name(hooks::HookType::CallPES), "CallPES");
    EXPECT_EQ(hooks::hook_type_name(27U), "");
    EXPECT_FALSE(hooks::hook_type_of(27));
}

// Every payload kind encodes to its wire bytes, padded with zeros to a multiple of 4, and the
// encoded bytes decode to the payload again.
TEST(HookPayloadTest, EveryTypeEncodesBackToItsBytes) {
    for (const auto& row : hook_table()) {
        auto packed = pack_payload(row.type, row.expected);
        ASSERT_TRUE(packed) << row.type << ": " << packed.error().message();
        auto padded = row.payload;
        padded.resize((padded.size() + 3) / 4 * 4, 0);
        EXPECT_EQ(*packed, padded) << row.type;
        EXPECT_EQ(unpack_payload(row.type, *packed), row.expected) << row.type;
    }
}

// The packed id takes one word below 0x8000 and two from there on; the padding follows suit.
TEST(HookPayloadTest, ReplaceObjectEncodesEitherWidth) {
    const std::pair<AnimPartChange, std::vector<std::uint8_t>> cases[] = {
        {{3, 0x1234}, Bytes().u8(3).u16(0x1234).u8(0).take()},
        {{0, 0x7FFF}, Bytes().u8(0).u16(0x7FFF).u8(0).take()},
        {{1, 0x8000}, Bytes().u8(1).u16(0x8000).u16(0x8000).raw({0, 0, 0}).take()},
        {{3, 0x00010002}, Bytes().u8(3).u16(0x8001).u16(0x0002).raw({0, 0, 0}).take()},
        {{255, 0x7FFFFFFF}, Bytes().u8(255).u16(0xFFFF).u16(0xFFFF).raw({0, 0, 0}).take()},
    };
    for (const auto& [payload, bytes] : cases) {
        EXPECT_EQ(pack_payload(5, payload), bytes) << payload.part_id;
    }
    auto too_wide = pack_payload(5, AnimPartChange{1, 0x80000000});
    ASSERT_FALSE(too_wide);
    EXPECT_EQ(too_wide.error().message(), "part_id 0x80000000 does not fit a packed id at 0x0");
}

// An edit: the payload decoded, a field changed, written back; a payload of another layout or
// a hook of an unknown type is refused and leaves the hook as it was.
TEST(HookPayloadTest, SetPayloadWritesAnEditAndRefusesMismatches) {
    auto hook = testkit::make_replace_object_long(-1, 2, 0x8001, 0x0002, {9, 9, 9});
    auto payload = unpack_payload(hook);
    ASSERT_TRUE(payload);
    std::get<AnimPartChange>(*payload).part_id = 0x0042;
    ASSERT_TRUE(set_payload(hook, *payload));
    EXPECT_EQ(hook.data, Bytes().u8(2).u16(0x0042).u8(0).take());
    EXPECT_EQ(hook.direction, -1);
    EXPECT_EQ(hook.type(), HookType::ReplaceObject);

    const auto before = hook;
    auto mismatch = set_payload(hook, SoundPayload{7});
    ASSERT_FALSE(mismatch);
    EXPECT_EQ(mismatch.error().message(),
              "SoundPayload is not the payload of a ReplaceObject hook at 0x0");
    hook.hook_type = 27;
    EXPECT_FALSE(set_payload(hook, *payload));
    EXPECT_EQ(hook.data, before.data);
    EXPECT_EQ(hook.type(), std::nullopt);
}

} // namespace
} // namespace quillmere::dat::file_type::setup_model
