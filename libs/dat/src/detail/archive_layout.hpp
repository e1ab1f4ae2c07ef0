// The archive's format in one place: where the header and its fields lie, what a block and a
// directory node hold (with the node's record, `DirectoryNode`), and the small pure functions
// that turn link words and block sizes into positions. The header's record is `DatHeader` and
// the entry's `DatFileEntry`; all three are read and written in archive_records.cpp, and the
// walk over the tree of nodes is directory_walk.hpp.
#pragma once

#include "detail/test_seam.hpp"
#include "quillmere/common/byte_writer.hpp"
#include "quillmere/common/decode_error.hpp"
#include "quillmere/dat/dat_file_entry.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace quillmere::dat::layout {

/// The header lies at this absolute offset; the bytes before it are never read.
inline constexpr std::uint64_t kHeaderOffset = 320;
/// Length of the header on disk (it ends at offset 400).
inline constexpr std::uint64_t kHeaderSize = 80;

/// Absolute offsets of the header's fields, in file order (`DatHeader` reads and writes them so;
/// every field is a u32 but `version_string`, 16 raw bytes).
namespace header_field {
inline constexpr std::uint64_t kMagic = kHeaderOffset + 0;
inline constexpr std::uint64_t kBlockSize = kHeaderOffset + 4;
inline constexpr std::uint64_t kFileSize = kHeaderOffset + 8;
inline constexpr std::uint64_t kDataset = kHeaderOffset + 12;
inline constexpr std::uint64_t kSubset = kHeaderOffset + 16;
inline constexpr std::uint64_t kFreeHead = kHeaderOffset + 20;
inline constexpr std::uint64_t kFreeTail = kHeaderOffset + 24;
inline constexpr std::uint64_t kFreeCount = kHeaderOffset + 28;
inline constexpr std::uint64_t kRootOffset = kHeaderOffset + 32;
inline constexpr std::uint64_t kNewLru = kHeaderOffset + 36;
inline constexpr std::uint64_t kOldLru = kHeaderOffset + 40;
inline constexpr std::uint64_t kUseLru = kHeaderOffset + 44;
inline constexpr std::uint64_t kMasterMapId = kHeaderOffset + 48;
inline constexpr std::uint64_t kEngineVersion = kHeaderOffset + 52;
inline constexpr std::uint64_t kGameVersion = kHeaderOffset + 56;
inline constexpr std::uint64_t kVersionString = kHeaderOffset + 60;
inline constexpr std::uint64_t kVersionMinor = kHeaderOffset + 76;
static_assert(kVersionMinor + 4 == kHeaderOffset + kHeaderSize);
} // namespace header_field

/// Where the block area begins: the first byte after the header. Nothing before it belongs to a
/// chain.
inline constexpr std::uint64_t kHeaderEnd = kHeaderOffset + kHeaderSize;

/// A block:
///
/// | offset | width          | type | field                                        |
/// |--------|----------------|------|----------------------------------------------|
/// | 0      | 4              | u32  | link word: next block's offset, 0 = last     |
/// | 4      | block_size - 4 | -    | payload                                      |
inline constexpr std::uint64_t kLinkSize = 4;

/// A directory node, read through its block chain like a file (the record is `DirectoryNode`,
/// below):
///
/// | offset | width | type               | field                           |
/// |--------|-------|--------------------|---------------------------------|
/// | 0      | 248   | u32[62]            | branches (child offsets, 0=none)|
/// | 248    | 4     | u32                | entry_count                     |
/// | 252    | 1464  | DatFileEntry[61]   | entries (first entry_count used)|
///
/// The nodes form a B-tree keyed by file id. A node whose branch 0 is 0 is a leaf: none of its
/// branch words is followed. Below any other node, slots 0 to `entry_count` are followed (all 62
/// when it holds 61 entries), skipping those that hold 0; the subtree of slot k holds the ids
/// between entry k - 1 and entry k.
inline constexpr std::uint32_t kBranchCount = 62;
inline constexpr std::uint32_t kMaxEntries = 61;
inline constexpr std::uint64_t kEntrySize = 24;
inline constexpr std::uint64_t kEntryCountOffset = kBranchCount * 4;
inline constexpr std::uint64_t kEntriesOffset = kEntryCountOffset + 4;
inline constexpr std::uint64_t kNodeSize = kEntriesOffset + kMaxEntries * kEntrySize;
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

namespace quillmere::dat {

/// One directory node: the record of the node table above.
struct QUILLMERE_DAT_TEST_SEAM DirectoryNode {
    /// Offsets of the child nodes, 0 for none.
    std::array<std::uint32_t, layout::kBranchCount> branches{};
    /// Entries in use, from the first; at most 61 in a node that decodes.
    std::uint32_t entry_count = 0;
    /// The first `entry_count` are the node's entries, in ascending id order in a sound archive.
    std::array<DatFileEntry, layout::kMaxEntries> entries{};

    /// Decodes a node from its 1716 bytes. Slots past `entry_count` are not read (they hold
    /// zeros). An `entry_count` above 61 runs off the end of the node: the error is that of
    /// reading entry 62, a short read in its first field ("While parsing field 'bit_flags' in
    /// DatFileEntry"), with no context of the node's own, so `DatDatabase::open` reports it as
    /// the entry's.
    [[nodiscard]] static common::DecodeResult<DirectoryNode>
    read_le(std::span<const std::uint8_t, layout::kNodeSize> bytes);
    /// Writes the 1716 bytes, fields in the order `read_le` reads them, every entry slot
    /// included. `entry_count` must be at most 61.
    void write_le(common::ByteWriter& writer) const;

    /// A leaf's branch words are never followed, whatever they hold.
    [[nodiscard]] bool is_leaf() const noexcept { return branches[0] == 0; }
    /// The entries in use (`entry_count` at most 61).
    [[nodiscard]] std::span<const DatFileEntry> used_entries() const noexcept {
        return std::span(entries).first(entry_count);
    }

    friend bool operator==(const DirectoryNode&, const DirectoryNode&) = default;
};

} // namespace quillmere::dat
