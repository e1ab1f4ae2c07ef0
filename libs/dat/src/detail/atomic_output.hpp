// An output file that appears under its final name only when complete: written under a
// temporary name beside it, then renamed over it; removed on failure, destruction or signal.
#pragma once

#include "detail/test_seam.hpp"
#include "quillmere/dat/dat_error.hpp"

#include <cstdint>
#include <filesystem>
#include <span>
#include <sys/types.h>

namespace quillmere::dat::detail {

/// The system calls an output makes, as a table, so that tests can record their order and
/// make any of them fail. Each behaves as the call of its name (`exchange` is `renameat2` with
/// RENAME_EXCHANGE): a result below 0 with `errno` set is a failure.
struct FileOperations {
    int (*open)(const char* path, int flags, mode_t mode);
    ssize_t (*pwrite)(int fd, const void* bytes, std::size_t count, off_t offset);
    int (*fsync)(int fd);
    int (*close)(int fd);
    int (*rename)(const char* from, const char* to);
    int (*exchange)(const char* from, const char* to);
    int (*unlink)(const char* path);
};

/// The real system calls.
[[nodiscard]] QUILLMERE_DAT_TEST_SEAM const FileOperations& system_file_operations() noexcept;

/// Makes every output created from now on use `operations` (a table that outlives them), or the
/// real system calls again when given null. For tests, which run one output at a time.
QUILLMERE_DAT_TEST_SEAM void use_file_operations(const FileOperations* operations) noexcept;

/// The temporary file behind one output. Its absolute path is kept in the process-wide table
/// that `remove_pending_temporaries` empties, from just after it is created until it has been
/// renamed or removed. Move-only; destroying an uncommitted output removes its file.
class AtomicOutput {
  public:
    /// Creates `.{name}.tmp-XXXXXX` (six random characters, a fresh name each time) in the
    /// directory of `output_path`, write-only, close-on-exec, with the permissions a new file
    /// gets (0666 less the umask), and notes it in the table of pending temporary files that
    /// `remove_pending_temporaries` empties (termination_cleanup.hpp). Installs no signal handler.
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

    /// Flushes the file to the disk (`fsync`), closes it, puts it in place of the output and
    /// flushes the directory, so the output is either its old self or the whole new file. An
    /// existing output is exchanged with the temporary file (`renameat2` RENAME_EXCHANGE) and
    /// its old content removed only once the directory is flushed; where the file system
    /// cannot exchange, and for a new output, the temporary file is renamed.
    /// Errors: `Io` from any of these steps. The temporary file is then gone and the output
    /// keeps its old content (a new output is removed again), except where a rename that could
    /// not be an exchange replaced an old output: a failure to flush the directory after it is
    /// reported with the new output in place.
    [[nodiscard]] DatResult<void> commit();

    /// Closes and removes the temporary file; the output is untouched. Nothing happens once
    /// the output is committed or discarded.
    void discard() noexcept;

    /// The temporary file's absolute path; empty once committed or discarded.
    [[nodiscard]] const std::filesystem::path& temporary_path() const noexcept {
        return temporary_;
    }

  private:
    AtomicOutput(const FileOperations& ops, int fd, int slot, std::filesystem::path output,
                 std::filesystem::path temporary) noexcept;

    // Puts the closed temporary file in place; true when the output existed and was exchanged.
    [[nodiscard]] DatResult<bool> put_in_place();
    // Flushes the output's directory, giving the errno of a failure, or 0.
    [[nodiscard]] int flush_directory() const;

    const FileOperations* ops_ = nullptr;
    int fd_ = -1;
    int slot_ = -1;
    // No output existed when the temporary file was renamed into place.
    bool new_output_ = false;
    std::filesystem::path output_;
    std::filesystem::path temporary_;
};

} // namespace quillmere::dat::detail
