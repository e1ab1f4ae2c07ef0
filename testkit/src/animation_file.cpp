// Builder of animation files.
#include "quillmere/testkit/animation_file.hpp"

#include "file_parts.hpp"

namespace quillmere::testkit {

namespace animation = dat::file_type::animation;

using detail::count_of;
using detail::cycling_hooks;
using detail::frames_of;
using detail::to_animation_frame;

std::vector<std::uint8_t> build_animation(const AnimationSpec& plan) {
    const std::size_t first_parts =
        plan.part_frames.empty() ? 0 : plan.part_frames[0].frames.size();
    Bytes out;
    out.u32(plan.id)
        .u32(plan.flags)
        .u32(count_of(plan.num_parts, first_parts))
        .u32(count_of(plan.num_frames, plan.part_frames.size()));
    if ((plan.flags & 0x1) != 0) {
        for (const auto& frame : plan.pos_frames) {
            append_frame(out, frame);
        }
    }
    for (const auto& frame : plan.part_frames) {
        append_animation_frame(out, frame);
    }
    return out.take();
}

AnimationSpec make_animation_spec(std::uint32_t seed, std::uint32_t num_parts,
                                  std::uint32_t num_frames, std::uint32_t hooks_per_frame,
                                  bool pos_frames) {
    AnimationSpec plan;
    plan.id = 0x03000000U | (seed & 0xFFFFFFU);
    plan.flags = pos_frames ? 0x1U : 0U;
    plan.num_parts = num_parts;
    if (pos_frames) {
        plan.pos_frames = frames_of(seed ^ 0x5A5A5A5AU, num_frames);
    }
    plan.part_frames.reserve(num_frames);
    for (std::uint32_t f = 0; f < num_frames; ++f) {
        plan.part_frames.push_back(
            {frames_of(seed + f * 31U, num_parts),
             cycling_hooks(seed, std::uint64_t{f} * hooks_per_frame + seed, hooks_per_frame),
             std::nullopt});
    }
    return plan;
}

animation::Animation expected_animation(const AnimationSpec& plan) {
    animation::Animation out;
    out.id = plan.id;
    out.flags = animation::AnimationFlags::from_bits_retain(plan.flags);
    out.num_parts =
        count_of(plan.num_parts, plan.part_frames.empty() ? 0 : plan.part_frames[0].frames.size());
    out.num_frames = count_of(plan.num_frames, plan.part_frames.size());
    if ((plan.flags & 0x1) != 0) {
        out.pos_frames = plan.pos_frames;
    }
    for (const auto& frame : plan.part_frames) {
        out.part_frames.push_back(to_animation_frame(frame));
    }
    return out;
}

} // namespace quillmere::testkit
