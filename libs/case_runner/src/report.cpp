// The runner's report styles (pretty, terse, json, junit) and the texts they share.
#include "detail/report.hpp"

#include "quillmere/common/text.hpp"

#include <algorithm>
#include <array>
#include <charconv>

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
    static constexpr std::size_t kMarksPerLine = 88;

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
        if (column_ % kMarksPerLine == kMarksPerLine - 1) {
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

/// One JSON object per line.
class JsonReporter final : public Reporter {
  public:
    explicit JsonReporter(ConsoleWriter& writer) : writer_(writer) {}

    void run_start(std::size_t count, std::optional<std::uint64_t> shuffle_seed) override {
        std::string line =
            R"({ "type": "suite", "event": "started", "test_count": )" + std::to_string(count);
        if (shuffle_seed) {
            line += R"(, "shuffle_seed": )" + std::to_string(*shuffle_seed);
        }
        writer_.write(line + " }\n");
    }

    void case_start(const CaseDesc& desc) override {
        writer_.write(R"({ "type": "test", "event": "started", "name": ")" +
                      common::json_escape(desc.name) + "\" }\n");
    }

    void case_running_long(const CaseDesc& desc) override {
        writer_.write(R"({ "type": "test", "event": "timeout", "name": ")" +
                      common::json_escape(desc.name) + "\" }\n");
    }

    void case_result(const CaseDesc& desc, const CaseResult& result,
                     const RunTotals& totals) override {
        std::string_view event = "failed";
        std::string extra;
        switch (result.outcome) {
        case Outcome::Ok:
            event = "ok";
            break;
        case Outcome::Ignored:
            event = "ignored";
            break;
        case Outcome::Failed:
            break;
        case Outcome::FailedWithMessage:
            extra = R"(, "message": ")" + common::json_escape(result.message) + "\"";
            break;
        case Outcome::TimeLimitExceeded:
            extra = R"(, "reason": "time limit exceeded")";
            break;
        }
        std::string line = R"({ "type": "test", "name": ")" + common::json_escape(desc.name) +
                           R"(", "event": ")" + std::string(event) + "\"";
        if (result.exec_time) {
            line += R"(, "exec_time": )" + shortest_seconds(*result.exec_time);
        }
        const bool show = totals.show_output || result.outcome != Outcome::Ok;
        if (show && !result.output.empty()) {
            line += R"(, "stdout": ")" + common::json_escape(common::to_valid_utf8(result.output)) +
                    "\"";
        }
        writer_.write(line + extra + " }\n");
    }

    void run_finish(const RunTotals& totals) override {
        std::string line =
            R"({ "type": "suite", "event": ")" + std::string(totals.failed == 0 ? "ok" : "failed") +
            R"(", "passed": )" + std::to_string(totals.passed) + R"(, "failed": )" +
            std::to_string(totals.failed) + R"(, "ignored": )" + std::to_string(totals.ignored) +
            R"(, "measured": )" + std::to_string(totals.measured) + R"(, "filtered_out": )" +
            std::to_string(totals.filtered_out);
        if (totals.exec_time) {
            line += R"(, "exec_time": )" + shortest_seconds(*totals.exec_time);
        }
        writer_.write(line + " }\n");
    }

    void list_start() override {
        writer_.write("{ \"type\": \"suite\", \"event\": \"discovery\" }\n");
    }

    void list_case(const CaseDesc& desc) override {
        writer_.write(R"({ "type": "test", "event": "discovered", "name": ")" +
                      common::json_escape(desc.name) + R"(", "ignore": )" +
                      (desc.ignored ? "true" : "false") + R"(, "ignore_message": "" })" + "\n");
    }

    void list_finish(std::size_t tests, std::size_t ignored) override {
        writer_.write(R"({ "type": "suite", "event": "completed", "tests": )" +
                      std::to_string(tests) + R"(, "benchmarks": 0, "total": )" +
                      std::to_string(tests) + R"(, "ignored": )" + std::to_string(ignored) +
                      " }\n");
    }

  private:
    ConsoleWriter& writer_;
};

/// One JUnit document on one line, written when the run ends.
class JunitReporter final : public Reporter {
  public:
    JunitReporter(const ReportSettings& settings, ConsoleWriter& writer)
        : class_name_(xml_escape(settings.suite_name)), writer_(writer) {}

    void run_start(std::size_t, std::optional<std::uint64_t>) override {
        writer_.write(R"(<?xml version="1.0" encoding="UTF-8"?>)");
    }

    void case_start(const CaseDesc&) override {}
    void case_running_long(const CaseDesc&) override {}

    void case_result(const CaseDesc& desc, const CaseResult& result,
                     const RunTotals& totals) override {
        if (result.outcome == Outcome::Ignored) {
            return;
        }
        std::string element =
            "<testcase classname=\"" + class_name_ + "\" name=\"" + xml_escape(desc.name) +
            "\" time=\"" + shortest_seconds(result.exec_time.value_or(std::chrono::nanoseconds{})) +
            "\"";
        const std::string system_out =
            result.output.empty()
                ? ""
                : "<system-out>" + cdata(common::to_valid_utf8(result.output)) + "</system-out>";
        switch (result.outcome) {
        case Outcome::Ok:
            if (totals.show_output && !result.output.empty()) {
                element += ">" + system_out + "</testcase>";
            } else {
                element += "/>";
            }
            break;
        case Outcome::Failed:
            element += "><failure type=\"assert\"/>" + system_out + "</testcase>";
            break;
        case Outcome::FailedWithMessage:
            element += "><failure message=\"" + xml_escape(result.message) +
                       "\" type=\"assert\"/>" + system_out + "</testcase>";
            break;
        case Outcome::TimeLimitExceeded:
            element += "><failure type=\"timeout\"/></testcase>";
            break;
        case Outcome::Ignored:
            break;
        }
        cases_ += element;
    }

