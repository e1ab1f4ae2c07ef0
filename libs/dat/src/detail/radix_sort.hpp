// A stable sort of records by an unsigned key, least significant digit first: linear time for
// long lists whose keys spread over a wide range (offsets into an archive), where a comparison
// sort would spend most of its time on unpredictable branches.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillmere::dat::detail {

/// Sorts `items` by `key(item)` (an unsigned integer), keeping the order of equal keys.
template <class T, class Key>
void radix_sort(std::vector<T>& items, const Key& key) {
    // Below this, one comparison sort costs less than the passes' tables.
    constexpr std::size_t kRadixFrom = 1024;
    const auto by_key = [&key](const T& a, const T& b) { return key(a) < key(b); };
    if (items.size() < kRadixFrom) {
        std::stable_sort(items.begin(), items.end(), by_key);
        return;
    }
    constexpr int kDigitBits = 11;
    constexpr std::size_t kDigits = std::size_t{1} << kDigitBits;
    std::uint64_t largest = 0;
    for (const T& item : items) {
        largest = std::max<std::uint64_t>(largest, key(item));
    }
    const int bits = static_cast<int>(std::bit_width(largest));
    std::vector<T> spare(items.size());
    for (int shift = 0; shift < bits; shift += kDigitBits) {
        std::array<std::size_t, kDigits + 1> bounds{};
        for (const T& item : items) {
            ++bounds[((std::uint64_t{key(item)} >> shift) & (kDigits - 1)) + 1];
        }
        for (std::size_t d = 1; d <= kDigits; ++d) {
            bounds[d] += bounds[d - 1];
        }
        for (const T& item : items) {
            spare[bounds[(std::uint64_t{key(item)} >> shift) & (kDigits - 1)]++] = item;
        }
        items.swap(spare);
    }
}

} // namespace quillmere::dat::detail
