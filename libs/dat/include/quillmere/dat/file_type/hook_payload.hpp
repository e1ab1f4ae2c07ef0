// Typed views of animation hook payloads: what the bytes an `AnimationHook` keeps mean, decoded
// for display and inspection, and encoded back for edits (`pack_payload`, `set_payload`).
// Decoding a view reads the hook's `data` and never changes the hook; the hook decoder and
// encoder do not use these views.
#pragma once

#include "quillmere/common/byte_cursor.hpp"
#include "quillmere/common/math.hpp"
#include "quillmere/dat/export.hpp"
#include "quillmere/dat/file_type/animation_hook.hpp"
#include "quillmere/dat/graphics.hpp"

#include <cstdint>
#include <span>
#include <string_view>
#include <variant>
#include <vector>

namespace quillmere::dat::file_type::setup_model {

// Every view below is a record read under the record-reading rule: fields in the order of its
// table, little-endian; a short read fails with "While parsing field '{field}' in {Record}" and
// leaves the cursor at the record's first byte. `kRecord` is the record's name, by which the hook
// type table (hooks/hook_type.hpp) names the payload of each type and lists its fields.

/// The payload of NoOp (0), AnimationDone (4) and DefaultScript (17): no bytes at all.
struct QUILLMERE_DAT_EXPORT EmptyPayload {
    static constexpr std::string_view kRecord = "EmptyPayload";

    [[nodiscard]] static common::DecodeResult<EmptyPayload> read_le(common::ByteCursor& cursor);
    friend bool operator==(const EmptyPayload&, const EmptyPayload&) = default;
};

/// Sound (1).
///
/// | offset | width | type | field |
/// |--------|-------|------|-------|
/// | 0      | 4     | u32  | id    |
struct QUILLMERE_DAT_EXPORT SoundPayload {
    static constexpr std::string_view kRecord = "SoundPayload";

    /// File id of the sound.
    std::uint32_t id = 0;

    [[nodiscard]] static common::DecodeResult<SoundPayload> read_le(common::ByteCursor& cursor);
    friend bool operator==(const SoundPayload&, const SoundPayload&) = default;
};

/// SoundTable (2).
///
/// | offset | width | type | field      |
/// |--------|-------|------|------------|
/// | 0      | 4     | u32  | sound_type |
struct QUILLMERE_DAT_EXPORT SoundTablePayload {
    static constexpr std::string_view kRecord = "SoundTablePayload";

    std::uint32_t sound_type = 0;

    [[nodiscard]] static common::DecodeResult<SoundTablePayload>
    read_le(common::ByteCursor& cursor);
    friend bool operator==(const SoundTablePayload&, const SoundTablePayload&) = default;
};

/// Attack (3): the area an attack reaches.
///
/// | offset | width | type | field      |
/// |--------|-------|------|------------|
/// | 0      | 4     | u32  | part_index |
/// | 4      | 4     | f32  | left_x     |
/// | 8      | 4     | f32  | left_y     |
/// | 12     | 4     | f32  | right_x    |
/// | 16     | 4     | f32  | right_y    |
/// | 20     | 4     | f32  | radius     |
/// | 24     | 4     | f32  | height     |
struct QUILLMERE_DAT_EXPORT AttackCone {
    static constexpr std::string_view kRecord = "AttackCone";

    std::uint32_t part_index = 0;
    float left_x = 0;
    float left_y = 0;
    float right_x = 0;
    float right_y = 0;
    float radius = 0;
    float height = 0;

    [[nodiscard]] static common::DecodeResult<AttackCone> read_le(common::ByteCursor& cursor);
    friend bool operator==(const AttackCone&, const AttackCone&) = default;
};

/// ReplaceObject (5): a part replaced by another object.
///
/// | offset | width  | type      | field      |
/// |--------|--------|-----------|------------|
/// | 0      | 1      | u8        | part_index |
/// | 1      | 2 or 4 | packed id | part_id    |
///
/// The packed id is a u16 word `upper`; when its bit 15 (0x8000) is set a second u16 word
/// `lower` follows. `part_id` holds the combined number: `upper` itself when bit 15 is clear,
/// else `(upper & 0x7FFF) << 16 | lower` (so the words 0x8001, 0x0002 give 0x00010002).
struct QUILLMERE_DAT_EXPORT AnimPartChange {
    static constexpr std::string_view kRecord = "AnimPartChange";

    std::uint8_t part_index = 0;
    std::uint32_t part_id = 0;

    [[nodiscard]] static common::DecodeResult<AnimPartChange> read_le(common::ByteCursor& cursor);
    friend bool operator==(const AnimPartChange&, const AnimPartChange&) = default;
};

/// Ethereal (6).
///
/// | offset | width | type | field    |
/// |--------|-------|------|----------|
/// | 0      | 4     | i32  | ethereal |
struct QUILLMERE_DAT_EXPORT EtherealPayload {
    static constexpr std::string_view kRecord = "EtherealPayload";

