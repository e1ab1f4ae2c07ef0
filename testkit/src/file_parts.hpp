// Pieces the portal file builders share: seeded values, stored counts, placements and hook lists.
#pragma once

#include "quillmere/common/math.hpp"
#include "quillmere/dat/file_type/animation_frame.hpp"
#include "quillmere/testkit/hooks_and_frames.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace quillmere::testkit::detail {

/// A float in [-64, 64) in steps of 1/256, so that values are exact and easy to read in failures.
[[nodiscard]] float float_of(std::uint32_t seed, std::uint64_t index);
/// Three such floats, from `index` on.
[[nodiscard]] common::Vector3 vector_of(std::uint32_t seed, std::uint64_t index);

void append_vector(Bytes& out, const common::Vector3& v);

/// The count to write: `stored` when set, else the length of the list.
[[nodiscard]] inline std::uint32_t count_of(std::optional<std::uint32_t> stored,
                                            std::size_t actual) {
    return stored ? *stored : static_cast<std::uint32_t>(actual);
}

/// `count` hooks cycling through every type from `first`; ReplaceObject alternates its two forms.
[[nodiscard]] std::vector<Hook> cycling_hooks(std::uint32_t seed, std::uint64_t first,
                                              std::uint32_t count);

/// `count` placements derived from `seed`.
[[nodiscard]] std::vector<Frame> frames_of(std::uint32_t seed, std::uint32_t count);

/// The decoded value of a consistent frame plan.
[[nodiscard]] dat::file_type::setup_model::AnimationFrame
to_animation_frame(const AnimationFrameSpec& plan);

} // namespace quillmere::testkit::detail
