// The local files the writing commands read and write besides archives: whole files in and
// out, a directory made ready under a temporary name, and the signals that end a run.
#pragma once

#include "command.hpp"

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillmere::dat_tool {

/// The system's text for an errno value ("No space left on device").
[[nodiscard]] std::string system_reason(int code);

/// The directory a path given on the command line lies in, as the user would name it: its
/// parent as given ("out/a.dat" gives "out"), or "." for a bare name.
[[nodiscard]] std::string parent_shown(const std::string& path);

/// A local file opened for reading and checked: a regular file (a FIFO or a device is never
/// waited on) of at most 4 GiB - 1 bytes, the most an archive file can hold.
class LocalFile {
  public:
    /// Opens `name` relative to the open directory `directory` (or AT_FDCWD); `shown` is the
    /// path errors give. With `follow_links` false, a symbolic link is refused rather than
    /// followed (the members of a tree).
    ///
    /// Errors, each "cannot read {shown}: {why}" with why the system's reason ("No such file
    /// or directory"), "not a regular file" (a directory too), "a symbolic link", or "{n}
    /// bytes, more than an archive file can hold", this last found by `fstat` before reading.
    [[nodiscard]] static Gathered<LocalFile> open(int directory, const char* name,
                                                  const std::string& shown, bool follow_links);

    LocalFile(LocalFile&& other) noexcept;
    LocalFile& operator=(LocalFile&& other) noexcept;
    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;
    ~LocalFile();

    [[nodiscard]] int fd() const noexcept { return fd_; }
    /// The length `fstat` gave when the file was opened.
    [[nodiscard]] std::size_t size() const noexcept { return size_; }
    [[nodiscard]] const std::string& shown() const noexcept { return shown_; }

    /// Reads the whole file into `buffer` from offset `at` on, growing it as needed (never
    /// shrinking it, so a reused buffer is allocated only while it grows). Errors: "cannot
    /// read {shown}: " the system's reason, "the file shrank while it was read", or "not
    /// enough memory for its {n} bytes".
    [[nodiscard]] Gathered<void> read_into(std::vector<std::uint8_t>& buffer, std::size_t at);

  private:
    LocalFile(int fd, std::size_t size, std::string shown) noexcept;

    int fd_ = -1;
    std::size_t size_ = 0;
    std::string shown_;
};

/// Reads the whole regular file at `path` into `contents` (replaced), following a symbolic
/// link. Errors as `LocalFile`'s.
[[nodiscard]] Gathered<void> read_local_file(const std::filesystem::path& path,
                                             std::vector<std::uint8_t>& contents);

/// The bytes of `text`, as the functions below take them.
[[nodiscard]] inline std::span<const std::uint8_t> text_bytes(std::string_view text) noexcept {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

/// Creates the file `path`, which must not exist yet, holding `contents`.
/// Errors: "cannot write {shown}: {reason}" (say, "File too large" past a file-size limit);
/// the file may then be left, partly written.
[[nodiscard]] Gathered<void> write_new_file(const std::filesystem::path& path,
                                            std::span<const std::uint8_t> contents,
                                            const std::string& shown);

/// Writes `contents` to `path` whole or not at all: into a new file beside it, flushed to the
/// disk, then renamed over `path` (an existing file is replaced, never left half written).
/// Errors: "cannot write {shown}: {reason}"; the new file is then removed.
[[nodiscard]] Gathered<void> replace_file(const std::filesystem::path& path,
                                          std::span<const std::uint8_t> contents,
                                          const std::string& shown);

/// Makes a write past the process's file-size limit (RLIMIT_FSIZE) fail with "File too large"
/// like any other failed write, instead of killing the process with SIGXFSZ before it could
/// remove its temporary files.
void ignore_file_size_signal() noexcept;

/// Where SIGINT, SIGTERM, SIGHUP or SIGQUIT has its default disposition, makes it first remove
/// the lock file held (`remove_held_lock_file`) and the archive writers' temporary files
/// (`dat::remove_pending_temporaries`), then end the process as it would have. For the
/// commands that write an archive; asked for before the writer is created, so the library
/// installs no handler of its own.
void clean_up_on_termination() noexcept;

/// While alive, SIGINT, SIGTERM, SIGHUP and SIGQUIT, where their disposition is the default, only
/// record that they came; a command polls `pending` between files, removes what it wrote, then ends
/// the process the way the signal would have (`end_process`). Dispositions are restored on
/// destruction. One at a time per process.
class TerminationRequests {
  public:
    /// How many signals are handled.
    static constexpr int kSignals = 4;

    TerminationRequests() noexcept;
    ~TerminationRequests();
    TerminationRequests(const TerminationRequests&) = delete;
    TerminationRequests& operator=(const TerminationRequests&) = delete;

    /// The signal that came, or 0.
    [[nodiscard]] int pending() const noexcept;
    /// Ends the process by signal `signal_number` with its default action.
    [[noreturn]] static void end_process(int signal_number) noexcept;

  private:
    struct sigaction previous_[kSignals] {};
    bool installed_[kSignals] = {};
};

} // namespace quillmere::dat_tool
