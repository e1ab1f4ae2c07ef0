// The runner in-process: cases on two threads, capture, whole lines without capture, order,
// failures of any kind, --fail-fast (also over a time limit), colour, terse progress, selection
// and shuffling.
#include "detail/run.hpp"
#include "quillmere/case_runner/case_runner.hpp"
#include "quillmere/case_runner/checks.hpp"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <iostream>
#include <mutex>
#include <new>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace quillmere::case_runner::detail {
namespace {

using namespace std::chrono_literals;

struct Harness {
    std::ostringstream out;
    std::ostringstream err;
    Console console{out, err, false,
                    [](const std::string&) { return std::optional<std::string>(); }};

    int run(std::vector<std::string> args, const std::vector<Case>& cases) {
        args.insert(args.begin(), "prog");
        return run_with(args, cases, console);
    }
};

/// Waits until `count` reaches `target`, for five seconds at most.
bool wait_for(const std::atomic<int>& count, int target) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (count.load() < target) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

constexpr int kLines = 400;

TEST(CaseRunnerTest, CapturesEachCaseOnItsOwnWhileTwoRunAtTheSameTime) {
    std::atomic<int> started{0};
    const auto writer = [&](std::string tag) {
        return [&started, tag] {
            ++started;
            require(wait_for(started, 2), "the two cases did not run at the same time");
            for (int i = 0; i < kLines; ++i) {
                out() << tag << " out " << i << "\n";
                err() << tag << " err " << i << "\n";
            }
            fail(tag + " done");
        };
    };
    Harness harness;
    EXPECT_EQ(
        harness.run({"--test-threads", "2"}, {{"a_case", writer("A")}, {"b_case", writer("B")}}),
        101);
    const std::string report = harness.out.str();
    for (const std::string tag : {"A", "B"}) {
        std::string expected =
            "---- " + std::string(tag == "A" ? "a_case" : "b_case") + " stdout ----\n";
        for (int i = 0; i < kLines; ++i) {
            expected +=
                tag + " out " + std::to_string(i) + "\n" + tag + " err " + std::to_string(i) + "\n";
        }
        expected += "\ncase '" + std::string(tag == "A" ? "a_case" : "b_case") + "' failed at ";
        EXPECT_NE(report.find(expected), std::string::npos) << tag;
        EXPECT_NE(report.find(":\n" + tag + " done\n"), std::string::npos);
    }
    EXPECT_NE(report.find("test result: FAILED. 0 passed; 2 failed;"), std::string::npos);
    EXPECT_EQ(harness.err.str(), "");
}

TEST(CaseRunnerTest, WithoutCaptureLinesOfConcurrentCasesAreNeverTorn) {
    std::atomic<int> started{0};
    const auto writer = [&](char tag) {
        return [&started, tag] {
            ++started;
            require(wait_for(started, 2), "the two cases did not run at the same time");
            for (int i = 0; i < kLines; ++i) {
                const std::string line =
                    std::string(1, tag) + " line " + std::to_string(i) + " " + std::string(40, tag);
                // One character at a time, so that a torn line would be likely.
                for (const char c : line) {
                    (i % 2 == 0 ? out() : err()) << c;
                    if (c == ' ') {
                        std::this_thread::yield();
                    }
                }
                (i % 2 == 0 ? out() : err()) << '\n';
            }
        };
    };
    Harness harness;
    EXPECT_EQ(harness.run({"--no-capture", "--test-threads", "2"},
                          {{"a_case", writer('a')}, {"b_case", writer('b')}}),
              0);
    std::multiset<std::string> seen;
    for (const auto& stream : {harness.out.str(), harness.err.str()}) {
        for (const auto& line : lines_of(stream)) {
            if (line.rfind("a ", 0) == 0 || line.rfind("b ", 0) == 0) {
                seen.insert(line);
            }
        }
    }
    std::multiset<std::string> expected;
    for (const char tag : {'a', 'b'}) {
        for (int i = 0; i < kLines; ++i) {
            expected.insert(std::string(1, tag) + " line " + std::to_string(i) + " " +
                            std::string(40, tag));
        }
    }
    EXPECT_EQ(seen, expected);
    // Only whole lines were written: nothing but the cases' lines, the result lines and the
    // summary appear.
    for (const auto& line : lines_of(harness.out.str())) {
        const bool known = line.empty() || line.rfind("a line ", 0) == 0 ||
                           line.rfind("b line ", 0) == 0 || line.rfind("test ", 0) == 0 ||
                           line == "running 2 tests";
        EXPECT_TRUE(known) << line;
    }
}

TEST(CaseRunnerTest, WithoutCaptureAnUnfinishedLastLineIsPassedOnWhenTheCaseEnds) {
    Harness harness;
    EXPECT_EQ(harness.run({"--no-capture", "--test-threads", "1"},
                          {{"partial", [] { err() << "no line end"; }}}),
              0);
    EXPECT_EQ(harness.err.str(), "no line end");
    // A long line without a line end is passed on in pieces rather than held without bound.
    Harness long_line;
    const std::string huge(300 * 1024, 'x');
    EXPECT_EQ(long_line.run({"--no-capture"}, {{"long", [&] { out() << huge; }}}), 0);
    EXPECT_NE(long_line.out.str().find(huge), std::string::npos);
}

TEST(CaseRunnerTest, StreamsOutsideACaseAreTheProcessStreams) {
    EXPECT_EQ(&out(), &std::cout);
    EXPECT_EQ(&err(), &std::cerr);
    const std::ostream* inside_out = nullptr;
    const std::ostream* inside_err = nullptr;
    Harness harness;
    EXPECT_EQ(harness.run({}, {{"record",
                                [&] {
                                    inside_out = &out();
                                    inside_err = &err();
                                }}}),
              0);
    EXPECT_NE(inside_out, &std::cout);
    EXPECT_NE(inside_err, &std::cerr);
    EXPECT_EQ(&out(), &std::cout);
}

TEST(CaseRunnerTest, RunsCasesInAscendingNameOrder) {
    std::vector<std::string> ran;
    const auto record = [&](std::string name) { return [&ran, name] { ran.push_back(name); }; };
    Harness harness;
    EXPECT_EQ(harness.run({"--test-threads", "1"},
                          {{"c", record("c")}, {"a", record("a")}, {"b", record("b")}}),
              0);
    EXPECT_EQ(ran, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_NE(harness.out.str().find("test a ... ok\ntest b ... ok\ntest c ... ok\n"),
              std::string::npos);
}

TEST(CaseRunnerTest, AnyExceptionFailsOnlyItsOwnCase) {
    Harness harness;
    const int status =
        harness.run({"--test-threads", "2"}, {{"bad_alloc", [] { throw std::bad_alloc(); }},
                                              {"fine", [] { out() << "fine ran\n"; }},
                                              {"no_body", {}},
                                              {"thrown_int", [] { throw 42; }}});
    EXPECT_EQ(status, 101);
    const std::string report = harness.out.str();
    EXPECT_NE(report.find("case 'bad_alloc' failed with an uncaught exception:\nstd::bad_alloc\n"),
              std::string::npos);
    EXPECT_NE(
        report.find(
            "case 'thrown_int' failed with an uncaught exception:\nexception of unknown type\n"),
        std::string::npos);
    EXPECT_NE(report.find("case 'no_body' failed with an uncaught exception:\nbad_function_call\n"),
              std::string::npos);
    EXPECT_NE(report.find("test result: FAILED. 1 passed; 3 failed; 0 ignored"), std::string::npos);
}

TEST(CaseRunnerTest, FailFastStartsNoNewCaseButWaitsForRunningOnes) {
    for (const std::string threads : {"1", "2"}) {
        std::atomic<bool> slow_finished{false};
        std::atomic<bool> last_started{false};
        Harness harness;
        const int status =
            harness.run({"-Zunstable-options", "--fail-fast", "--test-threads", threads},
                        {{"a_fails", [] { fail("first failure"); }},
                         {"b_slow",
                          [&] {
                              std::this_thread::sleep_for(100ms);
                              slow_finished = true;
                          }},
                         {"c_last", [&] { last_started = true; }}});
        EXPECT_EQ(status, 101);
        EXPECT_FALSE(last_started) << threads;
        // With two threads the slow case was already running: it is waited for, not counted.
        EXPECT_EQ(slow_finished.load(), threads == "2");
        EXPECT_NE(harness.out.str().find("test result: FAILED. 0 passed; 1 failed; 0 ignored; 0 "
                                         "measured; 0 filtered out"),
                  std::string::npos)
            << harness.out.str();
        EXPECT_EQ(harness.out.str().find("b_slow ..."), std::string::npos);
    }
}

TEST(CaseRunnerTest, FailFastStopsAtTheFirstCaseOverItsTimeLimit) {
    std::atomic<bool> later_started{false};
    Harness harness;
    harness.console.env = [](const std::string& name) -> std::optional<std::string> {
        if (name == "QUILLMERE_TEST_TIME") {
            return "0,1"; // a case taking a millisecond or more is over its limit
        }
        return std::nullopt;
    };
    const int status =
        harness.run({"-Zunstable-options", "--ensure-time", "--fail-fast", "--test-threads", "1"},
                    {{"a_slow", [] { std::this_thread::sleep_for(20ms); }},
                     {"b_later", [&] { later_started = true; }}});
    EXPECT_EQ(status, 101);
    EXPECT_FALSE(later_started);
    const std::string report = harness.out.str();
    EXPECT_NE(report.find("test a_slow ... FAILED (time limit exceeded) <"), std::string::npos)
        << report;
    EXPECT_NE(report.find("test result: FAILED. 0 passed; 1 failed; 0 ignored;"), std::string::npos)
        << report;
}

TEST(CaseRunnerTest, ACaseStillRunningIsAnnouncedOnceWithSeveralThreads) {
    Harness harness;
    harness.console.long_running_after = 0s;
    EXPECT_EQ(harness.run({"--test-threads", "2"},
                          {{"quick", [] {}}, {"slow", [] { std::this_thread::sleep_for(200ms); }}}),
              0);
    const std::string report = harness.out.str();
    const auto notice = report.find("test slow has been running for over 0 seconds\n");
    ASSERT_NE(notice, std::string::npos) << report;
    EXPECT_EQ(report.find("test slow has been running", notice + 1), std::string::npos);
    EXPECT_LT(notice, report.find("test slow ... ok\n"));
}

TEST(CaseRunnerTest, AutomaticColourOnlyOnATerminalWithOneCaseAtATime) {
    const std::vector<Case> cases{{"a", [] {}}};
    const auto coloured = [&](bool terminal, std::vector<std::string> args) {
        Harness harness;
        harness.console.out_is_terminal = terminal;
        EXPECT_EQ(harness.run(std::move(args), cases), 0);
        return harness.out.str().find("\x1b[32mok\x1b[0m") != std::string::npos;
    };
    EXPECT_TRUE(coloured(true, {"--test-threads", "1"}));
    EXPECT_FALSE(coloured(true, {"--test-threads", "2"}));
    EXPECT_FALSE(coloured(false, {"--test-threads", "1"}));
    EXPECT_FALSE(coloured(true, {"--test-threads", "1", "--color", "never"}));
    EXPECT_TRUE(coloured(false, {"--test-threads", "2", "--color", "always"}));
}

TEST(CaseRunnerTest, TerseCountsProgressAfterEvery87MarksAndBeforeAFailure) {
    // 100 cases: case_010 fails, case_050 is ignored.
    std::vector<Case> cases;
    for (int i = 0; i < 100; ++i) {
        const std::string number = std::to_string(i);
        Case test_case{"case_" + std::string(3 - number.size(), '0') + number, [] {}};
        if (i == 10) {
            test_case.body = [] { fail("fails"); };
        }
        test_case.ignored = i == 50;
        cases.push_back(std::move(test_case));
    }
    Harness harness;
    EXPECT_EQ(harness.run({"-q", "--test-threads", "1"}, cases), 101);
    // A failure ends the line of marks with the count so far (it counts itself); the next line
    // holds cases 11 to 97, the ignored one among them, and the last two marks stay uncounted.
    const std::vector<std::string> expected{
        "",
        "running 100 tests",
        std::string(10, '.') + " 10/100",
        "case_010 --- FAILED",
        std::string(39, '.') + "i" + std::string(47, '.') + " 98/100",
        "..",
        "failures:",
    };
    auto lines = lines_of(harness.out.str());
    ASSERT_GE(lines.size(), expected.size()) << harness.out.str();
    lines.resize(expected.size());
    EXPECT_EQ(lines, expected);
}

TEST(CaseRunnerTest, WithoutArgumentsEverythingRuns) {
    Harness harness;
    EXPECT_EQ(run_with({}, std::vector<Case>{{"a", [] {}}}, harness.console), 0);
    EXPECT_NE(harness.out.str().find("\nrunning 1 test\n"), std::string::npos);
}

TEST(CaseRunnerTest, SelectionByFiltersSkipsAndMarks) {
    const std::vector<Case> cases{
        {"sweep_b", {}}, {"smoke", {}}, {"sweep_a", {}, true}, {"fails", {}, false, true}};
    const auto names = [&](std::vector<std::string> args) {
        auto parsed = parse_command_line(
            args, [](const std::string&) { return std::optional<std::string>(); });
        EXPECT_TRUE(parsed.has_value());
        std::vector<std::string> selected;
        for (const auto position : select_cases(cases, parsed->options)) {
            selected.push_back(cases[position].name);
        }
        return selected;
    };
    using Names = std::vector<std::string>;
    EXPECT_EQ(names({}), (Names{"fails", "smoke", "sweep_a", "sweep_b"}));
    EXPECT_EQ(names({"sweep"}), (Names{"sweep_a", "sweep_b"}));
    EXPECT_EQ(names({"smoke", "_b"}), (Names{"smoke", "sweep_b"}));
    EXPECT_EQ(names({"--exact", "sweep"}), Names{});
    EXPECT_EQ(names({"--exact", "sweep_a"}), Names{"sweep_a"});
    EXPECT_EQ(names({"--skip", "sweep", "--skip", "fa"}), Names{"smoke"});
    EXPECT_EQ(names({"--exact", "--skip", "sweep"}),
              (Names{"fails", "smoke", "sweep_a", "sweep_b"}));
    EXPECT_EQ(names({""}), (Names{"fails", "smoke", "sweep_a", "sweep_b"}));
    EXPECT_EQ(names({"--exact", ""}), Names{});
    EXPECT_EQ(names({"--ignored"}), Names{"sweep_a"});
    EXPECT_EQ(names({"--include-ignored", "sweep"}), (Names{"sweep_a", "sweep_b"}));
    EXPECT_EQ(names({"-Zunstable-options", "--exclude-should-panic"}),
              (Names{"smoke", "sweep_a", "sweep_b"}));
}

TEST(CaseRunnerTest, ShuffleIsAPermutationFixedBySeedAndNames) {
    std::vector<Case> cases;
    for (int i = 0; i < 12; ++i) {
        cases.push_back({"case_" + std::to_string(i), {}});
    }
    std::vector<std::size_t> sorted(cases.size());
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        sorted[i] = i;
    }
    std::set<std::vector<std::size_t>> orders;
    for (std::uint64_t seed = 0; seed < 8; ++seed) {
        auto first = sorted;
        auto second = sorted;
        shuffle_cases(first, cases, seed);
        shuffle_cases(second, cases, seed);
        EXPECT_EQ(first, second);
        EXPECT_EQ(std::set<std::size_t>(first.begin(), first.end()).size(), cases.size());
        orders.insert(first);
    }
    EXPECT_GT(orders.size(), 4U);
}

TEST(CaseRunnerTest, RunMainTakesTheProgramPathFromArgv) {
    // run_main writes to the process's streams; --list keeps it short and side-effect free.
    std::string program = "some/dir/prog";
    std::string list = "--list";
    std::string filter = "--exact";
    std::string name = "nothing";
    char* argv[] = {program.data(), list.data(), filter.data(), name.data(), nullptr};
    testing::internal::CaptureStdout();
    const int status = run_main(4, argv, std::vector<Case>{{"a", [] {}}});
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "0 tests, 0 benchmarks\n");
    EXPECT_EQ(status, 0);
}

} // namespace
} // namespace quillmere::case_runner::detail
