// The runner's options, each written once: names, value, how often, help lines. The parser and
// --help both read this table.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace quillmere::case_runner::detail {

/// Every option, in table order. The parser stores what it finds under these, and the rest of
/// the runner asks for options by them, never by name.
enum class OptionId : std::size_t {
    IncludeIgnored,
    Ignored,
    ForceRunInProcess,
    ExcludeShouldPanic,
    Test,
    Bench,
    List,
    FailFast,
    Help,
    Logfile,
    NoCapture,
    TestThreads,
    Skip,
    Quiet,
    Exact,
    Color,
    Format,
    ShowOutput,
    Unstable,
    ReportTime,
    EnsureTime,
    Shuffle,
    ShuffleSeed,
    NoCaptureAlias,
};

enum class Occurs { AtMostOnce, AnyNumber };
enum class Visibility { Listed, Hidden };

struct OptionSpec {
    OptionId id;
    std::string_view short_name{}; ///< One character, or empty.
    std::string_view long_name{};  ///< Empty for -Z, which has only its short name.
    /// The value as --help names it ("PATH", "auto|always|never"); empty for a flag.
    std::string_view value_name{};
    Occurs occurs = Occurs::AtMostOnce;
    Visibility visibility = Visibility::Listed;
    /// The description in --help, its lines separated by '\n'.
    std::string_view help{};

    [[nodiscard]] constexpr bool takes_value() const noexcept { return !value_name.empty(); }

    /// The name in "given more than once": the long name when there is one.
    [[nodiscard]] constexpr std::string_view main_name() const noexcept {
        return long_name.empty() ? short_name : long_name;
    }
};

// In this order duplicates are reported and --help lists the options. `nocapture` is a hidden
// alias of `no-capture` and counts as an option of its own ("--nocapture --no-capture" is fine).
inline constexpr std::array kOptions{
    OptionSpec{.id = OptionId::IncludeIgnored,
               .long_name = "include-ignored",
               .help = "Run ignored and not ignored tests"},
    OptionSpec{.id = OptionId::Ignored, .long_name = "ignored", .help = "Run only ignored tests"},
    OptionSpec{.id = OptionId::ForceRunInProcess,
               .long_name = "force-run-in-process",
               .help = "Run cases inside the runner's process (they always\nare)"},
    OptionSpec{.id = OptionId::ExcludeShouldPanic,
               .long_name = "exclude-should-panic",
               .help = "Excludes tests marked as expected to fail"},
    OptionSpec{.id = OptionId::Test, .long_name = "test", .help = "Run tests and not benchmarks"},
    OptionSpec{
        .id = OptionId::Bench, .long_name = "bench", .help = "Run benchmarks instead of tests"},
    OptionSpec{.id = OptionId::List, .long_name = "list", .help = "List all tests and benchmarks"},
    OptionSpec{.id = OptionId::FailFast,
               .long_name = "fail-fast",
               .help = "Don't start new tests after the first failure"},
    OptionSpec{.id = OptionId::Help,
               .short_name = "h",
               .long_name = "help",
               .help = "Display this message"},
    OptionSpec{.id = OptionId::Logfile,
               .long_name = "logfile",
               .value_name = "PATH",
               .help = "Write logs to the specified file (deprecated)"},
    OptionSpec{.id = OptionId::NoCapture,
               .long_name = "no-capture",
               .help = "don't capture stdout/stderr of each task, allow\nprinting directly"},
    OptionSpec{.id = OptionId::TestThreads,
               .long_name = "test-threads",
               .value_name = "n_threads",
               .help = "Number of threads used for running tests in parallel"},
    OptionSpec{.id = OptionId::Skip,
               .long_name = "skip",
               .value_name = "FILTER",
               .occurs = Occurs::AnyNumber,
               .help = "Skip tests whose names contain FILTER (this flag can\nbe used multiple "
                       "times)"},
    OptionSpec{.id = OptionId::Quiet,
               .short_name = "q",
               .long_name = "quiet",
               .help = "Display one character per test instead of one line.\nAlias to "
                       "--format=terse"},
    OptionSpec{.id = OptionId::Exact,
               .long_name = "exact",
               .help = "Exactly match filters rather than by substring"},
    OptionSpec{.id = OptionId::Color,
               .long_name = "color",
               .value_name = "auto|always|never",
               .help = "Configure coloring of output:\n"
                       "auto = colorize if stdout is a tty and tests are run\n"
                       "on serially (default);\n"
                       "always = always colorize output;\n"
                       "never = never colorize output;"},
    OptionSpec{.id = OptionId::Format,
               .long_name = "format",
               .value_name = "pretty|terse|json|junit",
               .help = "Configure formatting of output:\n"
                       "pretty = Print verbose output;\n"
                       "terse = Display one character per test;\n"
                       "json = Output a json document;\n"
                       "junit = Output a JUnit document"},
    OptionSpec{.id = OptionId::ShowOutput,
               .long_name = "show-output",
               .help = "Show captured stdout of successful tests"},
    OptionSpec{.id = OptionId::Unstable,
               .short_name = "Z",
               .value_name = "unstable-options",
               .help = "Enable experimental options:\n"
                       "unstable-options = Allow use of experimental features"},
    OptionSpec{.id = OptionId::ReportTime,
               .long_name = "report-time",
               .help = "Show execution time of each test.\n"
                       "Threshold values for colorized output can be\n"
                       "configured via the `QUILLMERE_TEST_TIME`\n"
                       "environment variable.\n"
                       "Expected format of the variable is\n"
                       "`WARN_TIME,CRITICAL_TIME`.\n"
                       "Durations must be specified in milliseconds, e.g.\n"
                       "`500,2000` means that the warn time\n"
                       "is 0.5 seconds, and the critical time is 2 seconds.\n"
                       "The default is `60000,120000`.\n"
                       "Not available for --format=terse"},
    OptionSpec{.id = OptionId::EnsureTime,
               .long_name = "ensure-time",
               .help = "Treat excess of the test execution time limit as\n"
                       "error.\n"
                       "Threshold values for this option can be configured via\n"
                       "the `QUILLMERE_TEST_TIME` environment variable.\n"
                       "`CRITICAL_TIME` here means the limit that should not\n"
                       "be exceeded by test."},
    OptionSpec{
        .id = OptionId::Shuffle, .long_name = "shuffle", .help = "Run tests in random order"},
    OptionSpec{.id = OptionId::ShuffleSeed,
               .long_name = "shuffle-seed",
               .value_name = "SEED",
               .help = "Run tests in random order; seed the random number\ngenerator with SEED"},
    OptionSpec{
        .id = OptionId::NoCaptureAlias, .long_name = "nocapture", .visibility = Visibility::Hidden},
};

inline constexpr std::size_t kOptionCount = kOptions.size();

/// The table row of `id`.
[[nodiscard]] constexpr const OptionSpec& option_spec(OptionId id) noexcept {
    return kOptions[static_cast<std::size_t>(id)];
}

// Row i describes enumerator i, and the last enumerator has its row.
static_assert(
    [] {
        for (std::size_t i = 0; i < kOptions.size(); ++i) {
            if (static_cast<std::size_t>(kOptions[i].id) != i) {
                return false;
            }
        }
        return kOptions.back().id == OptionId::NoCaptureAlias;
    }(),
    "kOptions must list the options in OptionId order");

} // namespace quillmere::case_runner::detail
