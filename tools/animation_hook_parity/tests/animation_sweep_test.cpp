// The animation sweep checks a file with the library's view of it, which allocates nothing, not
// with the decoder. These tests hold the two to the same verdict on damaged files of every
// shape: whatever the decoder refuses, the sweep reports with the decoder's own message, and
// whatever it accepts, the sweep checks in full.
#include "quillmere/dat/file_type/animation.hpp"
#include "quillmere/testkit/portal_files.hpp"
#include "sweeps.hpp"

#include <gtest/gtest.h>

namespace quillmere::parity {
namespace {

using dat::file_type::animation::Animation;

constexpr std::uint32_t kId = 0x03000042;

std::vector<std::vector<std::uint8_t>> sample_animations() {
    std::vector<std::vector<std::uint8_t>> files;
    // Root frames or not, several parts or none, hooks of all 27 types and both ReplaceObject
    // forms.
    files.push_back(testkit::build_animation(testkit::make_animation_spec(1, 2, 3, 2, true)));
    files.push_back(testkit::build_animation(testkit::make_animation_spec(2, 1, 3, 5, false)));
    files.push_back(testkit::build_animation(testkit::make_animation_spec(3, 0, 4, 7, false)));
    files.push_back(testkit::build_animation(testkit::make_animation_spec(4, 3, 2, 0, true)));
    return files;
}

// What the sweep must answer for `bytes`: the decoder's error text, or the number of hooks.
SweepResult expected_for(std::span<const std::uint8_t> bytes) {
    common::ByteCursor cursor(bytes);
    auto animation = Animation::read(cursor);
    if (!animation) {
        return std::unexpected("Animation::read on 0x03000042: " + animation.error().message());
    }
    std::size_t hooks = 0;
    for (const auto& frame : animation->part_frames) {
        hooks += frame.hooks.size();
    }
    return hooks;
}

void expect_sweep_agrees(std::span<const std::uint8_t> bytes, const std::string& what) {
    VariantStats stats;
    std::uint64_t walked = 0;
    const SweepResult got = sweep_animation_hooks(bytes, kId, stats, walked);
    const SweepResult expected = expected_for(bytes);
    ASSERT_EQ(got.has_value(), expected.has_value()) << what;
    if (expected) {
        EXPECT_EQ(*got, *expected) << what;
        EXPECT_EQ(stats.total(), *expected) << what;
    } else {
        EXPECT_EQ(got.error(), expected.error()) << what;
        EXPECT_EQ(stats.total(), 0U) << what;
    }
}

TEST(AnimationSweepTest, TruncatedFilesGetTheDecodersVerdict) {
    for (const auto& file : sample_animations()) {
        for (std::size_t length = 0; length <= file.size(); ++length) {
            expect_sweep_agrees(std::span(file).first(length), "length " + std::to_string(length));
        }
    }
}

TEST(AnimationSweepTest, DamagedBytesGetTheDecodersVerdict) {
    // Values that turn a count huge or zero, a hook type unknown, a flag bit or a ReplaceObject
    // form bit on or off.
    const std::uint8_t values[] = {0x00, 0x01, 0x05, 0x1A, 0x1B, 0x7F, 0x80, 0xFF};
    for (const auto& file : sample_animations()) {
        for (std::size_t at = 0; at < file.size(); ++at) {
            for (const std::uint8_t value : values) {
                auto damaged = file;
                damaged[at] = value;
                expect_sweep_agrees(damaged,
                                    "byte " + std::to_string(at) + " = " + std::to_string(value));
            }
        }
    }
}

} // namespace
} // namespace quillmere::parity
