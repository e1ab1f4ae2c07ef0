// A copy of an archive with files put and deleted on the way, in one call.
#pragma once

#include "quillmere/dat/archive_writer.hpp"
#include "quillmere/dat/dat_database.hpp"
#include "quillmere/dat/dat_error.hpp"
#include "quillmere/dat/export.hpp"

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <vector>

namespace quillmere::dat {

/// What `copy_archive` changes on the way.
struct ArchiveEdits {
    /// New contents by file id. A file of the source keeps its `bit_flags` (but for bit 0, which
    /// says how the new contents are stored), `timestamp` and `version`; a new id gets zeros.
    std::map<std::uint32_t, std::vector<std::uint8_t>> puts;
    /// Files of the source left out of the copy.
    std::set<std::uint32_t> deletes;
    /// How the contents of `puts` are stored.
    Storage put_storage = Storage::Plain;
};

/// Writes `output_path`, a compacted copy of `source`: every file in ascending id order, each
/// untouched file as stored (`ArchiveWriter::copy_file`), the files of `edits.puts` with their
/// new contents, those of `edits.deletes` left out; the header and the bytes before it as the
/// source's (`ArchiveWriter::create_from`). The output replaces an existing file only when the
/// copy is complete, so it may be the source's own path. Returns the header written.
///
/// Errors, before anything is written: `NotFound(id)` for a deleted id the source lacks;
/// `Other` (write refusal `EditConflict`) for an id both put and deleted. Then the writer's
/// errors and the source's read errors (a failed read names the file in its `read_place`),
/// unchanged; the output keeps its old content after any of them.
[[nodiscard]] QUILLMERE_DAT_EXPORT DatResult<DatHeader>
copy_archive(const DatDatabase& source, const std::filesystem::path& output_path,
             const ArchiveEdits& edits = {});

} // namespace quillmere::dat
