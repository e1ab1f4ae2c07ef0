// What the report styles share: totals, the console writer, the choice of style, the log file's
// lines, durations and XML escaping.
#include "detail/report.hpp"

#include <array>
#include <charconv>

namespace quillmere::case_runner::detail {

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
        return make_text_reporter(settings, writer, true);
    case OutputFormat::Json:
        return make_json_reporter(writer);
    case OutputFormat::Junit:
        return make_junit_reporter(settings, writer);
    case OutputFormat::Pretty:
        break;
    }
    return make_text_reporter(settings, writer, false);
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
