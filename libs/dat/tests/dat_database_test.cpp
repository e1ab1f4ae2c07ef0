// Tests of opening an archive: header, directory walk, block chains and file lookup, all on
// archives built by the test kit.
#include "detail/database_access.hpp"
#include "limited_child.hpp"
#include "quillmere/dat/dat_database.hpp"
#include "quillmere/dat/lrs.hpp"
#include "quillmere/testkit/archive_builder.hpp"
#include "quillmere/testkit/bytes.hpp"
#include "quillmere/testkit/matchers.hpp"
#include "quillmere/testkit/temp_file.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <thread>
#include <unistd.h>

namespace quillmere::dat {
namespace {

using testkit::ArchiveBuilder;
using testkit::BlockRef;
using testkit::ChainRef;
using testkit::EntrySpec;
using testkit::NodeRef;
using testkit::Word;
using Buffer = std::vector<std::uint8_t>;

Buffer pattern(std::size_t length, std::uint32_t seed) {
    Buffer out(length);
    for (std::size_t i = 0; i < length; ++i) {
        out[i] = static_cast<std::uint8_t>(i * 31 + seed * 7 + i / 251);
    }
    return out;
}

// An archive written to a temporary file and opened.
struct Opened {
    explicit Opened(std::span<const std::uint8_t> bytes)
        : file(bytes, "archive"), db(DatDatabase::open(file.path())) {}
    explicit Opened(ArchiveBuilder& builder) : Opened(builder.build()) {}
    Opened(const Buffer& bytes) : Opened(std::span<const std::uint8_t>(bytes)) {}

    testkit::TempFile file;
    DatResult<DatDatabase> db;
};

std::string why(const DatResult<DatDatabase>& db) {
    return db ? "" : db.error().message();
}

// Runs `run` first in a child limited to a few seconds of CPU time, so that a directory walk or
// chain read that no longer ends on a looping archive fails with a clear message rather than
// hanging until the suite's timeout; only then is the same work done and checked here.
testing::AssertionResult ends_in_time(const std::function<void()>& run) {
    constexpr std::uint64_t kBudget = 64 << 20;
    constexpr unsigned kCpuSeconds = 5;
    return within_limits(kBudget, kCpuSeconds, [&] {
        run();
        return true;
    });
}

std::vector<std::string> contexts_of(const DatError& error) {
    return error.decode_error() ? testkit::contexts_of(*error.decode_error())
                                : std::vector<std::string>{};
}

EntrySpec entry(std::uint32_t id, std::uint32_t version = 0) {
    EntrySpec plan;
    plan.id = id;
    plan.offset = std::uint32_t{0};
    plan.size = 0;
    plan.version = version;
    return plan;
}

testkit::NodeSpec holding(std::vector<EntrySpec> entries) {
    testkit::NodeSpec plan;
    plan.entries = std::move(entries);
    return plan;
}

testkit::FileOptions file_options(bool compress, std::uint32_t bit_flags = 0,
                                  std::uint32_t timestamp = 0, std::uint32_t version = 0) {
    testkit::FileOptions options;
    options.compress = compress;
    options.bit_flags = bit_flags;
    options.timestamp = timestamp;
    options.version = version;
    return options;
}

// The ids in the map, with their `version` fields (which the directory tests use as tags).
std::map<std::uint32_t, std::uint32_t> versions_of(const DatDatabase& db) {
    std::map<std::uint32_t, std::uint32_t> out;
    for (const auto& [id, e] : db.files()) {
        out[id] = e.version;
    }
    return out;
}

TEST(DatDatabaseTest, BTreeOfThousandsOfFilesLoadsWholeAndEveryFileReadsBack) {
    ArchiveBuilder builder(1024);
    builder.shuffle_blocks(7);
    std::mt19937 random(5);
    std::vector<std::uint32_t> ids(4000);
    for (std::size_t i = 0; i < ids.size(); ++i) {
        ids[i] = 0x03000000U + static_cast<std::uint32_t>(i) * 3;
    }
    std::shuffle(ids.begin(), ids.end(), random);
    std::map<std::uint32_t, Buffer> contents;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        contents[ids[i]] = pattern(random() % 2500, ids[i]);
        builder.add_file(
            ids[i], contents[ids[i]],
            file_options(i % 3 == 0, 0, ids[i] ^ 0xFFFF, static_cast<std::uint32_t>(i)));
    }
    const Opened opened(builder);
    ASSERT_TRUE(opened.db) << why(opened.db);
    const DatDatabase& db = *opened.db;
    ASSERT_EQ(db.files().size(), ids.size());
    // One buffer kept across every read, as whole-archive readers keep it, shrinking and growing
    // from file to file.
    Buffer kept;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const DatFileEntry& e = db.files().at(ids[i]);
        EXPECT_EQ(e.id, ids[i]);
        EXPECT_EQ(e.is_compressed(), i % 3 == 0);
        EXPECT_EQ(e.timestamp, ids[i] ^ 0xFFFF);
        EXPECT_EQ(e.version, i);
        auto data = db.get_file(ids[i]);
        ASSERT_TRUE(data) << data.error().message();
        ASSERT_EQ(*data, contents[ids[i]]) << ids[i];
        ASSERT_TRUE(db.get_file(ids[i], kept)) << ids[i];
        ASSERT_EQ(kept, contents[ids[i]]) << ids[i];
    }

