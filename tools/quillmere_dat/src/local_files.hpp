// The local files the writing commands read and write besides archives: whole files in and
// out, a directory made ready under a temporary name, and the signals that end a run.
#pragma once

#include "command.hpp"

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace quillmere::inspect {

/// The system's text for an errno value ("No space left on device").
[[nodiscard]] std::string system_reason(int code);

/// Reads the whole regular file at `path` into `contents` (replaced, its capacity reused).
/// Errors: "cannot read {path}: {reason}", the reason the system's ("No such file or
/// directory", "Is a directory"), "not a regular file" (a FIFO or a device, never waited on),
/// or "{n} bytes, more than an archive file can hold" for a file of 4 GiB or more, which is
/// refused before anything is read.
[[nodiscard]] Gathered<void> read_local_file(const std::filesystem::path& path,
                                             std::vector<std::uint8_t>& contents);

/// As `read_local_file`, for the file `name` relative to the open directory `directory` (or
/// AT_FDCWD), its bytes placed in `buffer` from offset `at` on; `shown` is the path errors
/// give. `buffer` grows when it is too short (and never shrinks, so a reused buffer is cleared
/// and allocated only while it grows). Gives the file's length.
[[nodiscard]] Gathered<std::size_t> read_local_file_into(int directory, const char* name,
                                                         const std::string& shown,
                                                         std::vector<std::uint8_t>& buffer,
                                                         std::size_t at);

/// Creates the file `path`, which must not exist yet, holding `contents`.
/// Errors: "cannot write {shown}: {reason}" (say, "File too large" past a file-size limit);
/// the file may then be left, partly written.
[[nodiscard]] Gathered<void> write_new_file(const std::filesystem::path& path,
                                            std::span<const std::uint8_t> contents,
                                            const std::string& shown);

/// Makes a write past the process's file-size limit (RLIMIT_FSIZE) fail with "File too large"
/// like any other failed write, instead of killing the process with SIGXFSZ before it could
/// remove its temporary files.
void ignore_file_size_signal() noexcept;

/// While alive, SIGINT and SIGTERM, where their disposition is the default, only record that
/// they came; a command polls `pending` between files, removes what it wrote, then ends the
/// process the way the signal would have (`end_process`). Dispositions are restored on
/// destruction. One at a time per process.
class TerminationRequests {
  public:
    TerminationRequests() noexcept;
    ~TerminationRequests();
    TerminationRequests(const TerminationRequests&) = delete;
    TerminationRequests& operator=(const TerminationRequests&) = delete;

    /// The signal that came, or 0.
    [[nodiscard]] int pending() const noexcept;
    /// Ends the process by signal `signal_number` with its default action.
    [[noreturn]] static void end_process(int signal_number) noexcept;

  private:
    struct sigaction previous_[2]{};
    bool installed_[2] = {false, false};
};

} // namespace quillmere::inspect
