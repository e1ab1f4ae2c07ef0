// The checker's two cases: the smoke check on known files and the full sweep with its report.
#include "cases.hpp"

#include "file_types.hpp"
#include "full_sweep.hpp"
#include "quillmere/case_runner/checks.hpp"
#include "quillmere/common/text.hpp"
#include "quillmere/dat/dat_database.hpp"
#include "quillmere/dat/file_type/animation_hook.hpp"
#include "quillmere/tools/known_files.hpp"
#include "report.hpp"
#include "retail_path.hpp"
#include "sweeps.hpp"

#include <algorithm>
#include <map>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace quillmere::parity {

using dat::file_type::setup_model::hook_type_number;
using dat::file_type::setup_model::HookType;

namespace {

using tools::kKnownPhysicsScript;
constexpr std::size_t kSmokeFilesPerType = 50;
constexpr std::string_view kSmokeTag = "[animation_hook_parity_smoke]";

// Both cases read the same archive, usually at the same time: the first to ask opens it and the
// other waits for that open and shares it (reads are const and positional, so threads may share
// an archive), which reads the directory once. A failed open fails each case with its error.
// What was opened stays open until the process ends, which frees it at once: taking a directory
// of many entries apart one by one on the way out would only cost time.
const dat::DatDatabase& open_archive(const std::filesystem::path& path) {
    static std::mutex mutex;
    static auto& opened = *new std::map<std::filesystem::path, dat::DatResult<dat::DatDatabase>>;
    const std::lock_guard lock(mutex);
    auto found = opened.find(path);
    if (found == opened.end()) {
        found = opened.emplace(path, dat::DatDatabase::open(path)).first;
    }
    const auto& result = found->second;
    if (!result) {
        case_runner::require_ok(dat::DatResult<void>(std::unexpected(result.error())),
                                "open client_portal.dat");
    }
    return *result;
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
    const auto& dat = open_archive(*path);

    const SweepOutcome outcome = sweep_all(dat);
    if (!outcome.failures.empty()) {
        write_fail_lines(err, outcome.failures);
        case_runner::fail(failure_message(outcome));
    }

    const HookTotals totals = hook_totals(outcome);
    write_report(err, outcome, totals);

    const auto seen = [&](HookType type) { return totals.combined[hook_type_number(type)] != 0; };
    case_runner::require(seen(HookType::Sound), "Sound (type 1) must appear in retail");
    case_runner::require(seen(HookType::CreateParticle) || seen(HookType::CreateBlockingParticle),
                         "CreateParticle / CreateBlockingParticle must appear");
    case_runner::require(totals.all > 1000, "expected >1k retail hooks");
}

void animation_hook_parity_smoke_against_known_retail_files() {
    auto& err = case_runner::err();
    const auto path = retail_portal_dat_path();
    if (!path) {
        err << kSmokeTag << " SKIP \u2014 no client_portal.dat available\n";
        return;
    }
    const auto& dat = open_archive(*path);

    VariantStats stats;
    std::uint64_t walked = 0;
    std::vector<std::uint8_t> bytes;
    if (dat.get_file(kKnownPhysicsScript, bytes)) {
        case_runner::require_ok(
            sweep_physics_script_hooks(bytes, kKnownPhysicsScript, stats, walked),
            "moon PhysicsScript should round-trip");
    }

    // The lowest animations, then the lowest setup models.
    static_assert(kAnimationType == 0 && kSetupModelType == 1);
    const auto types = std::span(kSweptTypes).first(2);
    const auto type_entries = entries_of_types(dat, types, kSmokeFilesPerType);
    for (std::size_t t = 0; t < types.size(); ++t) {
        const SweptType& type = types[t];
        for (const dat::DatFileEntry& entry : type_entries[t]) {
            const std::uint32_t id = entry.id;
            if (!dat.get_file(id, bytes)) {
                continue;
            }
            auto swept = type.sweep(bytes, id, stats, walked);
            if (!swept) {
                case_runner::fail("smoke: " + std::string(type.smoke_label) + " 0x" +
                                  common::hex8(id) + ": " + swept.error());
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