    // The builder's tree is a B-tree: at most 61 entries a node, one child more than entries
    // below an inner node, ids ascending in order.
    std::map<std::uint32_t, const testkit::NodeSpec*> by_offset;
    for (const auto& [offset, plan] : builder.auto_nodes()) {
        EXPECT_LE(plan.entries.size(), 61U);
        by_offset[offset] = &plan;
    }
    EXPECT_GT(by_offset.size(), 60U);
    std::vector<std::uint32_t> in_order;
    const std::function<void(std::uint32_t)> walk = [&](std::uint32_t offset) {
        const testkit::NodeSpec& plan = *by_offset.at(offset);
        const bool leaf = builder.resolve(plan.branches[0]) == 0;
        for (std::size_t k = 0; k <= plan.entries.size(); ++k) {
            const std::uint32_t child = builder.resolve(plan.branches[k]);
            EXPECT_EQ(child == 0, leaf);
            if (child != 0) {
                walk(child);
            }
            if (k < plan.entries.size()) {
                in_order.push_back(plan.entries[k].id);
            }
        }
    };
    walk(builder.root_offset());
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(in_order, ids);
}

TEST(DatDatabaseTest, HeaderFieldsAreReadInOrderAndNoneIsChecked) {
    ArchiveBuilder builder(512);
    builder.preamble_fill(0x5A);
    auto& h = builder.header();
    h.magic = 0;
    h.file_size = 3;
    h.dataset = 4;
    h.subset = 5;
    h.free_head = 6;
    h.free_tail = 7;
    h.free_count = 8;
    h.new_lru = 10;
    h.old_lru = 11;
    h.use_lru = 12;
    h.master_map_id = 13;
    h.engine_version = 14;
    h.game_version = 15;
    for (std::uint8_t i = 0; i < 16; ++i) {
        h.version_string[i] = static_cast<std::uint8_t>(0xF0 + i);
    }
    h.version_minor = 17;
    const Opened opened(builder);
    ASSERT_TRUE(opened.db) << why(opened.db);
    DatHeader expected{0, 512, 3, 4, 5, 6, 7, 8, 0, 10, 11, 12, 13, 14, 15, {}, 17};
    expected.version_string.assign(h.version_string.begin(), h.version_string.end());
    EXPECT_EQ(opened.db->header(), expected);
    EXPECT_TRUE(opened.db->files().empty());
    EXPECT_EQ(opened.db->archive_length(), 400U);
}

// The header field that the first `present` header bytes do not hold in full.
std::string first_header_field_beyond(std::size_t present) {
    // (field, offset of its end relative to the header)
    const std::pair<const char*, std::size_t> fields[] = {
        {"magic", 4},          {"block_size", 8},      {"file_size", 12},    {"dataset", 16},
        {"subset", 20},        {"free_head", 24},      {"free_tail", 28},    {"free_count", 32},
        {"root_offset", 36},   {"new_lru", 40},        {"old_lru", 44},      {"use_lru", 48},
        {"master_map_id", 52}, {"engine_version", 56}, {"game_version", 60}, {"version_string", 76},
        {"version_minor", 80},
    };
    for (const auto& [name, end] : fields) {
        if (end > present) {
            return name;
        }
    }
    return "";
}

TEST(DatDatabaseTest, ShortFileFailsInTheFirstHeaderFieldNotWhollyPresent) {
    ArchiveBuilder builder(1024);
    const Buffer full = builder.build();
    ASSERT_EQ(full.size(), 400U);
    for (std::size_t length = 0; length < 400; ++length) {
        const std::size_t present = length > 320 ? length - 320 : 0;
        const std::string expected = first_header_field_beyond(present);
        const Opened opened(Buffer(full.begin(), full.begin() + static_cast<long>(length)));
        ASSERT_FALSE(opened.db) << length;
        const DatError& error = opened.db.error();
        ASSERT_EQ(error.kind(), DatError::Kind::BinRead) << length;
        EXPECT_TRUE(testkit::is_short_read(*error.decode_error()));
        EXPECT_EQ(contexts_of(error),
                  std::vector<std::string>{"While parsing field '" + expected + "' in DatHeader"})
            << length;
        EXPECT_TRUE(error.message().starts_with("Binary read error: failed to fill whole buffer"));
    }
    EXPECT_EQ(contexts_of(Opened(Buffer(full.begin(), full.begin() + 399)).db.error()),
              std::vector<std::string>{"While parsing field 'version_minor' in DatHeader"});
    EXPECT_EQ(contexts_of(Opened(Buffer(full.begin(), full.begin() + 350)).db.error()),
              std::vector<std::string>{"While parsing field 'free_count' in DatHeader"});
    EXPECT_TRUE(Opened(full).db);
}

