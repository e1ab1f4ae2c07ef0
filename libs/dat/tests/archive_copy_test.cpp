// Tests of copies: the writer's helpers that take files and fields from an open archive, the
// whole copy with edits, the writer's refusals told apart, and failed reads that name their place.
#include "quillmere/dat/archive_copy.hpp"
#include "quillmere/testkit/archive_builder.hpp"
#include "quillmere/testkit/temp_file.hpp"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace quillmere::dat {
namespace {

using Buffer = std::vector<std::uint8_t>;

constexpr std::uint32_t kPlain = 0x06000001;
constexpr std::uint32_t kCompressed = 0x06000002;
constexpr std::uint32_t kScript = 0x33000001;

// The value of a read that must succeed; a failure fails the test and gives an empty value.
template <class T>
T value(DatResult<T> result) {
    EXPECT_TRUE(result) << result.error().one_line();
    return result ? std::move(*result) : T{};
}

// A source archive: a preamble of its own, a header field the writer keeps, a plain file, and
// two compressed ones with timestamps and versions.
std::filesystem::path write_source(const testkit::TempDir& dir) {
    testkit::ArchiveBuilder builder(512);
    builder.preamble_fill(0x5A);
    builder.header().dataset = 7;
    builder.add_file(kScript, Buffer(300, 0x33), {true, 0, 9, 2});
    builder.add_file(kPlain, Buffer(700, 0x11), {false, 0x40, 3, 0});
    builder.add_file(kCompressed, Buffer(900, 0x22), {true, 0, 0, 4});
    const auto path = dir.path() / "source.dat";
    builder.write_to(path);
    return path;
}

TEST(ArchiveCopyTest, HelpersCopyAsStoredAndStoreNewContentsLikeAnEntry) {
    testkit::TempDir dir("copy");
    auto source = DatDatabase::open(write_source(dir));
    ASSERT_TRUE(source);
    EXPECT_EQ(source->sorted_ids(), (std::vector<std::uint32_t>{kPlain, kCompressed, kScript}));
    auto writer = ArchiveWriter::create_from(dir.path() / "out.dat", *source);
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->copy_file(*source, kPlain));
    ASSERT_TRUE(writer->copy_file(*source, kCompressed));
    const Buffer edited(250, 0x44);
    ASSERT_TRUE(writer->add_file_like(source->files().at(kScript), edited));
    EXPECT_EQ(writer->copy_file(*source, 0x01000000).error().kind(), DatError::Kind::NotFound);
    ASSERT_TRUE(writer->finish());

    auto copy = DatDatabase::open(dir.path() / "out.dat");
    ASSERT_TRUE(copy);
    EXPECT_EQ(value(copy->read_preamble()), value(source->read_preamble()));
    EXPECT_EQ(copy->header().dataset, 7U);
    for (const std::uint32_t id : {kPlain, kCompressed}) {
        EXPECT_EQ(value(copy->read_stored(id)), value(source->read_stored(id))) << id;
    }
    for (const std::uint32_t id : {kPlain, kCompressed, kScript}) {
        const DatFileEntry& was = source->files().at(id);
        const DatFileEntry& is = copy->files().at(id);
        EXPECT_EQ(std::tie(is.bit_flags, is.timestamp, is.version),
                  std::tie(was.bit_flags, was.timestamp, was.version));
    }
    EXPECT_EQ(value(copy->get_file(kScript)), edited);
}

TEST(ArchiveCopyTest, CopyArchivePutsAndDeletesOrRefusesBeforeWriting) {
    testkit::TempDir dir("copy");
    auto source = DatDatabase::open(write_source(dir));
    ASSERT_TRUE(source);
    const auto out = dir.path() / "out.dat";
    ArchiveEdits edits;
    edits.puts = {{kPlain, Buffer(10, 1)}, {0x07000009, Buffer(20, 2)}};
    edits.deletes = {kCompressed};
    edits.put_storage = Storage::Compressed;
    ASSERT_TRUE(copy_archive(*source, out, edits));
    auto copy = DatDatabase::open(out);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->sorted_ids(), (std::vector<std::uint32_t>{kPlain, 0x07000009, kScript}));
    EXPECT_EQ(value(copy->get_file(kPlain)), Buffer(10, 1));
    EXPECT_EQ(copy->files().at(kPlain).bit_flags, 0x41U);
    EXPECT_EQ(copy->files().at(kPlain).timestamp, 3U);
    EXPECT_EQ(value(copy->read_stored(kScript)), value(source->read_stored(kScript)));

    std::filesystem::remove(out);
    auto absent = copy_archive(*source, out, {{}, {0x01000000}, Storage::Plain});
    EXPECT_EQ(absent.error().kind(), DatError::Kind::NotFound);
    auto conflict = copy_archive(*source, out, {{{kPlain, {}}}, {kPlain}, Storage::Plain});
    EXPECT_EQ(conflict.error().write_refusal(), WriteRefusal::EditConflict);
    EXPECT_FALSE(std::filesystem::exists(out));
}

