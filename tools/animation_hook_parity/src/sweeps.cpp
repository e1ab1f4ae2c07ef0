// The per-file hook sweeps.
#include "sweeps.hpp"

#include "quillmere/case_runner/checks.hpp"
#include "quillmere/common/text.hpp"
#include "quillmere/dat/file_type/animation.hpp"
#include "quillmere/dat/file_type/physics_script.hpp"
#include "quillmere/dat/file_type/setup_model.hpp"
#include "round_trip.hpp"

#include <vector>

namespace quillmere::parity {

using common::ByteCursor;
using common::hex8;
using dat::file_type::animation::AnimationView;
using dat::file_type::physics_script::PhysicsScript;
using dat::file_type::physics_script::PhysicsScriptView;
using dat::file_type::setup_model::FrameView;
using dat::file_type::setup_model::PlacementView;
using dat::file_type::setup_model::SetupModelView;

namespace {

std::string file_label(std::uint32_t file_id) {
    return "0x" + hex8(file_id);
}

} // namespace

// The view checks the whole file first, as decoding it does, so a file that does not decode
// counts nothing; then each hook, decoded where it lies, is encoded and compared with the bytes
// it was decoded from.
SweepResult sweep_animation_hooks(std::span<const std::uint8_t> bytes, std::uint32_t file_id,
                                  VariantStats& stats, std::uint64_t& bytes_walked) {
    ByteCursor cursor(bytes);
    const auto animation = AnimationView::read(cursor);
    if (!animation) {
        return std::unexpected("Animation::read on " + file_label(file_id) + ": " +
                               animation.error().message());
    }
    std::size_t hook_count = 0;
    for (const FrameView& frame : animation->part_frames) {
        for (const HookView& hook : frame.hooks) {
            const auto stored = bytes.subspan(hook.offset, hook.encoded_size());
            assert_round_trip(file_id, hook_count, hook, stored);
            stats.record(hook);
            bytes_walked += stored.size();
            ++hook_count;
        }
    }
    return hook_count;
}

// The placements visited are those of the decoded model's map: for a key stored twice, the later
// placement. Each hook is encoded, decoded again from the encoding and compared field by field.
SweepResult sweep_setup_model_hooks(std::span<const std::uint8_t> bytes, std::uint32_t file_id,
                                    VariantStats& stats, std::uint64_t& bytes_walked) {
    ByteCursor decoder(bytes);
    const auto setup = SetupModelView::read(decoder);
    if (!setup) {
        return std::unexpected("SetupModel::read on " + file_label(file_id) + ": " +
                               setup.error().message());
    }

    // Kept per thread and reused, as the encoding buffer is: this runs for every setup model.
    thread_local std::vector<PlacementView> placements;
    thread_local std::vector<std::uint8_t> buffer;
    setup->placements_by_key(placements);
    std::size_t hook_count = 0;
    for (const PlacementView& placement : placements) {
        std::size_t hook_i = 0;
        for (const HookView& hook : placement.anim_frame.hooks) {
            buffer.clear();
            common::ByteWriter writer(buffer);
            if (auto written = hook.write(writer); !written) {
                case_runner::fail("write setup hook " + std::to_string(hook_i) + " of " +
                                  file_label(file_id) + ": " + written.error().message());
            }
            ByteCursor reparse_cursor(buffer);
            const auto reparsed = HookView::read(reparse_cursor);
            if (!reparsed) {
                return std::unexpected("reparse setup hook " + std::to_string(hook_i) + " of " +
                                       file_label(file_id) + ": " + reparsed.error().message());
            }
            // Messages (and copies of the data) are made only for a drift, never on the common
            // path.
            const auto drift = [&](const char* what) {
                return "setup-model " + file_label(file_id) + " hook #" + std::to_string(hook_i) +
                       ": " + what + " drift on round-trip";
            };
            if (reparsed->hook_type != hook.hook_type) {
                case_runner::require_eq(reparsed->hook_type, hook.hook_type, drift("type"));
            }
            if (reparsed->direction != hook.direction) {
                case_runner::require_eq(reparsed->direction, hook.direction, drift("direction"));
            }
            if (!std::ranges::equal(reparsed->data, hook.data)) {
                case_runner::require_eq(std::vector(reparsed->data.begin(), reparsed->data.end()),
                                        std::vector(hook.data.begin(), hook.data.end()),
                                        drift("data"));
            }
            stats.record(hook);
            bytes_walked += buffer.size();
            ++hook_count;
            ++hook_i;
        }
    }
    return hook_count;
}

// The script is encoded again from what the view decoded, into a buffer kept per thread, and
// compared with the file; only when they differ is the script decoded into its owned form and
// packed, for the failure to show the packed bytes.
SweepResult sweep_physics_script_hooks(std::span<const std::uint8_t> bytes, std::uint32_t file_id,
                                       VariantStats& stats, std::uint64_t& bytes_walked) {
    ByteCursor decoder(bytes);
    const auto script = PhysicsScriptView::read(decoder);
    if (!script) {
        return std::unexpected("PhysicsScript::unpack on " + file_label(file_id) + ": " +
                               script.error().message());
    }
    thread_local std::vector<std::uint8_t> encoded;
    encoded.clear();
    common::ByteWriter writer(encoded);
    if (auto written = script->write(writer); !written) {
        return std::unexpected("PhysicsScript::pack on " + file_label(file_id) + ": " +
                               written.error().message());
    }
    if (!std::ranges::equal(encoded, bytes)) {
        const auto owned = case_runner::require_ok(PhysicsScript::unpack(bytes), "unpack again");
        const auto packed = case_runner::require_ok(owned.pack(), "pack again");
        case_runner::require_eq(packed, std::vector<std::uint8_t>(bytes.begin(), bytes.end()),
                                "PhysicsScript " + file_label(file_id) +
                                    " did not round-trip byte-equal");
    }
    for (const auto& entry : script->script_data) {
        stats.record(entry.hook);
        bytes_walked += entry.hook.encoded_size();
    }
    return script->script_data.size();
}

} // namespace quillmere::parity
