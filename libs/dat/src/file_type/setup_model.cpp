// Setup models and their records: locations, placements, collision shapes and lights.
#include "quillmere/dat/file_type/setup_model.hpp"

#include "quillmere/common/le.hpp"
#include "quillmere/common/record.hpp"
#include "quillmere/common/text.hpp"
#include "quillmere/common/try.hpp"

#include <algorithm>
#include <cassert>
#include <functional>
#include <limits>
#include <optional>
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
constexpr std::uint64_t kU32Size = 4;
constexpr std::uint64_t kSphereSize = 16;
constexpr std::uint64_t kVector3Size = 12;

// `count` records of `size` bytes each, as stored, the cursor moved past them. When they do not
// all fit, they are read one by one with `read_one` up to the one that fails, and its error is
// returned: the error and the cursor position that reading every record would give.
template <class ReadOne>
DecodeResult<std::span<const std::uint8_t>> records(ByteCursor& cursor, std::uint64_t count,
                                                    std::uint64_t size, ReadOne read_one) {
    if (size * count <= cursor.remaining()) {
        QM_TRY(auto bytes, cursor.read_exact(size * count));
        return bytes;
    }
    for (std::uint64_t i = 0; i < count; ++i) {
        QM_TRY_VOID(read_one(cursor));
    }
    assert(false && "records that do not fit cannot all be read");
    return std::span<const std::uint8_t>();
}

// One keyed entry: an i32 key, then a record read with `read_record`.
template <class Record>
DecodeResult<void> read_keyed_entry(ByteCursor& cursor) {
    QM_TRY_VOID(cursor.read_i32());
    QM_TRY_VOID(Record::read_le(cursor));
    return {};
}

// A u32 count, then that many keyed entries of `Record`.
template <class Record>
DecodeResult<std::span<const std::uint8_t>> keyed_records(ByteCursor& cursor) {
    QM_TRY(std::uint32_t count, cursor.read_u32());
    return records(cursor, count, kKeySize + Record::kWireSize, read_keyed_entry<Record>);
}

DecodeResult<void> read_u32(ByteCursor& cursor) {
    QM_TRY_VOID(cursor.read_u32());
    return {};
}

// The records of checked bytes, each decoded with `read_record`, which cannot fail on them.
template <class T, class Reader>
std::vector<T> decode_records(std::span<const std::uint8_t> bytes, std::uint64_t size,
                              Reader read_record) {
    std::vector<T> values;
    values.reserve(static_cast<std::size_t>(bytes.size() / size));
    ByteCursor cursor(bytes);
    while (cursor.remaining() != 0) {
        auto value = std::invoke(read_record, cursor);
        assert(value && "a checked record decodes again");
        if (!value) {
            break;
        }
        values.push_back(std::move(*value));
    }
    return values;
}

// Hands each keyed entry of checked bytes, in file order, to `take(key, record)`.
template <class Record, class Take>
void for_each_keyed(std::span<const std::uint8_t> bytes, Take take) {
    ByteCursor cursor(bytes);
    while (cursor.remaining() != 0) {
        auto key = cursor.read_i32();
        auto value = Record::read_le(cursor);
        assert(key && value && "a checked record decodes again");
        if (!key || !value) {
            break;
        }
        take(*key, std::move(*value));
    }
}

// The keyed entries of checked bytes in a map; a later entry replaces an earlier one.
template <class Record>
std::unordered_map<std::int32_t, Record> decode_keyed(std::span<const std::uint8_t> bytes) {
    std::unordered_map<std::int32_t, Record> map;
    for_each_keyed<Record>(bytes, [&](std::int32_t key, Record&& value) {
        map.insert_or_assign(key, std::move(value));
    });
    return map;
}

// The keyed entries of checked bytes, every one in file order.
template <class Record>
std::vector<Keyed<Record>> decode_keyed_list(std::span<const std::uint8_t> bytes) {
    std::vector<Keyed<Record>> list;
    list.reserve(static_cast<std::size_t>(bytes.size() / (kKeySize + Record::kWireSize)));
    for_each_keyed<Record>(bytes, [&](std::int32_t key, Record&& value) {
        list.push_back({key, std::move(value)});
    });
    return list;
}

// The fields that every form of a setup model (the view, `SetupModel`, `StoredSetupModel`)
// holds alike: the id, the flags, the dimensions, the two spheres and the default ids.
template <class From, class To>
void copy_scalar_fields(const From& from, To& to) {
    to.id = from.id;
    to.flags = from.flags;
    to.height = from.height;
    to.radius = from.radius;
    to.step_up = from.step_up;
    to.step_down = from.step_down;
    to.sorting_sphere = from.sorting_sphere;
    to.selection_sphere = from.selection_sphere;
    to.default_animation = from.default_animation;
    to.default_script = from.default_script;
    to.default_motion_table = from.default_motion_table;
    to.default_sound_table = from.default_sound_table;
    to.default_script_table = from.default_script_table;
}