// The options a caller steers the copy with: a rehearsal writes nothing and counts what a copy
// would; an unreadable file ends the copy unless `leave_out` takes it; a put streamed from a
// descriptor is stored plain, and asking for it compressed is refused.
TEST(ArchiveCopyTest, CopyFilesRehearsesLeavesOutAndStreamsAsAsked) {
    testkit::TempDir dir("copy");
    testkit::ArchiveBuilder builder(512);
    builder.add_file(kPlain, Buffer(100, 1));
    builder.add_entry({0, kCompressed, 0x10000U, 10, 0, 0});
    builder.add_file(kScript, Buffer(300, 3), {true, 0, 0, 0});
    builder.write_to(dir.path() / "damaged.dat");
    auto source = DatDatabase::open(dir.path() / "damaged.dat");
    ASSERT_TRUE(source);
    const auto put_path = dir.path() / "put.bin";
    testkit::write_file(put_path, Buffer(5000, 7));
    const int fd = ::open(put_path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ArchiveEdits edits;
    edits.puts[0x07000001] = PutContents::from_descriptor(fd, 5000);

    auto failed = copy_files(*source, nullptr, edits);
    EXPECT_EQ(failed.error().read_place()->file_id, kCompressed);
    std::vector<std::size_t> progress;
    CopyOptions options;
    options.leave_out = [](const DatFileEntry& entry, const DatError&) {
        return entry.id == kCompressed;
    };
    options.progress = [&](std::size_t done, std::size_t total) {
        progress.push_back(done * 10 + total);
    };
    auto rehearsed = copy_files(*source, nullptr, edits, options);
    ASSERT_TRUE(rehearsed) << rehearsed.error().one_line();
    EXPECT_EQ(std::tie(rehearsed->files, rehearsed->compressed, rehearsed->left_out),
              std::tuple(std::size_t{3}, std::size_t{1}, std::vector<std::uint32_t>{kCompressed}));
    EXPECT_EQ(progress, (std::vector<std::size_t>{14, 24, 34, 44}));
    EXPECT_FALSE(rehearsed->header);

    const auto out = dir.path() / "out.dat";
    auto copied = copy_archive(*source, out, edits, options);
    ASSERT_TRUE(copied) << copied.error().one_line();
    EXPECT_EQ(copied->stored_bytes, rehearsed->stored_bytes);
    auto copy = DatDatabase::open(out);
    ASSERT_TRUE(copy);
    EXPECT_EQ(value(copy->get_file(0x07000001)), Buffer(5000, 7));
    EXPECT_EQ(copy->files().size(), 3U);
    EXPECT_EQ(copy->header().file_size, copied->header->file_size);

    edits.puts[0x07000001].storage = Storage::Compressed;
    EXPECT_EQ(copy_files(*source, nullptr, edits, options).error().write_refusal(),
              WriteRefusal::FlagsContradictStorage);
    ::close(fd);
}

TEST(ArchiveCopyTest, WriterRefusalsAreToldApart) {
    testkit::TempDir dir("copy");
    DatHeader tiny;
    tiny.block_size = 4;
    EXPECT_EQ(ArchiveWriter::create(dir.path() / "out.dat", tiny).error().write_refusal(),
              WriteRefusal::BlockSize);
    auto writer = ArchiveWriter::create(dir.path() / "out.dat", DatHeader{});
    ASSERT_TRUE(writer);
    const Buffer ten(10, 0x33);
    EXPECT_EQ(writer->add_file(1, ten, {1, 0, 0}).error().write_refusal(),
              WriteRefusal::FlagsContradictStorage);
    EXPECT_EQ(writer->add_stored({0, 2, 0, 12, 0, 0}, ten).error().write_refusal(),
              WriteRefusal::StoredSizeMismatch);
    ASSERT_TRUE(writer->add_file(3, ten));
    EXPECT_EQ(writer->add_file(3, ten).error().kind(), DatError::Kind::DuplicateId);
    ASSERT_TRUE(writer->finish());
    EXPECT_EQ(writer->add_file(4, ten).error().write_refusal(), WriteRefusal::Finished);
}

// A chain or a directory node past the end of the archive: the message stays the plain I/O
// error, the one-line form says which file or node and which block.
TEST(ArchiveCopyTest, FailedReadsNameTheFileOrNodeAndTheBlock) {
    testkit::TempDir dir("copy");
    testkit::ArchiveBuilder builder(512);
    builder.add_file(kPlain, Buffer(100, 1));
    builder.add_entry({0, kCompressed, 0x10000U, 10, 0, 0});
    builder.write_to(dir.path() / "past.dat");
    auto db = DatDatabase::open(dir.path() / "past.dat");
    ASSERT_TRUE(db);
    for (const auto& read : {db->get_file(kCompressed), db->read_stored(kCompressed)}) {
        ASSERT_FALSE(read);
        EXPECT_EQ(read.error().message(), "IO error: failed to fill whole buffer");
        EXPECT_EQ(read.error().one_line(),
                  "IO error: failed to fill whole buffer (file 06000002, block at offset 65536)");
    }

    testkit::ArchiveBuilder rootless(512);
    rootless.add_file(kPlain, Buffer(100, 1));
    rootless.header().root_offset = 0x20000;
    rootless.write_to(dir.path() / "root.dat");
    auto opened = DatDatabase::open(dir.path() / "root.dat");
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error().read_place(), (DatError::ReadPlace{0x20000, std::nullopt, 0x20000}));
}

} // namespace
} // namespace quillmere::dat