// Reads of the header that fail (not at the end of the file) deliver this many bytes, then EIO.
std::size_t g_bytes_before_failure = 0;

ssize_t failing_pread(int fd, void* buf, std::size_t count, off_t offset) {
    if (g_bytes_before_failure == 0) {
        errno = EIO;
        return -1;
    }
    const ssize_t got = ::pread(fd, buf, std::min(count, g_bytes_before_failure), offset);
    g_bytes_before_failure -= got > 0 ? static_cast<std::size_t>(got) : 0;
    return got;
}

// A header read that fails is reported as a short file is: `BinRead` naming the first field
// whose bytes were not read, around the read's own error rather than the end of the input.
TEST(DatDatabaseTest, FailedHeaderReadNamesTheFirstFieldNotRead) {
    ArchiveBuilder builder(1024);
    const testkit::TempFile archive(builder.build(), "failing");
    for (const std::size_t delivered : {0U, 3U, 4U, 10U, 61U, 79U}) {
        g_bytes_before_failure = delivered;
        const auto db = detail::DatabaseAccess::open(archive.path(), {failing_pread});
        ASSERT_FALSE(db) << delivered;
        ASSERT_EQ(db.error().kind(), DatError::Kind::BinRead) << delivered;
        EXPECT_EQ(*db.error().decode_error()->io_error(), common::IoError::from_errno(EIO));
        EXPECT_EQ(contexts_of(db.error()),
                  std::vector<std::string>{"While parsing field '" +
                                           first_header_field_beyond(delivered) + "' in DatHeader"})
            << delivered;
    }

    // A pipe is no archive: refused when opened, never read (nor waited on).
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    const std::string pipe_path = "/proc/self/fd/" + std::to_string(pipe_fds[0]);
    const auto db = DatDatabase::open(pipe_path);
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
    ASSERT_FALSE(db);
    EXPECT_EQ(db.error().message(), "Failed to open file at " + pipe_path + ": not a regular file");
}

TEST(DatDatabaseTest, RootOffsetZeroMeansAnEmptyDirectory) {
    ArchiveBuilder builder(1024);
    builder.add_file(1, pattern(10, 1));
    builder.header().root_offset = 0;
    const Opened opened(builder);
    ASSERT_TRUE(opened.db) << why(opened.db);
    EXPECT_TRUE(opened.db->files().empty());
}

TEST(DatDatabaseTest, MissingPathIsAPathErrorWithThePathAsGiven) {
    const testkit::TempDir dir("missing");
    const auto path = dir.path() / "sub/../no_such.dat";
    auto db = DatDatabase::open(path);
    ASSERT_FALSE(db);
    ASSERT_EQ(db.error().kind(), DatError::Kind::PathError);
    EXPECT_EQ(db.error().message(),
              "Failed to open file at " + path.string() + ": No such file or directory");
    EXPECT_EQ(db.error().diagnostic(),
              "PathError { path: \"" + path.string() +
                  "\", source: Os { code: 2, kind: NotFound, message: \"No such file or "
                  "directory\" } }");
}

TEST(DatDatabaseTest, DirectoryPathIsAPathError) {
    const testkit::TempDir dir("archive-dir");
    auto db = DatDatabase::open(dir.path());
    ASSERT_FALSE(db);
    ASSERT_EQ(db.error().kind(), DatError::Kind::PathError);
    EXPECT_EQ(db.error().message(),
              "Failed to open file at " + dir.path().string() + ": Is a directory");
}

// Chains whose lengths sit at the block boundaries, over several block sizes and a scattered
// layout; the block that completes a file has a link word pointing past the end of the archive,
// which must not be followed.
TEST(DatDatabaseTest, ChainsAtBlockBoundariesReadExactly) {
    for (const std::uint32_t block_size : {5U, 6U, 64U, 1024U, 4096U}) {
        const std::size_t payload = block_size - 4;
        ArchiveBuilder builder(block_size);
        builder.shuffle_blocks(block_size);
        const std::size_t lengths[] = {1, payload, payload + 1, 3 * payload + 1, 1716};
        std::vector<ChainRef> chains;
        for (const std::size_t length : lengths) {
            const ChainRef chain = builder.add_chain(pattern(length, block_size));
            const std::size_t blocks = (length + payload - 1) / payload;
            builder.set_link(BlockRef{chain, blocks - 1}, Word{std::uint32_t{0xFFFFFF00}});
            chains.push_back(chain);
        }
        const Opened opened(builder);
        ASSERT_TRUE(opened.db) << why(opened.db);
        for (std::size_t k = 0; k < chains.size(); ++k) {
            auto data = opened.db->read_file_data(builder.resolve(chains[k]),
                                                  static_cast<std::uint32_t>(lengths[k]));
            ASSERT_TRUE(data) << block_size << " " << lengths[k] << ": " << data.error().message();
            EXPECT_EQ(*data, pattern(lengths[k], block_size)) << block_size << " " << lengths[k];
        }
    }
}

