// The checker's two cases: the smoke check on known files and the full sweep with its report.
#include "cases.hpp"

#include "quillmere/case_runner/checks.hpp"
#include "quillmere/common/text.hpp"
#include "quillmere/dat/dat_database.hpp"
#include "retail_path.hpp"
#include "sweeps.hpp"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <deque>
#include <mutex>
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

using FetchResult = dat::DatResult<std::vector<std::uint8_t>>;

// Fetches files with `get_file` on a thread of its own, in the order given, while the case
// sweeps the ones fetched before: reading and decompressing the next files overlaps decoding
// the current one. The case still takes every result in order, so what it records and prints
// is the same as fetching each file when it is due. At most kAheadBytes of fetched files wait
// (always at least one file), so memory stays bounded whatever the archive's size. When no
// thread can be started, files are fetched when they are due.
class Prefetcher {
  public:
    Prefetcher(const dat::DatDatabase& dat, std::vector<std::uint32_t> ids)
        : dat_(dat), ids_(std::move(ids)) {
        try {
            thread_ = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            // No thread: next() fetches inline.
        }
    }
    Prefetcher(const Prefetcher&) = delete;
    Prefetcher& operator=(const Prefetcher&) = delete;

    // A case that fails part way stops the fetcher here, before the archive goes away.
    ~Prefetcher() {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    /// The fetch result of the next id in order; call at most once per id.
    FetchResult next() {
        if (!thread_.joinable()) {
            return dat_.get_file(ids_[taken_++]);
        }
        std::unique_lock lock(mutex_);
        if (ready_.empty()) {
            // Wait for a batch rather than each file, so the threads hand over rarely.
            consumer_waiting_ = true;
            changed_.wait(lock, [this] { return batch_ready(); });
            consumer_waiting_ = false;
        }
        FetchResult result = std::move(ready_.front());
        ready_.pop_front();
        ready_bytes_ -= result ? result->size() : 0;
        ++taken_;
        const bool wake = producer_waiting_ && ready_bytes_ <= kAheadBytes / 2;
        lock.unlock();
        if (wake) {
            changed_.notify_all();
        }
        return result;
    }

  private:
    static constexpr std::size_t kAheadBytes = 4 << 20;
    static constexpr std::size_t kBatchBytes = 256 << 10;
    static constexpr std::size_t kBatchFiles = 64;

    bool batch_ready() const {
        return ready_bytes_ >= kBatchBytes || ready_.size() >= kBatchFiles ||
               (!ready_.empty() && ready_.size() + taken_ == ids_.size());
    }

    void run() {
        for (std::uint32_t id : ids_) {
            FetchResult result = dat_.get_file(id);
            const std::size_t size = result ? result->size() : 0;
            std::unique_lock lock(mutex_);
            if (!stop_ && ready_bytes_ >= kAheadBytes) {
                producer_waiting_ = true;
                changed_.wait(lock, [this] { return stop_ || ready_bytes_ <= kAheadBytes / 2; });
                producer_waiting_ = false;
            }
            if (stop_) {
                return;
            }
            ready_.push_back(std::move(result));
            ready_bytes_ += size;
            const bool wake = consumer_waiting_ && batch_ready();
            lock.unlock();
            if (wake) {
                changed_.notify_all();
            }
        }
    }

    const dat::DatDatabase& dat_;
    const std::vector<std::uint32_t> ids_;
    std::size_t taken_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<FetchResult> ready_;
    std::size_t ready_bytes_ = 0;
    bool stop_ = false;
    bool consumer_waiting_ = false;
    bool producer_waiting_ = false;
    std::thread thread_; // last: started once everything it uses exists
};

void sweep_type(Prefetcher& files, const std::vector<std::uint32_t>& ids, TypeSweep& type,
                std::vector<Failure>& failures) {
    type.total_ids = ids.size();
    for (std::uint32_t id : ids) {
        auto bytes = files.next();
        if (!bytes) {
            failures.push_back({type.fetch_kind, id, bytes.error().message()});
            continue;
        }
        auto swept = type.sweep(*bytes, id, type.stats, type.bytes);
        if (swept) {
            ++type.stats.files;
        } else {
            failures.push_back({type.kind, id, std::move(swept).error()});
        }
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
    {
        const std::array<TypeSweep*, 3> types = {&anim, &setup, &script};
        const auto ids = ids_in(dat, std::array{anim.range, setup.range, script.range});
        std::vector<std::uint32_t> all_ids;
        for (const auto& list : ids) {
            all_ids.insert(all_ids.end(), list.begin(), list.end());
        }
        Prefetcher files(dat, std::move(all_ids));
        for (std::size_t i = 0; i < types.size(); ++i) {
            sweep_type(files, ids[i], *types[i], failures);
        }
    }

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
