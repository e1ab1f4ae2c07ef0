// Little-endian float records shared by the portal file types.
#include "quillmere/common/math.hpp"

#include "quillmere/common/record.hpp"
#include "quillmere/common/try.hpp"

namespace quillmere::common {

DecodeResult<Vector3> Vector3::read_le(ByteCursor& cursor) {
    RecordReader r(cursor, "Vector3");
    QM_TRY(float x, r.field("x", &ByteCursor::read_f32));
    QM_TRY(float y, r.field("y", &ByteCursor::read_f32));
    QM_TRY(float z, r.field("z", &ByteCursor::read_f32));
    return Vector3{x, y, z};
}

void Vector3::write_le(ByteWriter& writer) const {
    writer.write_f32(x);
    writer.write_f32(y);
    writer.write_f32(z);
}

DecodeResult<Quaternion> Quaternion::read_le(ByteCursor& cursor) {
    RecordReader r(cursor, "Quaternion");
    QM_TRY(float w, r.field("w", &ByteCursor::read_f32));
    QM_TRY(float x, r.field("x", &ByteCursor::read_f32));
    QM_TRY(float y, r.field("y", &ByteCursor::read_f32));
    QM_TRY(float z, r.field("z", &ByteCursor::read_f32));
    return Quaternion{w, x, y, z};
}

void Quaternion::write_le(ByteWriter& writer) const {
    writer.write_f32(w);
    writer.write_f32(x);
    writer.write_f32(y);
    writer.write_f32(z);
}

DecodeResult<Sphere> Sphere::read_le(ByteCursor& cursor) {
    RecordReader r(cursor, "Sphere");
    QM_TRY(Vector3 center, r.field("center", Vector3::read_le));
    QM_TRY(float radius, r.field("radius", &ByteCursor::read_f32));
    return Sphere{center, radius};
}

void Sphere::write_le(ByteWriter& writer) const {
    center.write_le(writer);
    writer.write_f32(radius);
}

} // namespace quillmere::common
