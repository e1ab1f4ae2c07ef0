// Tests of setup models and their records.
#include "quillmere/dat/file_type/setup_model.hpp"
#include "quillmere/testkit/bytes.hpp"
#include "quillmere/testkit/matchers.hpp"
#include "quillmere/testkit/portal_files.hpp"

#include <climits>
#include <functional>
#include <gtest/gtest.h>

namespace quillmere::dat::file_type::setup_model {
namespace {

using testkit::Bytes;
using testkit::contexts_of;
using Contexts = std::vector<std::string>;

common::DecodeResult<SetupModel> decode(std::span<const std::uint8_t> bytes,
                                        std::uint64_t* end = nullptr) {
    common::ByteCursor cursor(bytes);
    auto model = SetupModel::read(cursor);
    if (end != nullptr) {
        *end = cursor.position();
    }
    return model;
}

std::string field(std::string_view name, std::string_view record) {
    return "While parsing field '" + std::string(name) + "' in " + std::string(record);
}

Contexts vector_contexts(std::size_t k) {
    return {field(std::string(1, "xyz"[k / 4]), "Vector3")};
}

Contexts with(Contexts inner, std::string outer) {
    inner.push_back(std::move(outer));
    return inner;
}

// The contexts of each record when it runs out of input after k of its bytes.
Contexts location_contexts(std::size_t k) {
    if (k < 4) {
        return {field("part_id", "LocationType")};
    }
    return with(testkit::frame_contexts_at(k - 4), field("frame", "LocationType"));
}

Contexts cyl_sphere_contexts(std::size_t k) {
    if (k < 12) {
        return with(vector_contexts(k), field("origin", "CylSphere"));
    }
    return {field(k < 16 ? "radius" : "height", "CylSphere")};
}

Contexts sphere_contexts(std::size_t k) {
    if (k < 12) {
        return with(vector_contexts(k), field("center", "Sphere"));
    }
    return {field("radius", "Sphere")};
}

Contexts light_contexts(std::size_t k) {
    if (k < 28) {
        return with(testkit::frame_contexts_at(k), field("viewer_space_location", "LightInfo"));
    }
    const char* names[] = {"color", "intensity", "falloff", "cone_angle"};
    return {field(names[(k - 28) / 4], "LightInfo")};
}

TEST(SetupModelTest, SmallestModelIs104BytesAndItsLastWordIsRequired) {
    const auto file = testkit::build_setup_model({});
    ASSERT_EQ(file.size(), 104u);
    std::uint64_t end = 0;
    auto model = decode(file, &end);
    ASSERT_TRUE(model) << model.error().message();
    EXPECT_EQ(end, 104u);
    EXPECT_EQ(*model, testkit::expected_setup_model({}));
    EXPECT_FALSE(model->default_script_table.has_value());

    // A primitive read that runs short leaves the cursor where it started: at the last word.
    auto cut = decode(std::span(file.data(), 103), &end);
    ASSERT_FALSE(cut);
    EXPECT_EQ(end, 100u);
    EXPECT_EQ(cut.error().kind(), common::DecodeError::Kind::Io);
    EXPECT_EQ(cut.error().message(), "failed to fill whole buffer");
}

// Only bits 0 and 1 of the flags add bytes: 4 per part for parent indices, 12 per part for
// scales; any other bit is kept but changes nothing.
TEST(SetupModelTest, FlagBitsZeroAndOneDecideParentIndexAndDefaultScale) {
    const auto size_with = [](std::uint32_t flags) {
        return testkit::build_setup_model(testkit::make_setup_model_spec(4, flags, 2, 1, 3)).size();
    };
    EXPECT_EQ(size_with(0x3) - size_with(0x0), 8u + 24u);
    EXPECT_EQ(size_with(0x1) - size_with(0x0), 8u);
    EXPECT_EQ(size_with(0x4), size_with(0x0));

    for (std::uint32_t flags : {0x0u, 0x1u, 0x2u, 0x3u, 0x4u, 0xFFFFFFFCu, 0xFFFFFFFFu}) {
        const auto plan = testkit::make_setup_model_spec(flags % 97, flags, 2, 2, 3);
        auto model = decode(testkit::build_setup_model(plan));
        ASSERT_TRUE(model) << model.error().message();
        EXPECT_EQ(model->flags, flags);
        EXPECT_EQ(model->parent_index.size(), (flags & 0x1) != 0 ? 2u : 0u);
        EXPECT_EQ(model->default_scale.size(), (flags & 0x2) != 0 ? 2u : 0u);
        EXPECT_EQ(*model, testkit::expected_setup_model(plan));
    }
}

// Generated models with every block filled, every hook type in the placements, no parts (the
// placements then hold hooks only) and trailing bytes, which are ignored.
TEST(SetupModelTest, GeneratedModelsDecodeToTheirSpec) {
    struct Shape {
        std::uint32_t flags, parts, placements, hooks;
    };
    const Shape shapes[] = {{0x3, 0, 3, 2}, {0x3, 1, 1, 0}, {0x1, 4, 3, 27}, {0x2, 7, 2, 40}};
    for (const auto& shape : shapes) {
        const auto plan = testkit::make_setup_model_spec(shape.parts + 17, shape.flags, shape.parts,
                                                         shape.placements, shape.hooks);
        const auto file = testkit::build_setup_model(plan);
        std::uint64_t end = 0;
        auto model = decode(Bytes().raw(file).fill(6, 0xEE).take(), &end);
        ASSERT_TRUE(model) << model.error().message();
        EXPECT_EQ(*model, testkit::expected_setup_model(plan));
        EXPECT_EQ(end, file.size());
        for (const auto& [key, placement] : model->placement_frames) {
            EXPECT_EQ(placement.anim_frame.frames.size(), shape.parts) << key;
        }
    }
}

TEST(SetupModelTest, LaterEqualKeysReplaceEarlierOnesAndNegativeKeysAreKept) {
    const auto location = [](std::uint32_t seed) {
        return LocationType{static_cast<std::int32_t>(seed), testkit::make_frame(seed)};
    };
    const auto light = [](std::uint32_t seed) {
        return LightInfo{testkit::make_frame(seed), seed, 1, 2, 3};
    };
    const auto placement = [](std::uint32_t seed) {
        return testkit::AnimationFrameSpec{
            {testkit::make_frame(seed)}, {testkit::make_hook(seed % 27, 0, seed)}, std::nullopt};
    };
    testkit::SetupModelSpec plan;
    plan.parts = {0x01000001};
    plan.holding_locations = {{5, location(1)}, {-3, location(2)}, {5, location(3)}};
    plan.connection_points = {{INT_MIN, location(4)}, {INT_MIN, location(5)}};
    plan.placement_frames = {{-1, placement(6)}, {0, placement(7)}, {-1, placement(8)}};
    plan.lights = {{-7, light(9)}, {-7, light(10)}, {2, light(11)}};

    auto model = decode(testkit::build_setup_model(plan));
    ASSERT_TRUE(model) << model.error().message();
    EXPECT_EQ(model->holding_locations.size(), 2u);
    EXPECT_EQ(model->holding_locations.at(5), location(3));
    EXPECT_EQ(model->holding_locations.at(-3), location(2));
    EXPECT_EQ(model->connection_points.size(), 1u);
    EXPECT_EQ(model->connection_points.at(INT_MIN), location(5));
    EXPECT_EQ(model->placement_frames.size(), 2u);
    EXPECT_EQ(model->placement_frames.at(-1).anim_frame.hooks, placement(8).hooks);
    EXPECT_EQ(model->lights.size(), 2u);
    EXPECT_EQ(model->lights.at(-7), light(10));
    EXPECT_EQ(*model, testkit::expected_setup_model(plan));
}

// A negative placement count is refused at the offset just after it, before anything else is
// read: the file may end right there.
TEST(SetupModelTest, NegativePlacementCountIsRefusedRightAfterTheCount) {
    struct Case {
        std::int32_t count;
        std::size_t holdings;
        const char* message;
    };
    const Case cases[] = {
        {-1, 0, "SetupModel 0x02000001 declared negative placement count -1 at 0x18"},
        {INT_MIN, 1, "SetupModel 0x02000001 declared negative placement count -2147483648 at 0x3c"},
    };
    for (const auto& tc : cases) {
        testkit::SetupModelSpec plan;
        plan.num_placements = tc.count;
        for (std::size_t i = 0; i < tc.holdings; ++i) {
            plan.holding_locations.push_back({1, {}});
        }
        const auto file = testkit::build_setup_model(plan);
        const std::size_t after_count = 12 + 4 + 36 * tc.holdings + 4 + 4;
        for (std::size_t length : {file.size(), after_count}) {
            auto model = decode(std::span(file.data(), length));
            ASSERT_FALSE(model);
            EXPECT_EQ(model.error().kind(), common::DecodeError::Kind::Custom);
            EXPECT_EQ(model.error().message(), tc.message);
            ASSERT_NE(model.error().custom_error(), nullptr);
            EXPECT_EQ(model.error().custom_error()->pos, after_count);
        }
    }
}

TEST(SetupModelTest, ZeroDefaultWordsAreAbsentAndOthersKeptAsStored) {
    testkit::SetupModelSpec plan;
    plan.default_ids = {0xFFFFFFFF, 0, 0x33000005, 0, 1};
    auto model = decode(testkit::build_setup_model(plan));
    ASSERT_TRUE(model);
    EXPECT_EQ(model->default_animation, 0xFFFFFFFFu);
    EXPECT_EQ(model->default_script, std::nullopt);
    EXPECT_EQ(model->default_motion_table, 0x33000005u);
    EXPECT_EQ(model->default_sound_table, std::nullopt);
    EXPECT_EQ(model->default_script_table, 1u);

    plan.default_ids.fill(0xFFFFFFFF);
    model = decode(testkit::build_setup_model(plan));
    ASSERT_TRUE(model);
    for (const auto& id :
         {model->default_animation, model->default_script, model->default_motion_table,
          model->default_sound_table, model->default_script_table}) {
        EXPECT_EQ(id, 0xFFFFFFFFu);
    }
    EXPECT_EQ(SetupModel::decode_optional_resource_id(0), std::nullopt);
    EXPECT_EQ(SetupModel::decode_optional_resource_id(7), 7u);
}

// A cut inside each record of a model names the record's field (inside the inner records'
// entries); a cut in the model's own counts and floats is a plain short read.
TEST(SetupModelTest, ShortRecordInsideAModelNamesItsField) {
    testkit::SetupModelSpec holding;
    holding.holding_locations = {{1, LocationType{2, testkit::make_frame(1)}}};
    testkit::SetupModelSpec connection;
    connection.connection_points = {{1, LocationType{2, testkit::make_frame(1)}}};
    testkit::SetupModelSpec cyl;
    cyl.cyl_spheres = {CylSphere{{1, 2, 3}, 4, 5}};
    testkit::SetupModelSpec sphere;
    sphere.spheres = {common::Sphere{{1, 2, 3}, 4}};
    testkit::SetupModelSpec light;
    light.lights = {{1, LightInfo{testkit::make_frame(2), 3, 4, 5, 6}}};
    testkit::SetupModelSpec scale;
    scale.flags = 0x2;
    scale.parts = {9};
    scale.default_scale = {{1, 2, 3}};

    struct Case {
        const char* what;
        const testkit::SetupModelSpec& plan;
        std::size_t offset, size;
        std::function<Contexts(std::size_t)> contexts;
    };
    const testkit::SetupModelSpec empty;
    const Case cases[] = {
        {"holding location", holding, 12 + 4 + 4, 32, location_contexts},
        {"connection point", connection, 12 + 4 + 4 + 4, 32, location_contexts},
        {"cylinder", cyl, 12 + 4 + 4 + 4 + 4, 20, cyl_sphere_contexts},
        {"sphere", sphere, 12 + 4 + 4 + 4 + 4 + 4, 16, sphere_contexts},
        {"sorting sphere", empty, 12 + 5 * 4 + 16, 16, sphere_contexts},
        {"selection sphere", empty, 12 + 5 * 4 + 16 + 16, 16, sphere_contexts},
        {"light", light, 12 + 5 * 4 + 16 + 32 + 4 + 4, 44, light_contexts},
        {"default scale", scale, 12 + 4, 12, vector_contexts},
    };
    for (const auto& tc : cases) {
        const auto file = testkit::build_setup_model(tc.plan);
        ASSERT_TRUE(decode(file)) << tc.what;
        for (std::size_t k = 0; k < tc.size; ++k) {
            auto model = decode(std::span(file.data(), tc.offset + k));
            ASSERT_FALSE(model) << tc.what << " " << k;
            EXPECT_TRUE(testkit::is_short_read(model.error())) << tc.what << " " << k;
            EXPECT_EQ(contexts_of(model.error()), tc.contexts(k)) << tc.what << " " << k;
        }
    }
}

// Cut anywhere, a full model fails with a short read and no model.
TEST(SetupModelTest, EveryTruncationFails) {
    const auto file = testkit::build_setup_model(testkit::make_setup_model_spec(21, 0x3, 2, 2, 3));
    for (std::size_t length = 0; length < file.size(); ++length) {
        auto model = decode(std::span(file.data(), length));
        ASSERT_FALSE(model) << "length " << length;
        EXPECT_TRUE(testkit::is_short_read(model.error())) << "length " << length;
    }
}

TEST(SetupModelTest, PlacementHookErrorPassesThroughUnchanged) {
    testkit::SetupModelSpec plan;
    plan.placement_frames = {{0, {{}, {testkit::Hook{27, 0, {}}}, std::nullopt}}};
    auto model = decode(testkit::build_setup_model(plan));
    ASSERT_FALSE(model);
    EXPECT_EQ(model.error().kind(), common::DecodeError::Kind::Custom);
    // id, flags, num_parts, two empty maps, count, key, hook count, hook header: payload at 0x28.
    EXPECT_EQ(model.error().message(), "Unsupported AnimationHook type: 0x0000001B at 0x28");
}

// Counts of 0xFFFFFFFF (0x7FFFFFFF for the signed placement count) over a few bytes fail with the
// short read of the first missing entry, fast and within a small memory budget.
TEST(SetupModelTest, HugeCountsFailFastWithLittleMemory) {
    std::vector<testkit::SetupModelSpec> specs(8);
    specs[0].num_parts = 0xFFFFFFFF;
    specs[1].flags = 0x3;
    specs[1].num_parts = 0xFFFFFFFF;
    specs[2].num_holding = 0xFFFFFFFF;
    specs[3].num_conn = 0xFFFFFFFF;
    specs[4].num_placements = 0x7FFFFFFF;
    specs[5].num_cyl = 0xFFFFFFFF;
    specs[6].num_sph = 0xFFFFFFFF;
    specs[7].num_lights = 0xFFFFFFFF;
    for (std::size_t i = 0; i < specs.size(); ++i) {
        const auto file = testkit::build_setup_model(specs[i]);
        const int outcome = testkit::run_with_memory_budget(64 << 20, 20, [&] {
            auto model = decode(file);
            return !model && testkit::is_short_read(model.error());
        });
        EXPECT_EQ(outcome, 0) << "plan " << i;
    }
}

// The record readers follow the record rule on their own: every cut names the field and puts the
// cursor back at the record's start, and write_le gives back the bytes read.
template <class Record>
void check_record(const Record& value, const std::vector<std::uint8_t>& wire,
                  const std::function<Contexts(std::size_t)>& contexts) {
    std::vector<std::uint8_t> written;
    common::ByteWriter writer(written);
    value.write_le(writer);
    EXPECT_EQ(written, wire);

    const auto buffer = Bytes().fill(5, 0xAB).raw(wire).take();
    for (std::size_t length = 5; length <= buffer.size(); ++length) {
        common::ByteCursor cursor(std::span(buffer.data(), length));
        cursor.set_position(5);
        auto record = Record::read_le(cursor);
        if (length == buffer.size()) {
            ASSERT_TRUE(record);
            EXPECT_EQ(*record, value);
            EXPECT_EQ(cursor.position(), buffer.size());
        } else {
            ASSERT_FALSE(record);
            EXPECT_TRUE(testkit::is_short_read(record.error()));
            EXPECT_EQ(contexts_of(record.error()), contexts(length - 5)) << length;
            EXPECT_EQ(cursor.position(), 5u);
        }
    }
}

TEST(SetupModelTest, RecordsFollowTheRecordRule) {
    const auto frame = testkit::make_frame(3);
    Bytes location;
    location.i32(-2);
    testkit::append_frame(location, frame);
    check_record(LocationType{-2, frame}, location.take(), location_contexts);

    check_record(CylSphere{{1, 2, 3}, 4, 5}, Bytes().f32(1).f32(2).f32(3).f32(4).f32(5).take(),
                 cyl_sphere_contexts);

    Bytes light;
    testkit::append_frame(light, frame);
    light.u32(0xFF00FF00).f32(1).f32(2).f32(3);
    check_record(LightInfo{frame, 0xFF00FF00, 1, 2, 3}, light.take(), light_contexts);
}

} // namespace
} // namespace quillmere::dat::file_type::setup_model
