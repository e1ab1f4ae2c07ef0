// Tests of the compressor: every input comes back exactly through the decompressor, within the
// all-literal bound, and repeats within reach are found, also at the window's edge.
#include "quillmere/common/le.hpp"
#include "quillmere/common/random.hpp"
#include "quillmere/dat/lrs.hpp"

#include <functional>
#include <gtest/gtest.h>
#include <string>

namespace quillmere::dat::utils {
namespace {

using Buffer = std::vector<std::uint8_t>;

Buffer random_bytes(std::size_t length, std::uint64_t seed) {
    common::SplitMix64 random(seed);
    Buffer out(length);
    for (auto& byte : out) {
        byte = static_cast<std::uint8_t>(random.next());
    }
    return out;
}

// The properties every compressed stream has; `what` names the input in failure messages.
void expect_round_trip(const Buffer& input, const std::string& what) {
    const Buffer stored = compress_lrs(input);
    const std::size_t n = input.size();
    ASSERT_GE(stored.size(), 4U) << what;
    EXPECT_EQ(common::load_le<std::uint32_t>(stored.data()), n) << what;
    EXPECT_LE(stored.size(), 4 + n + (n + 7) / 8) << what;
    if (n > 0) {
        EXPECT_EQ(stored[4] & 0x80, 0) << what << ": the first token must be a literal";
    }
    EXPECT_EQ(decompress_lrs(stored), input) << what;
}

struct Shape {
    const char* name;
    std::function<Buffer(std::size_t, std::uint64_t)> make;
};

const std::vector<Shape>& shapes() {
    static const std::vector<Shape> all = {
        {"random", random_bytes},
        {"zeros", [](std::size_t n, std::uint64_t) { return Buffer(n, 0); }},
        {"two-values",
         [](std::size_t n, std::uint64_t seed) {
             Buffer out = random_bytes(n, seed);
             for (auto& byte : out) {
                 byte &= 1;
             }
             return out;
         }},
        {"text",
         [](std::size_t n, std::uint64_t seed) {
             const std::string words[] = {"frame ", "hook ", "sound ", "part ", "0x0300 "};
             common::SplitMix64 random(seed);
             Buffer out;
             while (out.size() < n) {
                 const std::string& word = words[random.below(5)];
                 out.insert(out.end(), word.begin(), word.end());
             }
             out.resize(n);
             return out;
         }},
        // Periods around the longest match and around the window make references overlap
        // their own output and reach the far end of the window.
        {"periodic",
         [](std::size_t n, std::uint64_t seed) {
             const std::size_t periods[] = {1, 2, 3, 16, 17, 18, 4094, 4095, 4096};
             const std::size_t period = periods[seed % std::size(periods)];
             const Buffer unit = random_bytes(period, seed);
             Buffer out(n);
             for (std::size_t i = 0; i < n; ++i) {
                 out[i] = unit[i % period];
             }
             return out;
         }},
        {"runs",
         [](std::size_t n, std::uint64_t seed) {
             common::SplitMix64 random(seed);
             Buffer out;
             while (out.size() < n) {
                 out.insert(out.end(), 1 + random.below(40),
                            static_cast<std::uint8_t>(random.below(3)));
             }
             out.resize(n);
             return out;
         }},
    };
    return all;
}

TEST(LrsCompressTest, EveryLengthUpTo300RoundTripsInEveryShape) {
    for (const Shape& shape : shapes()) {
        for (std::size_t n = 0; n <= 300; ++n) {
            expect_round_trip(shape.make(n, n),
                              std::string(shape.name) + " of " + std::to_string(n) + " bytes");
        }
    }
}

TEST(LrsCompressTest, LargeInputsRoundTripInEveryShape) {
    for (const Shape& shape : shapes()) {
        for (const std::size_t n : {4095U, 4096U, 4097U, 70'000U, 300'001U}) {
            for (std::uint64_t seed = 0; seed < 9; ++seed) {
                expect_round_trip(shape.make(n, seed), std::string(shape.name) + " of " +
                                                           std::to_string(n) + " bytes, seed " +
                                                           std::to_string(seed));
            }
        }
    }
}

// A 40-byte chunk repeated `distance` bytes after its first copy, with random bytes between:
// within 4095 bytes the repeat shrinks the stream, beyond it nothing can reach it.
TEST(LrsCompressTest, RepeatsAreFoundUpToTheWindowsEdge) {
    for (const std::size_t distance : {40U, 1000U, 4093U, 4094U, 4095U, 4096U, 4097U, 5000U}) {
        const Buffer chunk = random_bytes(40, 7);
        Buffer repeated = chunk;
        const Buffer filler = random_bytes(distance - chunk.size(), distance);
        repeated.insert(repeated.end(), filler.begin(), filler.end());
        Buffer fresh = repeated;
        repeated.insert(repeated.end(), chunk.begin(), chunk.end());
        const Buffer other = random_bytes(40, 8);
        fresh.insert(fresh.end(), other.begin(), other.end());

        const std::string what = "repeat at distance " + std::to_string(distance);
        expect_round_trip(repeated, what);
        const std::size_t with_repeat = compress_lrs(repeated).size();
        const std::size_t without = compress_lrs(fresh).size();
        if (distance <= 4095) {
            // Three references of at most 17 bytes replace 40 literals.
            EXPECT_LE(with_repeat + 30, without) << what;
        } else {
            EXPECT_GE(with_repeat + 2, without) << what;
        }
    }
}

// Long runs take overlapping references of the longest length: 17 bytes for two token bytes and
// one control bit.
TEST(LrsCompressTest, LongRunsUseTheLongestReferences) {
    for (const std::size_t n : {1000U, 100'000U}) {
        const Buffer run(n, 0x5A);
        const std::size_t references = (n - 1 + 16) / 17;
        const std::size_t tokens = 1 + references;
        EXPECT_EQ(compress_lrs(run).size(), 4 + 1 + 2 * references + (tokens + 7) / 8) << n;
    }
}

} // namespace
} // namespace quillmere::dat::utils
