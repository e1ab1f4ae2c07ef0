// The byte-at-a-time reference decoder of compressed files.
#include "quillmere/testkit/lrs_reference.hpp"

#include <cstddef>

namespace quillmere::testkit {

std::vector<std::uint8_t> lrs_reference_decompress(std::span<const std::uint8_t> input) {
    if (input.size() < 4) {
        return {input.begin(), input.end()};
    }
    const std::uint32_t output_size =
        static_cast<std::uint32_t>(input[0]) | (static_cast<std::uint32_t>(input[1]) << 8) |
        (static_cast<std::uint32_t>(input[2]) << 16) | (static_cast<std::uint32_t>(input[3]) << 24);
    const std::span<const std::uint8_t> tokens = input.subspan(4);

    std::vector<std::uint8_t> output;
    unsigned control_byte = 0;
    unsigned control_bit = 0; // 0: the next token needs a new control byte
    std::size_t at = 0;
    while (output.size() < output_size && at < tokens.size()) {
        if (control_bit == 0) {
            control_byte = tokens[at++];
            control_bit = 0x80;
        }
        if ((control_byte & control_bit) != 0) {
            if (at + 1 >= tokens.size()) {
                break;
            }
            const unsigned b1 = tokens[at];
            const unsigned b2 = tokens[at + 1];
            at += 2;
            const std::size_t distance = b1 | ((b2 & 0xF0U) << 4);
            const std::size_t length = (b2 & 0x0FU) + 2;
            if (distance == 0 || output.empty()) {
                break;
            }
            for (std::size_t i = 0; i < length && output.size() < output_size; ++i) {
                // Reaching before the start clamps to the first byte.
                const std::size_t from = output.size() > distance ? output.size() - distance : 0;
                output.push_back(output[from]);
            }
        } else {
            if (at >= tokens.size()) {
                break;
            }
            output.push_back(tokens[at++]);
        }
        control_bit >>= 1;
    }
    return output;
}

} // namespace quillmere::testkit
