// One frame of an animation: part placements, decoded in bulk when the bytes are all there, and
// the frame's hooks.
#include "quillmere/dat/file_type/animation_frame.hpp"

#include "file_type/capped_reserve.hpp"
#include "file_type/detail/animation_frame.hpp"
#include "quillmere/common/le.hpp"
#include "quillmere/common/try.hpp"

namespace quillmere::dat::file_type::setup_model {

using common::ByteCursor;
using common::DecodeResult;
using graphics::Frame;

namespace {

// The smallest hook is its 8-byte header.
constexpr std::uint64_t kMinHookSize = 8;

// Decodes whole frames from `bytes`, whose size is a multiple of the frame size. Field order and
// bit-for-bit float loads match Frame::read_le.
std::vector<Frame> decode_frames(std::span<const std::uint8_t> bytes) {
    std::vector<Frame> frames(bytes.size() / Frame::kWireSize);
    const std::uint8_t* p = bytes.data();
    for (Frame& frame : frames) {
        frame.origin.x = common::load_le<float>(p);
        frame.origin.y = common::load_le<float>(p + 4);
        frame.origin.z = common::load_le<float>(p + 8);
        frame.orientation.w = common::load_le<float>(p + 12);
        frame.orientation.x = common::load_le<float>(p + 16);
        frame.orientation.y = common::load_le<float>(p + 20);
        frame.orientation.z = common::load_le<float>(p + 24);
        p += Frame::kWireSize;
    }
    return frames;
}

} // namespace

namespace detail {

DecodeResult<std::vector<Frame>> read_frames(ByteCursor& cursor, std::uint32_t count) {
    const std::uint64_t size = Frame::kWireSize * count;
    if (size > cursor.remaining()) {
        // Some frame runs short; the reference path names it exactly.
        return read_frames_by_field(cursor, count);
    }
    QM_TRY(auto bytes, cursor.read_exact(size));
    return decode_frames(bytes);
}

DecodeResult<std::vector<Frame>> read_frames_by_field(ByteCursor& cursor, std::uint32_t count) {
    std::vector<Frame> frames;
    file_type::detail::capped_reserve(frames, count, cursor, Frame::kWireSize);
    for (std::uint32_t i = 0; i < count; ++i) {
        QM_TRY(Frame frame, Frame::read_le(cursor));
        frames.push_back(frame);
    }
    return frames;
}

} // namespace detail

DecodeResult<AnimationFrame> AnimationFrame::read(ByteCursor& cursor, std::uint32_t num_parts) {
    QM_TRY(auto frames, detail::read_frames(cursor, num_parts));
    QM_TRY(std::uint32_t num_hooks, cursor.read_u32());
    std::vector<AnimationHook> hooks;
    file_type::detail::capped_reserve(hooks, num_hooks, cursor, kMinHookSize);
    for (std::uint32_t i = 0; i < num_hooks; ++i) {
        QM_TRY(auto hook, AnimationHook::read(cursor));
        hooks.push_back(std::move(hook));
    }
    return AnimationFrame{std::move(frames), std::move(hooks)};
}

} // namespace quillmere::dat::file_type::setup_model
