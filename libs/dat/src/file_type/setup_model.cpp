// Setup models and their records: locations, placements, collision shapes and lights.
#include "quillmere/dat/file_type/setup_model.hpp"

#include "file_type/capped_reserve.hpp"
#include "quillmere/common/record.hpp"
#include "quillmere/common/text.hpp"
#include "quillmere/common/try.hpp"

#include <string>

namespace quillmere::dat::file_type::setup_model {

using common::ByteCursor;
using common::DecodeError;
using common::DecodeResult;
using common::RecordReader;
using common::Sphere;
using common::Vector3;
using graphics::Frame;

namespace {

constexpr std::uint64_t kKeySize = 4;
constexpr std::uint64_t kSphereSize = 16;
constexpr std::uint64_t kVector3Size = 12;

// A placement entry holds its key, the part frames and a hook count.
constexpr std::uint64_t min_placement_entry_size(std::uint32_t num_parts) {
    return kKeySize + Frame::kWireSize * num_parts + 4;
}

DecodeResult<std::vector<std::uint32_t>> read_u32_list(ByteCursor& cursor, std::uint32_t count) {
    std::vector<std::uint32_t> values;
    file_type::detail::capped_reserve(values, count, cursor, 4);
    for (std::uint32_t i = 0; i < count; ++i) {
        QM_TRY(std::uint32_t value, cursor.read_u32());
        values.push_back(value);
    }
    return values;
}

// `count` records read with `read_record`, each taking at least `min_size` bytes.
template <class T, class Reader>
DecodeResult<std::vector<T>> read_records(ByteCursor& cursor, std::uint32_t count,
                                          std::uint64_t min_size, Reader read_record) {
    std::vector<T> records;
    file_type::detail::capped_reserve(records, count, cursor, min_size);
    for (std::uint32_t i = 0; i < count; ++i) {
        QM_TRY(T record, read_record(cursor));
        records.push_back(std::move(record));
    }
    return records;
}

// `count` entries of an i32 key followed by a record read with `read_value`; a later entry
// replaces an earlier one with the same key.
template <class Map, class Reader>
DecodeResult<void> read_keyed(ByteCursor& cursor, std::uint64_t count, Map& map,
                              Reader read_value) {
    for (std::uint64_t i = 0; i < count; ++i) {
        QM_TRY(std::int32_t key, cursor.read_i32());
        QM_TRY(auto value, read_value(cursor));
        map.insert_or_assign(key, std::move(value));
    }
    return {};
}

// A u32 count, then that many keyed entries; the map grows as entries arrive.
template <class Value>
DecodeResult<std::unordered_map<std::int32_t, Value>>
read_keyed_map(ByteCursor& cursor, DecodeResult<Value> (*read_value)(ByteCursor&)) {
    QM_TRY(std::uint32_t count, cursor.read_u32());
    std::unordered_map<std::int32_t, Value> map;
    QM_TRY_VOID(read_keyed(cursor, count, map, read_value));
    return map;
}

} // namespace

DecodeResult<LocationType> LocationType::read_le(ByteCursor& cursor) {
    RecordReader r(cursor, "LocationType");
    QM_TRY(std::int32_t part_id, r.field("part_id", &ByteCursor::read_i32));
    QM_TRY(Frame frame, r.field("frame", Frame::read_le));
    return LocationType{part_id, frame};
}

void LocationType::write_le(common::ByteWriter& writer) const {
    writer.write_i32(part_id);
    frame.write_le(writer);
}

DecodeResult<PlacementType> PlacementType::read(ByteCursor& cursor, std::uint32_t num_parts) {
    QM_TRY(auto anim_frame, AnimationFrame::read(cursor, num_parts));
    return PlacementType{std::move(anim_frame)};
}

DecodeResult<CylSphere> CylSphere::read_le(ByteCursor& cursor) {
    RecordReader r(cursor, "CylSphere");
    QM_TRY(Vector3 origin, r.field("origin", Vector3::read_le));
    QM_TRY(float radius, r.field("radius", &ByteCursor::read_f32));
    QM_TRY(float height, r.field("height", &ByteCursor::read_f32));
    return CylSphere{origin, radius, height};
}

void CylSphere::write_le(common::ByteWriter& writer) const {
    origin.write_le(writer);
    writer.write_f32(radius);
    writer.write_f32(height);
}

DecodeResult<LightInfo> LightInfo::read_le(ByteCursor& cursor) {
    RecordReader r(cursor, "LightInfo");
    QM_TRY(Frame viewer_space_location, r.field("viewer_space_location", Frame::read_le));
    QM_TRY(std::uint32_t color, r.field("color", &ByteCursor::read_u32));
    QM_TRY(float intensity, r.field("intensity", &ByteCursor::read_f32));
    QM_TRY(float falloff, r.field("falloff", &ByteCursor::read_f32));
    QM_TRY(float cone_angle, r.field("cone_angle", &ByteCursor::read_f32));
    return LightInfo{viewer_space_location, color, intensity, falloff, cone_angle};
}

void LightInfo::write_le(common::ByteWriter& writer) const {
    viewer_space_location.write_le(writer);
    writer.write_u32(color);
    writer.write_f32(intensity);
    writer.write_f32(falloff);
    writer.write_f32(cone_angle);
}

DecodeResult<SetupModel> SetupModel::read(ByteCursor& cursor) {
    return unpack(cursor);
}

DecodeResult<SetupModel> SetupModel::unpack(ByteCursor& cursor) {
    SetupModel model;
    QM_TRY(model.id, cursor.read_u32());
    QM_TRY(model.flags, cursor.read_u32());
    QM_TRY(std::uint32_t num_parts, cursor.read_u32());
    QM_TRY(model.parts, read_u32_list(cursor, num_parts));
    if ((model.flags & kHasParentIndex) != 0) {
        QM_TRY(model.parent_index, read_u32_list(cursor, num_parts));
    }
    if ((model.flags & kHasDefaultScale) != 0) {
        QM_TRY(model.default_scale,
               read_records<Vector3>(cursor, num_parts, kVector3Size, Vector3::read_le));
    }

    QM_TRY(model.holding_locations, read_keyed_map(cursor, LocationType::read_le));
    QM_TRY(model.connection_points, read_keyed_map(cursor, LocationType::read_le));

    // The one signed count of the format: a negative one is refused before anything else is read.
    QM_TRY(std::int32_t num_placements, cursor.read_i32());
    if (num_placements < 0) {
        return std::unexpected(
            DecodeError::custom(cursor.position(), "SetupModel 0x" + common::hex8(model.id) +
                                                       " declared negative placement count " +
                                                       std::to_string(num_placements)));
    }
    file_type::detail::capped_reserve(model.placement_frames,
                                      static_cast<std::uint64_t>(num_placements), cursor,
                                      min_placement_entry_size(num_parts));
    QM_TRY_VOID(
        read_keyed(cursor, static_cast<std::uint64_t>(num_placements), model.placement_frames,
                   [num_parts](ByteCursor& c) { return PlacementType::read(c, num_parts); }));

    QM_TRY(std::uint32_t num_cyl, cursor.read_u32());
    QM_TRY(model.cyl_spheres,
           read_records<CylSphere>(cursor, num_cyl, CylSphere::kWireSize, CylSphere::read_le));
    QM_TRY(std::uint32_t num_sph, cursor.read_u32());
    QM_TRY(model.spheres, read_records<Sphere>(cursor, num_sph, kSphereSize, Sphere::read_le));

    QM_TRY(model.height, cursor.read_f32());
    QM_TRY(model.radius, cursor.read_f32());
    QM_TRY(model.step_up, cursor.read_f32());
    QM_TRY(model.step_down, cursor.read_f32());
    QM_TRY(model.sorting_sphere, Sphere::read_le(cursor));
    QM_TRY(model.selection_sphere, Sphere::read_le(cursor));

    QM_TRY(model.lights, read_keyed_map(cursor, LightInfo::read_le));

    std::optional<std::uint32_t>* const defaults[] = {
        &model.default_animation, &model.default_script, &model.default_motion_table,
        &model.default_sound_table, &model.default_script_table};
    for (auto* slot : defaults) {
        QM_TRY(std::uint32_t raw, cursor.read_u32());
        *slot = decode_optional_resource_id(raw);
    }
    return model;
}

} // namespace quillmere::dat::file_type::setup_model
