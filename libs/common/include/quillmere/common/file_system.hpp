// The file-system plumbing every writer here shares: system calls retried when interrupted,
// fresh temporary names, flushing files and directories to the disk, and the termination signals
// that a writer cleans up after. POSIX only; nothing here installs a handler unless asked.
#pragma once

#include "quillmere/common/export.hpp"

#include <array>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace quillmere::common {

/// Calls `call` again for as long as it fails with EINTR (returns a value below 0 with `errno`
/// EINTR), and gives what it last returned: `retry_interrupted([&] { return ::open(...); })`.
template <class Call>
[[nodiscard]] auto retry_interrupted(Call call) noexcept(noexcept(call())) {
    auto result = call();
    while (result < 0 && errno == EINTR) {
        result = call();
    }
    return result;
}

/// Six letters and digits after `prefix`, different on every call in every process: a name for
/// a temporary file or directory, to be created exclusively (O_EXCL, mkdir) and tried again
/// under a new name when it exists.
[[nodiscard]] QUILLMERE_COMMON_EXPORT std::string temporary_name(std::string_view prefix);

/// Calls `create` with fresh temporary names (`temporary_name(prefix)`) until it gives a result
/// of 0 or more, or fails other than with EEXIST; at most 100 names. `create` takes the name and
/// gives a descriptor or 0, or a value below 0 with `errno` set. Returns that last result (with
/// `errno` as it left it, EEXIST after 100 names taken) and the name it was given.
template <class Create>
[[nodiscard]] std::pair<int, std::string> create_temporary(std::string_view prefix, Create create) {
    std::string name;
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = temporary_name(prefix);
        const int result = create(name);
        if (result >= 0 || errno != EEXIST) {
            return {result, std::move(name)};
        }
    }
    errno = EEXIST;
    return {-1, std::move(name)};
}

/// `fsync` of `fd`, retried when interrupted: 0, or the errno of the failure.
[[nodiscard]] QUILLMERE_COMMON_EXPORT int sync_file(int fd) noexcept;

/// The system calls `sync_directory` makes, each as the call of its name; tests hand in their
/// own to record or fail them.
struct DirectoryCalls {
    int (*open)(const char* path, int flags, mode_t mode);
    int (*fsync)(int fd);
    int (*close)(int fd);
};

/// The real system calls.
[[nodiscard]] QUILLMERE_COMMON_EXPORT const DirectoryCalls& system_directory_calls() noexcept;

/// Flushes `directory` itself to the disk, so that a rename or a new name in it is durable: 0,
/// or the errno of the failure. A file system that cannot flush a directory (EINVAL) makes its
/// renames as durable as it can; that counts as done.
[[nodiscard]] QUILLMERE_COMMON_EXPORT int
sync_directory(const std::filesystem::path& directory,
               const DirectoryCalls& calls = system_directory_calls()) noexcept;

/// The signals that end a process and leave it time to clean up: Ctrl-C, kill, a closed
/// terminal, Ctrl-\.
inline constexpr std::array<int, 4> kTerminationSignals{SIGINT, SIGTERM, SIGHUP, SIGQUIT};

/// Whether `signal_number` has its default disposition, the only one a clean-up ever replaces.
[[nodiscard]] QUILLMERE_COMMON_EXPORT bool has_default_action(int signal_number) noexcept;

/// Makes `handler` run for each termination signal that has its default disposition (an
/// application's own handler, or an ignored signal, is left alone), with every termination
/// signal blocked while it runs.
QUILLMERE_COMMON_EXPORT void handle_termination_signals(void (*handler)(int)) noexcept;

/// Ends the process by `signal_number` with the signal's default action, as if no handler had
/// run: safe to call from a signal handler (only async-signal-safe calls).
[[noreturn]] QUILLMERE_COMMON_EXPORT void end_by_signal(int signal_number) noexcept;

/// While alive, the termination signals are blocked for the calling thread, so that one cannot
/// land between creating a temporary file and noting it for clean-up.
class QUILLMERE_COMMON_EXPORT TerminationSignalsBlocked {
  public:
    TerminationSignalsBlocked() noexcept;
    ~TerminationSignalsBlocked();
    TerminationSignalsBlocked(const TerminationSignalsBlocked&) = delete;
    TerminationSignalsBlocked& operator=(const TerminationSignalsBlocked&) = delete;

  private:
    sigset_t previous_{};
};

} // namespace quillmere::common
