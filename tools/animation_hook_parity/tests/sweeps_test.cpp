// Tests of the three hook sweeps on files built byte by byte.
#include "failure_of.hpp"
#include "quillmere/case_runner/checks.hpp"
#include "quillmere/testkit/bytes.hpp"
#include "sweeps.hpp"

#include <gtest/gtest.h>

namespace quillmere::parity {
namespace {

using testkit::Bytes;

Bytes& frame(Bytes& b) {
    return b.f32(0).f32(0).f32(0).f32(1).f32(0).f32(0).f32(0);
}
Bytes& sound(Bytes& b, std::uint32_t id) {
    return b.u32(1).i32(0).u32(id);
}
Bytes& replace_object_long(Bytes& b) {
    return b.u32(5).i32(-1).raw({2, 1, 0x80, 2, 0, 9, 9, 9});
}

// Two parts, root frames, two frames holding 2 and 3 hooks (one of them a 16-byte ReplaceObject).
std::vector<std::uint8_t> animation_with_five_hooks() {
    Bytes b;
    b.u32(0x03000001).u32(0x1).u32(2).u32(2);
    frame(frame(b));        // root frames
    frame(frame(b)).u32(2); // frame 0: parts and hook count
    sound(b, 1);
    replace_object_long(b);
    frame(frame(b)).u32(3);              // frame 1
    sound(sound(b, 2), 3).u32(4).i32(0); // two Sounds and an AnimationDone
    return b.take();
}

TEST(SweepsTest, AnimationSweepCountsEveryHookAndItsStoredSpan) {
    const auto bytes = animation_with_five_hooks();
    VariantStats stats;
    std::uint64_t walked = 100;
    auto swept = sweep_animation_hooks(bytes, 0x03000001, stats, walked);
    ASSERT_TRUE(swept) << swept.error();
    EXPECT_EQ(*swept, 5u);
    EXPECT_EQ(stats.counts[1], 3u);
    EXPECT_EQ(stats.counts[5], 1u);
    EXPECT_EQ(stats.counts[4], 1u);
    EXPECT_EQ(walked, 100u + 12 + 16 + 12 + 12 + 8);
}

TEST(SweepsTest, AnimationWithoutFramesChangesNothing) {
    for (std::uint32_t flags : {0u, 1u}) {
        const auto bytes = Bytes().u32(0x03000002).u32(flags).u32(3).u32(0).take();
        VariantStats stats;
        std::uint64_t walked = 0;
        EXPECT_EQ(sweep_animation_hooks(bytes, 0x03000002, stats, walked), 0u);
        EXPECT_EQ(stats.total(), 0u);
        EXPECT_EQ(walked, 0u);
    }
}

TEST(SweepsTest, RejectedAnimationYieldsTheDecoderTextAndCountsNothing) {
    Bytes b;
    b.u32(0x03000003).u32(0).u32(0).u32(1).u32(2);
    sound(b, 1).u32(27).i32(0);
    const auto bytes = b.take();
    VariantStats stats;
    std::uint64_t walked = 0;
    auto swept = sweep_animation_hooks(bytes, 0x03000003, stats, walked);
    ASSERT_FALSE(swept);
    EXPECT_EQ(swept.error(), "Animation::read on 0x03000003: Unsupported AnimationHook type: "
                             "0x0000001B at 0x28");
    EXPECT_EQ(stats.total(), 0u);
    EXPECT_EQ(walked, 0u);
}

// The smallest setup model with one placement of one part holding two hooks.
std::vector<std::uint8_t> setup_with_hooks(std::int32_t placements) {
    Bytes b;
    b.u32(0x02000001).u32(0).u32(1).u32(0x01000001); // id, flags, one part
    b.u32(0).u32(0);                                 // no holding locations or connections
    b.i32(placements);
    if (placements > 0) {
        b.i32(-3);
        frame(b).u32(2);
        sound(b, 7);
        b.u32(5).i32(0).raw({1, 0x34, 0x12, 0});
    }
    b.u32(0).u32(0);               // no cylinders, no spheres
    b.f32(1).f32(2).f32(3).f32(4); // height, radius, step up, step down
    b.fill(32, 0);                 // sorting and selection spheres
    b.u32(0);                      // no lights
    b.fill(20, 0);                 // default resource ids
    return b.take();
}

TEST(SweepsTest, SetupSweepReEncodesPlacementHooks) {
    const auto bytes = setup_with_hooks(1);
    VariantStats stats;
    std::uint64_t walked = 0;
    auto swept = sweep_setup_model_hooks(bytes, 0x02000001, stats, walked);
    ASSERT_TRUE(swept) << swept.error();
    EXPECT_EQ(*swept, 2u);
    EXPECT_EQ(stats.counts[1], 1u);
    EXPECT_EQ(stats.counts[5], 1u);
    EXPECT_EQ(walked, 24u);

    const auto empty = setup_with_hooks(0);
    EXPECT_EQ(sweep_setup_model_hooks(empty, 0x02000002, stats, walked), 0u);
}

// A placement key stored twice: as in the decoded model's map, only the later placement counts.
TEST(SweepsTest, SetupSweepVisitsOnlyTheLastPlacementOfAKey) {
    Bytes b;
    b.u32(0x02000003).u32(0).u32(0); // id, flags, no parts
    b.u32(0).u32(0).i32(3);          // no locations, three placements
    sound(sound(b.i32(7).u32(2), 1), 2);
    b.i32(-1).u32(0);
    b.i32(7).u32(1).u32(4).i32(0); // key 7 again: one AnimationDone
    b.u32(0).u32(0).fill(16, 0).fill(32, 0).u32(0).fill(20, 0);
    const auto bytes = b.take();
    VariantStats stats;
    std::uint64_t walked = 0;
    auto swept = sweep_setup_model_hooks(bytes, 0x02000003, stats, walked);
    ASSERT_TRUE(swept) << swept.error();
    EXPECT_EQ(*swept, 1u);
    EXPECT_EQ(stats.counts[4], 1u);
    EXPECT_EQ(stats.total(), 1u);
    EXPECT_EQ(walked, 8u);
}

TEST(SweepsTest, RejectedSetupYieldsTheDecoderText) {
    const auto bytes = setup_with_hooks(-1);
    VariantStats stats;
    std::uint64_t walked = 0;
    auto swept = sweep_setup_model_hooks(bytes, 0x02000001, stats, walked);
    ASSERT_FALSE(swept);
    EXPECT_EQ(swept.error(), "SetupModel::read on 0x02000001: SetupModel 0x02000001 declared "
                             "negative placement count -1 at 0x1c");
}

TEST(SweepsTest, PhysicsScriptSweepCountsHookBytesOnly) {
    Bytes b;
    b.u32(0x33000001).u32(2);
    b.f64(0.5);
    b.u32(7).i32(0).u32(1).f32(0).f32(1).f32(2); // TransparentPart: 16 data bytes
    b.f64(0.5);
    b.u32(20).i32(0).f32(0).f32(1).f32(2); // Transparent: 12 data bytes
    const auto bytes = b.take();
    VariantStats stats;
    std::uint64_t walked = 0;
    auto swept = sweep_physics_script_hooks(bytes, 0x33000001, stats, walked);
    ASSERT_TRUE(swept) << swept.error();
    EXPECT_EQ(*swept, 2u);
    EXPECT_EQ(walked, 24u + 20u);
    EXPECT_EQ(stats.counts[7] + stats.counts[20], 2u);

    const auto empty = Bytes().u32(0x33000002).u32(0).take();
    EXPECT_EQ(sweep_physics_script_hooks(empty, 0x33000002, stats, walked), 0u);
    EXPECT_EQ(walked, 44u);
}

TEST(SweepsTest, PhysicsScriptWithTrailingBytesFailsTheCaseAndCountsNothing) {
    const auto bytes = Bytes().u32(0x33000003).u32(0).u8(0xEE).take();
    VariantStats stats;
    std::uint64_t walked = 0;
    EXPECT_EQ(
        failure_of([&] { (void)sweep_physics_script_hooks(bytes, 0x33000003, stats, walked); }),
        "assertion `left == right` failed: PhysicsScript 0x33000003 did not round-trip "
        "byte-equal\n"
        "  left: [3, 0, 0, 51, 0, 0, 0, 0]\n"
        " right: [3, 0, 0, 51, 0, 0, 0, 0, 238]");
    EXPECT_EQ(walked, 0u);
}

TEST(SweepsTest, TruncatedPhysicsScriptYieldsTheUnpackText) {
    const auto bytes = Bytes().u32(0x33000004).u32(1).f64(1.0).u32(1).take();
    VariantStats stats;
    std::uint64_t walked = 0;
    auto swept = sweep_physics_script_hooks(bytes, 0x33000004, stats, walked);
    ASSERT_FALSE(swept);
    EXPECT_EQ(swept.error(), "PhysicsScript::unpack on 0x33000004: failed to fill whole buffer");
}

} // namespace
} // namespace quillmere::parity
