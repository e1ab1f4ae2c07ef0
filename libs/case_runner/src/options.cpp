// Parsing and validation of the runner's command line, and its help text.
#include "detail/options.hpp"

#include "quillmere/common/text.hpp"

#include <array>
#include <limits>

namespace quillmere::case_runner::detail {

namespace {

enum class HasArg { No, Yes };
enum class Occur { Optional, Multi };

struct OptionSpec {
    std::string_view short_name; // one character or empty
    std::string_view long_name;  // empty for -Z
    HasArg has_arg;
    Occur occur;

    /// The name used in "given more than once": the long name when there is one.
    [[nodiscard]] std::string_view main_name() const {
        return long_name.empty() ? short_name : long_name;
    }
};

// In this order duplicates are reported; it is also the order of the help text. `nocapture` is a
// hidden alias of `no-capture` and counts as an option of its own.
constexpr std::array<OptionSpec, 24> kSpecs{{
    {"", "include-ignored", HasArg::No, Occur::Optional},
    {"", "ignored", HasArg::No, Occur::Optional},
    {"", "force-run-in-process", HasArg::No, Occur::Optional},
    {"", "exclude-should-panic", HasArg::No, Occur::Optional},
    {"", "test", HasArg::No, Occur::Optional},
    {"", "bench", HasArg::No, Occur::Optional},
    {"", "list", HasArg::No, Occur::Optional},
    {"", "fail-fast", HasArg::No, Occur::Optional},
    {"h", "help", HasArg::No, Occur::Optional},
    {"", "logfile", HasArg::Yes, Occur::Optional},
    {"", "no-capture", HasArg::No, Occur::Optional},
    {"", "test-threads", HasArg::Yes, Occur::Optional},
    {"", "skip", HasArg::Yes, Occur::Multi},
    {"q", "quiet", HasArg::No, Occur::Optional},
    {"", "exact", HasArg::No, Occur::Optional},
    {"", "color", HasArg::Yes, Occur::Optional},
    {"", "format", HasArg::Yes, Occur::Optional},
    {"", "show-output", HasArg::No, Occur::Optional},
    {"Z", "", HasArg::Yes, Occur::Optional},
    {"", "report-time", HasArg::No, Occur::Optional},
    {"", "ensure-time", HasArg::No, Occur::Optional},
    {"", "shuffle", HasArg::No, Occur::Optional},
    {"", "shuffle-seed", HasArg::Yes, Occur::Optional},
    {"", "nocapture", HasArg::No, Occur::Optional},
}};

/// An option name as written: `--name` gives a long name, except that a single character after
/// "--" is a short name (`--h` is `-h`); a cluster `-qx` gives short names one character each.
struct Name {
    bool is_long;
    std::string text;
};

std::optional<std::size_t> find_spec(const Name& name) {
    for (std::size_t i = 0; i < kSpecs.size(); ++i) {
        const auto& known = kSpecs[i];
        const std::string_view candidate = name.is_long ? known.long_name : known.short_name;
        if (!candidate.empty() && candidate == name.text) {
            return i;
        }
    }
    return std::nullopt;
}

std::string unrecognized(std::string_view name) {
    return "Unrecognized option: '" + std::string(name) + "'";
}

/// Occurrences of each option: empty optional for a flag, the value otherwise.
using Occurrences = std::array<std::vector<std::optional<std::string>>, kSpecs.size()>;

struct Matches {
    Occurrences values;
    std::vector<std::string> free;

