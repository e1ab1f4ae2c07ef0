// The runner's report on standard output in its four styles, and the log file's lines.
#pragma once

#include "detail/options.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillmere::case_runner::detail {

/// A selected case as the report names it.
struct CaseDesc {
    std::string name;
    bool should_fail = false;
    bool ignored = false; ///< Ignored in this run (after --ignored / --include-ignored).
};

enum class Outcome { Ok, Failed, FailedWithMessage, Ignored, TimeLimitExceeded };

/// How one case ended.
struct CaseResult {
    Outcome outcome = Outcome::Ok;
    std::string message;                               ///< For FailedWithMessage.
    std::optional<std::chrono::nanoseconds> exec_time; ///< Only with --report-time/--ensure-time.
    std::string output; ///< Captured output (empty with --no-capture).
};

/// Counters and collected outputs of a run so far.
struct RunTotals {
    std::size_t total = 0;
    std::size_t passed = 0;
    std::size_t failed = 0;
    std::size_t ignored = 0;
    std::size_t measured = 0;
    std::size_t filtered_out = 0;
    std::optional<std::chrono::nanoseconds> exec_time;
    bool show_output = false;
    /// (name, output) in completion order.
    std::vector<std::pair<std::string, std::string>> successes;
    std::vector<std::pair<std::string, std::string>> failures;
    std::vector<std::pair<std::string, std::string>> time_failures;

    /// Counts `result` and keeps the output to show for it.
    void record(const CaseDesc& desc, const CaseResult& result);
};

/// Writes the runner's own text to the console under the console lock, flushing each piece.
class ConsoleWriter {
  public:
    ConsoleWriter(std::ostream& out, std::mutex& lock) noexcept : out_(out), lock_(lock) {}
    void write(std::string_view text);

  private:
    std::ostream& out_;
    std::mutex& lock_;
};

struct ReportSettings {
    OutputFormat format = OutputFormat::Pretty;
    bool use_color = false;
    bool multithreaded = false;
    std::optional<TimeLimits> time;
    std::string suite_name; ///< JUnit class name of every case.
    std::chrono::seconds long_running_after{60};
};

/// One output style. The runner calls the events in order: run_start, then per case
/// case_start ... case_result (case_running_long in between for slow cases), then run_finish;
/// for --list list_start, list_case per case and list_finish.
class Reporter {
  public:
    virtual ~Reporter() = default;
    virtual void run_start(std::size_t count, std::optional<std::uint64_t> shuffle_seed) = 0;
    virtual void case_start(const CaseDesc& desc) = 0;
    virtual void case_running_long(const CaseDesc& desc) = 0;
    virtual void case_result(const CaseDesc& desc, const CaseResult& result,
                             const RunTotals& totals) = 0;
    virtual void run_finish(const RunTotals& totals) = 0;
    virtual void list_start() = 0;
    virtual void list_case(const CaseDesc& desc) = 0;
    virtual void list_finish(std::size_t tests, std::size_t ignored) = 0;
};

/// The reporter of `settings.format` writing through `writer`, which must outlive it.
[[nodiscard]] std::unique_ptr<Reporter> make_reporter(const ReportSettings& settings,
                                                      ConsoleWriter& writer);

// The styles, each in a file of its own; make_reporter picks one of them.
[[nodiscard]] std::unique_ptr<Reporter> make_text_reporter(const ReportSettings& settings,
                                                           ConsoleWriter& writer, bool terse);
[[nodiscard]] std::unique_ptr<Reporter> make_json_reporter(ConsoleWriter& writer);
[[nodiscard]] std::unique_ptr<Reporter> make_junit_reporter(const ReportSettings& settings,
                                                            ConsoleWriter& writer);

/// The log file line of a finished case: "ok NAME", "failed NAME", "ignored NAME",
/// "failed: {message} NAME", "failed (time limit exceeded) NAME", then " <0.000s>" when timed.
[[nodiscard]] std::string log_line(const CaseDesc& desc, const CaseResult& result);

/// `duration` in seconds with `decimals` decimals: "0.00", "1.050".
[[nodiscard]] std::string fixed_seconds(std::chrono::nanoseconds duration, int decimals);

/// `duration` in seconds, shortest text that reads back: "0", "0.00000205", "1.05055039".
[[nodiscard]] std::string shortest_seconds(std::chrono::nanoseconds duration);

/// `text` as CDATA sections on one line: line ends become "&#xA;" between sections, and "]]>"
/// and "<?" are split across sections.
[[nodiscard]] std::string cdata(std::string_view text);

/// `text` escaped for an XML attribute value.
[[nodiscard]] std::string xml_escape(std::string_view text);

} // namespace quillmere::case_runner::detail
