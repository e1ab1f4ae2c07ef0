// The whole-archive check, shared by quillmere.verify and Archive.verify.
#pragma once

#include "bindings.hpp"

#include <cstddef>
#include <filesystem>

namespace quillmere::python {

/// Checks the archive at `path` (see `dat::verify_archive`) without holding the GIL and returns
/// the Report; raises DatError only when the path cannot be opened as a file at all.
[[nodiscard]] py::object verify_path(const std::filesystem::path& path, bool decode,
                                     std::size_t max_problems);

} // namespace quillmere::python
