// Compression and decompression of the archive's compressed files.
#pragma once

#include "quillmere/dat/export.hpp"

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
[[nodiscard]] QUILLMERE_DAT_EXPORT std::vector<std::uint8_t>
decompress_lrs(std::span<const std::uint8_t> input);

/// `decompress_lrs` into `out`: its previous content is replaced by the output, and its capacity
/// is reused, growing only when the output needs more room than it has. `input` must not lie in
/// `out`'s storage.
QUILLMERE_DAT_EXPORT void decompress_lrs_into(std::span<const std::uint8_t> input,
                                              std::vector<std::uint8_t>& out);

/// Whether stored compressed bytes hold a whole stream: no bytes at all (an empty file), or the
/// 4-byte `output_size` followed by tokens that give every byte it declares. `decompress_lrs`
/// returns what it can of any input; a reader that must not pass a cut or damaged stream off as
/// a shorter file checks this (the archive's checked reads do).
[[nodiscard]] QUILLMERE_DAT_EXPORT bool stream_is_whole(std::span<const std::uint8_t> stored);

/// Compresses `input` into the stored form `decompress_lrs` reads back: `output_size` (the
/// input's length), then the token stream. `decompress_lrs(compress_lrs(x)) == x` for every `x`.
///
/// The stream is as short as its tokens allow: it ends with the last token, with no end marker
/// and no byte after it, and unused bits of the last control byte are 0. So the result is never
/// longer than the all-literal stream, 4 + n + ceil(n / 8) bytes for n input bytes, even for
/// input that does not compress; an empty input gives the 4 bytes of a zero `output_size`.
/// The first token is always a literal, since the decoder stops at a back-reference met while its
/// output is empty. Back-references use distances 1 to 4095 and lengths 3 to 17 (a two-byte
/// match would save a single control bit); they may overlap the bytes they produce.
///
/// Matches are found greedily with hash chains over the last 4095 bytes, each chain followed a
/// bounded number of steps, so the time is linear in the input. Deterministic: the same input
/// always gives the same bytes. Keeps no state between calls.
///
/// `input` must be shorter than 4 GiB, since `output_size` has 32 bits (asserted; callers that
/// take lengths from outside check them first, as `ArchiveWriter` does).
[[nodiscard]] QUILLMERE_DAT_EXPORT std::vector<std::uint8_t>
compress_lrs(std::span<const std::uint8_t> input);

} // namespace quillmere::dat::utils
