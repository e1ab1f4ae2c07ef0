// Animation files: a header, optional root placements and one animation frame per frame; decoded,
// and encoded back byte for byte.
#pragma once

#include "quillmere/common/byte_cursor.hpp"
#include "quillmere/common/byte_writer.hpp"
#include "quillmere/dat/export.hpp"
#include "quillmere/dat/file_type/animation_frame.hpp"
#include "quillmere/dat/graphics.hpp"

#include <cstdint>
#include <span>
#include <vector>

namespace quillmere::dat::file_type::animation {

/// The header flags of an animation: a 32-bit word whose bits are all kept, known or not.
class AnimationFlags {
  public:
    /// The file carries one root placement per frame, stored before the part frames.
    static const AnimationFlags POS_FRAMES;

    constexpr AnimationFlags() noexcept = default;

    /// Flags holding every bit of `bits`, defined or not.
    [[nodiscard]] static constexpr AnimationFlags from_bits_retain(std::uint32_t bits) noexcept {
        return AnimationFlags(bits);
    }
    /// The stored word.
    [[nodiscard]] constexpr std::uint32_t bits() const noexcept { return bits_; }
    /// True when every bit of `other` is set here.
    [[nodiscard]] constexpr bool contains(AnimationFlags other) const noexcept {
        return (bits_ & other.bits_) == other.bits_;
    }

    friend constexpr bool operator==(AnimationFlags, AnimationFlags) = default;

  private:
    constexpr explicit AnimationFlags(std::uint32_t bits) noexcept : bits_(bits) {}

    std::uint32_t bits_ = 0;
};

inline constexpr AnimationFlags AnimationFlags::POS_FRAMES = AnimationFlags::from_bits_retain(0x1);

/// A decoded animation file.
///
/// | offset | width                         | type             | field       |
/// |--------|-------------------------------|------------------|-------------|
/// | 0      | 4                             | u32              | id          |
/// | 4      | 4                             | u32              | flags       |
/// | 8      | 4                             | u32              | num_parts   |
/// | 12     | 4                             | u32              | num_frames  |
/// | 16     | 28 × num_frames if POS_FRAMES | Frame[]          | pos_frames  |
/// | then   | variable                      | AnimationFrame[] | part_frames |
///
/// `part_frames` holds `num_frames` animation frames, each with `num_parts` placements.
struct QUILLMERE_DAT_EXPORT Animation {
    /// The file's own id word, as stored (not compared with the archive's id for it).
    std::uint32_t id = 0;
    AnimationFlags flags;
    std::uint32_t num_parts = 0;
    std::uint32_t num_frames = 0;
    std::vector<graphics::Frame> pos_frames;
    std::vector<setup_model::AnimationFrame> part_frames;

    /// Decodes one animation file from the cursor's position; bytes after the last frame are not
    /// examined. Neither the flags nor the id are checked. The first error is returned unchanged:
    /// plain `Io` for a short header word or hook count, the Frame reader's backtrace for a short
    /// root or part placement, the hook decoder's error for a bad hook. A count larger than the
    /// input can satisfy fails with the short-read error of the first element that does not fit,
    /// without reserving room for the stored count.
    [[nodiscard]] static common::DecodeResult<Animation> read(common::ByteCursor& cursor);
    /// Decodes the animation held in `data`, from its first byte: `read` at a cursor over `data`,
    /// same errors. `consumed`, when given, receives on success the number of bytes the animation
    /// occupies; fewer than `data.size()` means the file has bytes after it, which no encoder
    /// writes back.
    [[nodiscard]] static common::DecodeResult<Animation> read(std::span<const std::uint8_t> data,
                                                              std::uint64_t* consumed = nullptr);

    /// Writes the animation at the writer's position. Lossless: for a decoded animation these
    /// are exactly the bytes it came from (without any trailing bytes). An animation whose
    /// counts disagree with its lists is refused with a `Custom` error before anything is
    /// written: `part_frames` must hold `num_frames` frames of `num_parts` placements each, and
    /// `pos_frames` `num_frames` placements with `POS_FRAMES`, none without.
    [[nodiscard]] common::DecodeResult<void> write(common::ByteWriter& writer) const;
    /// The encoded animation; fails only as `write` does.
    [[nodiscard]] common::DecodeResult<std::vector<std::uint8_t>> pack() const;

    friend bool operator==(const Animation&, const Animation&) = default;
};

/// An animation file as it lies in borrowed bytes: the layout of `Animation` checked whole in
/// one pass that allocates nothing, then the frames and their hooks offered in place, each hook
/// with its offset. Valid while those bytes live.
///
///     common::ByteCursor cursor(bytes);
///     QM_TRY(const AnimationView animation, AnimationView::read(cursor));
///     for (const setup_model::FrameView& frame : animation.part_frames) {
///         for (const setup_model::HookView& hook : frame.hooks) {
///             use(hook.hook_type, bytes.subspan(hook.offset, hook.encoded_size()));
///         }
///     }
struct QUILLMERE_DAT_EXPORT AnimationView {
    std::uint32_t id = 0;
    AnimationFlags flags;
    std::uint32_t num_parts = 0;
    std::uint32_t num_frames = 0;
    /// The root placements as stored, 28 bytes each; empty without `POS_FRAMES`.
    std::span<const std::uint8_t> pos_frames;
    /// The `num_frames` frames in file order; offsets count from the start of the cursor's data.
    setup_model::FrameSequence part_frames;

    /// Checks one whole animation at the cursor's position. The reads, the errors and the cursor
    /// position after success or failure are exactly those of `Animation::read`, which is this
    /// followed by copies of what the view shows.
    [[nodiscard]] static common::DecodeResult<AnimationView> read(common::ByteCursor& cursor);
    /// `read` under its former name, kept for code written against it.
    [[deprecated("use read")]] [[nodiscard]] static common::DecodeResult<AnimationView>
    parse(common::ByteCursor& cursor) {
        return read(cursor);
    }
};

} // namespace quillmere::dat::file_type::animation
