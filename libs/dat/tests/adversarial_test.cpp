// Damaged and hostile archives: offsets past the end or above 4 GiB, the smallest block sizes,
// looping chains, sizes and counts far beyond what the archive holds. Each must end with a clear
// error (or, where the format allows it, the right bytes), quickly and with memory in proportion
// to the archive, and the verifier must find at least one error in each damaged one, as quickly.
// The plainer cases (cycles, 0xFFFFFFFF entry counts, block sizes up to 4) are in
// dat_database_test.cpp.
#include "limited_child.hpp"
#include "quillmere/dat/dat_database.hpp"
#include "quillmere/dat/file_type/animation.hpp"
#include "quillmere/dat/file_type/physics_script.hpp"
#include "quillmere/dat/file_type/setup_model.hpp"
#include "quillmere/dat/verifier.hpp"
#include "quillmere/testkit/archive_builder.hpp"
#include "quillmere/testkit/bytes.hpp"
#include "quillmere/testkit/lrs_compressor.hpp"
#include "quillmere/testkit/matchers.hpp"
#include "quillmere/testkit/portal_files.hpp"
#include "quillmere/testkit/temp_file.hpp"

#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace quillmere::dat {
namespace {

using testkit::ArchiveBuilder;
using testkit::BlockRef;
using testkit::Bytes;
using testkit::ChainRef;
using testkit::EntrySpec;
using testkit::NodeRef;
using testkit::Word;
using Buffer = std::vector<std::uint8_t>;

// Hostile inputs run in a child with this much extra memory and CPU time: far less than any of
// the sizes and counts they declare would need, far more than the archives themselves.
constexpr std::uint64_t kBudget = 32 << 20;
constexpr unsigned kCpuSeconds = 20;

constexpr const char* kShortRead = "IO error: failed to fill whole buffer";

Buffer pattern(std::size_t length, std::uint32_t seed) {
    Buffer out(length);
    for (std::size_t i = 0; i < length; ++i) {
        out[i] = static_cast<std::uint8_t>(i * 13 + seed * 5 + i / 241);
    }
    return out;
}

EntrySpec entry(std::uint32_t id, Word offset, std::uint32_t size, std::uint32_t bit_flags = 0) {
    EntrySpec plan;
    plan.bit_flags = bit_flags;
    plan.id = id;
    plan.offset = offset;
    plan.size = size;
    return plan;
}

// An archive written to a temporary file and opened.
struct Opened {
    explicit Opened(ArchiveBuilder& builder)
        : file(builder.build(), "adversarial"), db(DatDatabase::open(file.path())) {}

