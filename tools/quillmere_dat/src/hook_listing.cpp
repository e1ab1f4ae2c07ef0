// The hooks of one animation, setup model or physics script with their places in the file.
#include "hook_listing.hpp"

#include "quillmere/common/try.hpp"
#include "quillmere/dat/file_type/animation.hpp"
#include "quillmere/dat/file_type/physics_script.hpp"
#include "quillmere/dat/file_type/setup_model.hpp"

#include <algorithm>

namespace quillmere::inspect {

using common::ByteCursor;
using common::DecodeResult;
namespace file_type = dat::file_type;

std::optional<HookFileType> hook_file_type(std::uint32_t id) noexcept {
    switch (id >> 24) {
    case 0x03:
        return HookFileType::Animation;
    case 0x02:
        return HookFileType::SetupModel;
    case 0x33:
        return HookFileType::PhysicsScript;
    default:
        return std::nullopt;
    }
}

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
    QM_TRY(auto animation, file_type::animation::Animation::read(cursor));
    HookListing listing{
        HookFileType::Animation, animation.id, animation.num_parts, animation.num_frames, {}};
    for (std::size_t frame = 0; frame < animation.part_frames.size(); ++frame) {
        for (auto& hook : animation.part_frames[frame].hooks) {
            listing.hooks.push_back(
                {static_cast<std::uint32_t>(frame), std::nullopt, std::nullopt, std::move(hook)});
        }
    }
    return listing;
}

DecodeResult<HookListing> list_setup_model(std::span<const std::uint8_t> bytes) {
    ByteCursor cursor(bytes);
    QM_TRY(auto model, file_type::setup_model::SetupModel::read(cursor));
    // The placements are a hash map; list them by key so the output is the same on every run.
    std::vector<std::int32_t> keys;
    keys.reserve(model.placement_frames.size());
    for (const auto& [key, placement] : model.placement_frames) {
        keys.push_back(key);
    }
    std::sort(keys.begin(), keys.end());
    HookListing listing{HookFileType::SetupModel,
                        model.id,
                        static_cast<std::uint32_t>(model.parts.size()),
                        static_cast<std::uint32_t>(keys.size()),
                        {}};
    for (auto key : keys) {
        for (auto& hook : model.placement_frames[key].anim_frame.hooks) {
            listing.hooks.push_back({std::nullopt, key, std::nullopt, std::move(hook)});
        }
    }
    return listing;
}

DecodeResult<HookListing> list_physics_script(std::span<const std::uint8_t> bytes) {
    QM_TRY(auto script, file_type::physics_script::PhysicsScript::unpack(bytes));
    HookListing listing{HookFileType::PhysicsScript,
                        script.id,
                        0,
                        static_cast<std::uint32_t>(script.script_data.size()),
                        {}};
    for (auto& entry : script.script_data) {
        listing.hooks.push_back(
            {std::nullopt, std::nullopt, entry.start_time, std::move(entry.hook)});
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
