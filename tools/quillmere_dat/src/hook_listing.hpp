// The hooks of one animation, setup model or physics script, each with the place it sits in the
// file (frame index, placement key or start time).
#pragma once

#include "quillmere/common/decode_error.hpp"
#include "quillmere/dat/file_type/animation_hook.hpp"
#include "quillmere/dat/file_type/file_type.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace quillmere::inspect {

/// The file types that carry hooks; `dat::file_type::of` tells which one an id names.
using HookFileType = dat::file_type::FileType;

/// "animation", "setup model" or "physics script".
[[nodiscard]] std::string_view type_label(HookFileType type) noexcept;

/// One hook and where it sits: `frame` in an animation, `placement` in a setup model,
/// `start_time` in a physics script (the other two are empty).
struct LocatedHook {
    std::optional<std::uint32_t> frame;
    std::optional<std::int32_t> placement;
    std::optional<double> start_time;
    dat::file_type::setup_model::AnimationHook hook;
};

/// The hooks of one file, in file order (placements by ascending key), with the counts that
/// describe the file.
struct HookListing {
    HookFileType type = HookFileType::Animation;
    /// The id word stored in the file itself.
    std::uint32_t stored_id = 0;
    /// Animation: parts per frame; setup model: number of parts; physics script: 0.
    std::uint32_t parts = 0;
    /// Animation: frames; setup model: placements; physics script: entries.
    std::uint32_t groups = 0;
    std::vector<LocatedHook> hooks;
};

/// Reads `bytes` as a file of `type` through the library's view of it and lists its hooks. The
/// error is the decoder's, unchanged.
[[nodiscard]] common::DecodeResult<HookListing> list_hooks(HookFileType type,
                                                           std::span<const std::uint8_t> bytes);

} // namespace quillmere::inspect
