// The quillmere-dat command line: finds the command, answers help and --version, parses the
// command's arguments against its description and reports usage errors.
#pragma once

#include "command.hpp"

#include <expected>
#include <span>
#include <string>

namespace quillmere::dat_tool {

/// Every command, in the order the main help lists them.
[[nodiscard]] std::span<const Command* const> commands() noexcept;

/// The main help (`quillmere-dat --help`).
[[nodiscard]] std::string main_help();

/// Runs one command line (`args` without the program name) and returns the exit status.
[[nodiscard]] int run(std::span<const std::string> args, const Streams& streams);

/// Parses what follows the command name against `command`'s description. Options may come
/// anywhere until "--"; "-" alone is a positional argument. Problems are reported in the order
/// met: an unknown option, an option without its value, an option given twice, a malformed
/// option value; then a missing or an unexpected positional argument; then a malformed one.
/// Gives the usage error's message on failure.
[[nodiscard]] std::expected<Arguments, std::string>
parse_arguments(const Command& command, std::span<const std::string> args);

} // namespace quillmere::dat_tool
