// Fuzz target: the checker's three per-file sweeps on the same bytes. The sweeps check a file
// through the library's views, which allocate nothing, so each must agree with the allocating
// decoder: the same verdict, the decoder's own error text for a refused file, and for an accepted
// one the hooks and hook bytes of the decoded value (for a setup model, of the placements its map
// keeps). A sweep may stop its case with a failed check only where the file really does not
// round-trip: a physics script with bytes after its last entry. Any other failed check is a
// checker bug.
#include "fuzz_support.hpp"
#include "quillmere/case_runner/checks.hpp"
#include "quillmere/common/byte_cursor.hpp"
#include "quillmere/common/text.hpp"
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

// The sweep's verdict against the decoder's: refused with the decoder's message, or accepted.
template <class Decoded>
void check_verdict(const SweepResult& swept,
                   const quillmere::common::DecodeResult<Decoded>& decoded,
                   const std::string& decoder) {
    FUZZ_CHECK_MSG(swept.has_value() == decoded.has_value(),
                   swept.has_value()
                       ? "the sweep accepts what " + decoder + " refuses"
                       : "the sweep refuses what " + decoder + " accepts: " + swept.error());
    if (!decoded) {
        FUZZ_CHECK_MSG(swept.error() == decoder + " on 0x" + quillmere::common::hex8(kFileId) +
                                            ": " + decoded.error().message(),
                       swept.error());
    }
}

void check_animation(std::span<const std::uint8_t> bytes) {
    VariantStats stats;
    std::uint64_t walked = 0;
    const auto swept = run(quillmere::parity::sweep_animation_hooks, bytes, stats, walked);
    FUZZ_CHECK_MSG(swept.has_value(), "animation sweep failed a check: " + swept.error());
    ByteCursor cursor(bytes);
    const auto animation = ft::animation::Animation::read(cursor);
    check_verdict(*swept, animation, "Animation::read");
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
    const auto model = ft::setup_model::SetupModel::read(cursor);
    check_verdict(*swept, model, "SetupModel::read");
    if (!model) {
        return;
    }
    std::size_t hooks = 0;
    std::uint64_t hook_bytes = 0;
    for (const auto& [key, placement] : model->placement_frames) {
        hooks += placement.anim_frame.hooks.size();
        for (const auto& hook : placement.anim_frame.hooks) {
            hook_bytes += hook.encoded_size();
        }
    }
    FUZZ_CHECK(**swept == hooks);
    FUZZ_CHECK(stats.total() == hooks);
    FUZZ_CHECK(walked == hook_bytes);
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
    if (!swept) {
        return;
    }
    check_verdict(*swept, script, "PhysicsScript::unpack");
    if (script) {
        FUZZ_CHECK(**swept == script->script_data.size());
        FUZZ_CHECK(stats.total() == script->script_data.size());
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
