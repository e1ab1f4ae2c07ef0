// The 27 hook types: their numbers, display names, payload sizes and payload field names, in one
// table that the decoders, the payload views and the tools all read.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

namespace quillmere::dat::hooks {

/// Hook type numbers, as stored in a hook's first word. The decoders accept 0 to 26.
enum class HookType : std::uint32_t {
    NoOp = 0,
    Sound = 1,
    SoundTable = 2,
    Attack = 3,
    AnimationDone = 4,
    ReplaceObject = 5,
    Ethereal = 6,
    TransparentPart = 7,
    Luminous = 8,
    LuminousPart = 9,
    Diffuse = 10,
    DiffusePart = 11,
    Scale = 12,
    CreateParticle = 13,
    DestroyParticle = 14,
    StopParticle = 15,
    NoDraw = 16,
    DefaultScript = 17,
    DefaultScriptPart = 18,
    CallPES = 19,
    Transparent = 20,
    SoundTweaked = 21,
    SetOmega = 22,
    TextureVelocity = 23,
    TextureVelocityPart = 24,
    SetLight = 25,
    CreateBlockingParticle = 26,
};

/// Number of hook types; type numbers run from 0 to kHookTypeCount - 1.
inline constexpr std::uint32_t kHookTypeCount = 27;

/// The number of a hook type, as stored in a hook and used to index per-type tables.
[[nodiscard]] constexpr std::uint32_t hook_type_number(HookType type) noexcept {
    return std::to_underlying(type);
}

/// The hook type of a stored number, or nothing for a number above 26.
[[nodiscard]] constexpr std::optional<HookType> hook_type_of(std::uint32_t number) noexcept {
    if (number >= kHookTypeCount) {
        return std::nullopt;
    }
    return static_cast<HookType>(number);
}

/// What the library knows of one hook type.
struct HookTypeInfo {
    HookType type;
    /// The display name, the enumerator's own ("CallPES").
    std::string_view name;
    /// Payload bytes before padding; nothing for ReplaceObject, whose payload is 3 or 5 bytes.
    std::optional<std::uint32_t> payload_size;
    /// The payload record of `hook_payload.hpp` that decodes it ("AttackCone").
    std::string_view payload_record;
    /// The record's fields in stored order, as its decoder names them in errors.
    std::span<const std::string_view> fields;
};

namespace detail {
inline constexpr std::array<std::string_view, 0> kNoFields{};
inline constexpr std::array<std::string_view, 1> kSoundFields{"id"};
inline constexpr std::array<std::string_view, 1> kSoundTableFields{"sound_type"};
inline constexpr std::array<std::string_view, 7> kAttackFields{
    "part_index", "left_x", "left_y", "right_x", "right_y", "radius", "height"};
inline constexpr std::array<std::string_view, 2> kReplaceFields{"part_index", "part_id"};
inline constexpr std::array<std::string_view, 1> kEtherealFields{"ethereal"};
inline constexpr std::array<std::string_view, 4> kPartRampFields{"part", "start", "end", "time"};
inline constexpr std::array<std::string_view, 3> kRampFields{"start", "end", "time"};
inline constexpr std::array<std::string_view, 2> kScaleFields{"end", "time"};
inline constexpr std::array<std::string_view, 4> kParticleFields{"emitter_info_id", "part_index",
                                                                 "offset", "emitter_id"};
inline constexpr std::array<std::string_view, 1> kEmitterFields{"emitter_id"};
inline constexpr std::array<std::string_view, 1> kNoDrawFields{"no_draw"};
inline constexpr std::array<std::string_view, 1> kPartIndexFields{"part_index"};
inline constexpr std::array<std::string_view, 2> kCallPesFields{"pes", "pause"};
inline constexpr std::array<std::string_view, 4> kSoundTweakedFields{"sound_id", "probability",
                                                                     "priority", "volume"};
inline constexpr std::array<std::string_view, 1> kOmegaFields{"axis"};
inline constexpr std::array<std::string_view, 2> kVelocityFields{"u_speed", "v_speed"};
inline constexpr std::array<std::string_view, 3> kVelocityPartFields{"part_index", "u_speed",
                                                                     "v_speed"};
inline constexpr std::array<std::string_view, 1> kLightFields{"lights_on"};
} // namespace detail

/// Every hook type, indexed by its number.
inline constexpr std::array<HookTypeInfo, kHookTypeCount> kHookTypes{{
    {HookType::NoOp, "NoOp", 0, "EmptyPayload", detail::kNoFields},
    {HookType::Sound, "Sound", 4, "SoundPayload", detail::kSoundFields},
    {HookType::SoundTable, "SoundTable", 4, "SoundTablePayload", detail::kSoundTableFields},
    {HookType::Attack, "Attack", 28, "AttackCone", detail::kAttackFields},
    {HookType::AnimationDone, "AnimationDone", 0, "EmptyPayload", detail::kNoFields},
    {HookType::ReplaceObject, "ReplaceObject", std::nullopt, "AnimPartChange",
     detail::kReplaceFields},
    {HookType::Ethereal, "Ethereal", 4, "EtherealPayload", detail::kEtherealFields},
    {HookType::TransparentPart, "TransparentPart", 16, "PartRamp", detail::kPartRampFields},
    {HookType::Luminous, "Luminous", 12, "Ramp", detail::kRampFields},
    {HookType::LuminousPart, "LuminousPart", 16, "PartRamp", detail::kPartRampFields},
    {HookType::Diffuse, "Diffuse", 12, "Ramp", detail::kRampFields},
    {HookType::DiffusePart, "DiffusePart", 16, "PartRamp", detail::kPartRampFields},
    {HookType::Scale, "Scale", 8, "ScalePayload", detail::kScaleFields},
    {HookType::CreateParticle, "CreateParticle", 40, "CreateParticleHookPayload",
     detail::kParticleFields},
    {HookType::DestroyParticle, "DestroyParticle", 4, "ParticleEmitterPayload",
     detail::kEmitterFields},
    {HookType::StopParticle, "StopParticle", 4, "ParticleEmitterPayload", detail::kEmitterFields},
    {HookType::NoDraw, "NoDraw", 4, "NoDrawPayload", detail::kNoDrawFields},
    {HookType::DefaultScript, "DefaultScript", 0, "EmptyPayload", detail::kNoFields},
    {HookType::DefaultScriptPart, "DefaultScriptPart", 4, "DefaultScriptPartPayload",
     detail::kPartIndexFields},
    {HookType::CallPES, "CallPES", 8, "CallPesPayload", detail::kCallPesFields},
    {HookType::Transparent, "Transparent", 12, "Ramp", detail::kRampFields},
    {HookType::SoundTweaked, "SoundTweaked", 16, "SoundTweakedPayload",
     detail::kSoundTweakedFields},
    {HookType::SetOmega, "SetOmega", 12, "SetOmegaPayload", detail::kOmegaFields},
    {HookType::TextureVelocity, "TextureVelocity", 8, "TextureVelocityPayload",
     detail::kVelocityFields},
    {HookType::TextureVelocityPart, "TextureVelocityPart", 12, "TextureVelocityPartPayload",
     detail::kVelocityPartFields},
    {HookType::SetLight, "SetLight", 4, "SetLightPayload", detail::kLightFields},
    {HookType::CreateBlockingParticle, "CreateBlockingParticle", 40, "CreateParticleHookPayload",
     detail::kParticleFields},
}};

/// The table row of `type`.
[[nodiscard]] constexpr const HookTypeInfo& info(HookType type) noexcept {
    return kHookTypes[hook_type_number(type)];
}

/// The display name of `type` ("Sound").
[[nodiscard]] constexpr std::string_view hook_type_name(HookType type) noexcept {
    return info(type).name;
}

/// The display name of type number `number`, or an empty view for a number above 26.
[[nodiscard]] constexpr std::string_view hook_type_name(std::uint32_t number) noexcept {
    return number < kHookTypeCount ? kHookTypes[number].name : std::string_view{};
}

} // namespace quillmere::dat::hooks
