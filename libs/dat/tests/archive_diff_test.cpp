// compare_archives on test-kit archives: layout is no difference, every kind of difference is
// found and told apart, equal stored bytes are never decompressed, and --type's filter.
#include "quillmere/dat/archive_diff.hpp"
#include "quillmere/dat/dat_database.hpp"
#include "quillmere/testkit/archive_builder.hpp"
#include "quillmere/testkit/lrs_compressor.hpp"
#include "quillmere/testkit/temp_file.hpp"

#include <functional>
#include <gtest/gtest.h>

namespace quillmere::dat {
namespace {

using Buffer = std::vector<std::uint8_t>;
using testkit::ArchiveBuilder;
using testkit::FileOptions;

Buffer text_bytes(std::size_t length, std::uint8_t seed) {
    Buffer out(length);
    for (std::size_t i = 0; i < length; ++i) {
        out[i] = static_cast<std::uint8_t>('a' + (i * 7 + seed) % 13);
    }
    return out;
}

// A compressed stream whose tokens give fewer bytes than its size word declares:
// `get_file_checked` refuses it, so only a comparison that never decompresses it passes.
Buffer short_stream() {
    auto stream = testkit::lrs_compress(text_bytes(600, 9));
    stream.resize(stream.size() - 8);
    return stream;
}

// The files both archives of the tests start from.
void add_common(ArchiveBuilder& builder) {
    builder.add_file(0x01000001, text_bytes(600, 1), {.compress = true, .timestamp = 1});
    builder.add_file(0x01000002, text_bytes(5, 2));
    builder.add_file(0x07000001, short_stream(), {.bit_flags = 1});
}

class ArchivePair : public ::testing::Test {
  protected:
    DatDatabase open(const std::function<void(ArchiveBuilder&)>& make, const char* name) {
        ArchiveBuilder builder;
        make(builder);
        const auto path = dir_.path() / name;
        builder.write_to(path);
        auto db = DatDatabase::open(path);
        EXPECT_TRUE(db) << db.error().message();
        return std::move(*db);
    }

