// Animation, SetupModel and PhysicsScript objects. Decoding checks the whole file through the
// library's view of its type (one pass, no allocation) and copies out the hooks; the other
// fields of the owned decoded form (placements, parts, lights, ...) are decoded from the kept
// bytes the first time one of them is asked for. A census that looks at hooks alone never pays
// for them.
#include "decoded.hpp"

#include "quillmere/dat/file_type/animation.hpp"
#include "quillmere/dat/file_type/physics_script.hpp"
#include "quillmere/dat/file_type/setup_model.hpp"

#include <map>
#include <memory>
#include <pybind11/stl.h>

namespace quillmere::python {

namespace {

namespace animation = dat::file_type::animation;
namespace physics_script = dat::file_type::physics_script;
namespace setup = dat::file_type::setup_model;

Hook make_hook(const setup::HookView& view) {
    return Hook{view.hook_type, view.direction, {view.data.begin(), view.data.end()}, {}, {}, {}};
}

Hook make_hook(const setup::AnimationHook& hook) {
    return Hook{hook.hook_type, hook.direction, hook.data, {}, {}, {}};
}

py::list hooks_list(const std::vector<Hook>& hooks) {
    py::list out(hooks.size());
    for (std::size_t i = 0; i < hooks.size(); ++i) {
        PyList_SET_ITEM(out.ptr(), static_cast<Py_ssize_t>(i),
                        make_hook_object(hooks[i]).release().ptr());
    }
    return out;
}

/// One frame's placements and hooks (an animation's part frame, a setup model's placement).
struct FrameObject {
    std::vector<dat::graphics::Frame> frames;
    std::vector<Hook> hooks;
};

FrameObject frame_object(const setup::AnimationFrame& frame) {
    FrameObject out{frame.frames, {}};
    for (const auto& hook : frame.hooks) {
        out.hooks.push_back(make_hook(hook));
    }
    return out;
}

struct AnimationObject {
    std::vector<std::uint8_t> bytes;
    std::uint32_t id = 0;
    std::uint32_t flags = 0;
    std::uint32_t num_parts = 0;
    std::uint32_t num_frames = 0;
    std::vector<Hook> hooks;
    std::shared_ptr<const animation::Animation> owned;

    const animation::Animation& decoded() {
        if (!owned) {
            common::ByteCursor cursor(bytes);
            owned = std::make_shared<animation::Animation>(
                value_or_raise(animation::Animation::read(cursor)));
        }
        return *owned;
    }
};

struct SetupModelObject {
    std::vector<std::uint8_t> bytes;
    std::uint32_t id = 0;
    std::uint32_t flags = 0;
    std::uint32_t num_parts = 0;
    std::vector<Hook> hooks;
    std::shared_ptr<const setup::SetupModel> owned;

