// Builders of animation, setup-model and physics-script files; the byte layouts are written out
// here on their own so that a fault in the library's readers cannot cancel out in tests.
#include "quillmere/testkit/portal_files.hpp"

#include "quillmere/common/random.hpp"

#include <cassert>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <new>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quillmere::testkit {

namespace animation = dat::file_type::animation;
namespace setup_model = dat::file_type::setup_model;
namespace physics_script = dat::file_type::physics_script;

namespace {

constexpr std::uint32_t kHookTypes = 27;
constexpr std::uint32_t kReplaceObject = 5;

// Payload sizes by hook type; ReplaceObject (3 or 5 bytes) is built separately.
constexpr std::array<std::uint32_t, kHookTypes> kPayloadSizes = {
    0, 4, 4, 28, 0, 0, 4, 16, 12, 16, 12, 16, 8, 40, 4, 4, 4, 0, 4, 8, 12, 16, 12, 8, 12, 4, 40,
};

std::uint8_t byte_of(std::uint32_t seed, std::uint64_t index) {
    return static_cast<std::uint8_t>(common::mix64((std::uint64_t{seed} << 20) ^ index));
}

// A float in [-64, 64) in steps of 1/256, so that values are exact and easy to read in failures.
float float_of(std::uint32_t seed, std::uint64_t index) {
    const auto steps =
        static_cast<std::int32_t>(common::mix64((std::uint64_t{seed} << 24) ^ index) % 32768);
    return static_cast<float>(steps - 16384) / 256.0F;
}

common::Vector3 vector_of(std::uint32_t seed, std::uint64_t index) {
    return {float_of(seed, index), float_of(seed, index + 1), float_of(seed, index + 2)};
}

common::Sphere sphere_of(std::uint32_t seed, std::uint64_t index) {
    return {vector_of(seed, index), float_of(seed, index + 3)};
}

void append_vector(Bytes& out, const common::Vector3& v) {
    out.f32(v.x).f32(v.y).f32(v.z);
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

std::uint32_t count_of(std::optional<std::uint32_t> stored, std::size_t actual) {
    return stored ? *stored : static_cast<std::uint32_t>(actual);
}

// Hooks cycling through every type from `first`; ReplaceObject alternates its two forms.
std::vector<Hook> cycling_hooks(std::uint32_t seed, std::uint64_t first, std::uint32_t count) {
    std::vector<Hook> hooks;
    hooks.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t n = first + i;
        const auto direction = static_cast<std::int32_t>(common::mix64(seed + n) % 3) - 1;
        hooks.push_back(make_hook(static_cast<std::uint32_t>(n % kHookTypes), direction,
                                  seed + static_cast<std::uint32_t>(n / kHookTypes)));
    }
    return hooks;
}

std::vector<Frame> frames_of(std::uint32_t seed, std::uint32_t count) {
    std::vector<Frame> frames;
    frames.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        frames.push_back(make_frame(seed * 7919U + i));
    }
    return frames;
}

setup_model::AnimationFrame to_animation_frame(const AnimationFrameSpec& plan) {
    return {plan.frames, plan.hooks};
}

// Reads a "Vm...: N kB" line of /proc/self/status, in bytes (0 when it cannot be read).
std::uint64_t status_bytes(const std::string& key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key + ":", 0) == 0) {
            return std::strtoull(line.c_str() + key.size() + 1, nullptr, 10) * 1024;
        }
    }
    return 0;
}

} // namespace

// ---- Hooks and frames ----------------------------------------------------------------------

std::uint32_t hook_payload_size(std::uint32_t hook_type) {
    assert(hook_type < kHookTypes && hook_type != kReplaceObject);
    return hook_type < kHookTypes ? kPayloadSizes[hook_type] : 0;
}

