// Compression into the archive's compressed-file format: greedy matching on hash chains.
#include "detail/lrs_format.hpp"
#include "quillmere/common/le.hpp"
#include "quillmere/dat/lrs.hpp"

#include <algorithm>
#include <bit>
#include <cassert>
#include <limits>

namespace quillmere::dat::utils {
namespace {

using detail::kMaxDistance;
// A two-byte match would save a single control bit; the longest is the longest token.
constexpr std::size_t kMinMatch = 3;
constexpr std::size_t kMaxMatch = detail::kMaxLength;
// Candidates tried per position. Deeper chains find slightly longer matches on repetitive data
// at a steep cost in speed; with matches capped at 17 bytes, 16 steps lose little.
constexpr unsigned kMaxChainSteps = 16;
constexpr unsigned kMinHashBits = 8;
constexpr unsigned kMaxHashBits = 15;

// The three bytes at `p` as one number, the key of the hash chains.
inline std::uint32_t key_at(const std::uint8_t* p) noexcept {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16;
}

inline std::uint32_t hash_of(std::uint32_t key, unsigned bits) noexcept {
    return (key * 2654435761U) >> (32 - bits);
}

// How many bytes from `earlier` equal those from `current`, at most `limit`. The two ranges may
// overlap (a match may run into the bytes it is about to produce); both lie within the input.
inline std::size_t match_length(const std::uint8_t* earlier, const std::uint8_t* current,
                                std::size_t limit) noexcept {
    std::size_t length = 0;
    if constexpr (std::endian::native == std::endian::little) {
        while (length + 8 <= limit) {
            const auto difference = common::load_le<std::uint64_t>(earlier + length) ^
                                    common::load_le<std::uint64_t>(current + length);
            if (difference != 0) {
                return length + static_cast<std::size_t>(std::countr_zero(difference)) / 8;
            }
            length += 8;
        }
    }
    while (length < limit && earlier[length] == current[length]) {
        ++length;
    }
    return length;
}

// Writes tokens behind control bytes: a control byte is opened before every eighth token and
// its bits are set for the back-references among them.
class TokenWriter {
  public:
    explicit TokenWriter(std::uint8_t* out) noexcept : out_(out) {}

    void literal(std::uint8_t byte) noexcept {
        open_token();
        *out_++ = byte;
        bit_ >>= 1;
    }

    void back_reference(std::size_t distance, std::size_t length) noexcept {
        open_token();
        *control_ = static_cast<std::uint8_t>(*control_ | bit_);
        const auto token = detail::write_back_reference(distance, length);
        out_[0] = token[0];
        out_[1] = token[1];
        out_ += 2;
        bit_ >>= 1;
    }

    [[nodiscard]] std::uint8_t* end() const noexcept { return out_; }

  private:
    void open_token() noexcept {
        if (bit_ == 0) {
            control_ = out_++;
            *control_ = 0;
            bit_ = detail::kFirstTokenBit;
        }
    }

    std::uint8_t* out_;
    std::uint8_t* control_ = nullptr;
    unsigned bit_ = 0;
};

// A match of `length` bytes starting `distance` bytes back.
struct Match {
    std::size_t length = 0;
    std::size_t distance = 0;
};

// Positions are kept in two tables: `head_[hash]` holds the latest position whose three bytes
// hash there (stored plus one, so the zeroed table means "none"), and `previous_[pos % ring]` the
// position before `pos` on the same chain. Every position is inserted, those inside matches
// too, and a chain is followed only while it stays within 4095 bytes; since the ring has at
// least 4096 slots (or more than the input has positions), the slot of a position within reach
// has not been overwritten, and links only lead to earlier positions, so every walk ends.
//
// Both tables are sized to the input, so the many small files of an archive do not each pay
// for clearing tables made for large ones.
class MatchFinder {
  public:
    explicit MatchFinder(std::span<const std::uint8_t> input)
        : in_(input.data()), n_(input.size()),
          hash_bits_(
              std::clamp(static_cast<unsigned>(std::bit_width(n_)), kMinHashBits, kMaxHashBits)),
          head_(std::size_t{1} << hash_bits_),
          previous_(
              std::max<std::size_t>(std::min<std::size_t>(kMaxDistance + 1, std::bit_ceil(n_)), 1)),
          ring_mask_(previous_.size() - 1),
          hashable_end_(n_ >= kMinMatch ? n_ - kMinMatch + 1 : 0) {}

