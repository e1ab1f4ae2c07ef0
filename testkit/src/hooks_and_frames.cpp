// Builders of hooks, placements and animation frames, and the pieces every file builder shares;
// the byte layouts are written out here on their own so that a fault in the library's readers
// cannot cancel out in tests.
#include "quillmere/testkit/hooks_and_frames.hpp"

#include "file_parts.hpp"
#include "quillmere/common/random.hpp"

#include <cassert>

namespace quillmere::testkit {

namespace {

constexpr std::uint32_t kHookTypes = 27;
constexpr std::uint32_t kReplaceObject = 5;

// Payload sizes by hook type; ReplaceObject (3 or 5 bytes) is built separately.
constexpr std::array<std::uint32_t, kHookTypes> kPayloadSizes = {
    0, 4, 4, 28, 0, 0, 4, 16, 12, 16, 12, 16, 8, 40, 4, 4, 4, 0, 4, 8, 12, 16, 12, 8, 12, 4, 40,
};

std::uint8_t byte_of(std::uint32_t seed, std::uint64_t index) {
    return static_cast<std::uint8_t>(common::mix64((std::uint64_t{seed} << 20) ^ index));
}

} // namespace

namespace detail {

float float_of(std::uint32_t seed, std::uint64_t index) {
    const auto steps =
        static_cast<std::int32_t>(common::mix64((std::uint64_t{seed} << 24) ^ index) % 32768);
    return static_cast<float>(steps - 16384) / 256.0F;
}

common::Vector3 vector_of(std::uint32_t seed, std::uint64_t index) {
    return {float_of(seed, index), float_of(seed, index + 1), float_of(seed, index + 2)};
}

void append_vector(Bytes& out, const common::Vector3& v) {
    out.f32(v.x).f32(v.y).f32(v.z);
}

std::vector<Hook> cycling_hooks(std::uint32_t seed, std::uint64_t first, std::uint32_t count) {
    std::vector<Hook> hooks;
    hooks.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t n = first + i;
        const auto direction = static_cast<std::int32_t>(common::mix64(seed + n) % 3) - 1;
        hooks.push_back(make_hook(static_cast<std::uint32_t>(n % kHookTypes), direction,
                                  seed + static_cast<std::uint32_t>(n / kHookTypes)));
    }
    return hooks;
}

std::vector<Frame> frames_of(std::uint32_t seed, std::uint32_t count) {
    std::vector<Frame> frames;
    frames.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        frames.push_back(make_frame(seed * 7919U + i));
    }
    return frames;
}

dat::file_type::setup_model::AnimationFrame to_animation_frame(const AnimationFrameSpec& plan) {
    return {plan.frames, plan.hooks};
}

} // namespace detail

using detail::float_of;
using detail::vector_of;

std::uint32_t hook_payload_size(std::uint32_t hook_type) {
    assert(hook_type < kHookTypes && hook_type != kReplaceObject);
    return hook_type < kHookTypes ? kPayloadSizes[hook_type] : 0;
}

Hook make_hook(std::uint32_t hook_type, std::int32_t direction, std::uint32_t seed) {
    if (hook_type == kReplaceObject) {
        const auto part = byte_of(seed, 0);
        const auto word = static_cast<std::uint16_t>(byte_of(seed, 1) | (byte_of(seed, 2) << 8));
        if (seed % 2 == 0) {
            return make_replace_object_short(direction, part, word & 0x7FFF,
                                             static_cast<std::uint8_t>(byte_of(seed, 3) | 1));
        }
        return make_replace_object_long(
            direction, part, word | 0x8000,
            static_cast<std::uint16_t>(byte_of(seed, 4) | (byte_of(seed, 5) << 8)),
            {0xA1, static_cast<std::uint8_t>(byte_of(seed, 6) | 1), 0xA3});
    }
    Hook hook{hook_type, direction, {}};
    hook.data.resize(hook_type < kHookTypes ? kPayloadSizes[hook_type] : 0);
    for (std::size_t i = 0; i < hook.data.size(); ++i) {
        hook.data[i] = byte_of(seed, 100 + i);
    }
    return hook;
}

Hook make_replace_object_short(std::int32_t direction, std::uint8_t part_index, std::uint16_t upper,
                               std::uint8_t padding) {
    assert((upper & 0x8000) == 0 && "the short form has bit 15 clear");
    Bytes payload;
    payload.u8(part_index).u16(upper).u8(padding);
    return Hook{kReplaceObject, direction, payload.take()};
}

Hook make_replace_object_long(std::int32_t direction, std::uint8_t part_index, std::uint16_t upper,
                              std::uint16_t lower, std::array<std::uint8_t, 3> padding) {
    assert((upper & 0x8000) != 0 && "the long form has bit 15 set");
    Bytes payload;
    payload.u8(part_index).u16(upper).u16(lower).raw(padding);
    return Hook{kReplaceObject, direction, payload.take()};
}

Frame make_frame(std::uint32_t seed) {
    return Frame{vector_of(seed, 0),
                 {float_of(seed, 3), float_of(seed, 4), float_of(seed, 5), float_of(seed, 6)}};
}

std::vector<std::string> frame_contexts_at(std::size_t offset_in_frame) {
    if (offset_in_frame >= Frame::kWireSize) {
        return {};
    }
    const auto field = [](char name, const char* record) {
        return std::string("While parsing field '") + name + "' in " + record;
    };
    if (offset_in_frame < 12) {
        return {field("xyz"[offset_in_frame / 4], "Vector3"),
                "While parsing field 'origin' in Frame"};
    }
    return {field("wxyz"[(offset_in_frame - 12) / 4], "Quaternion"),
            "While parsing field 'orientation' in Frame"};
}

void append_hook(Bytes& out, const Hook& hook) {
    out.u32(hook.hook_type).i32(hook.direction).raw(hook.data);
}

void append_frame(Bytes& out, const Frame& frame) {
    detail::append_vector(out, frame.origin);
    out.f32(frame.orientation.w)
        .f32(frame.orientation.x)
        .f32(frame.orientation.y)
        .f32(frame.orientation.z);
}

void append_animation_frame(Bytes& out, const AnimationFrameSpec& frame) {
    for (const auto& placement : frame.frames) {
        append_frame(out, placement);
    }
    out.u32(detail::count_of(frame.num_hooks, frame.hooks.size()));
    for (const auto& hook : frame.hooks) {
        append_hook(out, hook);
    }
}

} // namespace quillmere::testkit
