// An opened portal archive: its header, its whole directory as an id-to-entry map, and reads of
// stored files through their block chains.
#pragma once

#include "quillmere/dat/dat_error.hpp"
#include "quillmere/dat/dat_file_entry.hpp"
#include "quillmere/dat/dat_header.hpp"
#include "quillmere/dat/export.hpp"

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <unordered_map>
#include <vector>

namespace quillmere::dat {

class SequentialReader;

namespace detail {
class ArchiveFile;
class ChainReader;
struct FileReads;
struct DatabaseAccess;
} // namespace detail

/// How `DatDatabase::open` treats a directory it cannot walk.
struct OpenOptions {
    /// Skip what cannot be walked instead of failing: a node whose chain cannot be read, a node
    /// whose `entry_count` is above 61 (with its entries and children), a node reached a second
    /// time; and stop, keeping what was loaded, once more nodes were read than the archive can
    /// hold side by side. For copying what can still be read out of a damaged archive (the
    /// verifier says what was lost). The header must still be readable.
    bool skip_damaged_nodes = false;
};

/// An opened archive. It exists only fully loaded: `open` returns it with its whole directory
/// in `files()`, or an error and nothing else. Afterwards it is read-only; every read names its
/// absolute offset, so one database may serve several threads at once. Move-only; owns the file
/// and closes it when destroyed. A moved-from database may only be destroyed or assigned to.
class QUILLMERE_DAT_EXPORT DatDatabase {
  public:
    /// Opens the archive at `path` read-only, decodes the header at offset 320 and loads the
    /// whole directory tree.
    ///
    /// Errors:
    /// - the file cannot be opened, or is a directory: `PathError` with `path` as given;
    ///   anything else that is not a regular file (a FIFO, never waited on; a device; a
    ///   socket): `PathError` whose I/O error says "not a regular file";
    /// - the file ends before offset 400: `BinRead` naming the first header field whose bytes
    ///   are not all there ("While parsing field 'version_minor' in DatHeader" for 399 bytes),
    ///   around the end-of-file error;
    /// - a read of the header fails otherwise (a device error): `BinRead`
    ///   naming the first field whose bytes were not read, around the platform's I/O error;
    /// - any failure while loading the directory (see `read_directory`), unchanged; this is
    ///   where a `block_size` of 4 or less is refused (`Corruption`), at the first chain read.
    ///   An archive whose `root_offset` is 0 has nothing to read and opens whatever its header
    ///   holds; its chain reads fail the same way later.
    [[nodiscard]] static DatResult<DatDatabase> open(const std::filesystem::path& path);
    /// `open`, with `options` (see `OpenOptions`); `open(path, {})` is `open(path)`.
    [[nodiscard]] static DatResult<DatDatabase> open(const std::filesystem::path& path,
                                                     OpenOptions options);

    DatDatabase(DatDatabase&&) noexcept;
    DatDatabase& operator=(DatDatabase&&) noexcept;
    DatDatabase(const DatDatabase&) = delete;
    DatDatabase& operator=(const DatDatabase&) = delete;
    ~DatDatabase();

    /// The decoded header, as read at `open`.
    [[nodiscard]] const DatHeader& header() const noexcept { return header_; }
    /// Every directory entry by file id; iteration order is unspecified.
    [[nodiscard]] const std::unordered_map<std::uint32_t, DatFileEntry>& files() const noexcept {
        return files_;
    }
    /// Every file id of the directory in ascending order: the order to list or copy files in,
    /// which `files()` does not have.
    [[nodiscard]] std::vector<std::uint32_t> sorted_ids() const;

    /// The archive file's length in bytes when it was opened.
    [[nodiscard]] std::uint64_t archive_length() const noexcept;

    /// The bytes of file `id`: its chain read in full, then decompressed when the entry is
    /// flagged compressed (the result's length is not checked against anything).
    /// Errors: `NotFound(id)` when the id is not in the directory; those of `read_file_data`.
    [[nodiscard]] DatResult<std::vector<std::uint8_t>> get_file(std::uint32_t id) const;

    /// `get_file` into `out`, for readers that go through many files: `out`'s previous content
    /// is replaced by the file's bytes and its capacity reused, so a buffer kept across calls
    /// stops allocating once it has grown to the largest file (with a compressed file, to its
    /// stored plus its decompressed size). Errors as for `get_file`; after one, `out` holds
    /// unspecified bytes.
    [[nodiscard]] DatResult<void> get_file(std::uint32_t id, std::vector<std::uint8_t>& out) const;

    /// `get_file`, for readers that hand the bytes on (tools that show, extract or copy files):
    /// a compressed file whose stored bytes do not hold a whole stream (see
    /// `utils::stream_is_whole`: 1 to 3 stored bytes, or tokens that give fewer bytes than the
    /// size word declares) is refused with `DecompressionFailed(id)` instead of returned short.
    [[nodiscard]] DatResult<std::vector<std::uint8_t>> get_file_checked(std::uint32_t id) const;
    /// `get_file_checked` into `out`, reusing its capacity as `get_file(id, out)` does.
    [[nodiscard]] DatResult<void> get_file_checked(std::uint32_t id,
                                                   std::vector<std::uint8_t>& out) const;

