// Encoding typed hook payloads back into the bytes a hook keeps, one writer per payload layout.
#include "file_type/detail/hook_payload.hpp"
#include "quillmere/common/byte_writer.hpp"
#include "quillmere/common/overloaded.hpp"
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

void write_value(ByteWriter& w, std::uint8_t value) {
    w.write_u8(value);
}
void write_value(ByteWriter& w, std::uint32_t value) {
    w.write_u32(value);
}
void write_value(ByteWriter& w, std::int32_t value) {
    w.write_i32(value);
}
void write_value(ByteWriter& w, float value) {
    w.write_f32(value);
}
void write_value(ByteWriter& w, const common::Vector3& value) {
    value.write_le(w);
}
void write_value(ByteWriter& w, const graphics::Frame& value) {
    value.write_le(w);
}

// Each record's fields in the order its `read_le` reads them.
void write_fields(ByteWriter& w, const HookPayload& payload) {
    const auto write = [&w](const auto&... values) { (write_value(w, values), ...); };
    std::visit(
        common::Overloaded{
            [](const EmptyPayload&) {},
            [&](const SoundPayload& p) { write(p.id); },
            [&](const SoundTablePayload& p) { write(p.sound_type); },
            [&](const AttackCone& p) {
                write(p.part_index, p.left_x, p.left_y, p.right_x, p.right_y, p.radius, p.height);
            },
            [&](const AnimPartChange& p) {
                write(p.part_index);
                write_packed_id(w, p.part_id);
            },
            [&](const EtherealPayload& p) { write(p.ethereal); },
            [&](const PartRamp& p) { write(p.part, p.start, p.end, p.time); },
            [&](const Ramp& p) { write(p.start, p.end, p.time); },
            [&](const ScalePayload& p) { write(p.end, p.time); },
            [&](const CreateParticleHookPayload& p) {
                write(p.emitter_info_id, p.part_index, p.offset, p.emitter_id);
            },
            [&](const ParticleEmitterPayload& p) { write(p.emitter_id); },
            [&](const NoDrawPayload& p) { write(p.no_draw); },
            [&](const DefaultScriptPartPayload& p) { write(p.part_index); },
            [&](const CallPesPayload& p) { write(p.pes, p.pause); },
            [&](const SoundTweakedPayload& p) {
                write(p.sound_id, p.probability, p.priority, p.volume);
            },
            [&](const SetOmegaPayload& p) { write(p.axis); },
            [&](const TextureVelocityPayload& p) { write(p.u_speed, p.v_speed); },
            [&](const TextureVelocityPartPayload& p) { write(p.part_index, p.u_speed, p.v_speed); },
            [&](const SetLightPayload& p) { write(p.lights_on); },
        },
        payload);
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
