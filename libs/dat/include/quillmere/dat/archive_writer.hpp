// Writing a new archive file by file: block chains, a balanced directory tree and the header,
// streamed to a temporary file that replaces the output only when it is complete.
#pragma once

#include "quillmere/dat/dat_error.hpp"
#include "quillmere/dat/dat_file_entry.hpp"
#include "quillmere/dat/dat_header.hpp"
#include "quillmere/dat/export.hpp"
#include "quillmere/dat/termination_cleanup.hpp"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>

namespace quillmere::dat {

class DatDatabase;

/// The directory fields of a file given as plain contents (its id and place are the writer's).
struct FileFields {
    /// Bit 0 says whether the stored bytes are compressed; see `Storage`.
    std::uint32_t bit_flags = 0;
    std::uint32_t timestamp = 0;
    std::uint32_t version = 0;

    friend bool operator==(const FileFields&, const FileFields&) = default;
};

/// How `ArchiveWriter::add_file` stores contents.
enum class Storage : std::uint8_t {
    /// As they are; bit 0 of the flags must be clear.
    Plain,
    /// Compressed with `utils::compress_lrs`; bit 0 of the flags is set.
    Compressed,
};

/// Writes a new archive. Files are added one at a time, in any id order; `finish` writes the
/// directory and the header and puts the archive in place. Move-only; a moved-from writer may
/// only be destroyed or assigned to.
///
/// Layout (`block_size` from the template, 1024 when it says 0):
///
/// | offset                              | contents                                        |
/// |-------------------------------------|-------------------------------------------------|
/// | 0                                   | the preamble (320 zero bytes unless given)      |
/// | 320                                 | the 80-byte header                              |
/// | 400                                 | zero bytes up to the first block                |
/// | first multiple of block_size >= 400 | each file's chain in the order files were added |
/// | after the files                     | the directory's nodes, root first (pre-order)   |
///
/// - Every chain (file or node) lies in consecutive blocks: each block is a link word (the next
///   block's offset, 0 in the last) and up to `block_size - 4` payload bytes; the last block is
///   padded with zero bytes to the full `block_size`. So every block starts at a multiple of
///   `block_size` and the archive's length is one too.
/// - A file of 0 stored bytes takes no block; its entry has offset 0 (nothing is read for it).
/// - The directory is a B-tree of 1716-byte nodes with every leaf at the same depth: the lowest
///   height that holds all entries (61 per node, 62 children), the entries spread evenly over
///   the fewest children at each level, ids strictly ascending in order. An empty archive has
///   no node and `root_offset` 0.
/// - The header is the template with `block_size` as used, `file_size` the archive's length,
///   `root_offset` the root node, and an empty free list (`free_head`, `free_tail`,
///   `free_count` 0); every other field is the template's, `version_string` padded with zero
///   bytes to 16.
/// - Deterministic: the same template and the same calls give the same bytes.
///
/// Memory: the entry list plus the file being added (and its compressed form) plus a 1 MiB
/// write buffer, whatever the archive's size; blocks go out in buffer-sized writes. A file
/// added from a descriptor (`add_file_from`) is never held whole.
///
/// Atomic output: everything is written to a temporary file `.{name}.tmp-XXXXXX` in the
/// output's directory; `finish` flushes it to the disk (`fsync`), puts it in place of the output
/// (an existing output is exchanged with it, `renameat2` RENAME_EXCHANGE, and its old content
/// removed only after the next step; a new one, or one on a file system that cannot exchange,
/// is renamed over) and flushes the directory. Until then an existing output keeps its old
/// content, so the output may even be the path of an archive being read (a `DatDatabase` open
/// on it keeps reading the old file). The temporary file is removed when any write fails, when
/// the writer is destroyed unfinished (an exception unwinding through its owner, say), and when
/// the process is ended by SIGINT, SIGTERM, SIGHUP or SIGQUIT:
/// - the library installs no signal handler of its own accord: a program that wants the
///   clean-up without handlers of its own calls `install_termination_cleanup` once, which puts
///   in a handler for each of the four signals whose disposition is the default (never replacing
///   an application's own handler or an ignored signal); the handler removes every pending
///   temporary file (see `remove_pending_temporaries` in termination_cleanup.hpp), restores the
///   default disposition and raises the signal again, so the process ends as it would have;
/// - an application with its own handlers calls `remove_pending_temporaries` from them.
/// The writer opens nothing but its temporary file and the output's directory.
///
/// Every `Other` error the writer raises itself carries its reason (`DatError::write_refusal`,
/// see `WriteRefusal`), so that a caller can tell a duplicate id (`DuplicateId`), contents that
/// contradict their flags, an archive grown too large and a writer already closed apart.
///
/// Once `finish` has succeeded, or any write has failed (the temporary file is then gone),
/// every further call fails with `Other`. Errors that write nothing (a duplicate id, flags
/// that contradict the storage, an archive that would grow too large) leave the writer as it
/// was, ready for the next file.
class QUILLMERE_DAT_EXPORT ArchiveWriter {
  public:
    /// Starts an archive for `output_path` by creating its temporary file.
    ///
    /// Errors, each before anything is created unless said otherwise:
    /// - `block_size` (after 0 becomes 1024) of 4 or less, which leaves a block no payload, or
    ///   above 1048576: `Other`;
    /// - a `version_string` longer than 16 bytes: `Other`;
    /// - the output is a directory, or the temporary file cannot be created in the output's
    ///   directory (missing, not writable): `PathError` with `output_path` and the reason;
    /// - 32 writers already pending in the process: `Other`.
    [[nodiscard]] static DatResult<ArchiveWriter> create(const std::filesystem::path& output_path,
                                                         const DatHeader& header_template);
    /// `create`, with the bytes before the header taken from the template archive too
    /// (`DatDatabase::read_preamble`), so that a copy keeps them.
    [[nodiscard]] static DatResult<ArchiveWriter>
    create(const std::filesystem::path& output_path, const DatHeader& header_template,
           std::span<const std::uint8_t, kPreambleSize> preamble);

