// Failed checks: their messages, the source location they carry, and diagnostic forms.
#include "quillmere/case_runner/checks.hpp"

#include <array>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <limits>
#include <span>
#include <string>
#include <vector>

namespace quillmere::case_runner {
namespace {

/// The failure a check throws, or none.
template <class Check>
std::optional<CaseFailure> failure_of(Check check) {
    try {
        check();
    } catch (const CaseFailure& failure) {
        return failure;
    }
    return std::nullopt;
}

struct FakeError {
    int code;
    [[nodiscard]] std::string diagnostic() const { return "Io(" + std::to_string(code) + ")"; }
};

enum class Kind : std::int16_t { Negative = -3, Positive = 9 };

TEST(ChecksTest, RequireFailsWithItsTextAndTheCallersLocation) {
    EXPECT_FALSE(failure_of([] { require(true, "never shown"); }));
    const auto line = std::source_location::current().line() + 1;
    const auto failure = failure_of([] { require(false, "expected >1k retail hooks"); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->message(), "expected >1k retail hooks");
    EXPECT_EQ(failure->location().line(), line);
    EXPECT_NE(std::string(failure->location().file_name()).find("checks_test.cpp"),
              std::string::npos);
}

TEST(ChecksTest, FailCarriesAFormattedMessage) {
    const auto failure = failure_of([] { fail("file 0x" + std::string("0300000A") + " failed"); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->message(), "file 0x0300000A failed");
}

TEST(ChecksTest, EqualityFailureShowsBothValues) {
    EXPECT_FALSE(failure_of([] { require_eq(3, 3U, "same"); }));
    const auto failure =
        failure_of([] { require_eq(1U, 2U, "Sound (type 1) must appear in retail"); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->message(),
              "assertion `left == right` failed: Sound (type 1) must appear in retail\n"
              "  left: 1\n"
              " right: 2");
    const auto bytes = failure_of([] {
        require_eq(std::vector<std::uint8_t>{1, 2, 3}, std::vector<std::uint8_t>{1, 2},
                   "round trip");
    });
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->message(),
              "assertion `left == right` failed: round trip\n  left: [1, 2, 3]\n right: [1, 2]");
    const auto unnamed = failure_of([] { require_eq(std::string("a\"b"), "c", ""); });
    ASSERT_TRUE(unnamed);
    EXPECT_EQ(unnamed->message(),
              "assertion `left == right` failed\n  left: \"a\\\"b\"\n right: \"c\"");
}

TEST(ChecksTest, SequencesWithoutEqualityCompareByElement) {
    const std::vector<std::uint8_t> stored{1, 2, 3};
    const std::array<std::uint8_t, 3> same{1, 2, 3};
    EXPECT_FALSE(failure_of([&] { require_eq(std::span<const std::uint8_t>(same), stored, "x"); }));
    const auto failure = failure_of(
        [&] { require_eq(std::span<const std::uint8_t>(same).first(2), stored, "hook bytes"); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->message(),
              "assertion `left == right` failed: hook bytes\n  left: [1, 2]\n right: [1, 2, 3]");
}

TEST(ChecksTest, MixedSignednessComparesByValue) {
    // -1 == 4294967295U after a plain conversion; the check must not treat them as equal.
    EXPECT_TRUE(failure_of([] { require_eq(-1, std::numeric_limits<std::uint32_t>::max(), "x"); }));
    EXPECT_FALSE(failure_of([] { require_eq(std::int64_t{7}, std::uint8_t{7}, "x"); }));
}

TEST(ChecksTest, RequireOkReturnsTheValueOrFailsWithTheErrorsDiagnostic) {
    const std::expected<int, FakeError> good = 42;
    EXPECT_EQ(require_ok(good, "open client_portal.dat"), 42);
    const auto failure = failure_of([] {
        (void)require_ok(std::expected<int, FakeError>(std::unexpected(FakeError{2})),
                         "open client_portal.dat");
    });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->message(), "open client_portal.dat: Io(2)");

    const auto text_error = failure_of([] {
        require_ok(std::expected<void, std::string>(std::unexpected("bad\nhook")),
                   "moon PhysicsScript should round-trip");
    });
    ASSERT_TRUE(text_error);
    EXPECT_EQ(text_error->message(), "moon PhysicsScript should round-trip: \"bad\\nhook\"");
    EXPECT_FALSE(failure_of([] { require_ok(std::expected<void, std::string>(), "fine"); }));

    // The value is moved out, not copied.
    auto owned = require_ok(
        std::expected<std::vector<std::uint8_t>, FakeError>(std::vector<std::uint8_t>(3, 7)),
        "bytes");
    EXPECT_EQ(owned, std::vector<std::uint8_t>(3, 7));
}

TEST(ChecksTest, CaseFailureIsNotAStandardException) {
    // A case's own catch-all for standard exceptions must not swallow a failed check.
    bool swallowed = false;
    EXPECT_TRUE(failure_of([&] {
        try {
            require(false, "x");
        } catch (const std::exception&) {
            swallowed = true;
        }
    }));
    EXPECT_FALSE(swallowed);
}

TEST(ChecksTest, DiagnosticForms) {
    const std::array<std::uint8_t, 3> raw{0, 127, 255};
    const std::span<const std::uint8_t> view(raw);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {diagnostic(0), "0"},
        {diagnostic(-17), "-17"},
        {diagnostic(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808"},
        {diagnostic(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615"},
        {diagnostic(std::uint8_t{200}), "200"},
        {diagnostic('A'), "65"},
        {diagnostic(true), "true"},
        {diagnostic(Kind::Negative), "-3"},
        {diagnostic(1.0), "1.0"},
        {diagnostic(0.1), "0.1"},
        {diagnostic(0.1F), "0.1"},
        {diagnostic(-0.0), "-0.0"},
        {diagnostic(123456.75), "123456.75"},
        {diagnostic(1e16), "1e16"},
        {diagnostic(1.5e-7), "1.5e-7"},
        {diagnostic(0.0001), "0.0001"},
        {diagnostic(std::nan("")), "NaN"},
        {diagnostic(-std::numeric_limits<double>::infinity()), "-inf"},
        {diagnostic(std::string("tab\there")), "\"tab\\there\""},
        {diagnostic(std::string_view("q\"\\")), "\"q\\\"\\\\\""},
        {diagnostic("literal"), "\"literal\""},
        {diagnostic(static_cast<const char*>("pointer")), "\"pointer\""},
        {diagnostic(std::filesystem::path("/a/b.dat")), "\"/a/b.dat\""},
        {diagnostic(view), "[0, 127, 255]"},
        {diagnostic(std::vector<std::uint8_t>{}), "[]"},
        {diagnostic(std::vector<int>{-1, 2}), "[-1, 2]"},
        {diagnostic(std::vector<std::string>{"a", "b"}), "[\"a\", \"b\"]"},
        {diagnostic(FakeError{5}), "Io(5)"},
    };
    for (const auto& [actual, expected] : cases) {
        EXPECT_EQ(actual, expected);
    }
}

} // namespace
} // namespace quillmere::case_runner
