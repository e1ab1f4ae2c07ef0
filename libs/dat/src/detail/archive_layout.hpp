// Where things lie in an archive file: the fixed places, the sizes, and the small pure functions
// that turn link words and block sizes into positions.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>

namespace quillmere::dat::layout {

/// The header lies at this absolute offset; the bytes before it are never read.
inline constexpr std::uint64_t kHeaderOffset = 320;
/// Length of the header on disk (it ends at offset 400).
inline constexpr std::uint64_t kHeaderSize = 80;

/// A block:
///
/// | offset | width          | type | field                                        |
/// |--------|----------------|------|----------------------------------------------|
/// | 0      | 4              | u32  | link word: next block's offset, 0 = last     |
/// | 4      | block_size - 4 | -    | payload                                      |
inline constexpr std::uint64_t kLinkSize = 4;

/// A directory node, read through its block chain like a file:
///
/// | offset | width | type               | field                           |
/// |--------|-------|--------------------|---------------------------------|
/// | 0      | 248   | u32[62]            | branches (child offsets, 0=none)|
/// | 248    | 4     | u32                | entry_count                     |
/// | 252    | 1464  | DatFileEntry[61]   | entries (first entry_count used)|
inline constexpr std::uint32_t kBranchCount = 62;
inline constexpr std::uint32_t kMaxEntries = 61;
inline constexpr std::uint64_t kEntrySize = 24;
inline constexpr std::uint64_t kNodeSize = kBranchCount * 4 + 4 + kMaxEntries * kEntrySize;
static_assert(kNodeSize == 1716);

/// Payload bytes a non-last block carries, or nothing when `block_size` leaves no room for data
/// (4 or less): such a chain could loop without ever making progress.
[[nodiscard]] constexpr std::optional<std::uint32_t>
block_payload_size(std::uint32_t block_size) noexcept {
    if (block_size <= kLinkSize) {
        return std::nullopt;
    }
    return block_size - static_cast<std::uint32_t>(kLinkSize);
}

/// Absolute position of a block's payload. Computed in 64 bits, so a block just below 4 GiB
/// does not wrap to the start of the file.
[[nodiscard]] constexpr std::uint64_t payload_position(std::uint64_t block_offset) noexcept {
    return block_offset + kLinkSize;
}

/// Bytes a block contributes when `remaining` bytes are still missing: a non-last block (link
/// word not 0) at most its payload; the last block everything that is missing, read contiguously.
[[nodiscard]] constexpr std::uint64_t chunk_length(std::uint64_t remaining,
                                                   std::uint32_t payload_size,
                                                   std::uint32_t next_link) noexcept {
    return next_link != 0 ? std::min<std::uint64_t>(remaining, payload_size) : remaining;
}

/// Where the chain of a stored file of `size` bytes starting at `offset` ends when its blocks are
/// consecutive: a link word per block, then the bytes. For a `block_size` that leaves no room for
/// data, `offset`.
[[nodiscard]] constexpr std::uint64_t
consecutive_chain_end(std::uint32_t offset, std::uint32_t size, std::uint32_t block_size) noexcept {
    const auto payload = block_payload_size(block_size);
    if (!payload) {
        return offset;
    }
    const std::uint64_t blocks = (std::uint64_t{size} + *payload - 1) / *payload;
    return std::uint64_t{offset} + size + kLinkSize * blocks;
}

/// Branch slots followed below a non-leaf node: one more than its entries, at most all 62.
[[nodiscard]] constexpr std::uint32_t child_slot_count(std::uint32_t entry_count) noexcept {
    return entry_count >= kMaxEntries ? kBranchCount : entry_count + 1;
}

} // namespace quillmere::dat::layout