    testkit::TempDir dir_{"archive-diff"};
};

TEST_F(ArchivePair, WhereThingsLieIsNoDifference) {
    const auto a = open(
        [](ArchiveBuilder& builder) {
            add_common(builder);
            for (std::uint32_t i = 0; i < 200; ++i) {
                builder.add_file(0x06000000 + i, text_bytes(100 + i * 13, 3));
            }
        },
        "a.dat");
    // The same files added in another order, blocks shuffled, another free list and file_size.
    const auto b = open(
        [](ArchiveBuilder& builder) {
            builder.shuffle_blocks(42);
            for (std::uint32_t i = 200; i-- > 0;) {
                builder.add_file(0x06000000 + i, text_bytes(100 + i * 13, 3));
            }
            add_common(builder);
            builder.header().file_size = 123456;
            builder.header().free_head = 1024;
            builder.header().free_tail = 2048;
            builder.header().free_count = 2;
        },
        "b.dat");
    ASSERT_NE(a.header().root_offset, b.header().root_offset);
    const auto diff = compare_archives(a, b);
    ASSERT_TRUE(diff) << diff.error().message();
    EXPECT_TRUE(diff->empty());
    EXPECT_EQ(diff->same, 203U);
}

TEST_F(ArchivePair, EveryKindOfDifferenceIsFoundAndToldApart) {
    const auto a = open(
        [](ArchiveBuilder& builder) {
            add_common(builder);
            builder.header().game_version = 45;
            builder.add_file(0x02000001, text_bytes(30, 4));
            builder.add_file(0x06000001, text_bytes(10, 5));
            builder.add_file(0x06000002, text_bytes(10, 6), {.timestamp = 5});
            builder.add_file(0x06000003, text_bytes(10, 7), {.version = 1});
            builder.add_file(0x06000004, text_bytes(10, 8), {.bit_flags = 2});
            builder.add_file(0x06000005, testkit::lrs_compress(text_bytes(900, 9)),
                             {.bit_flags = 1});
            builder.add_file(0x06000006, text_bytes(900, 10));
            builder.add_file(0x33000002, text_bytes(2000, 11));
        },
        "a.dat");
    const auto b = open(
        [](ArchiveBuilder& builder) {
            add_common(builder);
            builder.preamble_fill(0x11);
            builder.header().game_version = 46;
            builder.header().version_string[3] = 0xAB;
            builder.add_file(0x06000001, text_bytes(12, 5));
            builder.add_file(0x06000002, text_bytes(10, 6), {.timestamp = 7});
            builder.add_file(0x06000003, text_bytes(10, 7), {.version = 2});
            builder.add_file(0x06000004, text_bytes(10, 8), {.bit_flags = 6});
            // The same contents, compressed another way.
            builder.add_file(0x06000005,
                             testkit::lrs_compress(text_bytes(900, 9), {.end_marker = true}),
                             {.bit_flags = 1});
            builder.add_file(0x06000006, text_bytes(900, 10), {.compress = true});
            // A chain that leads past the end of the archive.
            const auto chain = builder.add_chain(text_bytes(2000, 11));
            builder.set_link({chain, 0}, std::uint32_t{0x7FFFFC00});
            builder.add_entry(ArchiveBuilder::entry_for(chain, 0x33000002));
            builder.add_file(0x0A000001, text_bytes(1234, 12));
        },
        "b.dat");
    const auto diff = compare_archives(a, b);
    ASSERT_TRUE(diff) << diff.error().message();

    ASSERT_EQ(diff->header.size(), 2U);
    EXPECT_EQ(diff->header[0].field, "game_version");
    EXPECT_EQ(std::get<std::uint32_t>(diff->header[0].a), 45U);
    EXPECT_EQ(std::get<std::uint32_t>(diff->header[0].b), 46U);
    EXPECT_EQ(diff->header[1].field, "version_string");
    EXPECT_EQ(std::get<Buffer>(diff->header[1].b)[3], 0xAB);
    EXPECT_TRUE(diff->preamble);
    ASSERT_EQ(diff->only_in_a.size(), 1U);
    EXPECT_EQ(diff->only_in_a[0].id, 0x02000001U);
    EXPECT_EQ(diff->only_in_a[0].size, 30U);
    ASSERT_EQ(diff->only_in_b.size(), 1U);
    EXPECT_EQ(diff->only_in_b[0].id, 0x0A000001U);
    // The short stream is the same in both: its stored bytes were compared, never decompressed.
    EXPECT_EQ(diff->same, 3U);

    // One row per changed file: contents, stored, bit_flags, timestamp, version, unreadable.
    struct Expected {
        std::uint32_t id;
        bool contents, stored, flags, timestamp, version, unreadable;
    };
    const Expected expected[] = {
        {0x06000001, true, true, false, false, false, false},
        {0x06000002, false, false, false, true, false, false},
        {0x06000003, false, false, false, false, true, false},
        {0x06000004, false, false, true, false, false, false},
        {0x06000005, false, true, false, false, false, false},
        {0x06000006, false, true, true, false, false, false},
        {0x33000002, false, false, false, false, false, true},
    };
    ASSERT_EQ(diff->changed.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const auto& got = diff->changed[i];
        const auto& want = expected[i];
        SCOPED_TRACE(got.id);
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(got.contents, want.contents);
        EXPECT_EQ(got.stored, want.stored);
        EXPECT_EQ(got.bit_flags_differ(), want.flags);
        EXPECT_EQ(got.timestamp_differs(), want.timestamp);
        EXPECT_EQ(got.version_differs(), want.version);
        EXPECT_EQ(got.unreadable(), want.unreadable);
    }
    EXPECT_EQ(diff->changed[0].content_size_a, 10U);
    EXPECT_EQ(diff->changed[0].content_size_b, 12U);
    EXPECT_EQ(diff->changed[4].content_size_b, 900U);
    EXPECT_FALSE(diff->changed[6].error_a);
    ASSERT_TRUE(diff->changed[6].error_b);
    EXPECT_EQ(diff->changed[6].error_b->kind(), DatError::Kind::Io);

    // Only the ids of one type; the header is still compared.
    const auto typed = compare_archives(a, b, {.type = 0x06});
    ASSERT_TRUE(typed);
    EXPECT_EQ(typed->changed.size(), 6U);
    EXPECT_TRUE(typed->only_in_a.empty());
    EXPECT_TRUE(typed->only_in_b.empty());
    EXPECT_EQ(typed->same, 0U);
    EXPECT_EQ(typed->header.size(), 2U);
}

// A damaged directory can make many entries share one chain; as the verifier does, reading stops
// once 4 times the archive's length was read, and the files past that count as unreadable.
TEST_F(ArchivePair, ReadsAreBoundedByFourTimesTheArchivesLength) {
    const auto make = [](ArchiveBuilder& builder) {
        const auto chain = builder.add_chain(text_bytes(8000, 1));
        for (std::uint32_t i = 0; i < 40; ++i) {
            builder.add_entry(ArchiveBuilder::entry_for(chain, 0x06000000 + i));
        }
    };
    const auto a = open(make, "a.dat");
    const auto b = open(make, "b.dat");
    const auto diff = compare_archives(a, b);
    ASSERT_TRUE(diff);
    const std::uint64_t within = 4 * a.archive_length() / 8000;
    EXPECT_EQ(diff->same, within);
    ASSERT_EQ(diff->changed.size(), 40 - within);
    EXPECT_TRUE(diff->changed.front().error_a);
    EXPECT_TRUE(diff->changed.front().error_b);
    EXPECT_EQ(diff->changed.front().id, 0x06000000 + within);
}

} // namespace
} // namespace quillmere::dat
