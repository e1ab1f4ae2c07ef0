// Parsing and validation of the runner's command line (the options come from option_table.hpp).
#include "detail/options.hpp"

#include "detail/option_table.hpp"
#include "quillmere/common/text.hpp"
#include "quillmere/common/try.hpp"

#include <array>
#include <limits>

namespace quillmere::case_runner::detail {

namespace {

/// An option name as written: `--name` gives a long name, except that a single character after
/// "--" is a short name (`--h` is `-h`); a cluster `-qx` gives short names one character each.
struct Name {
    bool is_long;
    std::string text;
};

std::optional<OptionId> find_option(const Name& name) {
    for (const auto& option : kOptions) {
        const std::string_view candidate = name.is_long ? option.long_name : option.short_name;
        if (!candidate.empty() && candidate == name.text) {
            return option.id;
        }
    }
    return std::nullopt;
}

std::string unrecognized(std::string_view name) {
    return "Unrecognized option: '" + std::string(name) + "'";
}

/// What the command line holds: the occurrences of each option (an empty optional for a flag,
/// the value otherwise) and the free arguments (filters).
struct Matches {
    std::array<std::vector<std::optional<std::string>>, kOptionCount> occurrences;
    std::vector<std::string> free;

    [[nodiscard]] const std::vector<std::optional<std::string>>& of(OptionId id) const {
        return occurrences[static_cast<std::size_t>(id)];
    }
    [[nodiscard]] bool present(OptionId id) const { return !of(id).empty(); }
    [[nodiscard]] std::optional<std::string> value(OptionId id) const {
        return present(id) ? of(id).front() : std::nullopt;
    }
    [[nodiscard]] std::vector<std::string> all_values(OptionId id) const {
        std::vector<std::string> result;
        for (const auto& occurrence : of(id)) {
            result.push_back(occurrence.value_or(""));
        }
        return result;
    }
};

// The options one argument names ("--name[=value]", or short options bundled as "-abc", the
// first that takes a value taking the rest as its value), with the value given inline.
struct NamedOptions {
    std::vector<std::pair<Name, OptionId>> names;
    std::optional<std::string> inline_value;
};

std::expected<NamedOptions, std::string> long_option(const std::string& arg) {
    NamedOptions named;
    const std::string_view tail = std::string_view(arg).substr(2);
    const auto equals = tail.find('=');
    const std::string_view text = tail.substr(0, equals);
    if (equals != std::string_view::npos) {
        named.inline_value = std::string(tail.substr(equals + 1));
    }
    Name name{text.size() != 1, std::string(text)};
    const auto known = find_option(name);
    if (!known) {
        return std::unexpected(unrecognized(name.text));
    }
    named.names.emplace_back(std::move(name), *known);
    return named;
}

std::expected<NamedOptions, std::string> short_options(const std::string& arg) {
    NamedOptions named;
    std::size_t pos = 1;
    while (pos < arg.size()) {
        // An unknown non-ASCII short option is named whole: one UTF-8 character, or one
        // ill-formed stretch.
        const std::size_t length = common::utf8_sequence_at(arg, pos).length;
        Name name{false, arg.substr(pos, length)};
        const auto known = find_option(name);
        if (!known) {
            return std::unexpected(unrecognized(name.text));
        }
        named.names.emplace_back(std::move(name), *known);
        pos += length;
        if (option_spec(*known).takes_value() && pos < arg.size()) {
            named.inline_value = arg.substr(pos);
            break;
        }
    }
    return named;
}

// Notes each option of `named`, taking the value of one that wants it inline or from the next
// argument (even when that looks like an option).
std::expected<void, std::string> note_options(NamedOptions named, std::span<const std::string> args,
                                              std::size_t& next, Matches& matches) {
    for (std::size_t k = 0; k < named.names.size(); ++k) {
        const auto& [name, id] = named.names[k];
        auto& occurrences = matches.occurrences[static_cast<std::size_t>(id)];
        if (!option_spec(id).takes_value()) {
            if (k + 1 == named.names.size() && named.inline_value) {
                return std::unexpected("Option '" + name.text + "' does not take an argument");
            }
            occurrences.emplace_back(std::nullopt);
        } else if (named.inline_value) {
            occurrences.emplace_back(std::move(*named.inline_value));
            named.inline_value.reset();
        } else if (next < args.size()) {
            occurrences.emplace_back(args[next++]);
        } else {
            return std::unexpected("Argument to option '" + name.text + "' missing");
        }
    }
    return {};
}

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
        QM_TRY(NamedOptions named, arg[1] == '-' ? long_option(arg) : short_options(arg));
        QM_TRY_VOID(note_options(std::move(named), args, next, matches));
    }
    for (const auto& option : kOptions) {
        if (option.occurs == Occurs::AtMostOnce && matches.of(option.id).size() > 1) {
            return std::unexpected("Option '" + std::string(option.main_name()) +
                                   "' given more than once");
        }
    }
    return matches;
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

std::string experimental(std::string_view name, std::string_view kind) {
    return "The \"" + std::string(name) + "\" " + std::string(kind) +
           " is only accepted on the nightly compiler with -Z unstable-options";
}

/// Whether `-Z unstable-options` was given; any other `-Z` value is refused.
std::expected<bool, std::string> unstable_options(const Matches& matches) {
    const auto z = matches.value(OptionId::Unstable);
    if (z && *z != "unstable-options") {
        return std::unexpected("Unrecognized option to `Z`");
    }
    return z.has_value();
}

/// Whether the experimental flag `id` was given, refusing it without `-Z unstable-options`.
std::expected<bool, std::string> experimental_flag(const Matches& matches, OptionId id,
                                                   bool allowed) {
    const bool given = matches.present(id);
    if (given && !allowed) {
        return std::unexpected(experimental(option_spec(id).long_name, "flag"));
    }
    return given;
}

std::expected<std::optional<std::uint64_t>, std::string> shuffle_seed(const Matches& matches,
                                                                      bool allowed) {
    const auto seed = matches.value(OptionId::ShuffleSeed);
    if (!seed) {
        return std::nullopt;
    }
    if (!allowed) {
        return std::unexpected(experimental("shuffle-seed", "option"));
    }
    const auto number = parse_unsigned(*seed);
    if (!number) {
        return std::unexpected(
            "argument for --shuffle-seed must be a number (error: " + number.error() + ")");
    }
    return *number;
}

std::expected<RunIgnored, std::string> run_ignored(const Matches& matches) {
    const bool include_ignored = matches.present(OptionId::IncludeIgnored);
    const bool only_ignored = matches.present(OptionId::Ignored);
    if (include_ignored && only_ignored) {
        return std::unexpected(
            "the options --include-ignored and --ignored are mutually exclusive");
    }
    return include_ignored ? RunIgnored::Yes : only_ignored ? RunIgnored::Only : RunIgnored::No;
}

std::expected<std::optional<std::size_t>, std::string> test_threads(const Matches& matches) {
    const auto threads = matches.value(OptionId::TestThreads);
    if (!threads) {
        return std::nullopt;
    }
    const auto number = parse_unsigned(*threads);
    if (!number) {
        return std::unexpected(
            "argument for --test-threads must be a number > 0 (error: " + number.error() + ")");
    }
    if (*number == 0) {
        return std::unexpected("argument for --test-threads must not be 0");
    }
    return static_cast<std::size_t>(*number);
}

/// QUILLMERE_TEST_THREADS, the thread count when --test-threads is not given.
std::expected<std::optional<std::size_t>, std::string> threads_setting(const EnvLookup& env) {
    const auto setting = env("QUILLMERE_TEST_THREADS");
    if (!setting) {
        return std::nullopt;
    }
    const auto number = parse_unsigned(*setting);
    if (!number || *number == 0) {
        return std::unexpected("QUILLMERE_TEST_THREADS is `" + *setting +
                               "`, should be a positive integer.");
    }
    return static_cast<std::size_t>(*number);
}

std::expected<ColorChoice, std::string> color_choice(const Matches& matches) {
    const auto color = matches.value(OptionId::Color);
    if (!color || *color == "auto") {
        return ColorChoice::Auto;
    }
    if (*color == "always") {
        return ColorChoice::Always;
    }
    if (*color == "never") {
        return ColorChoice::Never;
    }
    return std::unexpected("argument for --color must be auto, always, or never (was " + *color +
                           ")");
}

std::expected<OutputFormat, std::string> output_format(const Matches& matches, bool allowed) {
    const auto format = matches.value(OptionId::Format);
    if (!format) {
        return matches.present(OptionId::Quiet) ? OutputFormat::Terse : OutputFormat::Pretty;
    }
    if (*format == "pretty") {
        return OutputFormat::Pretty;
    }
    if (*format == "terse") {
        return OutputFormat::Terse;
    }
    if (*format == "json" || *format == "junit") {
        if (!allowed) {
            return std::unexpected(experimental(*format, "format"));
        }
        return *format == "json" ? OutputFormat::Json : OutputFormat::Junit;
    }
    return std::unexpected("argument for --format must be pretty, terse, json or junit (was " +
                           *format + ")");
}

/// The options from the matched command line, each value checked in a fixed order (which is
/// the order of the errors a user sees, whatever the order of the arguments).
std::expected<Options, std::string> validate(const Matches& matches, const EnvLookup& env) {
    Options options;
    QM_TRY(const bool allowed, unstable_options(matches));
    QM_TRY(options.force_run_in_process,
           experimental_flag(matches, OptionId::ForceRunInProcess, allowed));
    QM_TRY(options.exclude_should_panic,
           experimental_flag(matches, OptionId::ExcludeShouldPanic, allowed));
    QM_TRY(options.fail_fast, experimental_flag(matches, OptionId::FailFast, allowed));
    QM_TRY(const bool report_time, experimental_flag(matches, OptionId::ReportTime, allowed));
    QM_TRY(const bool ensure_time, experimental_flag(matches, OptionId::EnsureTime, allowed));
    if (report_time || ensure_time) {
        QM_TRY(options.time, time_limits(env, ensure_time));
    }
    QM_TRY(options.shuffle, experimental_flag(matches, OptionId::Shuffle, allowed));
    QM_TRY(options.shuffle_seed, shuffle_seed(matches, allowed));

    options.exact = matches.present(OptionId::Exact);
    options.list = matches.present(OptionId::List);
    options.skip = matches.all_values(OptionId::Skip);
    options.bench = matches.present(OptionId::Bench);
    options.run_tests = !options.bench || matches.present(OptionId::Test);
    options.logfile = matches.value(OptionId::Logfile);
    options.filters = matches.free;
    options.show_output = matches.present(OptionId::ShowOutput);
    options.no_capture =
        matches.present(OptionId::NoCaptureAlias) || matches.present(OptionId::NoCapture);
    if (!options.no_capture) {
        const auto setting = env("QUILLMERE_TEST_NOCAPTURE");
        options.no_capture = setting && *setting != "0";
    }
    QM_TRY(options.run_ignored, run_ignored(matches));
    QM_TRY(options.test_threads, test_threads(matches));
    QM_TRY(options.color, color_choice(matches));
    QM_TRY(options.format, output_format(matches, allowed));
    // The default thread count from the environment matters only when cases run.
    if (!options.test_threads && !options.list) {
        QM_TRY(options.test_threads, threads_setting(env));
    }
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
    QM_TRY(const Matches matches, match_options(args));
    if (matches.present(OptionId::Help)) {
        return CommandLine{true, {}};
    }
    QM_TRY(Options options, validate(matches, env));
    return CommandLine{false, std::move(options)};
}

} // namespace quillmere::case_runner::detail
