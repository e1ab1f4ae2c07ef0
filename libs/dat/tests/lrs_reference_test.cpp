// The decompressor against the algorithm written out byte at a time: its fast paths (whole
// literal groups, copies in fixed-size pieces) must give the same bytes on every stream,
// well-formed or not: short overlapping copies, copies reaching before the start, early ends.
#include "quillmere/dat/lrs.hpp"
#include "quillmere/testkit/lrs_compressor.hpp"
#include "quillmere/testkit/lrs_reference.hpp"
#include "quillmere/testkit/portal_files.hpp"

#include <gtest/gtest.h>
#include <random>

namespace quillmere::dat::utils {
namespace {

using Buffer = std::vector<std::uint8_t>;
using testkit::lrs_reference_decompress;

std::uint8_t byte(std::mt19937& random) {
    return static_cast<std::uint8_t>(random());
}

// A stream of `groups` groups whose back-references favour `distance_bits`-bit distances, so
// that short overlapping copies, long ones and ones reaching before the start all occur.
Buffer random_stream(std::mt19937& random, std::uint32_t output_size, std::size_t groups,
                     unsigned distance_bits) {
    Buffer stream = {
        static_cast<std::uint8_t>(output_size), static_cast<std::uint8_t>(output_size >> 8),
        static_cast<std::uint8_t>(output_size >> 16), static_cast<std::uint8_t>(output_size >> 24)};
    stream.push_back(0x00); // a first group of literals, so copies have bytes to copy
    for (int i = 0; i < 8; ++i) {
        stream.push_back(byte(random));
    }
    for (std::size_t g = 0; g < groups; ++g) {
        const std::uint8_t control = byte(random);
        stream.push_back(control);
        for (unsigned bit = 0x80; bit != 0; bit >>= 1) {
            if ((control & bit) == 0) {
                stream.push_back(byte(random));
                continue;
            }
            const std::uint32_t distance =
                1 + static_cast<std::uint32_t>(random() % ((1U << distance_bits) - 1));
            const std::uint32_t length_nibble = static_cast<std::uint32_t>(random() % 16);
            stream.push_back(static_cast<std::uint8_t>(distance));
            stream.push_back(static_cast<std::uint8_t>(((distance >> 4) & 0xF0U) | length_nibble));
        }
    }
    return stream;
}

TEST(LrsReferenceTest, RandomStreamsDecodeAsByteAtATime) {
    std::mt19937 random(1234);
    for (int trial = 0; trial < 400; ++trial) {
        const unsigned distance_bits = 2 + static_cast<unsigned>(trial % 11); // 2 to 12 bits
        const std::size_t groups = 1 + random() % 300;
        // Output sizes below, near and above what the stream describes.
        const auto output_size = static_cast<std::uint32_t>(random() % (groups * 90 + 20));
        Buffer stream = random_stream(random, output_size, groups, distance_bits);
        // Sometimes the stream stops short, inside a group or a back-reference.
        if (trial % 3 == 0) {
            stream.resize(4 + random() % (stream.size() - 3));
        }
        ASSERT_EQ(decompress_lrs(stream), lrs_reference_decompress(stream)) << "trial " << trial;
    }
}

TEST(LrsReferenceTest, EndMarkersAndEarlyCopiesStopAsByteAtATime) {
    std::mt19937 random(99);
    for (int trial = 0; trial < 200; ++trial) {
        Buffer stream = random_stream(random, 5000, 40, 6);
        // Put an end marker (distance 0) or a copy before any literal at a random token.
        const std::size_t at = 13 + random() % (stream.size() - 15);
        stream[at] = 0;
        stream[at + 1] = static_cast<std::uint8_t>(random() % 16);
        if (trial % 2 == 0) {
            stream[4] = 0xFF; // the very first token is a back-reference
        }
        ASSERT_EQ(decompress_lrs(stream), lrs_reference_decompress(stream)) << "trial " << trial;
    }
}

TEST(LrsReferenceTest, CompressedPortalFilesDecodeAsByteAtATime) {
    for (std::uint32_t seed = 1; seed <= 12; ++seed) {
        const auto file = testkit::build_animation(
            testkit::make_animation_spec(seed, seed % 5 + 1, seed * 3, seed % 3, seed % 2 == 0));
        const auto stored = testkit::lrs_compress(file);
        const auto decoded = decompress_lrs(stored);
        ASSERT_EQ(decoded, lrs_reference_decompress(stored)) << "seed " << seed;
        ASSERT_EQ(decoded, file) << "seed " << seed;
    }
}

} // namespace
} // namespace quillmere::dat::utils
