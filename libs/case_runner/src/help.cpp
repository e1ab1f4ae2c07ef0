// The --help text: the option table laid out in two columns, then the notes.
#include "detail/option_table.hpp"
#include "detail/options.hpp"

#include <string>

namespace quillmere::case_runner::detail {

namespace {

constexpr std::size_t kDescriptionColumn = 24;

/// "-h, --help", "    --logfile PATH", "-Z unstable-options".
std::string flags_of(const OptionSpec& option) {
    std::string flags = option.short_name.empty() ? "    " : "-" + std::string(option.short_name);
    if (!option.long_name.empty()) {
        flags += (option.short_name.empty() ? "--" : ", --") + std::string(option.long_name);
    }
    if (option.takes_value()) {
        flags += " " + std::string(option.value_name);
    }
    return flags;
}

std::string option_rows() {
    const std::string indent(kDescriptionColumn, ' ');
    std::string text;
    for (const auto& option : kOptions) {
        if (option.visibility == Visibility::Hidden) {
            continue;
        }
        // A flag without a value keeps a blank after its name; a row too long for the flag
        // column puts its description on the next line.
        std::string flags = "    " + flags_of(option) + (option.takes_value() ? "" : " ");
        if (flags.size() < kDescriptionColumn) {
            flags.append(kDescriptionColumn - flags.size(), ' ');
        } else {
            flags += "\n" + indent;
        }
        text += flags;
        // Each further line of the description starts in the description column.
        std::string_view description = option.help;
        for (;;) {
            const auto line_end = description.find('\n');
            text += description.substr(0, line_end);
            text += "\n";
            if (line_end == std::string_view::npos) {
                break;
            }
            description.remove_prefix(line_end + 1);
            text += indent;
        }
    }
    return text;
}

constexpr std::string_view kNotes = R"(

The FILTER string is tested against the name of all tests, and only those
tests whose names contain the filter are run. Multiple filter strings may
be passed, which will run all tests matching any of the filters.

By default, all tests are run in parallel. This can be altered with the
--test-threads flag when running tests (set it to 1).

By default, the tests are run in alphabetical order. Use --shuffle to run
the tests in random order. Pass the generated "shuffle seed" to
--shuffle-seed to run the tests in the same order again. Note that
--shuffle and --shuffle-seed do not affect whether the tests are run in
parallel.

All tests have their standard output and standard error captured by default.
This can be overridden with the --no-capture flag to a value other than "0".
Logging is not captured by default.

)";

} // namespace

std::string help_text(std::string_view program) {
    return "Usage: " + std::string(program) + " [OPTIONS] [FILTERS...]\n\nOptions:\n" +
           option_rows() + std::string(kNotes);
}

} // namespace quillmere::case_runner::detail
