// Builder of animation files from plain specs, independent of the library's decoder.
#pragma once

#include "quillmere/dat/file_type/animation.hpp"
#include "quillmere/testkit/hooks_and_frames.hpp"

#include <cstdint>
#include <optional>
#include <vector>

namespace quillmere::testkit {

struct AnimationSpec {
    std::uint32_t id = 0x03000001;
    std::uint32_t flags = 0;
    /// Default: the number of frames of the first part frame, or 0.
    std::optional<std::uint32_t> num_parts;
    /// Default: the number of part frames.
    std::optional<std::uint32_t> num_frames;
    /// Written only when `flags` has bit 0x1.
    std::vector<Frame> pos_frames;
    std::vector<AnimationFrameSpec> part_frames;
};

[[nodiscard]] std::vector<std::uint8_t> build_animation(const AnimationSpec& plan);

/// A consistent animation: `num_frames` frames of `num_parts` placements, root placements when
/// `pos_frames`, and `hooks_per_frame` hooks per frame whose types cycle through all 27 (both
/// ReplaceObject forms occur), everything derived from `seed`.
[[nodiscard]] AnimationSpec make_animation_spec(std::uint32_t seed, std::uint32_t num_parts,
                                                std::uint32_t num_frames,
                                                std::uint32_t hooks_per_frame, bool pos_frames);

/// The value a correct decoder gives for the file of a consistent `plan` (counts matching lists).
[[nodiscard]] dat::file_type::animation::Animation expected_animation(const AnimationSpec& plan);

} // namespace quillmere::testkit
