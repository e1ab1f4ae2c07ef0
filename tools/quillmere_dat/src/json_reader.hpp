// A strict reader of one JSON document, driven by a caller that knows the shape it expects:
// objects, arrays, strings and unsigned 32-bit integers, each error naming its byte offset.
#pragma once

#include "command.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmere::inspect {

/// Reads one JSON document (RFC 8259) token by token. The caller asks for what it expects next
/// ("an object", "the next member's name", "an unsigned 32-bit integer"); anything else is an
/// error "{what went wrong} at byte {offset}", the offset (from 0) of the first byte that does
/// not fit. Strict: no comments, no trailing commas, no leading zeros, strings of well-formed
/// UTF-8 without raw control characters, escapes (surrogate pairs included) checked.
///
/// Nesting is the caller's: it opens at most as many containers as its shape has, and
/// `skip_value` walks at most `kMaxDepth` levels, so no document, however deep, can exhaust
/// the stack or the memory. After an error the reader is in an unspecified state.
class JsonReader {
  public:
    /// The deepest nesting `skip_value` and the container calls accept.
    static constexpr std::size_t kMaxDepth = 64;

    explicit JsonReader(std::string_view text) noexcept : text_(text) {}

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

  private:
    // One container the caller is inside: which, and whether a member or element was read.
    struct Open {
        char close = '}';
        bool started = false;
    };

    void skip_space() noexcept;
    [[nodiscard]] std::unexpected<std::string> error_at(std::string_view what,
                                                        std::size_t at) const;
    [[nodiscard]] std::unexpected<std::string> unexpected_token(std::string_view expected);
    [[nodiscard]] Gathered<void> enter(char open, char close);
    // Steps past "," or the closing bracket of the innermost container; true for ",".
    [[nodiscard]] Gathered<bool> next_in(char close, std::string_view expected);
    [[nodiscard]] Gathered<void> skip_number();
    [[nodiscard]] Gathered<void> skip_literal();

    std::string_view text_;
    std::size_t pos_ = 0;
    std::vector<Open> open_;
};

} // namespace quillmere::inspect
