// Fuzz target: the decompressor, checked against a byte-at-a-time decoder written straight from
// the format's description (the library's has fast paths for literal runs and long copies).
#include "fuzz_support.hpp"
#include "quillmere/common/le.hpp"
#include "quillmere/dat/lrs.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// One byte at a time, no fast path, no reservation: the output only grows by push_back, so a
// huge declared size costs nothing here either. A back-reference met while the output is still
// empty ends the stream, which is the library's documented choice.
std::vector<std::uint8_t> reference_decompress(std::span<const std::uint8_t> input) {
    if (input.size() < 4) {
        return {input.begin(), input.end()};
    }
    const auto output_size = quillmere::common::load_le<std::uint32_t>(input.data());
    const auto compressed = input.subspan(4);
    std::vector<std::uint8_t> output;
    unsigned control_byte = 0;
    unsigned control_bit = 0;
    std::size_t input_idx = 0;
    while (output.size() < output_size && input_idx < compressed.size()) {
        if (control_bit == 0) {
            control_byte = compressed[input_idx++];
            control_bit = 0x80;
        }
        if ((control_byte & control_bit) != 0) {
            if (input_idx + 1 >= compressed.size()) {
                break;
            }
            const unsigned b1 = compressed[input_idx];
            const unsigned b2 = compressed[input_idx + 1];
            input_idx += 2;
            const std::size_t offset = b1 | ((b2 & 0xF0U) << 4);
            const std::size_t length = (b2 & 0x0FU) + 2;
            if (offset == 0 || output.empty()) {
                break;
            }
            for (std::size_t i = 0; i < length; ++i) {
                if (output.size() >= output_size) {
                    break;
                }
                const std::size_t copy_idx = output.size() > offset ? output.size() - offset : 0;
                output.push_back(output[copy_idx]);
            }
        } else {
            if (input_idx >= compressed.size()) {
                break;
            }
            output.push_back(compressed[input_idx++]);
        }
        control_bit >>= 1;
    }
    return output;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = quillmere::fuzz::input_bytes(data, size);
    const std::vector<std::uint8_t> output = quillmere::dat::utils::decompress_lrs(input);
    const std::vector<std::uint8_t> expected = reference_decompress(input);
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
