// Builders of the pieces every portal file type shares: animation hooks, placements (frames) and
// animation frames, written with the test kit's own little-endian writer.
#pragma once

#include "quillmere/dat/file_type/animation_hook.hpp"
#include "quillmere/dat/graphics.hpp"
#include "quillmere/testkit/bytes.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillmere::testkit {

using Hook = dat::file_type::setup_model::AnimationHook;
using dat::graphics::Frame;

/// Payload size of a fixed-size hook type (0 to 26, ReplaceObject excluded), from the format's
/// table as the test kit keeps it.
[[nodiscard]] std::uint32_t hook_payload_size(std::uint32_t hook_type);

/// A hook of `hook_type` (0 to 26) whose payload has the right size for the type and bytes derived
/// from `seed` (an unknown type gets an empty payload). ReplaceObject takes the short form (3
/// bytes, one padding byte) for an even seed and the long form (5 bytes, three padding bytes) for
/// an odd one; padding bytes are non-zero.
[[nodiscard]] Hook make_hook(std::uint32_t hook_type, std::int32_t direction, std::uint32_t seed);

/// A ReplaceObject hook in the short form: `part_index`, the word `upper` (bit 15 clear) and one
/// padding byte.
[[nodiscard]] Hook make_replace_object_short(std::int32_t direction, std::uint8_t part_index,
                                             std::uint16_t upper, std::uint8_t padding);

/// A ReplaceObject hook in the long form: `part_index`, `upper` (bit 15 set), `lower` and three
/// padding bytes.
[[nodiscard]] Hook make_replace_object_long(std::int32_t direction, std::uint8_t part_index,
                                            std::uint16_t upper, std::uint16_t lower,
                                            std::array<std::uint8_t, 3> padding);

/// A finite, varied placement derived from `seed`.
[[nodiscard]] Frame make_frame(std::uint32_t seed);

/// The context messages, innermost first, of a `Frame` read that runs out of input after
/// `offset_in_frame` (0 to 27) of its bytes, as the Frame reader reports them; empty past 27.
[[nodiscard]] std::vector<std::string> frame_contexts_at(std::size_t offset_in_frame);

/// Appends a hook: type, direction, then `data` as it is (payload and padding).
void append_hook(Bytes& out, const Hook& hook);
/// Appends a frame: origin x, y, z, then orientation w, x, y, z.
void append_frame(Bytes& out, const Frame& frame);

/// One frame of an animation or a setup placement.
struct AnimationFrameSpec {
    std::vector<Frame> frames;
    std::vector<Hook> hooks;
    /// Written instead of the number of hooks when set.
    std::optional<std::uint32_t> num_hooks;
};

/// Appends a frame: its part placements, the hook count, then the hooks.
void append_animation_frame(Bytes& out, const AnimationFrameSpec& frame);

} // namespace quillmere::testkit
