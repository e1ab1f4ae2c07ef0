// Animation files: header, optional root placements, then the part frames.
#include "quillmere/dat/file_type/animation.hpp"

#include "file_type/capped_reserve.hpp"
#include "file_type/detail/animation_frame.hpp"
#include "quillmere/common/try.hpp"

namespace quillmere::dat::file_type::animation {

using common::ByteCursor;
using common::DecodeResult;
using setup_model::AnimationFrame;

namespace {

// The smallest animation frame: its part placements and a hook count with no hooks.
constexpr std::uint64_t min_animation_frame_size(std::uint32_t num_parts) {
    return graphics::Frame::kWireSize * num_parts + 4;
}

} // namespace

DecodeResult<Animation> Animation::read(ByteCursor& cursor) {
    QM_TRY(std::uint32_t id, cursor.read_u32());
    QM_TRY(std::uint32_t flag_bits, cursor.read_u32());
    QM_TRY(std::uint32_t num_parts, cursor.read_u32());
    QM_TRY(std::uint32_t num_frames, cursor.read_u32());
    const auto flags = AnimationFlags::from_bits_retain(flag_bits);

    std::vector<graphics::Frame> pos_frames;
    if (flags.contains(AnimationFlags::POS_FRAMES)) {
        QM_TRY(auto frames, setup_model::detail::read_frames(cursor, num_frames));
        pos_frames = std::move(frames);
    }

    std::vector<AnimationFrame> part_frames;
    file_type::detail::capped_reserve(part_frames, num_frames, cursor,
                                      min_animation_frame_size(num_parts));
    for (std::uint32_t i = 0; i < num_frames; ++i) {
        QM_TRY(auto frame, AnimationFrame::read(cursor, num_parts));
        part_frames.push_back(std::move(frame));
    }
    return Animation{
        id, flags, num_parts, num_frames, std::move(pos_frames), std::move(part_frames)};
}

} // namespace quillmere::dat::file_type::animation
