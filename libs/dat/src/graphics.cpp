// Placement records of the portal file types.
#include "quillmere/dat/graphics.hpp"

#include "quillmere/common/record.hpp"
#include "quillmere/common/try.hpp"

namespace quillmere::dat::graphics {

using common::ByteCursor;
using common::DecodeResult;

DecodeResult<Frame> Frame::read_le(ByteCursor& cursor) {
    common::RecordReader r(cursor, "Frame");
    QM_TRY(auto origin, r.field("origin", common::Vector3::read_le));
    QM_TRY(auto orientation, r.field("orientation", common::Quaternion::read_le));
    return Frame{origin, orientation};
}

void Frame::write_le(common::ByteWriter& writer) const {
    origin.write_le(writer);
    orientation.write_le(writer);
}

} // namespace quillmere::dat::graphics
