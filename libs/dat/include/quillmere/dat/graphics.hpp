// Placement records of the portal file types.
#pragma once

#include "quillmere/common/byte_cursor.hpp"
#include "quillmere/common/byte_writer.hpp"
#include "quillmere/common/math.hpp"
#include "quillmere/dat/export.hpp"

namespace quillmere::dat::graphics {

/// A placement: position, then rotation.
///
/// | offset | width | type       | field       |
/// |--------|-------|------------|-------------|
/// | 0      | 12    | Vector3    | origin      |
/// | 12     | 16    | Quaternion | orientation |
struct QUILLMERE_DAT_EXPORT Frame {
    common::Vector3 origin;
    common::Quaternion orientation;

    /// Size of a frame on the wire.
    static constexpr std::uint64_t kWireSize = 28;

    /// Reads 28 bytes. On failure the error names the inner field and then 'origin' or
    /// 'orientation' in Frame, and the cursor is back at the frame's first byte.
    [[nodiscard]] static common::DecodeResult<Frame> read_le(common::ByteCursor& cursor);
    /// Writes the 28 bytes, origin then orientation; cannot fail.
    void write_le(common::ByteWriter& writer) const;

    friend bool operator==(const Frame&, const Frame&) = default;
};

} // namespace quillmere::dat::graphics
