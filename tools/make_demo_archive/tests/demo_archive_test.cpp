// The demo archive opens and reads like a real one, repeats itself for a seed, and passes the
// checker.
#include "demo_archive.hpp"
#include "quillmere/common/byte_cursor.hpp"
#include "quillmere/dat/dat_database.hpp"
#include "quillmere/dat/file_type/animation.hpp"
#include "quillmere/dat/file_type/physics_script.hpp"
#include "quillmere/dat/file_type/setup_model.hpp"
#include "quillmere/testkit/process.hpp"
#include "quillmere/testkit/temp_file.hpp"

#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <iterator>

namespace quillmere::demo {
namespace {

using dat::DatDatabase;
using testing::HasSubstr;

std::vector<char> slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

DemoOptions files(std::uint32_t count, std::uint64_t seed = 1) {
    DemoOptions options;
    options.seed = seed;
    options.files = count;
    return options;
}

TEST(DemoArchiveTest, SameSeedGivesSameBytesAndAnotherSeedDoesNot) {
    testkit::TempDir dir("demo");
    write_demo_archive(dir.path() / "a.dat", files(300, 7));
    write_demo_archive(dir.path() / "b.dat", files(300, 7));
    write_demo_archive(dir.path() / "c.dat", files(300, 8));
    const auto a = slurp(dir.path() / "a.dat");
    EXPECT_EQ(a, slurp(dir.path() / "b.dat"));
    EXPECT_NE(a, slurp(dir.path() / "c.dat"));
}

TEST(DemoArchiveTest, ScatteredBlocksHoldTheSameFiles) {
    testkit::TempDir dir("demo");
    DemoOptions scattered = files(300, 5);
    scattered.scatter = true;
    write_demo_archive(dir.path() / "plain.dat", files(300, 5));
    write_demo_archive(dir.path() / "scattered.dat", scattered);
    EXPECT_NE(slurp(dir.path() / "plain.dat"), slurp(dir.path() / "scattered.dat"));
    auto plain = DatDatabase::open(dir.path() / "plain.dat");
    auto shuffled = DatDatabase::open(dir.path() / "scattered.dat");
    ASSERT_TRUE(plain && shuffled);
    ASSERT_EQ(plain->files().size(), shuffled->files().size());
    for (const auto& [id, entry] : plain->files()) {
        auto a = plain->get_file(id);
        auto b = shuffled->get_file(id);
        ASSERT_TRUE(a && b) << std::hex << id;
        EXPECT_EQ(*a, *b) << std::hex << id;
    }
}

TEST(DemoArchiveTest, EveryFileReadsBackAndTheSweptTypesDecode) {
    testkit::TempDir dir("demo");
    const auto path = dir.path() / "demo.dat";
    const DemoSummary summary = write_demo_archive(path, files(800));
    ASSERT_EQ(summary.files, 800U);
    EXPECT_EQ(summary.animations + summary.setup_models + summary.physics_scripts + summary.others,
              summary.files);
    EXPECT_GT(summary.animations, 0U);
    EXPECT_GT(summary.setup_models, 0U);
    EXPECT_GT(summary.physics_scripts, 0U);
    EXPECT_GT(summary.compressed, 0U);
    EXPECT_EQ(summary.hooks[0], 0U) << "NoOp hooks stay absent";
    EXPECT_GT(summary.hooks[1], summary.hooks[13]) << "Sound is the most common hook";

    auto opened = DatDatabase::open(path);
    ASSERT_TRUE(opened) << opened.error().message();
    const DatDatabase& dat = *opened;
    EXPECT_EQ(dat.header().block_size, 1024U);
    EXPECT_EQ(dat.archive_length(), summary.archive_bytes);
    ASSERT_EQ(dat.files().size(), summary.files);
    EXPECT_TRUE(dat.files().contains(0x330007DB));

    std::uint64_t compressed = 0;
    std::uint64_t swept_bytes = 0;
    std::uint64_t hooks = 0;
    std::uint32_t max_parts = 0;
    bool saw_root_frames = false;
    for (const auto& [id, entry] : dat.files()) {
        compressed += entry.is_compressed() ? 1U : 0U;
        auto bytes = dat.get_file(id);
        ASSERT_TRUE(bytes) << std::hex << id << ": " << bytes.error().message();
        common::ByteCursor cursor(*bytes);
        const std::uint32_t type = id >> 24;
        if (type == 0x03) {
            auto animation = dat::file_type::animation::Animation::read(cursor);
            ASSERT_TRUE(animation) << std::hex << id;
            max_parts = std::max(max_parts, animation->num_parts);
            saw_root_frames = saw_root_frames || !animation->pos_frames.empty();
            for (const auto& frame : animation->part_frames) {
                hooks += frame.hooks.size();
            }
        } else if (type == 0x02) {
            auto model = dat::file_type::setup_model::SetupModel::read(cursor);
            ASSERT_TRUE(model) << std::hex << id;
            for (const auto& [key, placement] : model->placement_frames) {
                hooks += placement.anim_frame.hooks.size();
            }
        } else if (type == 0x33) {
            auto script = dat::file_type::physics_script::PhysicsScript::unpack(*bytes);
            ASSERT_TRUE(script) << std::hex << id;
            hooks += script->script_data.size();
        } else {
            continue;
        }
        swept_bytes += bytes->size();
    }
    EXPECT_EQ(compressed, summary.compressed);
    EXPECT_EQ(swept_bytes, summary.swept_bytes);
    EXPECT_EQ(hooks, summary.total_hooks());
    EXPECT_GT(max_parts, 12U);
    EXPECT_TRUE(saw_root_frames);
}

TEST(DemoArchiveTest, TheCheckerPassesOnIt) {
    testkit::TempDir dir("demo");
    const auto path = dir.path() / "demo.dat";
    const auto made = testkit::run_process(
        QUILLMERE_DEMO_PATH,
        {"make_demo_archive", "--output", path.string(), "--files", "1500", "--seed", "3"}, {});
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_THAT(made.out,
                HasSubstr("make_demo_archive: wrote " + path.string() + " (seed 3): 1500 files ("));

    const auto run =
        testkit::run_process(QUILLMERE_CHECKER_PATH, {"animation_hook_parity", "--no-capture"},
                             {"QUILLMERE_PORTAL_DAT=" + path.string()});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_THAT(run.err, HasSubstr("[animation_hook_parity] SWEPT files: anim="));
    EXPECT_THAT(run.err, HasSubstr("[animation_hook_parity_smoke] OK"));
}

TEST(DemoArchiveTest, CommandLineRefusesBadArguments) {
    const std::vector<std::vector<std::string>> bad = {
        {"--files"}, {"--files", "0"}, {"--files", "12x"}, {"--size", "-1"}, {"--bogus"},
    };
    for (const auto& tail : bad) {
        std::vector<std::string> args{"make_demo_archive"};
        args.insert(args.end(), tail.begin(), tail.end());
        const auto run = testkit::run_process(QUILLMERE_DEMO_PATH, args, {});
        EXPECT_EQ(run.status, 2) << args[1];
        EXPECT_THAT(run.err, HasSubstr("make_demo_archive: ")) << args[1];
    }
    const auto help =
        testkit::run_process(QUILLMERE_DEMO_PATH, {"make_demo_archive", "--help"}, {});
    EXPECT_EQ(help.status, 0);
    EXPECT_THAT(help.out, HasSubstr("--seed N"));
}

} // namespace
} // namespace quillmere::demo
