// End-to-end: runs the demo program with fixed arguments and compares its exit status, standard
// output, standard error and log file with golden files (run times and source lines normalised).
// QUILLMERE_UPDATE_GOLDEN=1 rewrites the golden files from the actual output instead.
#include "quillmere/testkit/process.hpp"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Invocation {
    std::string name;
    std::vector<std::string> args; ///< "{log}" stands for a fresh log file path.
    std::vector<std::string> env;
};

// Test logs name an invocation by its name rather than by its bytes.
void PrintTo(const Invocation& invocation, std::ostream* out) {
    *out << invocation.name;
}

using quillmere::testkit::ProcessOutput;
using quillmere::testkit::run_process;

bool is_number_char(char c) {
    return (c >= '0' && c <= '9') || c == '.';
}

/// Replaces each run of digits and dots that stands between `before` and `after` by `placeholder`.
std::string replace_numbers(std::string text, std::string_view before, std::string_view after,
                            std::string_view placeholder) {
    std::size_t pos = 0;
    while ((pos = text.find(before, pos)) != std::string::npos) {
        const std::size_t start = pos + before.size();
        std::size_t end = start;
        while (end < text.size() && is_number_char(text[end])) {
            ++end;
        }
        if (end > start && text.compare(end, after.size(), after) == 0) {
            text.replace(start, end - start, placeholder);
            end = start + placeholder.size();
        }
        pos = end;
    }
    return text;
}

