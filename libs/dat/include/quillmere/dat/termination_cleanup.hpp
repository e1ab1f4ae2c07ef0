// The temporary files of unfinished archive writers, removed when a termination signal ends the
// process: by the library's handler on request, or from an application's own handlers.
#pragma once

#include "quillmere/dat/export.hpp"

namespace quillmere::dat {

/// Removes the temporary file of every unfinished `ArchiveWriter` of the process.
/// Async-signal-safe (it only reads a fixed table and calls `unlink`), for applications that
/// handle these signals themselves. The writers stay registered: one that goes on writing
/// fails when it finishes, since its temporary file is gone.
QUILLMERE_DAT_EXPORT void remove_pending_temporaries() noexcept;

/// For SIGINT, SIGTERM, SIGHUP and SIGQUIT, where the disposition is the default, installs a
/// handler that removes every pending temporary file and then ends the process by the signal as
/// it would have. The library never calls it: a program asks for it, once, before writing.
QUILLMERE_DAT_EXPORT void install_termination_cleanup() noexcept;

} // namespace quillmere::dat
