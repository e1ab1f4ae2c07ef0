// A greedy LZ compressor for the archive's compressed-file format.
#include "quillmere/testkit/lrs_compressor.hpp"

#include <algorithm>
#include <array>
#include <limits>
#include <stdexcept>

namespace quillmere::testkit {
namespace {

constexpr std::size_t kWindow = 4096; // distances 1..4095
constexpr std::size_t kMaxDistance = kWindow - 1;
constexpr std::size_t kMinMatch = 2;
constexpr std::size_t kMaxMatch = 17;
constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

// Writes tokens in groups of eight behind a control byte that is filled in as they come.
class TokenWriter {
  public:
    explicit TokenWriter(std::vector<std::uint8_t>& out) : out_(out) {}

    void literal(std::uint8_t byte) {
        begin_token(false);
        out_.push_back(byte);
    }

    void back_reference(std::size_t distance, std::size_t length) {
        begin_token(true);
        out_.push_back(static_cast<std::uint8_t>(distance & 0xFF));
        out_.push_back(static_cast<std::uint8_t>(((distance >> 8) << 4) | (length - kMinMatch)));
    }

    void end_marker() {
        begin_token(true);
        out_.push_back(0);
        out_.push_back(0);
    }

  private:
    void begin_token(bool is_reference) {
        if (tokens_in_group_ == 8) {
            tokens_in_group_ = 0;
        }
        if (tokens_in_group_ == 0) {
            control_at_ = out_.size();
            out_.push_back(0);
        }
        if (is_reference) {
            out_[control_at_] =
                static_cast<std::uint8_t>(out_[control_at_] | (0x80U >> tokens_in_group_));
        }
        ++tokens_in_group_;
    }

    std::vector<std::uint8_t>& out_;
    std::size_t control_at_ = 0;
    unsigned tokens_in_group_ = 0;
};

std::size_t key_at(std::span<const std::uint8_t> data, std::size_t pos) {
    return (static_cast<std::size_t>(data[pos]) << 8) | data[pos + 1];
}

} // namespace

std::vector<std::uint8_t> lrs_compress(std::span<const std::uint8_t> input,
                                       const LrsCompressOptions& options) {
    if (input.size() > std::numeric_limits<std::uint32_t>::max()) {
        throw std::length_error("lrs_compress: input longer than 4 GiB");
    }
    std::vector<std::uint8_t> out;
    out.reserve(8 + input.size() + input.size() / 8);
    const auto length = static_cast<std::uint32_t>(input.size());
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::uint8_t>(length >> shift));
    }
    TokenWriter tokens(out);

    // head[key]: the latest position whose two bytes are `key`; previous[pos % kWindow]: the
    // position before `pos` with the same two bytes. Entries older than the window are never
    // followed, so the ring never hands back an overwritten link.
    std::vector<std::uint32_t> head(1U << 16, kNone);
    std::vector<std::uint32_t> previous(kWindow, kNone);
    const auto insert = [&](std::size_t pos) {
        if (pos + 1 < input.size()) {
            const std::size_t key = key_at(input, pos);
            previous[pos % kWindow] = head[key];
            head[key] = static_cast<std::uint32_t>(pos);
        }
    };

    std::size_t pos = 0;
    while (pos < input.size()) {
        std::size_t best_length = 0;
        std::size_t best_distance = 0;
        const std::size_t max_length = std::min(kMaxMatch, input.size() - pos);
        if (max_length >= kMinMatch) {
            std::uint32_t candidate = head[key_at(input, pos)];
            for (unsigned tries = 0; candidate != kNone && tries < options.max_chain; ++tries) {
                const std::size_t distance = pos - candidate;
                if (distance > kMaxDistance) {
                    break;
                }
                std::size_t match = 0;
                while (match < max_length && input[candidate + match] == input[pos + match]) {
                    ++match;
                }
                if (match > best_length) {
                    best_length = match;
                    best_distance = distance;
                    if (match == max_length) {
                        break;
                    }
                }
                candidate = previous[candidate % kWindow];
            }
        }
        if (best_length >= kMinMatch) {
            tokens.back_reference(best_distance, best_length);
            for (std::size_t i = 0; i < best_length; ++i) {
                insert(pos + i);
            }
            pos += best_length;
        } else {
            tokens.literal(input[pos]);
            insert(pos);
            ++pos;
        }
    }
    if (options.end_marker) {
        tokens.end_marker();
    }
    return out;
}

} // namespace quillmere::testkit
