// The pretty and terse report styles: one line or one mark per case, the same closing sections.
#include "detail/report.hpp"
#include "quillmere/common/text.hpp"

#include <algorithm>

namespace quillmere::case_runner::detail {

namespace {

constexpr std::string_view kGreen = "\x1b[32m";
constexpr std::string_view kRed = "\x1b[31m";
constexpr std::string_view kYellow = "\x1b[33m";
constexpr std::string_view kReset = "\x1b[0m";

std::string plural(std::size_t count, std::string_view noun) {
    return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

std::string running_line(std::size_t count, std::optional<std::uint64_t> shuffle_seed) {
    std::string line = "\nrunning " + plural(count, "test");
    if (shuffle_seed) {
        line += " (shuffle seed: " + std::to_string(*shuffle_seed) + ")";
    }
    return line + "\n";
}

std::string long_running_line(const CaseDesc& desc, std::chrono::seconds after) {
    return "test " + desc.name + " has been running for over " + std::to_string(after.count()) +
           " seconds\n";
}

/// The pretty and terse styles: one line or one character per case, the same closing sections.
class TextReporter final : public Reporter {
  public:
    TextReporter(const ReportSettings& settings, ConsoleWriter& writer, bool terse)
        : settings_(settings), writer_(writer), terse_(terse) {}

    void run_start(std::size_t count, std::optional<std::uint64_t> shuffle_seed) override {
        total_ = count;
        writer_.write(running_line(count, shuffle_seed));
    }

    void case_start(const CaseDesc& desc) override {
        // One case at a time, the name goes out before the case runs, so that a hanging case
        // shows; with several at a time the whole line is written when the case ends.
        if (!terse_ && !settings_.multithreaded) {
            writer_.write(name_part(desc));
        }
    }

    void case_running_long(const CaseDesc& desc) override {
        writer_.write(long_running_line(desc, settings_.long_running_after));
    }

    void case_result(const CaseDesc& desc, const CaseResult& result, const RunTotals&) override {
        if (terse_) {
            terse_result(desc, result);
            return;
        }
        std::string line = settings_.multithreaded ? name_part(desc) : std::string();
        switch (result.outcome) {
        case Outcome::Ok:
            line += paint("ok", kGreen);
            break;
        case Outcome::Failed:
        case Outcome::FailedWithMessage:
            line += paint("FAILED", kRed);
            break;
        case Outcome::Ignored:
            line += paint("ignored", kYellow);
            break;
        case Outcome::TimeLimitExceeded:
            line += paint("FAILED (time limit exceeded)", kRed);
            break;
        }
        if (settings_.time && result.exec_time) {
            const std::string time = " <" + fixed_seconds(*result.exec_time, 3) + "s>";
            if (*result.exec_time >= settings_.time->critical) {
                line += paint(time, kRed);
            } else if (*result.exec_time >= settings_.time->warn) {
                line += paint(time, kYellow);
            } else {
                line += time;
            }
        }
        writer_.write(line + "\n");
    }

    void run_finish(const RunTotals& totals) override {
        if (totals.show_output) {
            write_sections(totals.successes, "successes");
        }
        const bool success = totals.failed == 0;
        if (!success) {
            if (!totals.failures.empty()) {
                write_sections(totals.failures, "failures");
            }
            if (!totals.time_failures.empty()) {
                write_sections(totals.time_failures, "failures (time limit exceeded)");
            }
        }
        std::string summary = "\ntest result: ";
        summary += success ? paint("ok", kGreen) : paint("FAILED", kRed);
        summary += ". " + std::to_string(totals.passed) + " passed; " +
                   std::to_string(totals.failed) + " failed; " + std::to_string(totals.ignored) +
                   " ignored; " + std::to_string(totals.measured) + " measured; " +
                   std::to_string(totals.filtered_out) + " filtered out";
        if (totals.exec_time) {
            summary += "; finished in " + fixed_seconds(*totals.exec_time, 2) + "s";
        }
        writer_.write(summary + "\n\n");
    }

    void list_start() override {}

    void list_case(const CaseDesc& desc) override { writer_.write(desc.name + ": test\n"); }

    void list_finish(std::size_t tests, std::size_t) override {
        if (terse_) {
            return;
        }
        writer_.write((tests != 0 ? "\n" : "") + plural(tests, "test") + ", 0 benchmarks\n");
    }

  private:
    // After 87 marks the line gets its progress count, leaving room for " 11704/12853".
    static constexpr std::size_t kMarksPerLine = 87;

    [[nodiscard]] std::string paint(std::string_view text, std::string_view color) const {
        if (!settings_.use_color) {
            return std::string(text);
        }
        return std::string(color) + std::string(text) + std::string(kReset);
    }

    [[nodiscard]] static std::string name_part(const CaseDesc& desc) {
        const bool should_fail_mode = desc.should_fail && !desc.ignored;
        return "test " + desc.name + (should_fail_mode ? " - should panic" : "") + " ... ";
    }

    void terse_result(const CaseDesc& desc, const CaseResult& result) {
        switch (result.outcome) {
        case Outcome::Ok:
            mark(".", kGreen);
            break;
        case Outcome::Ignored:
            mark("i", kYellow);
            break;
        case Outcome::Failed:
        case Outcome::FailedWithMessage:
        case Outcome::TimeLimitExceeded:
            if (column_ != 0) {
                progress();
            }
            ++count_;
            writer_.write(desc.name + " --- " + paint("FAILED", kRed) + "\n");
            break;
        }
    }

    void mark(std::string_view symbol, std::string_view color) {
        writer_.write(paint(symbol, color));
        ++count_;
        ++column_;
        if (column_ == kMarksPerLine) {
            progress();
        }
    }

    void progress() {
        writer_.write(" " + std::to_string(count_) + "/" + std::to_string(total_) + "\n");
        column_ = 0;
    }

    /// "\n{heading}:\n", the outputs as "---- NAME stdout ----" sections, then the heading again
    /// and the sorted names.
    void write_sections(const std::vector<std::pair<std::string, std::string>>& entries,
                        std::string_view heading) {
        const std::string header = "\n" + std::string(heading) + ":\n";
        std::string sections;
        std::vector<std::string> names;
        for (const auto& [name, output] : entries) {
            names.push_back(name);
            if (!output.empty()) {
                sections +=
                    "---- " + name + " stdout ----\n" + common::to_valid_utf8(output) + "\n";
            }
        }
        std::string text = header;
        if (!sections.empty()) {
            text += "\n" + sections;
        }
        text += header;
        std::sort(names.begin(), names.end());
        for (const auto& name : names) {
            text += "    " + name + "\n";
        }
        writer_.write(text);
    }

    const ReportSettings& settings_;
    ConsoleWriter& writer_;
    bool terse_;
    std::size_t total_ = 0;
    std::size_t count_ = 0;
    std::size_t column_ = 0;
};

} // namespace

std::unique_ptr<Reporter> make_text_reporter(const ReportSettings& settings, ConsoleWriter& writer,
                                             bool terse) {
    return std::make_unique<TextReporter>(settings, writer, terse);
}

} // namespace quillmere::case_runner::detail
