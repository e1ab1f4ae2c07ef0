// An output file that appears under its final name only when complete: written under a
// temporary name beside it, then renamed over it; removed on failure, destruction or signal.
#pragma once

#include "quillmere/dat/dat_error.hpp"

#include <cstdint>
#include <filesystem>
#include <span>

namespace quillmere::dat::detail {

/// The temporary file behind one output. Its absolute path is kept in the process-wide table
/// that `remove_pending_temporaries` empties, from just after it is created until it has been
/// renamed or removed. Move-only; destroying an uncommitted output removes its file.
class AtomicOutput {
  public:
    /// Creates `.{name}.tmp-XXXXXX` (six random characters, a fresh name each time) in the
    /// directory of `output_path`, write-only, close-on-exec, with the permissions a new file
    /// gets (0666 less the umask). Installs the signal handlers where SIGINT or SIGTERM still
    /// has its default disposition (see `archive_writer.hpp`).
    ///
    /// Errors: `PathError` with `output_path` when the output is a directory or the temporary
    /// file cannot be created (missing directory, no permission, a name too long);
    /// `Other` when the table of pending temporary files is full.
    [[nodiscard]] static DatResult<AtomicOutput> create(const std::filesystem::path& output_path);

    AtomicOutput(AtomicOutput&& other) noexcept;
    AtomicOutput& operator=(AtomicOutput&& other) noexcept;
    AtomicOutput(const AtomicOutput&) = delete;
    AtomicOutput& operator=(const AtomicOutput&) = delete;
    ~AtomicOutput();

    /// Writes all of `bytes` at absolute `offset`, continuing partial writes and retrying
    /// interrupted ones. Errors: `Io` with the platform's message ("No space left on device",
    /// "File too large"); the file is then in an unknown state and should be discarded.
    [[nodiscard]] DatResult<void> write_at(std::span<const std::uint8_t> bytes,
                                           std::uint64_t offset);

    /// Flushes the file to the disk (`fsync`), closes it, renames it over the output and
    /// flushes the directory, so the output is either its old self or the whole new file.
    /// Errors: `Io` from any of these steps; before the rename the temporary file is removed
    /// and the output keeps its old content; a failure to flush the directory is reported
    /// although the new output is in place.
    [[nodiscard]] DatResult<void> commit();

    /// Closes and removes the temporary file; the output is untouched. Nothing happens once
    /// the output is committed or discarded.
    void discard() noexcept;

    /// The temporary file's absolute path; empty once committed or discarded.
    [[nodiscard]] const std::filesystem::path& temporary_path() const noexcept {
        return temporary_;
    }

  private:
    AtomicOutput(int fd, int slot, std::filesystem::path output,
                 std::filesystem::path temporary) noexcept;

    int fd_ = -1;
    int slot_ = -1;
    std::filesystem::path output_;
    std::filesystem::path temporary_;
};

} // namespace quillmere::dat::detail