    std::int32_t ethereal = 0;

    [[nodiscard]] static common::DecodeResult<EtherealPayload> read_le(common::ByteCursor& cursor);
    friend bool operator==(const EtherealPayload&, const EtherealPayload&) = default;
};

/// A change of one part over time: TransparentPart (7), LuminousPart (9), DiffusePart (11).
///
/// | offset | width | type | field |
/// |--------|-------|------|-------|
/// | 0      | 4     | u32  | part  |
/// | 4      | 4     | f32  | start |
/// | 8      | 4     | f32  | end   |
/// | 12     | 4     | f32  | time  |
struct QUILLMERE_DAT_EXPORT PartRamp {
    static constexpr std::string_view kRecord = "PartRamp";

    std::uint32_t part = 0;
    float start = 0;
    float end = 0;
    float time = 0;

    [[nodiscard]] static common::DecodeResult<PartRamp> read_le(common::ByteCursor& cursor);
    friend bool operator==(const PartRamp&, const PartRamp&) = default;
};

/// A change of the whole object over time: Luminous (8), Diffuse (10), Transparent (20).
///
/// | offset | width | type | field |
/// |--------|-------|------|-------|
/// | 0      | 4     | f32  | start |
/// | 4      | 4     | f32  | end   |
/// | 8      | 4     | f32  | time  |
struct QUILLMERE_DAT_EXPORT Ramp {
    static constexpr std::string_view kRecord = "Ramp";

    float start = 0;
    float end = 0;
    float time = 0;

    [[nodiscard]] static common::DecodeResult<Ramp> read_le(common::ByteCursor& cursor);
    friend bool operator==(const Ramp&, const Ramp&) = default;
};

/// Scale (12).
///
/// | offset | width | type | field |
/// |--------|-------|------|-------|
/// | 0      | 4     | f32  | end   |
/// | 4      | 4     | f32  | time  |
struct QUILLMERE_DAT_EXPORT ScalePayload {
    static constexpr std::string_view kRecord = "ScalePayload";

    float end = 0;
    float time = 0;

    [[nodiscard]] static common::DecodeResult<ScalePayload> read_le(common::ByteCursor& cursor);
    friend bool operator==(const ScalePayload&, const ScalePayload&) = default;
};

/// CreateParticle (13) and CreateBlockingParticle (26).
///
/// | offset | width | type  | field           |
/// |--------|-------|-------|-----------------|
/// | 0      | 4     | u32   | emitter_info_id |
/// | 4      | 4     | u32   | part_index      |
/// | 8      | 28    | Frame | offset          |
/// | 36     | 4     | u32   | emitter_id      |
struct QUILLMERE_DAT_EXPORT CreateParticleHookPayload {
    static constexpr std::string_view kRecord = "CreateParticleHookPayload";

    /// File id of the emitter description.
    std::uint32_t emitter_info_id = 0;
    std::uint32_t part_index = 0;
    graphics::Frame offset;
    std::uint32_t emitter_id = 0;

    [[nodiscard]] static common::DecodeResult<CreateParticleHookPayload>
    read_le(common::ByteCursor& cursor);
    friend bool operator==(const CreateParticleHookPayload&,
                           const CreateParticleHookPayload&) = default;
};

/// DestroyParticle (14) and StopParticle (15).
///
/// | offset | width | type | field      |
/// |--------|-------|------|------------|
/// | 0      | 4     | u32  | emitter_id |
struct QUILLMERE_DAT_EXPORT ParticleEmitterPayload {
    static constexpr std::string_view kRecord = "ParticleEmitterPayload";

    std::uint32_t emitter_id = 0;

    [[nodiscard]] static common::DecodeResult<ParticleEmitterPayload>
    read_le(common::ByteCursor& cursor);
    friend bool operator==(const ParticleEmitterPayload&, const ParticleEmitterPayload&) = default;
};

/// NoDraw (16).
///
/// | offset | width | type | field   |
/// |--------|-------|------|---------|
/// | 0      | 4     | u32  | no_draw |
struct QUILLMERE_DAT_EXPORT NoDrawPayload {
    static constexpr std::string_view kRecord = "NoDrawPayload";

    std::uint32_t no_draw = 0;

    [[nodiscard]] static common::DecodeResult<NoDrawPayload> read_le(common::ByteCursor& cursor);
    friend bool operator==(const NoDrawPayload&, const NoDrawPayload&) = default;
};

/// DefaultScriptPart (18).
///
/// | offset | width | type | field      |
/// |--------|-------|------|------------|
/// | 0      | 4     | u32  | part_index |
struct QUILLMERE_DAT_EXPORT DefaultScriptPartPayload {
    static constexpr std::string_view kRecord = "DefaultScriptPartPayload";