TEST(DatDatabaseTest, NodeOverTwoBlocksIgnoresTheLinkOfItsLastBlock) {
    ArchiveBuilder builder(1024);
    const ChainRef file = builder.add_chain(pattern(100, 3));
    const NodeRef root = builder.add_node();
    builder.node(root).entries = {ArchiveBuilder::entry_for(file, 0x33000001)};
    builder.node(root).links = {{1, Word{std::uint32_t{0xFFFFFF00}}}};
    builder.set_root(root);
    const Opened opened(builder);
    ASSERT_TRUE(opened.db) << why(opened.db);
    ASSERT_EQ(opened.db->files().size(), 1U);
    EXPECT_EQ(opened.db->get_file(0x33000001).value_or(Buffer{}), pattern(100, 3));
}

TEST(DatDatabaseTest, FirstLinkZeroReadsTheWholeFileContiguously) {
    ArchiveBuilder builder(1024);
    const ChainRef file = builder.add_chain(pattern(5000, 9), {.contiguous = true});
    builder.add_entry(ArchiveBuilder::entry_for(file, 42));
    const Opened opened(builder);
    ASSERT_TRUE(opened.db) << why(opened.db);
    EXPECT_EQ(opened.db->get_file(42).value_or(Buffer{}), pattern(5000, 9));
}

TEST(DatDatabaseTest, LinkPastTheEndFailsOnlyWhenReached) {
    ArchiveBuilder builder(1024);
    const ChainRef file = builder.add_chain(pattern(3000, 4));
    builder.set_link(BlockRef{file, 1}, Word{std::uint32_t{0x7FFFFFF0}});
    builder.add_entry(ArchiveBuilder::entry_for(file, 7));
    const Opened opened(builder);
    ASSERT_TRUE(opened.db) << why(opened.db);
    const std::uint32_t offset = builder.resolve(file);

    auto two_blocks = opened.db->read_file_data(offset, 2040);
    ASSERT_TRUE(two_blocks) << two_blocks.error().message();
    EXPECT_EQ(*two_blocks, pattern(2040, 4));

    for (auto result : {opened.db->read_file_data(offset, 2041), opened.db->get_file(7)}) {
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().kind(), DatError::Kind::Io);
        EXPECT_EQ(result.error().message(), "IO error: failed to fill whole buffer");
    }
}

TEST(DatDatabaseTest, LoopingChainEndsAfterTheRequestedBytes) {
    ArchiveBuilder builder(1024);
    const Buffer payload = pattern(2040, 8);
    const ChainRef file = builder.add_chain(payload);
    builder.set_link(BlockRef{file, 1}, BlockRef{file, 0});
    builder.add_chain(Buffer(10000, 0)); // room enough for the 5000 bytes asked for
    const Opened opened(builder);
    ASSERT_TRUE(opened.db) << why(opened.db);
    ASSERT_TRUE(ends_in_time(
        [&] { static_cast<void>(opened.db->read_file_data(builder.resolve(file), 5000)); }));
    auto data = opened.db->read_file_data(builder.resolve(file), 5000);
    ASSERT_TRUE(data) << data.error().message();
    Buffer expected;
    while (expected.size() < 5000) {
        expected.insert(expected.end(), payload.begin(), payload.end());
    }
    expected.resize(5000);
    EXPECT_EQ(*data, expected);
}

TEST(DatDatabaseTest, SizeZeroReadsNothingWhateverTheOffset) {
    ArchiveBuilder builder(1024);
    EntrySpec empty = entry(5);
    empty.bit_flags = 1;
    empty.offset = std::uint32_t{0xFFFFFFF0};
    builder.add_entry(empty);
    const Opened opened(builder);
    ASSERT_TRUE(opened.db) << why(opened.db);
    EXPECT_EQ(opened.db->read_file_data(0xFFFFFFF0, 0).value_or(Buffer{1}), Buffer{});
    EXPECT_EQ(opened.db->get_file(5).value_or(Buffer{1}), Buffer{});
}

TEST(DatDatabaseTest, SizeBeyondTheArchiveIsRefusedBeforeAllocating) {
    ArchiveBuilder builder(1024);
    const ChainRef file = builder.add_chain(pattern(10, 1));
    EntrySpec huge = ArchiveBuilder::entry_for(file, 9);
    huge.size = 0xFFFFFFFF;
    builder.add_entry(huge);
    const Opened opened(builder);
    ASSERT_TRUE(opened.db) << why(opened.db);
    auto data = opened.db->get_file(9);
    ASSERT_FALSE(data);
    EXPECT_EQ(data.error().message(),
              "Corruption detected: stored file of 4294967295 bytes at offset " +
                  std::to_string(builder.resolve(file)) + " is longer than the archive (" +
                  std::to_string(builder.archive_length()) + " bytes)");
}

