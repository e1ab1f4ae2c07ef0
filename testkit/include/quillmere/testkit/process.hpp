// Running a built program from a test and collecting what it printed, and running a check in a
// child process under a memory and CPU budget.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace quillmere::testkit {

struct ProcessOutput {
    /// The exit status, or 128 + the signal number when the program was killed.
    int status = -1;
    std::string out;
    std::string err;
};

/// Runs `program` with `argv` (argv[0] included) and exactly the environment `env` (entries
/// "NAME=value"), standard input from /dev/null, and collects both output streams. Throws
/// `std::runtime_error` when the program cannot be started or prints nothing for `timeout_ms`.
[[nodiscard]] ProcessOutput run_process(const std::filesystem::path& program,
                                        const std::vector<std::string>& argv,
                                        const std::vector<std::string>& env,
                                        int timeout_ms = 60'000);

/// Runs `check` in a forked child process whose private writable memory may grow by at most
/// `budget_bytes` beyond what this process holds now, and whose CPU time is limited to
/// `cpu_seconds`. Returns the child's exit code: 0 when `check` returned true, 1 when it returned
/// false, 2 when an allocation failed; a child killed by a signal gives 128 + the signal number.
/// Meant for tests that a hostile count neither allocates nor loops out of proportion. Where the
/// current usage cannot be read (no /proc), only the CPU limit applies.
[[nodiscard]] int run_with_memory_budget(std::uint64_t budget_bytes, unsigned cpu_seconds,
                                         const std::function<bool()>& check);

} // namespace quillmere::testkit
