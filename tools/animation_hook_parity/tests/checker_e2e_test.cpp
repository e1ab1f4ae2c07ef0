// End-to-end: runs the checker executable against archives written by the test kit and checks
// its exit status, result lines and report to the byte.
#include "quillmere/testkit/archive_builder.hpp"
#include "quillmere/testkit/bytes.hpp"
#include "quillmere/testkit/portal_files.hpp"
#include "quillmere/testkit/process.hpp"
#include "quillmere/testkit/temp_file.hpp"
#include "quillmere/tools/hook_type_names.hpp"

#include <cstdio>
#include <gtest/gtest.h>

namespace quillmere::parity {
namespace {

using testkit::AnimationFrameSpec;
using testkit::AnimationSpec;
using testkit::ArchiveBuilder;
using testkit::Hook;
using testkit::make_hook;
using testkit::PhysicsScriptSpec;
using testkit::SetupModelSpec;

constexpr const char* kSmoke = "animation_hook_parity_smoke_against_known_retail_files";
constexpr const char* kSweep = "animation_hook_parity_sweep_against_retail_portal_dat";

std::vector<Hook> hooks_of(std::uint32_t type, std::size_t count) {
    std::vector<Hook> hooks;
    for (std::size_t i = 0; i < count; ++i) {
        hooks.push_back(
            make_hook(type, static_cast<std::int32_t>(i % 3) - 1, static_cast<std::uint32_t>(i)));
    }
    return hooks;
}

std::vector<std::uint8_t> physics_script(std::uint32_t id, const std::vector<Hook>& hooks) {
    PhysicsScriptSpec plan;
    plan.id = id;
    for (std::size_t i = 0; i < hooks.size(); ++i) {
        plan.entries.push_back({0.25 * static_cast<double>(i), hooks[i]});
    }
    return testkit::build_physics_script(plan);
}

std::vector<std::uint8_t> one_frame_animation(std::uint32_t id, std::vector<Hook> hooks) {
    AnimationSpec plan;
    plan.id = id;
    plan.part_frames.push_back(AnimationFrameSpec{{testkit::make_frame(id)}, std::move(hooks), {}});
    return testkit::build_animation(plan);
}

std::vector<std::uint8_t> one_placement_setup_model(std::uint32_t id, Hook hook) {
    SetupModelSpec plan;
    plan.id = id;
    plan.parts = {0x01000001};
    plan.placement_frames = {{0, AnimationFrameSpec{{testkit::make_frame(id)}, {hook}, {}}}};
    return testkit::build_setup_model(plan);
}

// What one run of the checker printed.
struct Run {
    int status;
    std::string out;
    std::string err;

    // The captured output of a failed case: the text of its "---- NAME stdout ----" section.
    [[nodiscard]] std::string section(const std::string& name) const {
        const std::string head = "---- " + name + " stdout ----\n";
        const auto start = out.find(head);
        if (start == std::string::npos) {
            return "";
        }
        const auto body = start + head.size();
        const auto end = std::min({out.find("\n---- ", body), out.find("\nfailures:\n", body),
                                   out.find("\nsuccesses:\n", body)});
        // The last section is followed by one more empty line than the others; which section is
        // last depends on completion order, so every section is given exactly one line end.
        auto text = out.substr(body, end == std::string::npos ? std::string::npos : end - body);
        while (text.ends_with("\n\n")) {
            text.pop_back();
        }
        return text;
    }
};

Run run_checker(const std::filesystem::path& archive, std::vector<std::string> args = {}) {
    args.insert(args.begin(), "animation_hook_parity");
    auto result = testkit::run_process(QUILLMERE_CHECKER_PATH, args,
                                       {"QUILLMERE_PORTAL_DAT=" + archive.string()});
    return {result.status, result.out, result.err};
}

// An archive written to a temporary file, removed with the object.
class Archive {
  public:
    explicit Archive(ArchiveBuilder& builder) { builder.write_to(file_.path()); }
    [[nodiscard]] const std::filesystem::path& path() const { return file_.path(); }

