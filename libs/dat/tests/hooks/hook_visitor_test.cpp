// Tests of the hook visitor: for each hook-carrying type it gives the hooks the decoder gives, at
// their places, and the bytes the file occupies; a file that does not decode visits nothing.
#include "quillmere/dat/file_type/animation.hpp"
#include "quillmere/dat/file_type/physics_script.hpp"
#include "quillmere/dat/file_type/setup_model.hpp"
#include "quillmere/dat/hooks/hook_visitor.hpp"
#include "quillmere/testkit/portal_files.hpp"

#include <algorithm>
#include <expected>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quillmere::dat::hooks {
namespace {

using file_type::FileType;
using Buffer = std::vector<std::uint8_t>;

struct Visited {
    HookSite site;
    AnimationHook hook;
    friend bool operator==(const Visited&, const Visited&) = default;
};

// Every hook visited in `bytes`, copied; fails the test when the file does not decode.
std::vector<Visited> visit_all(FileType type, const Buffer& bytes) {
    std::vector<Visited> visited;
    auto consumed = visit_hooks(type, bytes, [&](const HookSite& site, const HookView& hook) {
        visited.push_back({site, hook.to_owned()});
    });
    EXPECT_TRUE(consumed) << consumed.error().message();
    return visited;
}

HookSite site_of(FileType type, std::uint32_t index) {
    HookSite site;
    site.file_type = type;
    site.index = index;
    return site;
}

TEST(HookVisitorTest, AnimationHooksComeFrameByFrame) {
    const auto bytes = testkit::build_animation(testkit::make_animation_spec(7, 3, 4, 5, true));
    auto animation = file_type::animation::Animation::read(bytes);
    ASSERT_TRUE(animation);
    std::vector<Visited> expected;
    for (std::uint32_t f = 0; f < animation->part_frames.size(); ++f) {
        const auto& hooks = animation->part_frames[f].hooks;
        for (std::uint32_t i = 0; i < hooks.size(); ++i) {
            auto site = site_of(FileType::Animation, i);
            site.frame = f;
            expected.push_back({site, hooks[i]});
        }
    }
    EXPECT_EQ(expected.size(), 20U);
    EXPECT_EQ(visit_all(FileType::Animation, bytes), expected);
}

// A key stored twice: only its last placement is visited, as the decoded model keeps it.
TEST(HookVisitorTest, SetupModelHooksComeByPlacementKey) {
    auto plan = testkit::make_setup_model_spec(5, 0, 2, 3, 2);
    testkit::AnimationFrameSpec later;
    later.frames = {testkit::make_frame(1), testkit::make_frame(2)};
    later.hooks = {testkit::make_hook(1, 1, 3)};
    plan.placement_frames.push_back({plan.placement_frames.front().key, later});
    plan.num_placements = static_cast<std::int32_t>(plan.placement_frames.size());
    const auto bytes = testkit::build_setup_model(plan);
    auto model = file_type::setup_model::SetupModel::read(bytes);
    ASSERT_TRUE(model);
    std::vector<std::int32_t> keys;
    for (const auto& [key, placement] : model->placement_frames) {
        keys.push_back(key);
    }
    std::sort(keys.begin(), keys.end());
    std::vector<Visited> expected;
    for (const std::int32_t key : keys) {
        const auto& hooks = model->placement_frames.at(key).anim_frame.hooks;
        for (std::uint32_t i = 0; i < hooks.size(); ++i) {
            auto site = site_of(FileType::SetupModel, i);
            site.placement_key = key;
            expected.push_back({site, hooks[i]});
        }
    }
    EXPECT_EQ(expected.size(), 5U);
    EXPECT_EQ(visit_all(FileType::SetupModel, bytes), expected);
}

TEST(HookVisitorTest, PhysicsScriptHooksComeEntryByEntry) {
    const auto bytes = testkit::build_physics_script(testkit::make_physics_script_spec(3, 30));
    auto script = file_type::physics_script::PhysicsScript::read(bytes);
    ASSERT_TRUE(script);
    std::vector<Visited> expected;
    for (std::uint32_t e = 0; e < script->script_data.size(); ++e) {
        auto site = site_of(FileType::PhysicsScript, 0);
        site.script_entry = e;
        site.start_time = script->script_data[e].start_time;
        expected.push_back({site, script->script_data[e].hook});
    }
    EXPECT_EQ(visit_all(FileType::PhysicsScript, bytes), expected);
}

// The bytes `File::read` consumes from `bytes`, or its error's message.
template <class File>
std::expected<std::uint64_t, std::string> consumed_by(const Buffer& bytes) {
    std::uint64_t consumed = 0;
    auto decoded = File::read(bytes, &consumed);
    if (!decoded) {
        return std::unexpected(decoded.error().message());
    }
    return consumed;
}

std::expected<std::uint64_t, std::string> decode(FileType type, const Buffer& bytes) {
    switch (type) {
    case FileType::Animation:
        return consumed_by<file_type::animation::Animation>(bytes);
    case FileType::SetupModel:
        return consumed_by<file_type::setup_model::SetupModel>(bytes);
    case FileType::PhysicsScript:
        return consumed_by<file_type::physics_script::PhysicsScript>(bytes);
    }
    return std::unexpected("no such type");
}

// Trailing bytes show as fewer bytes consumed than given, in the visitor and the decoders alike;
// a short file fails as its decoder fails, before any hook is visited.
TEST(HookVisitorTest, ReportsBytesConsumedAndTheDecodersErrors) {
    const std::pair<FileType, Buffer> files[] = {
        {FileType::Animation,
         testkit::build_animation(testkit::make_animation_spec(1, 2, 2, 2, false))},
        {FileType::SetupModel,
         testkit::build_setup_model(testkit::make_setup_model_spec(1, 3, 2, 2, 2))},
        {FileType::PhysicsScript,
         testkit::build_physics_script(testkit::make_physics_script_spec(1, 4))},
    };
    for (const auto& [type, bytes] : files) {
        Buffer longer = bytes;
        longer.insert(longer.end(), {1, 2, 3});
        bool called = false;
        const auto note = [&](const HookSite&, const HookView&) { called = true; };
        EXPECT_EQ(visit_hooks(type, longer, note), bytes.size());
        EXPECT_EQ(decode(type, longer), bytes.size());

        called = false;
        const Buffer shorter(bytes.begin(), bytes.end() - 1);
        auto failed = visit_hooks(type, shorter, note);
        ASSERT_FALSE(failed);
        EXPECT_EQ(decode(type, shorter), std::unexpected(failed.error().message()));
        EXPECT_FALSE(called);
    }
}

} // namespace
} // namespace quillmere::dat::hooks
