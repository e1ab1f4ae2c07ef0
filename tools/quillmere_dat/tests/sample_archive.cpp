// The test-kit archive of the tool's end-to-end tests and of scripts/check-install.
#include "sample_archive.hpp"

#include "quillmere/testkit/bytes.hpp"
#include "quillmere/testkit/portal_files.hpp"

#include <string_view>

namespace quillmere::dat_tool::sample {

using testkit::AnimationFrameSpec;
using testkit::Bytes;
using testkit::Hook;

std::vector<std::uint8_t> compressed_blob_contents() {
    constexpr std::string_view kLine = "quillmere sample archive, a file stored compressed.\n";
    std::vector<std::uint8_t> out;
    while (out.size() < 600) {
        out.insert(out.end(), kLine.begin(), kLine.end());
    }
    out.resize(600);
    return out;
}

testkit::ArchiveBuilder sample_archive() {
    testkit::ArchiveBuilder builder(256);
    builder.header().engine_version = 5;
    builder.header().game_version = 7;
    builder.header().version_minor = 2;
    for (std::uint8_t i = 0; i < 16; ++i) {
        builder.header().version_string[i] = static_cast<std::uint8_t>(0x10 + i);
    }

    const testkit::Frame part{{1.0f, 2.0f, 3.0f}, {1.0f, 0.0f, 0.0f, 0.0f}};
    const testkit::Frame offset{{0.5f, -0.25f, 2.0f}, {0.5f, 0.5f, -0.5f, 0.5f}};

    Bytes particle;
    particle.u32(0x32000010).u32(0);
    testkit::append_frame(particle, offset);
    particle.u32(7);

    testkit::AnimationSpec animation;
    animation.id = kAnimation;
    animation.part_frames = {
        AnimationFrameSpec{{part},
                           {Hook{1, 0, Bytes().u32(0x0A000001).take()},
                            testkit::make_replace_object_short(1, 3, 0x1234, 0xFF),
                            testkit::make_replace_object_long(-1, 1, 0x8001, 0x0002, {1, 2, 3})},
                           {}},
        AnimationFrameSpec{{part}, {Hook{13, 0, particle.take()}, Hook{4, 0, {}}}, {}},
    };
    builder.add_file(kAnimation, testkit::build_animation(animation), {.timestamp = 1700000000});

    builder.add_file(kEveryHookType,
                     testkit::build_animation(testkit::make_animation_spec(11, 2, 3, 10, true)),
                     {.compress = true, .version = 3});

    auto truncated = testkit::build_animation(animation);
    truncated.resize(16 + 28 + 4 + 12 + 12 + 16 + 10);
    builder.add_file(kTruncatedAnimation, truncated);

    testkit::SetupModelSpec setup;
    setup.id = kSetupModel;
    setup.parts = {0x01000010};
    setup.placement_frames = {
        {5, AnimationFrameSpec{{part},
                               {Hook{12, 0, Bytes().f32(1.5f).f32(0.25f).take()},
                                Hook{8, 1, Bytes().f32(0.0f).f32(1.0f).f32(2.5f).take()}},
                               {}}},
        {-1, AnimationFrameSpec{{part}, {Hook{0, 0, {}}}, {}}},
    };
    builder.add_file(kSetupModel, testkit::build_setup_model(setup), {.compress = true});

    testkit::PhysicsScriptSpec script;
    script.id = kPhysicsScript;
    script.entries = {
        {0.5, Hook{1, 0, Bytes().u32(0x0A000002).take()}},
        {1.25, Hook{19, 0, Bytes().u32(0x33000042).f32(0.75f).take()}},
    };
    builder.add_file(kPhysicsScript, testkit::build_physics_script(script));

    builder.add_file(kCompressedBlob, compressed_blob_contents(), {.compress = true});
    builder.add_file(kPlainBlob, std::vector<std::uint8_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9});

    // A chain whose first block links to an offset far beyond the end of the archive.
    const auto broken = builder.add_chain(std::vector<std::uint8_t>(600, 0x33));
    builder.set_link(testkit::BlockRef{broken, 0}, std::uint32_t{0x7FFFFF00});
    builder.add_entry(testkit::ArchiveBuilder::entry_for(broken, kBrokenChain));
    return builder;
}

} // namespace quillmere::dat_tool::sample
