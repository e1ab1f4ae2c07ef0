// A stable sort of records by an unsigned key, least significant digit first: linear time for
// long lists whose keys spread over a wide range (offsets into an archive), where a comparison
// sort would spend most of its time on unpredictable branches.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <vector>

namespace quillmere::dat::detail {

/// Sorts `items` by `key(item)` (an unsigned integer), keeping the order of equal keys.
template <class T, class Key>
void radix_sort(std::vector<T>& items, const Key& key) {
    static_assert(std::is_trivially_copy_constructible_v<T> && std::is_trivially_destructible_v<T>,
                  "records are copied into raw storage and never destroyed");
    // Below this, one comparison sort costs less than the passes' tables.
    constexpr std::size_t kRadixFrom = 1024;
    const auto by_key = [&key](const T& a, const T& b) { return key(a) < key(b); };
    if (items.size() < kRadixFrom) {
        std::stable_sort(items.begin(), items.end(), by_key);
        return;
    }
    // Only the bits in which some keys differ need sorting on: block offsets share their low
    // bits (ten of them for blocks of 1024 bytes), a pass saved in three.
    const std::uint64_t first_key = key(items.front());
    std::uint64_t differing = 0;
    for (const T& item : items) {
        differing |= std::uint64_t{key(item)} ^ first_key;
    }
    if (differing == 0) {
        return; // one key: already in order
    }
    const int low = std::countr_zero(differing);
    const int bits = static_cast<int>(std::bit_width(differing)) - low;
    // As few passes as digits of at most kMaxDigitBits bits allow, the bits shared evenly.
    constexpr int kMaxDigitBits = 11;
    const int passes = (bits + kMaxDigitBits - 1) / kMaxDigitBits;
    const int digit_bits = (bits + passes - 1) / passes;
    const std::uint64_t mask = (std::uint64_t{1} << digit_bits) - 1;

    // The spare buffer is only ever written before it is read: left uninitialised.
    struct Spare {
        std::allocator<T> allocator;
        std::size_t count;
        T* data;
        explicit Spare(std::size_t size) : count(size), data(allocator.allocate(size)) {}
        Spare(const Spare&) = delete;
        Spare& operator=(const Spare&) = delete;
        ~Spare() { allocator.deallocate(data, count); }
    };
    const std::size_t count = items.size();
    const Spare spare(count);
    T* from = items.data();
    T* to = spare.data;
    for (int shift = low; shift < low + bits; shift += digit_bits) {
        std::array<std::size_t, (std::size_t{1} << kMaxDigitBits) + 1> bounds{};
        for (std::size_t i = 0; i < count; ++i) {
            ++bounds[((std::uint64_t{key(from[i])} >> shift) & mask) + 1];
        }
        for (std::size_t d = 1; d <= mask + 1; ++d) {
            bounds[d] += bounds[d - 1];
        }
        for (std::size_t i = 0; i < count; ++i) {
            std::construct_at(to + bounds[(std::uint64_t{key(from[i])} >> shift) & mask]++,
                              from[i]);
        }
        std::swap(from, to);
    }
    if (from != items.data()) {
        std::copy(from, from + count, items.data());
    }
}

} // namespace quillmere::dat::detail
