// Tests of the byte cursor, its primitive reads, the byte writer and the record rule.
#include "quillmere/common/byte_cursor.hpp"
#include "quillmere/common/byte_writer.hpp"
#include "quillmere/testkit/bytes.hpp"

#include <bit>
#include <cmath>
#include <gtest/gtest.h>

namespace quillmere::common {
namespace {

using testkit::Bytes;

TEST(ByteCursorTest, PrimitivesAreLittleEndian) {
    const auto data =
        Bytes().u8(0xAB).u16(0x1234).u32(0xDEADBEEF).i32(-2).f32(0.5f).f64(-0.25).take();
    ByteCursor c(data);
    EXPECT_EQ(*c.read_u8(), 0xAB);
    EXPECT_EQ(*c.read_u16(), 0x1234);
    EXPECT_EQ(*c.read_u32(), 0xDEADBEEFu);
    EXPECT_EQ(*c.read_i32(), -2);
    EXPECT_EQ(*c.read_f32(), 0.5f);
    EXPECT_EQ(*c.read_f64(), -0.25);
    EXPECT_EQ(c.position(), data.size());
    EXPECT_EQ(c.remaining(), 0u);
}

TEST(ByteCursorTest, FloatsKeepTheirBits) {
    const std::uint32_t nan_bits = 0x7FC12345;
    const auto data = Bytes().u32(nan_bits).u32(0x80000000).take();
    ByteCursor c(data);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(*c.read_f32()), nan_bits);
    const float negative_zero = *c.read_f32();
    EXPECT_TRUE(std::signbit(negative_zero));
}

TEST(ByteCursorTest, ShortPrimitiveReadRestoresPosition) {
    const auto data = Bytes().u8(1).u16(2).u8(3).take(); // 4 bytes
    ByteCursor c(data);
    c.set_position(1);
    auto r = c.read_u32();
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind(), DecodeError::Kind::Io);
    EXPECT_EQ(r.error().message(), "failed to fill whole buffer");
    EXPECT_EQ(r.error().io_error()->kind(), IoError::Kind::UnexpectedEof);
    EXPECT_EQ(c.position(), 1u);
    EXPECT_FALSE(c.read_f64());
    EXPECT_EQ(c.position(), 1u);
}

TEST(ByteCursorTest, ShortReadExactLeavesPositionAtEnd) {
    const auto data = Bytes().fill(5, 7).take();
    ByteCursor c(data);
    c.set_position(2);
    auto r = c.read_exact(4);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(), "failed to fill whole buffer");
    EXPECT_EQ(c.position(), 5u);

    c.set_position(1);
    auto ok = c.read_exact(4);
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->size(), 4u);
    EXPECT_EQ(c.position(), 5u);
    EXPECT_TRUE(c.read_exact(0));
}

TEST(ByteCursorTest, PositionPastTheEndReadsNothing) {
    const auto data = Bytes().u32(1).take();
    ByteCursor c(data);
    c.set_position(100);
    EXPECT_EQ(c.remaining(), 0u);
    EXPECT_FALSE(c.read_u8());
    EXPECT_EQ(c.position(), 100u);
    EXPECT_FALSE(c.read_exact(1));
    EXPECT_EQ(c.position(), 100u);
}

TEST(ByteWriterTest, WritesAtItsPositionAndGrows) {
    std::vector<std::uint8_t> out;
    ByteWriter w(out);
    w.write_u32(0x04030201);
    w.write_i32(-1);
    w.write_u16(0xBEEF);
    w.write_u8(9);
    w.write_f32(0.5f);
    w.write_f64(2.0);
    EXPECT_EQ(out, Bytes().u32(0x04030201).i32(-1).u16(0xBEEF).u8(9).f32(0.5f).f64(2.0).take());

    w.set_position(1);
    const std::uint8_t patch[] = {0xAA, 0xBB};
    w.write_bytes(patch);
    EXPECT_EQ(out[1], 0xAA);
    EXPECT_EQ(out[2], 0xBB);
    EXPECT_EQ(w.position(), 3u);
    EXPECT_EQ(out.size(), 23u);
}

} // namespace
} // namespace quillmere::common
