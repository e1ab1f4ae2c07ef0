// The Python Hook: its type, name, direction and place, and its payload's fields as attributes
// (hook.id, hook.emitter_info_id, ...), decoded from its bytes when asked for.
#include "decoded.hpp"

#include "quillmere/dat/file_type/hook_payload.hpp"
#include "quillmere/tools/hook_type_names.hpp"

#include <pybind11/stl.h>

#include <string_view>
#include <variant>

namespace quillmere::python {

namespace {

namespace setup = dat::file_type::setup_model;

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};

// File ids are plain ints in Python, so they need no kind of their own.
using FieldValue =
    std::variant<std::uint32_t, std::int32_t, float, common::Vector3, dat::graphics::Frame>;

struct Field {
    std::string_view name;
    FieldValue value;
};

using Fields = std::vector<Field>;

// The fields of a payload in wire order, named as in its record.
Fields payload_fields(const setup::HookPayload& payload) {
    return std::visit(
        Overloaded{
            [](const setup::EmptyPayload&) { return Fields{}; },
            [](const setup::SoundPayload& p) { return Fields{{"id", p.id}}; },
            [](const setup::SoundTablePayload& p) { return Fields{{"sound_type", p.sound_type}}; },
            [](const setup::AttackCone& p) {
                return Fields{{"part_index", p.part_index}, {"left_x", p.left_x},
                              {"left_y", p.left_y},         {"right_x", p.right_x},
                              {"right_y", p.right_y},       {"radius", p.radius},
                              {"height", p.height}};
            },
            [](const setup::AnimPartChange& p) {
                return Fields{{"part_index", std::uint32_t{p.part_index}}, {"part_id", p.part_id}};
            },
            [](const setup::EtherealPayload& p) { return Fields{{"ethereal", p.ethereal}}; },
            [](const setup::PartRamp& p) {
                return Fields{
                    {"part", p.part}, {"start", p.start}, {"end", p.end}, {"time", p.time}};
            },
            [](const setup::Ramp& p) {
                return Fields{{"start", p.start}, {"end", p.end}, {"time", p.time}};
            },
            [](const setup::ScalePayload& p) { return Fields{{"end", p.end}, {"time", p.time}}; },
            [](const setup::CreateParticleHookPayload& p) {
                return Fields{{"emitter_info_id", p.emitter_info_id},
                              {"part_index", p.part_index},
                              {"offset", p.offset},
                              {"emitter_id", p.emitter_id}};
            },
            [](const setup::ParticleEmitterPayload& p) {
                return Fields{{"emitter_id", p.emitter_id}};
            },
            [](const setup::NoDrawPayload& p) { return Fields{{"no_draw", p.no_draw}}; },
            [](const setup::DefaultScriptPartPayload& p) {
                return Fields{{"part_index", p.part_index}};
            },
            [](const setup::CallPesPayload& p) {
                return Fields{{"pes", p.pes}, {"pause", p.pause}};
            },
            [](const setup::SoundTweakedPayload& p) {
                return Fields{{"sound_id", p.sound_id},
                              {"probability", p.probability},
                              {"priority", p.priority},
                              {"volume", p.volume}};
            },
            [](const setup::SetOmegaPayload& p) { return Fields{{"axis", p.axis}}; },
            [](const setup::TextureVelocityPayload& p) {
                return Fields{{"u_speed", p.u_speed}, {"v_speed", p.v_speed}};
            },
            [](const setup::TextureVelocityPartPayload& p) {
                return Fields{
                    {"part_index", p.part_index}, {"u_speed", p.u_speed}, {"v_speed", p.v_speed}};
            },
            [](const setup::SetLightPayload& p) { return Fields{{"lights_on", p.lights_on}}; },
        },
        payload);
}

Fields fields_of(const Hook& hook) {
    return payload_fields(value_or_raise(setup::unpack_payload(hook.hook_type, hook.data)));
}

py::object to_python(const FieldValue& value) {
    return std::visit([](const auto& v) { return py::cast(v); }, value);
}

py::dict fields_dict(const Hook& hook) {
    py::dict out;
    for (const auto& field : fields_of(hook)) {
        out[py::str(field.name.data(), field.name.size())] = to_python(field.value);
    }
    return out;
}

// Called only for names the class does not have: a payload field, or AttributeError.
py::object payload_attribute(const Hook& hook, const std::string& name) {
    for (const auto& field : fields_of(hook)) {
        if (field.name == name) {
            return to_python(field.value);
        }
    }
    throw py::attribute_error("'" + std::string(tools::hook_type_name(hook.hook_type)) +
                              "' hook has no field '" + name + "'");
}

std::string hook_repr(const Hook& hook) {
    std::string out = "Hook(" + std::string(tools::hook_type_name(hook.hook_type)) +
                      ", direction=" + std::to_string(hook.direction);
    for (const auto& field : fields_of(hook)) {
        out += ", " + std::string(field.name) + "=" + std::string(py::repr(to_python(field.value)));
    }
    return out + ")";
}

py::list hook_dir(const py::object& self) {
    py::list names;
    for (const char* name : {"hook_type", "name", "direction", "data", "fields", "frame",
                             "placement", "start_time"}) {
        names.append(name);
    }
    for (const auto& field : fields_of(self.cast<const Hook&>())) {
        names.append(py::str(field.name.data(), field.name.size()));
    }
    return names;
}

} // namespace

void bind_hooks(py::module_& module) {
    py::class_<Hook>(module, "Hook",
                     "One hook: its type, name, direction, place in the file and payload fields "
                     "(as attributes, and as the dict `fields`).")
        .def_readonly("hook_type", &Hook::hook_type)
        .def_property_readonly("name",
                               [](const Hook& h) { return tools::hook_type_name(h.hook_type); })
        .def_readonly("direction", &Hook::direction)
        .def_property_readonly("data",
                               [](const Hook& h) {
                                   return py::bytes(reinterpret_cast<const char*>(h.data.data()),
                                                    h.data.size());
                               })
        .def_readonly("frame", &Hook::frame)
        .def_readonly("placement", &Hook::placement)
        .def_readonly("start_time", &Hook::start_time)
        .def_property_readonly("fields", &fields_dict)
        .def("__getattr__", &payload_attribute)
        .def("__dir__", &hook_dir)
        .def("__repr__", &hook_repr);
}

} // namespace quillmere::python
