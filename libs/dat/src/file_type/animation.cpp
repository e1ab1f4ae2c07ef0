// Animation files: header, optional root placements, then the part frames.
#include "quillmere/dat/file_type/animation.hpp"

#include "file_type/detail/animation_frame.hpp"
#include "quillmere/common/text.hpp"
#include "quillmere/common/try.hpp"

#include <limits>
#include <string>

namespace quillmere::dat::file_type::animation {

using common::ByteCursor;
using common::DecodeResult;
using setup_model::FrameView;

DecodeResult<AnimationView> AnimationView::read(ByteCursor& cursor) {
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
    QM_TRY(const AnimationView view, AnimationView::read(cursor));
    Animation animation{view.id,
                        view.flags,
                        view.num_parts,
                        view.num_frames,
                        setup_model::detail::decode_frames(view.pos_frames),
                        {}};
    // The view's `read` found every frame, so the count is what the input holds.
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

namespace {

common::DecodeError refused(std::uint64_t pos, const Animation& animation, const std::string& why) {
    return common::DecodeError::custom(pos,
                                       "Animation 0x" + common::hex8(animation.id) + " " + why);
}

} // namespace

DecodeResult<void> Animation::write(common::ByteWriter& writer) const {
    const std::uint64_t pos = writer.position();
    if (part_frames.size() != num_frames) {
        return std::unexpected(refused(pos, *this,
                                       "has " + std::to_string(part_frames.size()) +
                                           " part frames for num_frames " +
                                           std::to_string(num_frames)));
    }
    const std::size_t roots = flags.contains(AnimationFlags::POS_FRAMES) ? num_frames : 0;
    if (pos_frames.size() != roots) {
        return std::unexpected(refused(pos, *this,
                                       "has " + std::to_string(pos_frames.size()) +
                                           " pos frames where its flags and num_frames call for " +
                                           std::to_string(roots)));
    }
    for (std::size_t i = 0; i < part_frames.size(); ++i) {
        const auto& frame = part_frames[i];
        if (frame.frames.size() != num_parts) {
            return std::unexpected(refused(
                pos, *this,
                "frame " + std::to_string(i) + " has " + std::to_string(frame.frames.size()) +
                    " placements for num_parts " + std::to_string(num_parts)));
        }
        if (frame.hooks.size() > std::numeric_limits<std::uint32_t>::max()) {
            return std::unexpected(refused(pos, *this,
                                           "frame " + std::to_string(i) +
                                               " has more hooks than a 32-bit count can hold"));
        }
    }
    writer.write_u32(id);
    writer.write_u32(flags.bits());
    writer.write_u32(num_parts);
    writer.write_u32(num_frames);
    for (const graphics::Frame& frame : pos_frames) {
        frame.write_le(writer);
    }
    for (const auto& frame : part_frames) {
        QM_TRY_VOID(frame.write(writer));
    }
    return {};
}

DecodeResult<std::vector<std::uint8_t>> Animation::pack() const {
    std::vector<std::uint8_t> out;
    common::ByteWriter writer(out);
    QM_TRY_VOID(write(writer));
    return out;
}

} // namespace quillmere::dat::file_type::animation
