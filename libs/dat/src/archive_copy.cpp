// Copies of archives: the writer's helpers that take files and fields from an open archive, and
// the whole copy with edits built on them.
#include "quillmere/dat/archive_copy.hpp"

#include "quillmere/common/text.hpp"
#include "quillmere/common/try.hpp"

#include <algorithm>

namespace quillmere::dat {

DatResult<ArchiveWriter> ArchiveWriter::create_from(const std::filesystem::path& output_path,
                                                    const DatDatabase& source) {
    QM_TRY(const auto preamble, source.read_preamble());
    return create(output_path, source.header(), preamble);
}

DatResult<DatFileEntry> ArchiveWriter::copy_file(const DatDatabase& source, std::uint32_t id) {
    QM_TRY(const auto stored, source.read_stored(id));
    return add_stored(source.files().at(id), stored);
}

DatResult<DatFileEntry> ArchiveWriter::add_file_like(const DatFileEntry& like,
                                                     std::span<const std::uint8_t> contents) {
    const FileFields fields{like.bit_flags & ~1U, like.timestamp, like.version};
    return add_file(like.id, contents, fields,
                    like.is_compressed() ? Storage::Compressed : Storage::Plain);
}

namespace {

// Refuses edits that contradict the source or each other, before anything is written.
DatResult<void> check_edits(const DatDatabase& source, const ArchiveEdits& edits) {
    for (const std::uint32_t id : edits.deletes) {
        if (!source.files().contains(id)) {
            return std::unexpected(DatError::not_found(id));
        }
        if (edits.puts.contains(id)) {
            return std::unexpected(
                DatError::refused(WriteRefusal::EditConflict,
                                  "file 0x" + common::hex8(id) + " is both put and deleted"));
        }
    }
    return {};
}

// Every id of the copy in ascending order: the source's less those deleted, and those put.
std::vector<std::uint32_t> copy_ids(const DatDatabase& source, const ArchiveEdits& edits) {
    std::vector<std::uint32_t> ids;
    ids.reserve(source.files().size() + edits.puts.size());
    for (const std::uint32_t id : source.sorted_ids()) {
        if (!edits.deletes.contains(id) && !edits.puts.contains(id)) {
            ids.push_back(id);
        }
    }
    for (const auto& [id, contents] : edits.puts) {
        ids.push_back(id);
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

} // namespace

DatResult<DatHeader> copy_archive(const DatDatabase& source,
                                  const std::filesystem::path& output_path,
                                  const ArchiveEdits& edits) {
    QM_TRY_VOID(check_edits(source, edits));
    QM_TRY(ArchiveWriter writer, ArchiveWriter::create_from(output_path, source));
    for (const std::uint32_t id : copy_ids(source, edits)) {
        const auto put = edits.puts.find(id);
        if (put == edits.puts.end()) {
            QM_TRY_VOID(writer.copy_file(source, id));
            continue;
        }
        const auto old = source.files().find(id);
        DatFileEntry like;
        like.id = id;
        if (old != source.files().end()) {
            like = old->second;
        }
        like.bit_flags =
            (like.bit_flags & ~1U) | (edits.put_storage == Storage::Compressed ? 1U : 0U);
        QM_TRY_VOID(writer.add_file_like(like, put->second));
    }
    return writer.finish();
}

} // namespace quillmere::dat
