// Which payload record each hook type has, from the hook type table, and the packed identifier of
// ReplaceObject payloads.
#pragma once

#include "detail/test_seam.hpp"
#include "quillmere/common/byte_cursor.hpp"
#include "quillmere/dat/file_type/hook_payload.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <variant>

namespace quillmere::dat::file_type::setup_model::detail {

template <std::size_t... Alternatives>
constexpr std::array<std::size_t, kHookTypeCount>
alternatives_by_type(std::index_sequence<Alternatives...> /*alternatives*/) {
    constexpr std::array<std::string_view, sizeof...(Alternatives)> records{
        std::variant_alternative_t<Alternatives, HookPayload>::kRecord...};
    std::array<std::size_t, kHookTypeCount> found{};
    for (std::size_t type = 0; type < kHookTypeCount; ++type) {
        found[type] = std::variant_npos;
        for (std::size_t i = 0; i < records.size(); ++i) {
            if (records[i] == hooks::kHookTypes[type].payload_record) {
                found[type] = i;
            }
        }
    }
    return found;
}

/// The `HookPayload` alternative of each hook type: the one whose `kRecord` the type's table row
/// names.
inline constexpr std::array<std::size_t, kHookTypeCount> kAlternativeOfType =
    alternatives_by_type(std::make_index_sequence<std::variant_size_v<HookPayload>>{});

/// The alternative of type `hook_type` (below kHookTypeCount).
[[nodiscard]] constexpr std::size_t payload_alternative(std::uint32_t hook_type) noexcept {
    return kAlternativeOfType[hook_type];
}

/// The lowest hook type whose payload is alternative `alternative` of `HookPayload`.
[[nodiscard]] constexpr std::uint32_t first_type_of_alternative(std::size_t alternative) noexcept {
    std::uint32_t type = 0;
    while (type + 1 < kHookTypeCount && kAlternativeOfType[type] != alternative) {
        ++type;
    }
    return type;
}

// Every type names a record of the variant, and every record is some type's payload.
static_assert([] {
    for (std::size_t alternative = 0; alternative < std::variant_size_v<HookPayload>;
         ++alternative) {
        if (kAlternativeOfType[first_type_of_alternative(alternative)] != alternative) {
            return false;
        }
    }
    for (const std::size_t alternative : kAlternativeOfType) {
        if (alternative == std::variant_npos) {
            return false;
        }
    }
    return true;
}());

/// A packed identifier: a u16 word, and a second one when bit 15 of the first is set, combined
/// as described at `AnimPartChange`. A short read fails with the plain `Io` error and leaves the
/// cursor where the identifier started.
[[nodiscard]] QUILLMERE_DAT_TEST_SEAM common::DecodeResult<std::uint32_t>
read_packed_id(common::ByteCursor& cursor);

} // namespace quillmere::dat::file_type::setup_model::detail
