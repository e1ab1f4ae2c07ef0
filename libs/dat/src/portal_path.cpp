// Finding a portal archive on the local disk.
#include "quillmere/dat/portal_path.hpp"

#include "detail/portal_path.hpp"
#include "quillmere/common/text.hpp"

#include <cstdlib>
#include <string_view>
#include <system_error>

namespace quillmere::dat::utils {

bool path_exists(const std::filesystem::path& path) noexcept {
    std::error_code ec;
    return std::filesystem::exists(path, ec) && !ec;
}

namespace {

std::filesystem::path repo_dats_path(const std::filesystem::path& source_dir) {
    const std::filesystem::path workspace_root = source_dir / "../../";
    return workspace_root / "dats/portal.dat";
}

} // namespace

std::filesystem::path in_tree_portal_dat_path() {
    return repo_dats_path(QUILLMERE_DAT_SOURCE_DIR);
}

namespace detail {

std::optional<std::filesystem::path> find_portal_dat(const char* env_value,
                                                     const std::filesystem::path& source_dir) {
    if (env_value != nullptr && common::is_valid_utf8(env_value)) {
        std::filesystem::path path(env_value);
        if (path_exists(path)) {
            return path;
        }
    }
    auto repo_dats = repo_dats_path(source_dir);
    if (path_exists(repo_dats)) {
        return repo_dats;
    }
    return std::nullopt;
}

} // namespace detail

std::optional<std::filesystem::path> get_portal_dat_path() {
    return detail::find_portal_dat(std::getenv(kPortalDatEnv), QUILLMERE_DAT_SOURCE_DIR);
}

} // namespace quillmere::dat::utils