  private:
    testkit::TempFile file_{{}, "e2e-archive"};
};

// Fifteen hook types in all three file types, 1016 hooks, one compressed file, files of other
// types beside them, and files at both ends of each type's id range and just outside it.
ArchiveBuilder realistic_archive() {
    ArchiveBuilder builder(1024);
    builder.shuffle_blocks(7);

    AnimationSpec with_roots;
    with_roots.id = 0x03000001;
    with_roots.flags = 0x1;
    with_roots.pos_frames = {testkit::make_frame(1), testkit::make_frame(2),
                             testkit::make_frame(3)};
    auto replace = hooks_of(5, 2); // one long and one short ReplaceObject
    with_roots.part_frames = {
        {{testkit::make_frame(4), testkit::make_frame(5)}, hooks_of(1, 300), {}},
        {{testkit::make_frame(6), testkit::make_frame(7)}, hooks_of(1, 300), {}},
        {{testkit::make_frame(8), testkit::make_frame(9)}, replace, {}},
    };
    builder.add_file(0x03000001, testkit::build_animation(with_roots));

    auto particles = hooks_of(13, 2);
    particles.push_back(make_hook(3, 0, 1));
    builder.add_file(0x03000002, one_frame_animation(0x03000002, particles));

    AnimationSpec empty_animation;
    empty_animation.id = 0x03000003;
    empty_animation.num_parts = 4;
    builder.add_file(0x03000003, testkit::build_animation(empty_animation), {.compress = true});

    SetupModelSpec setup;
    setup.id = 0x02000001;
    setup.parts = {0x01000001};
    setup.placement_frames = {
        {0, AnimationFrameSpec{{testkit::make_frame(10)},
                               {make_hook(12, 0, 1), make_hook(8, 1, 2)},
                               {}}},
        {-1, AnimationFrameSpec{{testkit::make_frame(11)}, {make_hook(0, 0, 0)}, {}}},
    };
    builder.add_file(0x02000001, testkit::build_setup_model(setup));
    SetupModelSpec bare;
    bare.id = 0x02000002;
    builder.add_file(0x02000002, testkit::build_setup_model(bare), {.compress = true});

    auto moon = hooks_of(1, 400);
    moon.push_back(make_hook(25, 0, 1));
    builder.add_file(0x330007DB, physics_script(0x330007DB, moon));
    builder.add_file(0x33000001, physics_script(0x33000001, {make_hook(19, 0, 1)}));

    builder.add_file(0x01000001, std::vector<std::uint8_t>(3000, 0x5A));
    builder.add_file(0x04000001, std::vector<std::uint8_t>(10, 0));

    // Each range's first and last id hold a file with a hook type seen nowhere else; the ids
    // just outside hold files of the neighbouring range's type, so a range one id too short or
    // too long changes the counts.
    builder.add_file(0x03000000, one_frame_animation(0x03000000, {make_hook(2, 0, 1)}));
    builder.add_file(0x03FFFFFF, one_frame_animation(0x03FFFFFF, {make_hook(4, 0, 1)}));
    builder.add_file(0x04000000, one_frame_animation(0x04000000, {make_hook(14, 0, 1)}));
    builder.add_file(0x02000000, one_placement_setup_model(0x02000000, make_hook(6, 0, 1)));
    builder.add_file(0x02FFFFFF, one_placement_setup_model(0x02FFFFFF, make_hook(7, 0, 1)));
    builder.add_file(0x01FFFFFF, one_placement_setup_model(0x01FFFFFF, make_hook(11, 0, 1)));
    builder.add_file(0x33000000, physics_script(0x33000000, {make_hook(9, 0, 1)}));
    builder.add_file(0x33FFFFFF, physics_script(0x33FFFFFF, {make_hook(10, 0, 1)}));
    builder.add_file(0x34000000, physics_script(0x34000000, {make_hook(15, 0, 1)}));
    return builder;
}

const char* const kRealisticReport =
    "[animation_hook_parity] SWEPT files: anim=5/5 setup=4/4 pscript=4/4\n"
    "[animation_hook_parity] HOOKS: anim=607 setup=5 pscript=404 total=1016\n"
    "[animation_hook_parity] BYTES round-tripped: anim=7380 setup=80 pscript=4872\n"
    "[animation_hook_parity] PER-VARIANT COUNTS (retail portal.dat):\n"
    "id   name                            anim      setup    pscript      total\n"
    "0    NoOp                               0          1          0          1\n"
    "1    Sound                            600          0        400       1000\n"
    "2    SoundTable                         1          0          0          1\n"
    "3    Attack                             1          0          0          1\n"
    "4    AnimationDone                      1          0          0          1\n"
    "5    ReplaceObject                      2          0          0          2\n"
    "6    Ethereal                           0          1          0          1\n"
    "7    TransparentPart                    0          1          0          1\n"
    "8    Luminous                           0          1          0          1\n"
    "9    LuminousPart                       0          0          1          1\n"
    "10   Diffuse                            0          0          1          1\n"
    "11   DiffusePart                        0          0          0          0\n"
    "12   Scale                              0          1          0          1\n"
    "13   CreateParticle                     2          0          0          2\n"
    "14   DestroyParticle                    0          0          0          0\n"
    "15   StopParticle                       0          0          0          0\n"
    "16   NoDraw                             0          0          0          0\n"
    "17   DefaultScript                      0          0          0          0\n"
    "18   DefaultScriptPart                  0          0          0          0\n"
    "19   CallPES                            0          0          1          1\n"
    "20   Transparent                        0          0          0          0\n"
    "21   SoundTweaked                       0          0          0          0\n"
    "22   SetOmega                           0          0          0          0\n"
    "23   TextureVelocity                    0          0          0          0\n"
    "24   TextureVelocityPart                0          0          0          0\n"
    "25   SetLight                           0          0          1          1\n"
    "26   CreateBlockingParticle             0          0          0          0\n"
    "[animation_hook_parity] UNUSED-IN-RETAIL variants (12):\n"
    "  11 DiffusePart\n"
    "  14 DestroyParticle\n"
    "  15 StopParticle\n"
    "  16 NoDraw\n"
    "  17 DefaultScript\n"
    "  18 DefaultScriptPart\n"
    "  20 Transparent\n"
    "  21 SoundTweaked\n"
    "  22 SetOmega\n"
    "  23 TextureVelocity\n"
    "  24 TextureVelocityPart\n"
    "  26 CreateBlockingParticle\n";

// Replaces the run time of the summary line ("finished in 0.01s") with "#".
std::string normalise_time(std::string text) {
    const std::string marker = "finished in ";
    if (const auto at = text.find(marker); at != std::string::npos) {
        const auto start = at + marker.size();
        const auto end = text.find('s', start);
        text.replace(start, end - start, "#");
    }
    return text;
}

TEST(CheckerE2eTest, RealisticArchivePassesWithTheWholeReport) {
    auto builder = realistic_archive();
    const Archive archive(builder);
    const auto run = run_checker(archive.path(), {"--no-capture", "--test-threads", "1"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.err,
              std::string("[animation_hook_parity_smoke] OK \u2014 hooks=1013 bytes=12272\n") +
                  kRealisticReport);
    EXPECT_EQ(normalise_time(run.out),
              std::string("\nrunning 2 tests\n") + "test " + kSmoke + " ... ok\n" + "test " +
                  kSweep + " ... ok\n\n" +
                  "test result: ok. 2 passed; 0 failed; 0 ignored; 0 measured; 0 filtered out; "
                  "finished in #s\n\n");
}

TEST(CheckerE2eTest, ParallelCasesGiveTheSameResultAsOneAtATime) {
    auto builder = realistic_archive();
    const Archive archive(builder);
    const auto serial = run_checker(archive.path(), {"--show-output", "--test-threads", "1"});
    const auto parallel = run_checker(archive.path(), {"--show-output", "--test-threads", "2"});
    EXPECT_EQ(serial.status, 0);
    EXPECT_EQ(parallel.status, 0);
    for (const auto* name : {kSmoke, kSweep}) {
        EXPECT_EQ(parallel.section(name), serial.section(name)) << name;
        EXPECT_NE(parallel.out.find(std::string("test ") + name + " ... ok\n"), std::string::npos);
    }
    EXPECT_NE(serial.section(kSweep).find(kRealisticReport), std::string::npos);
}

// The report of an archive without hooks: every count 0, all 27 types unused.
std::string empty_report(const char* swept) {
    std::string report =
        std::string("[animation_hook_parity] SWEPT files: ") + swept + "\n" +
        "[animation_hook_parity] HOOKS: anim=0 setup=0 pscript=0 total=0\n"
        "[animation_hook_parity] BYTES round-tripped: anim=0 setup=0 pscript=0\n"
        "[animation_hook_parity] PER-VARIANT COUNTS (retail portal.dat):\n"
        "id   name                            anim      setup    pscript      total\n";
    std::string unused = "[animation_hook_parity] UNUSED-IN-RETAIL variants (27):\n";
    for (std::size_t t = 0; t < tools::kHookTypeNames.size(); ++t) {
        std::string row = std::to_string(t);
        row.resize(4, ' ');
        row += " " + std::string(tools::kHookTypeNames[t]);
        row.resize(30, ' ');
        row += "          0          0          0          0\n";
        report += row;
        unused += "  " + std::to_string(t) + " " + std::string(tools::kHookTypeNames[t]) + "\n";
    }
    return report + unused;
}

// The failure message of a case as its captured section shows it: after the case's own lines,
// an empty line and the location line.
bool section_ends_with_failure(const std::string& section, const std::string& message) {
    return section.find("\n" + message + "\n") != std::string::npos;
}

TEST(CheckerE2eTest, EmptyDirectoryPrintsTheZeroReportAndBothCasesFail) {
    ArchiveBuilder builder(1024);
    builder.add_file(0x01000001, {1, 2, 3});
    const Archive archive(builder);
    const auto run = run_checker(archive.path(), {"--test-threads", "1"});
    EXPECT_EQ(run.status, 101);
    const auto smoke = run.section(kSmoke);
    EXPECT_TRUE(smoke.starts_with("[animation_hook_parity_smoke] OK \u2014 hooks=0 bytes=0\n\n"))
        << smoke;
    EXPECT_TRUE(section_ends_with_failure(smoke, "smoke sweep must observe at least one hook"))
        << smoke;
    const auto sweep = run.section(kSweep);
    EXPECT_TRUE(sweep.starts_with(empty_report("anim=0/0 setup=0/0 pscript=0/0") + "\n")) << sweep;
    EXPECT_TRUE(section_ends_with_failure(sweep, "Sound (type 1) must appear in retail")) << sweep;
    EXPECT_NE(run.out.find("test result: FAILED. 0 passed; 2 failed;"), std::string::npos);
}

TEST(CheckerE2eTest, MoreThanAThousandHooksAreRequired) {
    for (std::size_t sounds : {999u, 1000u}) {
        ArchiveBuilder builder(1024);
        auto hooks = hooks_of(1, sounds);
        hooks.push_back(make_hook(26, 0, 1));
        builder.add_file(0x33000001, physics_script(0x33000001, hooks));
        const Archive archive(builder);
        const auto run = run_checker(archive.path(), {"--test-threads", "1", kSweep});
        const auto total = sounds + 1;
        if (total > 1000) {
            EXPECT_EQ(run.status, 0) << run.out;
        } else {
            EXPECT_EQ(run.status, 101);
            EXPECT_TRUE(section_ends_with_failure(run.section(kSweep), "expected >1k retail hooks"))
                << run.out;
        }
        EXPECT_NE(run.out.find("1 filtered out"), std::string::npos);
    }
}

TEST(CheckerE2eTest, MissingParticleHooksFailAfterTheReport) {
    ArchiveBuilder builder(1024);
    builder.add_file(0x33000001, physics_script(0x33000001, hooks_of(1, 1001)));
    const Archive archive(builder);
    const auto run = run_checker(archive.path(), {kSweep});
    EXPECT_EQ(run.status, 101);
    const auto sweep = run.section(kSweep);
    EXPECT_NE(sweep.find("[animation_hook_parity] UNUSED-IN-RETAIL variants (26):\n"),
              std::string::npos);
    EXPECT_TRUE(
        section_ends_with_failure(sweep, "CreateParticle / CreateBlockingParticle must appear"));
}

TEST(CheckerE2eTest, OnlyTwentyOfTwentyFiveFailuresAreListed) {
    ArchiveBuilder builder(1024);
    for (std::uint32_t i = 0; i < 25; ++i) {
        builder.add_file(0x03000100 + i, std::vector<std::uint8_t>(10, 0));
    }
    const Archive archive(builder);
    const auto run = run_checker(archive.path(), {kSweep});
    EXPECT_EQ(run.status, 101);
    std::string expected;
    for (std::uint32_t i = 0; i < 20; ++i) {
        char id[16];
        std::snprintf(id, sizeof id, "0x%08X", 0x03000100 + i);
        expected += std::string("FAIL [animation] ") + id + ": Animation::read on " + id +
                    ": failed to fill whole buffer\n";
    }
    const auto sweep = run.section(kSweep);
    EXPECT_TRUE(sweep.starts_with(expected + "\n")) << sweep;
    EXPECT_TRUE(section_ends_with_failure(
        sweep, "25 animation-hook parity failures across 25 animation, 0 setup-model, 0 "
               "physics-script files"))
        << sweep;
}

TEST(CheckerE2eTest, FetchAndDecodeFailuresAreListedPerFileTypeInOrder) {
    ArchiveBuilder builder(1024);
    for (std::uint32_t id : {0x03000001u, 0x02000001u, 0x33000001u}) {
        builder.add_entry({.bit_flags = 0, .id = id, .offset = 0x7FFFFF00u, .size = 16});
    }
    builder.add_file(0x03000002, one_frame_animation(0x03000002, {make_hook(1, 0, 0)}));
    auto bad_hook = one_frame_animation(0x03000003, {make_hook(1, 0, 0)});
    bad_hook[16 + 28 + 4] = 27; // the hook's type word
    builder.add_file(0x03000003, bad_hook);
    SetupModelSpec negative;
    negative.id = 0x02000002;
    negative.num_placements = -1;
    builder.add_file(0x02000002, testkit::build_setup_model(negative));
    const Archive archive(builder);

    const auto run = run_checker(archive.path(), {kSweep});
    EXPECT_EQ(run.status, 101);
    const auto sweep = run.section(kSweep);
    EXPECT_TRUE(sweep.starts_with(
        "FAIL [animation:get_file] 0x03000001: IO error: failed to fill whole buffer\n"
        "FAIL [animation] 0x03000003: Animation::read on 0x03000003: Unsupported AnimationHook "
        "type: 0x0000001B at 0x38\n"
        "FAIL [setup_model:get_file] 0x02000001: IO error: failed to fill whole buffer\n"
        "FAIL [setup_model] 0x02000002: SetupModel::read on 0x02000002: SetupModel 0x02000002 "
        "declared negative placement count -1 at 0x18\n"
        "FAIL [physics_script:get_file] 0x33000001: IO error: failed to fill whole buffer\n\n"))
        << sweep;
    EXPECT_TRUE(section_ends_with_failure(
        sweep, "5 animation-hook parity failures across 3 animation, 2 setup-model, 1 "
               "physics-script files"));
}

// Counts of 0xFFFFFFFF over a few bytes, a compressed file declaring 4 GiB of output and a stored
// size of 4 GiB: each becomes one FAIL line with a plain short read (or the size refused), and
// the sweep goes on to the end.
TEST(CheckerE2eTest, HugeCountsAndSizesAreFailLinesNotCrashes) {
    ArchiveBuilder builder(256);
    AnimationSpec frames;
    frames.id = 0x03000001;
    frames.num_parts = 0;
    frames.num_frames = 0xFFFFFFFF;
    frames.part_frames.push_back(AnimationFrameSpec{{}, {make_hook(1, 0, 0)}, {}});
    builder.add_file(0x03000001, testkit::build_animation(frames));
    // Declares 4 GiB, holds eight literal bytes: half an animation header.
    const auto overstated =
        testkit::Bytes().u32(0xFFFFFFFF).u8(0x00).raw({2, 0, 0, 3, 0, 0, 0, 0}).take();
    builder.add_file(0x03000002, overstated, {.bit_flags = 1});
    SetupModelSpec parts;
    parts.id = 0x02000001;
    parts.num_parts = 0xFFFFFFFF;
    parts.parts = {1, 2, 3};
    builder.add_file(0x02000001, testkit::build_setup_model(parts));
    builder.add_entry({.bit_flags = 1, .id = 0x02000002, .offset = 512u, .size = 0xFFFFFFFF});
    PhysicsScriptSpec entries = testkit::make_physics_script_spec(1, 2);
    entries.id = 0x33000001;
    entries.num_entries = 0xFFFFFFFF;
    builder.add_file(0x33000001, testkit::build_physics_script(entries));
    const Archive archive(builder);

    const auto run = run_checker(archive.path(), {kSweep});
    EXPECT_EQ(run.status, 101);
    const auto sweep = run.section(kSweep);
    EXPECT_TRUE(sweep.starts_with(
        "FAIL [animation] 0x03000001: Animation::read on 0x03000001: failed to fill whole buffer\n"
        "FAIL [animation] 0x03000002: Animation::read on 0x03000002: failed to fill whole buffer\n"
        "FAIL [setup_model] 0x02000001: SetupModel::read on 0x02000001: failed to fill whole "
        "buffer\n"
        "FAIL [setup_model:get_file] 0x02000002: Corruption detected: stored file of 4294967295 "
        "bytes at offset 512 is longer than the archive (" +
        std::to_string(builder.archive_length()) +
        " bytes)\n"
        "FAIL [physics_script] 0x33000001: PhysicsScript::unpack on 0x33000001: failed to fill "
        "whole buffer\n\n"))
        << sweep;
    EXPECT_TRUE(section_ends_with_failure(
        sweep, "5 animation-hook parity failures across 2 animation, 2 setup-model, 1 "
               "physics-script files"))
        << sweep;
}

TEST(CheckerE2eTest, PhysicsScriptWithTrailingBytesFailsAtOnceWithoutAReport) {
    ArchiveBuilder builder(1024);
    auto script = physics_script(0x33000001, {make_hook(1, 0, 0)});
    script.push_back(0xEE);
    builder.add_file(0x33000001, script);
    builder.add_file(0x03000001, one_frame_animation(0x03000001, {make_hook(1, 0, 0)}));
    const Archive archive(builder);
    const auto run = run_checker(archive.path());
    EXPECT_EQ(run.status, 101);
    EXPECT_NE(run.out.find(std::string("test ") + kSmoke + " ... ok\n"), std::string::npos);
    const auto sweep = run.section(kSweep);
    EXPECT_TRUE(sweep.starts_with("\n")) << sweep; // nothing printed before the failure
    EXPECT_NE(sweep.find("\nassertion `left == right` failed: PhysicsScript 0x33000001 did not "
                         "round-trip byte-equal\n  left: [1, 0, 0, 51, 1, 0, 0, 0, "),
              std::string::npos)
        << sweep;
    EXPECT_NE(sweep.find(", 238]\n"), std::string::npos) << sweep;
}

TEST(CheckerE2eTest, BrokenKnownPhysicsScriptFailsTheSmokeCaseQuoted) {
    ArchiveBuilder builder(1024);
    auto truncated = physics_script(0x330007DB, {make_hook(1, 0, 0)});
    truncated.resize(20);
    builder.add_file(0x330007DB, truncated);
    const Archive archive(builder);
    const auto run = run_checker(archive.path(), {kSmoke});
    EXPECT_EQ(run.status, 101);
    EXPECT_TRUE(section_ends_with_failure(
        run.section(kSmoke), "moon PhysicsScript should round-trip: \"PhysicsScript::unpack on "
                             "0x330007DB: failed to fill whole buffer\""))
        << run.out;
}

TEST(CheckerE2eTest, OnlyTheFiftyLowestAnimationsAreSmokeChecked) {
    ArchiveBuilder builder(1024);
    builder.shuffle_blocks(3);
    for (std::uint32_t i = 0; i < 51; ++i) {
        const std::uint32_t id = 0x03000010 + i * 7;
        auto file = one_frame_animation(id, {make_hook(1, 0, i)});
        if (i == 50) {
            file.pop_back(); // resize(size() - 1) trips GCC 12's -Wstringop-overflow at -O1
        }
        builder.add_file(id, file);
    }
    builder.add_file(0x33000001, physics_script(0x33000001, {make_hook(13, 0, 0)}));
    const Archive archive(builder);
    const auto run = run_checker(archive.path(), {"--no-capture"});
    EXPECT_EQ(run.status, 101);
    EXPECT_NE(run.err.find("[animation_hook_parity_smoke] OK \u2014 hooks=50 bytes=600\n"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.out.find(std::string("test ") + kSmoke + " ... ok\n"), std::string::npos);
    EXPECT_NE(run.out.find(std::string("test ") + kSweep + " ... FAILED\n"), std::string::npos);
    EXPECT_NE(run.err.find("FAIL [animation] 0x0300016E: Animation::read on 0x0300016E: failed "
                           "to fill whole buffer\n"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.out.find("failures:\n    " + std::string(kSweep) + "\n"), std::string::npos);
}

TEST(CheckerE2eTest, UnopenableArchivesFailBothCasesWithTheDiagnosticForm) {
    const testkit::TempDir dir("e2e-dir");
    const auto run = run_checker(dir.path());
    EXPECT_EQ(run.status, 101);
    EXPECT_TRUE(section_ends_with_failure(
        run.section(kSweep), "open client_portal.dat: PathError { path: \"" + dir.path().string() +
                                 "\", source: Os { code: 21, kind: IsADirectory, message: \"Is a "
                                 "directory\" } }"))
        << run.out;

    const testkit::TempFile short_file(std::vector<std::uint8_t>(399, 0), "e2e-short");
    const auto short_run = run_checker(short_file.path());
    EXPECT_EQ(short_run.status, 101);
    for (const auto* name : {kSmoke, kSweep}) {
        const auto section = short_run.section(name);
        EXPECT_NE(section.find("\nopen client_portal.dat: BinRead(Backtrace { error: Io(Error { "
                               "kind: UnexpectedEof, message: \"failed to fill whole buffer\" }), "
                               "contexts: [\"While parsing field 'version_minor' in DatHeader\"] "
                               "})\n"),
                  std::string::npos)
            << section;
    }
}

TEST(CheckerE2eTest, NoArchiveAnywhereSkipsBothCases) {
    if (std::filesystem::exists("/home/kestrel/ac_base_dats/client_portal.dat") ||
        std::filesystem::exists(std::filesystem::path(QUILLMERE_SOURCE_DIR) / "dats/portal.dat")) {
        GTEST_SKIP() << "an archive is configured on this machine";
    }
    const auto run = run_checker("/nonexistent/quillmere/portal.dat", {"--no-capture"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.err.find("[animation_hook_parity_smoke] SKIP \u2014 no client_portal.dat "
                           "available\n"),
              std::string::npos);
    EXPECT_NE(run.err.find("[animation_hook_parity] SKIP \u2014 no client_portal.dat available "
                           "(set QUILLMERE_PORTAL_DAT or place it at "
                           "/home/kestrel/ac_base_dats/client_portal.dat)\n"),
              std::string::npos);
    EXPECT_NE(normalise_time(run.out).find("test result: ok. 2 passed; 0 failed; 0 ignored; 0 "
                                           "measured; 0 filtered out; finished in #s\n"),
              std::string::npos);
}

} // namespace
} // namespace quillmere::parity
