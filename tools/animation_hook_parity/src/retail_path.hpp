// Which archive the checker's cases use.
#pragma once

#include <filesystem>
#include <optional>

namespace quillmere::parity {

/// The fixed fallback location of the retail archive.
inline constexpr const char* kFallbackPortalDat = "/home/kestrel/ac_base_dats/client_portal.dat";

/// The library's answer (QUILLMERE_PORTAL_DAT, then the in-tree archive), else the fixed
/// fallback when an entry exists there, else nothing. Never fails, never prints.
[[nodiscard]] std::optional<std::filesystem::path> retail_portal_dat_path();

namespace detail {

/// The same decision with the library's answer and the fallback given.
[[nodiscard]] std::optional<std::filesystem::path>
resolve_retail_path(std::optional<std::filesystem::path> library_answer,
                    const std::filesystem::path& fallback);

} // namespace detail
} // namespace quillmere::parity
