// What a quillmere-dat command is: how the command line describes it (arguments, options, help),
// the parsed arguments it is handed, and the streams and exit statuses it reports through.
#pragma once

#include <algorithm>
#include <cstdint>
#include <expected>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillmere::dat_tool {

/// Exit statuses.
inline constexpr int kExitOk = 0;
/// A failed lookup, read, decode or write.
inline constexpr int kExitFailure = 1;
/// A command line that cannot be run (unknown command or option, missing or extra arguments,
/// a malformed id, binary output to a terminal).
inline constexpr int kExitUsage = 2;

/// Where the commands write: `out` for results, `err` for "error: ..." lines. `out_is_terminal`
/// makes a command that writes binary data refuse to run; `err_is_terminal` lets a long command
/// show its progress there.
struct Streams {
    std::ostream& out;
    std::ostream& err;
    bool out_is_terminal = false;
    bool err_is_terminal = false;
    /// The command was asked for JSON (--json): a failure is then also one JSON document on
    /// `out`, `{"error": {"kind": "failure", "message": ...}}` ("usage" for a command line
    /// that cannot be run), so that a script reading `out` always gets JSON.
    bool json = false;
    /// Standard input, for commands that read a list from it (--ids-from -); none in tests that
    /// do not give one.
    std::istream* in = nullptr;
};

/// Checks one value given on the command line: the usage error's message when the value is
/// malformed, nothing when it is fine.
using ValueCheck = std::optional<std::string> (*)(std::string_view value);

/// One positional argument: its name as usage errors show it ("missing ARCHIVE"), and the check
/// its value must pass, if any.
struct ArgumentSpec {
    std::string_view name;
    ValueCheck check = nullptr;
    /// The last argument only: it may be given any number of times, at least once unless the
    /// option `or_option` is given (ids from --ids-from instead, say).
    bool repeated = false;
    std::string_view or_option = {};
};

/// One option, `name` with its dashes ("--json"). A flag takes no value, refuses "--name=value"
/// and may be repeated to no effect. An option with a value takes "--name value" or
/// "--name=value"; given twice it is a usage error unless it is `repeatable`.
struct OptionSpec {
    std::string_view name;
    bool takes_value = false;
    bool repeatable = false;
    ValueCheck check = nullptr;
    /// The option sends a command's binary output elsewhere than standard output (cat -o), so a
    /// terminal there is no reason to refuse.
    bool redirects_output = false;
};

class Arguments;

/// One command as the command line knows it. Its help prints as "usage: " synopsis, a blank
/// line, then `description`.
struct Command {
    std::string_view name = {};
    /// The usage line shown after a usage error, "quillmere-dat ls ARCHIVE [--type HEX] [--json]".
    std::string_view synopsis = {};
    /// The command's line in the main help: how it is called ("ls ARCHIVE [--type HEX]") and
    /// what it gives.
    std::string_view outline = {};
    std::string_view summary = {};
    std::string_view description = {};
    /// Every positional argument, all required, in order.
    std::span<const ArgumentSpec> arguments = {};
    std::span<const OptionSpec> options = {};
    /// The command writes binary data to standard output, so it refuses a terminal there.
    bool writes_binary = false;
    /// Runs the command on a command line that parsed; returns the exit status.
    int (*run)(const Arguments& args, const Streams& streams) = nullptr;
};

/// One option as given: its name as the command describes it, and its value (empty for a flag).
struct GivenOption {
    std::string_view name;
    std::string value;
};

/// A parsed command line, handed to the command: the positional arguments, already counted and
/// checked against the command's description, and the options in the order they were given.
class Arguments {
  public:
    Arguments(std::vector<std::string> positional, std::vector<GivenOption> options)
        : positional_(std::move(positional)), options_(std::move(options)) {}

    /// Positional argument `index`; the parser guarantees every one the command describes.
    [[nodiscard]] const std::string& positional(std::size_t index) const {
        return positional_.at(index);
    }
    /// The positional arguments from `index` on: the values of a repeated last argument.
    [[nodiscard]] std::span<const std::string> positionals_from(std::size_t index) const {
        return std::span(positional_).subspan(std::min(index, positional_.size()));
    }
    /// True when option `name` was given at least once.
    [[nodiscard]] bool has(std::string_view name) const;
    /// The value of option `name` (the last one for a repeatable option); nothing when absent.
    [[nodiscard]] std::optional<std::string_view> value(std::string_view name) const;
    /// Every value of option `name`, in the order given.
    [[nodiscard]] std::vector<std::string_view> values(std::string_view name) const;
    /// Every option given, in order.
    [[nodiscard]] std::span<const GivenOption> options() const { return options_; }

  private:
    std::vector<std::string> positional_;
    std::vector<GivenOption> options_;
};

/// What a command gathered to show, or the message of the one "error:" line that ends it.
template <class T>
using Gathered = std::expected<T, std::string>;

/// Writes `text` to standard output and gives kExitOk; a failed write (a full disk, a closed
/// pipe) is reported as "error: cannot write to standard output" and gives kExitFailure.
[[nodiscard]] int emit(const Streams& streams, std::string_view text);

/// Writes "error: " `message` as one line to standard error (and, with `streams.json`, the
/// error document to standard output) and gives kExitFailure.
[[nodiscard]] int fail(const Streams& streams, std::string_view message);

/// The JSON document of a failure of `kind` ("failure" or "usage") with `message`, one line.
[[nodiscard]] std::string error_document(std::string_view kind, std::string_view message);

/// A file id given on the command line: one to eight hexadecimal digits, with or without a
/// "0x"/"0X" prefix ("0x03000001", "3000001"). Anything else gives nothing.
[[nodiscard]] std::optional<std::uint32_t> parse_file_id(std::string_view text) noexcept;

/// A file type (the top byte of an id): one or two hexadecimal digits, with or without "0x"
/// ("03", "0x33", "2"), or the name of a type `type_name` knows, with a blank or a '-'
/// between its words ("animation", "setup-model", "physics script").
[[nodiscard]] std::optional<std::uint8_t> parse_type_byte(std::string_view text) noexcept;

/// The name of file type `type` (a top byte): "animation", "setup model" or "physics script"
/// for the types the library decodes, empty for every other.
[[nodiscard]] std::string_view type_name(std::uint8_t type) noexcept;

/// The check of an argument `parse_file_id` must read.
[[nodiscard]] std::optional<std::string> check_file_id(std::string_view text);

/// The check of an argument `parse_type_byte` must read.
[[nodiscard]] std::optional<std::string> check_type_byte(std::string_view text);

/// A file id as the tool prints it: "0x" and eight upper-case hex digits.
[[nodiscard]] std::string id_text(std::uint32_t id);

/// A file type as the tool prints it: "0x" and two upper-case hex digits.
[[nodiscard]] std::string type_text(std::uint8_t type);

} // namespace quillmere::dat_tool
