// The hooks of one animation, setup model or physics script with their places in the file.
#include "hook_listing.hpp"

#include "quillmere/common/try.hpp"
#include "quillmere/dat/file_type/animation.hpp"
#include "quillmere/dat/file_type/physics_script.hpp"
#include "quillmere/dat/file_type/setup_model.hpp"

namespace quillmere::inspect {

using common::ByteCursor;
using common::DecodeResult;
namespace file_type = dat::file_type;

std::string_view type_label(HookFileType type) noexcept {
    switch (type) {
    case HookFileType::Animation:
        return "animation";
    case HookFileType::SetupModel:
        return "setup model";
    case HookFileType::PhysicsScript:
        return "physics script";
    }
    return "file";
}

namespace {

DecodeResult<HookListing> list_animation(std::span<const std::uint8_t> bytes) {
    ByteCursor cursor(bytes);
    QM_TRY(const auto animation, file_type::animation::AnimationView::parse(cursor));
    HookListing listing{
        HookFileType::Animation, animation.id, animation.num_parts, animation.num_frames, {}};
    std::uint32_t frame_index = 0;
    for (const auto& frame : animation.part_frames) {
        for (const auto& hook : frame.hooks) {
            listing.hooks.push_back({frame_index, std::nullopt, std::nullopt, hook.to_owned()});
        }
        ++frame_index;
    }
    return listing;
}

DecodeResult<HookListing> list_setup_model(std::span<const std::uint8_t> bytes) {
    ByteCursor cursor(bytes);
    QM_TRY(const auto model, file_type::setup_model::SetupModelView::parse(cursor));
    // The placements the model keeps (the last stored under each key), listed by key so the
    // output is the same on every run.
    std::vector<file_type::setup_model::PlacementView> placements;
    model.placements_by_key(placements);
    HookListing listing{HookFileType::SetupModel,
                        model.id,
                        model.num_parts,
                        static_cast<std::uint32_t>(placements.size()),
                        {}};
    for (const auto& placement : placements) {
        for (const auto& hook : placement.anim_frame.hooks) {
            listing.hooks.push_back({std::nullopt, placement.key, std::nullopt, hook.to_owned()});
        }
    }
    return listing;
}

DecodeResult<HookListing> list_physics_script(std::span<const std::uint8_t> bytes) {
    ByteCursor cursor(bytes);
    QM_TRY(const auto script, file_type::physics_script::PhysicsScriptView::parse(cursor));
    HookListing listing{HookFileType::PhysicsScript, script.id, 0, script.script_data.size(), {}};
    for (const auto& entry : script.script_data) {
        listing.hooks.push_back(
            {std::nullopt, std::nullopt, entry.start_time, entry.hook.to_owned()});
    }
    return listing;
}

} // namespace

DecodeResult<HookListing> list_hooks(HookFileType type, std::span<const std::uint8_t> bytes) {
    switch (type) {
    case HookFileType::Animation:
        return list_animation(bytes);
    case HookFileType::SetupModel:
        return list_setup_model(bytes);
    case HookFileType::PhysicsScript:
        return list_physics_script(bytes);
    }
    return list_animation(bytes);
}

} // namespace quillmere::inspect
