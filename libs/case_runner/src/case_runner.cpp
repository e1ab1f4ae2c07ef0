// The runner: command line, selection and order of the cases, the listing, and the run that
// reports each case as it finishes.
#include "quillmere/case_runner/case_runner.hpp"

#include "detail/log_file.hpp"
#include "detail/options.hpp"
#include "detail/report.hpp"
#include "detail/run.hpp"
#include "detail/scheduler.hpp"
#include "quillmere/common/random.hpp"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace quillmere::case_runner {

namespace detail {

namespace {

constexpr int kFailureStatus = 101;

/// A log file that cannot be created or written ends the run or the listing, with the same
/// words for both.
int log_failure(Console& console, const std::string& error) {
    console.err << "error: io error when listing tests: " << error << std::endl;
    return kFailureStatus;
}

bool matches_filter(const std::string& name, const std::string& filter, bool exact) {
    return exact ? name == filter : name.find(filter) != std::string::npos;
}

bool is_failure(Outcome outcome) {
    return outcome == Outcome::Failed || outcome == Outcome::FailedWithMessage ||
           outcome == Outcome::TimeLimitExceeded;
}

std::uint64_t time_based_seed() {
    const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count());
}

std::string program_base_name(std::string_view program) {
    const auto slash = program.rfind('/');
    return std::string(slash == std::string_view::npos ? program : program.substr(slash + 1));
}

CaseDesc describe(const Case& test_case, const Options& options) {
    // --ignored and --include-ignored run ignored cases as ordinary ones.
    return CaseDesc{test_case.name, test_case.should_fail,
                    test_case.ignored && options.run_ignored == RunIgnored::No};
}

int list_cases(std::span<const Case> cases, const std::vector<std::size_t>& selected,
               const Options& options, LogFile* log, Console& console, std::mutex& console_lock) {
    ConsoleWriter writer(console.out, console_lock);
    ReportSettings settings;
    // A JUnit listing is written like the pretty one.
    settings.format = options.format == OutputFormat::Junit ? OutputFormat::Pretty : options.format;
    const auto reporter = make_reporter(settings, writer);
    reporter->list_start();
    std::size_t ignored = 0;
    for (const auto position : selected) {
        const CaseDesc desc = describe(cases[position], options);
        ignored += desc.ignored ? 1 : 0;
        reporter->list_case(desc);
        if (log) {
            if (auto written = log->write("test " + desc.name + "\n"); !written) {
                return log_failure(console, written.error());
            }
        }
    }
    reporter->list_finish(selected.size(), ignored);
    return 0;
}

// How a run reports: colour only on a terminal and with one case at a time.
ReportSettings report_settings(const Options& options, std::string_view program,
                               const Console& console, bool multithreaded) {
    ReportSettings settings;
    settings.format = options.format;
    settings.use_color =
        options.color == ColorChoice::Always ||
        (options.color == ColorChoice::Auto && console.out_is_terminal && !multithreaded);
    settings.multithreaded = multithreaded;
    settings.time = options.time;
    settings.suite_name = program_base_name(program);
    settings.long_running_after = console.long_running_after;
    return settings;
}

// The descriptions of the cases to run, in the order they run (shuffled with a seed, if asked).
std::vector<CaseDesc> case_order(std::span<const Case> cases, std::vector<std::size_t>& order,
                                 const Options& options, Reporter& reporter) {
    std::optional<std::uint64_t> seed = options.shuffle_seed;
    if (!seed && options.shuffle) {
        seed = time_based_seed();
    }
    reporter.run_start(order.size(), seed);
    if (seed) {
        shuffle_cases(order, cases, *seed);
    }
    std::vector<CaseDesc> descs;
    descs.reserve(order.size());
    for (const auto position : order) {
        descs.push_back(describe(cases[position], options));
    }
    return descs;
}

int run_cases(std::span<const Case> cases, std::vector<std::size_t> order, const Options& options,
              std::string_view program, LogFile* log, Console& console, std::mutex& console_lock) {
    const std::size_t hardware = std::max(1U, std::thread::hardware_concurrency());
    const std::size_t concurrency = options.test_threads.value_or(hardware);
    const bool multithreaded = concurrency > 1;
    // The reporter keeps the settings by reference: they live as long as the run.
    const ReportSettings settings = report_settings(options, program, console, multithreaded);
    ConsoleWriter writer(console.out, console_lock);
    const auto reporter = make_reporter(settings, writer);

    const auto run_start = std::chrono::steady_clock::now();
    RunTotals totals;
    totals.total = order.size();
    totals.filtered_out = cases.size() - order.size();
    totals.show_output = options.show_output;
    const std::vector<CaseDesc> descs = case_order(cases, order, options, *reporter);

    const CaseContext context{console, console_lock, !options.no_capture, options.time};
    Scheduler scheduler(order.size(), context,
                        multithreaded ? std::optional(console.long_running_after) : std::nullopt);
    std::optional<std::string> log_error;
    std::size_t next = 0;
    std::size_t pending = 0;
    bool stop = false;
    while (!stop && (pending > 0 || next < order.size())) {
        while (pending < concurrency && next < order.size()) {
            const std::size_t slot = next++;
            reporter->case_start(descs[slot]);
            if (descs[slot].ignored || !options.run_tests) {
                scheduler.complete(slot, CaseResult{Outcome::Ignored, {}, std::nullopt, {}});
            } else {
                scheduler.start(slot, cases[order[slot]], descs[slot]);
            }
            ++pending;
        }
        const std::size_t slot = scheduler.wait_for_next(
            [&](std::size_t position) { reporter->case_running_long(descs[position]); });
        --pending;
        const CaseResult result = scheduler.take(slot);
        if (log) {
            if (auto written = log->write(log_line(descs[slot], result)); !written) {
                log_error = written.error();
                break;
            }
        }
        reporter->case_result(descs[slot], result, totals);
        totals.record(descs[slot], result);
        stop = options.fail_fast && is_failure(result.outcome);
    }
    if (log_error) {
        scheduler.join_all();
        return log_failure(console, *log_error);
    }
    totals.exec_time = std::chrono::steady_clock::now() - run_start;
    reporter->run_finish(totals);
    // After --fail-fast, cases still running are waited for (their results are dropped): the
    // process must not end under them.
    scheduler.join_all();
    return totals.failed == 0 ? 0 : kFailureStatus;
}

} // namespace

