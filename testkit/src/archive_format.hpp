// The archive format's fixed sizes and offsets as the archive builder writes them, restated here
// rather than taken from the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace quillmere::testkit::archive_format {

inline constexpr std::uint64_t kHeaderAt = 320;
inline constexpr std::uint64_t kHeaderEnd = 400;
/// The link word that opens every block.
inline constexpr std::size_t kLink = 4;
inline constexpr std::size_t kBranches = 62;
inline constexpr std::size_t kNodeEntries = 61;
inline constexpr std::size_t kEntryBytes = 24;
inline constexpr std::size_t kNodeBytes = kBranches * 4 + 4 + kNodeEntries * kEntryBytes; // 1716
inline constexpr std::uint64_t kMaxOffset = std::numeric_limits<std::uint32_t>::max();

inline void put_u32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

inline std::uint64_t ceil_div(std::uint64_t a, std::uint64_t b) {
    return (a + b - 1) / b;
}

} // namespace quillmere::testkit::archive_format
