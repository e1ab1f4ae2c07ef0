// A read cursor over borrowed bytes, with the little-endian primitive reads.
#pragma once

#include "quillmere/common/decode_error.hpp"
#include "quillmere/common/le.hpp"

#include <algorithm>
#include <cstdint>
#include <expected>
#include <span>

namespace quillmere::common {

/// Borrowed read-only bytes and a 64-bit position (which may stand past the end).
///
/// Reads never touch bytes outside the span. Contracts:
/// - `read_exact(n)`: on success returns the next n bytes (a view into the data) and advances
///   by n; on a short read returns `UnexpectedEof` ("failed to fill whole buffer") and leaves the
///   position at the end of the data.
/// - `read_u8` ... `read_f64`: on success advance by the width; on a short read return the same
///   error and leave the position where the read started.
class ByteCursor {
  public:
    /// A cursor at position 0 over `data`, which must outlive the cursor.
    explicit ByteCursor(std::span<const std::uint8_t> data) noexcept : data_(data) {}

    /// The offset of the next byte to read, counted from the first byte of the data.
    [[nodiscard]] std::uint64_t position() const noexcept { return pos_; }
    /// Moves to an absolute offset; any value is accepted (reads past the end then fail).
    void set_position(std::uint64_t pos) noexcept { pos_ = pos; }
    /// The whole borrowed data, whatever the position.
    [[nodiscard]] std::span<const std::uint8_t> data() const noexcept { return data_; }
    /// Bytes left after the position (0 when the position is at or past the end).
    [[nodiscard]] std::uint64_t remaining() const noexcept {
        return pos_ < data_.size() ? data_.size() - pos_ : 0;
    }

    /// The next `n` bytes as a view into the data (see the class comment for the position on
    /// success and on a short read).
    [[nodiscard]] std::expected<std::span<const std::uint8_t>, IoError>
    read_exact(std::uint64_t n) {
        if (n > remaining()) {
            pos_ = std::max<std::uint64_t>(pos_, data_.size());
            return std::unexpected(IoError::unexpected_eof());
        }
        auto bytes = data_.subspan(static_cast<std::size_t>(pos_), static_cast<std::size_t>(n));
        pos_ += n;
        return bytes;
    }

    /// Little-endian primitives; a short read is `Io` "failed to fill whole buffer" with the
    /// position unchanged. Floats keep their exact bits.
    [[nodiscard]] DecodeResult<std::uint8_t> read_u8() { return read_le<std::uint8_t>(); }
    [[nodiscard]] DecodeResult<std::uint16_t> read_u16() { return read_le<std::uint16_t>(); }
    [[nodiscard]] DecodeResult<std::uint32_t> read_u32() { return read_le<std::uint32_t>(); }
    [[nodiscard]] DecodeResult<std::int32_t> read_i32() { return read_le<std::int32_t>(); }
    [[nodiscard]] DecodeResult<float> read_f32() { return read_le<float>(); }
    [[nodiscard]] DecodeResult<double> read_f64() { return read_le<double>(); }

    /// Any fixed-width little-endian value; the primitives above are this with a name.
    template <class T>
    [[nodiscard]] DecodeResult<T> read_le() {
        if (sizeof(T) > remaining()) [[unlikely]] {
            return short_read<T>();
        }
        T value = load_le<T>(data_.data() + pos_);
        pos_ += sizeof(T);
        return value;
    }

  private:
    // The error of a short read, out of line so that the reads stay small enough to inline into
    // the record readers that call them through member pointers.
    template <class T>
    [[gnu::cold, gnu::noinline]] static DecodeResult<T> short_read() {
        return std::unexpected(DecodeError(IoError::unexpected_eof()));
    }

    std::span<const std::uint8_t> data_;
    std::uint64_t pos_ = 0;
};

} // namespace quillmere::common