TEST(DatDatabaseTest, BlockNearFourGibIsReadAtA64BitPosition) {
    const testkit::TempFile file(ArchiveBuilder(1024).build(), "sparse");
    const int fd = ::open(file.path().c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    const Buffer link = testkit::Bytes().u32(0).take();
    const Buffer payload{'f', 'a', 'r', ' ', 'o', 'u', 't'};
    ASSERT_EQ(::pwrite(fd, link.data(), link.size(), 0xFFFFFFFC), 4);
    ASSERT_EQ(::pwrite(fd, payload.data(), payload.size(), 0x100000000), 7);
    ::close(fd);
    auto db = DatDatabase::open(file.path());
    ASSERT_TRUE(db) << why(db);
    EXPECT_EQ(db->read_file_data(0xFFFFFFFC, 7).value_or(Buffer{}), payload);
}

TEST(DatDatabaseTest, BlockSizeWithoutRoomForDataIsRejected) {
    for (const std::uint32_t block_size : {0U, 3U, 4U}) {
        const std::string message = "Corruption detected: block size " +
                                    std::to_string(block_size) + " leaves no room for data";
        ArchiveBuilder with_files(1024);
        with_files.add_file(1, pattern(3000, 1));
        with_files.header().block_size = block_size;
        const Opened rejected(with_files);
        ASSERT_FALSE(rejected.db);
        EXPECT_EQ(rejected.db.error().message(), message);

        // With no directory there is nothing to read at open; reads fail the same way later.
        ArchiveBuilder empty(1024);
        empty.header().block_size = block_size;
        const Opened opened(empty);
        ASSERT_TRUE(opened.db) << why(opened.db);
        auto data = opened.db->read_file_data(400, 10);
        ASSERT_FALSE(data);
        EXPECT_EQ(data.error().message(), message);
        EXPECT_TRUE(opened.db->read_file_data(400, 0));
    }
}

TEST(DatDatabaseTest, LeafFollowsNoBranchWhateverItsSlotsHold) {
    ArchiveBuilder builder(1024);
    const NodeRef other = builder.add_node(holding({entry(2)}));
    const NodeRef root = builder.add_node(holding({entry(1)}));
    builder.node(root).branches[1] = other;
    builder.node(root).branches[2] = std::uint32_t{0xFFFFFFF0};
    builder.node(root).branches[61] = other;
    builder.set_root(root);
    const Opened opened(builder);
    ASSERT_TRUE(opened.db) << why(opened.db);
    EXPECT_EQ(versions_of(*opened.db), (std::map<std::uint32_t, std::uint32_t>{{1, 0}}));
}

TEST(DatDatabaseTest, EmptyRootWithSlotZeroReadsOnlyThatChild) {
    ArchiveBuilder builder(1024);
    const NodeRef a = builder.add_node(holding({entry(10)}));
    const NodeRef b = builder.add_node(holding({entry(11)}));
    const NodeRef root = builder.add_node();
    builder.node(root).branches[0] = a;
    builder.node(root).branches[1] = b;
    builder.node(root).branches[61] = std::uint32_t{0xFFFFFFF0};
    builder.set_root(root);
    const Opened opened(builder);
    ASSERT_TRUE(opened.db) << why(opened.db);
    EXPECT_EQ(versions_of(*opened.db), (std::map<std::uint32_t, std::uint32_t>{{10, 0}}));

    ArchiveBuilder bare(1024);
    bare.set_root(bare.add_node());
    const Opened empty(bare);
    ASSERT_TRUE(empty.db) << why(empty.db);
    EXPECT_TRUE(empty.db->files().empty());
}

TEST(DatDatabaseTest, InnerNodeFollowsSlotsUpToItsEntryCountSkippingZeros) {
    ArchiveBuilder builder(1024);
    std::vector<NodeRef> children;
    for (std::uint32_t k = 0; k < 5; ++k) {
        children.push_back(builder.add_node(holding({entry(10 + k)})));
    }
    const NodeRef root = builder.add_node(holding({entry(1), entry(2), entry(3)}));
    for (std::size_t k = 0; k < 5; ++k) {
        builder.node(root).branches[k] = children[k];
    }
    builder.node(root).branches[2] = std::uint32_t{0};
    builder.set_root(root);
    const Opened opened(builder);
    ASSERT_TRUE(opened.db) << why(opened.db);
    EXPECT_EQ(versions_of(*opened.db), (std::map<std::uint32_t, std::uint32_t>{
                                           {1, 0}, {2, 0}, {3, 0}, {10, 0}, {11, 0}, {13, 0}}));
}

TEST(DatDatabaseTest, FullNodeFollowsAllSixtyTwoChildren) {
    ArchiveBuilder builder(1024);
    builder.shuffle_blocks(3);
    const NodeRef root = builder.add_node();
    for (std::uint32_t k = 0; k < 62; ++k) {
        builder.node(root).branches[k] = builder.add_node(holding({entry(1000 + k)}));
        if (k < 61) {
            builder.node(root).entries.push_back(entry(100 + k));
        }
    }
    builder.set_root(root);
    const Opened opened(builder);
    ASSERT_TRUE(opened.db) << why(opened.db);
    EXPECT_EQ(opened.db->files().size(), 123U);
    EXPECT_TRUE(opened.db->files().contains(1061));
}

// Ids repeated across nodes, tagged with `version`: the entry read last in depth-first order
// (own entries first, slot 0's subtree complete before slot 1) is the one kept.
TEST(DatDatabaseTest, LaterEntryInDepthFirstOrderReplacesEarlierOnes) {
    constexpr std::uint32_t kW = 1, kX = 2, kY = 3, kZ = 4;
    ArchiveBuilder builder(1024);
    const NodeRef grandchild = builder.add_node(holding({entry(kX, 3), entry(kZ, 3)}));
    const NodeRef child1 = builder.add_node(holding({entry(kZ, 4)}));
    const NodeRef child0 = builder.add_node(holding({entry(kW, 2), entry(kX, 2)}));
    builder.node(child0).branches[0] = grandchild;
    const NodeRef root =
        builder.add_node(holding({entry(kW, 1), entry(kX, 1), entry(kY, 1), entry(kY, 9)}));
    builder.node(root).branches[0] = child0;
    builder.node(root).branches[1] = child1;
    builder.set_root(root);
    const Opened opened(builder);
    ASSERT_TRUE(opened.db) << why(opened.db);
    EXPECT_EQ(versions_of(*opened.db),
              (std::map<std::uint32_t, std::uint32_t>{{kW, 2}, {kX, 3}, {kY, 9}, {kZ, 4}}));
}

TEST(DatDatabaseTest, EntryCountAbove61FailsInEntry62) {
    for (const std::uint32_t count : {62U, 0xFFFFFFFFU}) {
        ArchiveBuilder builder(1024);
        const NodeRef root = builder.add_node();
        builder.node(root).entry_count = count;
        for (std::uint32_t k = 0; k < 61; ++k) {
            builder.node(root).entries.push_back(entry(k));
        }
        builder.set_root(root);
        const Opened opened(builder);
        ASSERT_FALSE(opened.db);
        ASSERT_EQ(opened.db.error().kind(), DatError::Kind::BinRead);
        EXPECT_TRUE(testkit::is_short_read(*opened.db.error().decode_error()));
        EXPECT_EQ(contexts_of(opened.db.error()),
                  std::vector<std::string>{"While parsing field 'bit_flags' in DatFileEntry"});
    }
}

TEST(DatDatabaseTest, BranchBackToAVisitedNodeIsCorruption) {
    enum class Shape { SelfLoop, BackToRoot, SharedChild };
    for (const Shape shape : {Shape::SelfLoop, Shape::BackToRoot, Shape::SharedChild}) {
        ArchiveBuilder builder(1024);
        const NodeRef root = builder.add_node(holding({entry(1)}));
        const NodeRef child = builder.add_node(holding({entry(2)}));
        NodeRef twice = root;
        switch (shape) {
        case Shape::SelfLoop:
            builder.node(root).branches[0] = root;
            break;
        case Shape::BackToRoot:
            builder.node(root).branches[0] = child;
            builder.node(child).branches[0] = root;
            break;
        case Shape::SharedChild:
            builder.node(root).branches[0] = child;
            builder.node(root).branches[1] = child;
            twice = child;
            break;
        }
        builder.set_root(root);
        const testkit::TempFile file(builder.build(), "cycle");
        ASSERT_TRUE(ends_in_time([&] { static_cast<void>(DatDatabase::open(file.path())); }));
        const auto db = DatDatabase::open(file.path());
        ASSERT_FALSE(db);
        EXPECT_EQ(db.error().message(), "Corruption detected: directory node at offset " +
                                            std::to_string(builder.resolve(twice)) +
                                            " is reached twice");
    }
}

// Deep enough that a recursive walk holding a node per frame would overflow the stack.
TEST(DatDatabaseTest, TallTreeLoadsCompletely) {
    constexpr std::uint32_t kDepth = 12000;
    ArchiveBuilder builder(1720); // one block per node
    std::vector<NodeRef> nodes;
    for (std::uint32_t depth = 0; depth < kDepth; ++depth) {
        nodes.push_back(builder.add_node(holding({entry(depth, depth), entry(kDepth, depth)})));
    }
    for (std::uint32_t depth = 0; depth + 1 < kDepth; ++depth) {
        builder.node(nodes[depth]).branches[0] = nodes[depth + 1];
    }
    builder.set_root(nodes[0]);
    const Opened opened(builder);
    ASSERT_TRUE(opened.db) << why(opened.db);
    EXPECT_EQ(opened.db->files().size(), kDepth + 1);
    EXPECT_EQ(opened.db->files().at(kDepth).version, kDepth - 1) << "deepest node read last";
}

// Nodes of a well-formed archive never share bytes. Three nodes whose chains share their second
// block cannot fit side by side in a 5120-byte archive, which is taken as damage.
TEST(DatDatabaseTest, MoreNodesThanTheArchiveCanHoldIsCorruption) {
    auto first_part = [](std::uint32_t slot0, std::uint32_t slot1, std::uint32_t count) {
        testkit::Bytes bytes;
        bytes.u32(slot0).u32(slot1).fill(60 * 4, 0).u32(count);
        bytes.u32(0).u32(77).u32(0).u32(0).u32(0).u32(0); // one entry, id 77
        bytes.fill(1020 - bytes.size(), 0);
        return bytes.take();
    };
    ArchiveBuilder builder(1024);
    const ChainRef a = builder.add_chain(first_part(2048, 3072, 1));
    const ChainRef b = builder.add_chain(first_part(0, 0, 0));
    const ChainRef c = builder.add_chain(first_part(0, 0, 0));
    const ChainRef shared = builder.add_chain(Buffer(696, 0));
    for (const ChainRef head : {a, b, c}) {
        builder.set_link(BlockRef{head, 0}, shared);
    }
    builder.set_root(a);
    const Opened opened(builder);
    ASSERT_EQ(builder.resolve(b), 2048U);
    ASSERT_EQ(builder.resolve(c), 3072U);
    ASSERT_EQ(builder.archive_length(), 5120U);
    ASSERT_FALSE(opened.db);
    EXPECT_EQ(opened.db.error().message(),
              "Corruption detected: directory has more nodes than an archive of 5120 bytes can "
              "hold");
}

TEST(DatDatabaseTest, UnknownIdIsNotFound) {
    ArchiveBuilder builder(1024);
    builder.add_file(0x03000001, pattern(10, 1));
    const Opened opened(builder);
    ASSERT_TRUE(opened.db) << why(opened.db);
    auto missing = opened.db->get_file(0x0300FFFF);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().message(), "File ID 0300FFFF not found in provider");
    EXPECT_EQ(missing.error().diagnostic(), "NotFound(50397183)");
}

