// Builders of animation, setup-model and physics-script files from plain specs, written with the
// test kit's own little-endian writer, independent of the library's decoders and encoders.
#pragma once

#include "quillmere/common/math.hpp"
#include "quillmere/dat/file_type/animation.hpp"
#include "quillmere/dat/file_type/animation_hook.hpp"
#include "quillmere/dat/file_type/physics_script.hpp"
#include "quillmere/dat/file_type/setup_model.hpp"
#include "quillmere/dat/graphics.hpp"
#include "quillmere/testkit/bytes.hpp"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quillmere::testkit {

using Hook = dat::file_type::setup_model::AnimationHook;
using dat::graphics::Frame;

// ---- Hooks and frames ----------------------------------------------------------------------

/// Payload size of a fixed-size hook type (0 to 26, ReplaceObject excluded), from the format's
/// table as the test kit keeps it.
[[nodiscard]] std::uint32_t hook_payload_size(std::uint32_t hook_type);

/// A hook of `hook_type` (0 to 26) whose payload has the right size for the type and bytes derived
/// from `seed` (an unknown type gets an empty payload). ReplaceObject takes the short form (3
/// bytes, one padding byte) for an even seed and the long form (5 bytes, three padding bytes) for
/// an odd one; padding bytes are non-zero.
[[nodiscard]] Hook make_hook(std::uint32_t hook_type, std::int32_t direction, std::uint32_t seed);

/// A ReplaceObject hook in the short form: `part_index`, the word `upper` (bit 15 clear) and one
/// padding byte.
[[nodiscard]] Hook make_replace_object_short(std::int32_t direction, std::uint8_t part_index,
                                             std::uint16_t upper, std::uint8_t padding);

/// A ReplaceObject hook in the long form: `part_index`, `upper` (bit 15 set), `lower` and three
/// padding bytes.
[[nodiscard]] Hook make_replace_object_long(std::int32_t direction, std::uint8_t part_index,
                                            std::uint16_t upper, std::uint16_t lower,
                                            std::array<std::uint8_t, 3> padding);

/// A finite, varied placement derived from `seed`.
[[nodiscard]] Frame make_frame(std::uint32_t seed);

/// The context messages, innermost first, of a `Frame` read that runs out of input after
/// `offset_in_frame` (0 to 27) of its bytes, as the Frame reader reports them; empty past 27.
[[nodiscard]] std::vector<std::string> frame_contexts_at(std::size_t offset_in_frame);

/// Appends a hook: type, direction, then `data` as it is (payload and padding).
void append_hook(Bytes& out, const Hook& hook);
/// Appends a frame: origin x, y, z, then orientation w, x, y, z.
void append_frame(Bytes& out, const Frame& frame);

// ---- Animation files -----------------------------------------------------------------------

/// One frame of an animation or a setup placement.
struct AnimationFrameSpec {
    std::vector<Frame> frames;
    std::vector<Hook> hooks;
    /// Written instead of the number of hooks when set.
    std::optional<std::uint32_t> num_hooks;
};

struct AnimationSpec {
    std::uint32_t id = 0x03000001;
    std::uint32_t flags = 0;
    /// Default: the number of frames of the first part frame, or 0.
    std::optional<std::uint32_t> num_parts;
    /// Default: the number of part frames.
    std::optional<std::uint32_t> num_frames;
    /// Written only when `flags` has bit 0x1.
    std::vector<Frame> pos_frames;
    std::vector<AnimationFrameSpec> part_frames;
};

void append_animation_frame(Bytes& out, const AnimationFrameSpec& frame);
[[nodiscard]] std::vector<std::uint8_t> build_animation(const AnimationSpec& plan);

/// A consistent animation: `num_frames` frames of `num_parts` placements, root placements when
/// `pos_frames`, and `hooks_per_frame` hooks per frame whose types cycle through all 27 (both
/// ReplaceObject forms occur), everything derived from `seed`.
[[nodiscard]] AnimationSpec make_animation_spec(std::uint32_t seed, std::uint32_t num_parts,
                                                std::uint32_t num_frames,
                                                std::uint32_t hooks_per_frame, bool pos_frames);

/// The value a correct decoder gives for the file of a consistent `plan` (counts matching lists).
[[nodiscard]] dat::file_type::animation::Animation expected_animation(const AnimationSpec& plan);

// ---- Setup models --------------------------------------------------------------------------

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

// ---- Physics scripts -----------------------------------------------------------------------

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

// ---- Hostile inputs ------------------------------------------------------------------------

/// Runs `check` in a forked child process whose private writable memory may grow by at most
/// `budget_bytes` beyond what this process holds now, and whose CPU time is limited to
/// `cpu_seconds`. Returns the child's exit code: 0 when `check` returned true, 1 when it returned
/// false, 2 when an allocation failed; a child killed by a signal gives 128 + the signal number.
/// Meant for tests that a hostile count neither allocates nor loops out of proportion. Where the
/// current usage cannot be read (no /proc), only the CPU limit applies.
[[nodiscard]] int run_with_memory_budget(std::uint64_t budget_bytes, unsigned cpu_seconds,
                                         const std::function<bool()>& check);

} // namespace quillmere::testkit
