// A byte-at-a-time decoder of the archive's compressed files, written from the format's
// description apart from the library's decompressor, as the yardstick its tests compare against.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace quillmere::testkit {

/// Decodes a stored compressed file token by token, copying one byte at a time with the source
/// index taken afresh for every byte, without fast paths and without reserving: the output grows
/// only by the bytes produced, so a huge declared size costs nothing.
///
/// Every stop of the format returns what was produced so far: fewer than 4 bytes of input are
/// returned unchanged; decoding stops at the declared output size (also inside a
/// back-reference), when the input runs out (before a literal, or with fewer than two bytes for a
/// back-reference), at a distance of 0, and at a back-reference met while the output is still
/// empty, which has nothing to copy (the library makes the same choice).
[[nodiscard]] std::vector<std::uint8_t>
lrs_reference_decompress(std::span<const std::uint8_t> input);

} // namespace quillmere::testkit