    void run_finish(const RunTotals& totals) override {
        writer_.write("<testsuites><testsuite name=\"test\" package=\"test\" id=\"0\" errors=\"0\" "
                      "failures=\"" +
                      std::to_string(totals.failed) + "\" tests=\"" + std::to_string(totals.total) +
                      "\" skipped=\"" + std::to_string(totals.ignored) + "\" >" + cases_ +
                      "<system-out/><system-err/></testsuite></testsuites>\n");
    }

    // A listing in this style is written by the pretty reporter.
    void list_start() override {}
    void list_case(const CaseDesc&) override {}
    void list_finish(std::size_t, std::size_t) override {}

  private:
    std::string class_name_;
    ConsoleWriter& writer_;
    std::string cases_;
};

} // namespace

void RunTotals::record(const CaseDesc& desc, const CaseResult& result) {
    switch (result.outcome) {
    case Outcome::Ok:
        ++passed;
        successes.emplace_back(desc.name, result.output);
        break;
    case Outcome::Ignored:
        ++ignored;
        break;
    case Outcome::Failed:
        ++failed;
        failures.emplace_back(desc.name, result.output);
        break;
    case Outcome::FailedWithMessage:
        ++failed;
        failures.emplace_back(desc.name, result.output + "note: " + result.message);
        break;
    case Outcome::TimeLimitExceeded:
        ++failed;
        time_failures.emplace_back(desc.name, result.output);
        break;
    }
}

void ConsoleWriter::write(std::string_view text) {
    std::lock_guard guard(lock_);
    out_.write(text.data(), static_cast<std::streamsize>(text.size()));
    out_.flush();
}

std::unique_ptr<Reporter> make_reporter(const ReportSettings& settings, ConsoleWriter& writer) {
    switch (settings.format) {
    case OutputFormat::Terse:
        return std::make_unique<TextReporter>(settings, writer, true);
    case OutputFormat::Json:
        return std::make_unique<JsonReporter>(writer);
    case OutputFormat::Junit:
        return std::make_unique<JunitReporter>(settings, writer);
    case OutputFormat::Pretty:
        break;
    }
    return std::make_unique<TextReporter>(settings, writer, false);
}

std::string log_line(const CaseDesc& desc, const CaseResult& result) {
    std::string line;
    switch (result.outcome) {
    case Outcome::Ok:
        line = "ok";
        break;
    case Outcome::Failed:
        line = "failed";
        break;
    case Outcome::FailedWithMessage:
        line = "failed: " + result.message;
        break;
    case Outcome::Ignored:
        line = "ignored";
        break;
    case Outcome::TimeLimitExceeded:
        line = "failed (time limit exceeded)";
        break;
    }
    line += " " + desc.name;
    if (result.exec_time) {
        line += " <" + fixed_seconds(*result.exec_time, 3) + "s>";
    }
    return line + "\n";
}

std::string fixed_seconds(std::chrono::nanoseconds duration, int decimals) {
    const double seconds = static_cast<double>(duration.count()) / 1e9;
    std::array<char, 64> buffer{};
    const auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), seconds,
                                         std::chars_format::fixed, decimals);
    return ec == std::errc{} ? std::string(buffer.data(), end) : std::string("?");
}

std::string shortest_seconds(std::chrono::nanoseconds duration) {
    const auto count = duration.count();
    const double seconds = static_cast<double>(count / 1'000'000'000) +
                           static_cast<double>(count % 1'000'000'000) / 1e9;
    std::array<char, 400> buffer{};
    const auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), seconds,
                                         std::chars_format::fixed);
    return ec == std::errc{} ? std::string(buffer.data(), end) : std::string("?");
}

std::string cdata(std::string_view text) {
    const auto replace_all = [](std::string subject, std::string_view from, std::string_view to) {
        std::size_t pos = 0;
        while ((pos = subject.find(from, pos)) != std::string::npos) {
            subject.replace(pos, from.size(), to);
            pos += to.size();
        }
        return subject;
    };
    std::string escaped = replace_all(std::string(text), "]]>", "]]]]><![CDATA[>");
    escaped = replace_all(std::move(escaped), "<?", "<]]><![CDATA[?");
    escaped = replace_all(std::move(escaped), "\n", "]]>&#xA;<![CDATA[");
    escaped = replace_all(std::move(escaped), "<![CDATA[]]>", "");
    return "<![CDATA[" + escaped + "]]>";
}

std::string xml_escape(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            result += "&amp;";
            break;
        case '<':
            result += "&lt;";
            break;
        case '>':
            result += "&gt;";
            break;
        case '"':
            result += "&quot;";
            break;
        case '\'':
            result += "&apos;";
            break;
        case '\n':
            result += "&#xA;";
            break;
        default:
            result.push_back(c);
        }
    }
    return result;
}

} // namespace quillmere::case_runner::detail
