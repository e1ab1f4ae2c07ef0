// Which archive the checker's cases use.
#include "retail_path.hpp"

#include "quillmere/dat/portal_path.hpp"

namespace quillmere::parity {

namespace detail {

std::optional<std::filesystem::path>
resolve_retail_path(std::optional<std::filesystem::path> library_answer,
                    const std::filesystem::path& fallback) {
    if (library_answer) {
        return library_answer;
    }
    if (dat::utils::path_exists(fallback)) {
        return fallback;
    }
    return std::nullopt;
}

} // namespace detail

std::optional<std::filesystem::path> retail_portal_dat_path() {
    return detail::resolve_retail_path(dat::utils::get_portal_dat_path(), kFallbackPortalDat);
}

} // namespace quillmere::parity
