// The full sweep shares its files between two threads, which take stretches of the ordered list
// from its two ends until they meet. These tests run the checker on archives whose failures lie
// all along the list and require what one pass over it gives: FAIL lines in list order, the full
// count, and the first round-trip failure in list order, whichever thread meets its own first.
#include "file_types.hpp"
#include "full_sweep.hpp"
#include "quillmere/common/byte_cursor.hpp"
#include "quillmere/common/text.hpp"
#include "quillmere/dat/dat_database.hpp"
#include "quillmere/testkit/archive_builder.hpp"
#include "quillmere/testkit/portal_files.hpp"
#include "quillmere/testkit/process.hpp"
#include "quillmere/testkit/temp_file.hpp"
#include "sweeps.hpp"

#include <gtest/gtest.h>

namespace quillmere::parity {
namespace {

using testkit::ArchiveBuilder;
using testkit::make_hook;

constexpr const char* kSweep = "animation_hook_parity_sweep_against_retail_portal_dat";

testkit::ProcessOutput run_sweep(const std::filesystem::path& archive) {
    return testkit::run_process(QUILLMERE_CHECKER_PATH,
                                {"animation_hook_parity", "--no-capture", "--exact", kSweep},
                                {"QUILLMERE_PORTAL_DAT=" + archive.string()});
}

std::vector<std::uint8_t> animation(std::uint32_t id, std::uint32_t parts) {
    return testkit::build_animation(testkit::make_animation_spec(id, parts, 4, 2, id % 2 == 0));
}

std::vector<std::uint8_t> physics_script(std::uint32_t id, std::size_t trailing) {
    testkit::PhysicsScriptSpec plan;
    plan.id = id;
    plan.entries = {{0.0, make_hook(1, 0, 1)}, {0.5, make_hook(13, 1, 2)}};
    auto bytes = testkit::build_physics_script(plan);
    bytes.resize(bytes.size() + trailing, 0xEE);
    return bytes;
}

// The FAIL lines and failure count of one pass over the archive's files in the case's order,
// worked out file by file with the library and the sweeps.
std::pair<std::vector<std::string>, std::size_t>
single_pass_failures(const std::filesystem::path& path) {
    auto dat = dat::DatDatabase::open(path);
    EXPECT_TRUE(dat);
    using dat::file_type::FileType;
    struct Type {
        FileType file_type;
        Sweep sweep;
        const char* kind;
    };
    const Type types[] = {{FileType::Animation, sweep_animation_hooks, "animation"},
                          {FileType::SetupModel, sweep_setup_model_hooks, "setup_model"},
                          {FileType::PhysicsScript, sweep_physics_script_hooks, "physics_script"}};
    std::vector<std::string> lines;
    for (const Type& type : types) {
        std::vector<std::uint32_t> ids;
        for (const auto& [id, entry] : dat->files()) {
            if (dat::file_type::of(id) == type.file_type) {
                ids.push_back(id);
            }
        }
        std::ranges::sort(ids);
        for (std::uint32_t id : ids) {
            const std::string head = "FAIL [" + std::string(type.kind);
            auto bytes = dat->get_file(id);
            if (!bytes) {
                lines.push_back(head + ":get_file] 0x" + common::hex8(id) + ": " +
                                bytes.error().message());
                continue;
            }
            VariantStats stats;
            std::uint64_t walked = 0;
            auto swept = type.sweep(*bytes, id, stats, walked);
            if (!swept) {
                lines.push_back(head + "] 0x" + common::hex8(id) + ": " + swept.error());
            }
        }
    }
    const std::size_t count = lines.size();
    lines.resize(std::min<std::size_t>(lines.size(), 20));
    return {lines, count};
}

TEST(SplitSweepTest, FailuresFromBothStretchesComeInListOrder) {
    ArchiveBuilder builder(1024);
    builder.shuffle_blocks(3);
    // Animations of growing size, every third one cut short.
    for (std::uint32_t i = 1; i <= 45; ++i) {
        auto bytes = animation(0x03000000 + i, 1 + i / 3);
        if (i % 3 == 0) {
            bytes.resize(bytes.size() / 2);
        }
        builder.add_file(0x03000000 + i, bytes, {.compress = i % 5 == 0});
    }
    // Setup models whose entries point past the end of the archive cannot be fetched.
    for (std::uint32_t i = 1; i <= 6; ++i) {
        if (i % 2 == 0) {
            testkit::EntrySpec entry;
            entry.id = 0x02000000 + i;
            entry.offset = 0xFFFFF000U;
            entry.size = 64;
            builder.add_entry(entry);
        } else {
            builder.add_file(0x02000000 + i, testkit::build_setup_model(
                                                 testkit::make_setup_model_spec(i, 3, 2, 1, 1)));
        }
    }
    for (std::uint32_t i = 1; i <= 4; ++i) {
        auto bytes = physics_script(0x33000000 + i, 0);
        if (i == 2) {
            bytes.resize(12);
        }
        builder.add_file(0x33000000 + i, bytes);
    }
    testkit::TempFile file({}, "split-sweep");
    builder.write_to(file.path());

    const auto [lines, count] = single_pass_failures(file.path());
    ASSERT_EQ(count, 15U + 3U + 1U);
    std::string expected;
    for (const auto& line : lines) {
        expected += line + "\n";
    }
    for (int run = 0; run < 3; ++run) {
        const auto result = run_sweep(file.path());
        EXPECT_EQ(result.status, 101);
        // The case's output comes first, then the runner's failure text.
        EXPECT_EQ(result.err.substr(0, expected.size()), expected);
        EXPECT_NE(result.err.find("19 animation-hook parity failures across 45 animation, 6 "
                                  "setup-model, 4 physics-script files"),
                  std::string::npos);
    }
}

TEST(SplitSweepTest, TheFirstRoundTripFailureInListOrderEndsTheCase) {
    ArchiveBuilder builder(1024);
    for (std::uint32_t i = 1; i <= 3; ++i) {
        builder.add_file(0x03000000 + i, animation(0x03000000 + i, 1));
    }
    // Both scripts fail; the second, last on the list, is the first the thread taking
    // stretches from the back meets.
    builder.add_file(0x33000001, physics_script(0x33000001, 3000));
    builder.add_file(0x33000002, physics_script(0x33000002, 1));
    testkit::TempFile file({}, "split-sweep");
    builder.write_to(file.path());

    for (int run = 0; run < 5; ++run) {
        const auto result = run_sweep(file.path());
        EXPECT_EQ(result.status, 101);
        EXPECT_FALSE(result.err.starts_with("FAIL"));
        EXPECT_NE(result.err.find("PhysicsScript 0x33000001 did not round-trip byte-equal"),
                  std::string::npos);
        EXPECT_EQ(result.err.find("PhysicsScript 0x33000002"), std::string::npos);
    }
}

// A list long enough that both threads take many stretches: every failure, not only the first
// twenty the report prints, comes in list order.
TEST(SplitSweepTest, EveryFailureOfAManyStretchListComesInListOrder) {
    ArchiveBuilder builder(1024);
    std::vector<std::uint32_t> failing;
    for (std::uint32_t i = 1; i <= 3000; ++i) {
        auto bytes = animation(0x03000000 + i, 1);
        if (i % 3 == 0) {
            bytes.resize(bytes.size() / 2);
            failing.push_back(0x03000000 + i);
        }
        builder.add_file(0x03000000 + i, bytes);
    }
    testkit::TempFile file({}, "split-sweep");
    builder.write_to(file.path());
    auto dat = dat::DatDatabase::open(file.path());
    ASSERT_TRUE(dat);

    for (int run = 0; run < 3; ++run) {
        const SweepOutcome outcome = sweep_all(*dat);
        std::vector<std::uint32_t> ids;
        for (const Failure& failure : outcome.failures) {
            ids.push_back(failure.id);
        }
        EXPECT_EQ(ids, failing);
        EXPECT_EQ(outcome.types[kAnimationType].stats.files, 2000U);
    }
}

} // namespace
} // namespace quillmere::parity