// The lists that `SetupModel` and `StoredSetupModel` both keep as plain vectors, decoded from
// the view's checked bytes. The keyed lists, which the two keep differently, are left out.
template <class Model>
void decode_plain_lists(const SetupModelView& view, Model& model) {
    model.parts = decode_records<std::uint32_t>(view.parts, kU32Size, &ByteCursor::read_u32);
    model.parent_index =
        decode_records<std::uint32_t>(view.parent_index, kU32Size, &ByteCursor::read_u32);
    model.default_scale =
        decode_records<Vector3>(view.default_scale, kVector3Size, Vector3::read_le);
    model.cyl_spheres =
        decode_records<CylSphere>(view.cyl_spheres, CylSphere::kWireSize, CylSphere::read_le);
    model.spheres = decode_records<Sphere>(view.spheres, kSphereSize, Sphere::read_le);
}

// A map's entries as a list in ascending key order.
template <class Record>
std::vector<Keyed<Record>> sorted_entries(const std::unordered_map<std::int32_t, Record>& map) {
    std::vector<Keyed<Record>> list;
    list.reserve(map.size());
    for (const auto& [key, value] : map) {
        list.push_back({key, value});
    }
    std::ranges::sort(list, {}, &Keyed<Record>::key);
    return list;
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

bool PlacementStep::operator()(std::span<const std::uint8_t> data, std::uint64_t& pos,
                               PlacementView& out) const noexcept {
    if (pos > data.size() || data.size() - pos < kKeySize) {
        return false;
    }
    std::uint64_t end = pos + kKeySize;
    FrameView anim_frame;
    if (!FrameStep{num_parts}(data, end, anim_frame)) {
        return false;
    }
    out = PlacementView{common::load_le<std::int32_t>(data.data() + pos), anim_frame};
    pos = end;
    return true;
}

DecodeResult<SetupModelView> SetupModelView::read(ByteCursor& cursor) {
    SetupModelView model;
    QM_TRY(model.id, cursor.read_u32());
    QM_TRY(model.flags, cursor.read_u32());
    QM_TRY(model.num_parts, cursor.read_u32());
    QM_TRY(model.parts, records(cursor, model.num_parts, kU32Size, read_u32));
    if ((model.flags & SetupModel::kHasParentIndex) != 0) {
        QM_TRY(model.parent_index, records(cursor, model.num_parts, kU32Size, read_u32));
    }
    if ((model.flags & SetupModel::kHasDefaultScale) != 0) {
        QM_TRY(model.default_scale,
               records(cursor, model.num_parts, kVector3Size, Vector3::read_le));
    }

    QM_TRY(model.holding_locations, keyed_records<LocationType>(cursor));
    QM_TRY(model.connection_points, keyed_records<LocationType>(cursor));

    // The one signed count of the format: a negative one is refused before anything else is read.
    QM_TRY(std::int32_t num_placements, cursor.read_i32());
    if (num_placements < 0) {
        return std::unexpected(
            DecodeError::custom(cursor.position(), "SetupModel 0x" + common::hex8(model.id) +
                                                       " declared negative placement count " +
                                                       std::to_string(num_placements)));
    }
    // Every placement takes at least its key and hook count, so a huge count ends with the input.
    const std::uint64_t placements_start = cursor.position();
    for (std::int32_t i = 0; i < num_placements; ++i) {
        QM_TRY_VOID(cursor.read_i32());
        QM_TRY_VOID(FrameView::read(cursor, model.num_parts));
    }
    model.placement_frames = {cursor.data(),
                              placements_start,
                              static_cast<std::uint32_t>(num_placements),
                              {model.num_parts}};

    QM_TRY(std::uint32_t num_cyl, cursor.read_u32());
    QM_TRY(model.cyl_spheres, records(cursor, num_cyl, CylSphere::kWireSize, CylSphere::read_le));
    QM_TRY(std::uint32_t num_sph, cursor.read_u32());
    QM_TRY(model.spheres, records(cursor, num_sph, kSphereSize, Sphere::read_le));

    QM_TRY(model.height, cursor.read_f32());
    QM_TRY(model.radius, cursor.read_f32());
    QM_TRY(model.step_up, cursor.read_f32());
    QM_TRY(model.step_down, cursor.read_f32());
    QM_TRY(model.sorting_sphere, Sphere::read_le(cursor));
    QM_TRY(model.selection_sphere, Sphere::read_le(cursor));

    QM_TRY(model.lights, keyed_records<LightInfo>(cursor));

    std::optional<std::uint32_t>* const defaults[] = {
        &model.default_animation, &model.default_script, &model.default_motion_table,
        &model.default_sound_table, &model.default_script_table};
    for (auto* slot : defaults) {
        QM_TRY(std::uint32_t raw, cursor.read_u32());
        *slot = SetupModel::decode_optional_resource_id(raw);
    }
    return model;
}

void SetupModelView::placements_by_key(std::vector<PlacementView>& out) const {
    out.clear();
    for (const PlacementView& placement : placement_frames) {
        out.push_back(placement);
    }
    // Equal keys stay in file order, so the last of each run is the one the map keeps.
    std::ranges::stable_sort(out, {}, &PlacementView::key);
    auto kept = out.begin();
    for (auto at = out.begin(); at != out.end(); ++at) {
        const auto next = std::next(at);
        if (next == out.end() || next->key != at->key) {
            *kept++ = *at;
        }
    }
    out.erase(kept, out.end());
}

DecodeResult<SetupModel> SetupModel::read(ByteCursor& cursor) {
    return unpack(cursor);
}

DecodeResult<SetupModel> SetupModel::unpack(ByteCursor& cursor) {
    QM_TRY(const SetupModelView view, SetupModelView::read(cursor));
    SetupModel model;
    copy_scalar_fields(view, model);
    decode_plain_lists(view, model);
    model.holding_locations = decode_keyed<LocationType>(view.holding_locations);
    model.connection_points = decode_keyed<LocationType>(view.connection_points);
    // The view's `read` found every placement, so the count is what the input holds.
    model.placement_frames.reserve(view.placement_frames.size());
    for (const PlacementView& placement : view.placement_frames) {
        model.placement_frames.insert_or_assign(placement.key,
                                                PlacementType{placement.anim_frame.to_owned()});
    }
    model.lights = decode_keyed<LightInfo>(view.lights);
    return model;
}

DecodeResult<SetupModel> SetupModel::read(std::span<const std::uint8_t> data,
                                          std::uint64_t* consumed) {
    ByteCursor cursor(data);
    auto decoded = read(cursor);
    if (decoded && consumed != nullptr) {
        *consumed = cursor.position();
    }
    return decoded;
}

namespace {

// Why `model` cannot be written, or nothing when it can.
std::optional<std::string> unwritable(const StoredSetupModel& model) {
    constexpr std::uint64_t kU32Max = std::numeric_limits<std::uint32_t>::max();
    const auto too_long = [](std::string_view name, std::uint64_t size, std::uint64_t most) {
        return std::string(name) + " has " + std::to_string(size) + " entries, more than " +
               std::to_string(most);
    };
    if (model.parts.size() > kU32Max) {
        return too_long("parts", model.parts.size(), kU32Max);
    }
    const auto per_part = [&](std::string_view name, std::size_t size,
                              std::uint32_t bit) -> std::optional<std::string> {
        const std::size_t wanted = (model.flags & bit) != 0 ? model.parts.size() : 0;
        if (size != wanted) {
            return std::string(name) + " has " + std::to_string(size) +
                   " entries where the flags and parts call for " + std::to_string(wanted);
        }
        return std::nullopt;
    };
    if (auto why =
            per_part("parent_index", model.parent_index.size(), SetupModel::kHasParentIndex)) {
        return why;
    }
    if (auto why =
            per_part("default_scale", model.default_scale.size(), SetupModel::kHasDefaultScale)) {
        return why;
    }
    const std::pair<std::string_view, std::size_t> lists[] = {
        {"holding_locations", model.holding_locations.size()},
        {"connection_points", model.connection_points.size()},
        {"cyl_spheres", model.cyl_spheres.size()},
        {"spheres", model.spheres.size()},
        {"lights", model.lights.size()}};
    for (const auto& [name, size] : lists) {
        if (size > kU32Max) {
            return too_long(name, size, kU32Max);
        }
    }
    constexpr std::uint64_t kPlacementsMax = std::numeric_limits<std::int32_t>::max();
    if (model.placement_frames.size() > kPlacementsMax) {
        return too_long("placement_frames", model.placement_frames.size(), kPlacementsMax);
    }
    for (std::size_t i = 0; i < model.placement_frames.size(); ++i) {
        const auto& frame = model.placement_frames[i].value.anim_frame;
        if (frame.frames.size() != model.parts.size()) {
            return "placement " + std::to_string(i) + " has " +
                   std::to_string(frame.frames.size()) + " placements for " +
                   std::to_string(model.parts.size()) + " parts";
        }
        if (frame.hooks.size() > kU32Max) {
            return "placement " + std::to_string(i) +
                   " has more hooks than a 32-bit count can hold";
        }
    }
    return std::nullopt;
}

template <class Record>
void write_keyed(common::ByteWriter& writer, const std::vector<Keyed<Record>>& list) {
    writer.write_u32(static_cast<std::uint32_t>(list.size()));
    for (const auto& entry : list) {
        writer.write_i32(entry.key);
        entry.value.write_le(writer);
    }
}

} // namespace

DecodeResult<StoredSetupModel> StoredSetupModel::read(std::span<const std::uint8_t> data,
                                                      std::uint64_t* consumed) {
    ByteCursor cursor(data);
    QM_TRY(const SetupModelView view, SetupModelView::read(cursor));
    if (consumed != nullptr) {
        *consumed = cursor.position();
    }
    return from_view(view);
}

StoredSetupModel StoredSetupModel::from_view(const SetupModelView& view) {
    StoredSetupModel model;
    copy_scalar_fields(view, model);
    decode_plain_lists(view, model);
    model.holding_locations = decode_keyed_list<LocationType>(view.holding_locations);
    model.connection_points = decode_keyed_list<LocationType>(view.connection_points);
    model.placement_frames.reserve(view.placement_frames.size());
    for (const PlacementView& placement : view.placement_frames) {
        model.placement_frames.push_back(
            {placement.key, PlacementType{placement.anim_frame.to_owned()}});
    }
    model.lights = decode_keyed_list<LightInfo>(view.lights);
    return model;
}

StoredSetupModel StoredSetupModel::from_model(const SetupModel& model) {
    StoredSetupModel stored;
    copy_scalar_fields(model, stored);
    stored.parts = model.parts;
    stored.parent_index = model.parent_index;
    stored.default_scale = model.default_scale;
    stored.holding_locations = sorted_entries(model.holding_locations);
    stored.connection_points = sorted_entries(model.connection_points);
    stored.placement_frames = sorted_entries(model.placement_frames);
    stored.cyl_spheres = model.cyl_spheres;
    stored.spheres = model.spheres;
    stored.lights = sorted_entries(model.lights);
    return stored;
}

DecodeResult<void> StoredSetupModel::write(common::ByteWriter& writer) const {
    if (auto why = unwritable(*this)) {
        return std::unexpected(DecodeError::custom(
            writer.position(), "SetupModel 0x" + common::hex8(id) + " " + *why));
    }
    writer.write_u32(id);
    writer.write_u32(flags);
    writer.write_u32(static_cast<std::uint32_t>(parts.size()));
    for (const std::uint32_t part : parts) {
        writer.write_u32(part);
    }
    for (const std::uint32_t parent : parent_index) {
        writer.write_u32(parent);
    }
    for (const Vector3& scale : default_scale) {
        scale.write_le(writer);
    }
    write_keyed(writer, holding_locations);
    write_keyed(writer, connection_points);
    writer.write_i32(static_cast<std::int32_t>(placement_frames.size()));
    for (const auto& placement : placement_frames) {
        writer.write_i32(placement.key);
        QM_TRY_VOID(placement.value.anim_frame.write(writer));
    }
    writer.write_u32(static_cast<std::uint32_t>(cyl_spheres.size()));
    for (const CylSphere& cyl : cyl_spheres) {
        cyl.write_le(writer);
    }
    writer.write_u32(static_cast<std::uint32_t>(spheres.size()));
    for (const Sphere& sphere : spheres) {
        sphere.write_le(writer);
    }
    writer.write_f32(height);
    writer.write_f32(radius);
    writer.write_f32(step_up);
    writer.write_f32(step_down);
    sorting_sphere.write_le(writer);
    selection_sphere.write_le(writer);
    write_keyed(writer, lights);
    for (const auto* slot : {&default_animation, &default_script, &default_motion_table,
                             &default_sound_table, &default_script_table}) {
        writer.write_u32(slot->value_or(0));
    }
    return {};
}

DecodeResult<std::vector<std::uint8_t>> StoredSetupModel::pack() const {
    std::vector<std::uint8_t> out;
    common::ByteWriter writer(out);
    QM_TRY_VOID(write(writer));
    return out;
}

DecodeResult<void> SetupModel::write(common::ByteWriter& writer) const {
    return StoredSetupModel::from_model(*this).write(writer);
}

DecodeResult<std::vector<std::uint8_t>> SetupModel::pack() const {
    return StoredSetupModel::from_model(*this).pack();
}

} // namespace quillmere::dat::file_type::setup_model
