// The full sweep: the ordered list of files, its cut in two halves and the two threads that
// sweep them.
#include "full_sweep.hpp"

#include <atomic>
#include <exception>
#include <span>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace quillmere::parity {
namespace {

// One file of the full sweep: its id, its type's index in `kSweptTypes` and its stored size, by
// which the work is shared out.
struct Work {
    std::uint32_t id;
    std::size_t type;
    std::uint64_t stored_size;
};

// What sweeping one stretch of the ordered file list found. Counters add up across stretches,
// failures follow one another in list order, so stretches swept apart and then joined give
// exactly what one pass over the whole list gives.
struct PartResult {
    std::array<VariantStats, kSweptTypes.size()> stats{};
    std::array<std::uint64_t, kSweptTypes.size()> bytes{};
    std::vector<Failure> failures;
    // The failure that stopped this stretch (a round-trip mismatch, say), if any.
    std::exception_ptr stopped;
};

// Sweeps `work` in order into `out`, as the full case does file by file: a fetch or decode
// failure is recorded and the sweep goes on; a failure raised by a sweep stops the stretch and
// is kept for the case to raise. `cancel` ends the stretch early when an earlier one has
// already failed the case, since nothing this one finds could then be reported.
void sweep_part(const dat::DatDatabase& dat, std::span<const Work> work,
                const std::atomic<bool>& cancel, PartResult& out) noexcept {
    try {
        // The stretch's files are in id order within each type, which is mostly the order they
        // are stored in, so one reader kept across them fetches runs of them at once.
        std::vector<std::uint32_t> ids;
        ids.reserve(work.size());
        for (const Work& item : work) {
            ids.push_back(item.id);
        }
        dat::SequentialReader reader(dat, std::move(ids));
        // One buffer for every file of the stretch: it grows to the largest and stays.
        std::vector<std::uint8_t> bytes;
        for (std::size_t index = 0; index < work.size(); ++index) {
            if (cancel.load(std::memory_order_relaxed)) {
                return;
            }
            const Work& item = work[index];
            const SweptType& type = kSweptTypes[item.type];
            if (auto fetched = reader.get_file(index, bytes); !fetched) {
                out.failures.push_back({type.fetch_kind, item.id, fetched.error().message()});
                continue;
            }
            auto swept = type.sweep(bytes, item.id, out.stats[item.type], out.bytes[item.type]);
            if (swept) {
                ++out.stats[item.type].files;
            } else {
                out.failures.push_back({type.kind, item.id, std::move(swept).error()});
            }
        }
    } catch (...) {
        out.stopped = std::current_exception();
    }
}

// The files of every type in sweep order; counts each type's files into `outcome`.
std::vector<Work> work_list(const dat::DatDatabase& dat, SweepOutcome& outcome) {
    const auto lists = entries_of_types(dat, kSweptTypes);
    std::vector<Work> work;
    for (std::size_t t = 0; t < lists.size(); ++t) {
        outcome.types[t].total_ids = lists[t].size();
        for (const dat::DatFileEntry& entry : lists[t]) {
            work.push_back({entry.id, t, entry.size});
        }
    }
    return work;
}

// Where the list is cut: the first stretch holds about half of the stored bytes.
std::size_t cut_in_half(std::span<const Work> work) {
    std::uint64_t total_size = 0;
    for (const Work& item : work) {
        total_size += item.stored_size;
    }
    std::size_t cut = 0;
    for (std::uint64_t first_size = 0; cut < work.size() && 2 * first_size < total_size; ++cut) {
        first_size += work[cut].stored_size;
    }
    return cut;
}

} // namespace

// The list is cut in two stretches holding about the same number of stored bytes; a helper
// thread sweeps the second while the case's own thread sweeps the first, each reading and
// decoding its own files, so two cores share the work without handing files to each other.
// The archive is only read, and each stretch keeps its own counters and failures, which are
// joined in list order afterwards. A failure that stops the case is the first in list order:
// the first stretch's own if it has one, else the second's; so the case ends with the same
// message and the same counters as a single pass. Without a helper thread the case sweeps both
// stretches itself.
SweepOutcome sweep_all(const dat::DatDatabase& dat) {
    SweepOutcome outcome;
    const std::vector<Work> work = work_list(dat, outcome);
    const std::size_t cut = cut_in_half(work);
    const std::span<const Work> first(work.data(), cut);
    const std::span<const Work> second(work.data() + cut, work.size() - cut);

    std::array<PartResult, 2> parts;
    std::atomic<bool> cancel_second = false;
    const std::atomic<bool> never = false;
    std::thread helper;
    try {
        helper = std::thread([&] { sweep_part(dat, second, cancel_second, parts[1]); });
    } catch (const std::system_error&) {
        // No helper thread: the second stretch is swept below, after the first.
    }
    sweep_part(dat, first, never, parts[0]);
    if (parts[0].stopped) {
        cancel_second = true;
    }
    if (helper.joinable()) {
        helper.join();
    } else if (!parts[0].stopped) {
        sweep_part(dat, second, never, parts[1]);
    }

    for (const PartResult& part : parts) {
        if (part.stopped) {
            std::rethrow_exception(part.stopped);
        }
        for (std::size_t t = 0; t < kSweptTypes.size(); ++t) {
            TypeCounters& counters = outcome.types[t];
            for (std::size_t v = 0; v < part.stats[t].counts.size(); ++v) {
                counters.stats.counts[v] += part.stats[t].counts[v];
            }
            counters.stats.files += part.stats[t].files;
            counters.bytes += part.bytes[t];
        }
        outcome.failures.insert(outcome.failures.end(), part.failures.begin(), part.failures.end());
    }
    return outcome;
}

} // namespace quillmere::parity
