// Decompression of the archive's compressed files.
#include "quillmere/dat/lrs.hpp"

#include "detail/lrs_format.hpp"
#include "detail/lrs_output.hpp"

#include <algorithm>
#include <cstring>

namespace quillmere::dat::utils {
namespace {

using detail::declared_size;
using detail::kSizeWordLength;

constexpr std::size_t kMaxCopy = detail::kMaxLength;

// The most output `compressed_length` token bytes can describe: a back-reference is two bytes
// for at most 17, a literal one byte for one, and control bytes yield nothing.
constexpr std::uint64_t max_expansion(std::size_t compressed_length) noexcept {
    return static_cast<std::uint64_t>(compressed_length / 2) * kMaxCopy;
}

// Appends `length` bytes copied from `distance` back, where `distance` may exceed `end` (the
// output's current length): each position before the start reads the first byte instead. The
// source index is taken per byte, so a copy may read bytes it has just written.
inline void copy_back_reference(std::uint8_t* out, std::size_t end, std::size_t distance,
                                std::size_t length, std::size_t capacity) noexcept {
    std::uint8_t* dst = out + end;
    if (distance <= end) {
        const std::uint8_t* src = dst - distance;
        if (distance >= kMaxCopy && end + kMaxCopy <= capacity) {
            // No overlap even at full width: copy a fixed 17 bytes; anything past `length` lies
            // in the free part of the buffer and is overwritten or trimmed later.
            std::memcpy(dst, src, kMaxCopy);
        } else if (distance >= length) {
            std::memcpy(dst, src, length);
        } else {
            for (std::size_t i = 0; i < length; ++i) {
                dst[i] = src[i];
            }
        }
        return;
    }
    for (std::size_t i = 0; i < length; ++i) {
        const std::size_t position = end + i;
        dst[i] = out[position > distance ? position - distance : 0];
    }
}

} // namespace

namespace detail {

std::size_t output_limit(std::span<const std::uint8_t> input) noexcept {
    const std::uint32_t output_size = declared_size(input);
    // No stream yields more than max_expansion bytes, so the cap changes no result; it only
    // keeps a damaged `output_size` from claiming memory the input could never fill.
    return static_cast<std::size_t>(
        std::min<std::uint64_t>(output_size, max_expansion(input.size() - kSizeWordLength)));
}

std::size_t decompress_to(std::span<const std::uint8_t> input,
                          std::span<std::uint8_t> output) noexcept {
    const std::uint8_t* in = input.data() + kSizeWordLength;
    const std::size_t in_length = input.size() - kSizeWordLength;
    const std::size_t limit = output.size();
    std::uint8_t* out = output.data();

    std::size_t out_length = 0;
    std::size_t pos = 0;
    while (out_length < limit && pos < in_length) {
        const unsigned control = in[pos++];
        // Eight literals with room for all of them: nothing can stop the group early.
        if (control == 0 && pos + 8 <= in_length && out_length + 8 <= limit) {
            std::memcpy(out + out_length, in + pos, 8);
            out_length += 8;
            pos += 8;
            continue;
        }
        for (unsigned bit = kFirstTokenBit; bit != 0; bit >>= 1) {
            if (out_length >= limit || pos >= in_length) {
                return out_length;
            }
            if ((control & bit) == 0) {
                out[out_length++] = in[pos++];
                continue;
            }
            if (pos + 1 >= in_length) {
                return out_length;
            }
            const unsigned b1 = in[pos];
            const unsigned b2 = in[pos + 1];
            pos += 2;
            const std::size_t distance = back_reference_distance(b1, b2);
            // Distance 0 is the end marker. With nothing produced yet there is no byte to copy
            // (well-formed streams start with a literal): stop there as well.
            if (distance == 0 || out_length == 0) {
                return out_length;
            }
            const std::size_t length =
                std::min<std::size_t>(back_reference_length(b2), limit - out_length);
            copy_back_reference(out, out_length, distance, length, limit);
            out_length += length;
        }
    }
    return out_length;
}

} // namespace detail

void decompress_lrs_into(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& out) {
    if (input.size() < kSizeWordLength) {
        out.assign(input.begin(), input.end());
        return;
    }
    out.resize(detail::output_limit(input));
    out.resize(detail::decompress_to(input, out));
}

bool stream_is_whole(std::span<const std::uint8_t> stored) {
    if (stored.empty()) {
        return true;
    }
    if (stored.size() < kSizeWordLength) {
        return false;
    }
    const std::size_t limit = detail::output_limit(stored);
    if (limit < declared_size(stored)) {
        return false; // more than any stream this long could give
    }
    std::vector<std::uint8_t> output(limit);
    return detail::decompress_to(stored, output) == limit;
}

std::vector<std::uint8_t> decompress_lrs(std::span<const std::uint8_t> input) {
    std::vector<std::uint8_t> output;
    decompress_lrs_into(input, output);
    return output;
}

} // namespace quillmere::dat::utils
