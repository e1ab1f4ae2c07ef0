// Encoding typed hook payloads back into the bytes a hook keeps, one writer per payload layout.
#include "file_type/detail/hook_payload.hpp"
#include "quillmere/common/byte_writer.hpp"
#include "quillmere/common/text.hpp"
#include "quillmere/dat/file_type/hook_payload.hpp"

#include <type_traits>

namespace quillmere::dat::file_type::setup_model {

using common::ByteWriter;
using common::DecodeError;
using common::DecodeResult;

namespace {

// The largest id a packed id holds: 15 bits of upper word, 16 of lower.
constexpr std::uint32_t kMaxPackedId = 0x7FFFFFFF;

void write_packed_id(ByteWriter& w, std::uint32_t id) {
    if (id < 0x8000) {
        w.write_u16(static_cast<std::uint16_t>(id));
        return;
    }
    w.write_u16(static_cast<std::uint16_t>(0x8000 | (id >> 16)));
    w.write_u16(static_cast<std::uint16_t>(id & 0xFFFF));
}

// One writer per payload record, listing its fields in the order its `read_le` reads them.

void write_record(ByteWriter& /*w*/, const EmptyPayload& /*p*/) {}

void write_record(ByteWriter& w, const SoundPayload& p) {
    w.write_u32(p.id);
}

void write_record(ByteWriter& w, const SoundTablePayload& p) {
    w.write_u32(p.sound_type);
}

void write_record(ByteWriter& w, const AttackCone& p) {
    w.write_u32(p.part_index);
    for (float v : {p.left_x, p.left_y, p.right_x, p.right_y, p.radius, p.height}) {
        w.write_f32(v);
    }
}

void write_record(ByteWriter& w, const AnimPartChange& p) {
    w.write_u8(p.part_index);
    write_packed_id(w, p.part_id);
}

void write_record(ByteWriter& w, const EtherealPayload& p) {
    w.write_i32(p.ethereal);
}

void write_record(ByteWriter& w, const PartRamp& p) {
    w.write_u32(p.part);
    for (float v : {p.start, p.end, p.time}) {
        w.write_f32(v);
    }
}

void write_record(ByteWriter& w, const Ramp& p) {
    for (float v : {p.start, p.end, p.time}) {
        w.write_f32(v);
    }
}

void write_record(ByteWriter& w, const ScalePayload& p) {
    w.write_f32(p.end);
    w.write_f32(p.time);
}

void write_record(ByteWriter& w, const CreateParticleHookPayload& p) {
    w.write_u32(p.emitter_info_id);
    w.write_u32(p.part_index);
    p.offset.write_le(w);
    w.write_u32(p.emitter_id);
}

void write_record(ByteWriter& w, const ParticleEmitterPayload& p) {
    w.write_u32(p.emitter_id);
}

void write_record(ByteWriter& w, const NoDrawPayload& p) {
    w.write_u32(p.no_draw);
}

void write_record(ByteWriter& w, const DefaultScriptPartPayload& p) {
    w.write_u32(p.part_index);
}

void write_record(ByteWriter& w, const CallPesPayload& p) {
    w.write_u32(p.pes);
    w.write_f32(p.pause);
}

void write_record(ByteWriter& w, const SoundTweakedPayload& p) {
    w.write_u32(p.sound_id);
    for (float v : {p.probability, p.priority, p.volume}) {
        w.write_f32(v);
    }
}

void write_record(ByteWriter& w, const SetOmegaPayload& p) {
    p.axis.write_le(w);
}

void write_record(ByteWriter& w, const TextureVelocityPayload& p) {
    w.write_f32(p.u_speed);
    w.write_f32(p.v_speed);
}

void write_record(ByteWriter& w, const TextureVelocityPartPayload& p) {
    w.write_u32(p.part_index);
    w.write_f32(p.u_speed);
    w.write_f32(p.v_speed);
}

void write_record(ByteWriter& w, const SetLightPayload& p) {
    w.write_i32(p.lights_on);
}

void write_fields(ByteWriter& w, const HookPayload& payload) {
    std::visit([&](const auto& record) { write_record(w, record); }, payload);
}

} // namespace

DecodeResult<std::vector<std::uint8_t>> pack_payload(std::uint32_t hook_type,
                                                     const HookPayload& payload) {
    const auto type = hooks::hook_type_of(hook_type);
    if (!type) {
        return std::unexpected(
            DecodeError::custom(0, "Unsupported AnimationHook type: 0x" + common::hex8(hook_type)));
    }
    if (payload.index() != detail::payload_alternative(hook_type)) {
        const std::string_view record =
            std::visit([](const auto& p) { return std::decay_t<decltype(p)>::kRecord; }, payload);
        return std::unexpected(
            DecodeError::custom(0, std::string(record) + " is not the payload of a " +
                                       std::string(hooks::hook_type_name(*type)) + " hook"));
    }
    if (const auto* change = std::get_if<AnimPartChange>(&payload);
        change != nullptr && change->part_id > kMaxPackedId) {
        return std::unexpected(DecodeError::custom(0, "part_id 0x" + common::hex8(change->part_id) +
                                                          " does not fit a packed id"));
    }
    std::vector<std::uint8_t> bytes;
    ByteWriter writer(bytes);
    write_fields(writer, payload);
    bytes.resize((bytes.size() + 3) / 4 * 4, 0);
    return bytes;
}

DecodeResult<void> set_payload(AnimationHook& hook, const HookPayload& payload) {
    auto bytes = pack_payload(hook.hook_type, payload);
    if (!bytes) {
        return std::unexpected(std::move(bytes).error());
    }
    hook.data = std::move(*bytes);
    return {};
}

} // namespace quillmere::dat::file_type::setup_model