    std::uint32_t part_index = 0;

    [[nodiscard]] static common::DecodeResult<DefaultScriptPartPayload>
    read_le(common::ByteCursor& cursor);
    friend bool operator==(const DefaultScriptPartPayload&,
                           const DefaultScriptPartPayload&) = default;
};

/// CallPES (19): runs a physics script after a pause.
///
/// | offset | width | type | field |
/// |--------|-------|------|-------|
/// | 0      | 4     | u32  | pes   |
/// | 4      | 4     | f32  | pause |
struct QUILLMERE_DAT_EXPORT CallPesPayload {
    static constexpr std::string_view kRecord = "CallPesPayload";

    /// File id of the physics script.
    std::uint32_t pes = 0;
    float pause = 0;

    [[nodiscard]] static common::DecodeResult<CallPesPayload> read_le(common::ByteCursor& cursor);
    friend bool operator==(const CallPesPayload&, const CallPesPayload&) = default;
};

/// SoundTweaked (21).
///
/// | offset | width | type | field       |
/// |--------|-------|------|-------------|
/// | 0      | 4     | u32  | sound_id    |
/// | 4      | 4     | f32  | probability |
/// | 8      | 4     | f32  | priority    |
/// | 12     | 4     | f32  | volume      |
struct QUILLMERE_DAT_EXPORT SoundTweakedPayload {
    static constexpr std::string_view kRecord = "SoundTweakedPayload";

    /// File id of the sound.
    std::uint32_t sound_id = 0;
    float probability = 0;
    float priority = 0;
    float volume = 0;

    [[nodiscard]] static common::DecodeResult<SoundTweakedPayload>
    read_le(common::ByteCursor& cursor);
    friend bool operator==(const SoundTweakedPayload&, const SoundTweakedPayload&) = default;
};

/// SetOmega (22).
///
/// | offset | width | type    | field |
/// |--------|-------|---------|-------|
/// | 0      | 12    | Vector3 | axis  |
struct QUILLMERE_DAT_EXPORT SetOmegaPayload {
    static constexpr std::string_view kRecord = "SetOmegaPayload";

    common::Vector3 axis;

    [[nodiscard]] static common::DecodeResult<SetOmegaPayload> read_le(common::ByteCursor& cursor);
    friend bool operator==(const SetOmegaPayload&, const SetOmegaPayload&) = default;
};

/// TextureVelocity (23).
///
/// | offset | width | type | field   |
/// |--------|-------|------|---------|
/// | 0      | 4     | f32  | u_speed |
/// | 4      | 4     | f32  | v_speed |
struct QUILLMERE_DAT_EXPORT TextureVelocityPayload {
    static constexpr std::string_view kRecord = "TextureVelocityPayload";

    float u_speed = 0;
    float v_speed = 0;

    [[nodiscard]] static common::DecodeResult<TextureVelocityPayload>
    read_le(common::ByteCursor& cursor);
    friend bool operator==(const TextureVelocityPayload&, const TextureVelocityPayload&) = default;
};

/// TextureVelocityPart (24).
///
/// | offset | width | type | field      |
/// |--------|-------|------|------------|
/// | 0      | 4     | u32  | part_index |
/// | 4      | 4     | f32  | u_speed    |
/// | 8      | 4     | f32  | v_speed    |
struct QUILLMERE_DAT_EXPORT TextureVelocityPartPayload {
    static constexpr std::string_view kRecord = "TextureVelocityPartPayload";

    std::uint32_t part_index = 0;
    float u_speed = 0;
    float v_speed = 0;

    [[nodiscard]] static common::DecodeResult<TextureVelocityPartPayload>
    read_le(common::ByteCursor& cursor);
    friend bool operator==(const TextureVelocityPartPayload&,
                           const TextureVelocityPartPayload&) = default;
};

/// SetLight (25).
///
/// | offset | width | type | field     |
/// |--------|-------|------|-----------|
/// | 0      | 4     | i32  | lights_on |
struct QUILLMERE_DAT_EXPORT SetLightPayload {
    static constexpr std::string_view kRecord = "SetLightPayload";

    std::int32_t lights_on = 0;

