// Tests of the Frame record.
#include "quillmere/dat/graphics.hpp"
#include "quillmere/testkit/bytes.hpp"
#include "quillmere/testkit/matchers.hpp"

#include <gtest/gtest.h>

namespace quillmere::dat::graphics {
namespace {

using testkit::Bytes;
using testkit::contexts_of;

Bytes frame_bytes() {
    return std::move(Bytes().f32(1).f32(2).f32(3).f32(1).f32(0).f32(0).f32(0));
}

TEST(GraphicsTest, FrameReadsOriginThenOrientation) {
    const auto data = frame_bytes().take();
    common::ByteCursor c(data);
    auto frame = Frame::read_le(c);
    ASSERT_TRUE(frame);
    EXPECT_EQ(*frame, (Frame{{1, 2, 3}, {1, 0, 0, 0}}));
    EXPECT_EQ(c.position(), 28u);

    std::vector<std::uint8_t> out;
    common::ByteWriter w(out);
    frame->write_le(w);
    EXPECT_EQ(out, data);
}

// A 20-byte buffer runs out in orientation.y, a 27-byte one in orientation.z; the frame may start
// mid-buffer, and the cursor always comes back to the frame's first byte.
TEST(GraphicsTest, ShortFrameNamesInnerThenOuterFieldAndRestoresStart) {
    struct Case {
        std::size_t frame_bytes;
        const char* inner;
        const char* outer;
    };
    const Case cases[] = {
        {20, "While parsing field 'y' in Quaternion", "While parsing field 'orientation' in Frame"},
        {27, "While parsing field 'z' in Quaternion", "While parsing field 'orientation' in Frame"},
        {0, "While parsing field 'x' in Vector3", "While parsing field 'origin' in Frame"},
        {11, "While parsing field 'z' in Vector3", "While parsing field 'origin' in Frame"},
    };
    for (std::size_t lead : {0u, 5u}) {
        for (const auto& tc : cases) {
            auto all = Bytes().fill(lead, 0xAA).raw(frame_bytes()).take();
            all.resize(lead + tc.frame_bytes);
            common::ByteCursor c(all);
            c.set_position(lead);
            auto frame = Frame::read_le(c);
            ASSERT_FALSE(frame);
            EXPECT_TRUE(testkit::is_short_read(frame.error()));
            EXPECT_EQ(contexts_of(frame.error()), (std::vector<std::string>{tc.inner, tc.outer}));
            EXPECT_EQ(c.position(), lead);
        }
    }
}

} // namespace
} // namespace quillmere::dat::graphics
