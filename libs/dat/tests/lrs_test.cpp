// Tests of decompression: the format's stop rules, overlapping and clamped copies, agreement with
// a byte-at-a-time decoder, and round trips through the test kit's compressor.
#include "quillmere/dat/lrs.hpp"
#include "quillmere/testkit/bytes.hpp"
#include "quillmere/testkit/lrs_compressor.hpp"
#include "quillmere/testkit/lrs_reference.hpp"

#include <gtest/gtest.h>
#include <random>
#include <string>

namespace quillmere::dat::utils {
namespace {

using testkit::Bytes;
using testkit::lrs_reference_decompress;
using Buffer = std::vector<std::uint8_t>;

Buffer decompress(const Bytes& bytes) {
    return decompress_lrs(bytes.bytes());
}

TEST(LrsTest, WorkedExampleRepeatsTwoBytes) {
    const auto in = Bytes().u32(6).raw({0x20, 0x41, 0x42, 0x02, 0x02});
    EXPECT_EQ(decompress(in), (Buffer{0x41, 0x42, 0x41, 0x42, 0x41, 0x42}));
}

TEST(LrsTest, InputsShorterThanFourBytesAreReturnedUnchanged) {
    const Buffer all{0xFF, 0x00, 0x80};
    for (std::size_t n = 0; n <= 3; ++n) {
        const Buffer in(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_EQ(decompress_lrs(in), in) << n;
    }
    EXPECT_EQ(decompress(Bytes().u32(0xFFFFFFFF)), Buffer{}) << "exactly four bytes: empty";
}

TEST(LrsTest, DecompressingIntoAKeptBufferReplacesWhatItHeld) {
    const auto stream = Bytes().u32(6).raw({0x20, 0x41, 0x42, 0x02, 0x02}).take();
    const Buffer inputs[] = {stream, Buffer{0xFF, 0x00},
                             Buffer(stream.begin(), stream.begin() + 4)};
    for (const Buffer& input : inputs) {
        for (std::size_t held : {0U, 3U, 64U}) {
            Buffer out(held, 0xEE);
            decompress_lrs_into(input, out);
            EXPECT_EQ(out, decompress_lrs(input)) << held;
        }
    }
}

TEST(LrsTest, OutputSizeZeroReadsNoToken) {
    EXPECT_EQ(decompress(Bytes().u32(0).raw({0x00, 1, 2, 3})), Buffer{});
}

TEST(LrsTest, NinthTokenNeedsANewControlByte) {
    const auto eight = Bytes().raw({0x00, 1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(decompress(Bytes().u32(9).raw(eight).raw({0x00, 9})),
              (Buffer{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    // Without one, byte 9 is taken as the control byte and the stream ends after it.
    EXPECT_EQ(decompress(Bytes().u32(9).raw(eight).raw({9})), (Buffer{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(LrsTest, ControlBitsAreReadMostSignificantFirst) {
    // 0x7F: a literal, then seven back-references of distance 1 and length 2.
    auto in = Bytes().u32(100).raw({0x7F, 0xAA});
    for (int k = 0; k < 7; ++k) {
        in.raw({0x01, 0x00});
    }
    EXPECT_EQ(decompress(in), Buffer(15, 0xAA));

    // 0x80 after a group of literals: a back-reference, then seven literals.
    const auto second = Bytes()
                            .u32(100)
                            .raw({0x00, 1, 2, 3, 4, 5, 6, 7, 8})
                            .raw({0x80, 0x08, 0x01, 9, 10, 11, 12, 13, 14, 15});
    EXPECT_EQ(decompress(second),
              (Buffer{1, 2, 3, 4, 5, 6, 7, 8, 1, 2, 3, 9, 10, 11, 12, 13, 14, 15}));
}

TEST(LrsTest, OverlappingCopyRepeatsTheBytesItProduces) {
    EXPECT_EQ(decompress(Bytes().u32(7).raw({0x20, 0x61, 0x62, 0x01, 0x03})),
              (Buffer{0x61, 0x62, 0x62, 0x62, 0x62, 0x62, 0x62}));
    EXPECT_EQ(decompress(Bytes().u32(12).raw({0x10, 0x61, 0x62, 0x63, 0x03, 0x07})),
              (Buffer{0x61, 0x62, 0x63, 0x61, 0x62, 0x63, 0x61, 0x62, 0x63, 0x61, 0x62, 0x63}));
}

TEST(LrsTest, DistanceBeforeTheStartCopiesTheFirstByte) {
    EXPECT_EQ(decompress(Bytes().u32(7).raw({0x20, 0x61, 0x62, 0x05, 0x03})),
              (Buffer{0x61, 0x62, 0x61, 0x61, 0x61, 0x61, 0x62}));
}

TEST(LrsTest, DistanceZeroEndsTheStreamWhateverTheLength) {
    for (const std::uint8_t length_nibble :
         {std::uint8_t{0x00}, std::uint8_t{0x05}, std::uint8_t{0x0F}}) {
        EXPECT_EQ(decompress(Bytes().u32(50).raw({0x40, 0x61, 0x00, length_nibble, 0x62})),
                  (Buffer{0x61}));
    }
    // 0x00 0x10 is distance 256, not the end marker: clamped to the first byte.
    EXPECT_EQ(decompress(Bytes().u32(3).raw({0x40, 0x61, 0x00, 0x10})), (Buffer{0x61, 0x61, 0x61}));
}

TEST(LrsTest, LargestReferenceCopiesSeventeenBytesFrom4095Back) {
    Bytes in;
    in.u32(4096 + 17);
    Buffer expected;
    for (std::size_t k = 0; k < 4095; ++k) {
        if (k % 8 == 0) {
            in.u8(0x00);
        }
        const auto byte = static_cast<std::uint8_t>(k * 7 + k / 256);
        in.u8(byte);
        expected.push_back(byte);
    }
    // The 4096th literal completes the last group; the reference opens a new one.
    in.u8(0xEE).raw({0x80, 0xFF, 0xFF});
    expected.push_back(0xEE);
    for (std::size_t k = 0; k < 17; ++k) {
        expected.push_back(expected[expected.size() - 4095]);
    }
    EXPECT_EQ(decompress(in), expected);
}

TEST(LrsTest, OutputSizeCutsTheOutputAlsoInsideABackReference) {
    const Buffer full{0x41, 0x42, 0x41, 0x42, 0x41, 0x42};
    for (std::uint32_t size = 0; size <= 8; ++size) {
        const auto in = Bytes().u32(size).raw({0x20, 0x41, 0x42, 0x02, 0x02});
        const auto expected_length = std::min<std::ptrdiff_t>(size, 6);
        EXPECT_EQ(decompress(in), Buffer(full.begin(), full.begin() + expected_length)) << size;
    }
}

TEST(LrsTest, StreamThatRunsOutStopsWithWhatItHas) {
    EXPECT_EQ(decompress(Bytes().u32(10).raw({0x00, 1, 2})), (Buffer{1, 2}));
    EXPECT_EQ(decompress(Bytes().u32(10).raw({0x00, 1, 2, 3, 4, 5, 6, 7, 8, 0xFF})),
              (Buffer{1, 2, 3, 4, 5, 6, 7, 8}))
        << "ends with a control byte";
    EXPECT_EQ(decompress(Bytes().u32(10).raw({0x40, 1, 0x01})), (Buffer{1}))
        << "one byte left for a back-reference";
}

TEST(LrsTest, BackReferenceBeforeAnyOutputStops) {
    EXPECT_EQ(decompress(Bytes().u32(10).raw({0x80, 0x01, 0x00, 0x61})), Buffer{});
}

TEST(LrsTest, HugeDeclaredSizeReservesNoMoreThanTheStreamCanFill) {
    const auto in = Bytes().u32(0xFFFFFFFF).raw({0x20, 0x41, 0x42, 0x02, 0x0F});
    const Buffer out = decompress(in);
    EXPECT_EQ(out, lrs_reference_decompress(in.bytes()));
    EXPECT_EQ(out.size(), 19U);
    EXPECT_LE(out.capacity(), 17U * ((in.size() - 4) / 2));
}

TEST(LrsTest, AgreesWithByteAtATimeDecodingOnArbitraryStreams) {
    std::mt19937 random(1234);
    for (int round = 0; round < 3000; ++round) {
        const std::size_t length = random() % 200;
        Buffer in(length);
        // Mostly small distances so copies overlap and clamp often.
        for (auto& byte : in) {
            byte = static_cast<std::uint8_t>(random() % 4 == 0 ? random() : random() % 24);
        }
        if (in.size() >= 4) {
            in[2] = 0;
            in[3] = 0;
            if (round % 3 == 0) {
                in[1] = 0;
            }
        }
        ASSERT_EQ(decompress_lrs(in), lrs_reference_decompress(in)) << "round " << round;
    }
}

Buffer sample(std::mt19937& random, std::size_t length, int kind) {
    Buffer out(length);
    const std::string words[] = {"hook ", "frame ", "part ", "sound ", "0x0300", "\n"};
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        switch (kind) {
        case 0: // incompressible
            out[i] = static_cast<std::uint8_t>(random());
            break;
        case 1: // long runs
            out[i] = static_cast<std::uint8_t>(i / 300);
            break;
        case 2: // short periodic patterns with noise
            out[i] = static_cast<std::uint8_t>(random() % 16 == 0 ? random() : i % 7);
            break;
        default: // word-like text
            if (text.size() <= i) {
                text += words[random() % std::size(words)];
            }
            out[i] = static_cast<std::uint8_t>(text[i]);
            break;
        }
    }
    return out;
}

TEST(LrsTest, CompressedSamplesOfManySizesDecompressToThemselves) {
    std::mt19937 random(99);
    std::size_t sizes[] = {0, 1, 2, 3, 4, 16, 17, 18, 100, 4095, 4096, 4097, 9000, 70000};
    for (const std::size_t size : sizes) {
        for (int kind = 0; kind < 4; ++kind) {
            const Buffer original = sample(random, size, kind);
            const Buffer packed = testkit::lrs_compress(original);
            ASSERT_EQ(decompress_lrs(packed), original) << size << " kind " << kind;
            ASSERT_EQ(lrs_reference_decompress(packed), original) << size << " kind " << kind;
            if (kind != 0 && size >= 4096) {
                EXPECT_LT(packed.size(), original.size() / 2) << "a real match search";
            }
        }
    }
    for (int round = 0; round < 200; ++round) {
        const Buffer original = sample(random, random() % 3000, round % 4);
        ASSERT_EQ(decompress_lrs(testkit::lrs_compress(original)), original) << round;
    }
}

TEST(LrsTest, EndMarkerStopsBeforeTheDeclaredSize) {
    const Buffer original{1, 2, 3, 1, 2, 3, 1, 2, 3, 9};
    Buffer packed = testkit::lrs_compress(original, {.max_chain = 32, .end_marker = true});
    packed[0] = 200; // claims more than the stream holds
    EXPECT_EQ(decompress_lrs(packed), original);
}

} // namespace
} // namespace quillmere::dat::utils
