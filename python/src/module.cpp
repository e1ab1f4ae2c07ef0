// The extension module quillmere._quillmere, which the package quillmere re-exports.
#include "bindings.hpp"

PYBIND11_MODULE(_quillmere, module) {
    using namespace quillmere::python;
    module.doc() = "Portal archives: reading, decoding hooks, checking and writing.";
    bind_errors(module);
    bind_values(module);
    bind_hooks(module);
    bind_decoded(module);
    bind_archive(module);
    bind_verify(module);
    bind_writer(module);
}
