// The --logfile file: created (truncated) before the run, one line written per finished case.
#pragma once

#include <expected>
#include <string>
#include <string_view>

namespace quillmere::case_runner::detail {

class LogFile {
  public:
    /// Creates or truncates the file at `path`. Error: "cannot create log file \"{path}\":
    /// {system text} (os error N)".
    [[nodiscard]] static std::expected<LogFile, std::string> create(const std::string& path);

    LogFile(LogFile&& other) noexcept;
    LogFile& operator=(LogFile&&) = delete;
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;
    ~LogFile();

    /// Writes all of `text`, retrying when interrupted. Error: "cannot write log file
    /// \"{path}\": {system text} (os error N)".
    [[nodiscard]] std::expected<void, std::string> write(std::string_view text);

  private:
    LogFile(int fd, std::string path) noexcept;

    int fd_;
    std::string path_;
};

} // namespace quillmere::case_runner::detail
