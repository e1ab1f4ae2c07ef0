// The file types the checker sweeps: each one's sweep and the labels of its failures.
#pragma once

#include "quillmere/dat/dat_database.hpp"
#include "quillmere/dat/file_type/file_type.hpp"
#include "sweeps.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string_view>
#include <vector>

namespace quillmere::parity {

/// One file's hook sweep (see sweeps.hpp).
using Sweep = SweepResult (*)(std::span<const std::uint8_t>, std::uint32_t, VariantStats&,
                              std::uint64_t&);

/// What the checker knows of one swept file type. Fixed for the life of the program: what a
/// sweep finds is counted elsewhere (`TypeCounters`).
struct SweptType {
    /// The library's type, which says which ids are of it.
    dat::file_type::FileType file_type;
    Sweep sweep;
    /// Label of the FAIL line of a file that does not decode or re-encode.
    std::string_view kind;
    /// Label of the FAIL line of a file that cannot be read from the archive.
    std::string_view fetch_kind;
    /// The type's name in the smoke case's failure message (the smoke case takes animations and
    /// setup models by range, and one physics script by its id).
    std::string_view smoke_label;
};

inline constexpr std::size_t kAnimationType = 0;
inline constexpr std::size_t kSetupModelType = 1;
inline constexpr std::size_t kPhysicsScriptType = 2;

/// The swept types in the order the full case sweeps them (and reports them).
inline constexpr std::array<SweptType, 3> kSweptTypes{{
    {dat::file_type::FileType::Animation, sweep_animation_hooks, "animation", "animation:get_file",
     "animation"},
    {dat::file_type::FileType::SetupModel, sweep_setup_model_hooks, "setup_model",
     "setup_model:get_file", "setup"},
    {dat::file_type::FileType::PhysicsScript, sweep_physics_script_hooks, "physics_script",
     "physics_script:get_file", "physics_script"},
}};

/// The archive's directory entries of each of `types`, one list per type by ascending id: every
/// entry, or with `keep` only the `keep` lowest ids. One pass over the directory map serves every
/// type, since walking the map is what costs, and the entries carry what the sweeps need of them
/// (the stored size), so no file is looked up in the map again.
[[nodiscard]] std::vector<std::vector<dat::DatFileEntry>>
entries_of_types(const dat::DatDatabase& dat, std::span<const SweptType> types,
                 std::size_t keep = std::numeric_limits<std::size_t>::max());

} // namespace quillmere::parity
