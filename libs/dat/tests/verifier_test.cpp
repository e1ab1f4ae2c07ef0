// Tests of the archive verifier: one damaged archive per kind of problem (and some with several),
// built by hand with the test kit, checked for exactly the problems they hold; sound archives
// checked clean with their summary figures; and reports that do not depend on how the file list
// is cut or how many problems are kept.
#include "quillmere/common/byte_cursor.hpp"
#include "quillmere/common/le.hpp"
#include "quillmere/common/text.hpp"
#include "quillmere/dat/file_type/animation.hpp"
#include "quillmere/dat/file_type/file_type.hpp"
#include "quillmere/dat/file_type/physics_script.hpp"
#include "quillmere/dat/file_type/setup_model.hpp"
#include "quillmere/dat/verifier.hpp"
#include "quillmere/testkit/archive_builder.hpp"
#include "quillmere/testkit/bytes.hpp"
#include "quillmere/testkit/lrs_compressor.hpp"
#include "quillmere/testkit/portal_files.hpp"
#include "quillmere/testkit/temp_file.hpp"

#include <algorithm>
#include <fstream>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <optional>
#include <thread>
#include <tuple>

namespace quillmere::dat {

// Problems print as the tool shows them, so that a failed comparison reads.
void PrintTo(const Problem& problem, std::ostream* out) {
    *out << severity_name(problem.severity) << ' ' << kind_name(problem.kind) << ' '
         << (problem.id ? std::to_string(*problem.id) : "-") << " at "
         << (problem.offset ? std::to_string(*problem.offset) : "-") << ": " << problem.message;
}

namespace {

using testkit::ArchiveBuilder;
using testkit::BlockRef;
using testkit::Bytes;
using testkit::ChainRef;
using testkit::EntrySpec;
using testkit::NodeRef;
using testkit::NodeSpec;
using testkit::Word;
using Buffer = std::vector<std::uint8_t>;

constexpr std::uint32_t kFar = 0x7FFFFFF0; // far past the end of every test archive

Buffer pattern(std::size_t length, std::uint32_t seed) {
    Buffer out(length);
    for (std::size_t i = 0; i < length; ++i) {
        out[i] = static_cast<std::uint8_t>(i * 29 + seed * 3 + i / 253);
    }
    return out;
}

EntrySpec entry(std::uint32_t id, Word offset = std::uint32_t{0},
                std::optional<std::uint32_t> size = 0, std::uint32_t bit_flags = 0) {
    EntrySpec plan;
    plan.id = id;
    plan.offset = offset;
    plan.size = size;
    plan.bit_flags = bit_flags;
    return plan;
}

NodeSpec node(std::vector<EntrySpec> entries, std::vector<Word> branches = {}) {
    NodeSpec plan;
    plan.entries = std::move(entries);
    std::copy(branches.begin(), branches.end(), plan.branches.begin());
    return plan;
}

Problem problem(ProblemKind kind, std::optional<std::uint32_t> id,
                std::optional<std::uint64_t> offset, std::string message) {
    return {severity_of(kind), kind, id, offset, std::move(message)};
}

VerifyReport verify(std::span<const std::uint8_t> archive, VerifyOptions options = {}) {
    const testkit::TempFile file(archive, "verify");
    auto report = verify_archive(file.path(), options);
    EXPECT_TRUE(report) << report.error().message();
    return report ? std::move(*report) : VerifyReport{};
}

// Problems in an order of the test's own, so tables need not list them in report order.
std::vector<Problem> sorted(std::vector<Problem> problems) {
    std::sort(problems.begin(), problems.end(), [](const Problem& a, const Problem& b) {
        return std::tie(a.kind, a.offset, a.id, a.message) <
               std::tie(b.kind, b.offset, b.id, b.message);
    });
    return problems;
}

std::string decoder_says(std::string_view decoder, std::uint32_t id, const Buffer& bytes) {
    common::ByteCursor cursor(bytes);
    std::optional<common::DecodeError> error;
    switch (*file_type::of(id)) {
    case file_type::FileType::Animation:
        error = file_type::animation::Animation::read(cursor).error();
        break;
    case file_type::FileType::SetupModel:
        error = file_type::setup_model::SetupModel::read(cursor).error();
        break;
    case file_type::FileType::PhysicsScript:
        error = file_type::physics_script::PhysicsScript::unpack(bytes).error();
        break;
    }
    return std::string(decoder) + " on 0x" + common::hex8(id) + ": " + error->one_line();
}

struct Case {
    std::string name;
    Buffer archive;
    std::vector<Problem> expected;
};

// A hand-made directory: root [0x10] over leaves [0x05] and [0x20] (nodes 2, 0 and 1), with
// `edit` applied; `expect` names the offsets of the layout written.
Case tree_case(std::string name,
               const std::function<void(ArchiveBuilder&, NodeRef, NodeRef, NodeRef)>& edit,
               const std::function<std::vector<Problem>(ArchiveBuilder&, std::uint64_t)>& expect) {
    ArchiveBuilder builder(1024);
    const NodeRef left = builder.add_node(node({entry(0x05)}));
    const NodeRef right = builder.add_node(node({entry(0x20)}));
    const NodeRef root = builder.add_node(node({entry(0x10)}, {left, right}));
    builder.set_root(root);
    edit(builder, root, left, right);
    Buffer archive = builder.build();
    return {std::move(name), std::move(archive), expect(builder, builder.archive_length())};
}

// One file and a two-block chain outside the directory, laid out once so that the header's free
// list can name the offsets written (the header does not move any block).
struct FreeLayout {
    ArchiveBuilder builder{1024};
    std::uint32_t file = 0;
    std::uint32_t spare = 0;
    std::uint32_t spare_end = 0;
    std::uint64_t length = 0;
};

void free_list_cases(std::vector<Case>& cases) {
    const auto add = [&](std::string name, bool loop,
                         const std::function<void(const FreeLayout&, testkit::HeaderSpec&)>& set,
                         const std::function<Problem(const FreeLayout&)>& expect) {
        FreeLayout l;
        const ChainRef file = l.builder.add_file(0x06000001, pattern(500, 1));
        const ChainRef spare = l.builder.add_chain(pattern(2000, 2));
        if (loop) {
            l.builder.set_link(BlockRef{spare, 1}, BlockRef{spare, 0});
        }
        static_cast<void>(l.builder.build());
        l.file = l.builder.resolve(file);
        l.spare = l.builder.resolve(spare);
        l.spare_end = l.builder.resolve(BlockRef{spare, 1});
        l.length = l.builder.archive_length();
        set(l, l.builder.header());
        cases.push_back({std::move(name), l.builder.build(), {expect(l)}});
    };
    add(
        "free list count", false,
        [](const FreeLayout& l, testkit::HeaderSpec& h) {
            h.free_head = l.spare;
            h.free_tail = l.spare_end;
            h.free_count = 3;
        },
        [](const FreeLayout&) {
            return problem(ProblemKind::FreeList, {}, 348,
                           "the free list holds 2 blocks, but free_count is 3");
        });
    add(
        "free list tail", false,
        [](const FreeLayout& l, testkit::HeaderSpec& h) {
            h.free_head = h.free_tail = l.spare;
            h.free_count = 2;
        },
        [](const FreeLayout& l) {
            return problem(ProblemKind::FreeList, {}, 344,
                           "the free list ends at the block at offset " +
                               std::to_string(l.spare_end) + ", but free_tail is " +
                               std::to_string(l.spare));
        });
    add(
        "free list loop", true,
        [](const FreeLayout& l, testkit::HeaderSpec& h) {
            h.free_head = l.spare;
            h.free_tail = l.spare_end;
            h.free_count = 2;
        },
        [](const FreeLayout& l) {
            return problem(ProblemKind::FreeList, {}, l.spare,
                           "the free list loops back to this block after 2 blocks");
        });
    add(
        "free list past the end", false,
        [](const FreeLayout& l, testkit::HeaderSpec& h) {
            h.free_head = h.free_tail = static_cast<std::uint32_t>(l.length - 100);
            h.free_count = 1;
        },
        [](const FreeLayout& l) {
            return problem(ProblemKind::FreeList, {}, l.length - 100,
                           "the free list runs past the end of the archive (" +
                               std::to_string(l.length) + " bytes) at this block after 0 blocks");
        });
    add(
        "free block read by a file", false,
        [](const FreeLayout& l, testkit::HeaderSpec& h) {
            h.free_head = h.free_tail = l.file;
            h.free_count = 1;
        },
        [](const FreeLayout& l) {
            return problem(ProblemKind::FreeList, 0x06000001, l.file,
                           "this free block is also read by file 0x06000001");
        });
    add(
        "free_head 0", false,
        [](const FreeLayout&, testkit::HeaderSpec& h) {
            h.free_count = 2;
            h.free_tail = 7;
        },
        [](const FreeLayout&) {
            return problem(ProblemKind::FreeList, {}, 340,
                           "free_head is 0 (no free blocks), but free_count is 2 and free_tail "
                           "is 7");
        });
}

std::vector<Case> damaged_archives() {
    std::vector<Case> cases;
    const auto at = [](std::uint64_t length) {
        return " runs past the end of the archive (" + std::to_string(length) + " bytes)";
    };

    cases.push_back({"short header",
                     Buffer(399, 0),
                     {problem(ProblemKind::Header, {}, {},
                              "the archive is 399 bytes long, too short for the header that "
                              "ends at offset 400")}});
    {
        ArchiveBuilder builder(1024);
        builder.header().block_size = 4;
        builder.add_file(0x03000001, pattern(100, 1));
        cases.push_back({"block size 4",
                         builder.build(),
                         {problem(ProblemKind::Header, {}, 324,
                                  "block_size is 4, which leaves a block no room for data")}});
    }
    cases.push_back(tree_case(
        "unreadable node",
        [](ArchiveBuilder& b, NodeRef root, NodeRef, NodeRef) {
            b.node(root).branches[0] = Word{kFar};
        },
        [&](ArchiveBuilder&, std::uint64_t length) {
            return std::vector{problem(ProblemKind::NodeUnreadable, {}, kFar,
                                       "its chain cannot be read in full: the block at offset " +
                                           std::to_string(kFar) + at(length))};
        }));
    cases.push_back(tree_case(
        "entry count",
        [](ArchiveBuilder& b, NodeRef, NodeRef left, NodeRef) { b.node(left).entry_count = 62; },
        [&](ArchiveBuilder& b, std::uint64_t) {
            return std::vector{problem(ProblemKind::EntryCount, {}, b.resolve(NodeRef{0}),
                                       "entry_count is 62, more than the 61 entries a node holds: "
                                       "its entries and children are skipped")};
        }));
    cases.push_back(tree_case(
        "shared subtree",
        [](ArchiveBuilder& b, NodeRef root, NodeRef left, NodeRef) {
            b.node(root).branches[1] = left;
        },
        [&](ArchiveBuilder& b, std::uint64_t) {
            return std::vector{problem(ProblemKind::NodeRevisited, {}, b.resolve(NodeRef{0}),
                                       "reached again from directory node at offset " +
                                           std::to_string(b.resolve(NodeRef{2})) +
                                           ": a cycle or a shared subtree, not walked again")};
        }));
    cases.push_back(tree_case(
        "duplicates, out of order",
        [](ArchiveBuilder& b, NodeRef, NodeRef left, NodeRef right) {
            b.node(left).entries = {entry(0x05), entry(0x10), entry(0x12)};
            b.node(right).entries = {entry(0x30), entry(0x25), entry(0x05)};
        },
        [&](ArchiveBuilder& b, std::uint64_t) {
            const std::uint64_t left = b.resolve(NodeRef{0});
            const std::uint64_t right = b.resolve(NodeRef{1});
            const std::string root = std::to_string(b.resolve(NodeRef{2}));
            return std::vector{
                problem(ProblemKind::DuplicateId, 0x10, left,
                        "listed again (first in directory node at offset " + root +
                            "); open keeps this later entry"),
                problem(ProblemKind::KeyOrder, 0x12, left,
                        "outside the ids its place in the tree allows: below 0x00000010"),
                problem(ProblemKind::KeyOrder, 0x25, right,
                        "not above the id before it in its node, 0x00000030"),
                problem(ProblemKind::DuplicateId, 0x05, right,
                        "listed again (first in directory node at offset " + std::to_string(left) +
                            "); open keeps this later entry")};
        }));
    cases.push_back(tree_case(
        "unbalanced",
        [](ArchiveBuilder& b, NodeRef, NodeRef, NodeRef right) {
            const NodeRef low = b.add_node(node({entry(0x18)}));
            const NodeRef high = b.add_node(node({entry(0x30)}));
            b.node(right).branches[0] = low;
            b.node(right).branches[1] = high;
        },
        [&](ArchiveBuilder& b, std::uint64_t) {
            return std::vector{problem(ProblemKind::TreeDepth, {}, b.resolve(NodeRef{3}),
                                       "leaf at depth 3, while the first leaf lies at depth 2: the "
                                       "tree is not balanced")};
        }));
    cases.push_back(tree_case(
        "below the separator",
        [](ArchiveBuilder& b, NodeRef, NodeRef, NodeRef right) {
            b.node(right).entries = {entry(0x08), entry(0x20)};
        },
        [&](ArchiveBuilder& b, std::uint64_t) {
            return std::vector{problem(ProblemKind::KeyOrder, 0x08, b.resolve(NodeRef{1}),
                                       "outside the ids its place in the tree allows: above "
                                       "0x00000010")};
        }));
    cases.push_back(tree_case(
        "overlong node block",
        // The root's first block ends its chain, so the node's 1716 bytes are read from it.
        [](ArchiveBuilder& b, NodeRef root, NodeRef, NodeRef) {
            b.node(root).links = {{0, Word{0U}}};
        },
        [&](ArchiveBuilder& b, std::uint64_t) {
            const std::uint64_t root = b.resolve(NodeRef{2});
            return std::vector{problem(ProblemKind::OverlongLastBlock, {}, root,
                                       "directory node at offset " + std::to_string(root) +
                                           ": its last block supplies 1716 bytes, more than the "
                                           "1020 a block holds")};
        }));
    {
        ArchiveBuilder builder(1024);
        const ChainRef broken = builder.add_file(0x06000001, pattern(3000, 1));
        builder.set_link(BlockRef{broken, 1}, Word{kFar});
        const ChainRef small = builder.add_chain(pattern(10, 2));
        builder.add_entry(entry(0x06000002, small, 0x80000000));
        builder.add_file(0x06000003, pattern(10, 3));
        Buffer archive = builder.build();
        const std::uint64_t length = builder.archive_length();
        cases.push_back(
            {"unreadable files",
             std::move(archive),
             {problem(ProblemKind::FileUnreadable, 0x06000001, kFar,
                      "its chain from offset " + std::to_string(builder.resolve(broken)) +
                          " cannot be read in full: the block at offset " + std::to_string(kFar) +
                          at(length)),
              problem(ProblemKind::FileUnreadable, 0x06000002, builder.resolve(small),
                      "its stored size 2147483648 is larger than the archive (" +
                          std::to_string(length) + " bytes)")}});
    }
    {
        // Files 1 and 2 share a chain, file 3 loops, file 4 starts in the root node's block.
        ArchiveBuilder builder(1024);
        const ChainRef shared = builder.add_chain(pattern(2000, 1));
        const ChainRef loop = builder.add_chain(pattern(3000, 3));
        builder.set_link(BlockRef{loop, 2}, BlockRef{loop, 0});
        const NodeRef root = builder.add_node(node({
            ArchiveBuilder::entry_for(shared, 0x06000001),
            ArchiveBuilder::entry_for(shared, 0x06000002),
            entry(0x06000003, loop, 5000),
            entry(0x06000004, NodeRef{0}, 100),
        }));
        builder.set_root(root);
        Buffer archive = builder.build();
        const std::string root_text = std::to_string(builder.resolve(root));
        cases.push_back(
            {"overlaps",
             std::move(archive),
             {problem(ProblemKind::Overlap, 0x06000002, builder.resolve(shared),
                      "file 0x06000001 and file 0x06000002 read the same bytes"),
              problem(ProblemKind::Overlap, 0x06000003, builder.resolve(loop),
                      "file 0x06000003 reads the same bytes twice: its chain runs into itself"),
              problem(ProblemKind::Overlap, 0x06000004, builder.resolve(root),
                      "directory node at offset " + root_text +
                          " and file 0x06000004 read the same bytes")}});
    }
    {
        ArchiveBuilder builder(1024);
        Buffer overstated = testkit::lrs_compress(pattern(500, 1));
        overstated[0] = 0x58; // 600
        overstated[1] = 0x02;
        const ChainRef long_claim = builder.add_file(0x06000001, overstated, {.bit_flags = 1});
        const ChainRef tiny = builder.add_file(0x06000002, Buffer{1, 2}, {.bit_flags = 1});
        const ChainRef reference_first = builder.add_file(
            0x03000001, Bytes().u32(4).raw({0x80, 0x01, 0x00}).take(), {.bit_flags = 1});
        const Buffer bad_model = Buffer(7, 0xFF);
        const ChainRef model = builder.add_file(0x02000001, bad_model, {.compress = true});
        builder.add_file(0x33000001,
                         testkit::build_physics_script(testkit::make_physics_script_spec(1, 3)),
                         {.compress = true});
        builder.add_file(0x06000003, Buffer{}, {.bit_flags = 1});
        Buffer archive = builder.build();
        cases.push_back(
            {"compressed streams and decoders",
             std::move(archive),
             {problem(ProblemKind::CompressedStream, 0x06000001, builder.resolve(long_claim),
                      "decompresses to 500 bytes, fewer than the 600 its size word declares"),
              problem(ProblemKind::CompressedStream, 0x06000002, builder.resolve(tiny),
                      "holds 2 stored bytes, too few for the 4-byte size word of a compressed "
                      "file"),
              problem(ProblemKind::CompressedStream, 0x03000001, builder.resolve(reference_first),
                      "decompresses to 0 bytes, fewer than the 4 its size word declares"),
              problem(ProblemKind::Decode, 0x02000001, builder.resolve(model),
                      decoder_says("SetupModel::read", 0x02000001, bad_model))}});
    }
    {
        ArchiveBuilder builder(1024);
        const Buffer cut_animation(3, 0);
        const ChainRef animation = builder.add_file(0x03000002, cut_animation);
        const Buffer cut_script = Bytes().u32(0x33000002).u32(5).take();
        const ChainRef script = builder.add_file(0x33000002, cut_script);
        const ChainRef spread = builder.add_chain(pattern(3000, 4), {.contiguous = true});
        builder.add_entry(ArchiveBuilder::entry_for(spread, 0x06000001));
        builder.header().file_size = 12345;
        Buffer archive = builder.build();
        cases.push_back(
            {"decoders, overlong block, file size",
             std::move(archive),
             {problem(ProblemKind::Decode, 0x03000002, builder.resolve(animation),
                      decoder_says("Animation::read", 0x03000002, cut_animation)),
              problem(ProblemKind::Decode, 0x33000002, builder.resolve(script),
                      decoder_says("PhysicsScript::unpack", 0x33000002, cut_script)),
              problem(ProblemKind::OverlongLastBlock, 0x06000001, builder.resolve(spread),
                      "its last block supplies 3000 bytes, more than the 1020 a block holds"),
              problem(ProblemKind::FileSize, {}, 328,
                      "file_size is 12345, but the archive is " +
                          std::to_string(builder.archive_length()) + " bytes long")}});
    }
    free_list_cases(cases);
    return cases;
}

// Damage mostly leaves space nothing leads to any more; those `unreachable` warnings are left
// out here and checked on archives made for them.
TEST(VerifierTest, EachDamagedArchiveReportsExactlyItsProblems) {
    for (const Case& c : damaged_archives()) {
        VerifyReport report = verify(c.archive);
        const auto unreachable = std::erase_if(
            report.problems, [](const Problem& p) { return p.kind == ProblemKind::Unreachable; });
        EXPECT_EQ(sorted(report.problems), sorted(c.expected)) << c.name;
        const auto errors =
            std::count_if(c.expected.begin(), c.expected.end(),
                          [](const Problem& p) { return p.severity == Severity::Error; });
        EXPECT_EQ(report.error_count, static_cast<std::uint64_t>(errors)) << c.name;
        EXPECT_EQ(report.warning_count - unreachable, c.expected.size() - report.error_count)
            << c.name;
    }
}

// Space nothing leads to is found in stretches of at least a block: a chain no entry uses, here.
// The block an empty file points at, what an overlong last block supplies, free blocks and the
// gap before the first block are not such space.
TEST(VerifierTest, SpaceNothingLeadsToIsUnreachable) {
    ArchiveBuilder builder(256);
    builder.add_file(0x06000001, pattern(600, 1));
    const ChainRef lost = builder.add_chain(pattern(600, 2));
    builder.add_file(0x06000002, {});
    const ChainRef spread = builder.add_chain(pattern(700, 3), {.contiguous = true});
    builder.add_entry(ArchiveBuilder::entry_for(spread, 0x06000003));
    const ChainRef spare = builder.add_chain(pattern(100, 4));
    (void)builder.build();
    builder.header().free_head = builder.header().free_tail = builder.resolve(spare);
    builder.header().free_count = 1;
    const VerifyReport report = verify(builder.build());
    const std::vector<Problem> expected = {
        problem(ProblemKind::Unreachable, {}, builder.resolve(lost),
                "768 bytes that no file, directory node or free-list block holds"),
        problem(ProblemKind::OverlongLastBlock, 0x06000003, builder.resolve(spread),
                "its last block supplies 700 bytes, more than the 252 a block holds")};
    EXPECT_EQ(sorted(report.problems), sorted(expected));
    EXPECT_EQ(report.summary.unreachable_bytes, 768U);
}

// A sound archive of every kind of file: the three hook-carrying types and others of many sizes,
// a tenth or so compressed, an empty one, a two-level directory and a free list of three blocks;
// with the summary it must give, counted from the layout the test kit wrote.
struct Sound {
    Buffer archive;
    VerifySummary expected;
};

Sound sound_archive(std::uint32_t block_size, std::optional<std::uint64_t> shuffle) {
    ArchiveBuilder builder(block_size);
    if (shuffle) {
        builder.shuffle_blocks(*shuffle);
    }
    VerifySummary s;
    const auto blocks = [&](std::uint64_t length) {
        return (length + block_size - 5) / (block_size - 4);
    };
    std::uint64_t chain_bytes = 0;
    const auto add = [&](std::uint32_t id, const Buffer& contents, bool compress) {
        const ChainRef chain = builder.add_file(id, contents, {.compress = compress});
        const std::uint64_t stored = builder.chain_length(chain);
        ++s.entries;
        ++s.files_read;
        s.stored_bytes += stored;
        s.decompressed_bytes += contents.size();
        s.compressed_files += compress ? 1 : 0;
        chain_bytes += stored + 4 * blocks(stored);
    };
    for (std::uint32_t i = 0; i < 30; ++i) {
        add(0x03000001 + i,
            testkit::build_animation(
                testkit::make_animation_spec(i, 1 + i % 4, 1 + i % 5, i % 3, i % 2 == 0)),
            i % 9 == 0);
        add(0x02000001 + i,
            testkit::build_setup_model(
                testkit::make_setup_model_spec(i, i % 5, 1 + i % 3, i % 2, 1 + i % 2)),
            i % 9 == 1);
        add(0x33000001 + i,
            testkit::build_physics_script(testkit::make_physics_script_spec(i, i % 6)), i % 9 == 2);
        add(0x06000001 + i, pattern(i * 397 % 5000, i), i % 9 == 3);
    }
    add(0x0E000001, Buffer{}, false);
    const ChainRef spare = builder.add_chain(pattern(3 * (block_size - 4), 9));
    static_cast<void>(builder.build());
    builder.header().free_head = builder.resolve(spare);
    builder.header().free_tail = builder.resolve(BlockRef{spare, 2});
    builder.header().free_count = 3;
    Buffer archive = builder.build();

    s.archive_length = builder.archive_length();
    s.directory_nodes = builder.auto_nodes().size();
    s.tree_height = 2;
    s.free_blocks = 3;
    chain_bytes += s.directory_nodes * (1716 + 4 * blocks(1716));
    s.unread_bytes = s.archive_length - 400 - chain_bytes;
    return {std::move(archive), s};
}

TEST(VerifierTest, SoundArchivesVerifyCleanWithTheirFigures) {
    for (const auto& [block_size, shuffle] :
         {std::pair<std::uint32_t, std::optional<std::uint64_t>>{1024, std::nullopt},
          {256, 11},
          {5, 3}}) {
        const Sound sound = sound_archive(block_size, shuffle);
        const VerifyReport report = verify(sound.archive);
        EXPECT_EQ(report.problems, std::vector<Problem>{}) << block_size;
        EXPECT_EQ(report.error_count + report.warning_count, 0U) << block_size;
        EXPECT_EQ(report.summary, sound.expected) << block_size;
        EXPECT_EQ(report.summary.directory_nodes, 3U);
    }
}

// Two blocks appended after everything else and put on the free list: its last block ends
// exactly where the archive does, and is there to be read.
TEST(VerifierTest, FreeListEndingAtTheArchivesEndIsSound) {
    ArchiveBuilder builder(1024);
    builder.add_file(0x06000001, pattern(2000, 1));
    Buffer archive = builder.build();
    const auto first = static_cast<std::uint32_t>(archive.size());
    archive.resize(archive.size() + 2 * 1024, 0);
    common::store_le(archive.data() + first, first + 1024);
    const auto set_header_word = [&](std::size_t field_offset, std::uint32_t value) {
        common::store_le(archive.data() + 320 + field_offset, value);
    };
    set_header_word(8, static_cast<std::uint32_t>(archive.size())); // file_size
    set_header_word(20, first);                                     // free_head
    set_header_word(24, first + 1024);                              // free_tail
    set_header_word(28, 2);                                         // free_count
    const VerifyReport report = verify(archive);
    EXPECT_EQ(report.problems, std::vector<Problem>{});
    EXPECT_EQ(report.summary.free_blocks, 2U);
}

// On damaged archives the figures count what was read: nodes and files read in full, their
// bytes as a reader gets them, and each unread byte once however many chains share the rest.
TEST(VerifierTest, FiguresOfDamagedArchivesCountWhatWasRead) {
    using ::testing::Contains;
    using ::testing::Field;
    {
        // The root (0x10) and its right leaf (0x20) are read; the left leaf cannot be.
        const Case c = tree_case(
            "unreadable node",
            [](ArchiveBuilder& b, NodeRef root, NodeRef, NodeRef) {
                b.node(root).branches[0] = Word{kFar};
            },
            [](ArchiveBuilder&, std::uint64_t) { return std::vector<Problem>{}; });
        const VerifyReport report = verify(c.archive);
        EXPECT_THAT(report.problems, Contains(Field(&Problem::kind, ProblemKind::NodeUnreadable)));
        EXPECT_EQ(report.summary.directory_nodes, 2U);
        EXPECT_EQ(report.summary.tree_height, 2U);
        EXPECT_EQ(report.summary.entries, 2U);
    }
    {
        // File 2 starts 500 bytes into file 1's one block, where a 0 link word lies, and reads
        // on past file 1's end: 804 bytes of that block are read, 300 of them twice.
        ArchiveBuilder builder(1024);
        Buffer first = pattern(600, 1);
        std::fill_n(first.begin() + 496, 4, 0);
        const ChainRef chain = builder.add_file(0x06000001, first);
        static_cast<void>(builder.build());
        builder.add_entry(entry(0x06000002, Word{builder.resolve(chain) + 500}, 300));
        const VerifyReport report = verify(builder.build());
        EXPECT_THAT(report.problems, Contains(Field(&Problem::kind, ProblemKind::Overlap)));
        EXPECT_EQ(report.summary.files_read, 2U);
        EXPECT_EQ(report.summary.stored_bytes, 900U);
        // And the node's two blocks, each with its link word.
        EXPECT_EQ(report.summary.unread_bytes,
                  builder.archive_length() - 400 - 804 - (1716 + 2 * 4));
    }
    {
        // Nine files share a 4096-byte chain: the first eight store exactly 4 times the
        // archive's length, and are read; the ninth would store more.
        ArchiveBuilder builder(1024);
        const ChainRef shared = builder.add_chain(pattern(4096, 1));
        for (std::uint32_t i = 0; i < 9; ++i) {
            builder.add_entry(ArchiveBuilder::entry_for(shared, 0x06000001 + i));
        }
        const Buffer archive = builder.build();
        ASSERT_EQ(4 * archive.size(), 8 * 4096U);
        const VerifyReport report = verify(archive);
        EXPECT_EQ(report.summary.files_read, 8U);
        EXPECT_EQ(report.summary.stored_bytes, 8 * 4096U);
    }
    {
        ArchiveBuilder builder(1024);
        // A size word alone: an empty file. Too short for a size word: read as stored.
        builder.add_file(0x06000001, Bytes().u32(0).take(), {.bit_flags = 1});
        builder.add_file(0x06000002, Buffer{1, 2}, {.bit_flags = 1});
        Buffer overstated = testkit::lrs_compress(pattern(500, 1));
        overstated[0] = 0x58; // 600
        overstated[1] = 0x02;
        builder.add_file(0x06000003, overstated, {.bit_flags = 1});
        const ChainRef sound = builder.add_file(0x06000004, pattern(300, 2), {.compress = true});
        builder.add_file(0x06000005, pattern(70, 3));
        const VerifyReport report = verify(builder.build());
        EXPECT_THAT(report.problems,
                    Contains(Field(&Problem::kind, ProblemKind::CompressedStream)));
        EXPECT_EQ(report.summary.files_read, 5U);
        EXPECT_EQ(report.summary.compressed_files, 4U);
        EXPECT_EQ(report.summary.stored_bytes,
                  4 + 2 + overstated.size() + builder.chain_length(sound) + 70);
        EXPECT_EQ(report.summary.decompressed_bytes, 0 + 2 + 500 + 300 + 70U);
    }
}

// The several-problem archives, cut into stretches every way (parts handed over in any order, the
// gaps left to `finish`), keeping all problems or only the first few.
TEST(VerifierTest, ReportDoesNotDependOnHowTheFileListIsCut) {
    for (const Case& c : damaged_archives()) {
        const testkit::TempFile file(c.archive, "cut");
        for (const std::size_t keep : {std::size_t{100}, std::size_t{2}}) {
            auto verifier = Verifier::open(file.path(), {.max_stored_problems = keep});
            ASSERT_TRUE(verifier) << c.name;
            const VerifyReport whole = verifier->finish({});
            const std::size_t n = verifier->file_count();
            for (std::size_t cut = 0; cut <= n; ++cut) {
                std::vector<VerifyPart> parts;
                parts.push_back(verifier->check_files(cut, n));
                if (cut % 2 == 0) {
                    parts.push_back(verifier->check_files(0, cut / 2));
                }
                const VerifyReport joined = verifier->finish(std::move(parts));
                EXPECT_EQ(joined.problems, whole.problems) << c.name << " cut " << cut;
                EXPECT_EQ(joined.summary, whole.summary) << c.name << " cut " << cut;
                EXPECT_EQ(joined.error_count, whole.error_count) << c.name;
                EXPECT_EQ(joined.warning_count, whole.warning_count) << c.name;
            }
            for (const std::size_t count :
                 {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{7}}) {
                const auto stretches = verifier->stretches(count);
                ASSERT_EQ(stretches.size(), count);
                std::vector<VerifyPart> parts;
                for (const auto& stretch : stretches) {
                    parts.push_back(verifier->check_files(stretch.first, stretch.last));
                }
                EXPECT_EQ(stretches.back().last, n);
                EXPECT_EQ(verifier->finish(std::move(parts)).problems, whole.problems);
            }
        }
    }
}

// A scattered archive of several chunks of link words, its two halves checked on two threads at
// once (which share the pass that learns the link words), reports what one thread finds, broken
// chains included.
TEST(VerifierTest, ScatteredArchiveCheckedOnTwoThreadsAtOnceReportsAsOne) {
    ArchiveBuilder builder(1024);
    builder.shuffle_blocks(21);
    std::optional<ChainRef> broken;
    for (std::uint32_t i = 0; i < 2000; ++i) {
        const ChainRef chain =
            builder.add_file(0x06000001 + i, pattern(4000 + i % 4000, i), {.compress = i % 7 == 0});
        broken = i == 1000 ? chain : broken;
    }
    Buffer archive = builder.build();
    ASSERT_GT(archive.size(), std::size_t{9} << 20);
    // One chain's first link word sent past the end of the archive.
    common::store_le(archive.data() + builder.resolve(*broken), std::uint32_t{0xFFFFFC00});
    const testkit::TempFile file(archive, "scattered");

    auto one = Verifier::open(file.path());
    ASSERT_TRUE(one);
    const VerifyReport whole = one->finish({});
    EXPECT_EQ(whole.error_count, 1U);
    auto two = Verifier::open(file.path());
    ASSERT_TRUE(two);
    const auto halves = two->stretches(2);
    std::optional<VerifyPart> second;
    std::thread helper([&] { second.emplace(two->check_files(halves[1].first, halves[1].last)); });
    std::vector<VerifyPart> parts;
    parts.push_back(two->check_files(halves[0].first, halves[0].last));
    helper.join();
    parts.push_back(std::move(*second));
    const VerifyReport joined = two->finish(std::move(parts));
    EXPECT_EQ(joined.problems, whole.problems);
    EXPECT_EQ(joined.summary, whole.summary);
}

// On a scattered archive the file checks claim the blocks they read rather than keep an extent
// per block. Whatever the damage, the report is the one the extents give, which a second
// `finish` shows: the claims serve one, so it checks the files keeping extents.
TEST(VerifierTest, ScatteredArchivesReportWhatTheirExtentsShow) {
    using ::testing::Contains;
    using ::testing::Field;
    ArchiveBuilder builder(1024);
    builder.shuffle_blocks(9);
    std::vector<ChainRef> chains;
    for (std::uint32_t i = 0; i < 300; ++i) {
        chains.push_back(
            builder.add_file(0x06000001 + i, pattern(2000 + i * 13, i), {.compress = i % 5 == 4}));
    }
    builder.add_chain(pattern(3000, 1)); // lost: no entry leads to it
    const Buffer sound = builder.build();
    const auto block = [&](std::size_t chain, std::uint32_t k) {
        return builder.resolve(BlockRef{chains[chain], k});
    };
    const auto link = [](Buffer& archive, std::uint64_t at, std::uint32_t to) {
        common::store_le(archive.data() + at, to);
    };
    const std::vector<std::pair<ProblemKind, std::function<void(Buffer&)>>> damages = {
        {ProblemKind::Unreachable, [](Buffer&) {}},
        {ProblemKind::FreeList,
         [&](Buffer& a) {
             for (const std::uint64_t field : {340U, 344U}) { // free_head, free_tail
                 link(a, field, block(5, 1));
             }
             link(a, 348U, 1); // free_count
         }},
        {ProblemKind::FileUnreadable, [&](Buffer& a) { link(a, block(7, 0), kFar); }},
        {ProblemKind::Overlap, [&](Buffer& a) { link(a, block(8, 0), block(10, 1)); }},
        {ProblemKind::Overlap, [&](Buffer& a) { link(a, block(20, 1), block(20, 0)); }},
        {ProblemKind::OverlongLastBlock, [&](Buffer& a) { link(a, block(11, 0), 0); }},
        {ProblemKind::Overlap, [&](Buffer& a) { link(a, block(2, 0), block(3, 0) + 100); }},
    };
    for (const auto& [shows, damage] : damages) {
        Buffer archive = sound;
        damage(archive);
        const testkit::TempFile file(archive, "scattered");
        auto verifier = Verifier::open(file.path());
        ASSERT_TRUE(verifier);
        const VerifyReport report = verifier->finish({});
        const VerifyReport with_extents = verifier->finish({});
        EXPECT_THAT(report.problems, Contains(Field(&Problem::kind, shows))) << kind_name(shows);
        EXPECT_EQ(report.problems, with_extents.problems) << kind_name(shows);
        EXPECT_EQ(report.summary, with_extents.summary) << kind_name(shows);
        EXPECT_EQ(report.error_count, with_extents.error_count) << kind_name(shows);
        EXPECT_EQ(report.warning_count, with_extents.warning_count) << kind_name(shows);
    }
}

// Kept problems are the first in report order: errors before warnings, then by offset (none
// last), then by id (none last); the counts cover every problem.
TEST(VerifierTest, KeepsTheFirstProblemsInReportOrderAndCountsAll) {
    ArchiveBuilder builder(1024);
    for (std::uint32_t i = 0; i < 12; ++i) {
        builder.add_file(0x03000001 + i, Buffer(i, 0)); // animations too short to decode
        builder.add_file(0x06000001 + i, pattern(1500, i));
    }
    const ChainRef spread = builder.add_chain(pattern(3000, 4), {.contiguous = true});
    builder.add_entry(ArchiveBuilder::entry_for(spread, 0x06000100));
    builder.header().file_size = 1;
    const Buffer archive = builder.build();

    const VerifyReport all = verify(archive);
    ASSERT_EQ(all.error_count, 12U);
    ASSERT_EQ(all.warning_count, 2U);
    const auto before = [](const Problem& a, const Problem& b) {
        const auto key = [](const Problem& p) {
            return std::tuple(p.severity, !p.offset, p.offset.value_or(0), !p.id, p.id.value_or(0));
        };
        return key(a) < key(b);
    };
    EXPECT_TRUE(std::is_sorted(all.problems.begin(), all.problems.end(), before));
    EXPECT_EQ(all.problems.back().kind, ProblemKind::OverlongLastBlock);
    EXPECT_EQ(all.problems[12].kind, ProblemKind::FileSize);

    for (const std::size_t keep :
         {std::size_t{0}, std::size_t{1}, std::size_t{5}, std::size_t{13}}) {
        const VerifyReport some = verify(archive, {.max_stored_problems = keep});
        EXPECT_EQ(some.error_count, all.error_count);
        EXPECT_EQ(some.warning_count, all.warning_count);
        EXPECT_EQ(some.problems, std::vector(all.problems.begin(),
                                             all.problems.begin() + static_cast<long>(keep)));
    }
}

// Hundreds of entries sharing one chain: the pairs listed stop at the bound and the rest is one
// counted problem; with a longer chain the files past four times the archive's length are not
// read. Either way the check stays quick and small.
TEST(VerifierTest, SharedChainsAreBoundedInWorkAndListing) {
    const auto shared_by_400 = [](std::size_t length) {
        ArchiveBuilder builder(1024);
        const ChainRef shared = builder.add_chain(pattern(length, 1));
        for (std::uint32_t i = 0; i < 400; ++i) {
            builder.add_entry(ArchiveBuilder::entry_for(shared, 0x06000000 + i));
        }
        return builder.build();
    };
    const testkit::TempFile short_chain(shared_by_400(10), "shared");
    const testkit::TempFile long_chain(shared_by_400(900), "shared");
    const auto archive_length = std::filesystem::file_size(long_chain.path());
    EXPECT_EQ(
        testkit::run_with_memory_budget(
            64 << 20, 10,
            [&] {
                // 400 * 399 / 2 pairs: 65536 listed, the rest counted in one more problem.
                const auto listed = verify_archive(short_chain.path());
                if (!listed || listed->error_count != 65537 ||
                    listed->problems.front().message !=
                        "file 0x06000000 and file 0x06000001 read the same bytes" ||
                    listed->problems.back().message !=
                        "14264 more places where chains read the same bytes were not examined "
                        "one by one") {
                    return false;
                }
                // 4 * length / 900 files are read, their pairs listed, the rest not read.
                const auto bounded = verify_archive(long_chain.path());
                const std::uint64_t read = 4 * archive_length / 900;
                return bounded && bounded->summary.files_read == read &&
                       bounded->error_count == read * (read - 1) / 2 + (400 - read) &&
                       bounded->problems.back().message ==
                           "not read: the files whose chains start before it already store "
                           "more than 4 times the archive's length";
            }),
        0);
}

TEST(VerifierTest, OnlyAPathThatCannotBeOpenedIsAnError) {
    const testkit::TempDir dir("verify");
    for (const auto& path : {dir.path() / "missing.dat", dir.path()}) {
        const auto report = verify_archive(path);
        ASSERT_FALSE(report);
        EXPECT_EQ(report.error().kind(), DatError::Kind::PathError);
    }
    const VerifyReport empty = verify(Buffer{});
    EXPECT_EQ(empty.error_count, 1U);
    EXPECT_EQ(empty.summary, VerifySummary{});
}

TEST(VerifierTest, FileTypesByIdRange) {
    using file_type::FileType;
    const std::pair<std::uint32_t, std::optional<FileType>> table[] = {
        {0x01FFFFFF, std::nullopt},
        {0x02000000, FileType::SetupModel},
        {0x02FFFFFF, FileType::SetupModel},
        {0x03000000, FileType::Animation},
        {0x03FFFFFF, FileType::Animation},
        {0x04000000, std::nullopt},
        {0x32FFFFFF, std::nullopt},
        {0x33000000, FileType::PhysicsScript},
        {0x33FFFFFF, FileType::PhysicsScript},
        {0x34000000, std::nullopt},
    };
    for (const auto& [id, type] : table) {
        EXPECT_EQ(file_type::of(id), type) << std::hex << id;
    }
}

// The README's tables of problem kinds (section "Testing an archive") list the library's table:
// each severity's kinds in its order, with the same meanings.
TEST(VerifierTest, ReadmeTablesListEveryProblemKind) {
    std::ifstream readme(QUILLMERE_README_PATH);
    ASSERT_TRUE(readme) << QUILLMERE_README_PATH;
    // "| `name` | meaning |" rows under the heading line of each severity, up to a blank line.
    std::vector<std::pair<std::string, std::string>> rows[2];
    int table = -1;
    for (std::string line; std::getline(readme, line);) {
        if (line.starts_with("Errors (the archive is damaged):")) {
            table = 0;
        } else if (line.starts_with("Warnings (odd, but the archive reads in full):")) {
            table = 1;
        } else if (table >= 0 && line.starts_with("| `")) {
            const auto name_end = line.find("` | ");
            ASSERT_NE(name_end, std::string::npos) << line;
            ASSERT_TRUE(line.ends_with(" |")) << line;
            rows[table].emplace_back(line.substr(3, name_end - 3),
                                     line.substr(name_end + 4, line.size() - name_end - 6));
        } else if (line.empty() && !rows[table < 0 ? 0 : table].empty()) {
            table = -1;
        }
    }
    std::vector<std::pair<std::string, std::string>> expected[2];
    for (const ProblemKindInfo& info : kProblemKinds) {
        expected[info.severity == Severity::Error ? 0 : 1].emplace_back(info.name, info.meaning);
    }
    EXPECT_EQ(rows[0], expected[0]);
    EXPECT_EQ(rows[1], expected[1]);
}

} // namespace
} // namespace quillmere::dat
