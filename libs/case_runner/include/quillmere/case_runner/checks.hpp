// The checks a case uses; a failed check stops the running case with a message and its location.
#pragma once

#include "quillmere/case_runner/diagnostic.hpp"

#include <algorithm>
#include <expected>
#include <source_location>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace quillmere::case_runner {

/// What a failed check throws. The runner catches it at the case's boundary and fails that case
/// with the message, naming the location of the check.
///
/// It deliberately does not derive from `std::exception`, so that a case's own
/// `catch (const std::exception&)` cannot swallow a failed check.
class CaseFailure {
  public:
    CaseFailure(std::string message, std::source_location location) noexcept
        : message_(std::move(message)), location_(location) {}

    /// The failure message, possibly several lines, without a final line end.
    [[nodiscard]] const std::string& message() const noexcept { return message_; }
    /// Where the failed check sits in the source.
    [[nodiscard]] const std::source_location& location() const noexcept { return location_; }

  private:
    std::string message_;
    std::source_location location_;
};

/// Fails the running case with `message` (for instance a text built from a format).
[[noreturn]] void fail(std::string message,
                       std::source_location location = std::source_location::current());

/// Fails the running case with `message` itself unless `condition` holds.
void require(bool condition, std::string_view message,
             std::source_location location = std::source_location::current());

namespace detail {

/// "assertion `left == right` failed: {message}\n  left: {left}\n right: {right}"; without the
/// ": {message}" part when `message` is empty.
[[nodiscard]] std::string equality_message(std::string_view message, std::string_view left,
                                           std::string_view right);

template <class L, class R>
[[nodiscard]] bool values_equal(const L& left, const R& right) {
    // Integers of mixed signedness compare by value, not after a silent conversion.
    if constexpr (std::is_integral_v<L> && std::is_integral_v<R> && !std::is_same_v<L, bool> &&
                  !std::is_same_v<R, bool>) {
        return std::cmp_equal(left, right);
    } else if constexpr (requires { static_cast<bool>(left == right); }) {
        return static_cast<bool>(left == right);
    } else {
        // Sequences without an operator== between them (a span and a vector) compare by element.
        return std::ranges::equal(left, right,
                                  [](const auto& a, const auto& b) { return values_equal(a, b); });
    }
}

} // namespace detail

/// Fails the running case unless `left == right` (element by element for two sequences without
/// an `==` between them), with the message
/// "assertion `left == right` failed: {message}" and the two values' diagnostic forms on the
/// lines "  left: ..." and " right: ...".
template <class L, class R>
void require_eq(const L& left, const R& right, std::string_view message,
                std::source_location location = std::source_location::current()) {
    if (!detail::values_equal(left, right)) {
        fail(detail::equality_message(message, diagnostic(left), diagnostic(right)), location);
    }
}

/// Returns the value of `result`, or fails the running case with "{context}: " and the error's
/// diagnostic form. Not `[[nodiscard]]`: calling it only for the check is fine.
template <class T, class E>
T require_ok(std::expected<T, E> result, std::string_view context,
             std::source_location location = std::source_location::current()) {
    if (!result.has_value()) {
        fail(std::string(context) + ": " + diagnostic(result.error()), location);
    }
    return std::move(*result);
}

/// As above, for results without a value.
template <class E>
void require_ok(std::expected<void, E> result, std::string_view context,
                std::source_location location = std::source_location::current()) {
    if (!result.has_value()) {
        fail(std::string(context) + ": " + diagnostic(result.error()), location);
    }
}

} // namespace quillmere::case_runner
