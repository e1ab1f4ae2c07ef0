// One directory entry: where a stored file lies and how long it is.
#pragma once

#include "quillmere/common/byte_cursor.hpp"
#include "quillmere/common/byte_writer.hpp"
#include "quillmere/dat/export.hpp"

#include <cstdint>

namespace quillmere::dat {

/// A directory entry, 24 bytes in a node.
///
/// | offset | width | type | field     |
/// |--------|-------|------|-----------|
/// | 0      | 4     | u32  | bit_flags |
/// | 4      | 4     | u32  | id        |
/// | 8      | 4     | u32  | offset    |
/// | 12     | 4     | u32  | size      |
/// | 16     | 4     | u32  | timestamp |
/// | 20     | 4     | u32  | version   |
struct QUILLMERE_DAT_EXPORT DatFileEntry {
    /// Bit 0 set: the stored bytes are compressed. Other bits are kept, not interpreted.
    std::uint32_t bit_flags = 0;
    /// The file id, the key of `DatDatabase::files()`; its top byte tells the file type.
    std::uint32_t id = 0;
    /// Offset of the first block of the file's chain.
    std::uint32_t offset = 0;
    /// Stored length: for a compressed file, the compressed length.
    std::uint32_t size = 0;
    /// Kept as stored; not interpreted.
    std::uint32_t timestamp = 0;
    /// Kept as stored; not interpreted.
    std::uint32_t version = 0;

    /// Reads 24 bytes. On a short read the error names the field ("While parsing field
    /// 'bit_flags' in DatFileEntry") and the cursor is back at the entry's first byte.
    [[nodiscard]] static common::DecodeResult<DatFileEntry> read_le(common::ByteCursor& cursor);
    /// Writes the 24 bytes, fields in the order `read_le` reads them.
    void write_le(common::ByteWriter& writer) const;

    /// True when bit 0 of `bit_flags` is set.
    [[nodiscard]] constexpr bool is_compressed() const noexcept { return (bit_flags & 1U) != 0; }

    friend bool operator==(const DatFileEntry&, const DatFileEntry&) = default;
};

} // namespace quillmere::dat
