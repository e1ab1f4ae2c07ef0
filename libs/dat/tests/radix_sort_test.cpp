// The verifier's orderings: the radix sort it orders extents and files with gives the order of a
// stable comparison sort (short and long lists, narrow and 64-bit keys), the merge of sorted
// runs of extents gives the order of sorting them all, and block claims give the extents they
// stand for in order, or are spoiled.
#include "detail/archive_file.hpp"
#include "detail/radix_sort.hpp"
#include "quillmere/testkit/temp_file.hpp"
#include "verify/verify_state.hpp"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

namespace quillmere::dat {
namespace {

TEST(RadixSortTest, GivesTheOrderOfAStableSortByKey) {
    std::mt19937_64 random(3);
    for (const std::size_t size : {std::size_t{0}, std::size_t{10}, std::size_t{5000}}) {
        // 0 bits: every key the same; 22 bits: keys sharing their low 10 bits, as the offsets
        // of 1024-byte blocks do.
        for (const int key_bits : {0, 1, 12, 22, 40, 64}) {
            // (key, position before sorting): equal keys must keep their positions' order.
            std::vector<std::pair<std::uint64_t, std::size_t>> items;
            for (std::size_t i = 0; i < size; ++i) {
                std::uint64_t key = 1024;
                if (key_bits != 0) {
                    key = key_bits == 64 ? random() : random() >> (64 - key_bits);
                }
                if (key_bits == 22) {
                    key = key >> 10 << 10 | 5;
                }
                items.emplace_back(key, i);
            }
            auto expected = items;
            std::stable_sort(expected.begin(), expected.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
            detail::radix_sort(items, [](const auto& item) { return item.first; });
            EXPECT_EQ(items, expected) << size << " items, " << key_bits << "-bit keys";
        }
    }
}

TEST(SortedExtentsTest, MergesRunsIntoTheOrderOfSortingThemAll) {
    std::mt19937_64 random(5);
    // Starts that fit in 32 bits, and starts up to 63 GiB, beyond what a block offset reaches.
    for (const std::uint64_t stride : {std::uint64_t{1024}, std::uint64_t{1} << 30}) {
        std::vector<std::vector<detail::Extent>> runs(7);
        std::vector<detail::Extent> all;
        std::uint32_t owner = 0;
        for (std::size_t run = 0; run + 1 < runs.size(); ++run) { // the last run stays empty
            for (std::size_t i = 0; i < 300 * run; ++i) {
                // Few distinct starts, so that runs share them.
                const std::uint64_t start = random() % 64 * stride;
                runs[run].push_back(
                    {start, start + 1024, owner + static_cast<std::uint32_t>(i % 5), start + 1024});
            }
            owner += 5;
            all.insert(all.end(), runs[run].begin(), runs[run].end());
            if (run != 1) { // run 1 comes unsorted
                detail::sort_extents(runs[run]);
            }
        }
        std::stable_sort(all.begin(), all.end(), detail::extent_before);
        std::vector<std::pair<std::uint64_t, std::uint32_t>> merged;
        std::vector<std::pair<std::uint64_t, std::uint32_t>> expected;
        const detail::SortedExtents extents(std::move(runs));
        for (auto cursor = extents.cursor(); !cursor.done(); cursor.next()) {
            merged.emplace_back(cursor->start, cursor->owner);
        }
        for (const detail::Extent& extent : all) {
            expected.emplace_back(extent.start, extent.owner);
        }
        EXPECT_EQ(merged, expected) << "starts " << stride << " bytes apart";
    }
}

// Claims on a grid of 1024-byte blocks from offset 0 of a 16 KiB archive: each extent becomes an
// extent per block, to the block's end; what they cannot stand for spoils them, and a block
// claimed twice shows in the count.
TEST(BlockClaimsTest, GiveAnExtentPerBlockOrAreSpoiled) {
    constexpr std::uint32_t kBlock = 1024;
    constexpr std::uint64_t kLength = 16 * kBlock;
    const testkit::TempFile file(std::vector<std::uint8_t>(kLength), "claims");
    auto archive = detail::ArchiveFile::open(file.path());
    ASSERT_TRUE(archive);
    auto links = detail::LinkMap::sized(kLength, kBlock, 0);
    ASSERT_TRUE(links);
    const auto fresh = [&] {
        detail::StagingWindow window;
        links->learn_chunk(*archive, 0, window);
        return std::make_unique<detail::BlockClaims>(*links, kBlock, kLength);
    };
    const auto extent = [](std::uint64_t start, std::uint64_t end, std::uint32_t owner,
                           std::uint64_t reach) {
        return detail::Extent{start, end, owner, reach};
    };

    auto claims = fresh();
    EXPECT_EQ(claims->claim(extent(5 * kBlock, 5 * kBlock + 50, 0, 6 * kBlock)), 1U);
    EXPECT_EQ(claims->claim(extent(kBlock, 2 * kBlock + 100, 3, 3 * kBlock)), 2U);
    EXPECT_EQ(claims->claim(extent(15 * kBlock, 16 * kBlock, 7, kLength)), 1U);
    ASSERT_TRUE(claims->usable());
    EXPECT_EQ(claims->claimed(), 4U);
    EXPECT_EQ(claims->unread(1124 + 50 + 1024), kLength - 400 - 2198);
    std::vector<std::tuple<std::uint64_t, std::uint64_t, std::uint32_t, std::uint64_t>> seen;
    for (auto cursor = claims->cursor(); !cursor.done(); cursor.next()) {
        seen.emplace_back(cursor->start, cursor->end, cursor->owner, cursor->reach);
    }
    using Seen = decltype(seen)::value_type;
    EXPECT_EQ(seen, (decltype(seen){Seen{kBlock, 2 * kBlock, 3, 2 * kBlock},
                                    Seen{2 * kBlock, 3 * kBlock, 3, 3 * kBlock},
                                    Seen{5 * kBlock, 6 * kBlock, 0, 6 * kBlock},
                                    Seen{15 * kBlock, kLength, 7, kLength}}));

    // Claimed twice: fewer blocks hold claims than the claims gave.
    claims = fresh();
    EXPECT_EQ(claims->claim(extent(kBlock, 3 * kBlock, 1, 3 * kBlock)), 2U);
    EXPECT_EQ(claims->claim(extent(2 * kBlock, 2 * kBlock + 8, 2, 3 * kBlock)), 1U);
    EXPECT_EQ(claims->claimed(), 2U);

    for (const auto& [why, spoiler] : {
             std::pair{"off the grid", extent(kBlock + 4, kBlock + 100, 1, 2 * kBlock + 4)},
             std::pair{"in the header", extent(0, 100, 1, kBlock)},
             std::pair{"overlong last block", extent(kBlock, kBlock + 2004, 1, kBlock + 2004)},
             std::pair{"past the grid", extent(15 * kBlock, 17 * kBlock, 1, kLength)},
         }) {
        claims = fresh();
        EXPECT_EQ(claims->claim(spoiler), 0U) << why;
        EXPECT_FALSE(claims->usable()) << why;
    }
}

} // namespace
} // namespace quillmere::dat
