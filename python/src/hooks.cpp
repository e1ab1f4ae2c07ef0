// The Python Hook: its type, name, direction and place, and its payload's fields as attributes
// (hook.id, hook.emitter_info_id, ...), decoded from its bytes when asked for.
#include "decoded.hpp"
#include "quillmere/common/overloaded.hpp"
#include "quillmere/dat/file_type/hook_payload.hpp"
#include "quillmere/tools/hook_type_names.hpp"

#include <string_view>
#include <variant>

namespace quillmere::python {

namespace {

namespace setup = dat::file_type::setup_model;

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
        quillmere::common::Overloaded{
            [](const setup::EmptyPayload&) { return Fields{}; },
            [](const setup::SoundPayload& p) {
                return Fields{{"id", p.id}};
            },
            [](const setup::SoundTablePayload& p) {
                return Fields{{"sound_type", p.sound_type}};
            },
            [](const setup::AttackCone& p) {
                return Fields{{"part_index", p.part_index}, {"left_x", p.left_x},
                              {"left_y", p.left_y},         {"right_x", p.right_x},
                              {"right_y", p.right_y},       {"radius", p.radius},
                              {"height", p.height}};
            },
            [](const setup::AnimPartChange& p) {
                return Fields{{"part_index", std::uint32_t{p.part_index}}, {"part_id", p.part_id}};
            },
            [](const setup::EtherealPayload& p) {
                return Fields{{"ethereal", p.ethereal}};
            },
            [](const setup::PartRamp& p) {
                return Fields{
                    {"part", p.part}, {"start", p.start}, {"end", p.end}, {"time", p.time}};
            },
            [](const setup::Ramp& p) {
                return Fields{{"start", p.start}, {"end", p.end}, {"time", p.time}};
            },
            [](const setup::ScalePayload& p) {
                return Fields{{"end", p.end}, {"time", p.time}};
            },
            [](const setup::CreateParticleHookPayload& p) {
                return Fields{{"emitter_info_id", p.emitter_info_id},
                              {"part_index", p.part_index},
                              {"offset", p.offset},
                              {"emitter_id", p.emitter_id}};
            },
            [](const setup::ParticleEmitterPayload& p) {
                return Fields{{"emitter_id", p.emitter_id}};
            },
            [](const setup::NoDrawPayload& p) {
                return Fields{{"no_draw", p.no_draw}};
            },
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
            [](const setup::SetOmegaPayload& p) {
                return Fields{{"axis", p.axis}};
            },
            [](const setup::TextureVelocityPayload& p) {
                return Fields{{"u_speed", p.u_speed}, {"v_speed", p.v_speed}};
            },
            [](const setup::TextureVelocityPartPayload& p) {
                return Fields{
                    {"part_index", p.part_index}, {"u_speed", p.u_speed}, {"v_speed", p.v_speed}};
            },
            [](const setup::SetLightPayload& p) {
                return Fields{{"lights_on", p.lights_on}};
            },
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

std::string hook_repr(const Hook& hook) {
    std::string out = "Hook(" + std::string(tools::hook_type_name(hook.hook_type)) +
                      ", direction=" + std::to_string(hook.direction);
    for (const auto& field : fields_of(hook)) {
        out += ", " + std::string(field.name) + "=" + std::string(py::repr(to_python(field.value)));
    }
    return out + ")";
}

// The Hook type is written against the C API rather than with pybind11: a census makes one
// object per hook, and this way one is made in a single allocation
// with the Hook inside, without pybind11's bookkeeping of instances.
struct HookObject {
    PyObject_HEAD Hook hook;
};

PyTypeObject* hook_type_object = nullptr;

const Hook& hook_of(PyObject* self) {
    return reinterpret_cast<HookObject*>(self)->hook;
}

// Runs a callback of the C API: a C++ exception becomes the Python error it stands for.
template <class Body>
PyObject* guarded(Body body) noexcept {
    try {
        return body().release().ptr();
    } catch (py::error_already_set& error) {
        error.restore();
    } catch (const py::builtin_exception& error) {
        error.set_error();
    } catch (const std::exception& error) {
        PyErr_SetString(PyExc_RuntimeError, error.what());
    }
    return nullptr;
}

void hook_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<HookObject*>(self)->hook.~Hook();
    type->tp_free(self);
    Py_DECREF(type);
}

// Attributes the type has come first; any other name is looked up among the payload's fields.
PyObject* hook_getattro(PyObject* self, PyObject* name) {
    PyObject* found = PyObject_GenericGetAttr(self, name);
    if (found != nullptr || !PyErr_ExceptionMatches(PyExc_AttributeError)) {
        return found;
    }
    PyErr_Clear();
    return guarded([&] {
        const Hook& hook = hook_of(self);
        const std::string wanted = py::handle(name).cast<std::string>();
        for (const auto& field : fields_of(hook)) {
            if (field.name == wanted) {
                return to_python(field.value);
            }
        }
        throw py::attribute_error("'" + std::string(tools::hook_type_name(hook.hook_type)) +
                                  "' hook has no field '" + wanted + "'");
    });
}

template <class T>
py::object optional_value(const std::optional<T>& value) {
    return value ? py::cast(*value) : py::none();
}

PyObject* get_hook_type(PyObject* self, void*) {
    return guarded([&] { return py::int_(hook_of(self).hook_type); });
}
PyObject* get_name(PyObject* self, void*) {
    return guarded([&] { return py::str(tools::hook_type_name(hook_of(self).hook_type)); });
}
PyObject* get_direction(PyObject* self, void*) {
    return guarded([&] { return py::int_(hook_of(self).direction); });
}
PyObject* get_data(PyObject* self, void*) {
    return guarded([&] {
        const auto& data = hook_of(self).data;
        return py::bytes(reinterpret_cast<const char*>(data.data()), data.size());
    });
}
PyObject* get_frame(PyObject* self, void*) {
    return guarded([&] { return optional_value(hook_of(self).frame); });
}
PyObject* get_placement(PyObject* self, void*) {
    return guarded([&] { return optional_value(hook_of(self).placement); });
}
PyObject* get_start_time(PyObject* self, void*) {
    return guarded([&] { return optional_value(hook_of(self).start_time); });
}
PyObject* get_fields(PyObject* self, void*) {
    return guarded([&] { return fields_dict(hook_of(self)); });
}
PyObject* hook_repr_slot(PyObject* self) {
    return guarded([&] { return py::str(hook_repr(hook_of(self))); });
}
PyObject* hook_dir(PyObject* self, PyObject*) {
    return guarded([&] {
        py::list names;
        for (const char* name : {"hook_type", "name", "direction", "data", "fields", "frame",
                                 "placement", "start_time"}) {
            names.append(name);
        }
        for (const auto& field : fields_of(hook_of(self))) {
            names.append(py::str(field.name.data(), field.name.size()));
        }
        return names;
    });
}

// The tables the C API keeps pointers to live as long as the process.
PyGetSetDef hook_getset[] = {
    {"hook_type", get_hook_type, nullptr, "The type number, 0 to 26.", nullptr},
    {"name", get_name, nullptr, "The type's name ('Sound', 'CreateParticle', ...).", nullptr},
    {"direction", get_direction, nullptr, "The direction word, as stored.", nullptr},
    {"data", get_data, nullptr, "Payload then padding, as stored.", nullptr},
    {"frame", get_frame, nullptr, "The frame index in an animation, else None.", nullptr},
    {"placement", get_placement, nullptr, "The placement key in a setup model, else None.",
     nullptr},
    {"start_time", get_start_time, nullptr, "The start time in a physics script, else None.",
     nullptr},
    {"fields", get_fields, nullptr, "The payload's fields by name, in wire order.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef hook_methods[] = {
    {"__dir__", hook_dir, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot hook_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&hook_dealloc)},
    {Py_tp_getattro, reinterpret_cast<void*>(&hook_getattro)},
    {Py_tp_repr, reinterpret_cast<void*>(&hook_repr_slot)},
    {Py_tp_getset, hook_getset},
    {Py_tp_methods, hook_methods},
    {Py_tp_doc, const_cast<char*>("One hook: its type, name, direction, place in the file and "
                                  "payload fields (as attributes, and as the dict `fields`).")},
    {0, nullptr},
};

// Not made from Python: hooks come from decoding.
PyType_Spec hook_spec = {"quillmere.Hook", sizeof(HookObject), 0,
                         Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, hook_slots};

} // namespace

py::object make_hook_object(Hook hook) {
    PyObject* self = hook_type_object->tp_alloc(hook_type_object, 0);
    if (self == nullptr) {
        throw py::error_already_set();
    }
    new (&reinterpret_cast<HookObject*>(self)->hook) Hook(std::move(hook));
    return py::reinterpret_steal<py::object>(self);
}

void bind_hooks(py::module_& module) {
    hook_type_object = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&hook_spec));
    if (hook_type_object == nullptr) {
        throw py::error_already_set();
    }
    module.add_object("Hook", reinterpret_cast<PyObject*>(hook_type_object));
}

} // namespace quillmere::python