/// Replaces what differs from run to run: durations, and the line and column of a failed check
/// ("failed at FILE:LINE:COLUMN:"; the file stays).
std::string normalise(std::string text) {
    text = replace_numbers(std::move(text), "finished in ", "s", "#.##");
    text = replace_numbers(std::move(text), "<", "s>", "#.###");
    text = replace_numbers(std::move(text), "\"exec_time\": ", "", "#");
    text = replace_numbers(std::move(text), "time=\"", "\"", "#");
    constexpr std::string_view kFailedAt = "failed at ";
    std::size_t pos = 0;
    while ((pos = text.find(kFailedAt, pos)) != std::string::npos) {
        pos += kFailedAt.size();
        const std::size_t colon = text.find(':', pos);
        if (colon == std::string::npos || text.find_first_of(" \n", pos) < colon) {
            continue;
        }
        std::size_t end = colon + 1;
        int numbers = 0;
        while (numbers < 2 && end < text.size() && text[end] >= '0' && text[end] <= '9') {
            while (end < text.size() && text[end] >= '0' && text[end] <= '9') {
                ++end;
            }
            if (end < text.size() && text[end] == ':') {
                ++numbers;
                ++end;
            } else {
                break;
            }
        }
        if (numbers == 2) {
            text.replace(colon + 1, end - colon - 1, "#:#:");
        }
    }
    return text;
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

const std::vector<std::string> kExtra = {"QUILLMERE_DEMO_EXTRA=1"};
const std::string kFailSweep = "QUILLMERE_DEMO_FAIL_SWEEP=1";
const std::string kFailSmoke = "QUILLMERE_DEMO_FAIL_SMOKE=1";
const std::string kExtraCases = "QUILLMERE_DEMO_EXTRA=1";

// Each output was checked against the reference harness running a twin with the same cases;
// the differences are the documented free choices (location line, help descriptions, no
// backtrace note, JUnit class name, log file error text).
const std::vector<Invocation> kInvocations = {
    // Help and rejected command lines.
    {"help", {"--help"}, {}},
    {"help_wins_over_bad_values", {"--test-threads", "0", "-h"}, {}},
    {"parse_error_wins_over_help", {"--help", "--bogus"}, {}},
    {"unknown_short_option_in_cluster", {"-qx"}, {}},
    {"long_option_not_abbreviated", {"--he"}, {}},
    {"value_missing", {"--test-threads"}, {}},
    {"option_given_twice", {"--test-threads", "1", "--test-threads=2"}, {}},
    {"flag_given_a_value", {"--exact=1"}, {}},
    {"unknown_z_value", {"-Z", "foo"}, {}},
    {"values_checked_in_fixed_order", {"--color", "bad", "--test-threads", "0"}, {}},
    {"threads_not_a_number", {"--test-threads", "abc"}, {}},
    {"experimental_flag_without_z", {"--fail-fast"}, {}},
    {"experimental_format_without_z", {"--format", "json"}, {}},
    {"list_validates_options", {"--list", "--color", "bad"}, {}},
    {"bad_thread_setting", {}, {"QUILLMERE_TEST_THREADS=x"}},
    {"bad_time_setting", {"-Zunstable-options", "--report-time"}, {"QUILLMERE_TEST_TIME=5"}},
    // Selection.
    {"all_pass_one_at_a_time", {"--test-threads", "1"}, {}},
    {"filter_selects_smoke", {"smoke"}, {}},
    {"skip_by_substring", {"--skip", "smoke"}, {}},
    {"exact_applies_to_skip", {"--exact", "--skip", "sweep", "--test-threads", "1"}, {}},
    {"exact_filter", {"--exact", "animation_hook_parity_sweep_against_retail_portal_dat"}, {}},
    {"nothing_selected", {"--exact", "smoke"}, {}},
    {"only_ignored", {"--ignored"}, {}},
    {"double_dash_ends_options", {"--", "--list"}, {}},
    // Failures and output capture.
    {"sweep_fails", {"--test-threads", "1"}, {kFailSweep}},
    {"both_fail", {"--test-threads", "1"}, {kFailSmoke, kFailSweep}},
    {"failure_without_capture", {"--test-threads", "1", "--no-capture"}, {kFailSweep}},
    {"capture_off_by_setting", {"--test-threads", "1"}, {kFailSweep, "QUILLMERE_TEST_NOCAPTURE=1"}},
    {"show_output", {"--test-threads", "1", "--show-output"}, {kFailSweep}},
    {"terse", {"-q", "--test-threads", "1"}, {kExtraCases, kFailSweep}},
    {"colour_always", {"--color", "always", "--test-threads", "1"}, {kExtraCases, kFailSweep}},
    {"colour_always_terse", {"--color=always", "-q", "--test-threads", "1"}, {kExtraCases}},
    {"bench_ignores_every_case", {"--bench"}, {}},
    {"bench_with_test_runs_cases", {"--bench", "--test", "--test-threads", "1"}, {}},
    // Ignored cases and cases expected to fail.
    {"extra_cases", {"--test-threads", "1"}, {kExtraCases}},
    {"extra_include_ignored",
     {"--include-ignored", "--show-output", "--test-threads", "1"},
     {kExtraCases}},
    {"extra_only_ignored", {"--ignored"}, {kExtraCases}},
    {"extra_exclude_should_panic",
     {"-Zunstable-options", "--exclude-should-panic", "--test-threads", "1"},
     {kExtraCases}},
    // Listing.
    {"list", {"--list"}, {}},
    {"list_filtered", {"--list", "sweep"}, {}},
    {"list_none", {"--list", "--exact", "x"}, {}},
    {"list_terse", {"--list", "-q"}, {}},
    {"list_json", {"-Zunstable-options", "--list", "--format", "json"}, {kExtraCases}},
    {"list_junit", {"-Zunstable-options", "--list", "--format", "junit"}, {}},
    {"list_ignored_only", {"--list", "--ignored"}, {kExtraCases}},
    // Machine-readable formats.
    {"json",
     {"-Zunstable-options", "--format", "json", "--test-threads", "1"},
     {kExtraCases, kFailSweep}},
    {"json_show_output",
     {"-Zunstable-options", "--format=json", "--show-output", "--test-threads", "1"},
     {kExtraCases}},
    {"junit",
     {"-Zunstable-options", "--format", "junit", "--test-threads", "1"},
     {kExtraCases, kFailSweep}},
    {"junit_show_output",
     {"-Zunstable-options", "--format", "junit", "--show-output", "--test-threads", "1"},
     {kExtraCases}},
    // Experimental options.
    {"fail_fast",
     {"-Zunstable-options", "--fail-fast", "--test-threads", "1"},
     {kExtraCases, kFailSweep}},
    {"report_time",
     {"-Zunstable-options", "--report-time", "--test-threads", "1", "--logfile", "{log}"},
     {kExtraCases, kFailSweep}},
    {"report_time_json",
     {"-Zunstable-options", "--report-time", "--format", "json", "--test-threads", "1"},
     {}},
    {"ensure_time",
     {"-Zunstable-options", "--ensure-time", "--test-threads", "1", "--logfile", "{log}"},
     {kFailSweep, "QUILLMERE_TEST_TIME=0,0"}},
    {"ensure_time_junit",
     {"-Zunstable-options", "--ensure-time", "--format", "junit", "--test-threads", "1"},
     {"QUILLMERE_TEST_TIME=0,0"}},
    {"report_time_colours",
     {"-Zunstable-options", "--report-time", "--color", "always", "--test-threads", "1", "sweep"},
     {"QUILLMERE_TEST_TIME=0,3600000"}},
    {"shuffle_seed",
     {"-Zunstable-options", "--shuffle-seed", "7", "--test-threads", "1"},
     {kExtraCases}},
    {"force_run_in_process",
     {"-Zunstable-options", "--force-run-in-process", "--test-threads", "1"},
     {}},
    // Log file.
    {"logfile", {"--logfile", "{log}", "--test-threads", "1"}, {kExtraCases, kFailSweep}},
    {"logfile_no_capture",
     {"--logfile", "{log}", "--test-threads", "1", "--no-capture", "smoke"},
     {}},
    {"logfile_list", {"--logfile={log}", "--list"}, {}},
    {"logfile_cannot_be_created", {"--logfile", "/nonexistent-quillmere-dir/log.txt"}, {}},
};

class DemoGoldenTest : public testing::TestWithParam<Invocation> {};

TEST_P(DemoGoldenTest, MatchesGoldenOutput) {
    const Invocation& invocation = GetParam();
    const auto log_path =
        std::filesystem::temp_directory_path() /
        ("quillmere_case_runner_" + invocation.name + "_" + std::to_string(::getpid()) + ".log");
    bool uses_log = false;
    std::vector<std::string> argv{"case_runner_demo"};
    for (const auto& arg : invocation.args) {
        const auto at = arg.find("{log}");
        if (at == std::string::npos) {
            argv.push_back(arg);
        } else {
            uses_log = true;
            argv.push_back(arg.substr(0, at) + log_path.string() + arg.substr(at + 5));
        }
    }
    const ProcessOutput output = run_process(QUILLMERE_CASE_RUNNER_DEMO, argv, invocation.env);
    std::string actual = "status: " + std::to_string(output.status) + "\n--- stdout\n" +
                         normalise(output.out) + "--- stderr\n" + normalise(output.err);
    if (uses_log) {
        actual += "--- log\n" + normalise(read_file(log_path));
        std::filesystem::remove(log_path);
    }
    const std::filesystem::path golden =
        std::filesystem::path(QUILLMERE_CASE_RUNNER_GOLDEN_DIR) / (invocation.name + ".txt");
    if (const char* update = std::getenv("QUILLMERE_UPDATE_GOLDEN"); update && *update == '1') {
        std::ofstream(golden, std::ios::binary) << actual;
        GTEST_SKIP() << "golden file rewritten: " << golden;
    }
    ASSERT_TRUE(std::filesystem::exists(golden)) << golden;
    EXPECT_EQ(read_file(golden), actual);
}

INSTANTIATE_TEST_SUITE_P(Invocations, DemoGoldenTest, testing::ValuesIn(kInvocations),
                         [](const testing::TestParamInfo<Invocation>& param_info) {
                             return param_info.param.name;
                         });

TEST(DemoGoldenTest, LogFileWriteErrorStopsTheRun) {
    if (!std::filesystem::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full here";
    }
    const ProcessOutput output =
        run_process(QUILLMERE_CASE_RUNNER_DEMO,
                    {"case_runner_demo", "--logfile", "/dev/full", "--test-threads", "1"}, {});
    EXPECT_EQ(output.status, 101);
    EXPECT_EQ(output.err, "warning: `--logfile` is deprecatederror: io error when listing tests: "
                          "cannot write log file \"/dev/full\": No space left on device (os "
                          "error 28)\n");
    // The first case was announced, then nothing more: no result line, no summary.
    EXPECT_EQ(
        output.out,
        "\nrunning 2 tests\ntest animation_hook_parity_smoke_against_known_retail_files ... ");
}

TEST(DemoGoldenTest, DefaultRunUsesThreadsAndReportsEveryCase) {
    const ProcessOutput output =
        run_process(QUILLMERE_CASE_RUNNER_DEMO, {"case_runner_demo"}, {kFailSweep});
    EXPECT_EQ(output.status, 101);
    // With several threads each result line is written whole, in completion order.
    EXPECT_NE(
        output.out.find("\ntest animation_hook_parity_smoke_against_known_retail_files ... ok\n"),
        std::string::npos);
    EXPECT_NE(output.out.find(
                  "\ntest animation_hook_parity_sweep_against_retail_portal_dat ... FAILED\n"),
              std::string::npos);
    EXPECT_NE(output.out.find("test result: FAILED. 1 passed; 1 failed; 0 ignored; 0 measured; 0 "
                              "filtered out; finished in "),
              std::string::npos);
    EXPECT_EQ(output.err, "");
}

TEST(DemoGoldenTest, ShuffleAnnouncesItsTimeBasedSeed) {
    const ProcessOutput output =
        run_process(QUILLMERE_CASE_RUNNER_DEMO,
                    {"case_runner_demo", "-Zunstable-options", "--shuffle", "--list"}, {});
    EXPECT_EQ(output.status, 0);
    const ProcessOutput run = run_process(
        QUILLMERE_CASE_RUNNER_DEMO, {"case_runner_demo", "-Zunstable-options", "--shuffle"}, {});
    EXPECT_EQ(run.status, 0);
    constexpr std::string_view kStart = "\nrunning 2 tests (shuffle seed: ";
    ASSERT_TRUE(run.out.starts_with(kStart)) << run.out;
    const auto seed_end = run.out.find(")\n", kStart.size());
    ASSERT_NE(seed_end, std::string::npos);
    const std::string seed = run.out.substr(kStart.size(), seed_end - kStart.size());
    EXPECT_FALSE(seed.empty());
    EXPECT_EQ(seed.find_first_not_of("0123456789"), std::string::npos) << seed;
}

} // namespace
