// The archive search with its inputs passed in, so tests need neither the environment nor the
// library's own source directory.
#pragma once

#include "detail/test_seam.hpp"

#include <filesystem>
#include <optional>

namespace quillmere::dat::utils::detail {

/// The search of `get_portal_dat_path`, given the variable's value (null when unset) and the
/// library's source directory.
[[nodiscard]] QUILLMERE_DAT_TEST_SEAM std::optional<std::filesystem::path>
find_portal_dat(const char* env_value, const std::filesystem::path& source_dir);

} // namespace quillmere::dat::utils::detail
