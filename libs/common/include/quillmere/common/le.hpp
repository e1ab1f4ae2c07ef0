// Little-endian loads and stores on raw byte pointers, whatever the host's byte order.
#pragma once

#include <bit>
#include <concepts>
#include <cstdint>
#include <cstring>

namespace quillmere::common {

/// Reads a little-endian integer or float of type T from `p` (which holds sizeof(T) bytes).
/// Floats come from the integer's bits, so NaN payloads and negative zero are kept.
template <class T>
[[nodiscard]] inline T load_le(const std::uint8_t* p) noexcept {
    if constexpr (std::floating_point<T>) {
        using Bits = std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>;
        return std::bit_cast<T>(load_le<Bits>(p));
    } else {
        T value;
        std::memcpy(&value, p, sizeof(T));
        if constexpr (std::endian::native == std::endian::big && sizeof(T) > 1) {
            value = std::byteswap(value);
        }
        return value;
    }
}

/// Writes `value` little-endian to `p` (which has room for sizeof(T) bytes).
template <class T>
inline void store_le(std::uint8_t* p, T value) noexcept {
    if constexpr (std::floating_point<T>) {
        using Bits = std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>;
        store_le(p, std::bit_cast<Bits>(value));
    } else {
        if constexpr (std::endian::native == std::endian::big && sizeof(T) > 1) {
            value = std::byteswap(value);
        }
        std::memcpy(p, &value, sizeof(T));
    }
}

} // namespace quillmere::common
