// Builder of physics-script files from plain specs, independent of the library's decoder and
// encoder.
#pragma once

#include "quillmere/dat/file_type/physics_script.hpp"
#include "quillmere/testkit/hooks_and_frames.hpp"

#include <cstdint>
#include <optional>
#include <vector>

namespace quillmere::testkit {

struct PhysicsEntrySpec {
    double start_time = 0;
    Hook hook;
};

struct PhysicsScriptSpec {
    std::uint32_t id = 0x33000001;
    /// Default: the number of entries.
    std::optional<std::uint32_t> num_entries;
    std::vector<PhysicsEntrySpec> entries;
};

[[nodiscard]] std::vector<std::uint8_t> build_physics_script(const PhysicsScriptSpec& plan);

/// A consistent script of `num_entries` entries with rising start times and hooks cycling through
/// all 27 types.
[[nodiscard]] PhysicsScriptSpec make_physics_script_spec(std::uint32_t seed,
                                                         std::uint32_t num_entries);

[[nodiscard]] dat::file_type::physics_script::PhysicsScript
expected_physics_script(const PhysicsScriptSpec& plan);

} // namespace quillmere::testkit
