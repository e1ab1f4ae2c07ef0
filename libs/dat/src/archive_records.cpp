// The archive's own records, the header, the directory entry and the directory node: each read
// field by field and written in the same order.
#include "detail/archive_layout.hpp"
#include "quillmere/common/record.hpp"
#include "quillmere/common/try.hpp"
#include "quillmere/dat/dat_file_entry.hpp"
#include "quillmere/dat/dat_header.hpp"

#include <algorithm>
#include <array>
#include <cassert>

namespace quillmere::dat {

using common::ByteCursor;
using common::DecodeError;
using common::DecodeResult;

namespace {

// The 16 raw bytes of `version_string`; a short read leaves the cursor where it started.
DecodeResult<std::vector<std::uint8_t>> read_version_string(ByteCursor& cursor) {
    const std::uint64_t start = cursor.position();
    auto bytes = cursor.read_exact(16);
    if (!bytes) {
        cursor.set_position(start);
        return std::unexpected(DecodeError(std::move(bytes).error()));
    }
    return std::vector<std::uint8_t>(bytes->begin(), bytes->end());
}

DecodeResult<std::array<std::uint32_t, layout::kBranchCount>> read_branches(ByteCursor& cursor) {
    std::array<std::uint32_t, layout::kBranchCount> branches{};
    for (std::uint32_t& branch : branches) {
        QM_TRY(branch, cursor.read_u32());
    }
    return branches;
}

} // namespace

DecodeResult<DatHeader> DatHeader::read_le(ByteCursor& cursor) {
    common::RecordReader r(cursor, "DatHeader");
    DatHeader h;
    QM_TRY(h.magic, r.field("magic", &ByteCursor::read_u32));
    QM_TRY(h.block_size, r.field("block_size", &ByteCursor::read_u32));
    QM_TRY(h.file_size, r.field("file_size", &ByteCursor::read_u32));
    QM_TRY(h.dataset, r.field("dataset", &ByteCursor::read_u32));
    QM_TRY(h.subset, r.field("subset", &ByteCursor::read_u32));
    QM_TRY(h.free_head, r.field("free_head", &ByteCursor::read_u32));
    QM_TRY(h.free_tail, r.field("free_tail", &ByteCursor::read_u32));
    QM_TRY(h.free_count, r.field("free_count", &ByteCursor::read_u32));
    QM_TRY(h.root_offset, r.field("root_offset", &ByteCursor::read_u32));
    QM_TRY(h.new_lru, r.field("new_lru", &ByteCursor::read_u32));
    QM_TRY(h.old_lru, r.field("old_lru", &ByteCursor::read_u32));
    QM_TRY(h.use_lru, r.field("use_lru", &ByteCursor::read_u32));
    QM_TRY(h.master_map_id, r.field("master_map_id", &ByteCursor::read_u32));
    QM_TRY(h.engine_version, r.field("engine_version", &ByteCursor::read_u32));
    QM_TRY(h.game_version, r.field("game_version", &ByteCursor::read_u32));
    QM_TRY(h.version_string, r.field("version_string", read_version_string));
    QM_TRY(h.version_minor, r.field("version_minor", &ByteCursor::read_u32));
    return h;
}

DecodeResult<DatFileEntry> DatFileEntry::read_le(ByteCursor& cursor) {
    common::RecordReader r(cursor, "DatFileEntry");
    DatFileEntry e;
    QM_TRY(e.bit_flags, r.field("bit_flags", &ByteCursor::read_u32));
    QM_TRY(e.id, r.field("id", &ByteCursor::read_u32));
    QM_TRY(e.offset, r.field("offset", &ByteCursor::read_u32));
    QM_TRY(e.size, r.field("size", &ByteCursor::read_u32));
    QM_TRY(e.timestamp, r.field("timestamp", &ByteCursor::read_u32));
    QM_TRY(e.version, r.field("version", &ByteCursor::read_u32));
    return e;
}

// The node's own fields cannot run short in its 1716 bytes; its entries are read without a
// context of the node's, since the only way they fail (an entry_count above 61) is the entry's.
DecodeResult<DirectoryNode>
DirectoryNode::read_le(std::span<const std::uint8_t, layout::kNodeSize> bytes) {
    ByteCursor cursor(bytes);
    common::RecordReader r(cursor, "DirectoryNode");
    DirectoryNode node;
    QM_TRY(node.branches, r.field("branches", read_branches));
    QM_TRY(node.entry_count, r.field("entry_count", &ByteCursor::read_u32));
    for (std::uint32_t i = 0; i < node.entry_count; ++i) {
        // Entry 62 would start at the node's end, so its read fails before it is stored.
        QM_TRY(node.entries[i], DatFileEntry::read_le(cursor));
    }
    return node;
}

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

void DirectoryNode::write_le(common::ByteWriter& writer) const {
    assert(entry_count <= layout::kMaxEntries && "a node holds at most 61 entries");
    for (const std::uint32_t branch : branches) {
        writer.write_u32(branch);
    }
    writer.write_u32(entry_count);
    for (const DatFileEntry& entry : entries) {
        entry.write_le(writer);
    }
}

} // namespace quillmere::dat
