// The generic case runner: selects, runs and reports a table of named cases from a command line.
#pragma once

#include <functional>
#include <ostream>
#include <span>
#include <string>

namespace quillmere::case_runner {

/// One named case of a program's table. A case passes by returning and fails by throwing,
/// normally through a failed check (checks.hpp).
struct Case {
    std::string name;
    std::function<void()> body;
    bool ignored =
        false; ///< Marked ignored: reported as ignored unless --ignored/--include-ignored.
    bool should_fail =
        false; ///< Expected to fail: passes when the body fails, fails when it returns.
};

/// Parses the command line `args` (`args[0]` is the program path as invoked), then lists or runs
/// the selected `cases` in ascending name order and reports them on standard output.
/// Returns the exit status: 0 when no selected case failed (and after --help or --list), 101 when a
/// case failed, an option was rejected ("error: {message}" on standard error) or the log file
/// could not be written. A case's failure never stops the other cases.
[[nodiscard]] int run(std::span<const std::string> args, std::span<const Case> cases);

/// `run` over the arguments of `main`.
[[nodiscard]] int run_main(int argc, char** argv, std::span<const Case> cases);

/// The running case's standard output. While output is captured it goes to the case's own
/// buffer (shown for a failed case, or with --show-output); with --no-capture it goes to the
/// process's standard output a whole line at a time, never torn by another case's lines.
/// Outside any case, and on threads a case starts itself, it is `std::cout`.
[[nodiscard]] std::ostream& out() noexcept;

/// The running case's standard error; as `out()`, and `std::cerr` outside any case.
[[nodiscard]] std::ostream& err() noexcept;

} // namespace quillmere::case_runner