    /// `create` with `source`'s header as the template and its preamble (`read_preamble`), for
    /// a copy or an edited copy of `source`. Errors: those of `read_preamble`, then `create`'s.
    [[nodiscard]] static DatResult<ArchiveWriter>
    create_from(const std::filesystem::path& output_path, const DatDatabase& source);

    ArchiveWriter(ArchiveWriter&&) noexcept;
    ArchiveWriter& operator=(ArchiveWriter&&) noexcept;
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;
    /// Removes the temporary file of an unfinished writer; the output is left as it was.
    ~ArchiveWriter();

    /// Stores `contents` as file `id`: as they are (`Plain`, which requires bit 0 of
    /// `fields.bit_flags` clear, since every reader would take plain bytes marked compressed
    /// for a compressed stream) or compressed (`Compressed`, written with bit 0 set). Returns
    /// the entry as it will be in the directory.
    ///
    /// Errors: `DuplicateId(id)` for an id already added; `Other` for `Plain` with bit 0 set,
    /// for `Compressed` contents of 4 GiB or more (the stored length has 32 bits) and for a
    /// file that would end the archive past the reach of 32-bit offsets; in these cases nothing
    /// is written. `Io` when writing fails.
    [[nodiscard]] DatResult<DatFileEntry> add_file(std::uint32_t id,
                                                   std::span<const std::uint8_t> contents,
                                                   FileFields fields = {},
                                                   Storage storage = Storage::Plain);

    /// Stores the next `length` bytes read from the open descriptor `fd` (from its current
    /// position) as file `id`, plain, as `add_file` with `Storage::Plain` would store them, but
    /// read and written a piece at a time: memory stays the write buffer plus a read buffer
    /// of about the same size, whatever `length`. The descriptor stays the caller's.
    ///
    /// Errors, writing nothing: `DuplicateId(id)`; `Other` when bit 0 of `fields.bit_flags`
    /// is set or the file would end the archive past the reach of 32-bit offsets (so a
    /// `length` of 4 GiB or more is refused). Once reading has begun, `Io` when a read or a
    /// write fails and `Other` when `fd` ends before `length` bytes; the writer is then ended
    /// as after any failed write (its temporary file removed).
    [[nodiscard]] DatResult<DatFileEntry>
    add_file_from(std::uint32_t id, int fd, std::uint64_t length, FileFields fields = {});

    /// Stores `stored_bytes` verbatim as file `entry.id`, with `bit_flags`, `timestamp` and
    /// `version` from `entry`: the bytes as another archive stores them (compressed or not, as
    /// its flags say), nothing recompressed. `entry.offset` is replaced by the new place.
    /// Returns the entry as it will be in the directory.
    ///
    /// Errors: `DuplicateId`; `Other` when `stored_bytes` is not `entry.size` bytes long (say,
    /// a file's decompressed contents given with its compressed entry) or would end the
    /// archive past the reach of 32-bit offsets; nothing is written then. `Io` when writing
    /// fails.
    [[nodiscard]] DatResult<DatFileEntry> add_stored(const DatFileEntry& entry,
                                                     std::span<const std::uint8_t> stored_bytes);

    /// Copies file `id` of `source` as it is stored there: `add_stored` of its entry and its
    /// stored bytes (`DatDatabase::read_stored`), nothing decompressed or recompressed.
    /// Errors: those of `read_stored` (nothing is written then), then those of `add_stored`.
    [[nodiscard]] DatResult<DatFileEntry> copy_file(const DatDatabase& source, std::uint32_t id);

    /// Stores new `contents` as file `like.id` with `like`'s `bit_flags`, `timestamp` and
    /// `version`, compressed when `like` is flagged compressed and plain otherwise: the way to
    /// put edited contents in place of a file of another archive. Errors as for `add_file`.
    [[nodiscard]] DatResult<DatFileEntry> add_file_like(const DatFileEntry& like,
                                                        std::span<const std::uint8_t> contents);

    /// Writes the directory and the header, then puts the archive in place (see above).
    /// Returns the header as written.
    ///
    /// Errors: `Other` when the directory would end the archive past the reach of 32-bit
    /// offsets; `Io` when writing, flushing or renaming fails. The temporary file is removed
    /// and the output keeps its old content (a failed flush of the directory exchanges the
    /// old output back, or removes a new one), except where a file system that cannot
    /// exchange had the new archive renamed over an old output: a failure to flush the
    /// directory is then reported with the new archive in place.
    [[nodiscard]] DatResult<DatHeader> finish();

    /// The block size in use.
    [[nodiscard]] std::uint32_t block_size() const noexcept;
    /// Files added so far.
    [[nodiscard]] std::size_t file_count() const noexcept;
    /// The temporary file's absolute path while the writer is unfinished; empty after `finish`
    /// or a failed write.
    [[nodiscard]] const std::filesystem::path& temporary_path() const noexcept;

  private:
    struct State;
    explicit ArchiveWriter(std::unique_ptr<State> state) noexcept;

    std::unique_ptr<State> state_;
};

} // namespace quillmere::dat
