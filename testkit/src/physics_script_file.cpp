// Builder of physics-script files.
#include "quillmere/testkit/physics_script_file.hpp"

#include "file_parts.hpp"

namespace quillmere::testkit {

namespace physics_script = dat::file_type::physics_script;

using detail::count_of;
using detail::cycling_hooks;

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

} // namespace quillmere::testkit
