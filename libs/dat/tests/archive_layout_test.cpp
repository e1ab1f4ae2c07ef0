// Tests of the offset arithmetic of block chains and directory nodes.
#include "detail/archive_layout.hpp"

#include <gtest/gtest.h>

namespace quillmere::dat::layout {
namespace {

TEST(ArchiveLayoutTest, BlockOfFourBytesOrLessHasNoPayload) {
    for (std::uint32_t block_size : {0U, 1U, 3U, 4U}) {
        EXPECT_FALSE(block_payload_size(block_size)) << block_size;
    }
    EXPECT_EQ(block_payload_size(5), 1U);
    EXPECT_EQ(block_payload_size(1024), 1020U);
    EXPECT_EQ(block_payload_size(0xFFFFFFFF), 0xFFFFFFFBU);
}

TEST(ArchiveLayoutTest, PayloadPositionOfABlockNearFourGibDoesNotWrap) {
    EXPECT_EQ(payload_position(1024), 1028U);
    EXPECT_EQ(payload_position(0xFFFFFFFC), 0x100000000ULL);
    EXPECT_EQ(payload_position(0xFFFFFFFF), 0x100000003ULL);
}

TEST(ArchiveLayoutTest, ChunkIsCappedByPayloadUnlessTheBlockIsLast) {
    struct Case {
        std::uint64_t remaining;
        std::uint32_t payload;
        std::uint32_t link;
        std::uint64_t expected;
    };
    const Case cases[] = {
        {1716, 1020, 2048, 1020}, // first block of a node
        {696, 1020, 7, 696},      // second block: what is missing, link not followed
        {1020, 1020, 9, 1020},    // exactly one payload
        {1021, 1020, 9, 1020},    // one byte left for the next block
        {5000, 1020, 0, 5000},    // last block gives everything, contiguously
        {1, 1, 1, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(chunk_length(c.remaining, c.payload, c.link), c.expected)
            << c.remaining << " " << c.payload << " " << c.link;
    }
}

TEST(ArchiveLayoutTest, InnerNodeFollowsOneSlotMoreThanItsEntries) {
    EXPECT_EQ(child_slot_count(0), 1U);
    EXPECT_EQ(child_slot_count(3), 4U);
    EXPECT_EQ(child_slot_count(60), 61U);
    EXPECT_EQ(child_slot_count(61), 62U);
    EXPECT_EQ(kNodeSize, 1716U);
}

} // namespace
} // namespace quillmere::dat::layout
