// A synthetic portal archive that every layer takes for a real one: a B-tree directory over
// files of many types and sizes, some of them compressed, and animations, setup models and
// physics scripts carrying hooks of every common type. Deterministic for a given seed.
#pragma once

#include "quillmere/common/random.hpp"
#include "quillmere/dat/file_type/animation_hook.hpp"
#include "quillmere/dat/file_type/file_type.hpp"

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quillmere::demo {

/// What a demo file is; the first three are the types the checker sweeps.
enum class DemoKind { Animation, SetupModel, PhysicsScript, Other };

/// One file of the demo archive, before it is stored.
struct DemoFile {
    std::uint32_t id = 0;
    DemoKind kind = DemoKind::Other;
    /// The file's contents as a reader gets them back (uncompressed).
    std::vector<std::uint8_t> contents;
    /// Stored compressed (the directory entry is flagged).
    bool compress = false;
    /// Hooks the file carries, by hook type.
    std::array<std::uint32_t, dat::file_type::setup_model::kHookTypeCount> hooks{};
};

/// Makes the demo's files one after another. The n-th file depends only on the seed and n, so
/// any prefix of the sequence is the same for every scale.
///
/// Proportions follow a retail archive: about 15% animations (1 to 34 parts, 1 to 50 frames,
/// half with root placements), 13% setup models (1 to 34 parts, placements, cylinders, spheres,
/// lights), 4% physics scripts (file 0x330007DB among them) and the rest other types with mostly
/// small sizes and a long tail up to 256 KiB. A tenth of the swept files and a few small others
/// are stored compressed. Hook types are drawn with retail-like weights: Sound the most common,
/// TextureVelocityPart and NoOp absent.
/// The first id of a hook-carrying type's range.
[[nodiscard]] constexpr std::uint32_t first_id(dat::file_type::FileType type) noexcept {
    return dat::file_type::range_of(type).first;
}

class DemoGenerator {
  public:
    explicit DemoGenerator(std::uint64_t seed);

    /// The next file of the sequence.
    [[nodiscard]] DemoFile next();

  private:
    [[nodiscard]] std::uint64_t random();

    common::SplitMix64 random_;
    // Each type's ids start just after the first id of its range.
    std::uint32_t next_animation_ = first_id(dat::file_type::FileType::Animation) + 1;
    std::uint32_t next_setup_model_ = first_id(dat::file_type::FileType::SetupModel) + 1;
    std::uint32_t next_physics_script_ = first_id(dat::file_type::FileType::PhysicsScript) + 1;
    std::array<std::uint32_t, 256> next_other_{};
    bool known_script_written_ = false;
};

/// How much to generate: `files` directory entries, or files until their contents reach
/// `target_bytes`; with both, whichever comes first; with neither, 4000 files.
struct DemoOptions {
    std::uint64_t seed = 1;
    std::optional<std::uint32_t> files;
    std::optional<std::uint64_t> target_bytes;
    /// Scatter every block over the archive (seeded) instead of storing each chain in
    /// consecutive blocks: the worst case for reading chains.
    bool scatter = false;
};

/// What was written.
struct DemoSummary {
    std::uint64_t files = 0;
    std::uint64_t animations = 0;
    std::uint64_t setup_models = 0;
    std::uint64_t physics_scripts = 0;
    std::uint64_t others = 0;
    std::uint64_t compressed = 0;
    std::array<std::uint64_t, dat::file_type::setup_model::kHookTypeCount> hooks{};
    /// Contents of the animations, setup models and physics scripts, uncompressed.
    std::uint64_t swept_bytes = 0;
    /// Contents of every file, uncompressed.
    std::uint64_t content_bytes = 0;
    std::uint64_t archive_bytes = 0;

    [[nodiscard]] std::uint64_t total_hooks() const noexcept;
};

/// Writes the demo archive (block size 1024) to `path`, replacing it. Throws
/// `std::runtime_error` when the file cannot be written.
DemoSummary write_demo_archive(const std::filesystem::path& path, const DemoOptions& options);

/// The one-line account of a written archive, without a line end.
[[nodiscard]] std::string summary_line(const std::filesystem::path& path,
                                       const DemoOptions& options, const DemoSummary& summary);

} // namespace quillmere::demo
