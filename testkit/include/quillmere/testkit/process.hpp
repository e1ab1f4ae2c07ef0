// Running a built program from a test and collecting what it printed.
#pragma once

#include <filesystem>
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

} // namespace quillmere::testkit
