// A strict reader of one JSON document, driven by a caller that knows the shape it expects:
// objects, arrays, strings and unsigned 32-bit integers, each error naming its byte offset.
#pragma once

#include "command.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillmere::dat_tool {

/// Reads one JSON document (RFC 8259) token by token. The caller asks for what it expects next
/// ("an object", "the next member's name", "an unsigned 32-bit integer"); anything else is an
/// error "{what went wrong} at byte {offset}", the offset (from 0) of the first byte that does
/// not fit. Strict: no comments, no trailing commas, no leading zeros, strings of well-formed
/// UTF-8 without raw control characters, escapes (surrogate pairs included) checked.
///
/// The syntax is nlohmann-json's (the whole document is read when the reader is made, into one
/// small token per value); this class adds the byte offsets and the one-line errors. A syntax
/// error is reported by the call that reaches it, so a caller that refuses the document earlier
/// for what it says reports that instead. Nesting deeper than `kMaxDepth` levels is refused as
/// it is met, so no document, however deep, can exhaust the stack or the memory. After an error
/// the reader is in an unspecified state.
class JsonReader {
  public:
    /// The deepest nesting accepted.
    static constexpr std::size_t kMaxDepth = 64;

    explicit JsonReader(std::string_view text);

    /// The offset of the next token, after any white space.
    [[nodiscard]] std::size_t offset() noexcept;

    /// Enters an object: "{" must come next.
    [[nodiscard]] Gathered<void> begin_object();
    /// The name of the object's next member, its ":" read; nothing at the closing "}", which
    /// leaves the object.
    [[nodiscard]] Gathered<std::optional<std::string>> next_member();

    /// Enters an array: "[" must come next.
    [[nodiscard]] Gathered<void> begin_array();
    /// True when another element follows (its "," read); false at the closing "]", which
    /// leaves the array.
    [[nodiscard]] Gathered<bool> next_element();

    /// A number written as a plain decimal integer from 0 to 4294967295 (no sign, fraction or
    /// exponent).
    [[nodiscard]] Gathered<std::uint32_t> read_u32();
    /// A string, its escapes resolved.
    [[nodiscard]] Gathered<std::string> read_string();
    /// Any value, checked as strictly as the rest and thrown away.
    [[nodiscard]] Gathered<void> skip_value();

    /// Requires nothing but white space after the document.
    [[nodiscard]] Gathered<void> finish();

    /// One token of the document: where it starts and what it is. Strings are kept apart,
    /// `value` their index; an unsigned integer's value is `value` itself.
    struct Token {
        enum class Kind : std::uint8_t {
            BeginObject,
            EndObject,
            BeginArray,
            EndArray,
            Name,
            String,
            Unsigned,
            OtherNumber,
            Literal,
            // The document is refused here: `value` indexes the strings for the message, which
            // is the thing expected when `expected` is set.
            Error,
            // Nothing but white space follows.
            End,
        };
        Kind kind = Kind::Error;
        // For an error: the message says what was expected; the document ends there; a number
        // with a leading zero.
        bool expected = false;
        bool ends = false;
        bool leading_zero = false;
        std::uint32_t offset = 0;
        std::uint64_t value = 0;
    };

  private:
    [[nodiscard]] const Token& peek() const noexcept { return tokens_[next_]; }
    [[nodiscard]] std::string_view string_of(const Token& token) const noexcept;
    // The error of meeting `token` where `wanted` ("an object"), a value or not, was expected.
    [[nodiscard]] std::unexpected<std::string> refuse(const Token& token, std::string_view wanted,
                                                      bool value_wanted) const;
    // Steps past "," or the closing bracket of the innermost container; true for ",".
    [[nodiscard]] Gathered<bool> next_in(Token::Kind close, std::string_view expected);

    std::string_view text_;
    std::vector<Token> tokens_;
    std::string strings_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> string_spans_;
    std::size_t next_ = 0;
    // Per open container of the caller's: whether a member or element was read.
    std::vector<bool> started_;
};

} // namespace quillmere::dat_tool
