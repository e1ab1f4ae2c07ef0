// Failed checks and the diagnostic text of floating-point values.
#include "quillmere/case_runner/checks.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <system_error>

namespace quillmere::case_runner {

void fail(std::string message, std::source_location location) {
    throw CaseFailure(std::move(message), location);
}

void require(bool condition, std::string_view message, std::source_location location) {
    if (!condition) {
        fail(std::string(message), location);
    }
}

namespace detail {

std::string equality_message(std::string_view message, std::string_view left,
                             std::string_view right) {
    std::string text = "assertion `left == right` failed";
    if (!message.empty()) {
        text += ": ";
        text += message;
    }
    text += "\n  left: ";
    text += left;
    text += "\n right: ";
    text += right;
    return text;
}

namespace {

// Plain decimal between 1e-4 and 1e16 (with ".0" for whole numbers), scientific with a bare
// exponent ("1e16", "1.5e-7") outside, the way such values are usually printed for debugging.
template <class F>
std::string shortest_text(F value) {
    if (std::isnan(value)) {
        return "NaN";
    }
    if (std::isinf(value)) {
        return value < 0 ? "-inf" : "inf";
    }
    std::array<char, 64> buffer{};
    const F magnitude = std::fabs(value);
    const bool plain = magnitude == F(0) || (magnitude >= F(1e-4) && magnitude < F(1e16));
    const auto format = plain ? std::chars_format::fixed : std::chars_format::scientific;
    const auto [end, ec] =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, format);
    if (ec != std::errc{}) {
        return "?";
    }
    std::string digits(buffer.data(), end);
    if (plain) {
        if (digits.find('.') == std::string::npos) {
            digits += ".0";
        }
        return digits;
    }
    // to_chars writes "1e+16" / "1.5e-07": drop the plus sign and the exponent's leading zeros.
    const auto e = digits.find('e');
    std::string mantissa = digits.substr(0, e);
    std::string exponent = digits.substr(e + 1);
    std::string sign;
    if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-')) {
        if (exponent[0] == '-') {
            sign = "-";
        }
        exponent.erase(0, 1);
    }
    const auto first_digit = exponent.find_first_not_of('0');
    exponent = first_digit == std::string::npos ? "0" : exponent.substr(first_digit);
    return mantissa + "e" + sign + exponent;
}

} // namespace

std::string float_diagnostic(double value) {
    return shortest_text(value);
}

std::string float_diagnostic(float value) {
    return shortest_text(value);
}

} // namespace detail

} // namespace quillmere::case_runner
