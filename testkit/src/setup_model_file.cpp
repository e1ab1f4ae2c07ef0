// Builder of setup-model files.
#include "quillmere/testkit/setup_model_file.hpp"

#include "file_parts.hpp"

namespace quillmere::testkit {

namespace setup_model = dat::file_type::setup_model;

using detail::append_vector;
using detail::count_of;
using detail::cycling_hooks;
using detail::float_of;
using detail::frames_of;
using detail::to_animation_frame;
using detail::vector_of;

namespace {

common::Sphere sphere_of(std::uint32_t seed, std::uint64_t index) {
    return {vector_of(seed, index), float_of(seed, index + 3)};
}

void append_sphere(Bytes& out, const common::Sphere& s) {
    append_vector(out, s.center);
    out.f32(s.radius);
}

void append_location(Bytes& out, const setup_model::LocationType& location) {
    out.i32(location.part_id);
    append_frame(out, location.frame);
}

void append_cyl_sphere(Bytes& out, const setup_model::CylSphere& cyl) {
    append_vector(out, cyl.origin);
    out.f32(cyl.radius).f32(cyl.height);
}

void append_light(Bytes& out, const setup_model::LightInfo& light) {
    append_frame(out, light.viewer_space_location);
    out.u32(light.color).f32(light.intensity).f32(light.falloff).f32(light.cone_angle);
}

} // namespace

std::vector<std::uint8_t> build_setup_model(const SetupModelSpec& plan) {
    Bytes out;
    out.u32(plan.id).u32(plan.flags).u32(count_of(plan.num_parts, plan.parts.size()));
    for (auto part : plan.parts) {
        out.u32(part);
    }
    if ((plan.flags & 0x1) != 0) {
        for (auto parent : plan.parent_index) {
            out.u32(parent);
        }
    }
    if ((plan.flags & 0x2) != 0) {
        for (const auto& scale : plan.default_scale) {
            append_vector(out, scale);
        }
    }
    out.u32(count_of(plan.num_holding, plan.holding_locations.size()));
    for (const auto& [key, location] : plan.holding_locations) {
        out.i32(key);
        append_location(out, location);
    }
    out.u32(count_of(plan.num_conn, plan.connection_points.size()));
    for (const auto& [key, location] : plan.connection_points) {
        out.i32(key);
        append_location(out, location);
    }
    out.i32(plan.num_placements ? *plan.num_placements
                                : static_cast<std::int32_t>(plan.placement_frames.size()));
    for (const auto& [key, frame] : plan.placement_frames) {
        out.i32(key);
        append_animation_frame(out, frame);
    }
    out.u32(count_of(plan.num_cyl, plan.cyl_spheres.size()));
    for (const auto& cyl : plan.cyl_spheres) {
        append_cyl_sphere(out, cyl);
    }
    out.u32(count_of(plan.num_sph, plan.spheres.size()));
    for (const auto& sphere : plan.spheres) {
        append_sphere(out, sphere);
    }
    out.f32(plan.height).f32(plan.radius).f32(plan.step_up).f32(plan.step_down);
    append_sphere(out, plan.sorting_sphere);
    append_sphere(out, plan.selection_sphere);
    out.u32(count_of(plan.num_lights, plan.lights.size()));
    for (const auto& [key, light] : plan.lights) {
        out.i32(key);
        append_light(out, light);
    }
    for (auto id : plan.default_ids) {
        out.u32(id);
    }
    return out.take();
}

SetupModelSpec make_setup_model_spec(std::uint32_t seed, std::uint32_t flags,
                                     std::uint32_t num_parts, std::uint32_t num_placements,
                                     std::uint32_t hooks_per_placement) {
    SetupModelSpec plan;
    plan.id = 0x02000000U | (seed & 0xFFFFFFU);
    plan.flags = flags;
    for (std::uint32_t i = 0; i < num_parts; ++i) {
        plan.parts.push_back(0x01000000U + seed + i);
        plan.parent_index.push_back(i == 0 ? 0xFFFFFFFFU : i - 1);
        plan.default_scale.push_back(vector_of(seed, 10U + i * 3U));
    }
    for (std::int32_t k = 0; k < 2; ++k) {
        plan.holding_locations.push_back(
            {k + 1, {k, make_frame(seed + 40U + static_cast<std::uint32_t>(k))}});
        plan.connection_points.push_back(
            {-k, {k + 7, make_frame(seed + 50U + static_cast<std::uint32_t>(k))}});
    }
    for (std::uint32_t p = 0; p < num_placements; ++p) {
        plan.placement_frames.push_back(
            {static_cast<std::int32_t>(p),
             {frames_of(seed + 60U + p, num_parts),
              cycling_hooks(seed, std::uint64_t{p} * hooks_per_placement + seed,
                            hooks_per_placement),
              std::nullopt}});
    }
    plan.cyl_spheres.push_back({vector_of(seed, 70), float_of(seed, 73), float_of(seed, 74)});
    plan.spheres.push_back(sphere_of(seed, 80));
    plan.spheres.push_back(sphere_of(seed, 84));
    plan.height = float_of(seed, 90);
    plan.radius = float_of(seed, 91);
    plan.step_up = float_of(seed, 92);
    plan.step_down = float_of(seed, 93);
    plan.sorting_sphere = sphere_of(seed, 94);
    plan.selection_sphere = sphere_of(seed, 98);
    plan.lights.push_back({3,
                           {make_frame(seed + 100U), 0xFFCC8844U, float_of(seed, 101),
                            float_of(seed, 102), float_of(seed, 103)}});
    plan.default_ids = {0x03000000U + seed, 0x33000000U + seed, 0x09000000U + seed,
                        0x20000000U + seed, 0x34000000U + seed};
    return plan;
}

setup_model::SetupModel expected_setup_model(const SetupModelSpec& plan) {
    setup_model::SetupModel out;
    out.id = plan.id;
    out.flags = plan.flags;
    out.parts = plan.parts;
    if ((plan.flags & 0x1) != 0) {
        out.parent_index = plan.parent_index;
    }
    if ((plan.flags & 0x2) != 0) {
        out.default_scale = plan.default_scale;
    }
    for (const auto& [key, location] : plan.holding_locations) {
        out.holding_locations.insert_or_assign(key, location);
    }
    for (const auto& [key, location] : plan.connection_points) {
        out.connection_points.insert_or_assign(key, location);
    }
    for (const auto& [key, frame] : plan.placement_frames) {
        out.placement_frames.insert_or_assign(
            key, setup_model::PlacementType{to_animation_frame(frame)});
    }
    out.cyl_spheres = plan.cyl_spheres;
    out.spheres = plan.spheres;
    out.height = plan.height;
    out.radius = plan.radius;
    out.step_up = plan.step_up;
    out.step_down = plan.step_down;
    out.sorting_sphere = plan.sorting_sphere;
    out.selection_sphere = plan.selection_sphere;
    for (const auto& [key, light] : plan.lights) {
        out.lights.insert_or_assign(key, light);
    }
    std::optional<std::uint32_t>* const defaults[] = {
        &out.default_animation, &out.default_script, &out.default_motion_table,
        &out.default_sound_table, &out.default_script_table};
    for (std::size_t i = 0; i < plan.default_ids.size(); ++i) {
        if (plan.default_ids[i] != 0) {
            *defaults[i] = plan.default_ids[i];
        }
    }
    return out;
}

} // namespace quillmere::testkit
