// Fuzz target: animation files. A decoded animation has the shape its header declares, and
// writing it back field by field (the format has no encoder in the library; this one is the
// target's own) gives exactly the bytes the decoder consumed. The view the decoder is built on
// agrees with it: the same verdict, error and end position, and hooks that are the decoded ones,
// each lying at its offset.
#include "fuzz_support.hpp"
#include "quillmere/common/byte_cursor.hpp"
#include "quillmere/common/byte_writer.hpp"
#include "quillmere/dat/file_type/animation.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

using quillmere::common::ByteCursor;
using quillmere::common::ByteWriter;
using quillmere::dat::file_type::animation::Animation;
using quillmere::dat::file_type::animation::AnimationFlags;
using quillmere::dat::file_type::animation::AnimationView;
using quillmere::dat::file_type::setup_model::HookView;

namespace {

std::vector<std::uint8_t> encode(const Animation& animation) {
    std::vector<std::uint8_t> out;
    ByteWriter writer(out);
    writer.write_u32(animation.id);
    writer.write_u32(animation.flags.bits());
    writer.write_u32(animation.num_parts);
    writer.write_u32(animation.num_frames);
    for (const auto& frame : animation.pos_frames) {
        frame.write_le(writer);
    }
    for (const auto& part_frame : animation.part_frames) {
        for (const auto& frame : part_frame.frames) {
            frame.write_le(writer);
        }
        writer.write_u32(static_cast<std::uint32_t>(part_frame.hooks.size()));
        for (const auto& hook : part_frame.hooks) {
            FUZZ_CHECK(hook.write(writer).has_value());
        }
    }
    return out;
}

} // namespace

// The view of `input` against the decoded `animation` (or its error) and the decoder's end.
void check_view(std::span<const std::uint8_t> input,
                const quillmere::common::DecodeResult<Animation>& animation,
                std::uint64_t decoder_end) {
    ByteCursor cursor(input);
    const auto view = AnimationView::read(cursor);
    FUZZ_CHECK(view.has_value() == animation.has_value());
    FUZZ_CHECK(cursor.position() == decoder_end);
    if (!view) {
        FUZZ_CHECK(view.error().diagnostic() == animation.error().diagnostic());
        return;
    }
    std::size_t frame_index = 0;
    for (const auto& frame : view->part_frames) {
        FUZZ_CHECK(frame_index < animation->part_frames.size());
        const auto& hooks = animation->part_frames[frame_index++].hooks;
        std::size_t hook_index = 0;
        for (const HookView& hook : frame.hooks) {
            FUZZ_CHECK(hook_index < hooks.size() && hook.to_owned() == hooks[hook_index++]);
            ByteCursor at(input);
            at.set_position(hook.offset);
            const auto again = HookView::read(at);
            FUZZ_CHECK(again && again->data.data() == hook.data.data());
        }
        FUZZ_CHECK(hook_index == hooks.size());
    }
    FUZZ_CHECK(frame_index == animation->part_frames.size());
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = quillmere::fuzz::input_bytes(data, size);
    ByteCursor cursor(input);
    auto animation = Animation::read(cursor);
    check_view(input, animation, cursor.position());
    if (!animation) {
        quillmere::fuzz::exercise_error(animation.error());
        return 0;
    }
    FUZZ_CHECK(cursor.position() <= size);
    FUZZ_CHECK(animation->part_frames.size() == animation->num_frames);
    const bool has_roots = animation->flags.contains(AnimationFlags::POS_FRAMES);
    FUZZ_CHECK(animation->pos_frames.size() == (has_roots ? animation->num_frames : 0));
    for (const auto& part_frame : animation->part_frames) {
        FUZZ_CHECK(part_frame.frames.size() == animation->num_parts);
    }
    const std::vector<std::uint8_t> encoded = encode(*animation);
    FUZZ_CHECK(encoded.size() == cursor.position());
    FUZZ_CHECK(std::equal(encoded.begin(), encoded.end(), input.begin()));
    return 0;
}