TEST(DatDatabaseTest, CompressedEntryIsInflatedAndOthersAreReturnedAsStored) {
    const Buffer stored = testkit::Bytes().u32(6).raw({0x20, 0x41, 0x42, 0x02, 0x02}).take();
    Buffer short_stream = stored;
    short_stream[0] = 50; // claims more than the stream holds: the result is simply shorter
    ArchiveBuilder builder(64);
    builder.shuffle_blocks(11);
    builder.add_file(1, stored, file_options(false, 1));
    builder.add_file(2, stored, file_options(false, 0xFFFFFFFE));
    builder.add_file(3, short_stream, file_options(false, 1));
    builder.add_file(4, pattern(300, 4), file_options(true));
    const Opened opened(builder);
    ASSERT_TRUE(opened.db) << why(opened.db);
    const Buffer six{0x41, 0x42, 0x41, 0x42, 0x41, 0x42};
    EXPECT_EQ(opened.db->get_file(1).value_or(Buffer{}), six);
    EXPECT_EQ(opened.db->get_file(2).value_or(Buffer{}), stored);
    EXPECT_EQ(opened.db->get_file(3).value_or(Buffer{}), six);
    EXPECT_EQ(opened.db->get_file(4).value_or(Buffer{}), pattern(300, 4));
    EXPECT_LT(opened.db->files().at(4).size, 300U);

    // Read into a buffer that held longer bytes: nothing of them is left behind.
    for (const auto& [id, expected] : {std::pair{1U, six}, {2U, stored}, {3U, six}}) {
        Buffer kept = pattern(500, 9);
        ASSERT_TRUE(opened.db->get_file(id, kept)) << id;
        EXPECT_EQ(kept, expected) << id;
    }
}

