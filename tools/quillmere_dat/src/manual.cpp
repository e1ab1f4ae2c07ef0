// Writing the manual page and the completion script from the command table.
#include "manual.hpp"

#include "command_line.hpp"

#ifndef QUILLMERE_VERSION
#define QUILLMERE_VERSION "unknown"
#endif

namespace quillmere::dat_tool {
namespace {

// Text as roff shows it literally: backslashes doubled, a leading dot or quote made inert,
// hyphens as the minus sign that options are typed with.
std::string roff_line(std::string_view line) {
    std::string out;
    if (line.starts_with('.') || line.starts_with('\'')) {
        out += "\\&";
    }
    for (const char c : line) {
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            out += "\\-";
        } else {
            out += c;
        }
    }
    return out;
}

// A block of help text, kept as laid out (its option lists are aligned by column).
std::string roff_block(std::string_view text) {
    std::string out = ".nf\n";
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        out += line.empty() ? std::string(".sp") : roff_line(line);
        out += "\n";
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return out + ".fi\n";
}

// The words of a space-separated list, for a bash array.
std::string words(const std::vector<std::string_view>& list) {
    std::string out;
    for (const auto word : list) {
        out += (out.empty() ? "" : " ") + std::string(word);
    }
    return out;
}

} // namespace

std::string render_man_page() {
    std::string page =
        ".TH QUILLMERE\\-DAT 1 \"\" \"quillmere " QUILLMERE_VERSION "\" \"User Commands\"\n"
        ".nh\n"
        ".ad l\n"
        ".SH NAME\n"
        "quillmere\\-dat \\- look inside a portal archive, test it, change it\n"
        ".SH SYNOPSIS\n";
    for (const Command* command : commands()) {
        page += ".br\n" + roff_line(command->synopsis) + "\n";
    }
    page += ".SH DESCRIPTION\n" + roff_block(main_help()) + ".SH COMMANDS\n";
    for (const Command* command : commands()) {
        page += ".SS " + roff_line(command->name) + "\n";
        page += "\\fB" + roff_line(command->synopsis) + "\\fR\n.PP\n";
        page += roff_block(command->description);
    }
    return page;
}

std::string render_bash_completion() {
    std::vector<std::string_view> names;
    std::string cases;
    for (const Command* command : commands()) {
        names.push_back(command->name);
        std::vector<std::string_view> options = {"--help"};
        for (const OptionSpec& option : command->options) {
            options.push_back(option.name);
        }
        cases +=
            "        " + std::string(command->name) + ") options=\"" + words(options) + "\" ;;\n";
    }
    return "# bash completion for quillmere-dat\n"
           "_quillmere_dat() {\n"
           "    local current=${COMP_WORDS[COMP_CWORD]}\n"
           "    if ((COMP_CWORD == 1)); then\n"
           "        COMPREPLY=($(compgen -W \"" +
           words(names) +
           " help --help --version\" -- \"$current\"))\n"
           "        return\n"
           "    fi\n"
           "    local options=\n"
           "    case ${COMP_WORDS[1]} in\n" +
           cases + "        help) COMPREPLY=($(compgen -W \"" + words(names) +
           "\" -- \"$current\")); return ;;\n"
           "    esac\n"
           "    if [[ $current == -* ]]; then\n"
           "        COMPREPLY=($(compgen -W \"$options\" -- \"$current\"))\n"
           "    else\n"
           "        COMPREPLY=($(compgen -f -- \"$current\"))\n"
           "    fi\n"
           "}\n"
           "complete -o filenames -F _quillmere_dat quillmere-dat\n";
}

} // namespace quillmere::dat_tool
