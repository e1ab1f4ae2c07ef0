// Fuzz target: the checker's three per-file sweeps on the same bytes. The animation sweep walks
// the file's layout itself before (and instead of) the library decoder, so it must agree with
// `Animation::read`: the same verdict and the same number of hooks. A sweep may stop its case
// with a failed check only where the file really does not round-trip: a physics script with
// bytes after its last entry. Any other failed check is a checker bug.
#include "fuzz_support.hpp"
#include "quillmere/case_runner/checks.hpp"
#include "quillmere/common/byte_cursor.hpp"
#include "quillmere/dat/file_type/animation.hpp"
#include "quillmere/dat/file_type/physics_script.hpp"
#include "quillmere/dat/file_type/setup_model.hpp"
#include "sweeps.hpp"

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>

using quillmere::case_runner::CaseFailure;
using quillmere::common::ByteCursor;
using quillmere::parity::SweepResult;
using quillmere::parity::VariantStats;
namespace ft = quillmere::dat::file_type;

namespace {

constexpr std::uint32_t kFileId = 0x0300ABCD;

// Runs one sweep; a failed check becomes the message it carries.
template <class Sweep>
std::expected<SweepResult, std::string> run(Sweep sweep, std::span<const std::uint8_t> bytes,
                                            VariantStats& stats, std::uint64_t& walked) {
    try {
        return sweep(bytes, kFileId, stats, walked);
    } catch (const CaseFailure& failure) {
        return std::unexpected(failure.message());
    }
}

void check_animation(std::span<const std::uint8_t> bytes) {
    VariantStats stats;
    std::uint64_t walked = 0;
    const auto swept = run(quillmere::parity::sweep_animation_hooks, bytes, stats, walked);
    FUZZ_CHECK_MSG(swept.has_value(), "animation sweep failed a check: " + swept.error());
    ByteCursor cursor(bytes);
    const auto animation = ft::animation::Animation::read(cursor);
    FUZZ_CHECK_MSG(swept->has_value() == animation.has_value(),
                   swept->has_value()
                       ? "the sweep accepts what Animation::read refuses"
                       : "the sweep refuses what Animation::read accepts: " + swept->error());
    if (!animation) {
        return;
    }
    std::size_t hooks = 0;
    std::uint64_t hook_bytes = 0;
    for (const auto& frame : animation->part_frames) {
        hooks += frame.hooks.size();
        for (const auto& hook : frame.hooks) {
            hook_bytes += hook.encoded_size();
        }
    }
    FUZZ_CHECK(**swept == hooks);
    FUZZ_CHECK(stats.total() == hooks);
    FUZZ_CHECK(walked == hook_bytes);
}

void check_setup_model(std::span<const std::uint8_t> bytes) {
    VariantStats stats;
    std::uint64_t walked = 0;
    const auto swept = run(quillmere::parity::sweep_setup_model_hooks, bytes, stats, walked);
    FUZZ_CHECK_MSG(swept.has_value(), "setup-model sweep failed a check: " + swept.error());
    ByteCursor cursor(bytes);
    FUZZ_CHECK(swept->has_value() == ft::setup_model::SetupModel::read(cursor).has_value());
    if (swept->has_value()) {
        FUZZ_CHECK(stats.total() == **swept);
    }
}

void check_physics_script(std::span<const std::uint8_t> bytes) {
    VariantStats stats;
    std::uint64_t walked = 0;
    const auto swept = run(quillmere::parity::sweep_physics_script_hooks, bytes, stats, walked);
    ByteCursor cursor(bytes);
    const auto script = ft::physics_script::PhysicsScript::read(cursor);
    const bool trailing_bytes = script && cursor.position() < bytes.size();
    FUZZ_CHECK_MSG(swept.has_value() != trailing_bytes,
                   swept ? "the sweep passed a script with trailing bytes"
                         : "physics-script sweep failed a check: " + swept.error());
    if (swept) {
        FUZZ_CHECK(swept->has_value() == script.has_value());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = quillmere::fuzz::input_bytes(data, size);
    check_animation(input);
    check_setup_model(input);
    check_physics_script(input);
    return 0;
}
