// The runner: command line, selection, running the cases on threads of their own, the report.
#include "quillmere/case_runner/case_runner.hpp"

#include "detail/options.hpp"
#include "detail/report.hpp"
#include "detail/run.hpp"
#include "detail/streams.hpp"
#include "quillmere/case_runner/checks.hpp"
#include "quillmere/common/random.hpp"
#include "quillmere/common/text.hpp"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <exception>
#include <fcntl.h>
#include <iostream>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace quillmere::case_runner {

namespace detail {

namespace {

constexpr int kFailureStatus = 101;

std::string os_error_text(int code) {
    return std::system_category().message(code) + " (os error " + std::to_string(code) + ")";
}

/// The --logfile file: created (truncated) before the run, one line per finished case.
class LogFile {
  public:
    [[nodiscard]] static std::expected<LogFile, std::string> create(const std::string& path) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) {
            return std::unexpected("cannot create log file " + common::quoted(path) + ": " +
                                   os_error_text(errno));
        }
        return LogFile(fd, path);
    }

    LogFile(LogFile&& other) noexcept
        : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}
    LogFile& operator=(LogFile&&) = delete;
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;
    ~LogFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

    /// Writes all of `text`, retrying when interrupted.
    [[nodiscard]] std::expected<void, std::string> write(std::string_view text) {
        while (!text.empty()) {
            const auto written = ::write(fd_, text.data(), text.size());
            if (written < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return std::unexpected("cannot write log file " + common::quoted(path_) + ": " +
                                       os_error_text(errno));
            }
            text.remove_prefix(static_cast<std::size_t>(written));
        }
        return {};
    }

  private:
    LogFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

    int fd_;
    std::string path_;
};

bool matches_filter(const std::string& name, const std::string& filter, bool exact) {
    return exact ? name == filter : name.find(filter) != std::string::npos;
}

bool is_failure(Outcome outcome) {
    return outcome == Outcome::Failed || outcome == Outcome::FailedWithMessage ||
           outcome == Outcome::TimeLimitExceeded;
}

std::string location_text(const std::source_location& location) {
    return std::string(location.file_name()) + ":" + std::to_string(location.line()) + ":" +
           std::to_string(location.column());
}

struct CaseContext {
    Console& console;
    std::mutex& console_lock;
    bool capture;
    std::optional<TimeLimits> time;
};

/// Runs one case on the calling thread with its own streams and turns whatever it throws into
/// its failure. Never throws.
CaseResult execute(const Case& test_case, const CaseDesc& desc,
                   const CaseContext& context) noexcept {
    CaseResult result;
    bool failed = false;
    std::chrono::nanoseconds elapsed{};
    try {
        std::optional<CaseOutput> output;
        if (context.capture) {
            output.emplace();
        } else {
            output.emplace(context.console.out, context.console.err, context.console_lock);
        }
        {
            const StreamScope scope(output->out(), output->err());
            std::string failure;
            const auto start = std::chrono::steady_clock::now();
            try {
                test_case.body();
            } catch (const CaseFailure& failure_of_check) {
                failed = true;
                failure = "case '" + desc.name + "' failed at " +
                          location_text(failure_of_check.location()) + ":\n" +
                          failure_of_check.message();
            } catch (const std::exception& exception) {
                failed = true;
                failure = "case '" + desc.name + "' failed with an uncaught exception:\n" +
                          exception.what();
            } catch (...) {
                failed = true;
                failure = "case '" + desc.name +
                          "' failed with an uncaught exception:\nexception of unknown type";
            }
            elapsed = std::chrono::steady_clock::now() - start;
            if (failed) {
                output->err() << "\n" << failure << "\n";
            }
        }
        result.output = output->finish();
    } catch (...) {
        // Recording the output itself failed (memory ran out): the case still fails.
        failed = true;
    }
    if (test_case.should_fail) {
        result.outcome = failed ? Outcome::Ok : Outcome::FailedWithMessage;
        if (!failed) {
            result.message = "test did not fail as expected";
        }
    } else {
        result.outcome = failed ? Outcome::Failed : Outcome::Ok;
    }
    if (context.time) {
        result.exec_time = elapsed;
        if (result.outcome == Outcome::Ok && context.time->error_on_excess &&
            elapsed >= context.time->critical) {
            result.outcome = Outcome::TimeLimitExceeded;
        }
    }
    return result;
}

/// Cases running on threads of their own, and the queue of those that have finished.
class Scheduler {
  public:
    explicit Scheduler(std::size_t count) : results_(count), threads_(count) {
        // Reserved up front so that a finishing case never allocates under the lock.
        finished_.reserve(count);
    }
    Scheduler(const Scheduler&) = delete;
    Scheduler& operator=(const Scheduler&) = delete;
    ~Scheduler() { join_all(); }

    /// Runs `job` on a new thread, or right here when no thread can be started.
    template <class Job>
    void start(std::size_t position, Job job) {
        try {
            threads_[position] = std::thread([this, position, job] { complete(position, job()); });
        } catch (...) {
            // No thread to be had (resources or memory ran out): run the case right here.
            complete(position, job());
        }
    }

    /// Records a case that needs no thread (an ignored one).
    void complete(std::size_t position, CaseResult result) noexcept {
        {
            std::lock_guard guard(mutex_);
            results_[position] = std::move(result);
            finished_.push_back(position);
        }
        changed_.notify_one();
    }

