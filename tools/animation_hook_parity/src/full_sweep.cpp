// The full sweep: the ordered list of files, handed out in stretches from both ends to the two
// threads that sweep them.
#include "full_sweep.hpp"

#include "quillmere/tools/both_ends.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <iterator>
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

// Sweeps `work` in order into `out`, as the full case does file by file, reading through
// `reader`: a fetch or decode failure is recorded and the sweep goes on; a failure raised by a
// sweep stops the stretch and is kept for the case to raise. `cancel` ends the stretch early
// when an earlier one has already failed the case, since nothing this one finds could then be
// reported. `bytes` is the thread's buffer, grown to the largest file and kept.
void sweep_part(dat::SequentialReader& reader, std::span<const Work> work,
                const std::atomic<bool>& cancel, PartResult& out,
                std::vector<std::uint8_t>& bytes) noexcept {
    try {
        // The stretch's files are in id order within each type, which is mostly the order they
        // are stored in, so the reader fetches runs of them at once.
        std::vector<std::uint32_t> ids;
        ids.reserve(work.size());
        for (const Work& item : work) {
            ids.push_back(item.id);
        }
        reader.restart(std::move(ids));
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

// Files in a stretch: a sixteenth of the list, at most 128 files (large enough that the reads
// still come in runs, small enough that the two threads end close together).
std::size_t stretch_files(std::size_t files) {
    constexpr std::size_t kMostFiles = 128;
    return std::clamp<std::size_t>(files / 16, 1, kMostFiles);
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

} // namespace

// The list is swept in stretches handed out from both ends: the case's own thread takes them
// from the front, a helper thread from the back, each reading and decoding its own files, so two
// cores share the work to the end without handing single files to each other. The archive is
// only read, and each stretch keeps its own counters and failures, which are joined in list
// order afterwards. A failure that stops the case is the first in list order, so the case ends
// with the same message and the same counters as a single pass: a stop at the front leaves
// nothing further back to report, so it ends the helper's work; a stop at the back does not
// end the front's, which might still meet an earlier one. Without a helper thread the case
// sweeps every stretch itself.
SweepOutcome sweep_all(const dat::DatDatabase& dat) {
    SweepOutcome outcome;
    const std::vector<Work> work = work_list(dat, outcome);
    tools::FromBothEnds stretches(work.size(), stretch_files(work.size()));
    // Room for every stretch on either side, so that taking one allocates nothing.
    const std::size_t most = stretches.most();
    std::array<std::vector<PartResult>, 2> sides;
    sides[0].reserve(most);
    sides[1].reserve(most);
    std::array<dat::SequentialReader, 2> readers{dat::SequentialReader(dat, {}),
                                                 dat::SequentialReader(dat, {})};
    std::atomic<bool> cancel_back = false;
    const std::atomic<bool> never = false;
    // Side 0 takes stretches from the front, side 1 from the back.
    const auto sweep_side = [&](std::size_t side, const std::atomic<bool>& cancel) noexcept {
        std::vector<std::uint8_t> bytes;
        for (auto taken = stretches.take(side); !taken.empty(); taken = stretches.take(side)) {
            if (cancel.load(std::memory_order_relaxed)) {
                return;
            }
            const std::span<const Work> stretch(work.data() + taken.first,
                                                taken.last - taken.first);
            sweep_part(readers[side], stretch, cancel, sides[side].emplace_back(), bytes);
            if (side == 0 && sides[0].back().stopped) {
                cancel_back = true;
                return;
            }
        }
    };
    std::thread helper;
    try {
        helper = std::thread([&] { sweep_side(1, cancel_back); });
    } catch (const std::system_error&) {
        // No helper thread: the front sweeps every stretch.
    }
    sweep_side(0, never);
    if (helper.joinable()) {
        helper.join();
    }
    std::vector<PartResult> parts = std::move(sides[0]);
    parts.insert(parts.end(), std::make_move_iterator(sides[1].rbegin()),
                 std::make_move_iterator(sides[1].rend()));

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
