// Animation files: header, optional root placements, then the part frames.
#include "quillmere/dat/file_type/animation.hpp"

#include "file_type/detail/animation_frame.hpp"
#include "quillmere/common/try.hpp"

namespace quillmere::dat::file_type::animation {

using common::ByteCursor;
using common::DecodeResult;
using setup_model::FrameView;

DecodeResult<AnimationView> AnimationView::parse(ByteCursor& cursor) {
    QM_TRY(std::uint32_t id, cursor.read_u32());
    QM_TRY(std::uint32_t flag_bits, cursor.read_u32());
    QM_TRY(std::uint32_t num_parts, cursor.read_u32());
    QM_TRY(std::uint32_t num_frames, cursor.read_u32());
    const auto flags = AnimationFlags::from_bits_retain(flag_bits);

    std::span<const std::uint8_t> pos_frames;
    if (flags.contains(AnimationFlags::POS_FRAMES)) {
        QM_TRY(auto bytes, setup_model::detail::placements(cursor, num_frames));
        pos_frames = bytes;
    }

    // Each frame is taken by the step; the first it refuses is read again by `FrameView::read`,
    // which finds the exact error. Every frame takes at least its hook count, so a huge count
    // ends with the input.
    const std::uint64_t frames_start = cursor.position();
    const setup_model::FrameStep step{num_parts};
    std::uint64_t pos = frames_start;
    for (std::uint32_t i = 0; i < num_frames; ++i) {
        if (FrameView frame; !step(cursor.data(), pos, frame)) {
            cursor.set_position(pos);
            QM_TRY_VOID(FrameView::read(cursor, num_parts));
            pos = cursor.position();
        }
    }
    cursor.set_position(pos);
    return AnimationView{
        id,
        flags,
        num_parts,
        num_frames,
        pos_frames,
        setup_model::FrameSequence(cursor.data(), frames_start, num_frames, {num_parts})};
}

DecodeResult<Animation> Animation::read(ByteCursor& cursor) {
    QM_TRY(const AnimationView view, AnimationView::parse(cursor));
    Animation animation{view.id,
                        view.flags,
                        view.num_parts,
                        view.num_frames,
                        setup_model::detail::decode_frames(view.pos_frames),
                        {}};
    // The parse found every frame, so the count is what the input holds.
    animation.part_frames.reserve(view.num_frames);
    for (const FrameView& frame : view.part_frames) {
        animation.part_frames.push_back(frame.to_owned());
    }
    return animation;
}

DecodeResult<Animation> Animation::read(std::span<const std::uint8_t> data,
                                        std::uint64_t* consumed) {
    ByteCursor cursor(data);
    auto decoded = read(cursor);
    if (decoded && consumed != nullptr) {
        *consumed = cursor.position();
    }
    return decoded;
}

} // namespace quillmere::dat::file_type::animation
