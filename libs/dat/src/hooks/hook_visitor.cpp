// Every hook of a hook-carrying file through the file's checked view.
#include "quillmere/dat/hooks/hook_visitor.hpp"

#include "quillmere/common/try.hpp"
#include "quillmere/dat/file_type/animation.hpp"
#include "quillmere/dat/file_type/physics_script.hpp"
#include "quillmere/dat/file_type/setup_model.hpp"

#include <vector>

namespace quillmere::dat::hooks {

using common::ByteCursor;
using common::DecodeResult;
using file_type::FileType;

namespace {

void visit_frame(const file_type::setup_model::FrameView& frame, HookSite site,
                 const HookVisitor& visit) {
    for (const HookView& hook : frame.hooks) {
        visit(site, hook);
        ++site.index;
    }
}

DecodeResult<void> visit_animation(ByteCursor& cursor, const HookVisitor& visit,
                                   HookFileOutline& outline) {
    QM_TRY(const auto animation, file_type::animation::AnimationView::read(cursor));
    outline = {animation.id, animation.num_parts, animation.num_frames};
    HookSite site;
    site.file_type = FileType::Animation;
    site.frame = 0;
    for (const auto& frame : animation.part_frames) {
        visit_frame(frame, site, visit);
        ++*site.frame;
    }
    return {};
}

DecodeResult<void> visit_setup_model(ByteCursor& cursor, const HookVisitor& visit,
                                     HookFileOutline& outline) {
    QM_TRY(const auto model, file_type::setup_model::SetupModelView::read(cursor));
    std::vector<file_type::setup_model::PlacementView> placements;
    model.placements_by_key(placements);
    outline = {model.id, model.num_parts, static_cast<std::uint32_t>(placements.size())};
    HookSite site;
    site.file_type = FileType::SetupModel;
    for (const auto& placement : placements) {
        site.placement_key = placement.key;
        visit_frame(placement.anim_frame, site, visit);
    }
    return {};
}

DecodeResult<void> visit_physics_script(ByteCursor& cursor, const HookVisitor& visit,
                                        HookFileOutline& outline) {
    QM_TRY(const auto script, file_type::physics_script::PhysicsScriptView::read(cursor));
    outline = {script.id, 0, static_cast<std::uint32_t>(script.script_data.size())};
    HookSite site;
    site.file_type = FileType::PhysicsScript;
    site.script_entry = 0;
    for (const auto& entry : script.script_data) {
        site.start_time = entry.start_time;
        visit(site, entry.hook);
        ++*site.script_entry;
    }
    return {};
}

} // namespace

DecodeResult<std::uint64_t> visit_hooks(FileType type, std::span<const std::uint8_t> bytes,
                                        const HookVisitor& visit, HookFileOutline* outline) {
    ByteCursor cursor(bytes);
    HookFileOutline ignored;
    HookFileOutline& filled = outline != nullptr ? *outline : ignored;
    switch (type) {
    case FileType::Animation:
        QM_TRY_VOID(visit_animation(cursor, visit, filled));
        break;
    case FileType::SetupModel:
        QM_TRY_VOID(visit_setup_model(cursor, visit, filled));
        break;
    case FileType::PhysicsScript:
        QM_TRY_VOID(visit_physics_script(cursor, visit, filled));
        break;
    }
    return cursor.position();
}

} // namespace quillmere::dat::hooks
