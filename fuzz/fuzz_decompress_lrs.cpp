// Fuzz target: the decompressor, checked against the test kit's byte-at-a-time decoder written
// straight from the format's description (the library's has fast paths for literal runs and long
// copies).
#include "fuzz_support.hpp"
#include "quillmere/common/le.hpp"
#include "quillmere/dat/lrs.hpp"
#include "quillmere/testkit/lrs_reference.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = quillmere::fuzz::input_bytes(data, size);
    const std::vector<std::uint8_t> output = quillmere::dat::utils::decompress_lrs(input);
    const std::vector<std::uint8_t> expected = quillmere::testkit::lrs_reference_decompress(input);
    FUZZ_CHECK_MSG(output == expected, "library gave " + std::to_string(output.size()) +
                                           " bytes, reference " + std::to_string(expected.size()));
    if (size >= 4) {
        const auto output_size = quillmere::common::load_le<std::uint32_t>(data);
        FUZZ_CHECK(output.size() <= output_size);
        // Two token bytes give at most 17 output bytes, so the output is bounded by the input.
        FUZZ_CHECK(output.size() <= (size - 4) / 2 * 17);
    }
    return 0;
}
