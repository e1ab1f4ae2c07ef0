// The demo archive: a seeded sequence of files shaped like a retail portal archive's, stored
// through the test kit's archive builder.
#include "demo_archive.hpp"

#include "quillmere/dat/file_type/animation_hook.hpp"
#include "quillmere/testkit/archive_builder.hpp"
#include "quillmere/testkit/portal_files.hpp"
#include "quillmere/tools/known_files.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numeric>

namespace quillmere::demo {
namespace {

using dat::file_type::FileType;
using testkit::AnimationFrameSpec;
using testkit::AnimationSpec;
using testkit::Frame;
using testkit::Hook;
using testkit::Keyed;
using testkit::PhysicsScriptSpec;
using testkit::SetupModelSpec;

constexpr std::uint32_t kBlockSize = 1024;
using tools::kKnownPhysicsScript;
constexpr std::uint32_t kDefaultFiles = 4000;

// How often each hook type occurs, per thousand hooks. Sound dominates, particles follow;
// NoOp and TextureVelocityPart never occur, as in retail archives.
constexpr std::array<std::uint32_t, dat::file_type::setup_model::kHookTypeCount> kHookWeights = {
    0,  300, 60, 60, 50, 25, 8,  30, 6, 10, 10, 12, 15, 140,
    40, 45,  8,  25, 6,  40, 30, 45, 6, 4,  0,  5,  20,
};
static_assert(std::accumulate(kHookWeights.begin(), kHookWeights.end(), 0U) == 1000);

// Top bytes of the other file types an archive holds besides the three swept ones.
constexpr std::array<std::uint8_t, 16> kOtherTypes = {
    0x01, 0x04, 0x05, 0x06, 0x08, 0x0A, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x20, 0x22, 0x27, 0x32, 0x34};

// Random draws for one file, seeded from the archive's seed and the file's index.
class Draw {
  public:
    explicit Draw(std::uint64_t seed) : random_(seed) {}
    std::uint64_t bits() { return random_.next(); }
    // Uniform in [low, high].
    std::uint32_t between(std::uint32_t low, std::uint32_t high) {
        return low + static_cast<std::uint32_t>(bits() % (std::uint64_t{high} - low + 1));
    }
    bool percent(std::uint32_t chance) { return bits() % 100 < chance; }
    // A multiple of 1/64 in [-range, range], so floats stay short and repeat like real data.
    float coarse(std::uint32_t range) {
        const auto steps = static_cast<std::int32_t>(between(0, 128 * range)) -
                           static_cast<std::int32_t>(64 * range);
        return static_cast<float>(steps) / 64.0F;
    }

