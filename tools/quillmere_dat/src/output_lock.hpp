// The lock a writing command holds on its output for the whole run, so that two processes
// never write the same archive or tree at once, and the cleaning of what killed runs left.
#pragma once

#include "command.hpp"

#include <filesystem>
#include <string>

namespace quillmere::dat_tool {

/// An exclusive `flock` on `.{name}.lock` beside an output (or on an existing directory
/// itself), held from before the command reads its input until its output is in place.
///
/// A second writer of the same output fails at once ("{OUT} is being written by another
/// process") rather than waiting: it could only have written a copy of an input that the
/// first one is replacing. The kernel releases a `flock` when its holder dies, so a killed run
/// never leaves the output locked. The holder removes the lock file when it is done (after
/// unlinking, it still holds the lock until it closes the file), and a process that locks a
/// lock file checks that the name still leads to the file it locked, starting again if not,
/// so two holders can never meet on two different files.
///
/// Holding the lock, the writer removes the temporaries (`.{name}.tmp-XXXXXX`, files or
/// trees) that earlier writers of the same output left when they were killed: no other
/// writer of that output can be running.
class OutputLock {
  public:
    /// Locks the output `output` (an archive file or a tree that does not exist yet) by its
    /// lock file and removes the temporaries of killed runs. `shown` is the output as given.
    /// Errors: "{shown} is being written by another process"; "cannot write in directory
    /// {parent}: {reason}" when the lock file cannot be created there.
    [[nodiscard]] static Gathered<OutputLock> beside(const std::filesystem::path& output,
                                                     const std::string& shown);

    /// Locks the existing directory `directory` itself (no lock file, so its parent need not
    /// be writable: `.`, a mount point) and removes the temporaries `{temporary_prefix}XXXXXX`
    /// that killed runs left in it. `shown` is the directory as given.
    /// Errors: "{shown} is being written by another process"; "cannot use {shown}: {reason}".
    [[nodiscard]] static Gathered<OutputLock> on_directory(const std::filesystem::path& directory,
                                                           const std::string& temporary_prefix,
                                                           const std::string& shown);

    OutputLock(OutputLock&& other) noexcept;
    OutputLock& operator=(OutputLock&&) = delete;
    OutputLock(const OutputLock&) = delete;
    OutputLock& operator=(const OutputLock&) = delete;
    /// Removes the lock file, if any, then releases the lock.
    ~OutputLock();

  private:
    OutputLock(int fd, std::filesystem::path lock_file) noexcept;

    int fd_ = -1;
    std::filesystem::path lock_file_;
};

/// Removes the lock file of the lock this process holds, if any, so that a run ended by a
/// signal leaves none. Async-signal-safe; the lock itself goes when the process ends.
void remove_held_lock_file() noexcept;

/// True for a name `{prefix}XXXXXX`: `prefix` and then six letters or digits, the form of
/// the temporaries the writers make.
[[nodiscard]] bool is_temporary_name(std::string_view name, std::string_view prefix) noexcept;

} // namespace quillmere::dat_tool
