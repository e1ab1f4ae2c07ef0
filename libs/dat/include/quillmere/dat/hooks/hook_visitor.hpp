// Every hook of a hook-carrying file, whatever the file's type, with the place it sits in.
#pragma once

#include "quillmere/common/decode_error.hpp"
#include "quillmere/dat/export.hpp"
#include "quillmere/dat/file_type/animation_hook.hpp"
#include "quillmere/dat/file_type/file_type.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

namespace quillmere::dat::hooks {

/// Where one hook sits in its file. Exactly one of `frame`, `placement_key` and `script_entry`
/// is set, as the file's type says.
struct HookSite {
    file_type::FileType file_type = file_type::FileType::Animation;
    /// Animation: the frame, counted from 0 in file order.
    std::optional<std::uint32_t> frame;
    /// Setup model: the key of the placement the hook belongs to.
    std::optional<std::int32_t> placement_key;
    /// Physics script: the entry, counted from 0 in file order.
    std::optional<std::uint32_t> script_entry;
    /// Physics script: the entry's start time; 0 otherwise.
    double start_time = 0;
    /// The hook's place among the hooks of its frame or placement, from 0 (0 in a script entry,
    /// which holds one hook).
    std::uint32_t index = 0;

    friend bool operator==(const HookSite&, const HookSite&) = default;
};

/// Called once per hook. The hook is a view into the file's bytes (its `offset` counts from
/// their first byte), valid during the call.
using HookVisitor = std::function<void(const HookSite&, const HookView&)>;

/// What a hook-carrying file says of itself besides its hooks.
struct HookFileOutline {
    /// The id word stored in the file itself.
    std::uint32_t stored_id = 0;
    /// Animation: parts per frame; setup model: number of parts; physics script: 0.
    std::uint32_t parts = 0;
    /// Animation: frames; setup model: placements kept (one per key); physics script: entries.
    std::uint32_t groups = 0;

    friend bool operator==(const HookFileOutline&, const HookFileOutline&) = default;
};

/// Decodes `bytes` as a file of `type` and calls `visit` for every hook the decoded file holds,
/// in file order: an animation's frames in turn; a setup model's placements by ascending key,
/// only the last placement stored under a key (the one `SetupModel::placement_frames` keeps);
/// a physics script's entries in turn. The file is checked whole before the first call, so on
/// an error (the decoder's, exactly as `Animation::read`, `SetupModel::read` or
/// `PhysicsScript::read` gives it) nothing was visited.
///
/// Returns the number of bytes the file occupies: fewer than `bytes.size()` means trailing
/// bytes after it. With `outline`, also fills it in (before the first call).
[[nodiscard]] QUILLMERE_DAT_EXPORT common::DecodeResult<std::uint64_t>
visit_hooks(file_type::FileType type, std::span<const std::uint8_t> bytes, const HookVisitor& visit,
            HookFileOutline* outline = nullptr);

} // namespace quillmere::dat::hooks
