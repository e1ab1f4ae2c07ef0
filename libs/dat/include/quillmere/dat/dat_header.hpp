// The archive header, 80 bytes at offset 320.
#pragma once

#include "quillmere/common/byte_cursor.hpp"
#include "quillmere/common/byte_writer.hpp"
#include "quillmere/dat/export.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillmere::dat {

/// Length of the bytes before the header (offsets 0 to 319). Nothing in the format gives them a
/// meaning, but they are the archive's own: copies keep them.
inline constexpr std::size_t kPreambleSize = 320;

/// The archive's header. Nothing in it is validated when read: any magic and any version are
/// accepted; `block_size` and `root_offset` are the only fields the archive layer uses.
///
/// | file offset | width | type  | field          |
/// |-------------|-------|-------|----------------|
/// | 320         | 4     | u32   | magic          |
/// | 324         | 4     | u32   | block_size     |
/// | 328         | 4     | u32   | file_size      |
/// | 332         | 4     | u32   | dataset        |
/// | 336         | 4     | u32   | subset         |
/// | 340         | 4     | u32   | free_head      |
/// | 344         | 4     | u32   | free_tail      |
/// | 348         | 4     | u32   | free_count     |
/// | 352         | 4     | u32   | root_offset    |
/// | 356         | 4     | u32   | new_lru        |
/// | 360         | 4     | u32   | old_lru        |
/// | 364         | 4     | u32   | use_lru        |
/// | 368         | 4     | u32   | master_map_id  |
/// | 372         | 4     | u32   | engine_version |
/// | 376         | 4     | u32   | game_version   |
/// | 380         | 16    | bytes | version_string |
/// | 396         | 4     | u32   | version_minor  |
struct QUILLMERE_DAT_EXPORT DatHeader {
    std::uint32_t magic = 0;
    /// Bytes per block, link word included.
    std::uint32_t block_size = 0;
    std::uint32_t file_size = 0;
    std::uint32_t dataset = 0;
    std::uint32_t subset = 0;
    std::uint32_t free_head = 0;
    std::uint32_t free_tail = 0;
    std::uint32_t free_count = 0;
    /// Offset of the root directory node; 0 means an empty directory.
    std::uint32_t root_offset = 0;
    std::uint32_t new_lru = 0;
    std::uint32_t old_lru = 0;
    std::uint32_t use_lru = 0;
    std::uint32_t master_map_id = 0;
    std::uint32_t engine_version = 0;
    std::uint32_t game_version = 0;
    /// 16 raw bytes, not interpreted as text.
    std::vector<std::uint8_t> version_string;
    std::uint32_t version_minor = 0;

    /// Reads the 80 bytes from the cursor's position. On a short read the error names the
    /// first field whose bytes are not all there ("While parsing field 'free_count' in
    /// DatHeader") and the cursor is back where the header started.
    [[nodiscard]] static common::DecodeResult<DatHeader> read_le(common::ByteCursor& cursor);
    /// Writes the 80 bytes, fields in the order `read_le` reads them. `version_string` always
    /// takes its 16 bytes: a shorter one is padded with zero bytes, a longer one cut.
    void write_le(common::ByteWriter& writer) const;

    friend bool operator==(const DatHeader&, const DatHeader&) = default;
};

} // namespace quillmere::dat
