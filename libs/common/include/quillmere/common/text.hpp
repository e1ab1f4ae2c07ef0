// The project's text toolkit (GCC 12 has no <format>): hexadecimal, padding, quoting, UTF-8,
// JSON strings and shortest round-trip floats. Every tool and report formats through these.
#pragma once

#include "quillmere/common/export.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quillmere::common {

/// `value` as exactly eight upper-case hexadecimal digits: 0x1B gives "0000001B".
[[nodiscard]] QUILLMERE_COMMON_EXPORT std::string hex8(std::uint32_t value);

/// `value` in lower-case hexadecimal without leading zeros: 0x1C gives "1c", 0 gives "0".
[[nodiscard]] QUILLMERE_COMMON_EXPORT std::string hex_lower(std::uint64_t value);

/// The value of one to eight hexadecimal digits of either case, no prefix: "3000001" gives
/// 0x03000001. Empty text, a ninth digit or any other character gives nothing.
[[nodiscard]] QUILLMERE_COMMON_EXPORT std::optional<std::uint32_t>
hex_digits_value(std::string_view digits) noexcept;

enum class LetterCase : std::uint8_t { Lower, Upper };

/// Two hexadecimal digits per byte, nothing between them: {0x0A, 0xFF} gives "0aff" (or
/// "0AFF" with `LetterCase::Upper`).
[[nodiscard]] QUILLMERE_COMMON_EXPORT std::string hex_bytes(std::span<const std::uint8_t> bytes,
                                                            LetterCase letters = LetterCase::Lower);

/// `text` padded with blanks on the right to `width` characters; longer text is kept whole.
[[nodiscard]] QUILLMERE_COMMON_EXPORT std::string pad_right(std::string_view text,
                                                            std::size_t width);

/// `text` padded with blanks on the left to `width` characters; longer text is kept whole.
[[nodiscard]] QUILLMERE_COMMON_EXPORT std::string pad_left(std::string_view text,
                                                           std::size_t width);

/// Diagnostic form of a text: in double quotes, with `"`, `\` and control characters escaped
/// (`\n`, `\r`, `\t`, `\0`, others as `\u{1b}`). Other bytes, UTF-8 included, pass unchanged.
[[nodiscard]] QUILLMERE_COMMON_EXPORT std::string quoted(std::string_view text);

/// Diagnostic form of a byte sequence: "[1, 2, 3]".
[[nodiscard]] QUILLMERE_COMMON_EXPORT std::string byte_list(std::span<const std::uint8_t> bytes);

// ---- UTF-8 -----------------------------------------------------------------------------------

/// One step of the UTF-8 decoder: the sequence that starts at some position of a text.
struct Utf8Sequence {
    /// Bytes the step covers, at least 1 (0 only at or past the end of the text).
    std::size_t length = 0;
    /// True for a well-formed character (ASCII included); false for an ill-formed stretch.
    bool valid = false;
};

/// The UTF-8 decoder, the one the project has. At `text[i]` there is either a well-formed
/// character (1 to 4 bytes, no overlong form, no surrogate, nothing above U+10FFFF), or an
/// ill-formed stretch: the longest start of a well-formed sequence that breaks off (a lead byte
/// and the continuation bytes that still fit it, "E2 80" before an ASCII byte), or else the single
/// byte that can start nothing (a stray continuation byte, C0, F5 to FF). Replacing each
/// ill-formed stretch by one U+FFFD is the usual "maximal subpart" rule.
[[nodiscard]] QUILLMERE_COMMON_EXPORT Utf8Sequence utf8_sequence_at(std::string_view text,
                                                                    std::size_t i) noexcept;

/// True when `text` is well-formed UTF-8.
[[nodiscard]] QUILLMERE_COMMON_EXPORT bool is_valid_utf8(std::string_view text) noexcept;

/// `text` with every ill-formed stretch (see `utf8_sequence_at`) replaced by U+FFFD.
[[nodiscard]] QUILLMERE_COMMON_EXPORT std::string to_valid_utf8(std::string_view text);

// ---- JSON ------------------------------------------------------------------------------------

/// `text` escaped for the inside of a JSON string: `"` and `\` escaped; backspace, form feed,
/// line feed, carriage return and tab as `\b` `\f` `\n` `\r` `\t`; the other control characters
/// and DEL (0x7F) as `\u00XX` (lower-case digits); well-formed UTF-8 passed through; every
/// ill-formed stretch replaced by U+FFFD, so any input gives a valid JSON string.
[[nodiscard]] QUILLMERE_COMMON_EXPORT std::string json_escape(std::string_view text);

/// `text` as a JSON string literal: `json_escape(text)` between double quotes.
[[nodiscard]] QUILLMERE_COMMON_EXPORT std::string json_quote(std::string_view text);

// ---- Floats ----------------------------------------------------------------------------------

/// How `float_text` writes a value. Both styles give the shortest digits that read back as the
/// same value, and the sign of a negative zero.
enum class FloatStyle : std::uint8_t {
    /// "0.5", "-2", "1e+30", "1e-07"; "nan", "inf", "-inf" (the tools' text and JSON output).
    Shortest,
    /// Debugging form: plain decimal with ".0" on whole numbers between 1e-4 and 1e16 ("1.0",
    /// "-0.0", "0.1"), else a bare exponent ("1e16", "1.5e-7"); "NaN", "inf", "-inf".
    Debug,
};

/// `value` as text in `style`.
[[nodiscard]] QUILLMERE_COMMON_EXPORT std::string
float_text(double value, FloatStyle style = FloatStyle::Shortest);
/// As for double, with the shortest text that reads back as the same float.
[[nodiscard]] QUILLMERE_COMMON_EXPORT std::string
float_text(float value, FloatStyle style = FloatStyle::Shortest);

} // namespace quillmere::common
