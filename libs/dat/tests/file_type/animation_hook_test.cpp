// Tests of the animation hook decoder and encoder.
#include "quillmere/dat/file_type/animation_hook.hpp"
#include "quillmere/testkit/bytes.hpp"
#include "quillmere/testkit/matchers.hpp"

#include <gtest/gtest.h>

namespace quillmere::dat::file_type::setup_model {
namespace {

using common::ByteCursor;
using common::DecodeError;
using testkit::Bytes;

std::vector<std::uint8_t> encode(const AnimationHook& hook) {
    std::vector<std::uint8_t> out;
    common::ByteWriter w(out);
    EXPECT_TRUE(hook.write(w));
    return out;
}

// Payload bytes 1, 2, 3, ... of the given length, so misplaced bytes show.
std::vector<std::uint8_t> counting(std::size_t n) {
    std::vector<std::uint8_t> out(n);
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = static_cast<std::uint8_t>(i + 1);
    }
    return out;
}

TEST(AnimationHookTest, PayloadSizesFollowTheHookTable) {
    const std::uint32_t sizes[] = {0, 4, 4, 28, 0, 0, 4,  16, 12, 16, 12, 16, 8, 40,
                                   4, 4, 4, 0,  4, 8, 12, 16, 12, 8,  12, 4,  40};
    for (std::uint32_t type = 0; type < kHookTypeCount; ++type) {
        if (type == static_cast<std::uint32_t>(HookType::ReplaceObject)) {
            EXPECT_EQ(fixed_payload_size(type), std::nullopt);
        } else {
            EXPECT_EQ(fixed_payload_size(type), sizes[type]) << type;
        }
    }
    EXPECT_EQ(fixed_payload_size(27), std::nullopt);
}

// Every fixed-size type decodes its payload and re-encodes to the same bytes, with the cursor
// just after the hook and a second hook readable right behind it.
TEST(AnimationHookTest, EveryFixedTypeRoundTripsAndEndsExactlyAtTheNextHook) {
    for (std::uint32_t type = 0; type < kHookTypeCount; ++type) {
        const auto size = fixed_payload_size(type);
        if (!size) {
            continue;
        }
        const auto payload = counting(*size);
        const auto data = Bytes().u32(type).i32(-7).raw(payload).u32(4).i32(0).take();
        ByteCursor c(data);
        auto hook = AnimationHook::read(c);
        ASSERT_TRUE(hook) << type;
        EXPECT_EQ(hook->hook_type, type);
        EXPECT_EQ(hook->direction, -7);
        EXPECT_EQ(hook->data, payload);
        EXPECT_EQ(c.position(), 8 + *size);
        EXPECT_EQ(encode(*hook), std::vector<std::uint8_t>(data.begin(), data.end() - 8));

        auto next = AnimationHook::read(c);
        ASSERT_TRUE(next);
        EXPECT_EQ(next->hook_type, 4u);
        EXPECT_EQ(c.position(), data.size());
    }
}

TEST(AnimationHookTest, SoundHookExample) {
    const auto data = Bytes().u32(1).u32(0).u32(0x2A).take();
    ByteCursor c(data);
    auto hook = AnimationHook::read(c);
    ASSERT_TRUE(hook);
    EXPECT_EQ(*hook, (AnimationHook{1, 0, {0x2A, 0, 0, 0}}));
    EXPECT_EQ(c.position(), 12u);
    EXPECT_EQ(encode(*hook), data);
}

// ReplaceObject: 3 payload bytes plus one padding byte, or 5 plus three when bit 15 of the first
// word is set; padding bytes are kept as read, non-zero ones included.
TEST(AnimationHookTest, ReplaceObjectKeepsBothFormsWithTheirPadding) {
    struct Case {
        std::vector<std::uint8_t> payload_and_padding;
        std::size_t occupied;
    };
    const Case cases[] = {
        {{0x03, 0x34, 0x12, 0xFF}, 12},
        {{0x03, 0x01, 0x80, 0x02, 0x00, 0xAB, 0xCD, 0xEF}, 16},
        {{0x00, 0x00, 0x00, 0x00}, 12},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x11, 0x22, 0x33}, 16},
    };
    for (const auto& tc : cases) {
        const auto data = Bytes().u32(5).i32(-1).raw(tc.payload_and_padding).u32(0).u32(0).take();
        ByteCursor c(data);
        auto hook = AnimationHook::read(c);
        ASSERT_TRUE(hook);
        EXPECT_EQ(hook->data, tc.payload_and_padding);
        EXPECT_EQ(hook->direction, -1);
        EXPECT_EQ(c.position(), tc.occupied);
        EXPECT_EQ(encode(*hook), std::vector<std::uint8_t>(
                                     data.begin(), data.begin() + static_cast<long>(tc.occupied)));
        EXPECT_EQ(hook->data.size() % 4, 0u);
    }
}

