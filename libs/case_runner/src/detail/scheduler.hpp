// The threads that run cases: each case on a thread of its own with its own streams, and the
// queue of those that have finished.
#pragma once

#include "detail/options.hpp"
#include "detail/report.hpp"
#include "detail/run.hpp"
#include "quillmere/case_runner/case_runner.hpp"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace quillmere::case_runner::detail {

/// What every case of a run shares.
struct CaseContext {
    Console& console;
    std::mutex& console_lock; ///< Taken for every write to the console.
    bool capture;             ///< Whether out() and err() go to the case's own buffer.
    std::optional<TimeLimits> time;
};

/// Cases of one run, identified by their position in the run order. Used by one thread (the
/// runner's); the cases' threads only hand in their results.
class Scheduler {
  public:
    /// Room for `count` cases; `context` must outlive the scheduler. With `announce_after`, a
    /// started case still running that long later is announced once by `wait_for_next`.
    Scheduler(std::size_t count, const CaseContext& context,
              std::optional<std::chrono::seconds> announce_after);
    Scheduler(const Scheduler&) = delete;
    Scheduler& operator=(const Scheduler&) = delete;
    ~Scheduler() { join_all(); }

    /// Runs `test_case` on a new thread, or right here when no thread can be started. Whatever
    /// the case throws becomes its failure. `test_case` and `desc` must stay until `take`.
    void start(std::size_t position, const Case& test_case, const CaseDesc& desc);

    /// Records the result of a case that needs no thread (an ignored one).
    void complete(std::size_t position, CaseResult result) noexcept;

    /// Waits for the next case to finish and returns its position; meanwhile calls
    /// `running_long(position)` for each case whose announcement is due and not yet taken.
    [[nodiscard]] std::size_t
    wait_for_next(const std::function<void(std::size_t position)>& running_long);

    /// The result of a finished case, once its thread has ended.
    [[nodiscard]] CaseResult take(std::size_t position);

    /// Waits for every case still running.
    void join_all() noexcept;

  private:
    using Clock = std::chrono::steady_clock;

    [[nodiscard]] std::optional<std::size_t>
    next_finished(std::optional<Clock::time_point> deadline);

    const CaseContext& context_;
    std::optional<std::chrono::seconds> announce_after_;
    // Shared with the cases' threads, under mutex_.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::optional<CaseResult>> results_;
    std::vector<std::size_t> finished_;
    std::size_t taken_ = 0;
    // The runner's thread alone.
    std::vector<std::thread> threads_;
    std::vector<bool> running_; ///< Started and not yet taken.
    std::deque<std::pair<Clock::time_point, std::size_t>> announcements_; ///< Due time order.
};

} // namespace quillmere::case_runner::detail