    testkit::TempFile file;
    DatResult<DatDatabase> db;
};

std::string why(const DatResult<DatDatabase>& db) {
    return db ? "" : db.error().message();
}

template <class T>
std::string message_of(const DatResult<T>& result) {
    return result ? "(succeeded)" : result.error().message();
}

// `check` in a child process within the budget; success when it returned true there.
testing::AssertionResult within_budget(const std::function<bool()>& check) {
    return within_limits(kBudget, kCpuSeconds, check);
}

// The verifier on the archive at `path`, within the budget: at least one error for a damaged
// archive, no problem at all for a sound one.
testing::AssertionResult verifier_finds(const std::filesystem::path& path, bool damaged) {
    return within_budget([&] {
        const auto report = verify_archive(path);
        return report && report->has_errors() == damaged && (damaged || report->warning_count == 0);
    });
}

// Offsets at which no block can be read: the link word partly or wholly past the end, far past
// it, and above 0xFFFFFFFB, where the payload position no longer fits in 32 bits.
std::vector<std::uint32_t> unreadable_offsets(std::uint64_t archive_length) {
    const auto length = static_cast<std::uint32_t>(archive_length);
    return {length - 2, length,     length + 1000, 0x7FFFFFF0,
            0xFFFFFFFB, 0xFFFFFFFC, 0xFFFFFFFE,    0xFFFFFFFF};
}

TEST(AdversarialTest, RootOrBranchPastTheEndIsAShortRead) {
    // One node, the root or a branch of it, so the archive's length does not depend on `offset`.
    const auto archive = [](std::uint32_t offset, bool as_root) {
        ArchiveBuilder builder(1024);
        const NodeRef node = builder.add_node();
        builder.node(node).entries.push_back(entry(1, std::uint32_t{0}, 0));
        builder.node(node).branches[0] = Word{offset};
        builder.set_root(as_root ? Word{offset} : Word{node});
        return builder;
    };
    auto probe = archive(0, true);
    static_cast<void>(probe.build());
    for (const std::uint32_t offset : unreadable_offsets(probe.archive_length())) {
        for (const bool as_root : {true, false}) {
            auto builder = archive(offset, as_root);
            const Opened opened(builder);
            ASSERT_EQ(builder.archive_length(), probe.archive_length());
            ASSERT_FALSE(opened.db) << offset;
            EXPECT_EQ(opened.db.error().message(), kShortRead) << offset << " root " << as_root;
            EXPECT_TRUE(verifier_finds(opened.file.path(), true)) << offset;
        }
    }
}

TEST(AdversarialTest, ChainStartingOrLinkingPastTheEndIsAShortReadAndTheArchiveStaysUsable) {
    // File 1's chain (four blocks) links from its third block to `offset`; files 3 and 4
    // (the second flagged compressed) start there.
    struct Layout {
        ArchiveBuilder builder{256};
        ChainRef linked;
    };
    const auto archive = [](std::uint32_t offset) {
        Layout layout;
        layout.linked = layout.builder.add_chain(pattern(1000, 1));
        layout.builder.set_link(BlockRef{layout.linked, 2}, Word{offset});
        layout.builder.add_file(2, pattern(300, 2));
        layout.builder.add_entry(ArchiveBuilder::entry_for(layout.linked, 1));
        layout.builder.add_entry(entry(3, offset, 10));
        layout.builder.add_entry(entry(4, offset, 10, 1));
        return layout;
    };
    auto probe = archive(0);
    static_cast<void>(probe.builder.build());
    for (const std::uint32_t offset : unreadable_offsets(probe.builder.archive_length())) {
        auto layout = archive(offset);
        const Opened opened(layout.builder);
        ASSERT_TRUE(opened.db) << why(opened.db);
        ASSERT_EQ(opened.db->archive_length(), probe.builder.archive_length());
        for (const std::uint32_t id : {1U, 3U, 4U}) {
            EXPECT_EQ(message_of(opened.db->get_file(id)), kShortRead) << id << " at " << offset;
        }
        // The bad link is followed only once its block is used up: three blocks still read.
        EXPECT_EQ(opened.db->read_file_data(layout.builder.resolve(layout.linked), 756)
                      .value_or(Buffer{}),
                  pattern(756, 1));
        EXPECT_EQ(opened.db->get_file(2).value_or(Buffer{}), pattern(300, 2));
        EXPECT_TRUE(verifier_finds(opened.file.path(), true)) << offset;
    }
}

// Block size 5, the smallest that carries data: one payload byte per block, so a 1716-byte
// directory node is a chain of 1716 blocks. Such an archive is well-formed and reads exactly.
TEST(AdversarialTest, BlockSizeFiveCarriesOneByteABlock) {
    ArchiveBuilder builder(5);
    builder.shuffle_blocks(17);
    for (std::uint32_t id = 1; id <= 70; ++id) { // two directory levels
        builder.add_file(id, pattern(id % 9, id), {.compress = id % 3 == 0});
    }
    builder.add_file(100, pattern(700, 100));
    const Opened opened(builder);
    ASSERT_TRUE(opened.db) << why(opened.db);
    EXPECT_EQ(opened.db->header().block_size, 5U);
    ASSERT_EQ(opened.db->files().size(), 71U);
    for (std::uint32_t id = 1; id <= 70; ++id) {
        EXPECT_EQ(opened.db->get_file(id).value_or(Buffer{0xEE}), pattern(id % 9, id)) << id;
    }
    EXPECT_EQ(opened.db->get_file(100).value_or(Buffer{}), pattern(700, 100));
    EXPECT_TRUE(verifier_finds(opened.file.path(), false));
}

// With one payload byte a block, a chain that loops back on itself visits a block per byte; it
// still ends after `size` blocks, and `size` cannot exceed the archive.
TEST(AdversarialTest, LoopingChainOfBlockSizeFiveEndsAfterItsSize) {
    ArchiveBuilder builder(5);
    const ChainRef loop = builder.add_chain(Buffer{1, 2, 3});
    builder.set_link(BlockRef{loop, 2}, BlockRef{loop, 0});
    builder.add_chain(pattern(4000, 3)); // room for a long looping read
    const ChainRef self = builder.add_chain(Buffer{9});
    builder.set_link(BlockRef{self, 0}, BlockRef{self, 0});
    builder.add_entry(entry(1, loop, 3000));
    builder.add_entry(entry(2, self, 3000));
    const Opened opened(builder);
    ASSERT_TRUE(opened.db) << why(opened.db);
    const auto length = static_cast<std::uint32_t>(opened.db->archive_length());
    EXPECT_TRUE(within_budget([&] {
        const auto cycled = opened.db->read_file_data(builder.resolve(loop), length);
        const auto repeated = opened.db->read_file_data(builder.resolve(self), length);
        if (!cycled || !repeated || cycled->size() != length) {
            return false;
        }
        for (std::size_t i = 0; i < length; ++i) {
            if ((*cycled)[i] != i % 3 + 1 || (*repeated)[i] != 9) {
                return false;
            }
        }
        return true;
    }));
    EXPECT_TRUE(verifier_finds(opened.file.path(), true));
}

// A directory node whose chain loops still has 1716 bytes to give; its bytes repeat, and what
// they say decides the rest (here: a leaf with one entry).
TEST(AdversarialTest, DirectoryNodeWhoseChainLoopsIsReadLikeAnyChain) {
    ArchiveBuilder builder(512);
    Bytes first_block;
    first_block.fill(62 * 4, 0).u32(1).u32(0).u32(0x33).u32(0).u32(0).u32(0).u32(0);
    first_block.fill(508 - first_block.size(), 0);
    const ChainRef node = builder.add_chain(first_block.take());
    builder.set_link(BlockRef{node, 0}, BlockRef{node, 0});
    builder.add_chain(Buffer(2000, 0));
    builder.set_root(node);
    const testkit::TempFile file(builder.build(), "looping-node");
    // First in a time-limited child, so a chain read that no longer ends fails plainly.
    ASSERT_TRUE(within_budget([&] { return DatDatabase::open(file.path()).has_value(); }));
    const auto db = DatDatabase::open(file.path());
    ASSERT_TRUE(db) << why(db);
    ASSERT_EQ(db->files().size(), 1U);
    EXPECT_TRUE(db->files().contains(0x33));
    EXPECT_TRUE(verifier_finds(file.path(), true));
}

// Sizes up to 4 GiB on an archive of a few KiB are refused before the buffer is allocated,
// compressed or not; one byte more than the archive is already too many, the archive's own
// length is not.
TEST(AdversarialTest, SizeBeyondTheArchiveIsCorruptionWithinTheBudget) {
    // Files 10 (plain) and 11 (compressed) of `size` bytes at a 100-byte chain; file 12 is the
    // whole archive from its first byte on, a chain whose first link word (a zero preamble) makes
    // it one contiguous read.
    struct Layout {
        ArchiveBuilder builder{1024};
        ChainRef chain;
    };
    const auto archive = [](std::uint32_t size) {
        Layout layout;
        layout.builder.preamble_fill(0);
        layout.chain = layout.builder.add_chain(pattern(100, 1));
        for (const std::uint32_t flags : {0U, 1U}) {
            layout.builder.add_entry(entry(10 + flags, layout.chain, size, flags));
        }
        layout.builder.add_entry(entry(12, std::uint32_t{0}, size));
        return layout;
    };
    auto probe = archive(0);
    static_cast<void>(probe.builder.build());
    const std::uint64_t length = probe.builder.archive_length();

    for (const std::uint32_t size :
         {static_cast<std::uint32_t>(length) + 1, 0x80000000U, 0xFFFFFFFBU, 0xFFFFFFFFU}) {
        auto layout = archive(size);
        const Opened opened(layout.builder);
        ASSERT_TRUE(opened.db) << why(opened.db);
        ASSERT_EQ(opened.db->archive_length(), length);
        const std::string at_chain =
            "Corruption detected: stored file of " + std::to_string(size) + " bytes at offset " +
            std::to_string(layout.builder.resolve(layout.chain)) + " is longer than the archive (" +
            std::to_string(length) + " bytes)";
        EXPECT_TRUE(within_budget([&] {
            return message_of(opened.db->get_file(10)) == at_chain &&
                   message_of(opened.db->get_file(11)) == at_chain &&
                   message_of(opened.db->get_file(12)).starts_with("Corruption detected: ");
        })) << size;
        EXPECT_TRUE(verifier_finds(opened.file.path(), true)) << size;
    }

    // As long as the archive, the chain at 0 still runs 4 bytes past the end; 4 less, it fits.
    auto as_long = archive(static_cast<std::uint32_t>(length));
    const Opened too_long(as_long.builder);
    ASSERT_TRUE(too_long.db) << why(too_long.db);
    EXPECT_EQ(message_of(too_long.db->get_file(12)), kShortRead);
    auto fitting = archive(static_cast<std::uint32_t>(length) - 4);
    const Opened fits(fitting.builder);
    ASSERT_TRUE(fits.db) << why(fits.db);
    const auto whole = fits.db->get_file(12);
    ASSERT_TRUE(whole) << whole.error().message();
    EXPECT_EQ(whole->size(), length - 4);
    EXPECT_TRUE(verifier_finds(too_long.file.path(), true));
    EXPECT_TRUE(verifier_finds(fits.file.path(), true));
}

// A compressed file that declares 4 GiB of output over a few bytes of stream yields what the
// stream describes, without reserving the declared size.
TEST(AdversarialTest, CompressedFileDeclaringFourGibYieldsOnlyWhatItsStreamHolds) {
    ArchiveBuilder builder(1024);
    const Buffer tiny = Bytes().u32(0xFFFFFFFF).raw({0x20, 0x41, 0x42, 0x02, 0x0F}).take();
    builder.add_file(1, tiny, {.bit_flags = 1});
    Buffer literals = Bytes().u32(0xFFFFFFFF).take();
    for (int group = 0; group < 100; ++group) {
        literals.push_back(0x00);
        literals.insert(literals.end(), 8, static_cast<std::uint8_t>(group));
    }
    builder.add_file(2, literals, {.bit_flags = 1});
    const Opened opened(builder);
    ASSERT_TRUE(opened.db) << why(opened.db);
    EXPECT_TRUE(within_budget([&] {
        const auto repeated = opened.db->get_file(1);
        const auto copied = opened.db->get_file(2);
        return repeated &&
               *repeated == Buffer{0x41, 0x42, 0x41, 0x42, 0x41, 0x42, 0x41, 0x42, 0x41, 0x42,
                                   0x41, 0x42, 0x41, 0x42, 0x41, 0x42, 0x41, 0x42, 0x41} &&
               copied && copied->size() == 800 && copied->capacity() <= 9000;
    }));
    EXPECT_TRUE(verifier_finds(opened.file.path(), true));
}

// ---- Counts of 0xFFFFFFFF inside stored files ------------------------------------------------

enum class FileType { Animation, SetupModel, PhysicsScript };

// How decoding such a file ends: out of bytes, or (where the surplus entries hold hooks) at a
// hook whose type word is really a float of the data that follows.
enum class Failure { ShortRead, UnknownHookType };

struct HostileFile {
    std::string what;
    FileType type;
    Buffer bytes;
    Failure failure = Failure::ShortRead;
};

std::vector<HostileFile> hostile_files() {
    std::vector<HostileFile> files;
    const auto add_animation = [&](std::string what, auto&& edit) {
        testkit::AnimationSpec plan = testkit::make_animation_spec(1, 1, 1, 1, true);
        edit(plan);
        files.push_back({"animation " + what, FileType::Animation, testkit::build_animation(plan)});
    };
    add_animation("num_frames", [](auto& plan) { plan.num_frames = 0xFFFFFFFF; });
    add_animation("num_parts", [](auto& plan) { plan.num_parts = 0xFFFFFFFF; });
    add_animation("num_hooks", [](auto& plan) { plan.part_frames[0].num_hooks = 0xFFFFFFFF; });

    const auto add_setup = [&](std::string what, auto&& edit,
                               Failure failure = Failure::ShortRead) {
        testkit::SetupModelSpec plan = testkit::make_setup_model_spec(2, 0x3, 1, 1, 1);
        edit(plan);
        files.push_back({"setup model " + what, FileType::SetupModel,
                         testkit::build_setup_model(plan), failure});
    };
    add_setup("num_parts", [](auto& plan) { plan.num_parts = 0xFFFFFFFF; });
    add_setup("num_holding", [](auto& plan) { plan.num_holding = 0xFFFFFFFF; });
    add_setup("num_conn", [](auto& plan) { plan.num_conn = 0xFFFFFFFF; });
    add_setup(
        "num_placements", [](auto& plan) { plan.num_placements = 0x7FFFFFFF; },
        Failure::UnknownHookType);
    add_setup(
        "placement num_hooks",
        [](auto& plan) { plan.placement_frames[0].value.num_hooks = 0xFFFFFFFF; },
        Failure::UnknownHookType);
    add_setup("num_cyl", [](auto& plan) { plan.num_cyl = 0xFFFFFFFF; });
    add_setup("num_sph", [](auto& plan) { plan.num_sph = 0xFFFFFFFF; });
    add_setup("num_lights", [](auto& plan) { plan.num_lights = 0xFFFFFFFF; });

    testkit::PhysicsScriptSpec script = testkit::make_physics_script_spec(3, 2);
    script.num_entries = 0xFFFFFFFF;
    files.push_back({"physics script num_script_datas", FileType::PhysicsScript,
                     testkit::build_physics_script(script)});
    return files;
}

// The file's decoder on its bytes; its error, or nothing when it succeeded.
std::optional<common::DecodeError> decode_error(FileType type, const Buffer& bytes) {
    common::ByteCursor cursor(bytes);
    switch (type) {
    case FileType::Animation: {
        auto animation = file_type::animation::Animation::read(cursor);
        return animation ? std::nullopt : std::optional(animation.error());
    }
    case FileType::SetupModel: {
        auto model = file_type::setup_model::SetupModel::read(cursor);
        return model ? std::nullopt : std::optional(model.error());
    }
    case FileType::PhysicsScript: {
        auto script = file_type::physics_script::PhysicsScript::unpack(bytes);
        return script ? std::nullopt : std::optional(script.error());
    }
    }
    return std::nullopt;
}

bool fails_as_expected(const HostileFile& file, const Buffer& bytes) {
    const auto error = decode_error(file.type, bytes);
    if (!error) {
        return false;
    }
    if (file.failure == Failure::ShortRead) {
        return testkit::is_short_read(*error);
    }
    return error->kind() == common::DecodeError::Kind::Custom &&
           error->message().starts_with("Unsupported AnimationHook type: 0x");
}

// Each hostile file stored plain, compressed, and compressed with a declared output of 4 GiB:
// fetched through the archive and decoded, it fails at the first element that does not fit (or
// is not a hook), within the budget.
TEST(AdversarialTest, HugeCountsInsideStoredFilesFailAsShortReads) {
    const auto files = hostile_files();
    ArchiveBuilder builder(256);
    builder.shuffle_blocks(29);
    std::uint32_t id = 1;
    for (const HostileFile& file : files) {
        builder.add_file(id++, file.bytes);
        builder.add_file(id++, file.bytes, {.compress = true});
        Buffer overstated = testkit::lrs_compress(file.bytes);
        overstated[0] = overstated[1] = overstated[2] = overstated[3] = 0xFF;
        builder.add_file(id++, overstated, {.bit_flags = 1});
    }
    const Opened opened(builder);
    ASSERT_TRUE(opened.db) << why(opened.db);
    id = 1;
    for (const HostileFile& file : files) {
        for (int form = 0; form < 3; ++form, ++id) {
            EXPECT_TRUE(within_budget([&] {
                const auto bytes = opened.db->get_file(id);
                return bytes && *bytes == file.bytes && fails_as_expected(file, *bytes);
            })) << file.what
                << " in form " << form;
        }
    }
    EXPECT_TRUE(verifier_finds(opened.file.path(), true));
}

} // namespace
} // namespace quillmere::dat