TEST(AnimationHookTest, NegativeDirectionRoundTrips) {
    const auto data = Bytes().u32(4).raw({0xFF, 0xFF, 0xFF, 0xFF}).take();
    ByteCursor c(data);
    auto hook = AnimationHook::read(c);
    ASSERT_TRUE(hook);
    EXPECT_EQ(hook->direction, -1);
    EXPECT_TRUE(hook->data.empty());
    EXPECT_EQ(encode(*hook), data);
}

TEST(AnimationHookTest, EncoderWritesHandBuiltDataUnchecked) {
    const AnimationHook hook{1, 2, {9, 8, 7}};
    EXPECT_EQ(encode(hook), Bytes().u32(1).i32(2).raw({9, 8, 7}).take());
    const AnimationHook unknown{99, 0, {}};
    EXPECT_EQ(encode(unknown), Bytes().u32(99).i32(0).take());
}

TEST(AnimationHookTest, UnknownTypesFailAtThePayloadOffset) {
    struct Case {
        std::uint32_t type;
        std::size_t lead;
        const char* text;
    };
    const Case cases[] = {
        {27, 0, "Unsupported AnimationHook type: 0x0000001B at 0x8"},
        {0xFFFFFFFF, 0, "Unsupported AnimationHook type: 0xFFFFFFFF at 0x8"},
        {0x1A0, 20, "Unsupported AnimationHook type: 0x000001A0 at 0x1c"},
    };
    for (const auto& tc : cases) {
        const auto data = Bytes().fill(tc.lead, 0).u32(tc.type).u32(0).fill(40, 0).take();
        ByteCursor c(data);
        c.set_position(tc.lead);
        auto hook = AnimationHook::read(c);
        ASSERT_FALSE(hook);
        EXPECT_EQ(hook.error().kind(), DecodeError::Kind::Custom);
        EXPECT_EQ(hook.error().custom_error()->pos, tc.lead + 8);
        EXPECT_EQ(hook.error().message(), tc.text);
    }
}

// Cutting a valid hook anywhere short of its end (header, payload, ReplaceObject words, padding)
// gives the plain short-read error, without field context.
TEST(AnimationHookTest, EveryTruncationIsAShortRead) {
    std::vector<std::vector<std::uint8_t>> hooks;
    for (std::uint32_t type = 0; type < kHookTypeCount; ++type) {
        if (const auto size = fixed_payload_size(type)) {
            hooks.push_back(Bytes().u32(type).i32(3).raw(counting(*size)).take());
        }
    }
    hooks.push_back(Bytes().u32(5).i32(0).raw({1, 0x34, 0x12, 0xEE}).take());
    hooks.push_back(Bytes().u32(5).i32(0).raw({1, 0x01, 0x80, 2, 0, 0xEE, 0xEE, 0xEE}).take());
    for (const auto& full : hooks) {
        for (std::size_t len = 0; len < full.size(); ++len) {
            ByteCursor c(std::span(full.data(), len));
            auto hook = AnimationHook::read(c);
            ASSERT_FALSE(hook) << "type " << full[0] << " len " << len;
            EXPECT_EQ(hook.error().kind(), DecodeError::Kind::Io);
            EXPECT_TRUE(testkit::is_short_read(hook.error()));
        }
    }
}

} // namespace
} // namespace quillmere::dat::file_type::setup_model
