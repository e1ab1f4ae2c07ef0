// The entry count a physics script is written with, refused when it does not fit in 32 bits.
#pragma once

#include "detail/test_seam.hpp"
#include "quillmere/common/decode_error.hpp"

#include <cstdint>

namespace quillmere::dat::file_type::physics_script::detail {

/// `count` as the stored 32-bit entry count, or `Custom` "PhysicsScript 0x{id:08X} has {count}
/// entries, more than a 32-bit count can hold" at `pos` when it does not fit.
[[nodiscard]] QUILLMERE_DAT_TEST_SEAM common::DecodeResult<std::uint32_t>
entry_count(std::uint32_t id, std::uint64_t count, std::uint64_t pos);

} // namespace quillmere::dat::file_type::physics_script::detail
