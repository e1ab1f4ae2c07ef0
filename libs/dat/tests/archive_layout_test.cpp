// Tests of the offset arithmetic of block chains and directory nodes.
#include "detail/archive_layout.hpp"
#include "quillmere/common/le.hpp"
#include "quillmere/dat/dat_header.hpp"

#include <gtest/gtest.h>
#include <utility>

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

// Each named offset is where `DatHeader::write_le` puts its field.
TEST(ArchiveLayoutTest, HeaderFieldOffsetsAreWhereTheHeaderRecordLiesOnDisk) {
    DatHeader header{
        1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, std::vector<std::uint8_t>(16, 0xAB), 16};
    std::vector<std::uint8_t> bytes;
    common::ByteWriter writer(bytes, kHeaderOffset);
    header.write_le(writer);
    ASSERT_EQ(bytes.size(), kHeaderEnd);
    using namespace header_field;
    const std::pair<std::uint64_t, std::uint32_t> words[] = {
        {kMagic, 1},        {kBlockSize, 2},      {kFileSize, 3},     {kDataset, 4},
        {kSubset, 5},       {kFreeHead, 6},       {kFreeTail, 7},     {kFreeCount, 8},
        {kRootOffset, 9},   {kNewLru, 10},        {kOldLru, 11},      {kUseLru, 12},
        {kMasterMapId, 13}, {kEngineVersion, 14}, {kGameVersion, 15}, {kVersionMinor, 16},
    };
    for (const auto& [offset, value] : words) {
        EXPECT_EQ(common::load_le<std::uint32_t>(bytes.data() + offset), value) << offset;
    }
    EXPECT_EQ(bytes[kVersionString], 0xAB);
    EXPECT_EQ(bytes[kVersionString + 15], 0xAB);
}

} // namespace
} // namespace quillmere::dat::layout
