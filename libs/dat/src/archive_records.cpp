// Encoders of the archive's own records, the header and the directory entry. Their readers are
// with the archive walk in dat_database.cpp; each writer lists the same fields in the same order.
#include "quillmere/dat/dat_file_entry.hpp"
#include "quillmere/dat/dat_header.hpp"

#include <algorithm>
#include <array>

namespace quillmere::dat {

void DatHeader::write_le(common::ByteWriter& writer) const {
    writer.write_u32(magic);
    writer.write_u32(block_size);
    writer.write_u32(file_size);
    writer.write_u32(dataset);
    writer.write_u32(subset);
    writer.write_u32(free_head);
    writer.write_u32(free_tail);
    writer.write_u32(free_count);
    writer.write_u32(root_offset);
    writer.write_u32(new_lru);
    writer.write_u32(old_lru);
    writer.write_u32(use_lru);
    writer.write_u32(master_map_id);
    writer.write_u32(engine_version);
    writer.write_u32(game_version);
    std::array<std::uint8_t, 16> version{};
    std::copy_n(version_string.begin(), std::min(version_string.size(), version.size()),
                version.begin());
    writer.write_bytes(version);
    writer.write_u32(version_minor);
}

void DatFileEntry::write_le(common::ByteWriter& writer) const {
    writer.write_u32(bit_flags);
    writer.write_u32(id);
    writer.write_u32(offset);
    writer.write_u32(size);
    writer.write_u32(timestamp);
    writer.write_u32(version);
}

} // namespace quillmere::dat