    /// The bytes file `id` is stored as, without decompressing them: for a file flagged
    /// compressed, its compressed stream (what `ArchiveWriter::add_stored` takes back).
    /// Errors: `NotFound(id)`; those of `read_file_data`, a failed read naming the file in its
    /// `read_place`.
    [[nodiscard]] DatResult<std::vector<std::uint8_t>> read_stored(std::uint32_t id) const;

    /// The `kPreambleSize` bytes before the header, as stored (`open` does not read them).
    /// Errors: `Io` when they cannot be read.
    [[nodiscard]] DatResult<std::array<std::uint8_t, kPreambleSize>> read_preamble() const;

    /// `size` bytes gathered from the block chain whose first block is at `offset`: each block's
    /// link word, then up to `block_size - 4` payload bytes read straight into place; the last
    /// block (link word 0) gives all the bytes still missing, contiguously. The link word of the
    /// block that completes the file is not followed. `size` 0 reads nothing, whatever `offset`.
    ///
    /// Errors:
    /// - a link word or payload past the end of the file: `Io` ("failed to fill whole
    ///   buffer") when that block is reached; other read failures: `Io`;
    /// - `block_size` 4 or less: `Corruption` (such a chain can loop forever without data);
    /// - `size` above the archive's own length: `Corruption`, before anything is allocated,
    ///   since a stored file cannot be longer than the archive that stores it.
    [[nodiscard]] DatResult<std::vector<std::uint8_t>> read_file_data(std::uint32_t offset,
                                                                      std::uint32_t size) const;

  private:
    // Lets the library's own tests open a database whose reads go through stand-ins.
    friend struct detail::DatabaseAccess;
    friend class SequentialReader;

    DatDatabase(DatHeader header, std::unique_ptr<detail::ArchiveFile> file) noexcept;

    /// `open`, with every read of the archive file going through `reads`.
    [[nodiscard]] static DatResult<DatDatabase> open_with(const std::filesystem::path& path,
                                                          const detail::FileReads& reads,
                                                          OpenOptions options = {});

    /// Loads the tree from `header().root_offset` into `files_` (see `read_node`).
    [[nodiscard]] DatResult<void> read_directory(OpenOptions options);
    /// Loads the node at `offset` and its whole subtree into `files_`; 0 is an empty subtree.
    [[nodiscard]] DatResult<void> read_node(std::uint32_t offset, OpenOptions options = {});
    /// `get_file(id, out)`; with `checked`, refusing a compressed file that is not whole.
    [[nodiscard]] DatResult<void> fetch(std::uint32_t id, std::vector<std::uint8_t>& out,
                                        bool checked) const;
    /// `fetch` of `entry`, its chain read through `reader`.
    [[nodiscard]] DatResult<void> fetch_entry(const DatFileEntry& entry,
                                              std::vector<std::uint8_t>& out, bool checked,
                                              detail::ChainReader& reader) const;
    /// Refuses what `read_file_data(offset, size)` refuses before it reads anything.
    [[nodiscard]] DatResult<void> check_file_data(std::uint32_t offset, std::uint32_t size) const;
    /// Fills `out` from the chain at `offset` (the walk of `read_file_data`, no allocation).
    [[nodiscard]] DatResult<void> read_chain_into(std::uint32_t offset,
                                                  std::span<std::uint8_t> out) const;

    DatHeader header_;
    std::unordered_map<std::uint32_t, DatFileEntry> files_;
    std::unique_ptr<detail::ArchiveFile> file_;
};

/// Reads a list of files one after another, each as `DatDatabase::get_file` reads it, through
/// one staging window kept from file to file: where the next files of the list are stored one
/// after another in the archive (as a writer stores files in id order), one read fetches
/// several of them, up to 256 KiB. The read-ahead covers only the bytes their entries say their
/// chains read, and gaps of at most 16 KiB between them, whatever the directory claims. Bytes
/// fetched ahead serve the files after: a file changed on disk in between is read as it was
/// when fetched. For a sweep over many files; give each thread its own reader. The database
/// must outlive the reader.
class QUILLMERE_DAT_EXPORT SequentialReader {
  public:
    /// Reads the files `ids`, cheapest in that order.
    SequentialReader(const DatDatabase& database, std::vector<std::uint32_t> ids);
    SequentialReader(SequentialReader&&) noexcept;
    SequentialReader& operator=(SequentialReader&&) noexcept;
    ~SequentialReader();

    /// Goes on with the files `ids` instead, keeping the window and what it holds: for a reader
    /// handed its files a stretch at a time, the read-ahead never going past the stretch.
    void restart(std::vector<std::uint32_t> ids);

    /// The files of the list.
    [[nodiscard]] std::span<const std::uint32_t> ids() const noexcept;

    /// `database.get_file(ids()[index], out)`. Errors as for that; an `index` past the list is
    /// `Other`.
    [[nodiscard]] DatResult<void> get_file(std::size_t index, std::vector<std::uint8_t>& out);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace quillmere::dat
