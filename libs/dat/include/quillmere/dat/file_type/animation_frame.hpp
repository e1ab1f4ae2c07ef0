// One frame of an animation: a placement per part and the hooks that fire on it. Setup models
// embed the same structure in their placements.
#pragma once

#include "quillmere/common/byte_cursor.hpp"
#include "quillmere/dat/export.hpp"
#include "quillmere/dat/file_type/animation_hook.hpp"
#include "quillmere/dat/graphics.hpp"

#include <cstdint>
#include <vector>

namespace quillmere::dat::file_type::setup_model {

/// The part placements and hooks of one frame. The part count comes from the enclosing file.
///
/// | offset             | width          | type            | field                 |
/// |--------------------|----------------|-----------------|-----------------------|
/// | 0                  | 28 × num_parts | Frame[]         | frames                |
/// | 28 × num_parts     | 4              | u32             | num_hooks             |
/// | 28 × num_parts + 4 | variable       | AnimationHook[] | hooks, back to back   |
struct QUILLMERE_DAT_EXPORT AnimationFrame {
    std::vector<graphics::Frame> frames;
    std::vector<AnimationHook> hooks;

    /// Decodes `num_parts` frames, a hook count and that many hooks; on success the cursor stands
    /// after the last hook. No context is added here, errors pass through unchanged:
    /// - a short frame: the Frame reader's backtrace ("... in Frame" outermost), with the cursor
    ///   at that frame's first byte;
    /// - a short hook count: plain `Io` "failed to fill whole buffer";
    /// - a bad or short hook: the hook decoder's error.
    /// Reservations never exceed what the remaining bytes could hold, whatever the counts say.
    [[nodiscard]] static common::DecodeResult<AnimationFrame> read(common::ByteCursor& cursor,
                                                                   std::uint32_t num_parts);

    friend bool operator==(const AnimationFrame&, const AnimationFrame&) = default;
};

} // namespace quillmere::dat::file_type::setup_model
