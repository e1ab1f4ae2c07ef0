// Diagnostic text of values shown by failed checks: numbers, texts, byte sequences, error values.
#pragma once

#include "quillmere/common/text.hpp"

#include <concepts>
#include <cstdint>
#include <ranges>
#include <string>
#include <string_view>
#include <type_traits>

namespace quillmere::case_runner {

namespace detail {

template <class T>
concept HasDiagnosticMember = requires(const T& value) {
    { value.diagnostic() } -> std::convertible_to<std::string>;
};

template <class T>
concept TextLike = std::is_convertible_v<const T&, std::string_view> ||
    std::is_convertible_v<const T&, std::string>;

} // namespace detail

/// The diagnostic form of `value`, as failed checks show it:
/// - a type with a member `std::string diagnostic() const` (the library's error types): that text;
/// - `bool`: "true" or "false";
/// - an integer of any width and signedness (character types and `std::uint8_t` included) or an
///   enumeration: its value in decimal, with a minus sign when negative;
/// - a floating-point number: the shortest decimal text that reads back as the same value, in
///   the debugging style ("1.0", "0.1", "1e16", "NaN");
/// - a text (`std::string`, `std::string_view`, `const char*`, a string literal, anything that
///   converts to `std::string` such as a path): in double quotes with backslash escapes
///   (`common::quoted`);
/// - any other range, byte sequences included: its elements' diagnostic forms in brackets,
///   separated by ", ", so bytes {1, 2, 3} give "[1, 2, 3]".
template <class T>
[[nodiscard]] std::string diagnostic(const T& value) {
    if constexpr (detail::HasDiagnosticMember<T>) {
        return std::string(value.diagnostic());
    } else if constexpr (std::is_same_v<T, bool>) {
        return value ? "true" : "false";
    } else if constexpr (std::is_integral_v<T>) {
        if constexpr (std::is_signed_v<T>) {
            return std::to_string(static_cast<long long>(value));
        } else {
            return std::to_string(static_cast<unsigned long long>(value));
        }
    } else if constexpr (std::is_enum_v<T>) {
        return diagnostic(static_cast<std::underlying_type_t<T>>(value));
    } else if constexpr (std::is_floating_point_v<T>) {
        if constexpr (std::is_same_v<T, float>) {
            return common::float_text(value, common::FloatStyle::Debug);
        } else {
            return common::float_text(static_cast<double>(value), common::FloatStyle::Debug);
        }
    } else if constexpr (detail::TextLike<T>) {
        if constexpr (std::is_convertible_v<const T&, std::string_view>) {
            return common::quoted(std::string_view(value));
        } else {
            return common::quoted(std::string(value)); // std::filesystem::path, for one
        }
    } else if constexpr (std::ranges::input_range<const T>) {
        std::string text = "[";
        bool first = true;
        for (const auto& element : value) {
            if (!first) {
                text += ", ";
            }
            first = false;
            text += diagnostic(element);
        }
        text += "]";
        return text;
    } else {
        static_assert(detail::HasDiagnosticMember<T>,
                      "no diagnostic form for this type: give it `std::string diagnostic() const`");
        return {};
    }
}

} // namespace quillmere::case_runner
