// The runner's command line: its options, their parsing and validation, and the help text.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillmere::case_runner::detail {

enum class RunIgnored { No, Yes, Only };
enum class ColorChoice { Auto, Always, Never };
enum class OutputFormat { Pretty, Terse, Json, Junit };

/// Run-time thresholds of --report-time / --ensure-time.
struct TimeLimits {
    std::chrono::nanoseconds warn;
    std::chrono::nanoseconds critical;
    bool error_on_excess = false; ///< --ensure-time: reaching `critical` fails the case.
};

/// Everything the command line (and the runner's environment settings) decided.
struct Options {
    bool list = false;
    std::vector<std::string> filters;
    bool exact = false;
    bool force_run_in_process = false;
    bool exclude_should_panic = false;
    RunIgnored run_ignored = RunIgnored::No;
    bool run_tests = true; ///< false with --bench alone: every selected case is reported ignored.
    bool bench = false;
    std::optional<std::string> logfile;
    bool no_capture = false;
    ColorChoice color = ColorChoice::Auto;
    OutputFormat format = OutputFormat::Pretty;
    bool shuffle = false;
    std::optional<std::uint64_t> shuffle_seed;
    /// From --test-threads, else from QUILLMERE_TEST_THREADS; unset means one per hardware thread.
    std::optional<std::size_t> test_threads;
    std::vector<std::string> skip;
    std::optional<TimeLimits> time;
    bool fail_fast = false;
    bool show_output = false;
};

/// The parsed command line: either a request for help or the options of a run or a listing.
struct CommandLine {
    bool help = false;
    Options options;
};

/// Reads one environment variable; empty when unset.
using EnvLookup = std::function<std::optional<std::string>(const std::string& name)>;

/// Parses `args` (the command line without the program path). Options and filters mix freely,
/// `--name=value` equals `--name value`, "--" ends the options. On a rejected command line
/// returns the message to print after "error: ". Parse errors come first (in argument order,
/// then duplicates in option-table order); then --help wins; then values are validated in a fixed
/// order whatever their order on the command line.
[[nodiscard]] std::expected<CommandLine, std::string>
parse_command_line(std::span<const std::string> args, const EnvLookup& env);

/// An unsigned decimal number with an optional leading '+', or one of the texts
/// "cannot parse integer from empty string", "invalid digit found in string",
/// "number too large to fit in target type".
[[nodiscard]] std::expected<std::uint64_t, std::string> parse_unsigned(std::string_view text);

/// The full --help text for the program path `program`, ending with an empty line.
[[nodiscard]] std::string help_text(std::string_view program);

} // namespace quillmere::case_runner::detail
