// Tests of physics script decoding and encoding.
#include "file_type/detail/physics_script.hpp"
#include "quillmere/dat/file_type/physics_script.hpp"
#include "quillmere/testkit/bytes.hpp"
#include "quillmere/testkit/matchers.hpp"
#include "quillmere/testkit/portal_files.hpp"

#include <bit>
#include <gtest/gtest.h>

namespace quillmere::dat::file_type::physics_script {
namespace {

using testkit::Bytes;

TEST(PhysicsScriptTest, WorkedExampleDecodesAndPacksBack) {
    // The exact bytes are the point here: id 0x33000000, one entry at 0.5 with a Sound hook.
    const auto file = Bytes()
                          .raw({0x00, 0x00, 0x00, 0x33, 0x01, 0x00, 0x00, 0x00})
                          .raw({0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE0, 0x3F})
                          .raw({0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00})
                          .raw({0x2A, 0x00, 0x00, 0x00})
                          .take();
    ASSERT_EQ(file.size(), 28u);
    auto script = PhysicsScript::unpack(file);
    ASSERT_TRUE(script) << script.error().message();
    EXPECT_EQ(script->id, 0x33000000u);
    ASSERT_EQ(script->script_data.size(), 1u);
    EXPECT_EQ(script->script_data[0].start_time, 0.5);
    EXPECT_EQ(script->script_data[0].hook,
              (setup_model::AnimationHook{1, 0, {0x2A, 0x00, 0x00, 0x00}}));

    auto packed = script->pack();
    ASSERT_TRUE(packed);
    EXPECT_EQ(*packed, file);
}

TEST(PhysicsScriptTest, EmptyScriptIsIdAndZeroCount) {
    const auto file = Bytes().u32(0x33000123).u32(0).take();
    auto script = PhysicsScript::unpack(file);
    ASSERT_TRUE(script);
    EXPECT_EQ(script->id, 0x33000123u);
    EXPECT_TRUE(script->script_data.empty());
    auto packed = script->pack();
    ASSERT_TRUE(packed);
    EXPECT_EQ(*packed, file);
}

// Every hook type, both ReplaceObject forms, and trailing bytes that are ignored on the way in
// and not reproduced on the way out.
TEST(PhysicsScriptTest, GeneratedScriptsDecodeAndPackBackByteForByte) {
    for (std::uint32_t entries : {1u, 27u, 60u}) {
        const auto plan = testkit::make_physics_script_spec(entries * 13, entries);
        const auto file = testkit::build_physics_script(plan);
        auto with_tail = Bytes().raw(file).raw({0xDE, 0xAD, 0xBE}).take();

        common::ByteCursor cursor(with_tail);
        auto script = PhysicsScript::read(cursor);
        ASSERT_TRUE(script) << script.error().message();
        EXPECT_EQ(*script, testkit::expected_physics_script(plan));
        EXPECT_EQ(cursor.position(), file.size());

        auto packed = script->pack();
        ASSERT_TRUE(packed);
        EXPECT_EQ(*packed, file);
    }
}

TEST(PhysicsScriptTest, EqualStartTimesStayInFileOrder) {
    testkit::PhysicsScriptSpec plan;
    plan.entries = {{1.5, testkit::make_hook(1, 0, 1)},
                    {1.5, testkit::make_hook(14, 1, 2)},
                    {1.5, testkit::make_hook(5, -1, 3)}};
    const auto file = testkit::build_physics_script(plan);
    auto script = PhysicsScript::unpack(file);
    ASSERT_TRUE(script);
    EXPECT_EQ(*script, testkit::expected_physics_script(plan));
    auto packed = script->pack();
    ASSERT_TRUE(packed);
    EXPECT_EQ(*packed, file);
}

// Signalling and quiet NaNs with payloads, negative zero and a subnormal keep their exact bits.
TEST(PhysicsScriptTest, StartTimeKeepsItsExactBitPattern) {
    const std::uint64_t patterns[] = {
        0x7FF0000000000001ULL, // signalling NaN
        0xFFF4000000000ABCULL, // signalling NaN, sign set, payload
        0x7FF8000000000123ULL, // quiet NaN with payload
        0x8000000000000000ULL, // negative zero
        0x0000000000000001ULL, // smallest subnormal
        0x7FF0000000000000ULL, // infinity
    };
    for (auto bits : patterns) {
        Bytes file;
        file.u32(0x33000001).u32(1);
        for (int i = 0; i < 8; ++i) {
            file.u8(static_cast<std::uint8_t>(bits >> (8 * i)));
        }
        file.u32(4).i32(0); // AnimationDone: header only
        const auto full = file.take();

        auto script = PhysicsScript::unpack(full);
        ASSERT_TRUE(script);
        ASSERT_EQ(script->script_data.size(), 1u);
        EXPECT_EQ(std::bit_cast<std::uint64_t>(script->script_data[0].start_time), bits);
        auto packed = script->pack();
        ASSERT_TRUE(packed);
        EXPECT_EQ(*packed, full) << std::hex << bits;
    }
}

// Cut anywhere, a script fails with a plain short read: no context is added at this level.
TEST(PhysicsScriptTest, EveryTruncationFailsWithAPlainShortRead) {
    const auto file = testkit::build_physics_script(testkit::make_physics_script_spec(7, 30));
    for (std::size_t length = 0; length < file.size(); ++length) {
        const std::span<const std::uint8_t> prefix(file.data(), length);
        auto script = PhysicsScript::unpack(prefix);
        ASSERT_FALSE(script) << "length " << length;
        EXPECT_TRUE(testkit::is_short_read(script.error())) << "length " << length;
        EXPECT_EQ(script.error().kind(), common::DecodeError::Kind::Io) << "length " << length;
    }
}

TEST(PhysicsScriptTest, TruncationInsideStartTimeOrHookFails) {
    testkit::PhysicsScriptSpec plan;
    plan.entries = {{0.5, testkit::make_hook(13, 0, 9)}};
    const auto file = testkit::build_physics_script(plan);
    for (std::size_t length : {std::size_t{11}, std::size_t{8 + 8 + 4}, file.size() - 1}) {
        auto script = PhysicsScript::unpack(std::span(file.data(), length));
        ASSERT_FALSE(script);
        EXPECT_EQ(script.error().message(), "failed to fill whole buffer");
    }
}

TEST(PhysicsScriptTest, UnknownHookTypePassesThroughUnchanged) {
    const auto file = Bytes().u32(0x33000001).u32(1).f64(0).u32(27).i32(0).take();
    auto script = PhysicsScript::unpack(file);
    ASSERT_FALSE(script);
    EXPECT_EQ(script.error().kind(), common::DecodeError::Kind::Custom);
    EXPECT_EQ(script.error().message(), "Unsupported AnimationHook type: 0x0000001B at 0x18");
}

// A count of 0xFFFFFFFF over a few bytes fails with the short read of the first missing entry,
// without reserving room for four billion entries (which would not fit in the budget).
TEST(PhysicsScriptTest, HugeCountFailsFastWithLittleMemory) {
    const auto file = Bytes().u32(0x33000001).u32(0xFFFFFFFF).f64(1).u32(1).i32(0).u32(7).take();
    const int outcome = testkit::run_with_memory_budget(64 << 20, 20, [&] {
        auto script = PhysicsScript::unpack(file);
        return !script && testkit::is_short_read(script.error());
    });
    EXPECT_EQ(outcome, 0);
}

TEST(PhysicsScriptTest, EntryCountBeyondThirtyTwoBitsIsRefused) {
    auto fits = detail::entry_count(0x33000001, 0xFFFFFFFFULL, 0);
    ASSERT_TRUE(fits);
    EXPECT_EQ(*fits, 0xFFFFFFFFu);

    auto refused = detail::entry_count(0x3300ABCD, 0x100000000ULL, 12);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind(), common::DecodeError::Kind::Custom);
    EXPECT_EQ(refused.error().message(), "PhysicsScript 0x3300ABCD has 4294967296 entries, more "
                                         "than a 32-bit count can hold at 0xc");
}

TEST(PhysicsScriptTest, WriteStartsAtTheWritersPosition) {
    const auto plan = testkit::make_physics_script_spec(3, 4);
    const auto file = testkit::build_physics_script(plan);
    auto script = PhysicsScript::unpack(file);
    ASSERT_TRUE(script);

    std::vector<std::uint8_t> out = {0xEE, 0xEE};
    common::ByteWriter writer(out, 2);
    ASSERT_TRUE(script->write(writer));
    EXPECT_EQ(writer.position(), 2 + file.size());
    EXPECT_EQ(out, Bytes().raw({0xEE, 0xEE}).raw(file).take());
}

} // namespace
} // namespace quillmere::dat::file_type::physics_script
