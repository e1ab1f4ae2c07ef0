// The manual page and the bash completion of quillmere-dat, made from the command table and the
// commands' own help, so that neither can say other than the tool does.
#pragma once

#include <string>

namespace quillmere::dat_tool {

/// The manual page (roff, section 1): the main help, then one subsection per command with its
/// synopsis and its help text.
[[nodiscard]] std::string render_man_page();

/// A bash completion script: the commands after the program's name, then each command's
/// options (and file names for its arguments).
[[nodiscard]] std::string render_bash_completion();

} // namespace quillmere::dat_tool
