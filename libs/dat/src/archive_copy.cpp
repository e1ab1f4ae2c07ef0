// Copies of archives: the writer's helpers that take files and fields from an open archive, and
// the whole copy with edits built on them.
#include "quillmere/dat/archive_copy.hpp"

#include "quillmere/common/text.hpp"
#include "quillmere/common/try.hpp"
#include "quillmere/dat/lrs.hpp"

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
    for (const auto& [id, put] : edits.puts) {
        ids.push_back(id);
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

// An untouched file's stored bytes; nothing when `options` leaves it out.
DatResult<std::optional<std::vector<std::uint8_t>>>
read_untouched(const DatDatabase& source, const DatFileEntry& entry, const CopyOptions& options) {
    if (options.admit && !options.admit(entry)) {
        return std::nullopt;
    }
    auto stored = source.read_stored(entry.id);
    if (stored && options.check_streams && entry.is_compressed() &&
        !utils::stream_is_whole(*stored)) {
        stored = std::unexpected(DatError::decompression_failed(entry.id));
    }
    if (stored) {
        return std::optional(std::move(*stored));
    }
    if (options.leave_out && options.leave_out(entry, stored.error())) {
        return std::nullopt;
    }
    return std::unexpected(std::move(stored).error());
}

void count(CopySummary& summary, std::uint64_t stored_bytes, bool compressed) {
    ++summary.files;
    summary.stored_bytes += stored_bytes;
    summary.compressed += compressed ? 1U : 0U;
}

// Adds (or with no writer, sizes) the new contents of file `id`, with the fields of the source's
// file of that id when there is one.
DatResult<void> put_file(const DatDatabase& source, ArchiveWriter* writer, std::uint32_t id,
                         const PutContents& put, Storage storage, CopySummary& summary) {
    FileFields fields;
    if (const auto old = source.files().find(id); old != source.files().end()) {
        fields = {old->second.bit_flags & ~1U, old->second.timestamp, old->second.version};
    }
    const bool compressed = storage == Storage::Compressed;
    if (put.fd >= 0 && compressed) {
        return std::unexpected(
            DatError::refused(WriteRefusal::FlagsContradictStorage,
                              "file 0x" + common::hex8(id) +
                                  " is streamed from a descriptor, so it is stored plain"));
    }
    std::uint64_t stored_bytes = 0;
    if (writer == nullptr) {
        stored_bytes = put.fd >= 0  ? put.size
                       : compressed ? utils::compress_lrs(put.bytes).size()
                                    : put.bytes.size();
    } else {
        QM_TRY(const DatFileEntry added, put.fd >= 0
                                             ? writer->add_file_from(id, put.fd, put.size, fields)
                                             : writer->add_file(id, put.bytes, fields, storage));
        stored_bytes = added.size;
    }
    count(summary, stored_bytes, compressed);
    return {};
}

} // namespace

DatResult<CopySummary> copy_files(const DatDatabase& source, ArchiveWriter* writer,
                                  const ArchiveEdits& edits, const CopyOptions& options) {
    QM_TRY_VOID(check_edits(source, edits));
    const std::vector<std::uint32_t> ids = copy_ids(source, edits);
    CopySummary summary;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (const auto put = edits.puts.find(ids[i]); put != edits.puts.end()) {
            QM_TRY_VOID(put_file(source, writer, ids[i], put->second,
                                 put->second.storage.value_or(edits.put_storage), summary));
        } else {
            const DatFileEntry& entry = source.files().at(ids[i]);
            QM_TRY(const auto stored, read_untouched(source, entry, options));
            if (!stored) {
                summary.left_out.push_back(entry.id);
            } else {
                if (writer != nullptr) {
                    QM_TRY_VOID(writer->add_stored(entry, *stored));
                }
                count(summary, entry.size, entry.is_compressed());
            }
        }
        if (options.progress) {
            options.progress(i + 1, ids.size());
        }
    }
    return summary;
}

DatResult<CopySummary> copy_archive(const DatDatabase& source,
                                    const std::filesystem::path& output_path,
                                    const ArchiveEdits& edits, const CopyOptions& options) {
    QM_TRY_VOID(check_edits(source, edits));
    QM_TRY(ArchiveWriter writer, ArchiveWriter::create_from(output_path, source));
    QM_TRY(CopySummary summary, copy_files(source, &writer, edits, options));
    QM_TRY(summary.header, writer.finish());
    return summary;
}

} // namespace quillmere::dat
