// The packed identifier of ReplaceObject payloads: one or two 16-bit words.
#pragma once

#include "detail/test_seam.hpp"
#include "quillmere/common/byte_cursor.hpp"

#include <cstdint>

namespace quillmere::dat::file_type::setup_model::detail {

/// A packed identifier: a u16 word, and a second one when bit 15 of the first is set, combined
/// as described at `AnimPartChange`. A short read fails with the plain `Io` error and leaves the
/// cursor where the identifier started.
[[nodiscard]] QUILLMERE_DAT_TEST_SEAM common::DecodeResult<std::uint32_t>
read_packed_id(common::ByteCursor& cursor);

} // namespace quillmere::dat::file_type::setup_model::detail
