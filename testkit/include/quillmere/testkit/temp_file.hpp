// Temporary files and directories for tests, removed when they go out of scope.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

namespace quillmere::testkit {

/// A file under the system's temporary directory with a unique name; removed on destruction.
class TempFile {
  public:
    /// Creates the file holding `contents`; `tag` becomes part of its name.
    explicit TempFile(std::span<const std::uint8_t> contents, std::string_view tag = "file");
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const noexcept { return path_; }

  private:
    std::filesystem::path path_;
};

/// A fresh empty directory under the system's temporary directory; removed with its contents.
class TempDir {
  public:
    explicit TempDir(std::string_view tag = "dir");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const noexcept { return path_; }

  private:
    std::filesystem::path path_;
};

/// Writes `contents` to `path`, replacing it.
void write_file(const std::filesystem::path& path, std::span<const std::uint8_t> contents);

} // namespace quillmere::testkit