Hook make_hook(std::uint32_t hook_type, std::int32_t direction, std::uint32_t seed) {
    if (hook_type == kReplaceObject) {
        const auto part = byte_of(seed, 0);
        const auto word = static_cast<std::uint16_t>(byte_of(seed, 1) | (byte_of(seed, 2) << 8));
        if (seed % 2 == 0) {
            return make_replace_object_short(direction, part, word & 0x7FFF,
                                             static_cast<std::uint8_t>(byte_of(seed, 3) | 1));
        }
        return make_replace_object_long(
            direction, part, word | 0x8000,
            static_cast<std::uint16_t>(byte_of(seed, 4) | (byte_of(seed, 5) << 8)),
            {0xA1, static_cast<std::uint8_t>(byte_of(seed, 6) | 1), 0xA3});
    }
    Hook hook{hook_type, direction, {}};
    hook.data.resize(hook_type < kHookTypes ? kPayloadSizes[hook_type] : 0);
    for (std::size_t i = 0; i < hook.data.size(); ++i) {
        hook.data[i] = byte_of(seed, 100 + i);
    }
    return hook;
}

Hook make_replace_object_short(std::int32_t direction, std::uint8_t part_index, std::uint16_t upper,
                               std::uint8_t padding) {
    assert((upper & 0x8000) == 0 && "the short form has bit 15 clear");
    Bytes payload;
    payload.u8(part_index).u16(upper).u8(padding);
    return Hook{kReplaceObject, direction, payload.take()};
}

Hook make_replace_object_long(std::int32_t direction, std::uint8_t part_index, std::uint16_t upper,
                              std::uint16_t lower, std::array<std::uint8_t, 3> padding) {
    assert((upper & 0x8000) != 0 && "the long form has bit 15 set");
    Bytes payload;
    payload.u8(part_index).u16(upper).u16(lower).raw(padding);
    return Hook{kReplaceObject, direction, payload.take()};
}

Frame make_frame(std::uint32_t seed) {
    return Frame{vector_of(seed, 0),
                 {float_of(seed, 3), float_of(seed, 4), float_of(seed, 5), float_of(seed, 6)}};
}

std::vector<std::string> frame_contexts_at(std::size_t offset_in_frame) {
    if (offset_in_frame >= Frame::kWireSize) {
        return {};
    }
    const auto field = [](char name, const char* record) {
        return std::string("While parsing field '") + name + "' in " + record;
    };
    if (offset_in_frame < 12) {
        return {field("xyz"[offset_in_frame / 4], "Vector3"),
                "While parsing field 'origin' in Frame"};
    }
    return {field("wxyz"[(offset_in_frame - 12) / 4], "Quaternion"),
            "While parsing field 'orientation' in Frame"};
}

void append_hook(Bytes& out, const Hook& hook) {
    out.u32(hook.hook_type).i32(hook.direction).raw(hook.data);
}

void append_frame(Bytes& out, const Frame& frame) {
    append_vector(out, frame.origin);
    out.f32(frame.orientation.w)
        .f32(frame.orientation.x)
        .f32(frame.orientation.y)
        .f32(frame.orientation.z);
}

// ---- Animation files -----------------------------------------------------------------------

void append_animation_frame(Bytes& out, const AnimationFrameSpec& frame) {
    for (const auto& placement : frame.frames) {
        append_frame(out, placement);
    }
    out.u32(count_of(frame.num_hooks, frame.hooks.size()));
    for (const auto& hook : frame.hooks) {
        append_hook(out, hook);
    }
}

std::vector<std::uint8_t> build_animation(const AnimationSpec& plan) {
    const std::size_t first_parts =
        plan.part_frames.empty() ? 0 : plan.part_frames[0].frames.size();
    Bytes out;
    out.u32(plan.id)
        .u32(plan.flags)
        .u32(count_of(plan.num_parts, first_parts))
        .u32(count_of(plan.num_frames, plan.part_frames.size()));
    if ((plan.flags & 0x1) != 0) {
        for (const auto& frame : plan.pos_frames) {
            append_frame(out, frame);
        }
    }
    for (const auto& frame : plan.part_frames) {
        append_animation_frame(out, frame);
    }
    return out.take();
}

