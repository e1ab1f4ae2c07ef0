// The JSON report style: one object per line for each event of the run or the listing.
#include "detail/report.hpp"
#include "quillmere/common/text.hpp"

namespace quillmere::case_runner::detail {

namespace {

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

} // namespace

std::unique_ptr<Reporter> make_json_reporter(ConsoleWriter& writer) {
    return std::make_unique<JsonReporter>(writer);
}

} // namespace quillmere::case_runner::detail
