// The full case's sweep of every animation, setup model and physics script of an archive, shared
// between two threads, and the counters it fills.
#pragma once

#include "file_types.hpp"
#include "quillmere/dat/dat_database.hpp"
#include "variant_stats.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillmere::parity {

/// A file that could not be fetched, decoded or re-encoded: one FAIL line of the report.
struct Failure {
    std::string_view kind;
    std::uint32_t id;
    std::string message;
};

/// What the sweep found of one file type.
struct TypeCounters {
    VariantStats stats;
    /// Bytes of hooks round-tripped.
    std::uint64_t bytes = 0;
    /// The archive's files of the type, swept or failed.
    std::size_t total_ids = 0;
};

/// What the whole sweep found: counters indexed like `kSweptTypes`, failures in sweep order.
struct SweepOutcome {
    std::array<TypeCounters, kSweptTypes.size()> types{};
    std::vector<Failure> failures;
};

/// Sweeps every file of the types of `kSweptTypes` in the case's order (each type in turn, each
/// by ascending id). A file that cannot be fetched or decoded becomes a `Failure` and the sweep
/// goes on; a failure raised by a sweep (a round-trip mismatch) fails the running case, the
/// first in that order, and counts nothing.
///
/// Two threads share the work (the case's own and one helper); the outcome, and the failure
/// raised, are those of one pass over the files in order.
[[nodiscard]] SweepOutcome sweep_all(const dat::DatDatabase& dat);

} // namespace quillmere::parity
