// The process-wide table of the temporary files that archive writers have not yet put in place
// or removed, which `remove_pending_temporaries` empties from a signal handler.
#pragma once

#include <string>

namespace quillmere::dat::detail {

/// Most temporary files pending at once.
inline constexpr int kPendingSlots = 32;

/// Notes `path` (absolute, shorter than PATH_MAX) as pending; its slot, or -1 when all are taken.
[[nodiscard]] int register_pending(const std::string& path) noexcept;

/// Forgets the file of `slot` (nothing for -1).
void unregister_pending(int slot) noexcept;

} // namespace quillmere::dat::detail
