// Reading a writing command's inputs on two threads, ahead of the archive writer.
#include "read_ahead.hpp"

#include <algorithm>
#include <cassert>
#include <new>
#include <system_error>

namespace quillmere::dat_tool {
namespace {

// Inputs per batch: the threads meet once per batch rather than once per input.
constexpr std::size_t kBatchInputs = 128;
// How far the reading may run ahead of the writer.
constexpr std::size_t kAheadBytes = std::size_t{16} << 20;
constexpr std::size_t kAheadBatches = 16;
constexpr std::size_t kReaders = 2;

} // namespace

ReadAhead::ReadAhead(std::size_t count, ReadInto read_into)
    : count_(count), read_into_(std::move(read_into)) {
    // A thread that cannot be started (a process or memory limit) leaves the reading to those
    // that did; with none, the failure is the caller's, and nothing is left running.
    for (std::size_t i = 0; i < kReaders; ++i) {
        try {
            threads_.emplace_back([this] { read_batches(); });
        } catch (const std::system_error&) {
            if (threads_.empty()) {
                throw;
            }
            break;
        }
    }
}

ReadAhead::~ReadAhead() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    drained_.notify_all();
    for (auto& thread : threads_) {
        thread.join();
    }
}

Gathered<std::optional<std::span<const std::uint8_t>>> ReadAhead::next() {
    assert(handed_ < count_ && "next called past the last input");
    ++handed_;
    while (taken_ == current_.inputs.size()) {
        if (current_.error) {
            return std::unexpected(*current_.error);
        }
        std::unique_lock lock(mutex_);
        spare_.push_back(std::move(current_));
        filled_.wait(lock, [&] { return ready_.contains(next_to_take_); });
        const auto found = ready_.find(next_to_take_++);
        current_ = std::move(found->second);
        ready_.erase(found);
        ready_bytes_ -= current_.used();
        lock.unlock();
        drained_.notify_all();
        taken_ = 0;
    }
    const auto [offset, length] = current_.inputs[taken_++];
    if (length == kLeftToTaker) {
        return std::nullopt;
    }
    return std::span<const std::uint8_t>(current_.bytes.data() + offset, length);
}

void ReadAhead::read_batches() {
    while (true) {
        std::size_t index = 0;
        Batch batch;
        {
            std::unique_lock lock(mutex_);
            drained_.wait(lock, [&] {
                return stop_ || (ready_bytes_ < kAheadBytes &&
                                 next_to_read_ < next_to_take_ + kAheadBatches);
            });
            if (stop_ || next_to_read_ * kBatchInputs >= count_) {
                return;
            }
            index = next_to_read_++;
            if (!spare_.empty()) {
                batch = std::move(spare_.back());
                spare_.pop_back();
            }
        }
        // Batches are claimed in order and always read to their end, so every batch before a
        // failed one is handed out whole, and the first error in input order is the one seen.
        batch.inputs.clear();
        batch.error.reset();
        const std::size_t first = index * kBatchInputs;
        const std::size_t last = std::min(first + kBatchInputs, count_);
        try {
            for (std::size_t i = first; i < last && !batch.error; ++i) {
                const std::size_t at = batch.used();
                if (auto length = read_into_(i, batch.bytes, at)) {
                    batch.inputs.emplace_back(at, length->value_or(kLeftToTaker));
                } else {
                    batch.error = std::move(length).error();
                }
            }
        } catch (const std::bad_alloc&) {
            batch.error = "not enough memory";
        }
        {
            const std::lock_guard lock(mutex_);
            // Nothing after a failed read is handed out: no need to read on.
            stop_ = stop_ || batch.error.has_value();
            ready_bytes_ += batch.used();
            ready_.emplace(index, std::move(batch));
        }
        filled_.notify_all();
    }
}

} // namespace quillmere::dat_tool
