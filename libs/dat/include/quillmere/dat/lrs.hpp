// Decompression of the archive's compressed files.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace quillmere::dat::utils {

/// Decompresses a stored compressed file: a u32 little-endian `output_size`, then groups of one
/// control byte (most significant bit first: 0 = literal byte, 1 = back-reference) and up to
/// eight tokens. A back-reference is two bytes b1 b2: distance b1 | (b2 & 0xF0) << 4 (1 to 4095,
/// counted back from the end of the output), length (b2 & 0x0F) + 2 (2 to 17); a distance
/// reaching before the start of the output copies the first byte for those positions.
///
/// Never fails; every stop returns what was produced so far:
/// - input of fewer than 4 bytes: returned unchanged (a copy);
/// - `output_size` reached: stop, even inside a back-reference;
/// - input exhausted (before a literal, or fewer than two bytes for a back-reference): stop;
/// - distance 0: end marker, stop;
/// - a back-reference while the output is still empty has nothing to copy: stop, as at the
///   end marker.
///
/// The output is reserved once. Since a two-byte back-reference yields at most 17 bytes, no
/// stream expands by more than 8.5 times its length, so the reservation is capped there and a
/// damaged `output_size` cannot claim memory the input could never fill.
[[nodiscard]] std::vector<std::uint8_t> decompress_lrs(std::span<const std::uint8_t> input);

} // namespace quillmere::dat::utils
