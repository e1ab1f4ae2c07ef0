// The full case's FAIL lines, failure message and report.
#include "report.hpp"

#include "quillmere/common/text.hpp"

#include <algorithm>
#include <cstddef>

namespace quillmere::parity {

using common::hex8;
using common::pad_left;
using common::pad_right;

namespace {

constexpr std::size_t kMaxFailLines = 20;

// One row of the per-variant table; a value wider than its column widens it.
std::string table_row(std::string_view id, std::string_view name, std::string_view anim,
                      std::string_view setup, std::string_view pscript, std::string_view total) {
    return pad_right(id, 4) + " " + pad_right(name, 25) + " " + pad_left(anim, 10) + " " +
           pad_left(setup, 10) + " " + pad_left(pscript, 10) + " " + pad_left(total, 10);
}

} // namespace

HookTotals hook_totals(const SweepOutcome& outcome) {
    HookTotals totals;
    for (std::size_t t = 0; t < totals.combined.size(); ++t) {
        for (const TypeCounters& type : outcome.types) {
            totals.combined[t] += type.stats.counts[t];
        }
        totals.all += totals.combined[t];
    }
    return totals;
}

void write_fail_lines(std::ostream& err, std::span<const Failure> failures) {
    for (const Failure& f : failures.first(std::min(failures.size(), kMaxFailLines))) {
        err << "FAIL [" << f.kind << "] 0x" << hex8(f.id) << ": " << f.message << "\n";
    }
}

std::string failure_message(const SweepOutcome& outcome) {
    return std::to_string(outcome.failures.size()) + " animation-hook parity failures across " +
           std::to_string(outcome.types[kAnimationType].total_ids) + " animation, " +
           std::to_string(outcome.types[kSetupModelType].total_ids) + " setup-model, " +
           std::to_string(outcome.types[kPhysicsScriptType].total_ids) + " physics-script files";
}

void write_report(std::ostream& err, const SweepOutcome& outcome, const HookTotals& totals) {
    const TypeCounters& anim = outcome.types[kAnimationType];
    const TypeCounters& setup = outcome.types[kSetupModelType];
    const TypeCounters& script = outcome.types[kPhysicsScriptType];
    const auto& combined = totals.combined;
    const auto n = [](std::uint64_t v) { return std::to_string(v); };
    err << kSweepTag << " SWEPT files: anim=" << anim.stats.files << "/" << anim.total_ids
        << " setup=" << setup.stats.files << "/" << setup.total_ids
        << " pscript=" << script.stats.files << "/" << script.total_ids << "\n";
    err << kSweepTag << " HOOKS: anim=" << anim.stats.total() << " setup=" << setup.stats.total()
        << " pscript=" << script.stats.total() << " total=" << totals.all << "\n";
    err << kSweepTag << " BYTES round-tripped: anim=" << anim.bytes << " setup=" << setup.bytes
        << " pscript=" << script.bytes << "\n";
    err << kSweepTag << " PER-VARIANT COUNTS (retail portal.dat):\n";
    err << table_row("id", "name", "anim", "setup", "pscript", "total") << "\n";
    for (std::size_t t = 0; t < combined.size(); ++t) {
        err << table_row(n(t), VARIANT_NAMES[t], n(anim.stats.counts[t]), n(setup.stats.counts[t]),
                         n(script.stats.counts[t]), n(combined[t]))
            << "\n";
    }
    const auto unused = std::ranges::count(combined, std::uint64_t{0});
    if (unused > 0) {
        err << kSweepTag << " UNUSED-IN-RETAIL variants (" << unused << "):\n";
        for (std::size_t t = 0; t < combined.size(); ++t) {
            if (combined[t] == 0) {
                err << "  " << t << " " << VARIANT_NAMES[t] << "\n";
            }
        }
    }
}

} // namespace quillmere::parity
