// The verifier run for a command, and the gate of the writing commands.
#include "verification.hpp"

#include "archive_access.hpp"
#include "quillmere/common/try.hpp"

#include <exception>
#include <optional>
#include <ostream>
#include <system_error>
#include <thread>

namespace quillmere::dat_tool {
namespace {

// Problems the gate shows before it gives its verdict.
constexpr std::size_t kGateProblemsShown = 10;

// "3 errors", "1 warning".
std::string count_text(std::uint64_t count, std::string_view noun) {
    return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

} // namespace

// Without a helper thread, `finish` checks the second stretch itself. What either thread throws
// (a failed allocation) is thrown again here once both are done, never left to end the process.
dat::VerifyReport check_on_two_threads(const dat::Verifier& verifier) {
    const auto halves = verifier.stretches(2);
    std::optional<dat::VerifyPart> second;
    std::exception_ptr helper_failure;
    std::thread helper;
    try {
        helper = std::thread([&] {
            try {
                second.emplace(verifier.check_files(halves[1].first, halves[1].last));
            } catch (...) {
                helper_failure = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        // No helper thread: the second stretch is left to finish.
    }
    std::vector<dat::VerifyPart> parts;
    std::exception_ptr own_failure;
    try {
        parts.push_back(verifier.check_files(halves[0].first, halves[0].last));
    } catch (...) {
        own_failure = std::current_exception();
    }
    if (helper.joinable()) {
        helper.join();
    }
    for (const auto& failure : {own_failure, helper_failure}) {
        if (failure) {
            std::rethrow_exception(failure);
        }
    }
    if (second) {
        parts.push_back(std::move(*second));
    }
    return verifier.finish(std::move(parts));
}

std::string problem_line(const dat::Problem& problem) {
    return std::string(dat::severity_name(problem.severity)) + " " +
           std::string(dat::kind_name(problem.kind)) + " " +
           (problem.id ? id_text(*problem.id) : "-") + " at " +
           (problem.offset ? std::to_string(*problem.offset) : "-") + ": " + problem.message;
}

std::string more_line(std::uint64_t more) {
    return "\u2026 and " + std::to_string(more) + " more";
}

Gathered<GateVerdict> check_before_writing(const std::string& archive, bool in_place, bool force,
                                           const Streams& streams) {
    QM_TRY_VOID(require_regular_file(archive));
    auto verifier =
        dat::Verifier::open(archive, {.max_stored_problems = kGateProblemsShown, .decode = false});
    if (!verifier) {
        return std::unexpected(one_line(verifier.error()));
    }
    const dat::VerifyReport report = check_on_two_threads(*verifier);
    for (const dat::Problem& problem : report.problems) {
        streams.err << problem_line(problem) << "\n";
    }
    const std::uint64_t found = report.error_count + report.warning_count;
    if (found > report.problems.size()) {
        streams.err << more_line(found - report.problems.size()) << "\n";
    }
    const bool refused = in_place ? found != 0 : report.has_errors();
    if (!refused || force) {
        return GateVerdict{report.has_errors()};
    }
    std::string counts;
    if (report.has_errors()) {
        counts = count_text(report.error_count, "error");
    }
    if (in_place && report.warning_count != 0) {
        counts += (counts.empty() ? "" : " and ") + count_text(report.warning_count, "warning");
    }
    return std::unexpected(archive + " has " + counts + "; nothing was written" +
                           (in_place && !report.has_errors()
                                ? ", since writing an archive in place needs one without problems"
                                : "") +
                           " (quillmere-dat verify " + archive +
                           " lists them; --force copies what can be read)");
}

} // namespace quillmere::dat_tool
