// The full case's output: the FAIL lines and failure message of a sweep that met damaged files,
// else the per-type totals and the per-variant table, and the hook totals its final checks use.
#pragma once

#include "full_sweep.hpp"

#include <array>
#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

namespace quillmere::parity {

/// Tag that opens the full case's own lines.
inline constexpr std::string_view kSweepTag = "[animation_hook_parity]";

/// Hooks seen per type number over all swept file types, and their sum.
struct HookTotals {
    std::array<std::uint64_t, dat::file_type::setup_model::kHookTypeCount> combined{};
    std::uint64_t all = 0;
};

[[nodiscard]] HookTotals hook_totals(const SweepOutcome& outcome);

/// Writes one "FAIL [kind] 0xID: message" line for each of the first 20 failures.
void write_fail_lines(std::ostream& err, std::span<const Failure> failures);

/// The message the case fails with when the sweep met failures: their number and the number of
/// files of each type.
[[nodiscard]] std::string failure_message(const SweepOutcome& outcome);

/// Writes the SWEPT, HOOKS and BYTES lines, the per-variant table and the list of hook types
/// seen nowhere (left out when every type was seen).
void write_report(std::ostream& err, const SweepOutcome& outcome, const HookTotals& totals);

} // namespace quillmere::parity
