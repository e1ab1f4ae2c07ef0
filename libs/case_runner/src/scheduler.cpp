// The threads that run cases, and running one case with its own streams, turning whatever it
// throws into its failure.
#include "detail/scheduler.hpp"

#include "detail/streams.hpp"
#include "quillmere/case_runner/checks.hpp"

#include <exception>

namespace quillmere::case_runner::detail {

namespace {

std::string location_text(const std::source_location& location) {
    return std::string(location.file_name()) + ":" + std::to_string(location.line()) + ":" +
           std::to_string(location.column());
}

/// Runs one case on the calling thread with its own streams and turns whatever it throws into
/// its failure. Never throws.
CaseResult execute(const Case& test_case, const CaseDesc& desc,
                   const CaseContext& context) noexcept {
    CaseResult result;
    bool failed = false;
    std::chrono::nanoseconds elapsed{};
    try {
        std::optional<CaseOutput> output;
        if (context.capture) {
            output.emplace();
        } else {
            output.emplace(context.console.out, context.console.err, context.console_lock);
        }
        {
            const StreamScope scope(output->out(), output->err());
            std::string failure;
            const auto start = std::chrono::steady_clock::now();
            try {
                test_case.body();
            } catch (const CaseFailure& failure_of_check) {
                failed = true;
                failure = "case '" + desc.name + "' failed at " +
                          location_text(failure_of_check.location()) + ":\n" +
                          failure_of_check.message();
            } catch (const std::exception& exception) {
                failed = true;
                failure = "case '" + desc.name + "' failed with an uncaught exception:\n" +
                          exception.what();
            } catch (...) {
                failed = true;
                failure = "case '" + desc.name +
                          "' failed with an uncaught exception:\nexception of unknown type";
            }
            elapsed = std::chrono::steady_clock::now() - start;
            if (failed) {
                output->err() << "\n" << failure << "\n";
            }
        }
        result.output = output->finish();
    } catch (...) {
        // Recording the output itself failed (memory ran out): the case still fails.
        failed = true;
    }
    if (test_case.should_fail) {
        result.outcome = failed ? Outcome::Ok : Outcome::FailedWithMessage;
        if (!failed) {
            result.message = "test did not fail as expected";
        }
    } else {
        result.outcome = failed ? Outcome::Failed : Outcome::Ok;
    }
    if (context.time) {
        result.exec_time = elapsed;
        if (result.outcome == Outcome::Ok && context.time->error_on_excess &&
            elapsed >= context.time->critical) {
            result.outcome = Outcome::TimeLimitExceeded;
        }
    }
    return result;
}

} // namespace

Scheduler::Scheduler(std::size_t count, const CaseContext& context,
                     std::optional<std::chrono::seconds> announce_after)
    : context_(context), announce_after_(announce_after), results_(count), threads_(count),
      running_(count, false) {
    // Reserved up front so that a finishing case never allocates under the lock.
    finished_.reserve(count);
}

void Scheduler::start(std::size_t position, const Case& test_case, const CaseDesc& desc) {
    running_[position] = true;
    try {
        threads_[position] = std::thread([this, position, &test_case, &desc] {
            complete(position, execute(test_case, desc, context_));
        });
    } catch (...) {
        // No thread to be had (resources or memory ran out): run the case right here.
        complete(position, execute(test_case, desc, context_));
    }
    if (announce_after_) {
        announcements_.emplace_back(Clock::now() + *announce_after_, position);
    }
}

void Scheduler::complete(std::size_t position, CaseResult result) noexcept {
    {
        std::lock_guard guard(mutex_);
        results_[position] = std::move(result);
        finished_.push_back(position);
    }
    changed_.notify_one();
}

std::size_t Scheduler::wait_for_next(const std::function<void(std::size_t)>& running_long) {
    for (;;) {
        std::optional<Clock::time_point> deadline;
        if (!announcements_.empty()) {
            deadline = announcements_.front().first;
        }
        const auto finished = next_finished(deadline);
        const auto now = Clock::now();
        while (!announcements_.empty() && announcements_.front().first <= now) {
            if (running_[announcements_.front().second]) {
                running_long(announcements_.front().second);
            }
            announcements_.pop_front();
        }
        if (finished) {
            return *finished;
        }
    }
}

std::optional<std::size_t> Scheduler::next_finished(std::optional<Clock::time_point> deadline) {
    std::unique_lock lock(mutex_);
    const auto available = [this] { return taken_ < finished_.size(); };
    if (deadline) {
        if (!changed_.wait_until(lock, *deadline, available)) {
            return std::nullopt;
        }
    } else {
        changed_.wait(lock, available);
    }
    return finished_[taken_++];
}

CaseResult Scheduler::take(std::size_t position) {
    running_[position] = false;
    if (threads_[position].joinable()) {
        threads_[position].join();
    }
    std::lock_guard guard(mutex_);
    return std::move(*results_[position]);
}

void Scheduler::join_all() noexcept {
    for (auto& thread : threads_) {
        if (thread.joinable()) {
            thread.join();
        }
    }
}

} // namespace quillmere::case_runner::detail
