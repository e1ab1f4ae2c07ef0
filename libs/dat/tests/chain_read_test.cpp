// Chain reads against a plain block-by-block walk of the archive's bytes: whole runs of
// consecutive blocks are fetched in one read, so every way a chain can leave that run (a jump,
// a loop, an early last block, a link past the end, the end of the file inside a block) must
// still give the walk's bytes or its error, with system reads in proportion to the chain.
#include "detail/archive_file.hpp"
#include "detail/chain_reader.hpp"
#include "detail/database_access.hpp"
#include "quillmere/dat/dat_database.hpp"
#include "quillmere/testkit/archive_builder.hpp"
#include "quillmere/testkit/bytes.hpp"
#include "quillmere/testkit/temp_file.hpp"

#include <algorithm>
#include <cerrno>
#include <gtest/gtest.h>
#include <map>
#include <numeric>
#include <optional>
#include <random>
#include <sys/uio.h>
#include <thread>
#include <unistd.h>

namespace quillmere::dat {
namespace {

using Buffer = std::vector<std::uint8_t>;

constexpr std::size_t kDataStart = 400;

// A random number below `bound`.
std::uint32_t below(std::mt19937& random, std::uint64_t bound) {
    return static_cast<std::uint32_t>(random() % bound);
}

std::uint32_t load_u32(const Buffer& image, std::uint64_t at) {
    return static_cast<std::uint32_t>(image[at]) |
           (static_cast<std::uint32_t>(image[at + 1]) << 8) |
           (static_cast<std::uint32_t>(image[at + 2]) << 16) |
           (static_cast<std::uint32_t>(image[at + 3]) << 24);
}

// What the walk touched: the stretches read (adjacent ones joined), the block whose link word
// is 0 and the bytes it gave, the block where reading failed.
struct Walked {
    std::vector<detail::ByteRange> ranges;
    std::optional<std::uint64_t> end_block;
    std::uint64_t end_payload = 0;
    std::optional<std::uint64_t> failed_block;
};

// The walk as the format describes it: link word, then payload, block by block; nullopt where
// a read would run past the end of the image.
std::optional<Buffer> walk(const Buffer& image, std::uint32_t block_size, std::uint32_t offset,
                           std::uint32_t size, Walked* seen = nullptr) {
    Walked ignored;
    Walked& touched = seen != nullptr ? *seen : ignored;
    Buffer out;
    std::uint64_t block = offset;
    while (out.size() < size) {
        if (block + 4 > image.size()) {
            touched.failed_block = block;
            return std::nullopt;
        }
        const std::uint32_t next = load_u32(image, block);
        const std::size_t missing = size - out.size();
        const std::size_t length =
            next != 0 ? std::min<std::size_t>(missing, block_size - 4) : missing;
        if (block + 4 + length > image.size()) {
            touched.failed_block = block;
            return std::nullopt;
        }
        out.insert(out.end(), image.begin() + static_cast<std::ptrdiff_t>(block + 4),
                   image.begin() + static_cast<std::ptrdiff_t>(block + 4 + length));
        if (!touched.ranges.empty() && touched.ranges.back().end == block) {
            touched.ranges.back().end = block + 4 + length;
        } else {
            touched.ranges.push_back({block, block + 4 + length});
        }
        if (next == 0) {
            touched.end_block = block;
            touched.end_payload = length;
        }
        block = next;
    }
    return out;
}

// An archive with an empty directory and `blocks` blocks of random payload after the header.
// Links mostly go to the next block, as in a real archive; some jump elsewhere (backwards
// too, so chains loop), some end the chain, some point past the end of the file.
Buffer random_image(std::mt19937& random, std::uint32_t block_size, std::size_t blocks) {
    testkit::Bytes header;
    header.fill(324, 0xEE).u32(block_size).fill(352 - 328, 0).u32(0).fill(kDataStart - 356, 0);
    Buffer image = header.take();
    image.resize(kDataStart + blocks * block_size);
    for (std::size_t i = kDataStart; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>(random());
    }
    const auto block_at = [&](std::size_t index) {
        return static_cast<std::uint32_t>(kDataStart + index * block_size);
    };
    for (std::size_t b = 0; b < blocks; ++b) {
        const std::uint32_t kind = below(random, 20);
        std::uint32_t link = block_at(b + 1);
        if (kind == 0) {
            link = 0;
        } else if (kind == 1) {
            link = block_at(below(random, blocks));
        } else if (kind == 2) {
            link = static_cast<std::uint32_t>(image.size() + below(random, 3000));
        } else if (kind == 3) {
            link = block_at(b); // a block that links to itself
        } else if (kind == 4) {
            link = block_at(b) + 1 + below(random, block_size - 1); // not on a block boundary
        }
        if (b + 1 == blocks && kind > 4) {
            link = 0;
        }
        for (int i = 0; i < 4; ++i) {
            image[block_at(b) + static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(link >> (8 * i));
        }
    }
    return image;
}

void expect_same_as_walk(const Buffer& image, const DatDatabase& dat, std::uint32_t block_size,
                         std::uint32_t offset, std::uint32_t size) {
    const auto expected = walk(image, block_size, offset, size);
    const auto got = dat.read_file_data(offset, size);
    if (expected) {
        ASSERT_TRUE(got) << "offset " << offset << " size " << size << ": "
                         << got.error().message();
        ASSERT_EQ(*got, *expected) << "offset " << offset << " size " << size;
    } else {
        ASSERT_FALSE(got) << "offset " << offset << " size " << size;
        EXPECT_EQ(got.error().kind(), DatError::Kind::Io);
        EXPECT_EQ(got.error().message(), "IO error: failed to fill whole buffer");
    }
}

TEST(ChainReadTest, RandomChainsReadAsTheBlockByBlockWalk) {
    std::mt19937 random(20240611);
    for (const std::uint32_t block_size : {5U, 8U, 64U, 1024U}) {
        const std::size_t blocks = block_size < 64 ? 3000 : 700;
        const Buffer image = random_image(random, block_size, blocks);
        testkit::TempFile file(image, "chains");
        auto dat = DatDatabase::open(file.path());
        ASSERT_TRUE(dat) << dat.error().message();
        const std::uint32_t payload = block_size - 4;
        for (int trial = 0; trial < 300; ++trial) {
            const auto offset =
                static_cast<std::uint32_t>(kDataStart + (below(random, blocks)) * block_size);
            // Sizes around block boundaries, and runs longer than one read's 512 blocks.
            const std::uint32_t whole = 1 + below(random, block_size < 64 ? 700U : 600U);
            const std::uint32_t size = whole * payload + below(random, 3) - 1;
            expect_same_as_walk(image, *dat, block_size, offset, std::max(size, 1U));
        }
    }
}

// A traced read (the verifier's, run by run from the trace's window): the walk's bytes when the
// payload is wanted, and the same stretches, last block and failing block as the walk, however
// the runs were cut, whatever an earlier read left in the window and however far it read ahead
// (past the end of the file too), and whether it takes the link words from a map learned of the
// file (which knows nothing of blocks off its grid or links past the end).
TEST(ChainReadTest, TraceRecordsWhatTheWalkTouched) {
    std::mt19937 random(99);
    for (const std::uint32_t block_size : {5U, 64U, 1024U}) {
        const Buffer image = random_image(random, block_size, 700);
        testkit::TempFile file(image, "trace");
        auto archive = detail::ArchiveFile::open(file.path());
        ASSERT_TRUE(archive);
        auto links = detail::LinkMap::sized(image.size(), block_size, kDataStart);
        detail::StagingWindow window;
        for (std::size_t chunk = 0; links && chunk < links->chunks(); ++chunk) {
            links->learn_chunk(*archive, chunk, window);
        }
        ASSERT_EQ(links.has_value(), block_size >= detail::LinkMap::kMinBlockSize);
        detail::ChainReader reader;
        detail::ChainTrace trace;
        for (int trial = 0; trial < 200; ++trial) {
            reader.use_links(trial % 2 == 0 && links ? &*links : nullptr);
            const auto offset =
                static_cast<std::uint32_t>(kDataStart + below(random, 700) * block_size);
            const std::uint32_t size = 1 + below(random, 300) * (block_size - 4) + below(random, 3);
            Buffer out(size);
            Walked walked;
            const auto walked_bytes = walk(image, block_size, offset, size, &walked);
            const bool readable = walked_bytes.has_value();
            trace.clear();
            reader.want_payload(trial % 3 != 0);
            if (trial % 4 != 0) {
                reader.read_ahead_to(offset + below(random, 3 * image.size()));
            }
            ASSERT_EQ(reader.read(*archive, block_size, offset, out, &trace).has_value(), readable);
            if (readable && reader.payload_wanted()) {
                EXPECT_EQ(out, *walked_bytes) << offset << " " << size;
            }
            EXPECT_EQ(trace.failed_block(), walked.failed_block);
            if (readable) {
                EXPECT_EQ(trace.ranges(), walked.ranges) << offset << " " << size;
                EXPECT_EQ(trace.end_block(), walked.end_block);
                EXPECT_EQ(trace.end_block_payload(), walked.end_payload);
            }
        }
    }
}

// Reads that cover this offset (in the link word of the 6,000th block of 1,024 bytes) fail, as
// a bad sector would make them.
constexpr off_t kBadByte = kDataStart + 6000 * 1024 + 2;

ssize_t pread_with_bad_byte(int fd, void* buf, std::size_t count, off_t offset) {
    if (offset <= kBadByte && kBadByte < offset + static_cast<off_t>(count)) {
        errno = EIO;
        return -1;
    }
    return ::pread(fd, buf, count, offset);
}

// A map learned chunk by chunk, the chunks shared out between two threads, holds the link word
// of every block on its grid, as one pass would; a failed read leaves the rest of its chunk
// unlearned (those blocks are read from the file) and no other chunk. Every note is 0 after,
// whatever it held before.
TEST(ChainReadTest, LinkMapLearnedInChunksOnTwoThreadsHoldsEveryLinkWord) {
    constexpr std::uint32_t kBlockSize = 1024;
    constexpr std::size_t kBlocks = 10 * 1024; // ten MiB: three chunks
    std::mt19937 random(5);
    const Buffer image = random_image(random, kBlockSize, kBlocks);
    testkit::TempFile file(image, "chunks");
    for (const bool bad_byte : {false, true}) {
        auto archive =
            detail::ArchiveFile::open(file.path(), {bad_byte ? &pread_with_bad_byte : &::pread});
        ASSERT_TRUE(archive);
        auto map = detail::LinkMap::sized(image.size(), kBlockSize, kDataStart);
        ASSERT_TRUE(map);
        ASSERT_EQ(map->chunks(), 3U);
        for (std::uint64_t k = 0; k < map->size(); ++k) {
            map->note(k).store(0xA5A5A5A5);
        }
        const auto learn_every_other = [&](std::size_t from) {
            detail::StagingWindow window;
            for (std::size_t chunk = from; chunk < map->chunks(); chunk += 2) {
                map->learn_chunk(*archive, chunk, window);
            }
        };
        std::thread odd(learn_every_other, 1);
        learn_every_other(0);
        odd.join();
        // The window holding the bad byte, and the rest of its chunk (the second), stay unlearned.
        const std::uint64_t window_blocks = detail::StagingWindow::kCapacity / kBlockSize;
        const std::uint64_t bad_window = (kBadByte - kDataStart) / kBlockSize / window_blocks;
        const std::uint64_t chunk_blocks = detail::LinkMap::kChunkBytes / kBlockSize;
        for (std::uint64_t k = 0; k < kBlocks; ++k) {
            const std::uint64_t block = kDataStart + k * kBlockSize;
            const bool unlearned =
                bad_byte && k >= bad_window * window_blocks && k < 2 * chunk_blocks;
            EXPECT_EQ(map->link(block),
                      unlearned ? std::nullopt : std::optional(load_u32(image, block)))
                << k;
            EXPECT_EQ(map->note(k).load(), 0U) << k;
        }
        EXPECT_FALSE(map->link(kDataStart + 1));
        EXPECT_FALSE(map->link(kDataStart + kBlocks * kBlockSize));
    }
}

TEST(ChainReadTest, EndOfFileInsideARunFailsWhereTheWalkDoes) {
    constexpr std::uint32_t kBlockSize = 64;
    constexpr std::size_t kBlocks = 40;
    std::mt19937 random(7);
    Buffer image = random_image(random, kBlockSize, kBlocks);
    // One chain through every block, one after another, with a last block holding more than
    // its payload (it runs on into the following bytes).
    for (std::size_t b = 0; b < kBlocks; ++b) {
        const auto link =
            b + 1 < kBlocks ? static_cast<std::uint32_t>(kDataStart + (b + 1) * kBlockSize) : 0U;
        for (int i = 0; i < 4; ++i) {
            image[kDataStart + b * kBlockSize + static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(link >> (8 * i));
        }
    }
    const std::uint32_t size = (kBlocks - 1) * (kBlockSize - 4) + 2 * kBlockSize;
    // The file ends at every length from inside the first block to past the chain's end.
    for (std::size_t end = kDataStart + 1; end <= image.size(); end += 7) {
        const Buffer cut(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(end));
        testkit::TempFile file(cut, "cut");
        auto dat = DatDatabase::open(file.path());
        ASSERT_TRUE(dat) << dat.error().message();
        for (const std::uint32_t wanted : {size, size - kBlockSize, 100U, 3U}) {
            if (wanted <= cut.size()) {
                expect_same_as_walk(cut, *dat, kBlockSize, kDataStart, wanted);
            }
        }
    }
}

TEST(ChainReadTest, LinkOfTheCompletingBlockIsNotFollowed) {
    constexpr std::uint32_t kBlockSize = 32;
    std::mt19937 random(3);
    Buffer image = random_image(random, kBlockSize, 4);
    // Block 1 links past the end of the file, but the file is complete after it.
    const std::uint32_t past_end = static_cast<std::uint32_t>(image.size() + 100);
    for (std::size_t b = 0; b < 2; ++b) {
        const std::uint32_t link =
            b == 0 ? static_cast<std::uint32_t>(kDataStart + kBlockSize) : past_end;
        for (int i = 0; i < 4; ++i) {
            image[kDataStart + b * kBlockSize + static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(link >> (8 * i));
        }
    }
    testkit::TempFile file(image, "complete");
    auto dat = DatDatabase::open(file.path());
    ASSERT_TRUE(dat);
    expect_same_as_walk(image, *dat, kBlockSize, kDataStart, 2 * (kBlockSize - 4));
    const auto longer = dat->read_file_data(kDataStart, 2 * (kBlockSize - 4) + 1);
    ASSERT_FALSE(longer);
    EXPECT_EQ(longer.error().message(), "IO error: failed to fill whole buffer");
}

// System reads made through the counting stand-ins below, and the bytes they delivered.
struct ReadCount {
    std::size_t calls = 0;
    std::size_t bytes = 0;
};
ReadCount g_reads;

ssize_t counted(ssize_t got) {
    ++g_reads.calls;
    g_reads.bytes += got > 0 ? static_cast<std::size_t>(got) : 0;
    return got;
}
ssize_t counting_pread(int fd, void* buf, std::size_t count, off_t offset) {
    return counted(::pread(fd, buf, count, offset));
}

// Block by block, a consecutive chain is fetched in runs of up to a window (at least 512 blocks). A
// scattered one costs a first run that reads ahead over the whole chain, then a read of at most two
// blocks per block: a wrong guess shortens the next run to the blocks the last one delivered.
// Without that, every block would read ahead again and the work would grow with the square of the
// chain. A traced read keeps within the same bounds when allowed to read ahead over the chain's
// claimed length, and chains lying one after another, read in order, share its reads.
TEST(ChainReadTest, SystemReadsStayInProportionToTheChain) {
    constexpr std::uint32_t kBlockSize = 64;
    constexpr std::size_t kScattered = 200;
    constexpr std::size_t kFirstConsecutive = 7 * kScattered;
    constexpr std::size_t kBlocks = kFirstConsecutive + 1500;
    std::mt19937 random(11);
    Buffer image = random_image(random, kBlockSize, kBlocks);
    const auto block_at = [](std::size_t index) {
        return static_cast<std::uint32_t>(kDataStart + index * kBlockSize);
    };
    const auto link = [&](std::size_t from, std::uint32_t to) {
        for (std::size_t i = 0; i < 4; ++i) {
            image[block_at(from) + i] = static_cast<std::uint8_t>(to >> (8 * i));
        }
    };
    // Every block links to the next, so the last 1500 make a consecutive chain; the scattered
    // chain takes every seventh block before them, in an order that never steps to a block's
    // neighbour.
    for (std::size_t b = 0; b + 1 < kBlocks; ++b) {
        link(b, block_at(b + 1));
    }
    link(kBlocks - 1, 0);
    std::vector<std::size_t> scattered(kScattered);
    std::iota(scattered.begin(), scattered.end(), std::size_t{0});
    std::shuffle(scattered.begin(), scattered.end(), random);
    for (std::size_t& b : scattered) {
        b *= 7;
    }
    for (std::size_t i = 0; i + 1 < kScattered; ++i) {
        link(scattered[i], block_at(scattered[i + 1]));
    }
    link(scattered.back(), 0);

    testkit::TempFile file(image, "counted");
    auto dat = detail::DatabaseAccess::open(file.path(), {counting_pread});
    ASSERT_TRUE(dat) << dat.error().message();
    const std::size_t payload = kBlockSize - 4;

    struct Case {
        const char* what;
        std::uint32_t offset;
        std::size_t blocks;
        std::size_t max_calls;
        std::size_t max_bytes;
    };
    const Case cases[] = {
        {"consecutive", block_at(kFirstConsecutive), kBlocks - kFirstConsecutive,
         (kBlocks - kFirstConsecutive) / 512 + 1, (kBlocks - kFirstConsecutive) * kBlockSize},
        {"scattered", block_at(scattered[0]), kScattered, 2 * kScattered,
         3 * kScattered * kBlockSize},
    };
    auto archive = detail::ArchiveFile::open(file.path(), {counting_pread});
    ASSERT_TRUE(archive);
    for (const Case& chain : cases) {
        g_reads = {};
        const auto size = static_cast<std::uint32_t>(chain.blocks * payload);
        expect_same_as_walk(image, *dat, kBlockSize, chain.offset, size);
        EXPECT_LE(g_reads.calls, chain.max_calls) << chain.what;
        EXPECT_LE(g_reads.bytes, chain.max_bytes) << chain.what;

        g_reads = {};
        detail::ChainReader reader;
        reader.read_ahead_to(chain.offset + chain.blocks * kBlockSize);
        Buffer out(size);
        ASSERT_TRUE(reader.read(*archive, kBlockSize, chain.offset, out));
        EXPECT_EQ(out, walk(image, kBlockSize, chain.offset, size)) << chain.what;
        EXPECT_LE(g_reads.calls, chain.max_calls) << chain.what << " traced";
        EXPECT_LE(g_reads.bytes, chain.max_bytes) << chain.what << " traced";
    }

    // The consecutive blocks cut into chains of 10 blocks each, read one after another.
    g_reads = {};
    detail::ChainReader reader;
    for (std::size_t first = kFirstConsecutive; first + 10 <= kBlocks; first += 10) {
        reader.read_ahead_to(block_at(kBlocks));
        Buffer out(10 * payload);
        ASSERT_TRUE(reader.read(*archive, kBlockSize, block_at(first), out));
        ASSERT_EQ(out, walk(image, kBlockSize, block_at(first), 10 * payload));
    }
    EXPECT_EQ(g_reads.calls, 1U);
    EXPECT_EQ(g_reads.bytes, (kBlocks - kFirstConsecutive) * kBlockSize);
}

// A sequential reader gives every file of its list as get_file does, in any order, an unknown id
// and an index past the list included; files stored one after another, read in that order,
// share a few large reads.
TEST(ChainReadTest, SequentialReaderReadsAsGetFileAndFetchesRunsOfFiles) {
    for (const bool scattered : {false, true}) {
        testkit::ArchiveBuilder builder(256);
        if (scattered) {
            builder.shuffle_blocks(3);
        }
        std::mt19937 random(9);
        std::vector<std::uint32_t> ids;
        for (std::uint32_t i = 0; i < 300; ++i) {
            const std::uint32_t id = 0x03000000U + i;
            Buffer contents(below(random, 3000));
            std::generate(contents.begin(), contents.end(), [&] { return below(random, 4); });
            testkit::FileOptions options;
            options.compress = i % 4 == 0;
            builder.add_file(id, contents, options);
            ids.push_back(id);
        }
        testkit::TempFile file(builder.build(), "sequential");
        auto dat = detail::DatabaseAccess::open(file.path(), {counting_pread});
        ASSERT_TRUE(dat) << dat.error().message();

        std::vector<std::uint32_t> order = ids;
        order.insert(order.begin() + 150, 0x03FFFFFFU);
        order.insert(order.end(), ids.rbegin(), ids.rend());
        std::map<std::uint32_t, Buffer> expected;
        for (const std::uint32_t id : ids) {
            expected[id] = *dat->get_file(id);
        }
        SequentialReader reader(*dat, order);
        ASSERT_TRUE(std::ranges::equal(reader.ids(), order));
        Buffer got;
        g_reads = {};
        for (std::size_t i = 0; i < ids.size() + 1; ++i) {
            const auto read = reader.get_file(i, got);
            if (order[i] == 0x03FFFFFFU) {
                ASSERT_FALSE(read);
                EXPECT_EQ(read.error().kind(), DatError::Kind::NotFound);
                continue;
            }
            ASSERT_TRUE(read) << read.error().message();
            ASSERT_EQ(got, expected[order[i]]) << order[i];
        }
        if (!scattered) {
            EXPECT_LE(g_reads.calls, 20U) << "reads of 300 files stored one after another";
        }
        for (std::size_t i = ids.size() + 1; i < order.size(); ++i) {
            ASSERT_TRUE(reader.get_file(i, got)) << order[i];
            ASSERT_EQ(got, expected[order[i]]) << order[i];
        }
        EXPECT_EQ(reader.get_file(order.size(), got).error().kind(), DatError::Kind::Other);
    }
}

} // namespace
} // namespace quillmere::dat