    const setup::SetupModel& decoded() {
        if (!owned) {
            common::ByteCursor cursor(bytes);
            owned = std::make_shared<setup::SetupModel>(
                value_or_raise(setup::SetupModel::read(cursor)));
        }
        return *owned;
    }
};

struct PhysicsScriptObject {
    std::uint32_t id = 0;
    std::vector<Hook> hooks;
};

py::object decode_animation(std::vector<std::uint8_t> bytes) {
    common::ByteCursor cursor(bytes);
    const auto view = value_or_raise(animation::AnimationView::read(cursor));
    AnimationObject out{{}, view.id, view.flags.bits(), view.num_parts, view.num_frames, {}, {}};
    std::uint32_t index = 0;
    for (const auto& frame : view.part_frames) {
        for (const auto& hook : frame.hooks) {
            out.hooks.push_back(make_hook(hook));
            out.hooks.back().frame = index;
        }
        ++index;
    }
    out.bytes = std::move(bytes); // the buffer moves with the vector: nothing above dangles
    return py::cast(std::move(out));
}

// The placements the decoded model keeps (the last stored under each key), by ascending key:
// the hooks quillmere-dat hooks lists and the checker counts.
py::object decode_setup_model(std::vector<std::uint8_t> bytes) {
    common::ByteCursor cursor(bytes);
    const auto view = value_or_raise(setup::SetupModelView::read(cursor));
    SetupModelObject out{{}, view.id, view.flags, view.num_parts, {}, {}};
    std::vector<setup::PlacementView> placements;
    view.placements_by_key(placements);
    for (const auto& placement : placements) {
        for (const auto& hook : placement.anim_frame.hooks) {
            out.hooks.push_back(make_hook(hook));
            out.hooks.back().placement = placement.key;
        }
    }
    out.bytes = std::move(bytes);
    return py::cast(std::move(out));
}

py::object decode_physics_script(const std::vector<std::uint8_t>& bytes) {
    common::ByteCursor cursor(bytes);
    const auto view = value_or_raise(physics_script::PhysicsScriptView::read(cursor));
    PhysicsScriptObject out{view.id, {}};
    for (const auto& entry : view.script_data) {
        out.hooks.push_back(make_hook(entry.hook));
        out.hooks.back().start_time = entry.start_time;
    }
    return py::cast(std::move(out));
}

// A map keyed by placement or light key as a dict in ascending key order.
template <class Value, class Convert>
py::dict keyed_dict(const std::unordered_map<std::int32_t, Value>& map, Convert convert) {
    const std::map<std::int32_t, const Value*> ordered = [&map] {
        std::map<std::int32_t, const Value*> out;
        for (const auto& [key, value] : map) {
            out.emplace(key, &value);
        }
        return out;
    }();
    py::dict out;
    for (const auto& [key, value] : ordered) {
        out[py::int_(key)] = convert(*value);
    }
    return out;
}

py::object copy_of(const auto& value) {
    return py::cast(value, py::return_value_policy::copy);
}

void bind_frame_and_animation(py::module_& module) {
    py::class_<FrameObject>(module, "AnimationFrame",
                            "One frame: a placement per part and the hooks that fire on it.")
        .def_readonly("frames", &FrameObject::frames)
        .def_property_readonly("hooks", [](const FrameObject& f) { return hooks_list(f.hooks); });

    py::class_<AnimationObject>(module, "Animation", "A decoded animation file.")
        .def_readonly("id", &AnimationObject::id)
        .def_readonly("flags", &AnimationObject::flags)
        .def_readonly("num_parts", &AnimationObject::num_parts)
        .def_readonly("num_frames", &AnimationObject::num_frames)
        .def_property_readonly("hooks",
                               [](const AnimationObject& a) { return hooks_list(a.hooks); })
        .def_property_readonly("pos_frames",
                               [](AnimationObject& a) { return copy_of(a.decoded().pos_frames); })
        .def_property_readonly("part_frames", [](AnimationObject& a) {
            py::list out;
            std::uint32_t index = 0;
            for (const auto& frame : a.decoded().part_frames) {
                FrameObject object = frame_object(frame);
                for (auto& hook : object.hooks) {
                    hook.frame = index;
                }
                out.append(py::cast(std::move(object)));
                ++index;
            }
            return out;
        });
}

void bind_setup_model(py::module_& module) {
    using S = SetupModelObject;
    py::class_<S>(module, "SetupModel", "A decoded setup model file.")
        .def_readonly("id", &S::id)
        .def_readonly("flags", &S::flags)
        .def_readonly("num_parts", &S::num_parts)
        .def_property_readonly("hooks", [](const S& s) { return hooks_list(s.hooks); })
        .def_property_readonly("parts", [](S& s) { return copy_of(s.decoded().parts); })
        .def_property_readonly("parent_index",
                               [](S& s) { return copy_of(s.decoded().parent_index); })
        .def_property_readonly("default_scale",
                               [](S& s) { return copy_of(s.decoded().default_scale); })
        .def_property_readonly("holding_locations",
                               [](S& s) {
                                   return keyed_dict(s.decoded().holding_locations,
                                                     [](const auto& v) { return copy_of(v); });
                               })
        .def_property_readonly("connection_points",
                               [](S& s) {
                                   return keyed_dict(s.decoded().connection_points,
                                                     [](const auto& v) { return copy_of(v); });
                               })
        .def_property_readonly(
            "placement_frames",
            [](S& s) {
                return keyed_dict(s.decoded().placement_frames, [](const setup::PlacementType& p) {
                    return py::cast(frame_object(p.anim_frame));
                });
            })
        .def_property_readonly("cyl_spheres", [](S& s) { return copy_of(s.decoded().cyl_spheres); })
        .def_property_readonly("spheres", [](S& s) { return copy_of(s.decoded().spheres); })
        .def_property_readonly("height", [](S& s) { return s.decoded().height; })
        .def_property_readonly("radius", [](S& s) { return s.decoded().radius; })
        .def_property_readonly("step_up", [](S& s) { return s.decoded().step_up; })
        .def_property_readonly("step_down", [](S& s) { return s.decoded().step_down; })
        .def_property_readonly("sorting_sphere",
                               [](S& s) { return copy_of(s.decoded().sorting_sphere); })
        .def_property_readonly("selection_sphere",
                               [](S& s) { return copy_of(s.decoded().selection_sphere); })
        .def_property_readonly("lights",
                               [](S& s) {
                                   return keyed_dict(s.decoded().lights,
                                                     [](const auto& v) { return copy_of(v); });
                               })
        .def_property_readonly("default_animation",
                               [](S& s) { return s.decoded().default_animation; })
        .def_property_readonly("default_script", [](S& s) { return s.decoded().default_script; })
        .def_property_readonly("default_motion_table",
                               [](S& s) { return s.decoded().default_motion_table; })
        .def_property_readonly("default_sound_table",
                               [](S& s) { return s.decoded().default_sound_table; })
        .def_property_readonly("default_script_table",
                               [](S& s) { return s.decoded().default_script_table; });
}

void bind_physics_script(py::module_& module) {
    py::class_<PhysicsScriptObject>(module, "PhysicsScript", "A decoded physics script file.")
        .def_readonly("id", &PhysicsScriptObject::id)
        .def_property_readonly("hooks",
                               [](const PhysicsScriptObject& p) { return hooks_list(p.hooks); })
        .def_property_readonly("script_data", [](const PhysicsScriptObject& p) {
            py::list out;
            for (const auto& hook : p.hooks) {
                out.append(py::make_tuple(*hook.start_time, make_hook_object(hook)));
            }
            return out;
        });
}

} // namespace

py::object decode_file(dat::file_type::FileType type, std::vector<std::uint8_t> bytes) {
    switch (type) {
    case dat::file_type::FileType::Animation:
        return decode_animation(std::move(bytes));
    case dat::file_type::FileType::SetupModel:
        return decode_setup_model(std::move(bytes));
    case dat::file_type::FileType::PhysicsScript:
        return decode_physics_script(bytes);
    }
    throw py::value_error("not a hook-carrying file type");
}

void bind_decoded(py::module_& module) {
    bind_frame_and_animation(module);
    bind_setup_model(module);
    bind_physics_script(module);
}

} // namespace quillmere::python