    [[nodiscard]] bool present(std::string_view long_name) const {
        return !values[index(long_name)].empty();
    }
    [[nodiscard]] std::optional<std::string> value(std::string_view long_name) const {
        const auto& occurrences = values[index(long_name)];
        if (occurrences.empty()) {
            return std::nullopt;
        }
        return occurrences.front();
    }
    [[nodiscard]] std::vector<std::string> all_values(std::string_view long_name) const {
        std::vector<std::string> result;
        for (const auto& occurrence : values[index(long_name)]) {
            result.push_back(occurrence.value_or(""));
        }
        return result;
    }
    [[nodiscard]] static std::size_t index(std::string_view name) {
        for (std::size_t i = 0; i < kSpecs.size(); ++i) {
            if (kSpecs[i].long_name == name ||
                (kSpecs[i].long_name.empty() && kSpecs[i].short_name == name)) {
                return i;
            }
        }
        return kSpecs.size() - 1; // unreachable for the names used below
    }
};

std::expected<Matches, std::string> match_options(std::span<const std::string> args) {
    Matches matches;
    std::size_t next = 0;
    while (next < args.size()) {
        const std::string& arg = args[next++];
        if (arg.size() < 2 || arg[0] != '-') {
            matches.free.push_back(arg);
            continue;
        }
        if (arg == "--") {
            matches.free.insert(matches.free.end(),
                                args.begin() + static_cast<std::ptrdiff_t>(next), args.end());
            break;
        }
        std::vector<Name> names;
        std::optional<std::string> inline_value;
        if (arg[1] == '-') {
            const std::string_view tail = std::string_view(arg).substr(2);
            const auto equals = tail.find('=');
            const std::string_view name = tail.substr(0, equals);
            if (equals != std::string_view::npos) {
                inline_value = std::string(tail.substr(equals + 1));
            }
            names.push_back({name.size() != 1, std::string(name)});
        } else {
            std::size_t pos = 1;
            while (pos < arg.size()) {
                // An unknown non-ASCII short option is named whole: one UTF-8 character, or
                // one ill-formed stretch.
                const std::size_t length = common::utf8_sequence_at(arg, pos).length;
                Name name{false, arg.substr(pos, length)};
                const auto known = find_spec(name);
                if (!known) {
                    return std::unexpected(unrecognized(name.text));
                }
                names.push_back(std::move(name));
                pos += length;
                if (kSpecs[*known].has_arg == HasArg::Yes && pos < arg.size()) {
                    inline_value = arg.substr(pos);
                    break;
                }
            }
        }
        for (std::size_t k = 0; k < names.size(); ++k) {
            const auto known = find_spec(names[k]);
            if (!known) {
                return std::unexpected(unrecognized(names[k].text));
            }
            auto& occurrences = matches.values[*known];
            if (kSpecs[*known].has_arg == HasArg::No) {
                if (k + 1 == names.size() && inline_value) {
                    return std::unexpected("Option '" + names[k].text +
                                           "' does not take an argument");
                }
                occurrences.emplace_back(std::nullopt);
            } else if (inline_value) {
                occurrences.emplace_back(std::move(*inline_value));
                inline_value.reset();
            } else if (next < args.size()) {
                // The next argument is the value even when it looks like an option.
                occurrences.emplace_back(args[next++]);
            } else {
                return std::unexpected("Argument to option '" + names[k].text + "' missing");
            }
        }
    }
    for (std::size_t i = 0; i < kSpecs.size(); ++i) {
        if (kSpecs[i].occur != Occur::Multi && matches.values[i].size() > 1) {
            return std::unexpected("Option '" + std::string(kSpecs[i].main_name()) +
                                   "' given more than once");
        }
    }
    return matches;
}

std::string experimental(std::string_view name, std::string_view kind) {
    return "The \"" + std::string(name) + "\" " + std::string(kind) +
           " is only accepted on the nightly compiler with -Z unstable-options";
}

constexpr std::uint64_t kDefaultWarnMs = 60'000;
constexpr std::uint64_t kDefaultCriticalMs = 120'000;

std::chrono::nanoseconds from_millis(std::uint64_t ms) {
    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (ms > kMax / 1'000'000) {
        return std::chrono::nanoseconds::max();
    }
    return std::chrono::nanoseconds(static_cast<std::int64_t>(ms * 1'000'000));
}

/// QUILLMERE_TEST_TIME="WARN_MS,CRITICAL_MS", default 60 s and 120 s.
std::expected<TimeLimits, std::string> time_limits(const EnvLookup& env, bool error_on_excess) {
    TimeLimits limits{from_millis(kDefaultWarnMs), from_millis(kDefaultCriticalMs),
                      error_on_excess};
    const auto setting = env("QUILLMERE_TEST_TIME");
    if (!setting) {
        return limits;
    }
    const auto bad = [&] {
        return std::unexpected("QUILLMERE_TEST_TIME is `" + *setting +
                               "`, should be WARN_MS,CRITICAL_MS in milliseconds with WARN_MS "
                               "not above CRITICAL_MS");
    };
    const auto comma = setting->find(',');
    if (comma == std::string::npos) {
        return bad();
    }
    const auto warn = parse_unsigned(std::string_view(*setting).substr(0, comma));
    const auto critical = parse_unsigned(std::string_view(*setting).substr(comma + 1));
    if (!warn || !critical || *warn > *critical) {
        return bad();
    }
    limits.warn = from_millis(*warn);
    limits.critical = from_millis(*critical);
    return limits;
}

std::expected<Options, std::string> validate(const Matches& matches, const EnvLookup& env) {
    Options options;
    bool allow_experimental = false;
    if (const auto z = matches.value("Z")) {
        if (*z != "unstable-options") {
            return std::unexpected("Unrecognized option to `Z`");
        }
        allow_experimental = true;
    }
    const auto experimental_flag = [&](std::string_view name) -> std::expected<bool, std::string> {
        const bool given = matches.present(name);
        if (given && !allow_experimental) {
            return std::unexpected(experimental(name, "flag"));
        }
        return given;
    };
    const auto flag_into = [&](std::string_view name, bool& target) -> std::optional<std::string> {
        auto given = experimental_flag(name);
        if (!given) {
            return given.error();
        }
        target = *given;
        return std::nullopt;
    };
    if (auto e = flag_into("force-run-in-process", options.force_run_in_process)) {
        return std::unexpected(*e);
    }
    if (auto e = flag_into("exclude-should-panic", options.exclude_should_panic)) {
        return std::unexpected(*e);
    }
    if (auto e = flag_into("fail-fast", options.fail_fast)) {
        return std::unexpected(*e);
    }
    bool report_time = false;
    bool ensure_time = false;
    if (auto e = flag_into("report-time", report_time)) {
        return std::unexpected(*e);
    }
    if (auto e = flag_into("ensure-time", ensure_time)) {
        return std::unexpected(*e);
    }
    if (report_time || ensure_time) {
        auto limits = time_limits(env, ensure_time);
        if (!limits) {
            return std::unexpected(limits.error());
        }
        options.time = *limits;
    }
    if (auto e = flag_into("shuffle", options.shuffle)) {
        return std::unexpected(*e);
    }
    if (const auto seed = matches.value("shuffle-seed")) {
        if (!allow_experimental) {
            return std::unexpected(experimental("shuffle-seed", "option"));
        }
        const auto number = parse_unsigned(*seed);
        if (!number) {
            return std::unexpected(
                "argument for --shuffle-seed must be a number (error: " + number.error() + ")");
        }
        options.shuffle_seed = *number;
    }

    const bool include_ignored = matches.present("include-ignored");
    const bool quiet = matches.present("quiet");
    options.exact = matches.present("exact");
    options.list = matches.present("list");
    options.skip = matches.all_values("skip");
    options.bench = matches.present("bench");
    options.run_tests = !options.bench || matches.present("test");
    options.logfile = matches.value("logfile");
    if (include_ignored && matches.present("ignored")) {
        return std::unexpected(
            "the options --include-ignored and --ignored are mutually exclusive");
    }
    options.run_ignored = include_ignored              ? RunIgnored::Yes
                          : matches.present("ignored") ? RunIgnored::Only
                                                       : RunIgnored::No;
    options.filters = matches.free;
    options.no_capture = matches.present("nocapture") || matches.present("no-capture");
    if (!options.no_capture) {
        const auto setting = env("QUILLMERE_TEST_NOCAPTURE");
        options.no_capture = setting && *setting != "0";
    }
    if (const auto threads = matches.value("test-threads")) {
        const auto number = parse_unsigned(*threads);
        if (!number) {
            return std::unexpected(
                "argument for --test-threads must be a number > 0 (error: " + number.error() + ")");
        }
        if (*number == 0) {
            return std::unexpected("argument for --test-threads must not be 0");
        }
        options.test_threads = static_cast<std::size_t>(*number);
    }
    if (const auto color = matches.value("color")) {
        if (*color == "auto") {
            options.color = ColorChoice::Auto;
        } else if (*color == "always") {
            options.color = ColorChoice::Always;
        } else if (*color == "never") {
            options.color = ColorChoice::Never;
        } else {
            return std::unexpected("argument for --color must be auto, always, or never (was " +
                                   *color + ")");
        }
    }
    const auto format = matches.value("format");
    if (!format) {
        options.format = quiet ? OutputFormat::Terse : OutputFormat::Pretty;
    } else if (*format == "pretty") {
        options.format = OutputFormat::Pretty;
    } else if (*format == "terse") {
        options.format = OutputFormat::Terse;
    } else if (*format == "json" || *format == "junit") {
        if (!allow_experimental) {
            return std::unexpected(experimental(*format, "format"));
        }
        options.format = *format == "json" ? OutputFormat::Json : OutputFormat::Junit;
    } else {
        return std::unexpected("argument for --format must be pretty, terse, json or junit (was " +
                               *format + ")");
    }
    // The default thread count from the environment matters only when cases run.
    if (!options.test_threads && !options.list) {
        if (const auto setting = env("QUILLMERE_TEST_THREADS")) {
            const auto number = parse_unsigned(*setting);
            if (!number || *number == 0) {
                return std::unexpected("QUILLMERE_TEST_THREADS is `" + *setting +
                                       "`, should be a positive integer.");
            }
            options.test_threads = static_cast<std::size_t>(*number);
        }
    }
    options.show_output = matches.present("show-output");
    return options;
}

} // namespace

std::expected<std::uint64_t, std::string> parse_unsigned(std::string_view text) {
    if (text.empty()) {
        return std::unexpected("cannot parse integer from empty string");
    }
    std::string_view digits = text;
    if (text[0] == '+' || text[0] == '-') {
        if (text.size() == 1) {
            return std::unexpected("invalid digit found in string");
        }
        if (text[0] == '+') {
            digits.remove_prefix(1);
        }
    }
    std::uint64_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return std::unexpected("invalid digit found in string");
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
            return std::unexpected("number too large to fit in target type");
        }
        value = value * 10 + digit;
    }
    return value;
}

