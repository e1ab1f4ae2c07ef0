// The verifier's orderings: the radix sort it orders extents and files with gives the order of a
// stable comparison sort (short and long lists, narrow and 64-bit keys), and the merge of sorted
// runs of extents gives the order of sorting them all.
#include "detail/radix_sort.hpp"
#include "verify/verify_state.hpp"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
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

} // namespace
} // namespace quillmere::dat
