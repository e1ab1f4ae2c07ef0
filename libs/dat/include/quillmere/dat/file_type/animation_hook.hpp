// Animation hooks: the typed, timed events carried by animations, setup models and physics scripts.
#pragma once

#include "quillmere/common/byte_cursor.hpp"
#include "quillmere/common/byte_writer.hpp"
#include "quillmere/dat/export.hpp"
#include "quillmere/dat/hooks/hook_type.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace quillmere::dat::file_type::setup_model {

// The hook types live in `quillmere::dat::hooks` (hooks/hook_type.hpp); these names stay here
// for the callers that know them from this namespace.
using hooks::hook_type_number;
using hooks::HookType;
using hooks::kHookTypeCount;

/// Payload size in bytes (before padding) of a fixed-size hook type; empty for ReplaceObject
/// (3 or 5 bytes, decided by the data) and for unknown types.
[[nodiscard]] QUILLMERE_DAT_EXPORT std::optional<std::uint32_t>
fixed_payload_size(std::uint32_t hook_type) noexcept;

/// One hook. `data` holds the payload exactly as read, followed by its alignment padding as read,
/// so a decoded hook encodes back to the very bytes it came from.
///
/// | offset | width        | type | field                                            |
/// |--------|--------------|------|--------------------------------------------------|
/// | 0      | 4            | u32  | hook_type                                        |
/// | 4      | 4            | i32  | direction                                        |
/// | 8      | payload size | -    | payload (ReplaceObject: see below)               |
/// | 8 + n  | 0..3         | -    | padding: payload + padding is a multiple of 4    |
///
/// A ReplaceObject payload is a u8 part index and a u16 word, followed by a second u16 word when
/// bit 15 of the first is set: 3 or 5 bytes, so 1 or 3 padding bytes.
struct QUILLMERE_DAT_EXPORT AnimationHook {
    /// The type number, 0 to 26 for a decoded hook (see `HookType`).
    std::uint32_t hook_type = 0;
    /// Carried through unchanged; never interpreted.
    std::int32_t direction = 0;
    /// Payload then padding, exactly as read; `unpack_payload` (hook_payload.hpp) gives its
    /// meaning.
    std::vector<std::uint8_t> data;

    /// Decodes one hook at the cursor; on success the cursor stands after the last padding byte.
    /// Errors (no field context is added; the cursor position after a failure is unspecified):
    /// - `Io` "failed to fill whole buffer" when the header, payload or padding runs short;
    /// - `Custom` "Unsupported AnimationHook type: 0x{type:08X}" at the payload's first offset
    ///   for a type above 26.
    [[nodiscard]] static common::DecodeResult<AnimationHook> read(common::ByteCursor& cursor);

    /// Writes type, direction and `data` unchanged: no padding added, nothing checked.
    /// Writing into memory cannot fail; the result type is the encoders' common one.
    [[nodiscard]] common::DecodeResult<void> write(common::ByteWriter& writer) const;

    /// Bytes the hook occupies when written: 8 + size of `data`.
    [[nodiscard]] std::size_t encoded_size() const noexcept { return 8 + data.size(); }

    /// The hook's type, or nothing for a number above 26 (which no decoded hook has).
    [[nodiscard]] constexpr std::optional<HookType> type() const noexcept {
        return hooks::hook_type_of(hook_type);
    }

    friend bool operator==(const AnimationHook&, const AnimationHook&) = default;
};

/// One hook decoded where it lies: the fields of `AnimationHook` with `data` left in the bytes
/// it was read from, so decoding allocates nothing. Valid while those bytes live.
struct QUILLMERE_DAT_EXPORT HookView {
    /// The type number, 0 to 26 (see `HookType`).
    std::uint32_t hook_type = 0;
    std::int32_t direction = 0;
    /// Payload then padding, a view into the bytes read.
    std::span<const std::uint8_t> data;
    /// Where the hook's first byte (its type word) lies in the data it was read from.
    std::uint64_t offset = 0;

    /// Decodes one hook at the cursor: `HookStep`, and when that refuses the bytes, the reads
    /// that find the exact error. The errors and the cursor position after success or failure
    /// are exactly those of `AnimationHook::read`, which is this followed by a copy of `data`.
    [[nodiscard]] static common::DecodeResult<HookView> read(common::ByteCursor& cursor);

    /// Writes type, direction and `data` as `AnimationHook::write` does; cannot fail.
    [[nodiscard]] common::DecodeResult<void> write(common::ByteWriter& writer) const;

    /// Bytes the hook occupies: 8 + size of `data`.
    [[nodiscard]] std::size_t encoded_size() const noexcept { return 8 + data.size(); }

    /// The hook's type, or nothing for a number above 26 (which no decoded hook has).
    [[nodiscard]] constexpr std::optional<HookType> type() const noexcept {
        return hooks::hook_type_of(hook_type);
    }

    /// The hook as an owned value.
    [[nodiscard]] AnimationHook to_owned() const {
        return AnimationHook{hook_type, direction, {data.begin(), data.end()}};
    }
};

/// Takes the hook at offset `pos` of `data` when it is whole there and of a known type: sets
/// `out` (its offset `pos`), moves `pos` past the hook's padding and returns true. Otherwise
/// returns false and changes nothing. Never reads outside `data`; builds no error.
struct QUILLMERE_DAT_EXPORT HookStep {
    bool operator()(std::span<const std::uint8_t> data, std::uint64_t& pos,
                    HookView& out) const noexcept;
};

} // namespace quillmere::dat::file_type::setup_model

namespace quillmere::dat::hooks {
// The hooks themselves, under the namespace that says what they are.
using file_type::setup_model::AnimationHook;
using file_type::setup_model::fixed_payload_size;
using file_type::setup_model::HookView;
} // namespace quillmere::dat::hooks
