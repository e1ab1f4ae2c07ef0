// Fuzz target: setup models. A decoded model has the shape its counts and flags declare; written
// back in canonical form (the target's own encoder, maps in key order) it decodes again to a
// model that writes back to the same bytes. Bytes rather than values are compared, since a NaN
// float is never equal to itself.
#include "fuzz_support.hpp"
#include "quillmere/common/byte_cursor.hpp"
#include "quillmere/common/byte_writer.hpp"
#include "quillmere/dat/file_type/setup_model.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

using quillmere::common::ByteCursor;
using quillmere::common::ByteWriter;
using quillmere::dat::file_type::setup_model::SetupModel;

namespace {

template <class Value>
std::vector<std::int32_t> sorted_keys(const std::unordered_map<std::int32_t, Value>& map) {
    std::vector<std::int32_t> keys;
    keys.reserve(map.size());
    for (const auto& [key, value] : map) {
        keys.push_back(key);
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

// A u32 count, then each entry as its key and its record's own write_le.
template <class Value>
void write_keyed(ByteWriter& writer, const std::unordered_map<std::int32_t, Value>& map) {
    writer.write_u32(static_cast<std::uint32_t>(map.size()));
    for (const std::int32_t key : sorted_keys(map)) {
        writer.write_i32(key);
        map.at(key).write_le(writer);
    }
}

std::vector<std::uint8_t> encode(const SetupModel& model) {
    std::vector<std::uint8_t> out;
    ByteWriter writer(out);
    writer.write_u32(model.id);
    writer.write_u32(model.flags);
    writer.write_u32(static_cast<std::uint32_t>(model.parts.size()));
    for (const std::uint32_t part : model.parts) {
        writer.write_u32(part);
    }
    if ((model.flags & SetupModel::kHasParentIndex) != 0) {
        for (const std::uint32_t parent : model.parent_index) {
            writer.write_u32(parent);
        }
    }
    if ((model.flags & SetupModel::kHasDefaultScale) != 0) {
        for (const auto& scale : model.default_scale) {
            scale.write_le(writer);
        }
    }
    write_keyed(writer, model.holding_locations);
    write_keyed(writer, model.connection_points);
    writer.write_i32(static_cast<std::int32_t>(model.placement_frames.size()));
    for (const std::int32_t key : sorted_keys(model.placement_frames)) {
        writer.write_i32(key);
        const auto& frame = model.placement_frames.at(key).anim_frame;
        for (const auto& part : frame.frames) {
            part.write_le(writer);
        }
        writer.write_u32(static_cast<std::uint32_t>(frame.hooks.size()));
        for (const auto& hook : frame.hooks) {
            FUZZ_CHECK(hook.write(writer).has_value());
        }
    }
    writer.write_u32(static_cast<std::uint32_t>(model.cyl_spheres.size()));
    for (const auto& cyl : model.cyl_spheres) {
        cyl.write_le(writer);
    }
    writer.write_u32(static_cast<std::uint32_t>(model.spheres.size()));
    for (const auto& sphere : model.spheres) {
        sphere.write_le(writer);
    }
    writer.write_f32(model.height);
    writer.write_f32(model.radius);
    writer.write_f32(model.step_up);
    writer.write_f32(model.step_down);
    model.sorting_sphere.write_le(writer);
    model.selection_sphere.write_le(writer);
    write_keyed(writer, model.lights);
    for (const auto* slot :
         {&model.default_animation, &model.default_script, &model.default_motion_table,
          &model.default_sound_table, &model.default_script_table}) {
        FUZZ_CHECK(!slot->has_value() || **slot != 0);
        writer.write_u32(slot->value_or(0));
    }
    return out;
}

void check_shape(const SetupModel& model) {
    const std::size_t parts = model.parts.size();
    const bool has_parents = (model.flags & SetupModel::kHasParentIndex) != 0;
    const bool has_scales = (model.flags & SetupModel::kHasDefaultScale) != 0;
    FUZZ_CHECK(model.parent_index.size() == (has_parents ? parts : 0));
    FUZZ_CHECK(model.default_scale.size() == (has_scales ? parts : 0));
    for (const auto& [key, placement] : model.placement_frames) {
        FUZZ_CHECK(placement.anim_frame.frames.size() == parts);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = quillmere::fuzz::input_bytes(data, size);
    ByteCursor cursor(input);
    auto model = SetupModel::read(cursor);
    if (!model) {
        quillmere::fuzz::exercise_error(model.error());
        return 0;
    }
    FUZZ_CHECK(cursor.position() <= size);
    check_shape(*model);

    const std::vector<std::uint8_t> encoded = encode(*model);
    // Duplicate keys collapse, so the canonical form is never longer than what was read.
    FUZZ_CHECK(encoded.size() <= cursor.position());
    ByteCursor again_cursor(encoded);
    auto again = SetupModel::read(again_cursor);
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(again_cursor.position() == encoded.size());
    check_shape(*again);
    FUZZ_CHECK(encode(*again) == encoded);
    return 0;
}
