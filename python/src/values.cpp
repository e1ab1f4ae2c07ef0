// Plain records as Python values: vectors, quaternions, frames, spheres, the records of a setup
// model, the archive header and directory entries. Each is a copy, independent of any archive.
#include "bindings.hpp"
#include "quillmere/common/math.hpp"
#include "quillmere/dat/dat_file_entry.hpp"
#include "quillmere/dat/dat_header.hpp"
#include "quillmere/dat/file_type/setup_model.hpp"
#include "quillmere/dat/graphics.hpp"

#include <array>
#include <cstdio>
#include <pybind11/operators.h>
#include <pybind11/stl.h>

namespace quillmere::python {

namespace {

namespace setup = dat::file_type::setup_model;
using common::Quaternion;
using common::Sphere;
using common::Vector3;
using dat::DatFileEntry;
using dat::DatHeader;
using dat::graphics::Frame;

// The header's 32-bit fields in file order; version_string (16 raw bytes) sits between the last
// two and is handled on its own.
struct HeaderWord {
    const char* name;
    std::uint32_t DatHeader::*field;
};
constexpr std::array<HeaderWord, 16> kHeaderWords{{
    {"magic", &DatHeader::magic},
    {"block_size", &DatHeader::block_size},
    {"file_size", &DatHeader::file_size},
    {"dataset", &DatHeader::dataset},
    {"subset", &DatHeader::subset},
    {"free_head", &DatHeader::free_head},
    {"free_tail", &DatHeader::free_tail},
    {"free_count", &DatHeader::free_count},
    {"root_offset", &DatHeader::root_offset},
    {"new_lru", &DatHeader::new_lru},
    {"old_lru", &DatHeader::old_lru},
    {"use_lru", &DatHeader::use_lru},
    {"master_map_id", &DatHeader::master_map_id},
    {"engine_version", &DatHeader::engine_version},
    {"game_version", &DatHeader::game_version},
    {"version_minor", &DatHeader::version_minor},
}};

void set_version_string(DatHeader& header, const py::bytes& value) {
    const std::string bytes = value;
    if (bytes.size() > 16) {
        throw py::value_error("version_string holds at most 16 bytes");
    }
    header.version_string.assign(bytes.begin(), bytes.end());
}

// Header(**fields): every field 0 (version_string empty) unless given.
DatHeader make_header(const py::kwargs& fields) {
    DatHeader header;
    py::object self = py::cast(header);
    for (const auto& [name, value] : fields) {
        const std::string key = py::str(name);
        if (!py::hasattr(self, key.c_str())) {
            throw py::type_error("Header has no field '" + key + "'");
        }
        py::setattr(self, name, value);
    }
    return self.cast<DatHeader>();
}

std::string header_repr(const DatHeader& header) {
    std::string out = "Header(";
    for (const auto& word : kHeaderWords) {
        out += word.name;
        out += "=" + std::to_string(header.*word.field) + ", ";
    }
    return out + "version_string=" +
           std::string(
               py::repr(py::bytes(reinterpret_cast<const char*>(header.version_string.data()),
                                  header.version_string.size()))) +
           ")";
}

void bind_header(py::module_& module) {
    py::class_<DatHeader> header(module, "Header",
                                 "The archive header: its fields as `DatHeader` names them.");
    header.def(py::init(&make_header));
    for (const auto& word : kHeaderWords) {
        const auto field = word.field;
        header.def_property(
            word.name, [field](const DatHeader& h) { return h.*field; },
            [field](DatHeader& h, std::uint32_t value) { h.*field = value; });
    }
    header
        .def_property(
            "version_string",
            [](const DatHeader& h) {
                return py::bytes(reinterpret_cast<const char*>(h.version_string.data()),
                                 h.version_string.size());
            },
            &set_version_string)
        .def(py::self == py::self)
        .def("__repr__", &header_repr);
}

// Entry is a struct sequence (a named tuple made by the C API): a census makes one per directory
// entry, and these are the cheapest Python objects with named fields.
PyStructSequence_Field entry_fields[] = {
    {"id", "The file id."},
    {"offset", "Where the file's first block lies."},
    {"size", "The stored size (compressed, for a compressed file)."},
    {"bit_flags", "The entry's flags; bit 0 marks a compressed file."},
    {"timestamp", "As stored."},
    {"version", "As stored."},
    {"compressed", "Whether bit 0 of bit_flags is set."},
    {"file_type", "The id's top byte as quillmere-dat info prints it ('0x03')."},
    {nullptr, nullptr},
};
PyStructSequence_Desc entry_desc = {"quillmere.Entry", "One directory entry of an archive.",
                                    entry_fields, 8};
PyTypeObject* entry_type = nullptr;

// The file type texts, "0x00" to "0xFF", made once.
std::array<py::object, 256>& file_type_texts() {
    static auto* texts = [] {
        auto* out = new std::array<py::object, 256>;
        for (std::size_t type = 0; type < out->size(); ++type) {
            char text[5];
            std::snprintf(text, sizeof text, "0x%02zX", type);
            (*out)[type] = py::str(text);
        }
        return out;
    }();
    return *texts;
}

void bind_entry(py::module_& module) {
    entry_type = PyStructSequence_NewType(&entry_desc);
    if (entry_type == nullptr) {
        throw py::error_already_set();
    }
    file_type_texts();
    module.add_object("Entry", reinterpret_cast<PyObject*>(entry_type));
}

std::string floats_repr(const char* name, std::initializer_list<float> values) {
    std::string out = name;
    out += "(";
    for (float value : values) {
        out += (out.back() == '(' ? "" : ", ") + std::string(py::repr(py::float_(value)));
    }
    return out + ")";
}

void bind_geometry(py::module_& module) {
    py::class_<Vector3>(module, "Vector3")
        .def_readonly("x", &Vector3::x)
        .def_readonly("y", &Vector3::y)
        .def_readonly("z", &Vector3::z)
        .def(py::self == py::self)
        .def("__repr__", [](const Vector3& v) {
            return floats_repr("Vector3", {v.x, v.y, v.z});
        });
    py::class_<Quaternion>(module, "Quaternion")
        .def_readonly("w", &Quaternion::w)
        .def_readonly("x", &Quaternion::x)
        .def_readonly("y", &Quaternion::y)
        .def_readonly("z", &Quaternion::z)
        .def(py::self == py::self)
        .def("__repr__", [](const Quaternion& q) {
            return floats_repr("Quaternion", {q.w, q.x, q.y, q.z});
        });
    py::class_<Frame>(module, "Frame", "A placement: an origin and an orientation.")
        .def_readonly("origin", &Frame::origin)
        .def_readonly("orientation", &Frame::orientation)
        .def(py::self == py::self)
        .def("__repr__", [](const Frame& f) {
            return "Frame(origin=" + std::string(py::repr(py::cast(f.origin))) +
                   ", orientation=" + std::string(py::repr(py::cast(f.orientation))) + ")";
        });
    py::class_<Sphere>(module, "Sphere")
        .def_readonly("center", &Sphere::center)
        .def_readonly("radius", &Sphere::radius)
        .def(py::self == py::self);
}

void bind_setup_records(py::module_& module) {
    py::class_<setup::LocationType>(module, "Location", "A holding location or connection point.")
        .def_readonly("part_id", &setup::LocationType::part_id)
        .def_readonly("frame", &setup::LocationType::frame);
    py::class_<setup::CylSphere>(module, "CylSphere")
        .def_readonly("origin", &setup::CylSphere::origin)
        .def_readonly("radius", &setup::CylSphere::radius)
        .def_readonly("height", &setup::CylSphere::height);
    py::class_<setup::LightInfo>(module, "LightInfo")
        .def_readonly("viewer_space_location", &setup::LightInfo::viewer_space_location)
        .def_readonly("color", &setup::LightInfo::color)
        .def_readonly("intensity", &setup::LightInfo::intensity)
        .def_readonly("falloff", &setup::LightInfo::falloff)
        .def_readonly("cone_angle", &setup::LightInfo::cone_angle);
}

} // namespace

py::object make_entry(const DatFileEntry& e) {
    auto entry = py::reinterpret_steal<py::object>(PyStructSequence_New(entry_type));
    if (!entry) {
        throw py::error_already_set();
    }
    const py::object items[] = {py::int_(e.id),
                                py::int_(e.offset),
                                py::int_(e.size),
                                py::int_(e.bit_flags),
                                py::int_(e.timestamp),
                                py::int_(e.version),
                                py::bool_(e.is_compressed()),
                                file_type_texts()[e.id >> 24]};
    for (Py_ssize_t i = 0; i < 8; ++i) {
        PyStructSequence_SetItem(entry.ptr(), i, py::object(items[i]).release().ptr());
    }
    return entry;
}

void bind_values(py::module_& module) {
    bind_header(module);
    bind_entry(module);
    bind_geometry(module);
    bind_setup_records(module);
}

} // namespace quillmere::python
