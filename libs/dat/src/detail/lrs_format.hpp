// The compressed file's format, written once for the decompressor, the compressor and the
// readers that check a stream: the size word in front, and the token stream behind it.
#pragma once

#include "quillmere/common/le.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace quillmere::dat::utils::detail {

/// A compressed file as stored:
///
/// | offset | width | type   | field                                          |
/// |--------|-------|--------|------------------------------------------------|
/// | 0      | 4     | u32    | size word: the length of the decompressed file |
/// | 4      | rest  | tokens | groups of a control byte and up to 8 tokens    |
inline constexpr std::size_t kSizeWordLength = 4;

/// The size word of a stored stream of at least `kSizeWordLength` bytes.
[[nodiscard]] inline std::uint32_t declared_size(std::span<const std::uint8_t> stored) noexcept {
    return common::load_le<std::uint32_t>(stored.data());
}

/// Writes `size` as the size word at `out`.
inline void write_declared_size(std::uint8_t* out, std::uint32_t size) noexcept {
    common::store_le(out, size);
}

/// A control byte's bits describe the tokens after it, most significant bit first: 0 a
/// literal (one byte, copied to the output), 1 a back-reference (two bytes b1 b2):
///
/// | bits        | field    | meaning                                                    |
/// |-------------|----------|------------------------------------------------------------|
/// | b1, b2 >> 4 | distance | b1 + 256 * (b2 >> 4): 1 to 4095 bytes back; 0 ends the stream |
/// | b2 & 0x0F   | length   | plus 2: 2 to 17 bytes, copied one at a time                 |
inline constexpr unsigned kFirstTokenBit = 0x80;
inline constexpr std::size_t kMaxDistance = 4095;
inline constexpr std::size_t kMinLength = 2;
inline constexpr std::size_t kMaxLength = 17;

/// The distance a back-reference's two bytes give: 0 (the end marker) to 4095.
[[nodiscard]] constexpr std::size_t back_reference_distance(unsigned b1, unsigned b2) noexcept {
    return b1 | ((b2 & 0xF0U) << 4);
}

/// The length a back-reference's second byte gives: 2 to 17.
[[nodiscard]] constexpr std::size_t back_reference_length(unsigned b2) noexcept {
    return (b2 & 0x0FU) + kMinLength;
}

/// The two bytes of a back-reference; `distance` 1 to 4095, `length` 2 to 17.
[[nodiscard]] constexpr std::array<std::uint8_t, 2>
write_back_reference(std::size_t distance, std::size_t length) noexcept {
    return {static_cast<std::uint8_t>(distance & 0xFF),
            static_cast<std::uint8_t>((distance >> 8) << 4 | (length - kMinLength))};
}

} // namespace quillmere::dat::utils::detail
