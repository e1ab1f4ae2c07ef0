// An output cursor over a growable byte vector, with little-endian writes for the encoders.
#pragma once

#include "quillmere/common/le.hpp"

#include <cstdint>
#include <span>
#include <vector>

namespace quillmere::common {

/// Writes at its position into a borrowed vector, which grows as needed; the position
/// advances by what was written. Writing into memory cannot fail.
class ByteWriter {
  public:
    /// A writer into `out` (which must outlive it) at offset `pos`; bytes already in `out` at
    /// and after `pos` are overwritten, and `out` grows when a write runs past its end.
    explicit ByteWriter(std::vector<std::uint8_t>& out, std::uint64_t pos = 0) noexcept
        : out_(&out), pos_(pos) {}

    /// The offset the next write goes to.
    [[nodiscard]] std::uint64_t position() const noexcept { return pos_; }
    /// Moves to an absolute offset; writing there fills any gap before it with zero bytes.
    void set_position(std::uint64_t pos) noexcept { pos_ = pos; }

    /// Writes `bytes` unchanged at the position.
    void write_bytes(std::span<const std::uint8_t> bytes) {
        std::uint8_t* p = claim(bytes.size());
        if (!bytes.empty()) {
            std::memcpy(p, bytes.data(), bytes.size());
        }
    }
    /// Little-endian primitives; floats are written as their exact bits.
    void write_u8(std::uint8_t v) { write_le(v); }
    void write_u16(std::uint16_t v) { write_le(v); }
    void write_u32(std::uint32_t v) { write_le(v); }
    void write_i32(std::int32_t v) { write_le(v); }
    void write_f32(float v) { write_le(v); }
    void write_f64(double v) { write_le(v); }

    /// Any fixed-width value little-endian; the primitives above are this with a name.
    template <class T>
    void write_le(T value) {
        store_le(claim(sizeof(T)), value);
    }

  private:
    // Makes room for n bytes at the position and advances past them.
    std::uint8_t* claim(std::size_t n) {
        const auto start = static_cast<std::size_t>(pos_);
        if (out_->size() < start + n) {
            out_->resize(start + n);
        }
        pos_ += n;
        return out_->data() + start;
    }

    std::vector<std::uint8_t>* out_;
    std::uint64_t pos_;
};

} // namespace quillmere::common
