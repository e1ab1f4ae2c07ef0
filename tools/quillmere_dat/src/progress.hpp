// The progress line of a long-running command: "repack: 1234/60000 files" on standard error,
// rewritten in place, and only when standard error is a terminal.
#pragma once

#include "command.hpp"

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace quillmere::dat_tool {

/// Shows how far a command has got, for a person watching a terminal. Nothing is written when
/// standard error is not a terminal (`Streams::err_is_terminal`), nor during a run's first
/// second, so quick runs and captured output stay clean. The line is cleared when the command
/// calls `clear` or the object goes away, before any "error:" line.
class Progress {
  public:
    Progress(const Streams& streams, std::string_view command, std::size_t total);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    /// `done` of the total files are done; redraws the line at most ten times a second.
    void update(std::size_t done);
    /// Erases the line, if one was drawn.
    void clear();

  private:
    using Clock = std::chrono::steady_clock;

    const Streams& streams_;
    std::string command_;
    std::size_t total_;
    Clock::time_point next_draw_;
    std::size_t drawn_width_ = 0;
};

} // namespace quillmere::dat_tool
