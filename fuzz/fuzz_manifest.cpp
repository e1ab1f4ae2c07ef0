// Fuzz target: the reader of an extracted archive's manifest.json, which pack takes from a
// directory anyone may have written. Any text is read or refused with one error naming a byte
// offset inside the text; a manifest that is read renders to text that reads back to the same
// manifest and renders again to the same text.
#include "fuzz_support.hpp"
#include "manifest.hpp"

#include <cstdint>
#include <string>
#include <string_view>

using quillmere::dat_tool::Manifest;
using quillmere::dat_tool::read_manifest;
using quillmere::dat_tool::render_manifest;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto manifest = read_manifest(text);
    if (!manifest) {
        const std::string& error = manifest.error();
        const auto at = error.rfind(" at byte ");
        FUZZ_CHECK_MSG(at != std::string::npos && at > 0, error);
        FUZZ_CHECK_MSG(std::stoull(error.substr(at + 9)) <= size, error);
        FUZZ_CHECK_MSG(error.find('\n') == std::string::npos, error);
        return 0;
    }
    const std::string rendered = render_manifest(*manifest);
    const auto again = read_manifest(rendered);
    FUZZ_CHECK_MSG(again.has_value(), again.error());
    FUZZ_CHECK(again->header == manifest->header);
    FUZZ_CHECK(again->files == manifest->files);
    FUZZ_CHECK(render_manifest(*again) == rendered);
    return 0;
}
