// A list shared by two threads from both ends: one takes stretches from the front, the other
// from the back, until they meet, so both stay busy to the end whatever each item costs, and
// each side's stretches stay in list order.
#pragma once

#include <algorithm>
#include <cstddef>
#include <mutex>

namespace quillmere::tools {

/// List positions `first` to `last` (excluded).
struct Taken {
    std::size_t first = 0;
    std::size_t last = 0;

    [[nodiscard]] bool empty() const noexcept { return first == last; }
};

/// Hands out the positions of a list of `size` items, `step` at a time, from the front (side 0)
/// or the back (side 1); empty once the two have met. Safe to call from both threads at once.
class FromBothEnds {
  public:
    FromBothEnds(std::size_t size, std::size_t step)
        : size_(size), step_(std::max<std::size_t>(step, 1)), end_(size) {}

    /// The most stretches one side can take.
    [[nodiscard]] std::size_t most() const noexcept { return size_ / step_ + 1; }

    Taken take(std::size_t side) {
        const std::lock_guard lock(mutex_);
        const std::size_t step = std::min(step_, end_ - begin_);
        if (side == 0) {
            begin_ += step;
            return {begin_ - step, begin_};
        }
        end_ -= step;
        return {end_, end_ + step};
    }

  private:
    std::size_t size_;
    std::size_t step_;
    std::mutex mutex_;
    std::size_t begin_ = 0;
    std::size_t end_;
};

} // namespace quillmere::tools
