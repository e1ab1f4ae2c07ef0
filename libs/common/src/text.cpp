// The project's text toolkit: hexadecimal, padding, quoting, UTF-8, JSON strings and floats.
#include "quillmere/common/text.hpp"

#include <array>
#include <cassert>
#include <charconv>
#include <cmath>
#include <optional>
#include <system_error>

namespace quillmere::common {
namespace {

constexpr std::string_view kLowerDigits = "0123456789abcdef";
constexpr std::string_view kUpperDigits = "0123456789ABCDEF";
// U+FFFD REPLACEMENT CHARACTER in UTF-8.
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The shortest digits of `value` in `format` (general when none is given).
template <class Float>
std::string shortest_digits(Float value, std::optional<std::chars_format> format) {
    std::array<char, 64> buffer{};
    const auto [end, ec] =
        format ? std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, *format)
               : std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    assert(ec == std::errc{} && "64 characters hold any shortest float");
    return ec == std::errc{} ? std::string(buffer.data(), end) : std::string("?");
}

// Plain decimal between 1e-4 and 1e16 (with ".0" for whole numbers), scientific with a bare
// exponent ("1e16", "1.5e-7") outside.
template <class Float>
std::string debug_text(Float value) {
    const Float magnitude = std::fabs(value);
    const bool plain =
        magnitude == Float(0) || (magnitude >= Float(1e-4) && magnitude < Float(1e16));
    if (plain) {
        std::string digits = shortest_digits(value, std::chars_format::fixed);
        if (digits.find('.') == std::string::npos) {
            digits += ".0";
        }
        return digits;
    }
    // to_chars writes "1e+16" / "1.5e-07": drop the plus sign and the exponent's leading zeros.
    const std::string digits = shortest_digits(value, std::chars_format::scientific);
    const auto e = digits.find('e');
    std::string out = digits.substr(0, e + 1);
    std::string_view exponent = std::string_view(digits).substr(e + 1);
    if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-')) {
        if (exponent[0] == '-') {
            out.push_back('-');
        }
        exponent.remove_prefix(1);
    }
    const auto first_digit = exponent.find_first_not_of('0');
    out.append(first_digit == std::string_view::npos ? "0" : exponent.substr(first_digit));
    return out;
}

template <class Float>
std::string float_text_of(Float value, FloatStyle style) {
    if (std::isnan(value)) {
        return style == FloatStyle::Debug ? "NaN" : "nan";
    }
    if (std::isinf(value)) {
        return value < 0 ? "-inf" : "inf";
    }
    return style == FloatStyle::Debug ? debug_text(value) : shortest_digits(value, std::nullopt);
}

} // namespace

std::string hex8(std::uint32_t value) {
    std::string out(8, '0');
    for (std::size_t i = 8; i-- > 0; value >>= 4) {
        out[i] = kUpperDigits[value & 0xF];
    }
    return out;
}

std::string hex_bytes(std::span<const std::uint8_t> bytes, LetterCase letters) {
    const std::string_view digits = letters == LetterCase::Upper ? kUpperDigits : kLowerDigits;
    std::string out;
    out.reserve(2 * bytes.size());
    for (const std::uint8_t byte : bytes) {
        out.push_back(digits[byte >> 4]);
        out.push_back(digits[byte & 0xF]);
    }
    return out;
}

std::string hex_lower(std::uint64_t value) {
    std::array<char, 16> buffer{};
    auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, 16);
    return std::string(buffer.data(), end);
}

std::optional<std::uint32_t> hex_digits_value(std::string_view digits) noexcept {
    if (digits.empty() || digits.size() > 8) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (const char c : digits) {
        std::uint32_t digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<std::uint32_t>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<std::uint32_t>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<std::uint32_t>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        value = value << 4 | digit;
    }
    return value;
}

std::string pad_right(std::string_view text, std::size_t width) {
    std::string out(text);
    if (out.size() < width) {
        out.append(width - out.size(), ' ');
    }
    return out;
}

std::string pad_left(std::string_view text, std::size_t width) {
    std::string out;
    if (text.size() < width) {
        out.assign(width - text.size(), ' ');
    }
    out.append(text);
    return out;
}

std::string quoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    for (char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\0':
            out += "\\0";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                out += "\\u{" + hex_lower(static_cast<unsigned char>(c)) + "}";
            } else {
                out.push_back(c);
            }
        }
    }
    out.push_back('"');
    return out;
}

Utf8Sequence utf8_sequence_at(std::string_view text, std::size_t i) noexcept {
    if (i >= text.size()) {
        return {0, false};
    }
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return {1, true};
    }
    std::size_t length = 0;
    unsigned char min_second = 0x80;
    unsigned char max_second = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        min_second = lead == 0xE0 ? 0xA0 : 0x80; // no overlong forms
        max_second = lead == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        min_second = lead == 0xF0 ? 0x90 : 0x80; // no overlong forms
        max_second = lead == 0xF4 ? 0x8F : 0xBF; // nothing above U+10FFFF
    } else {
        return {1, false}; // a byte that starts nothing
    }
    // Take continuation bytes while they fit; the first that does not ends an ill-formed stretch.
    std::size_t taken = 1;
    while (taken < length && i + taken < text.size()) {
        const unsigned char next = byte(taken);
        const unsigned char low = taken == 1 ? min_second : 0x80;
        const unsigned char high = taken == 1 ? max_second : 0xBF;
        if (next < low || next > high) {
            break;
        }
        ++taken;
    }
    return {taken, taken == length};
}

bool is_valid_utf8(std::string_view text) noexcept {
    for (std::size_t i = 0; i < text.size();) {
        const Utf8Sequence sequence = utf8_sequence_at(text, i);
        if (!sequence.valid) {
            return false;
        }
        i += sequence.length;
    }
    return true;
}

std::string to_valid_utf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const Utf8Sequence sequence = utf8_sequence_at(text, i);
        if (sequence.valid) {
            out.append(text.substr(i, sequence.length));
        } else {
            out.append(kReplacement);
        }
        i += sequence.length;
    }
    return out;
}

std::string json_escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const Utf8Sequence sequence = utf8_sequence_at(text, i);
        if (!sequence.valid) {
            out.append(kReplacement);
            i += sequence.length;
            continue;
        }
        if (sequence.length > 1) {
            out.append(text.substr(i, sequence.length));
            i += sequence.length;
            continue;
        }
        const auto c = static_cast<unsigned char>(text[i++]);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                out += "\\u00";
                out.push_back(kLowerDigits[c >> 4]);
                out.push_back(kLowerDigits[c & 0xF]);
            } else {
                out.push_back(static_cast<char>(c));
            }
        }
    }
    return out;
}

std::string json_quote(std::string_view text) {
    return "\"" + json_escape(text) + "\"";
}

std::string byte_list(std::span<const std::uint8_t> bytes) {
    std::string out = "[";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0) {
            out += ", ";
        }
        out += std::to_string(bytes[i]);
    }
    out += "]";
    return out;
}

std::string float_text(double value, FloatStyle style) {
    return float_text_of(value, style);
}

std::string float_text(float value, FloatStyle style) {
    return float_text_of(value, style);
}

} // namespace quillmere::common
