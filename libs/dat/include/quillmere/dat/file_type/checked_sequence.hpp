// Iteration over the counted lists of a file whose layout a view has already checked: each
// element is decoded again, in place, as the iteration reaches it.
#pragma once

#include "quillmere/common/byte_cursor.hpp"

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>
#include <utility>

namespace quillmere::dat::file_type {

/// `count` elements stored back to back from offset `start` of `data`, all of which the parse
/// that handed out the sequence has checked. Iterating decodes each element with `Reader` (a
/// callable taking a `ByteCursor&` and returning `DecodeResult<Element>`), which cannot fail on
/// checked bytes; nothing is allocated. A sequence borrows `data` and is cheap to copy; it may
/// be iterated any number of times.
template <class Element, class Reader>
class CheckedSequence {
  public:
    /// An input iterator; the element it points at lives in the iterator. Iterators compare
    /// equal when as many elements are left after them, so `end()` is the one with none left.
    class Iterator {
      public:
        using iterator_category = std::input_iterator_tag;
        using value_type = Element;
        using difference_type = std::ptrdiff_t;
        using pointer = const Element*;
        using reference = const Element&;

        Iterator() = default;

        [[nodiscard]] const Element& operator*() const noexcept { return current_; }
        [[nodiscard]] const Element* operator->() const noexcept { return &current_; }
        Iterator& operator++() {
            if (--left_ != 0) {
                load();
            }
            return *this;
        }
        Iterator operator++(int) {
            Iterator before = *this;
            ++*this;
            return before;
        }
        [[nodiscard]] friend bool operator==(const Iterator& a, const Iterator& b) noexcept {
            return a.left_ == b.left_;
        }

      private:
        friend class CheckedSequence;

        Iterator(std::span<const std::uint8_t> data, std::uint64_t start, std::uint32_t count,
                 Reader reader)
            : cursor_(data), left_(count), reader_(std::move(reader)) {
            cursor_.set_position(start);
            if (left_ != 0) {
                load();
            }
        }

        // Should an element fail after all (a sequence built over bytes nobody checked), the
        // iteration ends there rather than hand out something undecoded.
        void load() {
            auto element = reader_(cursor_);
            assert(element && "an element of a checked layout decodes again");
            if (!element) {
                left_ = 0;
                return;
            }
            current_ = std::move(*element);
        }

        common::ByteCursor cursor_{std::span<const std::uint8_t>()};
        std::uint32_t left_ = 0;
        Reader reader_{};
        Element current_{};
    };

    CheckedSequence() = default;
    /// The sequence a parse hands out; only parses that checked every element call this.
    CheckedSequence(std::span<const std::uint8_t> data, std::uint64_t start, std::uint32_t count,
                    Reader reader = Reader{}) noexcept
        : data_(data), start_(start), count_(count), reader_(std::move(reader)) {}

    [[nodiscard]] Iterator begin() const { return Iterator(data_, start_, count_, reader_); }
    [[nodiscard]] Iterator end() const noexcept { return {}; }
    /// The number of elements.
    [[nodiscard]] std::uint32_t size() const noexcept { return count_; }
    [[nodiscard]] bool empty() const noexcept { return count_ == 0; }
    /// Where the first element starts in the data.
    [[nodiscard]] std::uint64_t start() const noexcept { return start_; }

  private:
    std::span<const std::uint8_t> data_;
    std::uint64_t start_ = 0;
    std::uint32_t count_ = 0;
    Reader reader_{};
};

} // namespace quillmere::dat::file_type
