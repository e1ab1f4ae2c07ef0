// File ids a command takes in number: given as arguments, or read from a file or standard input
// (--ids-from), one per line.
#pragma once

#include "command.hpp"

#include <cstdint>
#include <istream>
#include <span>
#include <string>
#include <vector>

namespace quillmere::dat_tool {

/// The ids of an id list: one per line, the first word of the line (so that the lines `ls`
/// prints, less its heading, serve as they are); blank lines and what follows a '#' are
/// ignored. Errors: "{shown}:{line}: invalid file id '{word}'".
[[nodiscard]] Gathered<std::vector<std::uint32_t>> read_id_list(std::istream& in,
                                                                const std::string& shown);

/// The ids of a command line: `given` (already checked to be ids), then those of the file
/// `--ids-from` names ("-" for standard input), in that order, each once (a repeated id is
/// kept where it first comes). Errors: a list that cannot be read, or none at all:
/// "no file id given (as ID arguments or with --ids-from)".
[[nodiscard]] Gathered<std::vector<std::uint32_t>>
ids_of(std::span<const std::string> given, const Arguments& args, std::istream* standard_input);

/// The description of --ids-from in a command's help.
inline constexpr std::string_view kIdsFromHelp =
    "  --ids-from FILE   also the ids listed in FILE ('-' for standard input), one per line\n"
    "                    (the first word of each; blank lines and '#' comments ignored)\n";

} // namespace quillmere::dat_tool
