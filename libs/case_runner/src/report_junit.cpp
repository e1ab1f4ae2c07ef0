// The JUnit report style: one document on one line, written when the run ends.
#include "detail/report.hpp"
#include "quillmere/common/text.hpp"

namespace quillmere::case_runner::detail {

namespace {

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

std::unique_ptr<Reporter> make_junit_reporter(const ReportSettings& settings,
                                              ConsoleWriter& writer) {
    return std::make_unique<JunitReporter>(settings, writer);
}

} // namespace quillmere::case_runner::detail
