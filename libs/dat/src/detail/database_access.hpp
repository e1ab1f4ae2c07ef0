// Opening a database whose file reads go through stand-ins for the system calls, so the
// library's tests can count the reads it makes or make them fail; and the file an open
// database reads, for the library's own readers.
#pragma once

#include "detail/archive_file.hpp"
#include "detail/test_seam.hpp"
#include "quillmere/dat/dat_database.hpp"

#include <filesystem>

namespace quillmere::dat::detail {

struct QUILLMERE_DAT_TEST_SEAM DatabaseAccess {
    /// `DatDatabase::open(path)`, with every read of the archive file going through `reads`.
    [[nodiscard]] static DatResult<DatDatabase> open(const std::filesystem::path& path,
                                                     const FileReads& reads);
    /// The archive file `db` reads, for the library's own readers that go past its public
    /// reads (`compare_archives` reads chains through a window, as the verifier does).
    [[nodiscard]] static const ArchiveFile& file(const DatDatabase& db) noexcept {
        return *db.file_;
    }
};

} // namespace quillmere::dat::detail
