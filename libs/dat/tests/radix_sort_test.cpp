// The radix sort the verifier orders extents and files with: the order of a stable comparison
// sort, for short and long lists, narrow and 64-bit keys.
#include "detail/radix_sort.hpp"

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
        for (const int key_bits : {1, 12, 40, 64}) {
            // (key, position before sorting): equal keys must keep their positions' order.
            std::vector<std::pair<std::uint64_t, std::size_t>> items;
            for (std::size_t i = 0; i < size; ++i) {
                const std::uint64_t key = key_bits == 64 ? random() : random() >> (64 - key_bits);
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

} // namespace
} // namespace quillmere::dat
