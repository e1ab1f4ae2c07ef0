// The quillmere-dat command line: the command table, the main help, the option parser and the
// usage errors. A new command is a row in kCommands and a file of its own.
#include "command_line.hpp"

#include "commands.hpp"
#include "quillmere/common/text.hpp"

#include <algorithm>
#include <exception>
#include <new>
#include <optional>
#include <ostream>
#include <utility>

#ifndef QUILLMERE_VERSION
#define QUILLMERE_VERSION "unknown"
#endif

namespace quillmere::dat_tool {
namespace {

// The commands in the order the main help lists them.
constexpr const Command* kCommands[] = {
    // Looking inside an archive.
    &kInfoCommand,
    &kLsCommand,
    &kCatCommand,
    &kHooksCommand,
    &kDecodeCommand,
    &kEncodeCommand,
    // Testing one: every file and every structural rule.
    &kVerifyCommand,
    // Changing one: out to a directory, back into an archive, a fresh copy.
    &kExtractCommand,
    &kPackCommand,
    &kRepackCommand,
    // Comparing two: what changed.
    &kDiffCommand,
};

constexpr std::string_view kProgram = "quillmere-dat";

constexpr std::string_view kMainHelpHead =
    "quillmere-dat: look inside a portal archive, test it, change it.\n"
    "\n"
    "usage: quillmere-dat COMMAND ARGUMENTS... [OPTIONS]\n"
    "\n"
    "commands:\n";

constexpr std::string_view kMainHelpTail =
    "\n"
    "options:\n"
    "  --json                     one JSON document (info, ls, hooks, verify, diff; what\n"
    "                             extract, pack and repack wrote), a failure included\n"
    "  -h, --help                 this help, or after a command that command's help\n"
    "  --version                  the program's version\n"
    "\n"
    "File ids are hexadecimal, with or without 0x: 0x03000001 and 3000001 are the same id.\n"
    "Exit status: 0 on success, 1 when a lookup, read, decode or write fails (one 'error:' line\n"
    "on standard error) or verify finds an error, 2 for a command line that cannot be run.\n"
    "diff exits as cmp does: 0 when the archives do not differ, 1 when they do, 2 on trouble.\n";

// The width of the first column of the main help's command and option lists.
constexpr std::size_t kOutlineWidth = 25;

} // namespace

std::span<const Command* const> commands() noexcept {
    return kCommands;
}

std::string main_help() {
    std::string text(kMainHelpHead);
    for (const auto* command : kCommands) {
        text += "  ";
        text += common::pad_right(command->outline, kOutlineWidth);
        text += "  ";
        text += command->summary;
        text += "\n";
    }
    text += kMainHelpTail;
    return text;
}

namespace {

void print_help(const Streams& streams, const Command& command) {
    streams.out << "usage: " << command.synopsis << "\n\n" << command.description;
}

int usage_error(const Streams& streams, const Command* command, std::string_view message) {
    if (streams.json) {
        streams.out << error_document("usage", message);
    }
    streams.err << "error: " << message << "\n";
    if (command != nullptr) {
        streams.err << "usage: " << command->synopsis << "\n";
    } else {
        streams.err << "usage: quillmere-dat COMMAND ARGUMENTS... [OPTIONS]; see "
                       "'quillmere-dat --help'\n";
    }
    return kExitUsage;
}

const Command* find_command(std::string_view name) {
    for (const auto* command : kCommands) {
        if (command->name == name) {
            return command;
        }
    }
    return nullptr;
}

// Whether `command` takes --json and it is among `args` before "--".
bool wants_json(const Command& command, std::span<const std::string> args) {
    const bool takes_json = std::any_of(command.options.begin(), command.options.end(),
                                        [](const OptionSpec& o) { return o.name == "--json"; });
    for (const auto& arg : args) {
        if (arg == "--") {
            break;
        }
        if (arg == "--json") {
            return takes_json;
        }
    }
    return false;
}

bool is_help(std::string_view arg) {
    return arg == "-h" || arg == "--help";
}

// The option `arg` names, with the value written into it after "=" (options with a value
// only); no option when the command has none of that name.
struct OptionMatch {
    const OptionSpec* option = nullptr;
    std::optional<std::string_view> inline_value;
};

OptionMatch match_option(const Command& command, std::string_view arg) {
    for (const auto& option : command.options) {
        if (arg == option.name) {
            return {&option, std::nullopt};
        }
        if (option.takes_value && arg.starts_with(option.name) && arg.size() > option.name.size() &&
            arg[option.name.size()] == '=') {
            return {&option, arg.substr(option.name.size() + 1)};
        }
    }
    return {};
}

// Whether option `name` is among `options`.
bool given(const std::vector<GivenOption>& options, std::string_view name) {
    return std::any_of(options.begin(), options.end(),
                       [&](const GivenOption& option) { return option.name == name; });
}

// The positional arguments counted and checked against what `command` takes.
std::expected<void, std::string> check_positional(const Command& command,
                                                  const std::vector<std::string>& positional,
                                                  const std::vector<GivenOption>& options) {
    const auto& wanted = command.arguments;
    const bool repeated = !wanted.empty() && wanted.back().repeated;
    const bool replaced =
        repeated && !wanted.back().or_option.empty() && given(options, wanted.back().or_option);
    const std::size_t required = wanted.size() - (replaced ? 1 : 0);
    if (positional.size() < required) {
        return std::unexpected("missing " + std::string(wanted[positional.size()].name));
    }
    if (positional.size() > wanted.size() && !repeated) {
        return std::unexpected("unexpected argument '" + positional[wanted.size()] + "'");
    }
    for (std::size_t i = 0; i < positional.size(); ++i) {
        const ArgumentSpec& argument = wanted[std::min(i, wanted.size() - 1)];
        if (argument.check != nullptr) {
            if (auto problem = argument.check(positional[i])) {
                return std::unexpected(std::move(*problem));
            }
        }
    }
    return {};
}

} // namespace

std::expected<Arguments, std::string> parse_arguments(const Command& command,
                                                      std::span<const std::string> args) {
    std::vector<std::string> positional;
    std::vector<GivenOption> options;
    bool options_done = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (options_done || arg == "-" || !arg.starts_with("-")) {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options_done = true;
            continue;
        }
        const auto [option, inline_value] = match_option(command, arg);
        if (option == nullptr) {
            return std::unexpected("unknown option '" + arg + "' for '" +
                                   std::string(command.name) + "'");
        }
        if (!option->takes_value) {
            options.push_back({option->name, {}});
            continue;
        }
        const std::string option_name(option->name);
        std::string value;
        if (inline_value) {
            value = *inline_value;
        } else if (i + 1 == args.size()) {
            return std::unexpected("option '" + option_name + "' needs a value");
        } else {
            value = args[++i];
        }
        if (!option->repeatable && given(options, option->name)) {
            return std::unexpected("option '" + option_name + "' given twice");
        }
        if (option->check != nullptr) {
            if (auto problem = option->check(value)) {
                return std::unexpected(std::move(*problem));
            }
        }
        options.push_back({option->name, std::move(value)});
    }
    if (auto checked = check_positional(command, positional, options); !checked) {
        return std::unexpected(std::move(checked).error());
    }
    return Arguments(std::move(positional), std::move(options));
}