    /// The next finished case, waiting until `deadline` at most.
    [[nodiscard]] std::optional<std::size_t>
    next_finished(std::optional<std::chrono::steady_clock::time_point> deadline) {
        std::unique_lock lock(mutex_);
        const auto available = [this] { return taken_ < finished_.size(); };
        if (deadline) {
            if (!changed_.wait_until(lock, *deadline, available)) {
                return std::nullopt;
            }
        } else {
            changed_.wait(lock, available);
        }
        return finished_[taken_++];
    }

    /// The result of a finished case, once its thread has ended.
    [[nodiscard]] CaseResult take(std::size_t position) {
        if (threads_[position].joinable()) {
            threads_[position].join();
        }
        std::lock_guard guard(mutex_);
        return std::move(*results_[position]);
    }

    void join_all() noexcept {
        for (auto& thread : threads_) {
            if (thread.joinable()) {
                thread.join();
            }
        }
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::optional<CaseResult>> results_;
    std::vector<std::size_t> finished_;
    std::size_t taken_ = 0;
    std::vector<std::thread> threads_;
};

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
               const Options& options, Console& console, std::mutex& console_lock) {
    std::optional<LogFile> log;
    if (options.logfile) {
        auto created = LogFile::create(*options.logfile);
        if (!created) {
            console.err << "error: io error when listing tests: " << created.error() << std::endl;
            return kFailureStatus;
        }
        log.emplace(std::move(*created));
    }
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
                console.err << "error: io error when listing tests: " << written.error()
                            << std::endl;
                return kFailureStatus;
            }
        }
    }
    reporter->list_finish(selected.size(), ignored);
    return 0;
}

int run_cases(std::span<const Case> cases, std::vector<std::size_t> order, const Options& options,
              std::string_view program, Console& console, std::mutex& console_lock) {
    std::optional<LogFile> log;
    if (options.logfile) {
        auto created = LogFile::create(*options.logfile);
        if (!created) {
            console.err << "error: io error when listing tests: " << created.error() << std::endl;
            return kFailureStatus;
        }
        log.emplace(std::move(*created));
    }
    const std::size_t hardware = std::max(1U, std::thread::hardware_concurrency());
    const std::size_t concurrency = options.test_threads.value_or(hardware);
    const bool multithreaded = concurrency > 1;

    ReportSettings settings;
    settings.format = options.format;
    settings.use_color =
        options.color == ColorChoice::Always ||
        (options.color == ColorChoice::Auto && console.out_is_terminal && !multithreaded);
    settings.multithreaded = multithreaded;
    settings.time = options.time;
    settings.suite_name = program_base_name(program);
    settings.long_running_after = console.long_running_after;
    ConsoleWriter writer(console.out, console_lock);
    const auto reporter = make_reporter(settings, writer);

    const auto run_start = std::chrono::steady_clock::now();
    RunTotals totals;
    totals.total = order.size();
    totals.filtered_out = cases.size() - order.size();
    totals.show_output = options.show_output;
    std::optional<std::uint64_t> seed = options.shuffle_seed;
    if (!seed && options.shuffle) {
        seed = time_based_seed();
    }
    reporter->run_start(order.size(), seed);
    if (seed) {
        shuffle_cases(order, cases, *seed);
    }
    std::vector<CaseDesc> descs;
    descs.reserve(order.size());
    for (const auto position : order) {
        descs.push_back(describe(cases[position], options));
    }

    const CaseContext context{console, console_lock, !options.no_capture, options.time};
    Scheduler scheduler(order.size());
    std::vector<bool> running(order.size(), false);
    std::deque<std::pair<std::chrono::steady_clock::time_point, std::size_t>> notices;
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
                const Case& test_case = cases[order[slot]];
                const CaseDesc& desc = descs[slot];
                running[slot] = true;
                scheduler.start(slot, [&test_case, &desc, &context] {
                    return execute(test_case, desc, context);
                });
                if (multithreaded) {
                    notices.emplace_back(
                        std::chrono::steady_clock::now() + console.long_running_after, slot);
                }
            }
            ++pending;
        }
        std::optional<std::size_t> finished;
        while (!finished) {
            std::optional<std::chrono::steady_clock::time_point> deadline;
            if (!notices.empty()) {
                deadline = notices.front().first;
            }
            finished = scheduler.next_finished(deadline);
            const auto now = std::chrono::steady_clock::now();
            while (!notices.empty() && notices.front().first <= now) {
                if (running[notices.front().second]) {
                    reporter->case_running_long(descs[notices.front().second]);
                }
                notices.pop_front();
            }
        }
        const std::size_t slot = *finished;
        running[slot] = false;
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
        console.err << "error: io error when listing tests: " << *log_error << std::endl;
        return kFailureStatus;
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
    if (options.logfile) {
        // Without a line end, as it has always been written.
        console.err << "warning: `--logfile` is deprecated" << std::flush;
    }
    std::mutex console_lock;
    const auto selected = select_cases(cases, options);
    if (options.list) {
        return list_cases(cases, selected, options, console, console_lock);
    }
    return run_cases(cases, selected, options, program, console, console_lock);
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
