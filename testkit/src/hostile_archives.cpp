// Damaged and hostile archives, kind by kind, and the catalogue of them all.
#include "quillmere/testkit/hostile_archives.hpp"

#include "quillmere/testkit/bytes.hpp"
#include "quillmere/testkit/lrs_compressor.hpp"
#include "quillmere/testkit/portal_files.hpp"

namespace quillmere::testkit::hostile {

using Buffer = std::vector<std::uint8_t>;

Buffer pattern(std::size_t length, std::uint32_t seed) {
    Buffer out(length);
    for (std::size_t i = 0; i < length; ++i) {
        out[i] = static_cast<std::uint8_t>(i * 13 + seed * 5 + i / 241);
    }
    return out;
}

EntrySpec entry(std::uint32_t id, Word offset, std::uint32_t size, std::uint32_t bit_flags) {
    EntrySpec plan;
    plan.bit_flags = bit_flags;
    plan.id = id;
    plan.offset = offset;
    plan.size = size;
    return plan;
}

std::vector<std::uint32_t> unreadable_offsets(std::uint64_t archive_length) {
    const auto length = static_cast<std::uint32_t>(archive_length);
    return {length - 2, length,     length + 1000, 0x7FFFFFF0,
            0xFFFFFFFB, 0xFFFFFFFC, 0xFFFFFFFE,    0xFFFFFFFF};
}

ArchiveBuilder node_branching_to(std::uint32_t offset, bool as_root) {
    ArchiveBuilder builder(1024);
    const NodeRef node = builder.add_node();
    builder.node(node).entries.push_back(entry(1, std::uint32_t{0}, 0));
    builder.node(node).branches[0] = Word{offset};
    builder.set_root(as_root ? Word{offset} : Word{node});
    return builder;
}

LinkedPastTheEnd chain_linking_to(std::uint32_t offset) {
    LinkedPastTheEnd layout;
    layout.linked = layout.builder.add_chain(pattern(1000, 1));
    layout.builder.set_link(BlockRef{layout.linked, 2}, Word{offset});
    layout.builder.add_file(2, pattern(300, 2));
    layout.builder.add_entry(ArchiveBuilder::entry_for(layout.linked, 1));
    layout.builder.add_entry(entry(3, offset, 10));
    layout.builder.add_entry(entry(4, offset, 10, 1));
    return layout;
}

ArchiveBuilder one_byte_blocks() {
    ArchiveBuilder builder(5);
    builder.shuffle_blocks(17);
    for (std::uint32_t id = 1; id <= 70; ++id) {
        builder.add_file(id, pattern(id % 9, id), {.compress = id % 3 == 0});
    }
    builder.add_file(100, pattern(700, 100));
    return builder;
}

LoopingChains looping_chains() {
    LoopingChains layout;
    ArchiveBuilder& builder = layout.builder;
    layout.loop = builder.add_chain(Buffer{1, 2, 3});
    builder.set_link(BlockRef{layout.loop, 2}, BlockRef{layout.loop, 0});
    builder.add_chain(pattern(4000, 3)); // room for a long looping read
    layout.self = builder.add_chain(Buffer{9});
    builder.set_link(BlockRef{layout.self, 0}, BlockRef{layout.self, 0});
    builder.add_entry(entry(1, layout.loop, 3000));
    builder.add_entry(entry(2, layout.self, 3000));
    return layout;
}

ArchiveBuilder looping_directory_node() {
    ArchiveBuilder builder(512);
    Bytes first_block;
    first_block.fill(62 * 4, 0).u32(1).u32(0).u32(0x33).u32(0).u32(0).u32(0).u32(0);
    first_block.fill(508 - first_block.size(), 0);
    const ChainRef node = builder.add_chain(first_block.take());
    builder.set_link(BlockRef{node, 0}, BlockRef{node, 0});
    builder.add_chain(Buffer(2000, 0));
    builder.set_root(node);
    return builder;
}

ClaimedSizes sizes_claimed(std::uint32_t size) {
    ClaimedSizes layout;
    layout.builder.preamble_fill(0);
    layout.chain = layout.builder.add_chain(pattern(100, 1));
    for (const std::uint32_t flags : {0U, 1U}) {
        layout.builder.add_entry(entry(10 + flags, layout.chain, size, flags));
    }
    layout.builder.add_entry(entry(12, std::uint32_t{0}, size));
    return layout;
}

ArchiveBuilder compressed_claiming_four_gib() {
    ArchiveBuilder builder(1024);
    const Buffer tiny = Bytes().u32(0xFFFFFFFF).raw({0x20, 0x41, 0x42, 0x02, 0x0F}).take();
    builder.add_file(1, tiny, {.bit_flags = 1});
    Buffer literals = Bytes().u32(0xFFFFFFFF).take();
    for (int group = 0; group < 100; ++group) {
        literals.push_back(0x00);
        literals.insert(literals.end(), 8, static_cast<std::uint8_t>(group));
    }
    builder.add_file(2, literals, {.bit_flags = 1});
    return builder;
}

std::vector<HostileFile> hostile_files() {
    using dat::file_type::FileType;
    std::vector<HostileFile> files;
    const auto add_animation = [&](std::string what, auto&& edit) {
        AnimationSpec plan = make_animation_spec(1, 1, 1, 1, true);
        edit(plan);
        files.push_back({"animation " + what, FileType::Animation, build_animation(plan)});
    };
    add_animation("num_frames", [](auto& plan) { plan.num_frames = 0xFFFFFFFF; });
    add_animation("num_parts", [](auto& plan) { plan.num_parts = 0xFFFFFFFF; });
    add_animation("num_hooks", [](auto& plan) { plan.part_frames[0].num_hooks = 0xFFFFFFFF; });

    const auto add_setup = [&](std::string what, auto&& edit, Ending ending = Ending::ShortRead) {
        SetupModelSpec plan = make_setup_model_spec(2, 0x3, 1, 1, 1);
        edit(plan);
        files.push_back(
            {"setup model " + what, FileType::SetupModel, build_setup_model(plan), ending});
    };
    add_setup("num_parts", [](auto& plan) { plan.num_parts = 0xFFFFFFFF; });
    add_setup("num_holding", [](auto& plan) { plan.num_holding = 0xFFFFFFFF; });
    add_setup("num_conn", [](auto& plan) { plan.num_conn = 0xFFFFFFFF; });
    add_setup(
        "num_placements", [](auto& plan) { plan.num_placements = 0x7FFFFFFF; },
        Ending::UnknownHookType);
    add_setup(
        "placement num_hooks",
        [](auto& plan) { plan.placement_frames[0].value.num_hooks = 0xFFFFFFFF; },
        Ending::UnknownHookType);
    add_setup("num_cyl", [](auto& plan) { plan.num_cyl = 0xFFFFFFFF; });
    add_setup("num_sph", [](auto& plan) { plan.num_sph = 0xFFFFFFFF; });
    add_setup("num_lights", [](auto& plan) { plan.num_lights = 0xFFFFFFFF; });

    PhysicsScriptSpec script = make_physics_script_spec(3, 2);
    script.num_entries = 0xFFFFFFFF;
    files.push_back(
        {"physics script num_script_datas", FileType::PhysicsScript, build_physics_script(script)});
    return files;
}

ArchiveBuilder hostile_files_archive() {
    ArchiveBuilder builder(256);
    builder.shuffle_blocks(29);
    std::uint32_t id = 1;
    for (const HostileFile& file : hostile_files()) {
        builder.add_file(id++, file.bytes);
        builder.add_file(id++, file.bytes, {.compress = true});
        Buffer overstated = lrs_compress(file.bytes);
        overstated[0] = overstated[1] = overstated[2] = overstated[3] = 0xFF;
        builder.add_file(id++, overstated, {.bit_flags = 1});
    }
    return builder;
}

std::vector<NamedArchive> damaged_archives() {
    std::vector<NamedArchive> out;
    const auto add = [&](std::string name, ArchiveBuilder builder) {
        out.push_back({std::move(name), builder.build()});
    };
    auto probe = node_branching_to(0, true);
    static_cast<void>(probe.build());
    for (const std::uint32_t offset : unreadable_offsets(probe.archive_length())) {
        for (const bool as_root : {true, false}) {
            add((as_root ? "root at " : "branch to ") + std::to_string(offset),
                node_branching_to(offset, as_root));
        }
    }
    auto linked_probe = chain_linking_to(0);
    static_cast<void>(linked_probe.builder.build());
    for (const std::uint32_t offset : unreadable_offsets(linked_probe.builder.archive_length())) {
        add("chain linking to " + std::to_string(offset), chain_linking_to(offset).builder);
    }
    add("looping chains of one-byte blocks", looping_chains().builder);
    add("looping directory node", looping_directory_node());
    auto sized_probe = sizes_claimed(0);
    static_cast<void>(sized_probe.builder.build());
    const std::uint64_t length = sized_probe.builder.archive_length();
    for (const std::uint64_t size :
         {length + 1, std::uint64_t{0x80000000}, std::uint64_t{0xFFFFFFFB},
          std::uint64_t{0xFFFFFFFF}, length, length - 4}) {
        add("sizes of " + std::to_string(size) + " bytes claimed",
            sizes_claimed(static_cast<std::uint32_t>(size)).builder);
    }
    add("compressed files claiming 4 GiB", compressed_claiming_four_gib());
    add("counts of 0xFFFFFFFF inside portal files", hostile_files_archive());
    return out;
}

} // namespace quillmere::testkit::hostile
