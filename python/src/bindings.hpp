// What the parts of the extension module share: the binders each part adds to the module, and
// the conversion of the library's error values into Python exceptions.
#pragma once

#include "quillmere/common/decode_error.hpp"
#include "quillmere/dat/dat_error.hpp"
#include "quillmere/dat/dat_file_entry.hpp"

#include <cstdint>
#include <pybind11/pybind11.h>
#include <string>
#include <utility>

namespace quillmere::python {

namespace py = pybind11;

void bind_errors(py::module_& module);
void bind_values(py::module_& module);
void bind_hooks(py::module_& module);
void bind_decoded(py::module_& module);
void bind_archive(py::module_& module);
void bind_verify(py::module_& module);
void bind_writer(py::module_& module);

/// Raises `quillmere.DatError` with the error's one-line message and its kind's name in `.kind`.
[[noreturn]] void raise_dat_error(const dat::DatError& error);
/// Raises `quillmere.DecodeError` with the error's one-line message.
[[noreturn]] void raise_decode_error(const common::DecodeError& error);

/// The value of a successful result; raises the error of a failed one.
template <class T>
T value_or_raise(dat::DatResult<T>&& result) {
    if (!result) {
        raise_dat_error(result.error());
    }
    if constexpr (!std::is_void_v<T>) {
        return std::move(*result);
    }
}

template <class T>
T value_or_raise(common::DecodeResult<T>&& result) {
    if (!result) {
        raise_decode_error(result.error());
    }
    if constexpr (!std::is_void_v<T>) {
        return std::move(*result);
    }
}

/// A quillmere.Entry holding the fields of `entry`.
[[nodiscard]] py::object make_entry(const dat::DatFileEntry& entry);

/// A file id as the tools print it: "0x" and eight upper-case hex digits.
[[nodiscard]] std::string id_text(std::uint32_t id);

} // namespace quillmere::python
