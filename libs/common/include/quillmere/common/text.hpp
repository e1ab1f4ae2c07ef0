// Small text helpers for messages and reports (GCC 12 has no <format>).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace quillmere::common {

/// `value` as exactly eight upper-case hexadecimal digits: 0x1B gives "0000001B".
[[nodiscard]] std::string hex8(std::uint32_t value);

/// `value` in lower-case hexadecimal without leading zeros: 0x1C gives "1c", 0 gives "0".
[[nodiscard]] std::string hex_lower(std::uint64_t value);

/// `text` padded with blanks on the right to `width` characters; longer text is kept whole.
[[nodiscard]] std::string pad_right(std::string_view text, std::size_t width);

/// `text` padded with blanks on the left to `width` characters; longer text is kept whole.
[[nodiscard]] std::string pad_left(std::string_view text, std::size_t width);

/// Diagnostic form of a text: in double quotes, with `"`, `\` and control characters escaped
/// (`\n`, `\r`, `\t`, `\0`, others as `\u{1b}`). Other bytes, UTF-8 included, pass unchanged.
[[nodiscard]] std::string quoted(std::string_view text);

/// Length (2 to 4) of the well-formed UTF-8 multi-byte sequence starting at `text[i]`, or 0 when
/// none starts there (ASCII bytes, stray continuation bytes, overlong forms, surrogates, code
/// points above U+10FFFF and sequences cut off by the end all give 0).
[[nodiscard]] std::size_t utf8_sequence_length(std::string_view text, std::size_t i) noexcept;

/// True when `text` is well-formed UTF-8.
[[nodiscard]] bool is_valid_utf8(std::string_view text) noexcept;

/// Diagnostic form of a byte sequence: "[1, 2, 3]".
[[nodiscard]] std::string byte_list(std::span<const std::uint8_t> bytes);

} // namespace quillmere::common
