// Where a running case's out() and err() go: its capture buffer or whole lines to the console.
#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <ostream>
#include <streambuf>
#include <string>

namespace quillmere::case_runner::detail {

/// Collects everything written to it, in order, for one case (both of its streams).
class CaptureBuffer final : public std::streambuf {
  public:
    /// Hands over the collected text and starts empty again.
    [[nodiscard]] std::string take() noexcept;

  protected:
    int_type overflow(int_type ch) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;

  private:
    std::string text_;
};

/// Passes a case's output to a console stream a whole line at a time, under the console lock, so
/// that lines of cases on other threads (and the runner's own lines) never tear it. A line longer
/// than `kMaxPending` bytes is passed on in pieces rather than held without bound.
class LineSink final : public std::streambuf {
  public:
    static constexpr std::size_t kMaxPending = 64 * 1024;

    LineSink(std::ostream& target, std::mutex& lock) noexcept : target_(target), lock_(lock) {}

    /// Passes on a last line that has no line end.
    void finish();

  protected:
    int_type overflow(int_type ch) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;

  private:
    void emit(std::size_t count);

    std::ostream& target_;
    std::mutex& lock_;
    std::string pending_;
};

/// The two streams of one running case. Not movable: the streams point into it.
class CaseOutput {
  public:
    /// Capturing: both streams write to one buffer of the case.
    CaseOutput();
    /// Not capturing: the streams go line by line to `console_out` and `console_err`.
    CaseOutput(std::ostream& console_out, std::ostream& console_err, std::mutex& lock);
    CaseOutput(const CaseOutput&) = delete;
    CaseOutput& operator=(const CaseOutput&) = delete;

    [[nodiscard]] std::ostream& out() noexcept { return out_; }
    [[nodiscard]] std::ostream& err() noexcept { return err_; }

    /// Ends the case's output: passes on unfinished lines, and returns what was captured
    /// (empty when not capturing).
    [[nodiscard]] std::string finish();

  private:
    CaptureBuffer capture_;
    std::optional<LineSink> out_sink_;
    std::optional<LineSink> err_sink_;
    std::ostream out_;
    std::ostream err_;
};

/// Makes `out()` and `err()` of the current thread name the given streams until destroyed.
class StreamScope {
  public:
    StreamScope(std::ostream& out, std::ostream& err) noexcept;
    ~StreamScope();
    StreamScope(const StreamScope&) = delete;
    StreamScope& operator=(const StreamScope&) = delete;

  private:
    std::ostream* previous_out_;
    std::ostream* previous_err_;
};

} // namespace quillmere::case_runner::detail
