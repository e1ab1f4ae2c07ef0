// The byte-exact round-trip check of one hook, and reading a hook with the bytes it occupied.
#pragma once

#include "quillmere/dat/file_type/animation_hook.hpp"

#include <cstdint>
#include <span>
#include <utility>

namespace quillmere::parity {

using dat::file_type::setup_model::AnimationHook;
using dat::file_type::setup_model::HookView;

/// A decoded hook and the exact bytes it was decoded from.
struct HookWithSlice {
    AnimationHook hook;
    std::span<const std::uint8_t> slice;
};

/// Decodes one hook at `start` of `bytes` and returns it with the sub-span from `start` to the
/// hook's end (padding included), or the hook decoder's error unchanged. A `start` beyond the
/// end of `bytes` fails the running case.
[[nodiscard]] common::DecodeResult<HookWithSlice>
read_one_with_slice(std::span<const std::uint8_t> bytes, std::size_t start);

/// Encodes `hook` and requires the result to equal `original_slice`; otherwise fails the running
/// case with "byte-mismatch on file 0x{id:08X} hook #{index} (type=.. dir=.. payload_len=..)"
/// as an equality assertion (left: the encoding, right: the original).
void assert_round_trip(std::uint32_t file_id, std::size_t hook_index, const AnimationHook& hook,
                       std::span<const std::uint8_t> original_slice);
/// The same check for a hook decoded in place.
void assert_round_trip(std::uint32_t file_id, std::size_t hook_index, const HookView& hook,
                       std::span<const std::uint8_t> original_slice);

} // namespace quillmere::parity
