// Finding a portal archive on the local disk.
#include "quillmere/dat/portal_path.hpp"

#include <cstdlib>
#include <string_view>
#include <system_error>

namespace quillmere::dat::utils {
namespace {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool is_valid_utf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        std::uint32_t code = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2;
            code = lead & 0x1Fu;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            code = lead & 0x0Fu;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            code = lead & 0x07u;
        } else {
            return false;
        }
        if (text.size() - i < length) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (next & 0x3Fu);
        }
        static constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

} // namespace

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
    if (env_value != nullptr && is_valid_utf8(env_value)) {
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
