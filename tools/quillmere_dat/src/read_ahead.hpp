// Reading a writing command's inputs on two threads of their own, a bounded distance ahead of
// the archive writer that takes them in order.
#pragma once

#include "command.hpp"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace quillmere::dat_tool {

/// Reads `count` inputs (the files of an extracted tree, the stored files of an archive) and
/// hands them out in order, so that reading overlaps compressing and writing the archive. Two
/// threads share the reading, which for tens of thousands of small files is as much work as
/// the writing: each claims the next batch of consecutive inputs and reads them into one
/// buffer; buffers are used again and again. At most about 16 MiB wait to be taken, whatever
/// the number of inputs (a batch in the making may add its inputs to that). Stops at the first
/// input that cannot be read. A failed allocation on a reading thread is such an error.
class ReadAhead {
  public:
    /// Reads input `index` into `buffer` from offset `at` on (growing it as needed) and gives
    /// its length; or nothing, leaving a large input for the taker to stream itself; or the
    /// error that ends the reading. Called from the reading threads, at the same time for
    /// different inputs, once for each input.
    using ReadInto = std::function<Gathered<std::optional<std::size_t>>(
        std::size_t index, std::vector<std::uint8_t>& buffer, std::size_t at)>;

    ReadAhead(std::size_t count, ReadInto read_into);
    /// Stops the reading, even half-way, and waits for the threads to end.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    /// The next input, valid until the next call, or nothing for one the reader left to the
    /// taker; or the error that ended the reading, once the inputs before it were handed out.
    /// Called at most `count` times, and not after an error.
    [[nodiscard]] Gathered<std::optional<std::span<const std::uint8_t>>> next();

  private:
    static constexpr std::size_t kLeftToTaker = static_cast<std::size_t>(-1);

    // Consecutive inputs read one after the other into one buffer.
    struct Batch {
        // Sized to the most it ever held; only the inputs' ranges mean anything.
        std::vector<std::uint8_t> bytes;
        // Offset and length of each input in `bytes`; kLeftToTaker as the length of one
        // that was not read.
        std::vector<std::pair<std::size_t, std::size_t>> inputs;
        // The failed read that ended the batch, after its inputs.
        std::optional<std::string> error;
        [[nodiscard]] std::size_t used() const noexcept {
            for (auto input = inputs.rbegin(); input != inputs.rend(); ++input) {
                if (input->second != kLeftToTaker) {
                    return input->first + input->second;
                }
            }
            return 0;
        }
    };

    void read_batches();

    std::size_t count_;
    ReadInto read_into_;

    // The batch being taken, on the writer's side, and how many of its inputs were.
    Batch current_;
    std::size_t taken_ = 0;
    // Inputs handed out so far.
    std::size_t handed_ = 0;

    std::mutex mutex_;
    std::condition_variable filled_;
    std::condition_variable drained_;
    // Batches read, by index, and the bytes they hold.
    std::map<std::size_t, Batch> ready_;
    std::size_t ready_bytes_ = 0;
    // The next batch to claim, the next to hand out.
    std::size_t next_to_read_ = 0;
    std::size_t next_to_take_ = 0;
    // Batches taken, kept for their buffers.
    std::vector<Batch> spare_;
    // Set when the threads are to stop: at destruction, or once a read failed.
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

} // namespace quillmere::dat_tool
