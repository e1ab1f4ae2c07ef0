// The read-ahead of the writing commands: every input handed out in order whichever thread read
// it, the reading never further ahead of the taking than its window nor past the last input, an
// input that cannot be read handed out as its error after every input before it, and an end
// half-way. Each check runs in a child process that an alarm ends, so a reading that stalls
// fails quickly instead of hanging.
#include "quillmere/testkit/process.hpp"
#include "read_ahead.hpp"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace quillmere::dat_tool {
namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

// `count` inputs, input `index` being `size` bytes plus index % 3, each of value index % 251;
// the one at `failing` cannot be read. Counts the bytes read and notes a read past the last.
struct Inputs {
    std::size_t count = 0;
    std::size_t size = 0;
    std::optional<std::size_t> failing = std::nullopt;
    std::atomic<std::size_t> read_bytes{0};
    std::atomic<bool> read_past_the_last{false};

    ReadAhead::ReadInto reader() {
        return [this](std::size_t index, std::vector<std::uint8_t>& buffer,
                      std::size_t at) -> Gathered<std::optional<std::size_t>> {
            if (index == failing) {
                return std::unexpected("input " + std::to_string(index) + " cannot be read");
            }
            read_past_the_last = read_past_the_last || index >= count;
            const std::size_t length = size + index % 3;
            buffer.resize(std::max(buffer.size(), at + length));
            std::fill_n(buffer.begin() + static_cast<std::ptrdiff_t>(at), length,
                        static_cast<std::uint8_t>(index % 251));
            read_bytes += length;
            return std::optional(length);
        };
    }
};

bool is_input(const Gathered<std::optional<std::span<const std::uint8_t>>>& input, std::size_t size,
              std::size_t index) {
    const auto value = static_cast<std::uint8_t>(index % 251);
    return input && *input && (*input)->size() == size + index % 3 &&
           std::all_of((*input)->begin(), (*input)->end(), [value](auto b) { return b == value; });
}

int in_child(const std::function<bool()>& check) {
    return testkit::run_with_memory_budget(std::uint64_t{1} << 32, 60, [&] {
        ::alarm(20);
        return check();
    });
}

// 2,000 inputs of 64 KiB (125 MiB in batches of 8 MiB), taken slowly: the reading fills its
// window and waits there. At most under 16 MiB wait when each thread claims a batch, so the
// reading is never more than that, those two batches and the one being taken ahead (40 MiB).
// Nothing past the last input is read.
TEST(ReadAheadTest, HandsOutEveryInputInOrderWithinItsWindow) {
    EXPECT_EQ(in_child([] {
                  Inputs source{.count = 2000, .size = 64 << 10};
                  ReadAhead inputs(source.count, source.reader());
                  std::size_t taken_bytes = 0;
                  for (std::size_t i = 0; i < source.count; ++i) {
                      if (i % 500 == 0) {
                          // A slow writer: the reading fills the window and waits there.
                          while (source.read_bytes - taken_bytes < 16 * kMiB &&
                                 source.read_bytes < source.count * source.size) {
                              std::this_thread::sleep_for(std::chrono::milliseconds(1));
                          }
                          std::this_thread::sleep_for(std::chrono::milliseconds(50));
                          if (source.read_bytes - taken_bytes > 42 * kMiB) {
                              return false;
                          }
                      }
                      const auto input = inputs.next();
                      if (!is_input(input, source.size, i)) {
                          return false;
                      }
                      taken_bytes += (*input)->size();
                  }
                  return !source.read_past_the_last;
              }),
              0);
}

// Left half-way while the reading waits for the writer to take more, the read-ahead ends.
TEST(ReadAheadTest, EndsWhenLeftHalfWay) {
    EXPECT_EQ(in_child([] {
                  Inputs source{.count = 2000, .size = 64 << 10};
                  ReadAhead inputs(source.count, source.reader());
                  if (!is_input(inputs.next(), source.size, 0)) {
                      return false;
                  }
                  // The reading fills its window and stops: nothing more is read for a while.
                  for (std::size_t seen = 0; seen < 16 * kMiB || seen != source.read_bytes;) {
                      seen = source.read_bytes;
                      std::this_thread::sleep_for(std::chrono::milliseconds(100));
                  }
                  return true;
              }),
              0);
}

// A failed input is handed out as its error once every input before it has been; the read-ahead
// then ends with most of its inputs never taken.
TEST(ReadAheadTest, FailedInputComesAfterEveryInputBeforeIt) {
    for (const std::size_t failing : {0U, 127U, 128U, 1000U}) {
        EXPECT_EQ(in_child([failing] {
                      Inputs source{.count = 100'000, .size = 10, .failing = failing};
                      ReadAhead inputs(source.count, source.reader());
                      for (std::size_t i = 0; i < failing; ++i) {
                          if (!is_input(inputs.next(), source.size, i)) {
                              return false;
                          }
                      }
                      const auto failed = inputs.next();
                      return !failed && failed.error() ==
                                            "input " + std::to_string(failing) + " cannot be read";
                  }),
                  0)
            << failing;
    }
}

} // namespace
} // namespace quillmere::dat_tool
