// The open archive file: owns the descriptor and offers positional reads only.
#pragma once

#include "detail/positional_read.hpp"
#include "detail/test_seam.hpp"
#include "quillmere/common/io_error.hpp"

#include <cstdint>
#include <expected>
#include <filesystem>
#include <span>
#include <unistd.h>

namespace quillmere::dat::detail {

/// The system call an archive file reads through: the platform's own, unless a test passes a
/// stand-in that counts the reads or makes them fail.
struct FileReads {
    utils::detail::PreadFn pread = &::pread;
};

/// A file opened read-only, closed on destruction. Every read names its absolute position, so
/// the object has no position of its own and one instance serves several threads at once.
class QUILLMERE_DAT_TEST_SEAM ArchiveFile {
  public:
    /// Opens `path` read-only; every later read goes through `reads`. A directory fails here
    /// (`IsADirectory`) rather than at the first read. The length is taken once, at open: the
    /// archive is never written.
    [[nodiscard]] static std::expected<ArchiveFile, common::IoError>
    open(const std::filesystem::path& path, FileReads reads = {});

    ArchiveFile(ArchiveFile&& other) noexcept;
    ArchiveFile& operator=(ArchiveFile&& other) noexcept;
    ArchiveFile(const ArchiveFile&) = delete;
    ArchiveFile& operator=(const ArchiveFile&) = delete;
    ~ArchiveFile();

    /// Fills `buf` from `offset`; the end of the file first is "failed to fill whole buffer".
    [[nodiscard]] std::expected<void, common::IoError> read_exact_at(std::span<std::uint8_t> buf,
                                                                     std::uint64_t offset) const;
    /// Reads up to `buf.size()` bytes from `offset`, stopping early at the end of the file or at
    /// a failure; returns how many bytes were read and the failure, if any.
    [[nodiscard]] utils::detail::PartialRead read_prefix(std::span<std::uint8_t> buf,
                                                         std::uint64_t offset) const;

    /// The file's length in bytes when it was opened.
    [[nodiscard]] std::uint64_t length() const noexcept { return length_; }

  private:
    ArchiveFile(int fd, std::uint64_t length, FileReads reads) noexcept
        : fd_(fd), length_(length), reads_(reads) {}

    int fd_ = -1;
    std::uint64_t length_ = 0;
    FileReads reads_;
};

} // namespace quillmere::dat::detail
