// Fuzz target: animation files. A decoded animation has the shape its header declares, and
// writing it back field by field (the format has no encoder in the library; this one is the
// target's own) gives exactly the bytes the decoder consumed.
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

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = quillmere::fuzz::input_bytes(data, size);
    ByteCursor cursor(input);
    auto animation = Animation::read(cursor);
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
