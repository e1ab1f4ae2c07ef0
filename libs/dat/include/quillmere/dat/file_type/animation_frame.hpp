// One frame of an animation: a placement per part and the hooks that fire on it. Setup models
// embed the same structure in their placements.
#pragma once

#include "quillmere/common/byte_cursor.hpp"
#include "quillmere/dat/file_type/animation_hook.hpp"
#include "quillmere/dat/file_type/checked_sequence.hpp"
#include "quillmere/dat/graphics.hpp"

#include <cstdint>
#include <span>
#include <vector>

namespace quillmere::dat::file_type::setup_model {

/// The part placements and hooks of one frame. The part count comes from the enclosing file.
///
/// | offset             | width          | type            | field                 |
/// |--------------------|----------------|-----------------|-----------------------|
/// | 0                  | 28 × num_parts | Frame[]         | frames                |
/// | 28 × num_parts     | 4              | u32             | num_hooks             |
/// | 28 × num_parts + 4 | variable       | AnimationHook[] | hooks, back to back   |
struct AnimationFrame {
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

/// Decodes the hooks of a checked frame as an iteration reaches them.
struct HookReader {
    [[nodiscard]] common::DecodeResult<HookView> operator()(common::ByteCursor& cursor) const {
        return HookView::read(cursor);
    }
};

/// The hooks of a checked frame, in file order.
using HookSequence = CheckedSequence<HookView, HookReader>;

/// One animation frame as it lies in borrowed bytes, its layout checked: the placements left as
/// stored, the hooks decoded in place as they are iterated. Valid while those bytes live.
struct FrameView {
    /// The `num_parts` placements as stored, 28 bytes each (see `graphics::Frame`).
    std::span<const std::uint8_t> part_frames;
    /// The hooks, in file order; their offsets count from the start of the data read.
    HookSequence hooks;

    /// Checks one frame of `num_parts` placements at the cursor without allocating: placements,
    /// hook count and every hook. The reads, the errors and the cursor position after success or
    /// failure are exactly those of `AnimationFrame::read`, which is this followed by a copy.
    [[nodiscard]] static common::DecodeResult<FrameView> read(common::ByteCursor& cursor,
                                                              std::uint32_t num_parts);

    /// The frame as an owned value.
    [[nodiscard]] AnimationFrame to_owned() const;
};

/// Checks the frames of a checked layout again as an iteration reaches them.
struct FrameReader {
    std::uint32_t num_parts = 0;

    [[nodiscard]] common::DecodeResult<FrameView> operator()(common::ByteCursor& cursor) const {
        return FrameView::read(cursor, num_parts);
    }
};

/// Checked animation frames stored back to back, in file order.
using FrameSequence = CheckedSequence<FrameView, FrameReader>;

} // namespace quillmere::dat::file_type::setup_model
