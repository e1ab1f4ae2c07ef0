// One frame of an animation: part placements, checked as stored bytes and decoded in bulk, and
// the frame's hooks.
#include "quillmere/dat/file_type/animation_frame.hpp"

#include "file_type/detail/animation_frame.hpp"
#include "quillmere/common/le.hpp"
#include "quillmere/common/try.hpp"

#include <cassert>
#include <limits>
#include <string>

namespace quillmere::dat::file_type::setup_model {

using common::ByteCursor;
using common::DecodeResult;
using graphics::Frame;

namespace detail {

DecodeResult<std::span<const std::uint8_t>> placements(ByteCursor& cursor, std::uint32_t count) {
    const std::uint64_t size = Frame::kWireSize * count;
    if (size <= cursor.remaining()) {
        QM_TRY(auto bytes, cursor.read_exact(size));
        return bytes;
    }
    // Some frame runs short; the record reader names it exactly.
    for (std::uint32_t i = 0; i < count; ++i) {
        QM_TRY_VOID(Frame::read_le(cursor));
    }
    assert(false && "frames that do not fit cannot all be read");
    return std::span<const std::uint8_t>();
}

// Field order and bit-for-bit float loads match Frame::read_le.
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

} // namespace detail

bool FrameStep::operator()(std::span<const std::uint8_t> data, std::uint64_t& pos,
                           FrameView& out) const noexcept {
    const std::uint64_t parts_size = Frame::kWireSize * num_parts;
    if (pos > data.size() || data.size() - pos < parts_size + 4) {
        return false;
    }
    const auto part_frames =
        data.subspan(static_cast<std::size_t>(pos), static_cast<std::size_t>(parts_size));
    const auto num_hooks = common::load_le<std::uint32_t>(data.data() + pos + parts_size);
    const std::uint64_t hooks_start = pos + parts_size + 4;
    std::uint64_t end = hooks_start;
    // Every hook takes at least 8 bytes, so a huge count ends with the data.
    for (std::uint32_t i = 0; i < num_hooks; ++i) {
        if (HookView hook; !HookStep{}(data, end, hook)) {
            return false;
        }
    }
    out = FrameView{part_frames, HookSequence(data, hooks_start, num_hooks)};
    pos = end;
    return true;
}

// A frame the step refuses is read field by field, so that it fails in the read that runs out:
// a placement (with the Frame reader's context), the hook count or a hook.
DecodeResult<FrameView> FrameView::read(ByteCursor& cursor, std::uint32_t num_parts) {
    std::uint64_t pos = cursor.position();
    if (FrameView frame; FrameStep{num_parts}(cursor.data(), pos, frame)) {
        cursor.set_position(pos);
        return frame;
    }
    QM_TRY(auto part_frames, detail::placements(cursor, num_parts));
    QM_TRY(std::uint32_t num_hooks, cursor.read_u32());
    const std::uint64_t hooks_start = cursor.position();
    for (std::uint32_t i = 0; i < num_hooks; ++i) {
        QM_TRY_VOID(HookView::read(cursor));
    }
    return FrameView{part_frames, HookSequence(cursor.data(), hooks_start, num_hooks)};
}

AnimationFrame FrameView::to_owned() const {
    AnimationFrame frame{detail::decode_frames(part_frames), {}};
    frame.hooks.reserve(hooks.size());
    for (const HookView& hook : hooks) {
        frame.hooks.push_back(hook.to_owned());
    }
    return frame;
}

DecodeResult<AnimationFrame> AnimationFrame::read(ByteCursor& cursor, std::uint32_t num_parts) {
    QM_TRY(const FrameView frame, FrameView::read(cursor, num_parts));
    return frame.to_owned();
}

DecodeResult<void> AnimationFrame::write(common::ByteWriter& writer) const {
    if (hooks.size() > std::numeric_limits<std::uint32_t>::max()) {
        return std::unexpected(common::DecodeError::custom(
            writer.position(), "AnimationFrame has " + std::to_string(hooks.size()) +
                                   " hooks, more than a 32-bit count can hold"));
    }
    for (const Frame& frame : frames) {
        frame.write_le(writer);
    }
    writer.write_u32(static_cast<std::uint32_t>(hooks.size()));
    for (const AnimationHook& hook : hooks) {
        QM_TRY_VOID(hook.write(writer));
    }
    return {};
}

} // namespace quillmere::dat::file_type::setup_model
