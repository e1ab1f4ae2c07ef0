// Fuzz target: the compressor. Whatever the input, the decompressor gives it back exactly, the
// stream is no longer than the all-literal one and starts with a literal.
#include "fuzz_support.hpp"
#include "quillmere/common/le.hpp"
#include "quillmere/dat/lrs.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = quillmere::fuzz::input_bytes(data, size);
    const std::vector<std::uint8_t> stored = quillmere::dat::utils::compress_lrs(input);
    FUZZ_CHECK(stored.size() >= 4);
    FUZZ_CHECK(quillmere::common::load_le<std::uint32_t>(stored.data()) == size);
    FUZZ_CHECK_MSG(stored.size() <= 4 + size + (size + 7) / 8,
                   std::to_string(stored.size()) + " stored bytes for " + std::to_string(size));
    if (size > 0) {
        FUZZ_CHECK((stored[4] & 0x80U) == 0);
    }
    const std::vector<std::uint8_t> back = quillmere::dat::utils::decompress_lrs(stored);
    FUZZ_CHECK_MSG(back.size() == size && std::equal(back.begin(), back.end(), input.begin()),
                   "round trip gave " + std::to_string(back.size()) + " bytes for " +
                       std::to_string(size));
    return 0;
}
