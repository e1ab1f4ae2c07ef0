// Display names of the 27 hook types for the checker's report and the inspection tool: the
// library's table (quillmere/dat/hooks/hook_type.hpp), in the shape the tools index by number.
#pragma once

#include "quillmere/dat/hooks/hook_type.hpp"

#include <array>
#include <cstdint>
#include <string_view>

namespace quillmere::tools {

/// Display names of the hook types, indexed by type number.
inline constexpr std::array<std::string_view, dat::hooks::kHookTypeCount> kHookTypeNames = [] {
    std::array<std::string_view, dat::hooks::kHookTypeCount> names{};
    for (std::uint32_t type = 0; type < names.size(); ++type) {
        names[type] = dat::hooks::kHookTypes[type].name;
    }
    return names;
}();

/// The display name of `hook_type`, or an empty view for a number above 26.
[[nodiscard]] constexpr std::string_view hook_type_name(std::uint32_t hook_type) noexcept {
    return dat::hooks::hook_type_name(hook_type);
}

} // namespace quillmere::tools
