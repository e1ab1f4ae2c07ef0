// Typed views of animation hook payloads, one record reader per payload layout.
#include "quillmere/dat/file_type/hook_payload.hpp"

#include "file_type/detail/hook_payload.hpp"
#include "quillmere/common/record.hpp"
#include "quillmere/common/text.hpp"
#include "quillmere/common/try.hpp"

#include <array>
#include <utility>

namespace quillmere::dat::file_type::setup_model {

using common::ByteCursor;
using common::DecodeError;
using common::DecodeResult;
using common::RecordReader;

DecodeResult<EmptyPayload> EmptyPayload::read_le(ByteCursor& /*cursor*/) {
    return EmptyPayload{};
}

DecodeResult<SoundPayload> SoundPayload::read_le(ByteCursor& cursor) {
    RecordReader r(cursor, kRecord);
    QM_TRY(auto id, r.field("id", &ByteCursor::read_u32));
    return SoundPayload{id};
}

DecodeResult<SoundTablePayload> SoundTablePayload::read_le(ByteCursor& cursor) {
    RecordReader r(cursor, kRecord);
    QM_TRY(auto sound_type, r.field("sound_type", &ByteCursor::read_u32));
    return SoundTablePayload{sound_type};
}

DecodeResult<AttackCone> AttackCone::read_le(ByteCursor& cursor) {
    RecordReader r(cursor, kRecord);
    QM_TRY(auto part_index, r.field("part_index", &ByteCursor::read_u32));
    QM_TRY(auto left_x, r.field("left_x", &ByteCursor::read_f32));
    QM_TRY(auto left_y, r.field("left_y", &ByteCursor::read_f32));
    QM_TRY(auto right_x, r.field("right_x", &ByteCursor::read_f32));
    QM_TRY(auto right_y, r.field("right_y", &ByteCursor::read_f32));
    QM_TRY(auto radius, r.field("radius", &ByteCursor::read_f32));
    QM_TRY(auto height, r.field("height", &ByteCursor::read_f32));
    return AttackCone{part_index, left_x, left_y, right_x, right_y, radius, height};
}

namespace detail {

DecodeResult<std::uint32_t> read_packed_id(ByteCursor& cursor) {
    const std::uint64_t start = cursor.position();
    QM_TRY(std::uint16_t upper, cursor.read_u16());
    if ((upper & 0x8000U) == 0) {
        return upper;
    }
    auto lower = cursor.read_u16();
    if (!lower) {
        cursor.set_position(start);
        return std::unexpected(std::move(lower).error());
    }
    return (static_cast<std::uint32_t>(upper & 0x7FFFU) << 16) | *lower;
}

} // namespace detail

DecodeResult<AnimPartChange> AnimPartChange::read_le(ByteCursor& cursor) {
    RecordReader r(cursor, kRecord);
    QM_TRY(auto part_index, r.field("part_index", &ByteCursor::read_u8));
    QM_TRY(auto part_id, r.field("part_id", detail::read_packed_id));
    return AnimPartChange{part_index, part_id};
}

DecodeResult<EtherealPayload> EtherealPayload::read_le(ByteCursor& cursor) {
    RecordReader r(cursor, kRecord);
    QM_TRY(auto ethereal, r.field("ethereal", &ByteCursor::read_i32));
    return EtherealPayload{ethereal};
}

DecodeResult<PartRamp> PartRamp::read_le(ByteCursor& cursor) {
    RecordReader r(cursor, kRecord);
    QM_TRY(auto part, r.field("part", &ByteCursor::read_u32));
    QM_TRY(auto start, r.field("start", &ByteCursor::read_f32));
    QM_TRY(auto end, r.field("end", &ByteCursor::read_f32));
    QM_TRY(auto time, r.field("time", &ByteCursor::read_f32));
    return PartRamp{part, start, end, time};
}

DecodeResult<Ramp> Ramp::read_le(ByteCursor& cursor) {
    RecordReader r(cursor, kRecord);
    QM_TRY(auto start, r.field("start", &ByteCursor::read_f32));
    QM_TRY(auto end, r.field("end", &ByteCursor::read_f32));
    QM_TRY(auto time, r.field("time", &ByteCursor::read_f32));
    return Ramp{start, end, time};
}

DecodeResult<ScalePayload> ScalePayload::read_le(ByteCursor& cursor) {
    RecordReader r(cursor, kRecord);
    QM_TRY(auto end, r.field("end", &ByteCursor::read_f32));
    QM_TRY(auto time, r.field("time", &ByteCursor::read_f32));
    return ScalePayload{end, time};
}

DecodeResult<CreateParticleHookPayload> CreateParticleHookPayload::read_le(ByteCursor& cursor) {
    RecordReader r(cursor, kRecord);
    QM_TRY(auto emitter_info_id, r.field("emitter_info_id", &ByteCursor::read_u32));
    QM_TRY(auto part_index, r.field("part_index", &ByteCursor::read_u32));
    QM_TRY(auto offset, r.field("offset", graphics::Frame::read_le));
    QM_TRY(auto emitter_id, r.field("emitter_id", &ByteCursor::read_u32));
    return CreateParticleHookPayload{emitter_info_id, part_index, offset, emitter_id};
}

DecodeResult<ParticleEmitterPayload> ParticleEmitterPayload::read_le(ByteCursor& cursor) {
    RecordReader r(cursor, kRecord);
    QM_TRY(auto emitter_id, r.field("emitter_id", &ByteCursor::read_u32));
    return ParticleEmitterPayload{emitter_id};
}

DecodeResult<NoDrawPayload> NoDrawPayload::read_le(ByteCursor& cursor) {
    RecordReader r(cursor, kRecord);
    QM_TRY(auto no_draw, r.field("no_draw", &ByteCursor::read_u32));
    return NoDrawPayload{no_draw};
}

DecodeResult<DefaultScriptPartPayload> DefaultScriptPartPayload::read_le(ByteCursor& cursor) {
    RecordReader r(cursor, kRecord);
    QM_TRY(auto part_index, r.field("part_index", &ByteCursor::read_u32));
    return DefaultScriptPartPayload{part_index};
}

DecodeResult<CallPesPayload> CallPesPayload::read_le(ByteCursor& cursor) {
    RecordReader r(cursor, kRecord);
    QM_TRY(auto pes, r.field("pes", &ByteCursor::read_u32));
    QM_TRY(auto pause, r.field("pause", &ByteCursor::read_f32));
    return CallPesPayload{pes, pause};
}

DecodeResult<SoundTweakedPayload> SoundTweakedPayload::read_le(ByteCursor& cursor) {
    RecordReader r(cursor, kRecord);
    QM_TRY(auto sound_id, r.field("sound_id", &ByteCursor::read_u32));
    QM_TRY(auto probability, r.field("probability", &ByteCursor::read_f32));
    QM_TRY(auto priority, r.field("priority", &ByteCursor::read_f32));
    QM_TRY(auto volume, r.field("volume", &ByteCursor::read_f32));
    return SoundTweakedPayload{sound_id, probability, priority, volume};
}

DecodeResult<SetOmegaPayload> SetOmegaPayload::read_le(ByteCursor& cursor) {
    RecordReader r(cursor, kRecord);
    QM_TRY(auto axis, r.field("axis", common::Vector3::read_le));
    return SetOmegaPayload{axis};
}

DecodeResult<TextureVelocityPayload> TextureVelocityPayload::read_le(ByteCursor& cursor) {
    RecordReader r(cursor, kRecord);
    QM_TRY(auto u_speed, r.field("u_speed", &ByteCursor::read_f32));
    QM_TRY(auto v_speed, r.field("v_speed", &ByteCursor::read_f32));
    return TextureVelocityPayload{u_speed, v_speed};
}

DecodeResult<TextureVelocityPartPayload> TextureVelocityPartPayload::read_le(ByteCursor& cursor) {
    RecordReader r(cursor, kRecord);
    QM_TRY(auto part_index, r.field("part_index", &ByteCursor::read_u32));
    QM_TRY(auto u_speed, r.field("u_speed", &ByteCursor::read_f32));
    QM_TRY(auto v_speed, r.field("v_speed", &ByteCursor::read_f32));
    return TextureVelocityPartPayload{part_index, u_speed, v_speed};
}

DecodeResult<SetLightPayload> SetLightPayload::read_le(ByteCursor& cursor) {
    RecordReader r(cursor, kRecord);
    QM_TRY(auto lights_on, r.field("lights_on", &ByteCursor::read_i32));
    return SetLightPayload{lights_on};
}

namespace {

// Reads a T and widens it to the variant.
template <class T>
DecodeResult<HookPayload> view(ByteCursor& cursor) {
    QM_TRY(auto payload, T::read_le(cursor));
    return HookPayload(std::move(payload));
}

using PayloadReader = DecodeResult<HookPayload> (*)(ByteCursor&);

template <std::size_t... Alternatives>
constexpr std::array<PayloadReader, sizeof...(Alternatives)>
payload_readers(std::index_sequence<Alternatives...> /*alternatives*/) {
    return {&view<std::variant_alternative_t<Alternatives, HookPayload>>...};
}

// The reader of each alternative, in the variant's order.
constexpr auto kPayloadReaders =
    payload_readers(std::make_index_sequence<std::variant_size_v<HookPayload>>{});

} // namespace

DecodeResult<HookPayload> unpack_payload(std::uint32_t hook_type,
                                         std::span<const std::uint8_t> data) {
    if (hook_type >= kHookTypeCount) {
        return std::unexpected(
            DecodeError::custom(0, "Unsupported AnimationHook type: 0x" + common::hex8(hook_type)));
    }
    ByteCursor cursor(data);
    return kPayloadReaders[detail::payload_alternative(hook_type)](cursor);
}

std::span<const std::string_view> payload_field_names(const HookPayload& payload) noexcept {
    return hooks::kHookTypes[detail::first_type_of_alternative(payload.index())].fields;
}

DecodeResult<HookPayload> unpack_payload(const AnimationHook& hook) {
    return unpack_payload(hook.hook_type, hook.data);
}

} // namespace quillmere::dat::file_type::setup_model
