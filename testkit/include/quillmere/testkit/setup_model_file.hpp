// Builder of setup-model files from plain specs, independent of the library's decoder.
#pragma once

#include "quillmere/common/math.hpp"
#include "quillmere/dat/file_type/setup_model.hpp"
#include "quillmere/testkit/hooks_and_frames.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace quillmere::testkit {

/// One keyed entry of a setup model's maps, in file order (keys may repeat).
template <class T>
struct Keyed {
    std::int32_t key = 0;
    T value;
};

struct SetupModelSpec {
    std::uint32_t id = 0x02000001;
    std::uint32_t flags = 0;
    /// Default: the number of parts.
    std::optional<std::uint32_t> num_parts;
    std::vector<std::uint32_t> parts;
    /// Written only when `flags` has bit 0x1.
    std::vector<std::uint32_t> parent_index;
    /// Written only when `flags` has bit 0x2.
    std::vector<common::Vector3> default_scale;
    std::optional<std::uint32_t> num_holding;
    std::vector<Keyed<dat::file_type::setup_model::LocationType>> holding_locations;
    std::optional<std::uint32_t> num_conn;
    std::vector<Keyed<dat::file_type::setup_model::LocationType>> connection_points;
    std::optional<std::int32_t> num_placements;
    std::vector<Keyed<AnimationFrameSpec>> placement_frames;
    std::optional<std::uint32_t> num_cyl;
    std::vector<dat::file_type::setup_model::CylSphere> cyl_spheres;
    std::optional<std::uint32_t> num_sph;
    std::vector<common::Sphere> spheres;
    float height = 0;
    float radius = 0;
    float step_up = 0;
    float step_down = 0;
    common::Sphere sorting_sphere;
    common::Sphere selection_sphere;
    std::optional<std::uint32_t> num_lights;
    std::vector<Keyed<dat::file_type::setup_model::LightInfo>> lights;
    /// default_animation, default_script, default_motion_table, default_sound_table,
    /// default_script_table, as stored (0 meaning absent).
    std::array<std::uint32_t, 5> default_ids{};
};

[[nodiscard]] std::vector<std::uint8_t> build_setup_model(const SetupModelSpec& plan);

/// A consistent setup model with every block filled from `seed`: `num_parts` parts, parent indices
/// and scales as `flags` asks, a few locations, `num_placements` placements of
/// `hooks_per_placement` hooks each, collision shapes, lights and non-zero default ids.
[[nodiscard]] SetupModelSpec make_setup_model_spec(std::uint32_t seed, std::uint32_t flags,
                                                   std::uint32_t num_parts,
                                                   std::uint32_t num_placements,
                                                   std::uint32_t hooks_per_placement);

/// The value a correct decoder gives for the file of a consistent `plan`: later keys win.
[[nodiscard]] dat::file_type::setup_model::SetupModel
expected_setup_model(const SetupModelSpec& plan);

} // namespace quillmere::testkit
