// The two ways of decoding a frame's part placements: in bulk, and field by field as the
// reference the bulk path must match.
#pragma once

#include "detail/test_seam.hpp"
#include "quillmere/common/byte_cursor.hpp"
#include "quillmere/dat/graphics.hpp"

#include <cstdint>
#include <vector>

namespace quillmere::dat::file_type::setup_model::detail {

/// `count` consecutive frames. When all of them fit in the remaining bytes they are decoded in
/// one pass over the bytes; otherwise they are read one by one with `Frame::read_le`, which fails
/// on the first frame that does not fit. Results, errors and cursor positions are the same as
/// those of `read_frames_by_field`.
[[nodiscard]] QUILLMERE_DAT_TEST_SEAM common::DecodeResult<std::vector<graphics::Frame>>
read_frames(common::ByteCursor& cursor, std::uint32_t count);

/// `count` consecutive frames, each through `Frame::read_le`: the reference path.
[[nodiscard]] QUILLMERE_DAT_TEST_SEAM common::DecodeResult<std::vector<graphics::Frame>>
read_frames_by_field(common::ByteCursor& cursor, std::uint32_t count);

} // namespace quillmere::dat::file_type::setup_model::detail
