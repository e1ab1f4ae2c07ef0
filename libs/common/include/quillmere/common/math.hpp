// Little-endian float records shared by the portal file types: Vector3, Quaternion, Sphere.
#pragma once

#include "quillmere/common/byte_cursor.hpp"
#include "quillmere/common/byte_writer.hpp"
#include "quillmere/common/export.hpp"

namespace quillmere::common {

/// Three f32 values. Floats are kept bit for bit (NaN payloads, negative zero).
///
/// | offset | width | type | field |
/// |--------|-------|------|-------|
/// | 0      | 4     | f32  | x     |
/// | 4      | 4     | f32  | y     |
/// | 8      | 4     | f32  | z     |
struct QUILLMERE_COMMON_EXPORT Vector3 {
    float x = 0;
    float y = 0;
    float z = 0;

    /// Reads 12 bytes. On failure the error carries "While parsing field '{x|y|z}' in Vector3"
    /// and the cursor is back at the record's first byte.
    [[nodiscard]] static DecodeResult<Vector3> read_le(ByteCursor& cursor);
    /// Writes the 12 bytes in the same order; cannot fail.
    void write_le(ByteWriter& writer) const;

    friend bool operator==(const Vector3&, const Vector3&) = default;
};

/// A rotation; the scalar part comes first on the wire.
///
/// | offset | width | type | field |
/// |--------|-------|------|-------|
/// | 0      | 4     | f32  | w     |
/// | 4      | 4     | f32  | x     |
/// | 8      | 4     | f32  | y     |
/// | 12     | 4     | f32  | z     |
struct QUILLMERE_COMMON_EXPORT Quaternion {
    float w = 0;
    float x = 0;
    float y = 0;
    float z = 0;

    /// Reads 16 bytes, w first; errors as for Vector3, naming the Quaternion field.
    [[nodiscard]] static DecodeResult<Quaternion> read_le(ByteCursor& cursor);
    /// Writes the 16 bytes, w first; cannot fail.
    void write_le(ByteWriter& writer) const;

    friend bool operator==(const Quaternion&, const Quaternion&) = default;
};

/// | offset | width | type    | field  |
/// |--------|-------|---------|--------|
/// | 0      | 12    | Vector3 | center |
/// | 12     | 4     | f32     | radius |
struct QUILLMERE_COMMON_EXPORT Sphere {
    Vector3 center;
    float radius = 0;

    /// Reads 16 bytes; errors name 'center' or 'radius' in Sphere (inside Vector3's own entry).
    [[nodiscard]] static DecodeResult<Sphere> read_le(ByteCursor& cursor);
    /// Writes the 16 bytes in the same order; cannot fail.
    void write_le(ByteWriter& writer) const;

    friend bool operator==(const Sphere&, const Sphere&) = default;
};

} // namespace quillmere::common