// The checked read refuses what get_file passes off as a shorter file: a stream that gives fewer
// bytes than its size word, and 1 to 3 stored bytes flagged compressed; a whole stream, an empty
// compressed file and a plain file read as get_file reads them.
TEST(DatDatabaseTest, CheckedReadRefusesAStreamThatFallsShort) {
    const Buffer stored = testkit::Bytes().u32(6).raw({0x20, 0x41, 0x42, 0x02, 0x02}).take();
    Buffer short_stream = stored;
    short_stream[0] = 7;
    ArchiveBuilder builder(64);
    builder.add_file(1, stored, file_options(false, 1));
    builder.add_file(2, short_stream, file_options(false, 1));
    builder.add_file(3, {9, 9, 9}, file_options(false, 1));
    builder.add_file(4, {}, file_options(false, 1));
    builder.add_file(5, {9, 9, 9}, file_options(false, 0));
    const Opened opened(builder);
    ASSERT_TRUE(opened.db) << why(opened.db);
    for (const std::uint32_t id : {1U, 4U, 5U}) {
        const auto checked = opened.db->get_file_checked(id);
        ASSERT_TRUE(checked) << id;
        EXPECT_EQ(*checked, *opened.db->get_file(id)) << id;
    }
    for (const std::uint32_t id : {2U, 3U}) {
        const auto checked = opened.db->get_file_checked(id);
        ASSERT_FALSE(checked) << id;
        EXPECT_EQ(checked.error().kind(), DatError::Kind::DecompressionFailed) << id;
        EXPECT_TRUE(opened.db->get_file(id)) << id;
        EXPECT_EQ(utils::stream_is_whole(*opened.db->read_file_data(
                      opened.db->files().at(id).offset, opened.db->files().at(id).size)),
                  false);
    }
    EXPECT_TRUE(utils::stream_is_whole(stored));
    EXPECT_TRUE(utils::stream_is_whole({}));
}

