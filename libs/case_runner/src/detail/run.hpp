// The runner with its console made explicit, so that tests can run it in-process.
#pragma once

#include "detail/options.hpp"
#include "quillmere/case_runner/case_runner.hpp"

#include <chrono>
#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace quillmere::case_runner::detail {

/// Where the runner writes and what it asks of its surroundings.
struct Console {
    std::ostream& out;
    std::ostream& err;
    bool out_is_terminal = false;
    EnvLookup env;
    /// With several cases at a time, a case still running after this long is announced once.
    std::chrono::seconds long_running_after{60};
};

/// `run` writing to `console`.
[[nodiscard]] int run_with(std::span<const std::string> args, std::span<const Case> cases,
                           Console& console);

/// The selected cases in run order, as positions in `cases` (which need not be sorted): ascending
/// by name, kept when a name contains a filter (equals one with --exact) and contains (equals) no
/// --skip value; cases expected to fail are left out with --exclude-should-panic, and only
/// ignored ones are kept with --ignored.
[[nodiscard]] std::vector<std::size_t> select_cases(std::span<const Case> cases,
                                                    const Options& options);

/// Reorders `order` by a permutation that depends only on `seed` and the names.
void shuffle_cases(std::vector<std::size_t>& order, std::span<const Case> cases,
                   std::uint64_t seed);

} // namespace quillmere::case_runner::detail
