// Writes starting inputs for every fuzz target, built with the test kit: well-formed files of
// each type (so the fuzzer starts deep inside the formats), a few damaged ones, small archives
// holding all three swept file types, one of them compressed, and archives with something for
// the verifier to find.
//
// Usage: quillmere_fuzz_seeds OUT_DIR    Writes OUT_DIR/<target>/seed-<name>, replacing files.
// The sweeps target gets the three file types' seeds, named seed-<type>-<name>.
#include "quillmere/common/random.hpp"
#include "quillmere/dat/file_type/animation_hook.hpp"
#include "quillmere/testkit/archive_builder.hpp"
#include "quillmere/testkit/bytes.hpp"
#include "quillmere/testkit/lrs_compressor.hpp"
#include "quillmere/testkit/portal_files.hpp"
#include "quillmere/testkit/temp_file.hpp"

#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

namespace testkit = quillmere::testkit;
using Buffer = std::vector<std::uint8_t>;
using quillmere::dat::file_type::setup_model::hook_type_number;
using quillmere::dat::file_type::setup_model::HookType;
using quillmere::dat::file_type::setup_model::kHookTypeCount;
using testkit::Bytes;

namespace {

struct Seed {
    std::string name;
    Buffer bytes;
};

std::vector<Seed> lrs_seeds() {
    std::string text;
    for (int i = 0; i < 40; ++i) {
        text += "hook frame part sound 0x0300" + std::to_string(i % 7) + "\n";
    }
    Buffer runs;
    for (int i = 0; i < 600; ++i) {
        runs.push_back(static_cast<std::uint8_t>(i / 50));
    }
    Buffer ended =
        testkit::lrs_compress(Buffer{1, 2, 3, 1, 2, 3, 1, 2, 3, 9}, {.end_marker = true});
    ended[0] = 200; // claims more than the stream holds
    return {
        {"worked-example", Bytes().u32(6).raw({0x20, 0x41, 0x42, 0x02, 0x02}).take()},
        {"text", testkit::lrs_compress(Buffer(text.begin(), text.end()))},
        {"runs", testkit::lrs_compress(runs)},
        {"end-marker", ended},
        {"overlap-and-clamp",
         Bytes().u32(40).raw({0x30, 0x61, 0x62, 0x01, 0x03, 0x05, 0x04}).take()},
        {"longest-reference",
         Bytes().u32(100).raw({0x00, 1, 2, 3, 4, 5, 6, 7, 8}).raw({0x80, 0xFF, 0xFF}).take()},
        {"huge-declared-size", Bytes().u32(0xFFFFFFFF).raw({0x20, 0x41, 0x42, 0x02, 0x0F}).take()},
        {"short", Buffer{0x01, 0x02, 0x03}},
    };
}

// Plain inputs for the compressor: text, runs, a repeat at the window's far edge, random bytes
// and the empty input.
std::vector<Seed> compress_seeds() {
    std::string text;
    for (int i = 0; i < 60; ++i) {
        text += "frame " + std::to_string(i % 11) + " hook sound part\n";
    }
    Buffer runs;
    for (int i = 0; i < 900; ++i) {
        runs.push_back(static_cast<std::uint8_t>(i / 70 % 3));
    }
    quillmere::common::SplitMix64 random(11);
    Buffer noise(600);
    for (auto& byte : noise) {
        byte = static_cast<std::uint8_t>(random.next());
    }
    Buffer far(4095 + 24);
    for (std::size_t i = 0; i < far.size(); ++i) {
        far[i] = i < 24 || i >= 4095 ? static_cast<std::uint8_t>(i % 4095) : noise[i % 600];
    }
    return {{"text", Buffer(text.begin(), text.end())},
            {"runs", runs},
            {"noise", noise},
            {"window-edge", far},
            {"setup-model",
             testkit::build_setup_model(testkit::make_setup_model_spec(5, 0x3, 2, 2, 3))},
            {"empty", Buffer{}}};
}

std::vector<Seed> hook_seeds() {
    Bytes all;
    for (std::uint32_t type = 0; type < kHookTypeCount; ++type) {
        testkit::append_hook(
            all, testkit::make_hook(type, static_cast<std::int32_t>(type % 3) - 1, type));
    }
    Bytes replace;
    testkit::append_hook(replace, testkit::make_replace_object_short(0, 3, 0x1234, 0xFF));
    testkit::append_hook(replace,
                         testkit::make_replace_object_long(-1, 3, 0x8001, 0x0002, {1, 2, 3}));
    Bytes unknown;
    unknown.u32(kHookTypeCount).i32(0).u32(0);
    Bytes particle;
    testkit::append_hook(particle,
                         testkit::make_hook(hook_type_number(HookType::CreateParticle), 0, 5));
    Buffer cut = particle.take();
    cut.pop_back();
    return {{"every-type", all.take()},
            {"replace-object-forms", replace.take()},
            {"unknown-type", unknown.take()},
            {"particle-cut-short", cut}};
}

std::vector<Seed> animation_seeds() {
    testkit::AnimationSpec roots = testkit::make_animation_spec(1, 2, 3, 4, true);
    testkit::AnimationSpec plain = testkit::make_animation_spec(2, 1, 2, 9, false);
    testkit::AnimationSpec no_parts = testkit::make_animation_spec(3, 0, 3, 2, false);
    testkit::AnimationSpec huge = testkit::make_animation_spec(4, 1, 1, 1, false);
    huge.num_frames = 0xFFFFFFFF;
    return {{"root-frames", testkit::build_animation(roots)},
            {"plain", testkit::build_animation(plain)},
            {"no-parts", testkit::build_animation(no_parts)},
            {"huge-frame-count", testkit::build_animation(huge)}};
}

std::vector<Seed> setup_model_seeds() {
    testkit::SetupModelSpec negative;
    negative.num_placements = -1;
    testkit::SetupModelSpec huge_lights = testkit::make_setup_model_spec(9, 0, 1, 1, 1);
    huge_lights.num_lights = 0xFFFFFFFF;
    return {
        {"smallest", testkit::build_setup_model(testkit::SetupModelSpec{})},
        {"flags-3", testkit::build_setup_model(testkit::make_setup_model_spec(1, 0x3, 2, 2, 3))},
        {"flags-0", testkit::build_setup_model(testkit::make_setup_model_spec(2, 0x0, 1, 3, 2))},
        {"flags-4", testkit::build_setup_model(testkit::make_setup_model_spec(3, 0x4, 0, 2, 1))},
        {"negative-placements", testkit::build_setup_model(negative)},
        {"huge-light-count", testkit::build_setup_model(huge_lights)},
    };
}

std::vector<Seed> physics_script_seeds() {
    testkit::PhysicsScriptSpec huge = testkit::make_physics_script_spec(3, 1);
    huge.num_entries = 0xFFFFFFFF;
    return {
        {"worked-example", Bytes().u32(0x33000000).u32(1).f64(0.5).u32(1).i32(0).u32(42).take()},
        {"every-type",
         testkit::build_physics_script(testkit::make_physics_script_spec(1, kHookTypeCount))},
        {"empty", testkit::build_physics_script(testkit::make_physics_script_spec(2, 0))},
        {"huge-count", testkit::build_physics_script(huge)},
    };
}

// One small file of each swept type, one of them compressed, in an archive of small blocks.
Buffer mixed_archive(std::uint32_t block_size, std::uint64_t shuffle) {
    testkit::ArchiveBuilder builder(block_size);
    if (shuffle != 0) {
        builder.shuffle_blocks(shuffle);
    }
    builder.add_file(0x03000001,
                     testkit::build_animation(testkit::make_animation_spec(1, 1, 2, 2, true)));
    builder.add_file(0x02000001,
                     testkit::build_setup_model(testkit::make_setup_model_spec(2, 0x3, 1, 1, 2)),
                     {.compress = true});
    builder.add_file(0x33000001,
                     testkit::build_physics_script(testkit::make_physics_script_spec(3, 4)));
    builder.add_file(0x01000001, Buffer(40, 0x5A));
    return builder.build();
}

// A two-level directory shaped by hand, with a chain that loops back on itself.
Buffer hand_shaped_archive() {
    testkit::ArchiveBuilder builder(128);
    const auto script =
        builder.add_chain(testkit::build_physics_script(testkit::make_physics_script_spec(4, 2)));
    const auto loop = builder.add_chain(Buffer(300, 0x11));
    builder.set_link(testkit::BlockRef{loop, 2}, testkit::BlockRef{loop, 0});
    testkit::NodeSpec child_spec;
    child_spec.entries = {testkit::ArchiveBuilder::entry_for(script, 0x33000002)};
    const auto child = builder.add_node(child_spec);
    testkit::NodeSpec root_spec;
    testkit::EntrySpec looping = testkit::ArchiveBuilder::entry_for(loop, 0x03000002);
    looping.size = 900;
    root_spec.entries = {looping};
    root_spec.branches[0] = child;
    const auto root = builder.add_node(root_spec);
    builder.set_root(root);
    return builder.build();
}

std::vector<Seed> archive_seeds() {
    return {{"mixed-block-64", mixed_archive(64, 0)},
            {"mixed-block-256-shuffled", mixed_archive(256, 5)},
            {"hand-shaped", hand_shaped_archive()},
            {"empty", testkit::ArchiveBuilder(1024).build()}};
}

// Archives with something for the verifier to find: a shared chain, a free list, a damaged
// directory, broken compressed streams and files the decoders refuse.
std::vector<Seed> verify_seeds() {
    std::vector<Seed> seeds = archive_seeds();

    testkit::ArchiveBuilder shared(128);
    const auto chain = shared.add_file(
        0x03000001, testkit::build_animation(testkit::make_animation_spec(1, 1, 1, 1, false)));
    shared.add_entry(testkit::ArchiveBuilder::entry_for(chain, 0x03000002));
    const auto spare = shared.add_chain(Buffer(300, 0x22));
    static_cast<void>(shared.build());
    shared.header().free_head = shared.resolve(spare);
    shared.header().free_tail = shared.resolve(testkit::BlockRef{spare, 2});
    shared.header().free_count = 3;
    seeds.push_back({"shared-chain-and-free-list", shared.build()});

    testkit::ArchiveBuilder tree(256);
    const auto entry = [](std::uint32_t id) {
        testkit::EntrySpec plan;
        plan.id = id;
        plan.size = 0;
        return plan;
    };
    testkit::NodeSpec left;
    left.entries = {entry(0x06000005), entry(0x06000010), entry(0x06000004)};
    testkit::NodeSpec right;
    right.entries = {entry(0x06000020)};
    right.entry_count = 62;
    const auto left_node = tree.add_node(left);
    const auto right_node = tree.add_node(right);
    testkit::NodeSpec root;
    root.entries = {entry(0x06000010), entry(0x06000030)};
    root.branches[0] = left_node;
    root.branches[1] = right_node;
    root.branches[2] = left_node;
    tree.set_root(tree.add_node(root));
    seeds.push_back({"damaged-tree", tree.build()});

    testkit::ArchiveBuilder streams(64);
    Buffer overstated = testkit::lrs_compress(Buffer(100, 0x41));
    overstated[0] = 200;
    streams.add_file(0x06000001, overstated, {.bit_flags = 1});
    streams.add_file(0x06000002, Buffer{1, 2}, {.bit_flags = 1});
    streams.add_file(0x02000001, Buffer(9, 0xFF), {.compress = true});
    streams.add_entry(testkit::ArchiveBuilder::entry_for(
        streams.add_chain(Buffer(500, 0x33), {.contiguous = true}), 0x06000003));
    streams.header().file_size = 1;
    seeds.push_back({"streams-and-decoders", streams.build()});
    return seeds;
}

// Manifests as extract writes them, and near misses: a member missing, a file listed twice.
std::vector<Seed> manifest_seeds() {
    const std::string header =
        R"("header": {"magic": 19537, "block_size": 1024, "dataset": 1, "subset": 0, )"
        R"("new_lru": 0, "old_lru": 0, "use_lru": 0, "master_map_id": 0, "engine_version": 19, )"
        R"("game_version": 45, "version_string": "000102030405060708090A0B0C0D0E0F", )"
        R"("version_minor": 1002})";
    const std::string file =
        R"({"id": "0x03000001", "bit_flags": 1, "timestamp": 7, "version": 2})";
    const auto text = [](const std::string& json) { return Buffer(json.begin(), json.end()); };
    return {{"extracted", text("{\"format\": 1, " + header + ", \"files\": [" + file +
                               ", {\"id\": \"0x0A000002\", \"bit_flags\": 0, \"timestamp\": "
                               "4294967295, \"version\": 0}]}\n")},
            {"no-files", text("{\"files\": [], \"format\": 1, " + header + "}")},
            {"file-twice",
             text("{\"format\": 1, " + header + ", \"files\": [" + file + ", " + file + "]}")},
            {"header-missing", text("{\"format\": 1, \"files\": []}")}};
}

void write_seeds(const std::filesystem::path& dir, const std::vector<Seed>& seeds,
                 const std::string& prefix = "seed-") {
    std::filesystem::create_directories(dir);
    for (const Seed& seed : seeds) {
        testkit::write_file(dir / (prefix + seed.name), seed.bytes);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT_DIR\n", argv[0]);
        return 2;
    }
    try {
        const std::filesystem::path out(argv[1]);
        write_seeds(out / "decompress_lrs", lrs_seeds());
        write_seeds(out / "compress_lrs", compress_seeds());
        write_seeds(out / "animation_hook", hook_seeds());
        write_seeds(out / "animation", animation_seeds());
        write_seeds(out / "setup_model", setup_model_seeds());
        write_seeds(out / "physics_script", physics_script_seeds());
        write_seeds(out / "archive", archive_seeds());
        write_seeds(out / "verify", verify_seeds());
        write_seeds(out / "manifest", manifest_seeds());
        // The sweeps read all three file types.
        write_seeds(out / "sweeps", animation_seeds(), "seed-animation-");
        write_seeds(out / "sweeps", setup_model_seeds(), "seed-setup-model-");
        write_seeds(out / "sweeps", physics_script_seeds(), "seed-physics-script-");
        write_seeds(out / "text_form", animation_seeds(), "seed-animation-");
        write_seeds(out / "text_form", setup_model_seeds(), "seed-setup-model-");
        write_seeds(out / "text_form", physics_script_seeds(), "seed-physics-script-");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", argv[0], error.what());
        return 1;
    }
    return 0;
}
