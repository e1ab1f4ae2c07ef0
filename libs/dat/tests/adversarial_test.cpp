// Damaged and hostile archives: offsets past the end or above 4 GiB, the smallest block sizes,
// looping chains, sizes and counts far beyond what the archive holds. Each must end with a clear
// error (or, where the format allows it, the right bytes), quickly and with memory in proportion
// to the archive, and the verifier must find at least one error in each damaged one, as quickly.
// The archives come from the test kit's catalogue of hostile archives, which tools' tests run
// over as well. The plainer cases (cycles, 0xFFFFFFFF entry counts, block sizes up to 4) are in
// dat_database_test.cpp.
#include "limited_child.hpp"
#include "quillmere/dat/dat_database.hpp"
#include "quillmere/dat/file_type/animation.hpp"
#include "quillmere/dat/file_type/physics_script.hpp"
#include "quillmere/dat/file_type/setup_model.hpp"
#include "quillmere/dat/verifier.hpp"
#include "quillmere/testkit/archive_builder.hpp"
#include "quillmere/testkit/hostile_archives.hpp"
#include "quillmere/testkit/matchers.hpp"
#include "quillmere/testkit/temp_file.hpp"

#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace quillmere::dat {
namespace {

using testkit::ArchiveBuilder;
using testkit::hostile::pattern;
using Buffer = std::vector<std::uint8_t>;

// Hostile inputs run in a child with this much extra memory and CPU time: far less than any of
// the sizes and counts they declare would need, far more than the archives themselves.
constexpr std::uint64_t kBudget = 32 << 20;
constexpr unsigned kCpuSeconds = 20;

constexpr const char* kShortRead = "IO error: failed to fill whole buffer";

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

TEST(AdversarialTest, RootOrBranchPastTheEndIsAShortRead) {
    // One node, the root or a branch of it, so the archive's length does not depend on `offset`.
    auto probe = testkit::hostile::node_branching_to(0, true);
    static_cast<void>(probe.build());
    for (const std::uint32_t offset :
         testkit::hostile::unreadable_offsets(probe.archive_length())) {
        for (const bool as_root : {true, false}) {
            auto builder = testkit::hostile::node_branching_to(offset, as_root);
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
    auto probe = testkit::hostile::chain_linking_to(0);
    static_cast<void>(probe.builder.build());
    for (const std::uint32_t offset :
         testkit::hostile::unreadable_offsets(probe.builder.archive_length())) {
        auto layout = testkit::hostile::chain_linking_to(offset);
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
    auto builder = testkit::hostile::one_byte_blocks();
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
    auto layout = testkit::hostile::looping_chains();
    ArchiveBuilder& builder = layout.builder;
    const Opened opened(builder);
    ASSERT_TRUE(opened.db) << why(opened.db);
    const auto length = static_cast<std::uint32_t>(opened.db->archive_length());
    EXPECT_TRUE(within_budget([&] {
        const auto cycled = opened.db->read_file_data(builder.resolve(layout.loop), length);
        const auto repeated = opened.db->read_file_data(builder.resolve(layout.self), length);
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
    const testkit::TempFile file(testkit::hostile::looping_directory_node().build(),
                                 "looping-node");
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
    const auto archive = testkit::hostile::sizes_claimed;
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
    auto builder = testkit::hostile::compressed_claiming_four_gib();
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

using testkit::hostile::Ending;
using testkit::hostile::HostileFile;
using FileType = file_type::FileType;

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
    if (file.ending == Ending::ShortRead) {
        return testkit::is_short_read(*error);
    }
    return error->kind() == common::DecodeError::Kind::Custom &&
           error->message().starts_with("Unsupported AnimationHook type: 0x");
}

// Each hostile file stored plain, compressed, and compressed with a declared output of 4 GiB:
// fetched through the archive and decoded, it fails at the first element that does not fit (or
// is not a hook), within the budget.
TEST(AdversarialTest, HugeCountsInsideStoredFilesFailAsShortReads) {
    const auto files = testkit::hostile::hostile_files();
    auto builder = testkit::hostile::hostile_files_archive();
    const Opened opened(builder);
    ASSERT_TRUE(opened.db) << why(opened.db);
    std::uint32_t id = 1;
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

// The catalogue the tools' tests run over holds only archives with something to find.
TEST(AdversarialTest, EveryArchiveOfTheCatalogueIsDamaged) {
    for (const auto& archive : testkit::hostile::damaged_archives()) {
        const testkit::TempFile file(archive.bytes, "catalogue");
        EXPECT_TRUE(verifier_finds(file.path(), true)) << archive.name;
    }
}

} // namespace
} // namespace quillmere::dat
