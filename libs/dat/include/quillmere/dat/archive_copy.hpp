// A copy of an archive with files put and deleted on the way, in one call.
#pragma once

#include "quillmere/dat/archive_writer.hpp"
#include "quillmere/dat/dat_database.hpp"
#include "quillmere/dat/dat_error.hpp"
#include "quillmere/dat/export.hpp"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <vector>

namespace quillmere::dat {

/// New contents for one file: bytes in memory, or the bytes of an open file streamed into the
/// archive a piece at a time (`from_descriptor`).
struct PutContents {
    PutContents() = default;
    // Implicit, so that `edits.puts[id] = bytes` reads as it says.
    PutContents(std::vector<std::uint8_t> contents) // NOLINT(google-explicit-constructor)
        : bytes(std::move(contents)) {}

    /// The next `size` bytes of the open descriptor `fd`, read when the file is written
    /// (`ArchiveWriter::add_file_from`). They are stored plain: asking for `Storage::Compressed`
    /// is refused (`FlagsContradictStorage`). The descriptor stays the caller's.
    [[nodiscard]] static PutContents from_descriptor(int fd, std::uint64_t size) {
        PutContents put;
        put.fd = fd;
        put.size = size;
        return put;
    }

    std::vector<std::uint8_t> bytes;
    /// The descriptor to stream from, or -1 for `bytes`.
    int fd = -1;
    std::uint64_t size = 0;
    /// How these contents are stored; `ArchiveEdits::put_storage` when not given.
    std::optional<Storage> storage;
};

/// What `copy_archive` changes on the way.
struct ArchiveEdits {
    /// New contents by file id. A file of the source keeps its `bit_flags` (but for bit 0, which
    /// says how the new contents are stored), `timestamp` and `version`; a new id gets zeros.
    std::map<std::uint32_t, PutContents> puts;
    /// Files of the source left out of the copy.
    std::set<std::uint32_t> deletes;
    /// How the contents of `puts` are stored, unless a put says otherwise.
    Storage put_storage = Storage::Plain;
};

/// How a copy goes about the source's files; the defaults copy every file or fail.
struct CopyOptions {
    /// Also take a compressed file whose stream gives fewer bytes than its size word declares
    /// (`utils::stream_is_whole`) as a file that cannot be read whole (`DecompressionFailed`),
    /// as `DatDatabase::get_file_checked` does. Without it, stored bytes are copied as they are.
    bool check_streams = false;
    /// Asked before each untouched file is read; false leaves the file out unread.
    std::function<bool(const DatFileEntry&)> admit;
    /// Told of each untouched file that cannot be read whole, with why. True leaves the file
    /// out and the copy goes on; false, or no function, ends the copy with that error.
    std::function<bool(const DatFileEntry&, const DatError&)> leave_out;
    /// Told after each file of the copy, written or left out: how many of how many.
    std::function<void(std::size_t done, std::size_t total)> progress;
};

/// What a copy wrote, or with no writer would write.
struct CopySummary {
    /// Files written, their bytes as stored, and how many of them are stored compressed.
    std::size_t files = 0;
    std::uint64_t stored_bytes = 0;
    std::size_t compressed = 0;
    /// The untouched files left out (`CopyOptions::admit` and `leave_out`), in ascending order.
    std::vector<std::uint32_t> left_out;
    /// The header written; nothing until the archive is finished.
    std::optional<DatHeader> header;
};

/// Adds every file of the copy to `writer`, in ascending id order: each untouched file of
/// `source` as stored (`ArchiveWriter::copy_file`), the files of `edits.puts` with their new
/// contents, those of `edits.deletes` left out. It does not finish the writer. With no writer
/// (`nullptr`), a rehearsal: every file is read and checked as it would be, every put to be
/// compressed is compressed, and nothing is written.
///
/// Errors, before any file is added: `NotFound(id)` for a deleted id the source lacks; `Other`
/// (write refusal `EditConflict`) for an id both put and deleted. Then the source's read errors
/// (a failed read names the file in its `read_place`) that `options.leave_out` does not take,
/// and the writer's errors, unchanged.
[[nodiscard]] QUILLMERE_DAT_EXPORT DatResult<CopySummary>
copy_files(const DatDatabase& source, ArchiveWriter* writer, const ArchiveEdits& edits,
           const CopyOptions& options = {});

/// Writes `output_path`, a compacted copy of `source`: `copy_files` into a writer with the
/// header and the bytes before it of the source (`ArchiveWriter::create_from`), then finished.
/// The output replaces an existing file only when the copy is complete, so it may be the
/// source's own path; it keeps its old content after any error.
[[nodiscard]] QUILLMERE_DAT_EXPORT DatResult<CopySummary>
copy_archive(const DatDatabase& source, const std::filesystem::path& output_path,
             const ArchiveEdits& edits = {}, const CopyOptions& options = {});

} // namespace quillmere::dat
