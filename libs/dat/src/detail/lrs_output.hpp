// Decompression into memory the caller provides, for readers that keep their own buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace quillmere::dat::utils::detail {

/// The room the output of compressed `input` (at least 4 bytes: the size word first) needs: its
/// declared size, capped at the most its token stream could produce.
[[nodiscard]] std::size_t output_limit(std::span<const std::uint8_t> input) noexcept;

/// Decompresses `input` (at least 4 bytes) into `output`, which holds `output_limit(input)` bytes
/// and does not overlap `input`, by the rules of `decompress_lrs`; returns how many bytes of
/// `output` it produced. Bytes after those are left unspecified.
[[nodiscard]] std::size_t decompress_to(std::span<const std::uint8_t> input,
                                        std::span<std::uint8_t> output) noexcept;

} // namespace quillmere::dat::utils::detail
