// The quillmere-dat command line: parsing, help, and the four commands (info, ls, cat, hooks).
#pragma once

#include "quillmere/common/decode_error.hpp"
#include "quillmere/dat/dat_error.hpp"

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quillmere::inspect {

/// Exit statuses.
inline constexpr int kExitOk = 0;
/// A failed lookup, read, decode or write.
inline constexpr int kExitFailure = 1;
/// A command line that cannot be run (unknown command or option, missing or extra arguments,
/// a malformed id, binary output to a terminal).
inline constexpr int kExitUsage = 2;

/// Where the commands write: `out` for results, `err` for "error: ..." lines. `out_is_terminal`
/// makes `cat` refuse to write.
struct Streams {
    std::ostream& out;
    std::ostream& err;
    bool out_is_terminal = false;
};

/// Runs one command line (`args` without the program name) and returns the exit status.
[[nodiscard]] int run(std::span<const std::string> args, const Streams& streams);

/// A file id given on the command line: one to eight hexadecimal digits, with or without a
/// "0x"/"0X" prefix ("0x03000001", "3000001"). Anything else gives nothing.
[[nodiscard]] std::optional<std::uint32_t> parse_file_id(std::string_view text) noexcept;

/// A file type (the top byte of an id) given to `ls --type`: one or two hexadecimal digits, with
/// or without "0x" ("03", "0x33", "2").
[[nodiscard]] std::optional<std::uint8_t> parse_type_byte(std::string_view text) noexcept;

/// The message form of a decoding error on one line: the inner error's text, then each field
/// context, innermost first, after "; ".
[[nodiscard]] std::string one_line(const common::DecodeError& error);

/// The message form of an archive error on one line (a wrapped decoding error as above).
[[nodiscard]] std::string one_line(const dat::DatError& error);

} // namespace quillmere::inspect