AnimationSpec make_animation_spec(std::uint32_t seed, std::uint32_t num_parts,
                                  std::uint32_t num_frames, std::uint32_t hooks_per_frame,
                                  bool pos_frames) {
    AnimationSpec plan;
    plan.id = 0x03000000U | (seed & 0xFFFFFFU);
    plan.flags = pos_frames ? 0x1U : 0U;
    plan.num_parts = num_parts;
    if (pos_frames) {
        plan.pos_frames = frames_of(seed ^ 0x5A5A5A5AU, num_frames);
    }
    plan.part_frames.reserve(num_frames);
    for (std::uint32_t f = 0; f < num_frames; ++f) {
        plan.part_frames.push_back(
            {frames_of(seed + f * 31U, num_parts),
             cycling_hooks(seed, std::uint64_t{f} * hooks_per_frame + seed, hooks_per_frame),
             std::nullopt});
    }
    return plan;
}

animation::Animation expected_animation(const AnimationSpec& plan) {
    animation::Animation out;
    out.id = plan.id;
    out.flags = animation::AnimationFlags::from_bits_retain(plan.flags);
    out.num_parts =
        count_of(plan.num_parts, plan.part_frames.empty() ? 0 : plan.part_frames[0].frames.size());
    out.num_frames = count_of(plan.num_frames, plan.part_frames.size());
    if ((plan.flags & 0x1) != 0) {
        out.pos_frames = plan.pos_frames;
    }
    for (const auto& frame : plan.part_frames) {
        out.part_frames.push_back(to_animation_frame(frame));
    }
    return out;
}

// ---- Setup models --------------------------------------------------------------------------

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

// ---- Physics scripts -----------------------------------------------------------------------

std::vector<std::uint8_t> build_physics_script(const PhysicsScriptSpec& plan) {
    Bytes out;
    out.u32(plan.id).u32(count_of(plan.num_entries, plan.entries.size()));
    for (const auto& entry : plan.entries) {
        out.f64(entry.start_time);
        append_hook(out, entry.hook);
    }
    return out.take();
}

PhysicsScriptSpec make_physics_script_spec(std::uint32_t seed, std::uint32_t num_entries) {
    PhysicsScriptSpec plan;
    plan.id = 0x33000000U | (seed & 0xFFFFFFU);
    const auto hooks = cycling_hooks(seed, seed, num_entries);
    for (std::uint32_t i = 0; i < num_entries; ++i) {
        plan.entries.push_back({0.25 * i, hooks[i]});
    }
    return plan;
}

physics_script::PhysicsScript expected_physics_script(const PhysicsScriptSpec& plan) {
    physics_script::PhysicsScript out{plan.id, {}};
    for (const auto& entry : plan.entries) {
        out.script_data.push_back({entry.start_time, entry.hook});
    }
    return out;
}

// ---- Hostile inputs ------------------------------------------------------------------------

int run_with_memory_budget(std::uint64_t budget_bytes, unsigned cpu_seconds,
                           const std::function<bool()>& check) {
    const std::uint64_t data_now = status_bytes("VmData");
    const pid_t child = fork();
    if (child < 0) {
        return -1;
    }
    if (child == 0) {
        rlimit data{};
        rlimit cpu{};
        if (getrlimit(RLIMIT_DATA, &data) == 0 && data_now != 0) {
            const rlim_t wanted = data_now + budget_bytes;
            data.rlim_cur =
                data.rlim_max == RLIM_INFINITY || wanted < data.rlim_max ? wanted : data.rlim_max;
            setrlimit(RLIMIT_DATA, &data);
        }
        if (getrlimit(RLIMIT_CPU, &cpu) == 0) {
            cpu.rlim_cur = cpu_seconds;
            setrlimit(RLIMIT_CPU, &cpu);
        }
        int code = 1;
        try {
            code = check() ? 0 : 1;
        } catch (const std::bad_alloc&) {
            code = 2;
        }
        _exit(code);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

} // namespace quillmere::testkit