// The bytes before the header are the archive's own: read as stored.
TEST(DatDatabaseTest, PreambleReadsAsStored) {
    ArchiveBuilder builder(256);
    builder.preamble_fill(0x5A).add_file(1, pattern(10, 1));
    const Opened opened(builder);
    ASSERT_TRUE(opened.db) << why(opened.db);
    const auto preamble = opened.db->read_preamble();
    ASSERT_TRUE(preamble);
    EXPECT_TRUE(std::all_of(preamble->begin(), preamble->end(), [](auto b) { return b == 0x5A; }));
}

// Skipping damaged nodes loads what can be walked: the entries of every readable node, a node
// reached twice once, nothing of a node with too many entries or whose chain breaks.
TEST(DatDatabaseTest, SkippingDamagedNodesLoadsWhatCanBeWalked) {
    ArchiveBuilder builder(1024);
    const NodeRef root = builder.add_node(holding({entry(1), entry(2), entry(3)}));
    const NodeRef good = builder.add_node(holding({entry(4)}));
    const NodeRef crowded = builder.add_node(holding({entry(5)}));
    builder.node(crowded).entry_count = 62;
    const NodeRef broken = builder.add_node(holding({entry(6)}));
    builder.node(broken).links.push_back({0, std::uint32_t{0x7FFFFFF0}});
    builder.node(root).branches[0] = good;
    builder.node(root).branches[1] = crowded;
    builder.node(root).branches[2] = broken;
    builder.node(root).branches[3] = good;
    builder.set_root(root);
    const testkit::TempFile file(builder.build(), "damaged");
    ASSERT_FALSE(DatDatabase::open(file.path()));
    const auto db = DatDatabase::open(file.path(), {.skip_damaged_nodes = true});
    ASSERT_TRUE(db) << db.error().message();
    std::vector<std::uint32_t> ids;
    for (const auto& [id, entry] : db->files()) {
        ids.push_back(id);
    }
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<std::uint32_t>{1, 2, 3, 4}));
}

TEST(DatDatabaseTest, ArchiveStreamedToAFileIsTheInMemoryImage) {
    ArchiveBuilder builder(128);
    builder.shuffle_blocks(21);
    for (std::uint32_t id = 1; id <= 200; ++id) {
        builder.add_file(id, pattern(id * 13, id), file_options(id % 4 == 0));
    }
    builder.add_entry(
        ArchiveBuilder::entry_for(builder.add_chain(pattern(3000, 0), {.contiguous = true}), 1000));
    const Buffer image = builder.build();
    const testkit::TempDir dir("streamed");
    builder.write_to(dir.path() / "portal.dat");
    auto db = DatDatabase::open(dir.path() / "portal.dat");
    ASSERT_TRUE(db) << why(db);
    EXPECT_EQ(db->archive_length(), image.size());
    EXPECT_EQ(db->files().size(), 201U);
    EXPECT_EQ(db->get_file(200).value_or(Buffer{}), pattern(200 * 13, 200));
    EXPECT_EQ(db->get_file(1000).value_or(Buffer{}), pattern(3000, 0));
    Buffer streamed(image.size());
    std::FILE* file = std::fopen((dir.path() / "portal.dat").c_str(), "rb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(std::fread(streamed.data(), 1, streamed.size(), file), image.size());
    std::fclose(file);
    EXPECT_EQ(streamed, image);
}

TEST(DatDatabaseTest, OneDatabaseServesSeveralThreadsAndSurvivesAMove) {
    ArchiveBuilder builder(256);
    builder.shuffle_blocks(1);
    for (std::uint32_t id = 0; id < 300; ++id) {
        builder.add_file(id, pattern(id * 7, id), file_options(id % 2 == 0));
    }
    Opened opened(builder);
    ASSERT_TRUE(opened.db) << why(opened.db);
    const DatDatabase db = std::move(*opened.db);
    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < mismatches.size(); ++t) {
        threads.emplace_back([&db, &mismatches, t] {
            for (std::uint32_t id = 0; id < 300; ++id) {
                const auto data = db.get_file((id + static_cast<std::uint32_t>(t) * 75) % 300);
                const std::uint32_t want = (id + static_cast<std::uint32_t>(t) * 75) % 300;
                if (!data || *data != pattern(want * 7, want)) {
                    ++mismatches[t];
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

} // namespace
} // namespace quillmere::dat