namespace {

// The lines that ask the program itself rather than a command: help, help on a command, the
// version. Gives the exit status, or nothing when the first argument is left to name a command.
std::optional<int> run_program_options(std::span<const std::string> args, const Streams& streams) {
    const std::string_view first = args[0];
    if (is_help(first) || first == "help") {
        if (first == "help" && args.size() > 1) {
            if (const auto* command = find_command(args[1])) {
                print_help(streams, *command);
                return kExitOk;
            }
            return usage_error(streams, nullptr, "unknown command '" + args[1] + "'");
        }
        streams.out << main_help();
        return kExitOk;
    }
    if (first == "--version") {
        streams.out << kProgram << " " << QUILLMERE_VERSION << "\n";
        return kExitOk;
    }
    return std::nullopt;
}

// Whether a help option comes before "--": help wins over every other problem of the line.
bool asks_for_help(std::span<const std::string> args) {
    for (const auto& arg : args) {
        if (arg == "--") {
            break;
        }
        if (is_help(arg)) {
            return true;
        }
    }
    return false;
}

// Whether `command` would write binary data to a terminal: an option that sends the output
// elsewhere makes it safe.
bool binary_to_terminal(const Command& command, const Arguments& arguments,
                        const Streams& streams) {
    const auto redirected =
        std::any_of(command.options.begin(), command.options.end(), [&](const OptionSpec& option) {
            return option.redirects_output && arguments.has(option.name);
        });
    return command.writes_binary && streams.out_is_terminal && !redirected;
}

// Runs `command`. Whatever it meets (a failed allocation under a memory limit, say) ends it
// with one error line; unwinding has run the destructors that remove its temporaries.
int run_guarded(const Command& command, const Arguments& arguments, const Streams& streams) {
    try {
        return command.run(arguments, streams);
    } catch (const std::bad_alloc&) {
        return fail(streams, "not enough memory");
    } catch (const std::exception& error) {
        return fail(streams, error.what());
    }
}

} // namespace

int run(std::span<const std::string> args, const Streams& streams) {
    if (args.empty()) {
        return usage_error(streams, nullptr, "no command given");
    }
    if (const auto status = run_program_options(args, streams)) {
        return *status;
    }
    const Command* command = find_command(args[0]);
    if (command == nullptr) {
        return usage_error(streams, nullptr, "unknown command '" + args[0] + "'");
    }

    const auto rest = args.subspan(1);
    // A command that speaks JSON answers in JSON whatever happens, a bad command line included.
    Streams chosen = streams;
    chosen.json = wants_json(*command, rest);
    if (asks_for_help(rest)) {
        print_help(streams, *command);
        return kExitOk;
    }
    auto parsed = parse_arguments(*command, rest);
    if (!parsed) {
        return usage_error(chosen, command, parsed.error());
    }
    if (binary_to_terminal(*command, *parsed, streams)) {
        return usage_error(chosen, command,
                           "refusing to write binary data to a terminal; redirect standard "
                           "output to a file or a pipe");
    }
    return run_guarded(*command, *parsed, chosen);
}

} // namespace quillmere::dat_tool
