// Finding a portal archive on the local disk.
#pragma once

#include "quillmere/dat/export.hpp"

#include <filesystem>
#include <optional>

namespace quillmere::dat::utils {

/// The environment variable that names a portal archive.
inline constexpr const char* kPortalDatEnv = "QUILLMERE_PORTAL_DAT";

/// Finds a portal archive: the value of QUILLMERE_PORTAL_DAT, unchanged, when it is set, valid
/// UTF-8 and names an existing entry (directories count); else "{library source dir}/../../
/// dats/portal.dat" (joined, not normalised) when it exists; else nothing. Existence follows
/// symbolic links, and an entry whose existence cannot be determined counts as absent.
/// Never fails, never prints, never opens the file.
[[nodiscard]] QUILLMERE_DAT_EXPORT std::optional<std::filesystem::path> get_portal_dat_path();

/// The in-tree candidate, "{library source dir}/../../dats/portal.dat", whether or not it exists.
[[nodiscard]] QUILLMERE_DAT_EXPORT std::filesystem::path in_tree_portal_dat_path();

/// True when `path` names an existing entry (symbolic links followed); false also when
/// existence cannot be determined.
[[nodiscard]] QUILLMERE_DAT_EXPORT bool path_exists(const std::filesystem::path& path) noexcept;

} // namespace quillmere::dat::utils
