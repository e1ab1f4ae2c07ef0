// The placements of animation frames: checked and skipped as stored bytes, and decoded in bulk,
// with the errors and positions of reading them field by field with `Frame::read_le`.
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
/// frame's first byte: so errors and positions are those of reading them field by field.
[[nodiscard]] QUILLMERE_DAT_TEST_SEAM common::DecodeResult<std::span<const std::uint8_t>>
placements(common::ByteCursor& cursor, std::uint32_t count);

/// The frames stored in `bytes`, whose size is a multiple of the frame size; bit for bit as
/// `Frame::read_le` gives them.
[[nodiscard]] QUILLMERE_DAT_TEST_SEAM std::vector<graphics::Frame>
decode_frames(std::span<const std::uint8_t> bytes);

} // namespace quillmere::dat::file_type::setup_model::detail
