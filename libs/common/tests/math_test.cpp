// Tests of the float records and of the record-reading rule they follow.
#include "quillmere/common/math.hpp"
#include "quillmere/testkit/bytes.hpp"
#include "quillmere/testkit/matchers.hpp"

#include <bit>
#include <gtest/gtest.h>

namespace quillmere::common {
namespace {

using testkit::Bytes;
using testkit::contexts_of;

TEST(MathTest, QuaternionStoresWFirst) {
    const auto data = Bytes().raw({0x00, 0x00, 0x80, 0x3F}).fill(12, 0).take();
    ByteCursor c(data);
    auto q = Quaternion::read_le(c);
    ASSERT_TRUE(q);
    EXPECT_EQ(*q, (Quaternion{1.0f, 0.0f, 0.0f, 0.0f}));
    EXPECT_EQ(c.position(), 16u);
}

TEST(MathTest, SphereKeepsNanBits) {
    const std::uint32_t nan = 0xFFC00001;
    const auto data = Bytes().u32(nan).u32(nan).u32(nan).u32(nan).take();
    ByteCursor c(data);
    auto s = Sphere::read_le(c);
    ASSERT_TRUE(s);
    for (float f : {s->center.x, s->center.y, s->center.z, s->radius}) {
        EXPECT_EQ(std::bit_cast<std::uint32_t>(f), nan);
    }
}

TEST(MathTest, RecordsRoundTripThroughTheWriter) {
    const Sphere sphere{{1.5f, -2.0f, 3.25f}, 0.75f};
    const Quaternion q{0.5f, -0.5f, 0.25f, -0.0f};
    std::vector<std::uint8_t> out;
    ByteWriter w(out);
    sphere.write_le(w);
    q.write_le(w);
    ByteCursor c(out);
    EXPECT_EQ(*Sphere::read_le(c), sphere);
    EXPECT_EQ(*Quaternion::read_le(c), q);
    EXPECT_EQ(c.position(), 32u);
}

TEST(MathTest, EmptyVector3FailsOnX) {
    ByteCursor c({});
    auto v = Vector3::read_le(c);
    ASSERT_FALSE(v);
    EXPECT_EQ(v.error().kind(), DecodeError::Kind::Backtrace);
    EXPECT_EQ(v.error().io_error()->message(), "failed to fill whole buffer");
    EXPECT_EQ(contexts_of(v.error()),
              std::vector<std::string>{"While parsing field 'x' in Vector3"});
}

// Every truncation of a sphere names the field that ran short and restores the start, also when
// the record starts in the middle of the buffer.
TEST(MathTest, TruncatedSphereNamesItsFieldAndRestoresTheStart) {
    const auto full = Bytes().fill(3, 0xEE).f32(1).f32(2).f32(3).f32(4).take();
    for (std::size_t len = 3; len < full.size(); ++len) {
        std::span<const std::uint8_t> data(full.data(), len);
        ByteCursor c(data);
        c.set_position(3);
        auto s = Sphere::read_le(c);
        ASSERT_FALSE(s) << len;
        EXPECT_EQ(c.position(), 3u);
        const std::size_t have = len - 3;
        std::vector<std::string> expected;
        if (have < 12) {
            const char* fields[] = {"x", "y", "z"};
            expected.push_back(std::string("While parsing field '") + fields[have / 4] +
                               "' in Vector3");
            expected.push_back("While parsing field 'center' in Sphere");
        } else {
            expected.push_back("While parsing field 'radius' in Sphere");
        }
        EXPECT_EQ(contexts_of(s.error()), expected) << len;
    }
}

} // namespace
} // namespace quillmere::common
