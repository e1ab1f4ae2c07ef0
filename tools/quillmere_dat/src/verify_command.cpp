// quillmere-dat verify: the whole archive checked (directory, every chain, compressed streams,
// the hook-carrying files decoded), on two threads, reported as a summary and a list of problems.
#include "archive_access.hpp"
#include "commands.hpp"
#include "json.hpp"
#include "quillmere/common/try.hpp"
#include "verification.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace quillmere::dat_tool {
namespace {

constexpr std::uint64_t kDefaultMaxProblems = 1000;

struct Figure {
    std::string_view name;
    std::uint64_t value = 0;
};

struct VerifyModel {
    std::string archive;
    // The summary in the order shown, the counts of errors and warnings last.
    std::vector<Figure> summary;
    // The problems shown (at most --max-problems), errors first, each severity by offset.
    std::vector<dat::Problem> problems;
    // Problems found beyond those shown.
    std::uint64_t more = 0;
    bool has_errors = false;
};

Gathered<VerifyModel> gather(const std::string& path, std::uint64_t max_problems) {
    // The verifier keeps only the problems that are shown; it counts them all.
    const auto keep = static_cast<std::size_t>(
        std::min<std::uint64_t>(max_problems, std::numeric_limits<std::size_t>::max()));
    QM_TRY_VOID(require_regular_file(path));
    auto verifier = dat::Verifier::open(path, {.max_stored_problems = keep});
    if (!verifier) {
        return std::unexpected(one_line(verifier.error()));
    }
    dat::VerifyReport report = check_on_two_threads(*verifier);
    const dat::VerifySummary& s = report.summary;
    VerifyModel model;
    model.archive = path;
    model.summary = {
        {"archive_length", s.archive_length},
        {"entries", s.entries},
        {"files_read", s.files_read},
        {"stored_bytes", s.stored_bytes},
        {"decompressed_bytes", s.decompressed_bytes},
        {"compressed_files", s.compressed_files},
        {"directory_nodes", s.directory_nodes},
        {"tree_height", s.tree_height},
        {"free_blocks", s.free_blocks},
        {"unread_bytes", s.unread_bytes},
        {"unreachable_bytes", s.unreachable_bytes},
        {"errors", report.error_count},
        {"warnings", report.warning_count},
    };
    model.problems = std::move(report.problems);
    model.more = report.error_count + report.warning_count - model.problems.size();
    model.has_errors = report.has_errors();
    return model;
}

std::string render_text(const VerifyModel& model) {
    std::string text = "archive: " + model.archive + "\n";
    for (const Figure& figure : model.summary) {
        text += std::string(figure.name) + ": " + std::to_string(figure.value) + "\n";
    }
    if (!model.problems.empty() || model.more != 0) {
        text += "\n";
    }
    for (const dat::Problem& problem : model.problems) {
        text += problem_line(problem) + "\n";
    }
    if (model.more != 0) {
        text += more_line(model.more) + "\n";
    }
    return text;
}

std::string render_json(const VerifyModel& model) {
    auto summary = Json::object();
    for (const Figure& figure : model.summary) {
        summary.set(figure.name, Json::number(figure.value));
    }
    auto problems = Json::array();
    for (const dat::Problem& problem : model.problems) {
        auto row = Json::object();
        row.set("severity", Json::string(dat::severity_name(problem.severity)))
            .set("kind", Json::string(dat::kind_name(problem.kind)))
            .set("id", problem.id ? Json::string(id_text(*problem.id)) : Json())
            .set("offset", problem.offset ? Json::number(*problem.offset) : Json())
            .set("message", Json::string(problem.message));
        problems.push(std::move(row));
    }
    auto doc = Json::object();
    doc.set("archive", Json::string(model.archive))
        .set("summary", std::move(summary))
        .set("problems", std::move(problems))
        .set("more", Json::number(model.more));
    return doc.dump();
}

// A count given on the command line: decimal digits only, up to 2^64 - 1.
std::optional<std::uint64_t> parse_count(std::string_view text) noexcept {
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc{} || stop != end) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::string> check_count(std::string_view text) {
    if (parse_count(text)) {
        return std::nullopt;
    }
    return "invalid problem count '" + std::string(text) +
           "' (expected a whole number from 0 up, such as 1000)";
}

int run_verify(const Arguments& args, const Streams& streams) {
    const auto max_problems =
        args.value("--max-problems").and_then(parse_count).value_or(kDefaultMaxProblems);
    const auto model = gather(args.positional(0), max_problems);
    if (!model) {
        return fail(streams, model.error());
    }
    const int written =
        emit(streams, args.has("--json") ? render_json(*model) : render_text(*model));
    return written != kExitOk || model->has_errors ? kExitFailure : kExitOk;
}

constexpr ArgumentSpec kArguments[] = {{"ARCHIVE"}};
constexpr OptionSpec kOptions[] = {
    {"--json"},
    {"--max-problems", true, false, check_count},
};

// The help text. The kinds it lists come from the library's table of problem kinds, in its
// order; their paragraph is filled to 89 columns like the rest.
constexpr std::string_view kHelpHead =
    "Checks the whole archive: the header, every directory node, every file's block chain read\n"
    "in full, compressed files decompressed, animations, setup models and physics scripts\n"
    "decoded, chains that read the same bytes, the free-block list. Prints a summary, one\n"
    "figure per line, then, after a blank line, one line per problem:\n"
    "\n"
    "  error overlap 0x0A000012 at 1051648: file 0x0A000011 and file 0x0A000012 read ...\n"
    "\n";
constexpr std::string_view kHelpLines =
    "severity, kind, file id, offset in the archive, message. A problem about no one file shows "
    "'-' for the id, one about no one place 'at -'. Errors come first, each severity in order of "
    "offset (those at '-' last).";
constexpr std::string_view kHelpTail =
    "\n"
    "  --json             one JSON document: {archive, summary, problems, more}, each\n"
    "                     problem {severity, kind, id, offset, message} (id and offset may\n"
    "                     be null), more the count of problems not listed\n"
    "  --max-problems N   show at most N problems (default 1000, 0 for none), then\n"
    "                     '\u2026 and M more'; the summary counts them all\n"
    "\n"
    "Exit status: 0 when no error was found (warnings allowed), 1 when one was or the archive\n"
    "cannot be opened as a file at all (one 'error:' line, no report), 2 for bad usage.\n";
constexpr std::size_t kHelpWidth = 89;

// The names of the kinds of `severity`, in table order: "header, node_unreadable, ...".
constexpr std::string kind_names(dat::Severity severity) {
    std::string names;
    for (const dat::ProblemKindInfo& info : dat::kProblemKinds) {
        if (info.severity == severity) {
            names += (names.empty() ? "" : ", ") + std::string(info.name);
        }
    }
    return names;
}

// `text` filled into lines of at most `width` characters, broken at blanks.
constexpr std::string filled(std::string_view text, std::size_t width) {
    std::string out;
    std::size_t line = 0;
    while (!text.empty()) {
        const std::size_t blank = text.find(' ');
        const std::string_view word = text.substr(0, blank);
        text = blank == std::string_view::npos ? std::string_view{} : text.substr(blank + 1);
        if (line != 0 && line + 1 + word.size() > width) {
            out += '\n';
            line = 0;
        } else if (line != 0) {
            out += ' ';
            ++line;
        }
        out += word;
        line += word.size();
    }
    return out + "\n";
}

constexpr std::string help_text() {
    const std::string kinds =
        std::string(kHelpLines) +
        " Errors mean the archive is damaged: " + kind_names(dat::Severity::Error) +
        ". Warnings mean it is odd but reads in full: " + kind_names(dat::Severity::Warning) + ".";
    return std::string(kHelpHead) + filled(kinds, kHelpWidth) + std::string(kHelpTail);
}

constexpr auto kHelp = [] {
    std::array<char, help_text().size()> text{};
    const std::string built = help_text();
    std::copy(built.begin(), built.end(), text.begin());
    return text;
}();

} // namespace

constinit const Command kVerifyCommand{
    .name = "verify",
    .synopsis = "quillmere-dat verify ARCHIVE [--json] [--max-problems N]",
    .outline = "verify ARCHIVE",
    .summary = "check the whole archive and list every problem found",
    .description = std::string_view(kHelp.data(), kHelp.size()),
    .arguments = kArguments,
    .options = kOptions,
    .run = run_verify,
};

} // namespace quillmere::dat_tool
