// Hooks and decoded files as the extension keeps them: owned copies, independent of the archive
// and of the bytes they were decoded from.
#pragma once

#include "bindings.hpp"
#include "quillmere/dat/file_type/file_type.hpp"

#include <cstdint>
#include <optional>
#include <vector>

namespace quillmere::python {

/// One hook and where it sits: `frame` in an animation, `placement` (the key) in a setup model,
/// `start_time` in a physics script; the other two are empty.
struct Hook {
    std::uint32_t hook_type = 0;
    std::int32_t direction = 0;
    /// Payload then padding, as stored.
    std::vector<std::uint8_t> data;
    std::optional<std::uint32_t> frame;
    std::optional<std::int32_t> placement;
    std::optional<double> start_time;
};

/// A quillmere.Hook object holding `hook`.
[[nodiscard]] py::object make_hook_object(Hook hook);

/// Decodes `bytes` as a file of `type` (an Animation, SetupModel or PhysicsScript object that
/// takes the bytes over); raises DecodeError with the decoder's error.
[[nodiscard]] py::object decode_file(dat::file_type::FileType type,
                                     std::vector<std::uint8_t> bytes);

} // namespace quillmere::python
