// The placements of animation frames: checked and skipped as stored bytes, decoded in bulk, and
// read field by field as the reference both must match.
#pragma once

#include "detail/test_seam.hpp"
#include "quillmere/common/byte_cursor.hpp"
#include "quillmere/dat/graphics.hpp"

#include <cstdint>
#include <span>
#include <vector>

namespace quillmere::dat::file_type::setup_model::detail {

/// The bytes of `count` consecutive frames, the cursor moved past them. When they do not all fit
/// in the remaining bytes the frames are read one by one with `Frame::read_le` up to the one
/// that fails, whose error (with its field contexts) is returned, the cursor left at that
/// frame's first byte: so errors and positions are those of `read_frames_by_field`.
[[nodiscard]] QUILLMERE_DAT_TEST_SEAM common::DecodeResult<std::span<const std::uint8_t>>
placements(common::ByteCursor& cursor, std::uint32_t count);

/// The frames stored in `bytes`, whose size is a multiple of the frame size; bit for bit as
/// `Frame::read_le` gives them.
[[nodiscard]] QUILLMERE_DAT_TEST_SEAM std::vector<graphics::Frame>
decode_frames(std::span<const std::uint8_t> bytes);

/// `count` consecutive frames: `placements`, then `decode_frames`. Results, errors and cursor
/// positions are the same as those of `read_frames_by_field`.
[[nodiscard]] QUILLMERE_DAT_TEST_SEAM common::DecodeResult<std::vector<graphics::Frame>>
read_frames(common::ByteCursor& cursor, std::uint32_t count);

/// `count` consecutive frames, each through `Frame::read_le`: the reference path.
[[nodiscard]] QUILLMERE_DAT_TEST_SEAM common::DecodeResult<std::vector<graphics::Frame>>
read_frames_by_field(common::ByteCursor& cursor, std::uint32_t count);

} // namespace quillmere::dat::file_type::setup_model::detail
