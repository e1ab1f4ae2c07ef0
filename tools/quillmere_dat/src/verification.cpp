// The verifier run for a command, and the gate of the writing commands.
#include "verification.hpp"

#include "archive_access.hpp"
#include "quillmere/common/try.hpp"
#include "quillmere/tools/both_ends.hpp"

#include <array>
#include <exception>
#include <iterator>
#include <ostream>
#include <system_error>
#include <thread>

namespace quillmere::dat_tool {
namespace {

// Problems the gate shows before it gives its verdict.
constexpr std::size_t kGateProblemsShown = 10;

// Stretches the two threads of a check share. Each stretch's extents are a run the report merges,
// one head per run: on a scattered archive 8 measured faster than 6, 12 or 16.
constexpr std::size_t kStretches = 8;

// "3 errors", "1 warning".
std::string count_text(std::uint64_t count, std::string_view noun) {
    return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

} // namespace

// The list is cut into `kStretches` stretches of about equal stored bytes, handed out to the two
// threads from both ends until they meet, so both stay busy to the end whatever each file costs
// (decompressing and decoding cost more than reading). Without a helper thread, the caller's
// thread checks them all. What either thread throws (a failed allocation) is thrown again here
// once both are done, never left to end the process.
dat::VerifyReport check_on_two_threads(const dat::Verifier& verifier) {
    const auto stretches = verifier.stretches(kStretches);
    tools::FromBothEnds taking(stretches.size(), 1);
    std::array<std::vector<dat::VerifyPart>, 2> sides;
    std::array<std::exception_ptr, 2> failures;
    // Side 0 takes stretches from the front, side 1 from the back.
    const auto check_side = [&](std::size_t side) noexcept {
        try {
            for (auto taken = taking.take(side); !taken.empty(); taken = taking.take(side)) {
                const dat::Verifier::Stretch& stretch = stretches[taken.first];
                sides[side].push_back(verifier.check_files(stretch.first, stretch.last));
            }
        } catch (...) {
            failures[side] = std::current_exception();
        }
    };
    std::thread helper;
    try {
        helper = std::thread(check_side, 1);
    } catch (const std::system_error&) {
        // No helper thread: the front takes every stretch.
    }
    check_side(0);
    if (helper.joinable()) {
        helper.join();
    }
    for (const auto& failure : failures) {
        if (failure) {
            std::rethrow_exception(failure);
        }
    }
    std::vector<dat::VerifyPart> parts = std::move(sides[0]);
    std::move(sides[1].begin(), sides[1].end(), std::back_inserter(parts));
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
