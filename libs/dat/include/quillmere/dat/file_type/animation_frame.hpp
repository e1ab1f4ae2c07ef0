// One frame of an animation: a placement per part and the hooks that fire on it. Setup models
// embed the same structure in their placements.
#pragma once

#include "quillmere/common/byte_cursor.hpp"
#include "quillmere/common/byte_writer.hpp"
#include "quillmere/dat/export.hpp"
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

    /// Writes the placements, the hook count and the hooks (each as `AnimationHook::write`):
    /// for a decoded frame, exactly the bytes it came from. The part count is the enclosing
    /// file's to check. A frame with more hooks than a 32-bit count can hold is refused with a
    /// `Custom` error before anything is written.
    [[nodiscard]] common::DecodeResult<void> write(common::ByteWriter& writer) const;

    friend bool operator==(const AnimationFrame&, const AnimationFrame&) = default;
};

/// The hooks of a checked frame, in file order.
using HookSequence = CheckedSequence<HookView, HookStep>;

/// One animation frame as it lies in borrowed bytes, its layout checked: the placements left as
/// stored, the hooks decoded in place as they are iterated. Valid while those bytes live.
struct QUILLMERE_DAT_EXPORT FrameView {
    /// The `num_parts` placements as stored, 28 bytes each (see `graphics::Frame`).
    std::span<const std::uint8_t> part_frames;
    /// The hooks, in file order; their offsets count from the start of the data read.
    HookSequence hooks;

    /// Checks one frame of `num_parts` placements at the cursor without allocating: `FrameStep`,
    /// and when that refuses the bytes, the reads that find the exact error. The errors and the
    /// cursor position after success or failure are exactly those of `AnimationFrame::read`,
    /// which is this followed by a copy.
    [[nodiscard]] static common::DecodeResult<FrameView> read(common::ByteCursor& cursor,
                                                              std::uint32_t num_parts);

    /// The frame as an owned value.
    [[nodiscard]] AnimationFrame to_owned() const;
};

/// Takes the frame of `num_parts` placements at offset `pos` of `data` when it is whole there
/// (placements, hook count and every hook, as `HookStep` takes them): sets `out`, moves `pos`
/// past the frame's last hook and returns true. Otherwise returns false and changes nothing.
/// Never reads outside `data`; builds no error.
struct QUILLMERE_DAT_EXPORT FrameStep {
    std::uint32_t num_parts = 0;

    bool operator()(std::span<const std::uint8_t> data, std::uint64_t& pos,
                    FrameView& out) const noexcept;
};

/// Checked animation frames stored back to back, in file order.
using FrameSequence = CheckedSequence<FrameView, FrameStep>;

} // namespace quillmere::dat::file_type::setup_model
