// Tests of the variant counters, the hook reader with its slice and the round-trip check.
#include "failure_of.hpp"
#include "quillmere/case_runner/checks.hpp"
#include "quillmere/testkit/bytes.hpp"
#include "round_trip.hpp"
#include "variant_stats.hpp"

#include <gtest/gtest.h>

namespace quillmere::parity {
namespace {

using testkit::Bytes;

TEST(VariantStatsTest, CountsPerTypeAndIgnoresUnknownTypes) {
    VariantStats stats;
    EXPECT_EQ(stats.total(), 0u);
    for (std::uint32_t type : {1u, 1u, 13u, 26u, 27u, 0xFFFFFFFFu}) {
        stats.record(AnimationHook{type, 0, {}});
    }
    EXPECT_EQ(stats.counts[1], 2u);
    EXPECT_EQ(stats.counts[13], 1u);
    EXPECT_EQ(stats.counts[26], 1u);
    EXPECT_EQ(stats.total(), 4u);
    EXPECT_EQ(stats.files, 0u);
}

TEST(VariantStatsTest, NamesFollowTheHookTable) {
    EXPECT_EQ(VARIANT_NAMES[0], "NoOp");
    EXPECT_EQ(VARIANT_NAMES[5], "ReplaceObject");
    EXPECT_EQ(VARIANT_NAMES[19], "CallPES");
    EXPECT_EQ(VARIANT_NAMES[26], "CreateBlockingParticle");
    std::size_t longest = 0;
    for (auto name : VARIANT_NAMES) {
        EXPECT_FALSE(name.empty());
        longest = std::max(longest, name.size());
    }
    EXPECT_EQ(longest, 22u);
}

TEST(RoundTripTest, ReadsBackToBackHooksWithTheirExactSlices) {
    const auto bytes = Bytes()
                           .u32(5)
                           .i32(1)
                           .raw({3, 0x34, 0x12, 0xFF}) // ReplaceObject, 12 bytes
                           .u32(1)
                           .i32(-1)
                           .u32(42) // Sound, 12 bytes
                           .take();
    auto first = read_one_with_slice(bytes, 0);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->hook.hook_type, 5u);
    EXPECT_EQ(first->slice.data(), bytes.data());
    EXPECT_EQ(first->slice.size(), 12u);

    auto second = read_one_with_slice(bytes, first->slice.size());
    ASSERT_TRUE(second);
    EXPECT_EQ(second->hook.hook_type, 1u);
    EXPECT_EQ(second->slice.data(), bytes.data() + 12);
    EXPECT_EQ(second->slice.size(), 12u);
}

TEST(RoundTripTest, DecoderErrorsAreReturnedAndAStartPastTheEndFailsTheCase) {
    const auto bytes = Bytes().u32(27).i32(0).take();
    auto bad = read_one_with_slice(bytes, 0);
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error().message(), "Unsupported AnimationHook type: 0x0000001B at 0x8");

    auto at_end = read_one_with_slice(bytes, bytes.size());
    ASSERT_FALSE(at_end);
    EXPECT_EQ(at_end.error().message(), "failed to fill whole buffer");

    EXPECT_NE(failure_of([&] { (void)read_one_with_slice(bytes, bytes.size() + 1); }), "");
}

TEST(RoundTripTest, MatchingBytesPass) {
    const auto bytes = Bytes().u32(1).i32(0).u32(7).take();
    const AnimationHook hook{1, 0, {7, 0, 0, 0}};
    EXPECT_EQ(failure_of([&] { assert_round_trip(0x03000001, 0, hook, bytes); }), "");
}

TEST(RoundTripTest, MismatchNamesFileHookAndBothByteSequences) {
    const AnimationHook hook{1, 0, {1, 2, 3, 4}};
    const auto stored = Bytes().u32(1).i32(0).raw({1, 2, 3, 5}).take();
    EXPECT_EQ(failure_of([&] { assert_round_trip(0x03000001, 7, hook, stored); }),
              "assertion `left == right` failed: byte-mismatch on file 0x03000001 hook #7 "
              "(type=1 dir=0 payload_len=4)\n"
              "  left: [1, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4]\n"
              " right: [1, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 5]");

    const AnimationHook negative{4, -1, {}};
    const auto longer = Bytes().u32(4).i32(-1).u32(0).take();
    const auto message = failure_of([&] { assert_round_trip(0x0300ABCD, 0, negative, longer); });
    EXPECT_TRUE(message.starts_with("assertion `left == right` failed: byte-mismatch on file "
                                    "0x0300ABCD hook #0 (type=4 dir=-1 payload_len=0)\n"))
        << message;
}

} // namespace
} // namespace quillmere::parity
