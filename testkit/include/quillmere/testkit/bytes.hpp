// A chained little-endian byte builder for tests, independent of the library's encoders.
#pragma once

#include <bit>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

namespace quillmere::testkit {

/// Builds byte strings field by field: `Bytes().u32(1).i32(-1).f32(0.5f).take()`.
class Bytes {
  public:
    Bytes() = default;

    Bytes& u8(std::uint8_t v) {
        data_.push_back(v);
        return *this;
    }
    Bytes& u16(std::uint16_t v) { return little(v, 2); }
    Bytes& u32(std::uint32_t v) { return little(v, 4); }
    Bytes& i32(std::int32_t v) { return little(static_cast<std::uint32_t>(v), 4); }
    Bytes& f32(float v) { return little(std::bit_cast<std::uint32_t>(v), 4); }
    Bytes& f64(double v) { return little(std::bit_cast<std::uint64_t>(v), 8); }
    Bytes& raw(std::initializer_list<std::uint8_t> bytes) {
        data_.insert(data_.end(), bytes.begin(), bytes.end());
        return *this;
    }
    Bytes& raw(std::span<const std::uint8_t> bytes) {
        data_.insert(data_.end(), bytes.begin(), bytes.end());
        return *this;
    }
    Bytes& fill(std::size_t count, std::uint8_t value) {
        data_.insert(data_.end(), count, value);
        return *this;
    }

    [[nodiscard]] std::size_t size() const noexcept { return data_.size(); }
    [[nodiscard]] const std::vector<std::uint8_t>& bytes() const noexcept { return data_; }
    [[nodiscard]] std::vector<std::uint8_t> take() { return std::move(data_); }
    operator std::span<const std::uint8_t>() const noexcept { return data_; } // NOLINT

  private:
    Bytes& little(std::uint64_t v, int width) {
        for (int i = 0; i < width; ++i) {
            data_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        }
        return *this;
    }

    std::vector<std::uint8_t> data_;
};

} // namespace quillmere::testkit
