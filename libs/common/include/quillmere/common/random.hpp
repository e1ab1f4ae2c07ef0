// The project's one seeded generator: the same sequence on every platform.
#pragma once

#include <cstdint>

namespace quillmere::common {

/// splitmix64: a small, well-mixed 64-bit generator. Its sequence depends on the seed alone, so
/// shuffles, generated archives and test data come out the same on every machine.
class SplitMix64 {
  public:
    constexpr explicit SplitMix64(std::uint64_t seed) noexcept : state_(seed) {}

    /// The next value of the sequence.
    [[nodiscard]] constexpr std::uint64_t next() noexcept {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }

    /// A value below `bound` (which must not be 0), by remainder: the slight bias toward small
    /// values does not matter for shuffles and test data.
    [[nodiscard]] constexpr std::uint64_t below(std::uint64_t bound) noexcept {
        return next() % bound;
    }

  private:
    std::uint64_t state_;
};

/// A well-mixed value derived from `x` alone: the first value of the sequence seeded with `x`.
[[nodiscard]] constexpr std::uint64_t mix64(std::uint64_t x) noexcept {
    return SplitMix64(x).next();
}

} // namespace quillmere::common