    // The longest match for the bytes at `pos` (length 0 when there is none), with `pos`
    // inserted. Positions must be given in ascending order, each once (see `skip`).
    [[nodiscard]] Match longest_at(std::size_t pos) noexcept {
        Match best;
        if (pos >= hashable_end_) {
            return best;
        }
        const std::size_t limit = std::min(kMaxMatch, n_ - pos);
        std::uint32_t candidate = insert(pos);
        for (unsigned step = 0; candidate != 0 && step < kMaxChainSteps; ++step) {
            const std::size_t earlier = candidate - 1;
            const std::size_t distance = pos - earlier;
            if (distance > kMaxDistance) {
                break;
            }
            // A longer match must also differ nowhere up to the best length: test that byte
            // first, which rejects most candidates at once.
            if (in_[earlier + best.length] == in_[pos + best.length]) {
                const std::size_t length = match_length(in_ + earlier, in_ + pos, limit);
                if (length > best.length) {
                    best = {length, distance};
                    if (length == limit) {
                        break;
                    }
                }
            }
            candidate = previous_[earlier & ring_mask_];
        }
        return best;
    }

    // Inserts a position covered by a match, so later matches can start there.
    void skip(std::size_t pos) noexcept {
        if (pos < hashable_end_) {
            insert(pos);
        }
    }

  private:
    // Makes `pos` the head of its chain; returns the previous head (stored plus one, 0 = none).
    std::uint32_t insert(std::size_t pos) noexcept {
        const std::uint32_t hash = hash_of(key_at(in_ + pos), hash_bits_);
        const std::uint32_t candidate = head_[hash];
        previous_[pos & ring_mask_] = candidate;
        head_[hash] = static_cast<std::uint32_t>(pos + 1);
        return candidate;
    }

    const std::uint8_t* in_;
    std::size_t n_;
    unsigned hash_bits_;
    std::vector<std::uint32_t> head_;
    std::vector<std::uint32_t> previous_;
    std::size_t ring_mask_;
    // Positions from which three bytes can be hashed end here.
    std::size_t hashable_end_;
};

} // namespace

std::vector<std::uint8_t> compress_lrs(std::span<const std::uint8_t> input) {
    assert(input.size() <= std::numeric_limits<std::uint32_t>::max() &&
           "compress_lrs: input of 4 GiB or more");
    const std::size_t n = input.size();
    // The all-literal stream: every token one byte plus one control bit. A back-reference
    // takes two bytes and one bit for at least three input bytes, so no stream is longer.
    std::vector<std::uint8_t> out(detail::kSizeWordLength + n + (n + 7) / 8);
    detail::write_declared_size(out.data(), static_cast<std::uint32_t>(n));
    TokenWriter tokens(out.data() + detail::kSizeWordLength);
    MatchFinder matches(input);

    std::size_t pos = 0;
    while (pos < n) {
        const Match match = matches.longest_at(pos);
        if (match.length >= kMinMatch) {
            tokens.back_reference(match.distance, match.length);
            const std::size_t end = pos + match.length;
            for (++pos; pos < end; ++pos) {
                matches.skip(pos);
            }
        } else {
            tokens.literal(input[pos]);
            ++pos;
        }
    }
    out.resize(static_cast<std::size_t>(tokens.end() - out.data()));
    return out;
}

} // namespace quillmere::dat::utils
