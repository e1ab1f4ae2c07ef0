// The exceptions of the package: quillmere.Error, and under it DatError (an archive operation
// failed; `.kind` names the library's error kind, `.file_id` the file when the kind has one) and
// DecodeError (a file's bytes do not decode). Messages are the library's, on one line, as
// quillmere-dat prints them.
#include "bindings.hpp"

#include <algorithm>
#include <cstdio>

namespace quillmere::python {

namespace {

// Created once when the module loads and kept for the life of the process, as Python keeps
// the module itself.
PyObject* error_type = nullptr;
PyObject* dat_error_type = nullptr;
PyObject* decode_error_type = nullptr;

[[noreturn]] void raise(PyObject* type, const std::string& message, const py::dict& attributes) {
    py::object exception = py::handle(type)(py::str(message));
    for (const auto& [name, value] : attributes) {
        py::setattr(exception, name, value);
    }
    PyErr_SetObject(type, exception.ptr());
    throw py::error_already_set();
}

std::string one_line(const dat::DatError& error) {
    if (const auto* decode = error.decode_error()) {
        return "Binary read error: " + decode->one_line();
    }
    std::string out = error.message();
    std::replace(out.begin(), out.end(), '\n', ' ');
    return out;
}

} // namespace

std::string id_text(std::uint32_t id) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%08X", id);
    return text;
}

void raise_dat_error(const dat::DatError& error) {
    py::dict attributes;
    attributes["kind"] = py::str(std::string(dat::kind_name(error.kind())));
    const auto file_id = error.file_id();
    attributes["file_id"] = file_id ? py::object(py::int_(*file_id)) : py::object(py::none());
    raise(dat_error_type, one_line(error), attributes);
}

void raise_decode_error(const common::DecodeError& error) {
    raise(decode_error_type, error.one_line(), py::dict());
}

void bind_errors(py::module_& module) {
    error_type = PyErr_NewExceptionWithDoc(
        "quillmere.Error", "Every error the library reports: DatError or DecodeError.",
        PyExc_Exception, nullptr);
    dat_error_type = PyErr_NewExceptionWithDoc(
        "quillmere.DatError",
        "An archive operation failed. `kind` is the library's kind name ('NotFound', "
        "'Corruption', 'PathError', ...); `file_id` the file concerned, or None.",
        error_type, nullptr);
    decode_error_type = PyErr_NewExceptionWithDoc(
        "quillmere.DecodeError", "A file's bytes do not decode as its type.", error_type, nullptr);
    if (error_type == nullptr || dat_error_type == nullptr || decode_error_type == nullptr) {
        throw py::error_already_set();
    }
    module.add_object("Error", py::handle(error_type));
    module.add_object("DatError", py::handle(dat_error_type));
    module.add_object("DecodeError", py::handle(decode_error_type));
}

} // namespace quillmere::python
