// Tests of animation frames and animation files.
#include "file_type/detail/animation_frame.hpp"
#include "quillmere/dat/file_type/animation.hpp"
#include "quillmere/dat/file_type/animation_frame.hpp"
#include "quillmere/testkit/bytes.hpp"
#include "quillmere/testkit/matchers.hpp"
#include "quillmere/testkit/portal_files.hpp"

#include <gtest/gtest.h>

namespace quillmere::dat::file_type::animation {
namespace {

using setup_model::AnimationFrame;

// `count` consecutive frames the library's way: `placements`, then `decode_frames`.
common::DecodeResult<std::vector<graphics::Frame>> read_frames(common::ByteCursor& cursor,
                                                               std::uint32_t count) {
    auto bytes = setup_model::detail::placements(cursor, count);
    if (!bytes) {
        return std::unexpected(std::move(bytes).error());
    }
    return setup_model::detail::decode_frames(*bytes);
}

// `count` consecutive frames, each through `Frame::read_le`: the reference.
common::DecodeResult<std::vector<graphics::Frame>> read_frames_by_field(common::ByteCursor& cursor,
                                                                        std::uint32_t count) {
    std::vector<graphics::Frame> frames;
    for (std::uint32_t i = 0; i < count; ++i) {
        auto frame = graphics::Frame::read_le(cursor);
        if (!frame) {
            return std::unexpected(std::move(frame).error());
        }
        frames.push_back(*frame);
    }
    return frames;
}
using testkit::Bytes;
using testkit::contexts_of;

common::DecodeResult<Animation> read_all(std::span<const std::uint8_t> bytes,
                                         std::uint64_t* end = nullptr) {
    common::ByteCursor cursor(bytes);
    auto animation = Animation::read(cursor);
    if (end != nullptr) {
        *end = cursor.position();
    }
    return animation;
}

// Offsets of every placement (root and part frames) in the file of a consistent plan.
std::vector<std::size_t> placement_offsets(const testkit::AnimationSpec& plan) {
    std::vector<std::size_t> offsets;
    std::size_t at = 16;
    if ((plan.flags & 0x1) != 0) {
        for (std::size_t i = 0; i < plan.pos_frames.size(); ++i, at += 28) {
            offsets.push_back(at);
        }
    }
    for (const auto& frame : plan.part_frames) {
        for (std::size_t i = 0; i < frame.frames.size(); ++i, at += 28) {
            offsets.push_back(at);
        }
        at += 4;
        for (const auto& hook : frame.hooks) {
            at += 8 + hook.data.size();
        }
    }
    return offsets;
}

TEST(AnimationTest, RootFramesComeBeforePartFramesOnlyWithPosFrames) {
    const auto root = testkit::make_frame(1);
    const auto part = testkit::make_frame(2);
    const auto hook = testkit::make_hook(1, 0, 3);
    for (std::uint32_t flags : {0x0u, 0x1u}) {
        Bytes file;
        file.u32(0x03000010).u32(flags).u32(1).u32(1);
        if (flags == 0x1) {
            testkit::append_frame(file, root);
        }
        testkit::append_frame(file, part);
        file.u32(1);
        testkit::append_hook(file, hook);
        ASSERT_EQ(file.size(), flags == 0x1 ? 16u + 28 + 28 + 4 + 12 : 16u + 28 + 4 + 12);

        std::uint64_t end = 0;
        auto animation = read_all(file, &end);
        ASSERT_TRUE(animation) << animation.error().message();
        EXPECT_EQ(end, file.size());
        EXPECT_EQ(animation->id, 0x03000010u);
        EXPECT_EQ(animation->num_parts, 1u);
        EXPECT_EQ(animation->num_frames, 1u);
        EXPECT_EQ(animation->pos_frames, flags == 0x1 ? std::vector<graphics::Frame>{root}
                                                      : std::vector<graphics::Frame>{});
        ASSERT_EQ(animation->part_frames.size(), 1u);
        EXPECT_EQ(animation->part_frames[0], (AnimationFrame{{part}, {hook}}));
    }
}

TEST(AnimationTest, FlagsKeepEveryBitAndOnlyBitZeroMeansPosFrames) {
    EXPECT_TRUE(AnimationFlags::from_bits_retain(0xFFFFFFFF).contains(AnimationFlags::POS_FRAMES));
    EXPECT_FALSE(AnimationFlags::from_bits_retain(0x2).contains(AnimationFlags::POS_FRAMES));
    EXPECT_EQ(AnimationFlags::POS_FRAMES.bits(), 0x1u);

    for (std::uint32_t flags : {0xFFFFFFFFu, 0x2u, 0x80000001u}) {
        auto plan = testkit::make_animation_spec(flags, 2, 3, 2, (flags & 0x1) != 0);
        plan.flags = flags;
        const auto file = testkit::build_animation(plan);
        auto animation = read_all(file);
        ASSERT_TRUE(animation) << animation.error().message();
        EXPECT_EQ(animation->flags.bits(), flags);
        EXPECT_EQ(*animation, testkit::expected_animation(plan));
    }
}

TEST(AnimationTest, HeaderWithNoFramesIsAWholeAnimation) {
    for (std::uint32_t flags : {0x0u, 0x1u, 0xFFFFFFFFu}) {
        const auto file = Bytes().u32(0x03000001).u32(flags).u32(7).u32(0).take();
        std::uint64_t end = 0;
        auto animation = read_all(file, &end);
        ASSERT_TRUE(animation);
        EXPECT_EQ(end, 16u);
        EXPECT_EQ(animation->num_parts, 7u);
        EXPECT_TRUE(animation->pos_frames.empty());
        EXPECT_TRUE(animation->part_frames.empty());
    }
}

// Generated animations of many shapes, including no parts (frames of hooks only), frames without
// hooks and every hook type; trailing bytes are not examined.
TEST(AnimationTest, GeneratedAnimationsDecodeToTheirSpec) {
    struct Shape {
        std::uint32_t parts, frames, hooks;
        bool pos;
    };
    const Shape shapes[] = {{0, 3, 2, false}, {0, 2, 0, true},  {1, 1, 0, false},
                            {3, 4, 0, true},  {2, 5, 27, true}, {5, 2, 30, false}};
    for (const auto& shape : shapes) {
        const auto plan = testkit::make_animation_spec(
            shape.parts * 100 + shape.frames, shape.parts, shape.frames, shape.hooks, shape.pos);
        const auto file = testkit::build_animation(plan);
        const auto with_tail = Bytes().raw(file).fill(5, 0xFF).take();
        std::uint64_t end = 0;
        auto animation = read_all(with_tail, &end);
        ASSERT_TRUE(animation) << animation.error().message();
        EXPECT_EQ(*animation, testkit::expected_animation(plan));
        EXPECT_EQ(end, file.size());
    }
}

TEST(AnimationTest, FrameWithoutHooksIsPlacementsAndCountOnly) {
    testkit::AnimationSpec plan;
    plan.part_frames = {{{testkit::make_frame(1), testkit::make_frame(2)}, {}, std::nullopt},
                        {{testkit::make_frame(3), testkit::make_frame(4)},
                         {testkit::make_hook(4, 0, 0)},
                         std::nullopt}};
    const auto file = testkit::build_animation(plan);
    ASSERT_EQ(file.size(), 16u + (2 * 28 + 4) + (2 * 28 + 4 + 8));
    auto animation = read_all(file);
    ASSERT_TRUE(animation);
    EXPECT_EQ(*animation, testkit::expected_animation(plan));
}

// The padding of a ReplaceObject hook is kept, so the next hook starts right after it.
TEST(AnimationTest, HookAfterReplaceObjectStartsAfterItsPadding) {
    const testkit::Hook replace[] = {
        testkit::make_replace_object_short(0, 3, 0x1234, 0xFF),
        testkit::make_replace_object_long(1, 4, 0x8001, 0x0002, {0xA1, 0xA2, 0xA3})};
    for (const auto& first : replace) {
        const auto second = testkit::make_hook(21, -1, 8);
        testkit::AnimationSpec plan;
        plan.num_parts = 0;
        plan.part_frames = {{{}, {first, second}, std::nullopt}};
        const auto file = testkit::build_animation(plan);
        ASSERT_EQ(file.size(), 16u + 4 + (8 + first.data.size()) + (8 + 16));
        auto animation = read_all(file);
        ASSERT_TRUE(animation) << animation.error().message();
        ASSERT_EQ(animation->part_frames.size(), 1u);
        EXPECT_EQ(animation->part_frames[0].hooks, (std::vector<testkit::Hook>{first, second}));
    }
}

// Every cut fails: inside a placement with the Frame reader's context chain, anywhere else
// (header, hook count, hook) with a plain short read.
TEST(AnimationTest, EveryTruncationFailsNamingTheFrameFieldWhenInsideAPlacement) {
    for (bool pos : {false, true}) {
        const auto plan = testkit::make_animation_spec(pos ? 11 : 12, 2, 3, 2, pos);
        const auto file = testkit::build_animation(plan);
        const auto offsets = placement_offsets(plan);
        for (std::size_t length = 0; length < file.size(); ++length) {
            std::vector<std::string> expected;
            for (auto start : offsets) {
                if (length >= start && length < start + 28) {
                    expected = testkit::frame_contexts_at(length - start);
                }
            }
            auto animation = read_all(std::span(file.data(), length));
            ASSERT_FALSE(animation) << "length " << length;
            EXPECT_TRUE(testkit::is_short_read(animation.error())) << "length " << length;
            EXPECT_EQ(contexts_of(animation.error()), expected) << "length " << length;
        }
    }
}

TEST(AnimationTest, UnknownHookTypePassesThroughUnchanged) {
    const auto file =
        Bytes().u32(0x03000001).u32(0).u32(0).u32(1).u32(1).u32(0xFFFFFFFF).i32(0).take();
    auto animation = read_all(file);
    ASSERT_FALSE(animation);
    EXPECT_EQ(animation.error().kind(), common::DecodeError::Kind::Custom);
    EXPECT_EQ(animation.error().message(), "Unsupported AnimationHook type: 0xFFFFFFFF at 0x1c");
}

// Counts of 0xFFFFFFFF over a few bytes fail with the short read of the first missing element,
// quickly and without reserving for the stored count (which would not fit in the budget).
TEST(AnimationTest, HugeCountsFailFastWithLittleMemory) {
    const auto frame = testkit::make_frame(5);
    struct Case {
        const char* what;
        std::vector<std::uint8_t> file;
    };
    std::vector<Case> cases;
    {
        Bytes b;
        b.u32(0x03000001).u32(0x1).u32(1).u32(0xFFFFFFFF);
        testkit::append_frame(b, frame);
        cases.push_back({"root frames", b.take()});
    }
    cases.push_back({"frames of no parts",
                     Bytes().u32(0x03000001).u32(0).u32(0).u32(0xFFFFFFFF).u32(0).take()});
    {
        Bytes b;
        b.u32(0x03000001).u32(0).u32(0xFFFFFFFF).u32(1);
        testkit::append_frame(b, frame);
        cases.push_back({"parts", b.take()});
    }
    cases.push_back(
        {"hooks",
         Bytes().u32(0x03000001).u32(0).u32(0).u32(1).u32(0xFFFFFFFF).u32(1).i32(0).u32(9).take()});
    for (const auto& tc : cases) {
        const int outcome = testkit::run_with_memory_budget(64 << 20, 20, [&] {
            auto animation = read_all(tc.file);
            return !animation && testkit::is_short_read(animation.error());
        });
        EXPECT_EQ(outcome, 0) << tc.what;
    }
}

TEST(AnimationFrameTest, ReadsPlacementsThenHooksWithTheGivenPartCount) {
    testkit::AnimationFrameSpec plan{{testkit::make_frame(1), testkit::make_frame(2)},
                                     {testkit::make_hook(5, 0, 1), testkit::make_hook(13, 1, 2)},
                                     std::nullopt};
    Bytes file;
    file.fill(3, 0xCC);
    testkit::append_animation_frame(file, plan);
    const auto bytes = file.take();

    common::ByteCursor cursor(bytes);
    cursor.set_position(3);
    auto frame = AnimationFrame::read(cursor, 2);
    ASSERT_TRUE(frame) << frame.error().message();
    EXPECT_EQ(*frame, (AnimationFrame{plan.frames, plan.hooks}));
    EXPECT_EQ(cursor.position(), bytes.size());
}

TEST(AnimationFrameTest, ShortHookCountIsAPlainShortRead) {
    Bytes file;
    testkit::append_frame(file, testkit::make_frame(1));
    file.u8(0);
    const auto bytes = file.take();
    common::ByteCursor cursor(bytes);
    auto frame = AnimationFrame::read(cursor, 1);
    ASSERT_FALSE(frame);
    EXPECT_EQ(frame.error().kind(), common::DecodeError::Kind::Io);
    EXPECT_EQ(frame.error().message(), "failed to fill whole buffer");
}

// The bulk placement decoder and the field-by-field one agree on values (bit for bit, NaN
// payloads and negative zero included), errors and cursor positions, at every count, start and
// length; the bulk path is taken whenever all placements fit.
TEST(AnimationFrameTest, BulkAndFieldByFieldPlacementsAgree) {
    Bytes b;
    b.fill(3, 0x77);
    for (std::uint32_t i = 0; i < 4; ++i) {
        testkit::append_frame(b, testkit::make_frame(i));
    }
    b.u32(0x7F800001)
        .u32(0x80000000)
        .u32(0xFFC00123)
        .u32(0)
        .u32(0x00000001)
        .u32(0x7F800000)
        .u32(0xFF800000);
    b.fill(2, 0x55);
    const auto data = b.take();

    const auto encode = [](const std::vector<graphics::Frame>& frames) {
        std::vector<std::uint8_t> out;
        common::ByteWriter writer(out);
        for (const auto& frame : frames) {
            frame.write_le(writer);
        }
        return out;
    };
    for (std::uint64_t start : {0u, 3u}) {
        for (std::uint32_t count = 0; count <= 6; ++count) {
            for (std::size_t length = start; length <= data.size(); ++length) {
                const std::span<const std::uint8_t> prefix(data.data(), length);
                common::ByteCursor bulk(prefix);
                common::ByteCursor by_field(prefix);
                bulk.set_position(start);
                by_field.set_position(start);
                auto fast = read_frames(bulk, count);
                auto slow = read_frames_by_field(by_field, count);
                const auto where = "start " + std::to_string(start) + " count " +
                                   std::to_string(count) + " length " + std::to_string(length);
                ASSERT_EQ(fast.has_value(), slow.has_value()) << where;
                EXPECT_EQ(bulk.position(), by_field.position()) << where;
                if (fast) {
                    EXPECT_EQ(encode(*fast), encode(*slow)) << where;
                    EXPECT_EQ(encode(*fast),
                              std::vector<std::uint8_t>(data.begin() + static_cast<long>(start),
                                                        data.begin() +
                                                            static_cast<long>(start + 28 * count)))
                        << where;
                } else {
                    EXPECT_EQ(fast.error().diagnostic(), slow.error().diagnostic()) << where;
                    EXPECT_EQ(contexts_of(fast.error()), contexts_of(slow.error())) << where;
                }
            }
        }
    }
}

} // namespace
} // namespace quillmere::dat::file_type::animation