  private:
    common::SplitMix64 random_;
};

std::uint32_t hook_type(Draw& draw) {
    auto pick = static_cast<std::uint32_t>(draw.bits() % 1000);
    for (std::uint32_t type = 0; type < kHookWeights.size(); ++type) {
        if (pick < kHookWeights[type]) {
            return type;
        }
        pick -= kHookWeights[type];
    }
    return 1;
}

Hook demo_hook(Draw& draw, DemoFile& file) {
    const std::uint32_t type = hook_type(draw);
    // Mostly forward, some both ways, a few backward.
    const std::uint32_t way = draw.between(0, 9);
    const std::int32_t direction = way < 7 ? 1 : (way < 9 ? 0 : -1);
    ++file.hooks[type];
    return testkit::make_hook(type, direction, static_cast<std::uint32_t>(draw.bits()));
}

// Part counts of animations and setup models: mostly a few parts, some full bodies of up to 34.
std::uint32_t part_count(Draw& draw) {
    const std::uint32_t band = draw.between(0, 99);
    if (band < 25) {
        return draw.between(1, 3);
    }
    if (band < 55) {
        return draw.between(4, 12);
    }
    return draw.between(13, 34);
}

// One part's placement in frame `f`: a slow drift from a base position, and an orientation
// that changes every few frames. Neighbouring frames share most of their bytes, as real ones do.
Frame moving_frame(const Frame& base, std::uint32_t f, float step) {
    static constexpr std::array<std::array<float, 4>, 6> kTurns = {{
        {1.0F, 0.0F, 0.0F, 0.0F},
        {0.9238795F, 0.0F, 0.0F, 0.38268343F},
        {0.70710677F, 0.0F, 0.0F, 0.70710677F},
        {0.9238795F, 0.38268343F, 0.0F, 0.0F},
        {0.70710677F, 0.0F, 0.70710677F, 0.0F},
        {0.5F, 0.5F, 0.5F, 0.5F},
    }};
    Frame frame = base;
    frame.origin.z += step * static_cast<float>(f);
    const auto& turn = kTurns[(f / 8 + static_cast<std::uint32_t>(base.orientation.w)) % 6];
    frame.orientation = {turn[0], turn[1], turn[2], turn[3]};
    return frame;
}

Frame base_frame(Draw& draw) {
    Frame frame;
    frame.origin = {draw.coarse(2), draw.coarse(2), draw.coarse(2)};
    // The orientation's w field carries a small phase for `moving_frame`.
    frame.orientation = {static_cast<float>(draw.between(0, 5)), 0.0F, 0.0F, 0.0F};
    return frame;
}

void make_animation(Draw& draw, DemoFile& file) {
    const std::uint32_t num_parts = part_count(draw);
    const std::uint32_t num_frames = draw.between(1, 50);
    const bool root_motion = draw.percent(50);

    AnimationSpec plan;
    plan.id = file.id;
    plan.flags = root_motion ? 0x1U : 0U;
    plan.num_parts = num_parts;
    if (root_motion) {
        const Frame root = base_frame(draw);
        const float speed = draw.coarse(1) / 8.0F;
        for (std::uint32_t f = 0; f < num_frames; ++f) {
            plan.pos_frames.push_back(moving_frame(root, f, speed));
        }
    }
    std::vector<Frame> bases;
    std::vector<float> steps;
    for (std::uint32_t p = 0; p < num_parts; ++p) {
        bases.push_back(base_frame(draw));
        steps.push_back(draw.coarse(1) / 16.0F);
    }
    // About three hooks per animation, on frames drawn at random.
    const std::uint32_t hook_chance = std::min<std::uint32_t>(100, 300 / num_frames + 1);
    plan.part_frames.reserve(num_frames);
    for (std::uint32_t f = 0; f < num_frames; ++f) {
        AnimationFrameSpec frame;
        frame.frames.reserve(num_parts);
        for (std::uint32_t p = 0; p < num_parts; ++p) {
            frame.frames.push_back(moving_frame(bases[p], f, steps[p]));
        }
        if (draw.percent(hook_chance)) {
            const std::uint32_t count = draw.percent(20) ? 2 : 1;
            for (std::uint32_t h = 0; h < count; ++h) {
                frame.hooks.push_back(demo_hook(draw, file));
            }
        }
        plan.part_frames.push_back(std::move(frame));
    }
    file.contents = testkit::build_animation(plan);
}

Frame still_frame(Draw& draw) {
    return moving_frame(base_frame(draw), draw.between(0, 40), 0.0F);
}

void make_setup_model(Draw& draw, DemoFile& file) {
    const std::uint32_t num_parts = part_count(draw);
    SetupModelSpec plan;
    plan.id = file.id;
    plan.flags = draw.between(0, 3);
    for (std::uint32_t i = 0; i < num_parts; ++i) {
        plan.parts.push_back(0x01000000U + draw.between(1, 0xFFFF));
        plan.parent_index.push_back(i == 0 ? 0xFFFFFFFFU : draw.between(0, i - 1));
        plan.default_scale.push_back({1.0F, 1.0F, draw.percent(80) ? 1.0F : draw.coarse(2)});
    }
    for (std::uint32_t k = draw.between(0, 3); k > 0; --k) {
        plan.holding_locations.push_back(
            {static_cast<std::int32_t>(k), {static_cast<std::int32_t>(k - 1), still_frame(draw)}});
    }
    for (std::uint32_t k = draw.between(0, 2); k > 0; --k) {
        plan.connection_points.push_back(
            {static_cast<std::int32_t>(k), {static_cast<std::int32_t>(k), still_frame(draw)}});
    }
    // The default placement (key 0) and sometimes a few more; now and then one carries a hook.
    const std::uint32_t placements = draw.percent(60) ? 1 : draw.between(2, 4);
    for (std::uint32_t k = 0; k < placements; ++k) {
        AnimationFrameSpec frame;
        for (std::uint32_t p = 0; p < num_parts; ++p) {
            frame.frames.push_back(still_frame(draw));
        }
        if (draw.percent(30)) {
            frame.hooks.push_back(demo_hook(draw, file));
        }
        plan.placement_frames.push_back(
            {static_cast<std::int32_t>(k == 0 ? 0 : 0x64 + k), std::move(frame)});
    }
    for (std::uint32_t k = draw.between(0, 2); k > 0; --k) {
        plan.cyl_spheres.push_back({{0.0F, 0.0F, 0.0F}, draw.coarse(2), draw.coarse(4)});
    }
    for (std::uint32_t k = draw.between(0, 3); k > 0; --k) {
        plan.spheres.push_back({{draw.coarse(1), draw.coarse(1), draw.coarse(2)}, draw.coarse(2)});
    }
    plan.height = draw.coarse(4);
    plan.radius = draw.coarse(2);
    plan.step_up = 0.25F;
    plan.step_down = 0.25F;
    plan.sorting_sphere = {{0.0F, 0.0F, draw.coarse(2)}, draw.coarse(4)};
    plan.selection_sphere = {{0.0F, 0.0F, draw.coarse(2)}, draw.coarse(4)};
    if (draw.percent(15)) {
        for (std::uint32_t k = draw.between(1, 2); k > 0; --k) {
            plan.lights.push_back({static_cast<std::int32_t>(k - 1),
                                   {still_frame(draw), 0xFF000000U | draw.between(0, 0xFFFFFF),
                                    draw.coarse(1), draw.coarse(8), draw.coarse(2)}});
        }
    }
    plan.default_ids = {
        draw.percent(70) ? first_id(FileType::Animation) + draw.between(1, 0x4000) : 0U,
        draw.percent(20) ? first_id(FileType::PhysicsScript) + draw.between(1, 0x1000) : 0U,
        draw.percent(60) ? 0x09000000U + draw.between(1, 0x1000) : 0U,
        draw.percent(50) ? 0x20000000U + draw.between(1, 0x100) : 0U,
        draw.percent(10) ? 0x34000000U + draw.between(1, 0x100) : 0U};
    file.contents = testkit::build_setup_model(plan);
}

void make_physics_script(Draw& draw, DemoFile& file) {
    PhysicsScriptSpec plan;
    plan.id = file.id;
    double start = 0;
    for (std::uint32_t k = draw.between(1, 12); k > 0; --k) {
        plan.entries.push_back({start, demo_hook(draw, file)});
        start += static_cast<double>(draw.between(0, 40)) * 0.05;
    }
    file.contents = testkit::build_physics_script(plan);
}

// Mostly small, a quarter middling, a long tail up to 256 KiB.
std::size_t other_size(Draw& draw) {
    const std::uint32_t band = draw.between(0, 999);
    if (band < 725) {
        return draw.between(64, 4096);
    }
    if (band < 975) {
        return draw.between(4096, 24 * 1024);
    }
    return draw.between(32 * 1024, 256 * 1024);
}

// Bytes with some structure: each 8-byte word is new or repeats one 64 bytes back, so the
// contents compress somewhat, like textures and meshes.
void make_other(Draw& draw, DemoFile& file) {
    const std::size_t size = other_size(draw);
    file.contents.resize(size);
    std::uint8_t* out = file.contents.data();
    std::memcpy(out, &file.id, 4);
    for (std::size_t at = 4; at < size; at += 8) {
        const std::uint64_t word = draw.bits();
        const std::size_t length = std::min<std::size_t>(8, size - at);
        if (at >= 64 && (word & 3) != 0) {
            std::memmove(out + at, out + at - 64, length);
        } else {
            std::memcpy(out + at, &word, length);
        }
    }
}

} // namespace

DemoGenerator::DemoGenerator(std::uint64_t seed) : random_(seed) {
    for (std::size_t i = 0; i < next_other_.size(); ++i) {
        next_other_[i] = (static_cast<std::uint32_t>(i) << 24) | 1U;
    }
}

std::uint64_t DemoGenerator::random() {
    return random_.next();
}

DemoFile DemoGenerator::next() {
    Draw draw(random());
    DemoFile file;
    const std::uint32_t pick = draw.between(0, 999);
    // Ids rise in small uneven steps within each type.
    const auto step = [&draw](std::uint32_t& next_id) {
        const std::uint32_t id = next_id;
        next_id += draw.between(1, 3);
        return id;
    };
    if (pick < 150) {
        file.kind = DemoKind::Animation;
        file.id = step(next_animation_);
        make_animation(draw, file);
    } else if (pick < 283) {
        file.kind = DemoKind::SetupModel;
        file.id = step(next_setup_model_);
        make_setup_model(draw, file);
    } else if (pick < 325) {
        file.kind = DemoKind::PhysicsScript;
        if (!known_script_written_) {
            // The first script takes the id every retail archive holds.
            file.id = kKnownPhysicsScript;
            known_script_written_ = true;
        } else {
            file.id = step(next_physics_script_);
            if (file.id == kKnownPhysicsScript) {
                file.id = step(next_physics_script_);
            }
        }
        make_physics_script(draw, file);
    } else {
        file.kind = DemoKind::Other;
        const std::uint8_t type = kOtherTypes[draw.between(0, kOtherTypes.size() - 1)];
        file.id = step(next_other_[type]);
        make_other(draw, file);
    }
    if (file.kind == DemoKind::Other) {
        file.compress = file.contents.size() <= 16 * 1024 && draw.percent(5);
    } else {
        file.compress = draw.percent(10);
    }
    return file;
}

std::uint64_t DemoSummary::total_hooks() const noexcept {
    return std::accumulate(hooks.begin(), hooks.end(), std::uint64_t{0});
}

DemoSummary write_demo_archive(const std::filesystem::path& path, const DemoOptions& options) {
    DemoGenerator generator(options.seed);
    testkit::ArchiveBuilder builder(kBlockSize);
    if (options.scatter) {
        builder.shuffle_blocks(options.seed);
    }
    builder.header().dataset = 1;
    builder.header().engine_version = 0x13;
    builder.header().game_version = 0x2D;
    builder.header().version_minor = 0x3EA;

    DemoSummary summary;
    const auto done = [&options, &summary] {
        if (options.files && summary.files >= *options.files) {
            return true;
        }
        if (options.target_bytes && summary.content_bytes >= *options.target_bytes) {
            return true;
        }
        return !options.files && !options.target_bytes && summary.files >= kDefaultFiles;
    };
    while (!done()) {
        DemoFile file = generator.next();
        ++summary.files;
        summary.content_bytes += file.contents.size();
        switch (file.kind) {
        case DemoKind::Animation:
            ++summary.animations;
            break;
        case DemoKind::SetupModel:
            ++summary.setup_models;
            break;
        case DemoKind::PhysicsScript:
            ++summary.physics_scripts;
            break;
        case DemoKind::Other:
            ++summary.others;
            break;
        }
        if (file.kind != DemoKind::Other) {
            summary.swept_bytes += file.contents.size();
        }
        for (std::size_t t = 0; t < file.hooks.size(); ++t) {
            summary.hooks[t] += file.hooks[t];
        }
        summary.compressed += file.compress ? 1 : 0;
        testkit::FileOptions stored;
        stored.compress = file.compress;
        stored.timestamp = 0x4F000000U + static_cast<std::uint32_t>(summary.files * 97 % 0xFFFFFF);
        stored.version = 1 + static_cast<std::uint32_t>(summary.files % 3);
        builder.add_file(file.id, std::move(file.contents), stored);
    }
    builder.write_to(path);
    summary.archive_bytes = builder.archive_length();
    return summary;
}

std::string summary_line(const std::filesystem::path& path, const DemoOptions& options,
                         const DemoSummary& summary) {
    const auto mib = [](std::uint64_t bytes) {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / 1048576.0);
        return std::string(text);
    };
    const auto n = [](std::uint64_t v) { return std::to_string(v); };
    return "make_demo_archive: wrote " + path.string() + " (seed " + n(options.seed) +
           "): " + n(summary.files) + " files (" + n(summary.animations) + " animations, " +
           n(summary.setup_models) + " setup models, " + n(summary.physics_scripts) +
           " physics scripts, " + n(summary.others) + " others; " + n(summary.compressed) +
           " compressed), " + n(summary.total_hooks()) + " hooks, " + mib(summary.archive_bytes) +
           " (swept files " + mib(summary.swept_bytes) + ")" +
           (options.scatter ? ", blocks scattered" : "");
}

} // namespace quillmere::demo
