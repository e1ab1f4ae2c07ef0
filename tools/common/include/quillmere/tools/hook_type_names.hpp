// Display names of the 27 hook types, shared by the checker's report and the inspection tool.
// The library itself holds no names; these texts belong to the tools that print them.
#pragma once

#include "quillmere/dat/file_type/animation_hook.hpp"

#include <array>
#include <cstdint>
#include <string_view>

namespace quillmere::tools {

/// Display names of the hook types, indexed by type number.
inline constexpr std::array<std::string_view, dat::file_type::setup_model::kHookTypeCount>
    kHookTypeNames = {
        "NoOp",
        "Sound",
        "SoundTable",
        "Attack",
        "AnimationDone",
        "ReplaceObject",
        "Ethereal",
        "TransparentPart",
        "Luminous",
        "LuminousPart",
        "Diffuse",
        "DiffusePart",
        "Scale",
        "CreateParticle",
        "DestroyParticle",
        "StopParticle",
        "NoDraw",
        "DefaultScript",
        "DefaultScriptPart",
        "CallPES",
        "Transparent",
        "SoundTweaked",
        "SetOmega",
        "TextureVelocity",
        "TextureVelocityPart",
        "SetLight",
        "CreateBlockingParticle",
};

/// The display name of `hook_type`, or an empty view for a number above 26.
[[nodiscard]] constexpr std::string_view hook_type_name(std::uint32_t hook_type) noexcept {
    return hook_type < kHookTypeNames.size() ? kHookTypeNames[hook_type] : std::string_view{};
}

} // namespace quillmere::tools
