// The hooks of one animation, setup model or physics script, each with the place it sits in the
// file (frame index, placement key or start time).
#pragma once

#include "command.hpp"
#include "quillmere/common/decode_error.hpp"
#include "quillmere/dat/file_type/animation_hook.hpp"
#include "quillmere/dat/file_type/file_type.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillmere::dat_tool {

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
    dat::file_type::FileType type = dat::file_type::FileType::Animation;
    /// The id word stored in the file itself.
    std::uint32_t stored_id = 0;
    /// Animation: parts per frame; setup model: number of parts; physics script: 0.
    std::uint32_t parts = 0;
    /// Animation: frames; setup model: placements; physics script: entries.
    std::uint32_t groups = 0;
    std::vector<LocatedHook> hooks;
};

/// The hook-carrying types with the ids they take, as the library's id ranges say: "an animation
/// (0x03......), setup model (0x02......) or physics script (0x33......)".
[[nodiscard]] std::string hook_file_types_text();

/// Why a file of `type` did not decode: "cannot decode 0x03000001 as an animation: {error}".
[[nodiscard]] std::string cannot_decode(std::uint32_t id, dat::file_type::FileType type,
                                        const common::DecodeError& error);
/// The same with the reason in words.
[[nodiscard]] std::string cannot_decode(std::uint32_t id, dat::file_type::FileType type,
                                        std::string_view why);

/// A hook-carrying file read out of an archive.
struct HookFile {
    dat::file_type::FileType type = dat::file_type::FileType::Animation;
    std::vector<std::uint8_t> bytes;
};

/// Opens the archive at `path` and reads file `id`, which must be an animation, setup model or
/// physics script; else the one-line error (the archive's, a missing id's, or "0x01000001 is not
/// an animation (0x03......), ...").
[[nodiscard]] Gathered<HookFile> read_hook_file(const std::string& path, std::uint32_t id);

/// Reads `bytes` as a file of `type` through the library's hook visitor and lists its hooks. The
/// error is the decoder's, unchanged.
[[nodiscard]] common::DecodeResult<HookListing> list_hooks(dat::file_type::FileType type,
                                                           std::span<const std::uint8_t> bytes);

} // namespace quillmere::dat_tool