std::expected<CommandLine, std::string> parse_command_line(std::span<const std::string> args,
                                                           const EnvLookup& env) {
    auto matches = match_options(args);
    if (!matches) {
        return std::unexpected(matches.error());
    }
    if (matches->present("help")) {
        return CommandLine{true, {}};
    }
    auto options = validate(*matches, env);
    if (!options) {
        return std::unexpected(options.error());
    }
    return CommandLine{false, std::move(*options)};
}

namespace {

/// One row of the option list: the flags as written ("-h, --help", "--logfile PATH") and the
/// description, one entry per output line.
struct HelpRow {
    std::string_view flags;
    bool takes_value;
    std::vector<std::string_view> description;
};

constexpr std::size_t kDescriptionColumn = 24;

std::string option_rows() {
    const std::vector<HelpRow> rows{
        {"    --include-ignored", false, {"Run ignored and not ignored tests"}},
        {"    --ignored", false, {"Run only ignored tests"}},
        {"    --force-run-in-process",
         false,
         {"Run cases inside the runner's process (they always", "are)"}},
        {"    --exclude-should-panic", false, {"Excludes tests marked as expected to fail"}},
        {"    --test", false, {"Run tests and not benchmarks"}},
        {"    --bench", false, {"Run benchmarks instead of tests"}},
        {"    --list", false, {"List all tests and benchmarks"}},
        {"    --fail-fast", false, {"Don't start new tests after the first failure"}},
        {"-h, --help", false, {"Display this message"}},
        {"    --logfile PATH", true, {"Write logs to the specified file (deprecated)"}},
        {"    --no-capture",
         false,
         {"don't capture stdout/stderr of each task, allow", "printing directly"}},
        {"    --test-threads n_threads",
         true,
         {"Number of threads used for running tests in parallel"}},
        {"    --skip FILTER",
         true,
         {"Skip tests whose names contain FILTER (this flag can", "be used multiple times)"}},
        {"-q, --quiet",
         false,
         {"Display one character per test instead of one line.", "Alias to --format=terse"}},
        {"    --exact", false, {"Exactly match filters rather than by substring"}},
        {"    --color auto|always|never",
         true,
         {"Configure coloring of output:", "auto = colorize if stdout is a tty and tests are run",
          "on serially (default);", "always = always colorize output;",
          "never = never colorize output;"}},
        {"    --format pretty|terse|json|junit",
         true,
         {"Configure formatting of output:", "pretty = Print verbose output;",
          "terse = Display one character per test;", "json = Output a json document;",
          "junit = Output a JUnit document"}},
        {"    --show-output", false, {"Show captured stdout of successful tests"}},
        {"-Z unstable-options",
         true,
         {"Enable experimental options:", "unstable-options = Allow use of experimental features"}},
        {"    --report-time",
         false,
         {"Show execution time of each test.", "Threshold values for colorized output can be",
          "configured via the `QUILLMERE_TEST_TIME`", "environment variable.",
          "Expected format of the variable is", "`WARN_TIME,CRITICAL_TIME`.",
          "Durations must be specified in milliseconds, e.g.",
          "`500,2000` means that the warn time",
          "is 0.5 seconds, and the critical time is 2 seconds.", "The default is `60000,120000`.",
          "Not available for --format=terse"}},
        {"    --ensure-time",
         false,
         {"Treat excess of the test execution time limit as", "error.",
          "Threshold values for this option can be configured via",
          "the `QUILLMERE_TEST_TIME` environment variable.",
          "`CRITICAL_TIME` here means the limit that should not", "be exceeded by test."}},
        {"    --shuffle", false, {"Run tests in random order"}},
        {"    --shuffle-seed SEED",
         true,
         {"Run tests in random order; seed the random number", "generator with SEED"}},
    };
    const std::string indent(kDescriptionColumn, ' ');
    std::string text;
    for (const auto& row : rows) {
        // A flag without a value keeps a blank after its name; a row too long for the flag
        // column puts its description on the next line.
        std::string flags = "    " + std::string(row.flags) + (row.takes_value ? "" : " ");
        if (flags.size() < kDescriptionColumn) {
            flags.append(kDescriptionColumn - flags.size(), ' ');
        } else {
            flags += "\n" + indent;
        }
        text += flags;
        for (std::size_t i = 0; i < row.description.size(); ++i) {
            if (i != 0) {
                text += indent;
            }
            text += row.description[i];
            text += "\n";
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
