// Reservation for counted lists whose count comes from the file: never more room than the bytes
// left could fill, so a hostile count cannot force a large allocation.
#pragma once

#include "quillmere/common/byte_cursor.hpp"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>

namespace quillmere::dat::file_type::detail {

/// The number of elements worth reserving for a stored `count` when `remaining` bytes are left
/// and every element takes at least `min_element_size` bytes: `count`, capped at what the bytes
/// could hold. Reading the elements still follows `count`; a short file then fails with the
/// short-read error of the first element that does not fit.
[[nodiscard]] constexpr std::uint64_t capped_count(std::uint64_t count, std::uint64_t remaining,
                                                   std::uint64_t min_element_size) noexcept {
    assert(min_element_size > 0 && "every element takes at least one byte");
    return std::min(count, remaining / min_element_size);
}

/// Reserves room in `container` (a vector or an unordered map) for `count` elements, capped at
/// what the cursor's remaining bytes could hold.
template <class Container>
void capped_reserve(Container& container, std::uint64_t count, const common::ByteCursor& cursor,
                    std::uint64_t min_element_size) {
    container.reserve(
        static_cast<std::size_t>(capped_count(count, cursor.remaining(), min_element_size)));
}

} // namespace quillmere::dat::file_type::detail
