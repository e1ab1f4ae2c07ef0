// Tests of the archive writer: archives read back through DatDatabase, their layout checked by a
// walk of the raw bytes, refused calls, and the output's atomicity under failures and signals.
#include "quillmere/common/le.hpp"
#include "quillmere/common/random.hpp"
#include "quillmere/dat/archive_writer.hpp"
#include "quillmere/dat/dat_database.hpp"
#include "quillmere/dat/lrs.hpp"
#include "quillmere/dat/verifier.hpp"
#include "quillmere/testkit/archive_builder.hpp"
#include "quillmere/testkit/lrs_compressor.hpp"
#include "quillmere/testkit/temp_file.hpp"

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quillmere::dat {
namespace {

using Buffer = std::vector<std::uint8_t>;
using common::load_le;

Buffer pattern(std::size_t length, std::uint64_t seed) {
    common::SplitMix64 random(seed);
    Buffer out(length);
    for (std::size_t i = 0; i < length; ++i) {
        // Runs of repeated words, so compression has something to find.
        out[i] = static_cast<std::uint8_t>(i % 64 < 32 ? seed + i / 8 : random.next());
    }
    return out;
}

Buffer read_all(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Buffer(std::istreambuf_iterator<char>(in), {});
}

// Names in `dir`, so a test can see that no temporary file is left.
std::vector<std::string> listing(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(dir)) {
        names.push_back(item.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A file's bytes through `get_file`, or a failure naming the error.
Buffer fetch(const DatDatabase& db, std::uint32_t id) {
    auto bytes = db.get_file(id);
    if (!bytes) {
        ADD_FAILURE() << "get_file(" << id << "): " << bytes.error().message();
        return {};
    }
    return *bytes;
}

DatHeader template_header(std::uint32_t block_size) {
    DatHeader h;
    h.magic = 0x5442;
    h.block_size = block_size;
    h.file_size = 77; // all five overwritten by the writer
    h.free_head = 1;
    h.free_tail = 2;
    h.free_count = 3;
    h.root_offset = 9;
    h.dataset = 2;
    h.subset = 4;
    h.new_lru = 5;
    h.old_lru = 6;
    h.use_lru = 7;
    h.master_map_id = 8;
    h.engine_version = 10;
    h.game_version = 11;
    h.version_string = {'q', 'm'};
    h.version_minor = 12;
    return h;
}

// Reads a chain from the raw archive, requiring the writer's layout: blocks at multiples of
// the block size, each linked to the next one in the file, the last one linked to 0 and padded
// with zero bytes. Counts the blocks into `blocks`.
Buffer consecutive_chain(const Buffer& archive, std::uint32_t block_size, std::uint32_t offset,
                         std::size_t size, std::size_t& blocks) {
    Buffer out;
    const std::size_t payload = block_size - 4;
    for (std::size_t at = offset;; at += block_size) {
        EXPECT_EQ(at % block_size, 0U);
        EXPECT_GE(at, 400U);
        if (at + block_size > archive.size()) {
            ADD_FAILURE() << "block at " << at << " runs past the end";
            return out;
        }
        ++blocks;
        const std::size_t piece = std::min(payload, size - out.size());
        out.insert(out.end(), archive.begin() + static_cast<std::ptrdiff_t>(at + 4),
                   archive.begin() + static_cast<std::ptrdiff_t>(at + 4 + piece));
        const auto link = load_le<std::uint32_t>(archive.data() + at);
        if (out.size() == size) {
            EXPECT_EQ(link, 0U) << "last block at " << at;
            const auto padding = archive.begin() + static_cast<std::ptrdiff_t>(at + 4 + piece);
            EXPECT_TRUE(std::all_of(padding,
                                    padding + static_cast<std::ptrdiff_t>(block_size - 4 - piece),
                                    [](std::uint8_t b) { return b == 0; }))
                << "padding of the block at " << at;
            return out;
        }
        EXPECT_EQ(link, at + block_size) << "block at " << at;
    }
}

struct Walked {
    std::map<std::uint32_t, std::pair<DatFileEntry, Buffer>> files;
    std::size_t depth = 0;
    // Entries of each node, root first.
    std::vector<std::uint32_t> node_entries;
};

// Walks the raw archive: header, a directory that is a balanced B-tree with ascending ids, and
// every file's chain; every block of the data area belongs to exactly one chain.
Walked walk_layout(const Buffer& archive, const DatHeader& expected_header) {
    Walked walked;
    const std::uint32_t bs = expected_header.block_size;
    EXPECT_EQ(archive.size() % bs, 0U);
    EXPECT_TRUE(std::all_of(archive.begin(), archive.begin() + 320, [](auto b) { return b == 0; }));
    common::ByteCursor cursor(std::span<const std::uint8_t>(archive).subspan(320, 80));
    const auto header = DatHeader::read_le(cursor);
    EXPECT_TRUE(header.has_value());
    EXPECT_EQ(*header, expected_header);
    EXPECT_EQ(header->file_size, archive.size());
    const std::size_t data_start = (400 + bs - 1) / bs * bs;
    std::size_t blocks = 0;

    std::vector<std::uint32_t> in_order;
    std::set<std::size_t> leaf_depths;
    const std::function<void(std::uint32_t, std::size_t)> visit = [&](std::uint32_t offset,
                                                                      std::size_t depth) {
        const Buffer node = consecutive_chain(archive, bs, offset, 1716, blocks);
        const auto count = load_le<std::uint32_t>(node.data() + 248);
        ASSERT_LE(count, 61U);
        walked.node_entries.push_back(count);
        const bool leaf = load_le<std::uint32_t>(node.data()) == 0;
        for (std::uint32_t slot = 0; slot < 62; ++slot) {
            const auto branch = load_le<std::uint32_t>(node.data() + 4 * slot);
            EXPECT_EQ(branch != 0, !leaf && slot <= count) << "slot " << slot;
        }
        if (leaf) {
            leaf_depths.insert(depth);
        }
        for (std::uint32_t i = 0; i <= count; ++i) {
            if (!leaf) {
                visit(load_le<std::uint32_t>(node.data() + 4 * i), depth + 1);
            }
            if (i < count) {
                common::ByteCursor entry_cursor(
                    std::span<const std::uint8_t>(node).subspan(252 + 24 * i, 24));
                const DatFileEntry entry = *DatFileEntry::read_le(entry_cursor);
                in_order.push_back(entry.id);
                Buffer stored;
                if (entry.size > 0) {
                    stored = consecutive_chain(archive, bs, entry.offset, entry.size, blocks);
                } else {
                    EXPECT_EQ(entry.offset, 0U);
                }
                walked.files[entry.id] = {entry, std::move(stored)};
            }
        }
    };
    if (header->root_offset != 0) {
        visit(header->root_offset, 1);
    }
    EXPECT_TRUE(std::is_sorted(in_order.begin(), in_order.end()));
    EXPECT_EQ(std::adjacent_find(in_order.begin(), in_order.end()), in_order.end());
    EXPECT_LE(leaf_depths.size(), 1U) << "leaves at several depths";
    walked.depth = leaf_depths.empty() ? 0 : *leaf_depths.begin();
    EXPECT_EQ(data_start + blocks * bs, std::max(archive.size(), data_start))
        << "blocks outside any chain";
    return walked;
}

// One file as handed to the writer, and the bytes a reader must get back.
struct Added {
    std::uint32_t id;
    Buffer contents;
    enum { Plain, Compressed, Stored } how;
    std::uint32_t bit_flags = 0;
};

std::vector<Added> files_for(std::size_t count, std::uint64_t seed, std::size_t large) {
    common::SplitMix64 random(seed);
    std::vector<Added> files;
    for (std::size_t i = 0; i < count; ++i) {
        // Ids scattered over several types, added in random order.
        const auto id = static_cast<std::uint32_t>((random.below(4) + 1) << 24 | i * 7919 % 999983);
        // File 1 is empty and plain, so it takes no block; file 2 is the large one.
        const std::size_t length = i == 1 ? 0 : i == 2 ? large : random.below(300);
        const auto how = i == 1 ? Added::Plain : static_cast<decltype(Added::how)>(i % 3);
        files.push_back(
            {id, pattern(length, i), how, static_cast<std::uint32_t>(random.below(16) << 4)});
    }
    return files;
}

struct Shape {
    std::uint32_t block_size;
    std::size_t files;
    std::size_t large;
    std::size_t depth;
};

class ArchiveWriterShapeTest : public ::testing::TestWithParam<Shape> {};

TEST_P(ArchiveWriterShapeTest, ArchivesReadBackAndKeepTheLayout) {
    const Shape shape = GetParam();
    testkit::TempDir dir("writer");
    const auto path = dir.path() / "out.dat";
    const auto files = files_for(shape.files, shape.files, shape.large);

    auto writer = ArchiveWriter::create(path, template_header(shape.block_size));
    ASSERT_TRUE(writer) << writer.error().message();
    std::map<std::uint32_t, DatFileEntry> returned;
    for (const Added& file : files) {
        const FileFields fields{file.bit_flags, file.id ^ 0xFFFF, 3};
        DatResult<DatFileEntry> entry = std::unexpected(DatError::other(""));
        if (file.how == Added::Stored) {
            // Hand-made compressed bytes, stored as they are.
            const Buffer stored = testkit::lrs_compress(file.contents, {.end_marker = true});
            entry = writer->add_stored(
                {file.bit_flags | 1, file.id, 123, static_cast<std::uint32_t>(stored.size()), 4, 5},
                stored);
        } else {
            entry =
                writer->add_file(file.id, file.contents, fields,
                                 file.how == Added::Plain ? Storage::Plain : Storage::Compressed);
        }
        ASSERT_TRUE(entry) << entry.error().message();
        returned[file.id] = *entry;
    }
    const auto header = writer->finish();
    ASSERT_TRUE(header) << header.error().message();
    EXPECT_EQ(listing(dir.path()), std::vector<std::string>{"out.dat"});

    DatHeader expected = template_header(shape.block_size == 0 ? 1024 : shape.block_size);
    const Buffer archive = read_all(path);
    expected.file_size = static_cast<std::uint32_t>(archive.size());
    expected.free_head = expected.free_tail = expected.free_count = 0;
    expected.version_string.resize(16);
    expected.root_offset = header->root_offset;
    EXPECT_EQ(*header, expected);
    const Walked walked = walk_layout(archive, expected);
    EXPECT_EQ(walked.depth, shape.depth);

    auto db = DatDatabase::open(path);
    ASSERT_TRUE(db) << db.error().message();
    ASSERT_EQ(db->files().size(), files.size());
    for (const Added& file : files) {
        const DatFileEntry& entry = db->files().at(file.id);
        EXPECT_EQ(entry, returned[file.id]);
        EXPECT_EQ(entry, walked.files.at(file.id).first);
        EXPECT_EQ(entry.is_compressed(), file.how != Added::Plain);
        EXPECT_EQ(entry.bit_flags & ~1U, file.bit_flags);
        EXPECT_EQ(fetch(*db, file.id), file.contents) << std::hex << file.id;
        if (file.how == Added::Stored) {
            EXPECT_EQ(walked.files.at(file.id).second,
                      testkit::lrs_compress(file.contents, {.end_marker = true}));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, ArchiveWriterShapeTest,
                         ::testing::Values(Shape{1024, 0, 0, 0}, Shape{0, 2, 0, 1},
                                           Shape{64, 61, 100'000, 1}, Shape{5, 62, 3000, 2},
                                           Shape{4096, 200, 3'000'000, 2},
                                           Shape{1024, 3844, 1'500'000, 3}),
                         [](const auto& param_info) {
                             return "block" + std::to_string(param_info.param.block_size) +
                                    "_files" + std::to_string(param_info.param.files);
                         });

// The directory at each capacity boundary: a full leaf (61 entries), the first two-level tree
// (62), two levels from 62 children of 61 entries (3,782) to full (3,843), the first three-level
// tree (3,844), and four levels. Each walks as a balanced tree holding every id in order, with
// every node but the root at least half full, and verifies clean.
TEST(ArchiveWriterTest, DirectoryIsBalancedAtEveryCapacityBoundary) {
    testkit::TempDir dir("writer");
    const auto path = dir.path() / "out.dat";
    std::vector<std::pair<std::size_t, std::size_t>> shapes = {{61, 1}, {62, 2}, {238'328, 4}};
    for (std::size_t entries = 3782; entries <= 3844; ++entries) {
        shapes.emplace_back(entries, entries < 3844 ? 2 : 3);
    }
    for (const auto& [entries, depth] : shapes) {
        auto writer = ArchiveWriter::create(path, template_header(2048));
        ASSERT_TRUE(writer);
        std::vector<std::uint32_t> ids(entries);
        for (std::size_t i = 0; i < entries; ++i) {
            ids[i] = static_cast<std::uint32_t>(0x06000000 + 3 * i);
        }
        // Empty files take no block, so the archive is little but its directory. Added in
        // descending order, so the writer must sort them.
        for (auto id = ids.rbegin(); id != ids.rend(); ++id) {
            ASSERT_TRUE(writer->add_file(*id, {}));
        }
        const auto header = writer->finish();
        ASSERT_TRUE(header) << header.error().message();

        const Walked walked = walk_layout(read_all(path), *header);
        EXPECT_EQ(walked.depth, depth) << entries;
        std::vector<std::uint32_t> walked_ids;
        for (const auto& [id, file] : walked.files) {
            walked_ids.push_back(id);
        }
        EXPECT_EQ(walked_ids, ids) << entries;
        ASSERT_FALSE(walked.node_entries.empty());
        EXPECT_TRUE(std::all_of(walked.node_entries.begin() + 1, walked.node_entries.end(),
                                [](std::uint32_t count) { return count >= 30; }))
            << entries;
        const auto report = verify_archive(path);
        ASSERT_TRUE(report);
        EXPECT_EQ(report->problems, std::vector<Problem>{}) << entries;
    }
}

TEST(ArchiveWriterTest, SameCallsGiveSameBytes) {
    testkit::TempDir dir("writer");
    std::vector<Buffer> archives;
    for (const char* name : {"a.dat", "b.dat"}) {
        auto writer = ArchiveWriter::create(dir.path() / name, template_header(256));
        ASSERT_TRUE(writer);
        for (const Added& file : files_for(300, 9, 5000)) {
            ASSERT_TRUE(writer->add_file(file.id, file.contents, {}, Storage::Compressed));
        }
        ASSERT_TRUE(writer->finish());
        archives.push_back(read_all(dir.path() / name));
    }
    EXPECT_EQ(archives[0], archives[1]);
}

// A file streamed from a descriptor is stored as the same bytes given whole would be, across
// several read buffers and an odd block size; a descriptor that ends early ends the writer.
TEST(ArchiveWriterTest, StreamedFileEqualsTheFileGivenWhole) {
    testkit::TempDir dir("writer");
    const Buffer contents = pattern(3'000'017, 4);
    const testkit::TempFile source(contents, "source");
    for (const char* name : {"whole.dat", "streamed.dat"}) {
        auto writer = ArchiveWriter::create(dir.path() / name, template_header(333));
        ASSERT_TRUE(writer);
        ASSERT_TRUE(writer->add_file(1, Buffer{1, 2, 3}));
        if (std::string(name) == "whole.dat") {
            ASSERT_TRUE(writer->add_file(2, contents, {.timestamp = 7}));
        } else {
            const int fd = ::open(source.path().c_str(), O_RDONLY | O_CLOEXEC);
            ASSERT_TRUE(writer->add_file_from(2, fd, contents.size(), {.timestamp = 7}));
            ::close(fd);
        }
        ASSERT_TRUE(writer->finish());
    }
    EXPECT_TRUE(read_all(dir.path() / "whole.dat") == read_all(dir.path() / "streamed.dat"));

    auto writer = ArchiveWriter::create(dir.path() / "short.dat", DatHeader{});
    ASSERT_TRUE(writer);
    const int fd = ::open(source.path().c_str(), O_RDONLY | O_CLOEXEC);
    const auto added = writer->add_file_from(3, fd, contents.size() + 1);
    ::close(fd);
    ASSERT_FALSE(added);
    EXPECT_EQ(added.error().message(),
              "Other error: file 0x00000003 ended after 3000017 of 3000018 bytes");
    EXPECT_FALSE(writer->finish());
    EXPECT_EQ(listing(dir.path()), (std::vector<std::string>{"streamed.dat", "whole.dat"}));
}

TEST(ArchiveWriterTest, RefusedCallsWriteNothingAndKeepTheWriterUsable) {
    testkit::TempDir dir("writer");
    auto writer = ArchiveWriter::create(dir.path() / "out.dat", DatHeader{});
    ASSERT_TRUE(writer);
    EXPECT_EQ(writer->block_size(), 1024U);
    const Buffer ten(10, 0x33);
    ASSERT_TRUE(writer->add_file(0x03000001, ten));
    const auto size_before = std::filesystem::file_size(writer->temporary_path());

    const std::pair<DatResult<DatFileEntry>, std::string> refused[] = {
        {writer->add_file(0x03000001, ten, {}, Storage::Compressed),
         "Duplicate File ID 03000001 detected"},
        {writer->add_stored({0, 0x03000001, 0, 10, 0, 0}, ten),
         "Duplicate File ID 03000001 detected"},
        {writer->add_file(0x03000002, ten, {0x41, 0, 0}),
         "Other error: file 0x03000002 is stored plain but its bit_flags 0x00000041 mark it "
         "compressed"},
        {writer->add_stored({1, 0x03000003, 0, 12, 0, 0}, ten),
         "Other error: file 0x03000003 has 10 stored bytes but its entry says 12"},
    };
    for (const auto& [result, message] : refused) {
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().message(), message);
    }
    EXPECT_EQ(std::filesystem::file_size(writer->temporary_path()), size_before);
    ASSERT_TRUE(writer->add_file(0x03000002, ten, {0x40, 0, 0}));
    ASSERT_TRUE(writer->finish());
    EXPECT_EQ(writer->add_file(0x03000004, ten).error().message(),
              "Other error: the archive writer has already finished");
    EXPECT_EQ(writer->finish().error().message(),
              "Other error: the archive writer has already finished");
    const auto db = DatDatabase::open(dir.path() / "out.dat");
    ASSERT_TRUE(db);
    EXPECT_EQ(db->files().size(), 2U);
}

// Streamed or given whole, plain contents marked compressed are refused for the same reason.
TEST(ArchiveWriterTest, PlainContentsMarkedCompressedAreRefusedAlikeWhenStreamed) {
    testkit::TempDir dir("writer");
    auto writer = ArchiveWriter::create(dir.path() / "out.dat", DatHeader{});
    ASSERT_TRUE(writer);
    const auto streamed = writer->add_file_from(0x03000005, -1, 10, {0x41, 0, 0});
    ASSERT_FALSE(streamed);
    EXPECT_EQ(streamed.error().message(),
              "Other error: file 0x03000005 is stored plain but its bit_flags 0x00000041 mark it "
              "compressed");
    EXPECT_EQ(streamed.error().write_refusal(), WriteRefusal::FlagsContradictStorage);
    EXPECT_EQ(writer->add_file(0x03000005, Buffer(10), {0x41, 0, 0}).error().write_refusal(),
              WriteRefusal::FlagsContradictStorage);
    ASSERT_TRUE(writer->finish());
}

TEST(ArchiveWriterTest, CreateRefusesUnusableTemplatesAndPaths) {
    testkit::TempDir dir("writer");
    const auto out = dir.path() / "out.dat";
    const auto refusal = [](const std::filesystem::path& path, const DatHeader& header) {
        auto writer = ArchiveWriter::create(path, header);
        return writer ? std::string("created") : writer.error().message();
    };
    for (const std::uint32_t bad : {1U, 4U, (1U << 20) + 1}) {
        EXPECT_EQ(refusal(out, template_header(bad)),
                  "Other error: block size " + std::to_string(bad) +
                      " is not supported: it must be above 4 and at most 1048576");
    }
    EXPECT_EQ(refusal(out, template_header(1U << 20)), "created");
    DatHeader long_version;
    long_version.version_string.assign(17, 'v');
    EXPECT_EQ(refusal(out, long_version),
              "Other error: version string of 17 bytes does not fit the header's 16");
    EXPECT_EQ(refusal(dir.path() / "missing" / "out.dat", DatHeader{}),
              "Failed to open file at " + (dir.path() / "missing" / "out.dat").string() +
                  ": No such file or directory");
    EXPECT_EQ(refusal(dir.path(), DatHeader{}),
              "Failed to open file at " + dir.path().string() + ": Is a directory");
    EXPECT_TRUE(listing(dir.path()).empty());
}

// A file that would carry the archive past 4 GiB is refused before a byte of it is read; the
// contents here are untouched reserved address space.
TEST(ArchiveWriterTest, ArchivePastThirtyTwoBitOffsetsIsRefusedBeforeWriting) {
    constexpr std::size_t kHuge = std::size_t{1} << 32;
    void* memory =
        ::mmap(nullptr, kHuge, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(memory, MAP_FAILED);
    const std::span<const std::uint8_t> huge(static_cast<const std::uint8_t*>(memory), kHuge);
    testkit::TempDir dir("writer");
    auto writer = ArchiveWriter::create(dir.path() / "out.dat", DatHeader{});
    ASSERT_TRUE(writer);

    // Its last block would end at byte 4 GiB, one block past the reach.
    const std::size_t plain = std::size_t{4194303} * 1020;
    const std::uint64_t plain_end = 1024 + (plain + 1019) / 1020 * 1024;
    EXPECT_EQ(writer->add_file(0x0A000001, huge.first(plain)).error().message(),
              "Other error: archive too large for 32-bit offsets: file 0x0A000001 of " +
                  std::to_string(plain) + " stored bytes would end at byte " +
                  std::to_string(plain_end));
    EXPECT_EQ(writer->add_file(0x0A000002, huge, {}, Storage::Compressed).error().message(),
              "Other error: file 0x0A000002 of 4294967296 bytes is too long to compress (4 GiB or "
              "more)");
    EXPECT_EQ(std::filesystem::file_size(writer->temporary_path()), 0U);
    ::munmap(memory, kHuge);
    EXPECT_TRUE(writer->add_file(0x0A000001, Buffer(5, 1)));
    EXPECT_TRUE(writer->finish());
}

TEST(ArchiveWriterTest, UnfinishedWriterLeavesTheOutputAsItWas) {
    testkit::TempDir dir("writer");
    const auto out = dir.path() / "out.dat";
    const Buffer old{'o', 'l', 'd'};
    testkit::write_file(out, old);
    {
        auto writer = ArchiveWriter::create(out, DatHeader{});
        ASSERT_TRUE(writer);
        const auto temporary = writer->temporary_path();
        EXPECT_EQ(temporary.parent_path(), std::filesystem::absolute(dir.path()));
        EXPECT_EQ(temporary.filename().string().substr(0, 13), ".out.dat.tmp-");
        EXPECT_EQ(temporary.filename().string().size(), 19U);
        ASSERT_TRUE(writer->add_file(1, pattern(3'000'000, 1)));
        EXPECT_TRUE(std::filesystem::exists(temporary));
        EXPECT_EQ(read_all(out), old);
    }
    EXPECT_EQ(read_all(out), old);
    EXPECT_EQ(listing(dir.path()), std::vector<std::string>{"out.dat"});
}

// Repacking an archive onto its own path: the open database keeps reading the old file.
TEST(ArchiveWriterTest, OutputMayBeTheArchiveBeingRead) {
    testkit::TempDir dir("writer");
    const auto path = dir.path() / "portal.dat";
    testkit::ArchiveBuilder builder(512);
    builder.shuffle_blocks(3);
    for (std::uint32_t i = 0; i < 100; ++i) {
        builder.add_file(0x01000000 + i, pattern(i * 37, i), {.compress = i % 2 == 0});
    }
    builder.write_to(path);
    const Buffer before = read_all(path);

    auto source = DatDatabase::open(path);
    ASSERT_TRUE(source);
    auto writer = ArchiveWriter::create(path, source->header());
    ASSERT_TRUE(writer);
    for (const auto& [id, entry] : source->files()) {
        auto stored = source->read_file_data(entry.offset, entry.size);
        ASSERT_TRUE(stored);
        ASSERT_TRUE(writer->add_stored(entry, *stored));
    }
    ASSERT_TRUE(writer->finish());
    EXPECT_NE(read_all(path), before);

    auto repacked = DatDatabase::open(path);
    ASSERT_TRUE(repacked);
    ASSERT_EQ(repacked->files().size(), 100U);
    for (const auto& [id, entry] : source->files()) {
        EXPECT_EQ(fetch(*repacked, id), fetch(*source, id));
        EXPECT_EQ(repacked->files().at(id).bit_flags, entry.bit_flags);
    }
    EXPECT_EQ(listing(dir.path()), std::vector<std::string>{"portal.dat"});
}

// Runs `body` in a forked child and returns its exit status and what it wrote to `report`.
struct ChildOutcome {
    int status = 0;
    std::string report;
};

ChildOutcome in_child(const std::function<void(int report)>& body,
                      const std::function<void(pid_t, int report)>& parent = {}) {
    int pipe_fds[2];
    EXPECT_EQ(::pipe(pipe_fds), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipe_fds[0]);
        body(pipe_fds[1]);
        ::_exit(0);
    }
    ::close(pipe_fds[1]);
    if (parent) {
        parent(pid, pipe_fds[0]);
    }
    ChildOutcome outcome;
    char chunk[256];
    ssize_t got = 0;
    while ((got = ::read(pipe_fds[0], chunk, sizeof chunk)) > 0) {
        outcome.report.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(pipe_fds[0]);
    ::waitpid(pid, &outcome.status, 0);
    return outcome;
}

void send(int fd, const std::string& text) {
    EXPECT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

// A file size limit makes writes fail with EFBIG as a full disk fails with ENOSPC.
TEST(ArchiveWriterTest, FailedWriteIsAnIoErrorAndLeavesTheOldOutput) {
    testkit::TempDir dir("writer");
    const auto out = dir.path() / "out.dat";
    const Buffer old(100, 'o');
    testkit::write_file(out, old);
    const ChildOutcome outcome = in_child([&](int report) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{256 * 1024, 256 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        auto writer = ArchiveWriter::create(out, DatHeader{});
        DatResult<void> result;
        for (std::uint32_t id = 0; id < 40 && result; ++id) {
            if (auto added = writer->add_file(id, pattern(100'000, id)); !added) {
                result = std::unexpected(added.error());
            }
        }
        if (result) {
            if (auto finished = writer->finish(); !finished) {
                result = std::unexpected(finished.error());
            }
        }
        send(report, result ? "no error" : result.error().message());
        send(report, writer->temporary_path().empty() ? "" : " (temporary file kept)");
        send(report, "; then " + writer->add_file(99, old).error().message());
    });
    EXPECT_EQ(outcome.report, "IO error: File too large; then Other error: the archive writer "
                              "stopped at an earlier error");
    EXPECT_EQ(read_all(out), old);
    EXPECT_EQ(listing(dir.path()), std::vector<std::string>{"out.dat"});
}

TEST(ArchiveWriterTest, TerminationSignalRemovesTheTemporaryFile) {
    testkit::TempDir dir("writer");
    const auto out = dir.path() / "out.dat";
    const ChildOutcome outcome = in_child(
        [&](int report) {
            std::signal(SIGTERM, SIG_DFL);
            install_termination_cleanup();
            auto writer = ArchiveWriter::create(out, DatHeader{});
            for (std::uint32_t id = 0; id < 2000; ++id) {
                (void)writer->add_file(id, pattern(20'000, id), {}, Storage::Compressed);
                if (id == 10) {
                    send(report, "writing");
                    ::close(report);
                }
            }
            ::pause();
        },
        [](pid_t child, int report) {
            char ready[7];
            EXPECT_EQ(::read(report, ready, sizeof ready), 7);
            ::kill(child, SIGTERM);
        });
    EXPECT_TRUE(WIFSIGNALED(outcome.status) && WTERMSIG(outcome.status) == SIGTERM);
    EXPECT_TRUE(listing(dir.path()).empty());
}

// A library takes over no signal: a writer leaves every disposition as it was.
TEST(ArchiveWriterTest, AWriterLeavesTheProcessSignalsAsTheyWere) {
    testkit::TempDir dir("writer");
    const ChildOutcome outcome = in_child([&](int report) {
        for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
            std::signal(signal_number, SIG_DFL);
        }
        auto writer = ArchiveWriter::create(dir.path() / "out.dat", DatHeader{});
        (void)writer->add_file(1, pattern(100, 1));
        std::string dispositions;
        for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
            struct sigaction now {};
            ::sigaction(signal_number, nullptr, &now);
            dispositions += now.sa_handler == SIG_DFL ? "default " : "taken ";
        }
        send(report, dispositions);
    });
    EXPECT_EQ(outcome.report, "default default default default ");
}

TEST(ArchiveWriterTest, AnApplicationsOwnHandlerIsKeptAndCanRemoveTemporaries) {
    testkit::TempDir dir("writer");
    const ChildOutcome outcome = in_child([&](int report) {
        struct sigaction own {};
        own.sa_handler = [](int) {};
        ::sigaction(SIGTERM, &own, nullptr);
        ::signal(SIGINT, SIG_IGN);
        install_termination_cleanup();
        auto writer = ArchiveWriter::create(dir.path() / "out.dat", DatHeader{});
        struct sigaction term {};
        struct sigaction interrupt {};
        ::sigaction(SIGTERM, nullptr, &term);
        ::sigaction(SIGINT, nullptr, &interrupt);
        send(report, term.sa_handler == own.sa_handler ? "kept" : "replaced");
        send(report, interrupt.sa_handler == SIG_IGN ? " ignored" : " handled");
        remove_pending_temporaries();
        send(report, std::filesystem::exists(writer->temporary_path()) ? " still there" : " gone");
    });
    EXPECT_EQ(outcome.report, "kept ignored gone");
}

} // namespace
} // namespace quillmere::dat
