// The per-file hook sweeps: every hook of an animation, setup model or physics script is checked
// to survive encoding, and counted.
#pragma once

#include "variant_stats.hpp"

#include <cstdint>
#include <expected>
#include <span>
#include <string>

namespace quillmere::parity {

/// Hooks checked in one file, or the text of why the file could not be decoded (or re-encoded).
/// A mismatch is never returned: it fails the running case at once.
using SweepResult = std::expected<std::size_t, std::string>;

/// Decodes the animation, then walks its bytes and checks each hook's stored span byte for byte.
[[nodiscard]] SweepResult sweep_animation_hooks(std::span<const std::uint8_t> bytes,
                                                std::uint32_t file_id, VariantStats& stats,
                                                std::uint64_t& bytes_walked);

/// Decodes the setup model; each placement hook is encoded, decoded again and compared field by
/// field with the first decode.
[[nodiscard]] SweepResult sweep_setup_model_hooks(std::span<const std::uint8_t> bytes,
                                                  std::uint32_t file_id, VariantStats& stats,
                                                  std::uint64_t& bytes_walked);

/// Requires pack(unpack(bytes)) == bytes, then counts the script's hooks.
[[nodiscard]] SweepResult sweep_physics_script_hooks(std::span<const std::uint8_t> bytes,
                                                     std::uint32_t file_id, VariantStats& stats,
                                                     std::uint64_t& bytes_walked);

} // namespace quillmere::parity
