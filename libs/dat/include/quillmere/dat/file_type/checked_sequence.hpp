// Iteration over the counted lists of a file whose layout a view has already checked: each
// element is taken again, in place, as the iteration reaches it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>
#include <utility>

namespace quillmere::dat::file_type {

/// `count` elements stored back to back from offset `start` of `data`, all of which the view's
/// `read` that handed out the sequence has checked. Iterating takes each element with `Step`, a
/// callable `bool(std::span<const std::uint8_t> data, std::uint64_t& pos, Element& out)` that
/// sets `out` to the element at `pos` and moves `pos` past it, or returns false when the bytes
/// there do not hold one; nothing is allocated and no error is built. Over bytes nobody checked
/// the iteration simply ends at the first element that does not fit. A sequence borrows `data`
/// and is cheap to copy; it may be iterated any number of times.
template <class Element, class Step>
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
        Iterator& operator++() noexcept {
            if (--left_ != 0) {
                take();
            }
            return *this;
        }
        Iterator operator++(int) noexcept {
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
                 Step step) noexcept
            : data_(data), pos_(start), left_(count), step_(std::move(step)) {
            if (left_ != 0) {
                take();
            }
        }

        void take() noexcept {
            if (!step_(data_, pos_, current_)) {
                left_ = 0;
            }
        }

        std::span<const std::uint8_t> data_;
        std::uint64_t pos_ = 0;
        std::uint32_t left_ = 0;
        Step step_{};
        Element current_{};
    };

    CheckedSequence() = default;
    /// The sequence a view's `read` hands out, once it has checked every element.
    CheckedSequence(std::span<const std::uint8_t> data, std::uint64_t start, std::uint32_t count,
                    Step step = Step{}) noexcept
        : data_(data), start_(start), count_(count), step_(std::move(step)) {}

    [[nodiscard]] Iterator begin() const noexcept { return Iterator(data_, start_, count_, step_); }
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
    Step step_{};
};

} // namespace quillmere::dat::file_type
