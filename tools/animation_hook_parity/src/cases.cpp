// The checker's two cases: the smoke check on known files and the full sweep with its report.
#include "cases.hpp"

#include "quillmere/case_runner/checks.hpp"
#include "quillmere/common/text.hpp"
#include "quillmere/dat/dat_database.hpp"
#include "retail_path.hpp"
#include "sweeps.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <exception>
#include <ostream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace quillmere::parity {

using common::hex8;
using common::pad_left;
using common::pad_right;

namespace {

constexpr std::uint32_t kKnownPhysicsScript = 0x330007DB;
constexpr std::size_t kSmokeFilesPerType = 50;
constexpr std::size_t kMaxFailLines = 20;
constexpr std::string_view kSweepTag = "[animation_hook_parity]";
constexpr std::string_view kSmokeTag = "[animation_hook_parity_smoke]";

// An id range of one file type, both ends included.
struct IdRange {
    std::uint32_t first;
    std::uint32_t last;
};
constexpr IdRange kAnimationIds{0x03000000, 0x03FFFFFF};
constexpr IdRange kSetupModelIds{0x02000000, 0x02FFFFFF};
constexpr IdRange kPhysicsScriptIds{0x33000000, 0x33FFFFFF};

using Sweep = SweepResult (*)(std::span<const std::uint8_t>, std::uint32_t, VariantStats&,
                              std::uint64_t&);

// The archive's ids within each of `ranges`, each list ascending. One pass over the directory
// map serves every range, since walking the map is what costs.
template <std::size_t N>
std::array<std::vector<std::uint32_t>, N> ids_in(const dat::DatDatabase& dat,
                                                 const std::array<IdRange, N>& ranges) {
    std::array<std::vector<std::uint32_t>, N> ids;
    for (const auto& [id, entry] : dat.files()) {
        for (std::size_t i = 0; i < N; ++i) {
            if (id >= ranges[i].first && id <= ranges[i].last) {
                ids[i].push_back(id);
            }
        }
    }
    for (auto& list : ids) {
        std::ranges::sort(list);
    }
    return ids;
}

dat::DatDatabase open_archive(const std::filesystem::path& path) {
    return case_runner::require_ok(dat::DatDatabase::open(path), "open client_portal.dat");
}

// One row of the per-variant table; a value wider than its column widens it.
std::string table_row(std::string_view id, std::string_view name, std::string_view anim,
                      std::string_view setup, std::string_view pscript, std::string_view total) {
    return pad_right(id, 4) + " " + pad_right(name, 25) + " " + pad_left(anim, 10) + " " +
           pad_left(setup, 10) + " " + pad_left(pscript, 10) + " " + pad_left(total, 10);
}

struct Failure {
    std::string_view kind;
    std::uint32_t id;
    std::string message;
};

// One swept file type of the full case.
struct TypeSweep {
    IdRange range;
    Sweep sweep;
    std::string_view kind;
    std::string_view fetch_kind;
    VariantStats stats;
    std::uint64_t bytes = 0;
    std::size_t total_ids = 0;
};

// One file of the full sweep: its id, the index of its type (animations, setup models, physics
// scripts) in the sweep's order, and its stored size, by which the work is shared out.
struct Work {
    std::uint32_t id;
    std::size_t type;
    std::uint64_t stored_size;
};

// What sweeping one stretch of the ordered file list found. Counters add up across stretches,
// failures follow one another in list order, so stretches swept apart and then joined give
// exactly what one pass over the whole list gives.
struct PartResult {
    std::array<VariantStats, 3> stats{};
    std::array<std::uint64_t, 3> bytes{};
    std::vector<Failure> failures;
    // The failure that stopped this stretch (a round-trip mismatch, say), if any.
    std::exception_ptr stopped;
};

// Sweeps `work` in order into `out`, as the full case does file by file: a fetch or decode
// failure is recorded and the sweep goes on; a failure raised by a sweep stops the stretch and
// is kept for the case to raise. `cancel` ends the stretch early when an earlier one has
// already failed the case, since nothing this one finds could then be reported.
void sweep_part(const dat::DatDatabase& dat, std::span<const Work> work,
                const std::array<TypeSweep*, 3>& types, const std::atomic<bool>& cancel,
                PartResult& out) noexcept {
    try {
        for (const Work& item : work) {
            if (cancel.load(std::memory_order_relaxed)) {
                return;
            }
            const TypeSweep& type = *types[item.type];
            auto bytes = dat.get_file(item.id);
            if (!bytes) {
                out.failures.push_back({type.fetch_kind, item.id, bytes.error().message()});
                continue;
            }
            auto swept = type.sweep(*bytes, item.id, out.stats[item.type], out.bytes[item.type]);
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

// Sweeps every file of the three types in the case's order (animations, then setup models,
// then physics scripts, each by ascending id) and fills in the types' counters and `failures`.
//
// The list is cut in two stretches holding about the same number of stored bytes; a helper
// thread sweeps the second while the case's own thread sweeps the first, each reading and
// decoding its own files, so two cores share the work without handing files to each other.
// The archive is only read, and each stretch keeps its own counters and failures, which are
// joined in list order afterwards. A failure that stops the case is the first in list order:
// the first stretch's own if it has one, else the second's; so the case ends with the same
// message and the same counters as a single pass. Without a helper thread the case sweeps both
// stretches itself.
void sweep_all(const dat::DatDatabase& dat, const std::array<TypeSweep*, 3>& types,
               std::vector<Failure>& failures) {
    const auto lists = ids_in(dat, std::array{types[0]->range, types[1]->range, types[2]->range});
    std::vector<Work> work;
    std::uint64_t total_size = 0;
    for (std::size_t t = 0; t < lists.size(); ++t) {
        types[t]->total_ids = lists[t].size();
        for (std::uint32_t id : lists[t]) {
            const std::uint64_t size = dat.files().at(id).size;
            work.push_back({id, t, size});
            total_size += size;
        }
    }
    std::size_t cut = 0;
    for (std::uint64_t first_size = 0; cut < work.size() && 2 * first_size < total_size; ++cut) {
        first_size += work[cut].stored_size;
    }
    const std::span<const Work> first(work.data(), cut);
    const std::span<const Work> second(work.data() + cut, work.size() - cut);

    std::array<PartResult, 2> parts;
    std::atomic<bool> cancel_second = false;
    const std::atomic<bool> never = false;
    std::thread helper;
    try {
        helper = std::thread([&] { sweep_part(dat, second, types, cancel_second, parts[1]); });
    } catch (const std::system_error&) {
        // No helper thread: the second stretch is swept below, after the first.
    }
    sweep_part(dat, first, types, never, parts[0]);
    if (parts[0].stopped) {
        cancel_second = true;
    }
    if (helper.joinable()) {
        helper.join();
    } else if (!parts[0].stopped) {
        sweep_part(dat, second, types, never, parts[1]);
    }

    for (const PartResult& part : parts) {
        if (part.stopped) {
            std::rethrow_exception(part.stopped);
        }
        for (std::size_t t = 0; t < types.size(); ++t) {
            for (std::size_t v = 0; v < part.stats[t].counts.size(); ++v) {
                types[t]->stats.counts[v] += part.stats[t].counts[v];
            }
            types[t]->stats.files += part.stats[t].files;
            types[t]->bytes += part.bytes[t];
        }
        failures.insert(failures.end(), part.failures.begin(), part.failures.end());
    }
}

void write_report(std::ostream& err, const TypeSweep& anim, const TypeSweep& setup,
                  const TypeSweep& script, const std::array<std::uint64_t, 27>& combined) {
    std::uint64_t all_hooks = 0;
    for (auto count : combined) {
        all_hooks += count;
    }
    const auto n = [](std::uint64_t v) { return std::to_string(v); };
    err << kSweepTag << " SWEPT files: anim=" << anim.stats.files << "/" << anim.total_ids
        << " setup=" << setup.stats.files << "/" << setup.total_ids
        << " pscript=" << script.stats.files << "/" << script.total_ids << "\n";
    err << kSweepTag << " HOOKS: anim=" << anim.stats.total() << " setup=" << setup.stats.total()
        << " pscript=" << script.stats.total() << " total=" << all_hooks << "\n";
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

} // namespace

void animation_hook_parity_sweep_against_retail_portal_dat() {
    auto& err = case_runner::err();
    const auto path = retail_portal_dat_path();
    if (!path) {
        err << kSweepTag
            << " SKIP \u2014 no client_portal.dat available (set QUILLMERE_PORTAL_DAT or place it "
               "at "
            << kFallbackPortalDat << ")\n";
        return;
    }
    const auto dat = open_archive(*path);

    TypeSweep anim{kAnimationIds, sweep_animation_hooks, "animation", "animation:get_file", {}};
    TypeSweep setup{
        kSetupModelIds, sweep_setup_model_hooks, "setup_model", "setup_model:get_file", {}};
    TypeSweep script{kPhysicsScriptIds,
                     sweep_physics_script_hooks,
                     "physics_script",
                     "physics_script:get_file",
                     {}};
    std::vector<Failure> failures;
    sweep_all(dat, {&anim, &setup, &script}, failures);

    if (!failures.empty()) {
        for (std::size_t i = 0; i < std::min(failures.size(), kMaxFailLines); ++i) {
            const auto& f = failures[i];
            err << "FAIL [" << f.kind << "] 0x" << hex8(f.id) << ": " << f.message << "\n";
        }
        case_runner::fail(
            std::to_string(failures.size()) + " animation-hook parity failures across " +
            std::to_string(anim.total_ids) + " animation, " + std::to_string(setup.total_ids) +
            " setup-model, " + std::to_string(script.total_ids) + " physics-script files");
    }

    std::array<std::uint64_t, 27> combined{};
    std::uint64_t all_hooks = 0;
    for (std::size_t t = 0; t < combined.size(); ++t) {
        combined[t] = anim.stats.counts[t] + setup.stats.counts[t] + script.stats.counts[t];
        all_hooks += combined[t];
    }
    write_report(err, anim, setup, script, combined);

    case_runner::require(combined[1] != 0, "Sound (type 1) must appear in retail");
    case_runner::require(combined[13] != 0 || combined[26] != 0,
                         "CreateParticle / CreateBlockingParticle must appear");
    case_runner::require(all_hooks > 1000, "expected >1k retail hooks");
}

void animation_hook_parity_smoke_against_known_retail_files() {
    auto& err = case_runner::err();
    const auto path = retail_portal_dat_path();
    if (!path) {
        err << kSmokeTag << " SKIP \u2014 no client_portal.dat available\n";
        return;
    }
    const auto dat = open_archive(*path);

    VariantStats stats;
    std::uint64_t walked = 0;
    if (auto bytes = dat.get_file(kKnownPhysicsScript)) {
        case_runner::require_ok(
            sweep_physics_script_hooks(*bytes, kKnownPhysicsScript, stats, walked),
            "moon PhysicsScript should round-trip");
    }

    const struct {
        IdRange range;
        Sweep sweep;
        std::string_view label;
    } types[] = {
        {kAnimationIds, sweep_animation_hooks, "animation"},
        {kSetupModelIds, sweep_setup_model_hooks, "setup"},
    };
    const auto type_ids = ids_in(dat, std::array{types[0].range, types[1].range});
    for (std::size_t t = 0; t < std::size(types); ++t) {
        const auto& type = types[t];
        const auto& ids = type_ids[t];
        for (std::size_t i = 0; i < std::min(ids.size(), kSmokeFilesPerType); ++i) {
            auto bytes = dat.get_file(ids[i]);
            if (!bytes) {
                continue;
            }
            auto swept = type.sweep(*bytes, ids[i], stats, walked);
            if (!swept) {
                case_runner::fail("smoke: " + std::string(type.label) + " 0x" + hex8(ids[i]) +
                                  ": " + swept.error());
            }
        }
    }

    err << kSmokeTag << " OK \u2014 hooks=" << stats.total() << " bytes=" << walked << "\n";
    case_runner::require(stats.total() != 0, "smoke sweep must observe at least one hook");
}

std::vector<case_runner::Case> parity_cases() {
    return {
        {"animation_hook_parity_smoke_against_known_retail_files",
         animation_hook_parity_smoke_against_known_retail_files},
        {"animation_hook_parity_sweep_against_retail_portal_dat",
         animation_hook_parity_sweep_against_retail_portal_dat},
    };
}

} // namespace quillmere::parity