    [[nodiscard]] static common::DecodeResult<SetLightPayload> read_le(common::ByteCursor& cursor);
    friend bool operator==(const SetLightPayload&, const SetLightPayload&) = default;
};

/// A decoded payload. Types that share a layout share an alternative (PartRamp for 7, 9 and 11,
/// say), so the hook type number, not the alternative, tells which hook it was.
using HookPayload =
    std::variant<EmptyPayload, SoundPayload, SoundTablePayload, AttackCone, AnimPartChange,
                 EtherealPayload, PartRamp, Ramp, ScalePayload, CreateParticleHookPayload,
                 ParticleEmitterPayload, NoDrawPayload, DefaultScriptPartPayload, CallPesPayload,
                 SoundTweakedPayload, SetOmegaPayload, TextureVelocityPayload,
                 TextureVelocityPartPayload, SetLightPayload>;

/// The names of the fields of `payload`'s record in stored order, as the hook type table lists
/// them ("part_index", "left_x", ...); empty for `EmptyPayload`.
[[nodiscard]] QUILLMERE_DAT_EXPORT std::span<const std::string_view>
payload_field_names(const HookPayload& payload) noexcept;

/// Decodes the payload of a hook of type `hook_type` from `data` (payload bytes first, as
/// `AnimationHook::data` keeps them). Bytes after the payload (alignment padding, or anything a
/// hand-built hook carries) are ignored.
///
/// Errors:
/// - `hook_type` above 26: `Custom` "Unsupported AnimationHook type: 0x{type:08X}" at 0x0;
/// - `data` shorter than the type's payload: the short read wrapped with the field it hit, such
///   as "While parsing field 'radius' in AttackCone" (for ReplaceObject: 'part_index' or
///   'part_id' in AnimPartChange).
[[nodiscard]] QUILLMERE_DAT_EXPORT common::DecodeResult<HookPayload>
unpack_payload(std::uint32_t hook_type, std::span<const std::uint8_t> data);

/// The payload of `hook`, decoded from its `data`; errors as for the overload above.
[[nodiscard]] QUILLMERE_DAT_EXPORT common::DecodeResult<HookPayload>
unpack_payload(const AnimationHook& hook);

/// The bytes a hook of type `hook_type` keeps for `payload` (its `data`): the payload's fields in
/// the order of its table, then zero bytes up to a multiple of 4. ReplaceObject's `part_id` is
/// packed in one word when it is below 0x8000, else in two (3 or 5 payload bytes, so 1 or 3
/// padding bytes); a two-word id stored for a number below 0x8000 is written back in one word.
/// `unpack_payload` of the result gives `payload` again.
///
/// Errors (`Custom` at 0x0):
/// - `hook_type` above 26: "Unsupported AnimationHook type: 0x{type:08X}";
/// - a payload of another layout than the type's: "{Record} is not the payload of a {Name}
///   hook", such as "SoundPayload is not the payload of a Scale hook";
/// - a ReplaceObject `part_id` above 0x7FFFFFFF: "part_id 0x{id:08X} does not fit a packed id".
[[nodiscard]] QUILLMERE_DAT_EXPORT common::DecodeResult<std::vector<std::uint8_t>>
pack_payload(std::uint32_t hook_type, const HookPayload& payload);

/// Replaces `hook.data` with `pack_payload(hook.hook_type, payload)`; type and direction are
/// kept. On an error (those of `pack_payload`) the hook is left as it was.
///
///     QM_TRY(auto payload, unpack_payload(hook));
///     std::get<SoundPayload>(payload).id = new_id;
///     QM_TRY_VOID(set_payload(hook, payload));
[[nodiscard]] QUILLMERE_DAT_EXPORT common::DecodeResult<void>
set_payload(AnimationHook& hook, const HookPayload& payload);

} // namespace quillmere::dat::file_type::setup_model

namespace quillmere::dat::hooks {
// The payload records and their coding, under the namespace that says what they are.
using file_type::setup_model::AnimPartChange;
using file_type::setup_model::AttackCone;
using file_type::setup_model::CallPesPayload;
using file_type::setup_model::CreateParticleHookPayload;
using file_type::setup_model::DefaultScriptPartPayload;
using file_type::setup_model::EmptyPayload;
using file_type::setup_model::EtherealPayload;
using file_type::setup_model::HookPayload;
using file_type::setup_model::NoDrawPayload;
using file_type::setup_model::pack_payload;
using file_type::setup_model::ParticleEmitterPayload;
using file_type::setup_model::PartRamp;
using file_type::setup_model::payload_field_names;
using file_type::setup_model::Ramp;
using file_type::setup_model::ScalePayload;
using file_type::setup_model::set_payload;
using file_type::setup_model::SetLightPayload;
using file_type::setup_model::SetOmegaPayload;
using file_type::setup_model::SoundPayload;
using file_type::setup_model::SoundTablePayload;
using file_type::setup_model::SoundTweakedPayload;
using file_type::setup_model::TextureVelocityPartPayload;
using file_type::setup_model::TextureVelocityPayload;
using file_type::setup_model::unpack_payload;
} // namespace quillmere::dat::hooks