std::vector<std::size_t> select_cases(std::span<const Case> cases, const Options& options) {
    std::vector<std::size_t> selected;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& test_case = cases[i];
        const auto matches = [&](const std::string& filter) {
            return matches_filter(test_case.name, filter, options.exact);
        };
        if (!options.filters.empty() &&
            std::none_of(options.filters.begin(), options.filters.end(), matches)) {
            continue;
        }
        if (std::any_of(options.skip.begin(), options.skip.end(), matches)) {
            continue;
        }
        if (options.exclude_should_panic && test_case.should_fail) {
            continue;
        }
        if (options.run_ignored == RunIgnored::Only && !test_case.ignored) {
            continue;
        }
        selected.push_back(i);
    }
    std::stable_sort(selected.begin(), selected.end(),
                     [&](std::size_t a, std::size_t b) { return cases[a].name < cases[b].name; });
    return selected;
}

void shuffle_cases(std::vector<std::size_t>& order, std::span<const Case> cases,
                   std::uint64_t seed) {
    // FNV-1a over the names, so that the same seed orders a different table differently.
    std::uint64_t names_hash = 0xCBF29CE484222325ULL;
    for (const auto position : order) {
        for (const char c : cases[position].name) {
            names_hash = (names_hash ^ static_cast<unsigned char>(c)) * 0x100000001B3ULL;
        }
        names_hash = (names_hash ^ 0xFF) * 0x100000001B3ULL;
    }
    common::SplitMix64 random(seed ^ names_hash);
    for (std::size_t i = 0; i + 1 < order.size(); ++i) {
        const std::uint64_t remaining = order.size() - i;
        const auto pick = i + static_cast<std::size_t>(random.below(remaining));
        std::swap(order[i], order[pick]);
    }
}

int run_with(std::span<const std::string> args, std::span<const Case> cases, Console& console) {
    const std::string program = args.empty() ? std::string("...") : args.front();
    const auto command_line =
        parse_command_line(args.empty() ? args : args.subspan(1), console.env);
    if (!command_line) {
        console.err << "error: " << command_line.error() << std::endl;
        return kFailureStatus;
    }
    if (command_line->help) {
        console.out << help_text(program) << std::flush;
        return 0;
    }
    const Options& options = command_line->options;
    std::optional<LogFile> log;
    if (options.logfile) {
        // Without a line end, as it has always been written.
        console.err << "warning: `--logfile` is deprecated" << std::flush;
        auto created = LogFile::create(*options.logfile);
        if (!created) {
            return log_failure(console, created.error());
        }
        log.emplace(std::move(*created));
    }
    LogFile* const log_file = log ? &*log : nullptr;
    std::mutex console_lock;
    const auto selected = select_cases(cases, options);
    if (options.list) {
        return list_cases(cases, selected, options, log_file, console, console_lock);
    }
    return run_cases(cases, selected, options, program, log_file, console, console_lock);
}

} // namespace detail

int run(std::span<const std::string> args, std::span<const Case> cases) {
    detail::Console console{std::cout, std::cerr, ::isatty(STDOUT_FILENO) == 1,
                            [](const std::string& name) -> std::optional<std::string> {
                                const char* value = std::getenv(name.c_str());
                                if (value == nullptr) {
                                    return std::nullopt;
                                }
                                return std::string(value);
                            }};
    return detail::run_with(args, cases, console);
}

int run_main(int argc, char** argv, std::span<const Case> cases) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) {
        if (argv[i] != nullptr) {
            args.emplace_back(argv[i]);
        }
    }
    return run(args, cases);
}

} // namespace quillmere::case_runner
