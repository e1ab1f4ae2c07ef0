// Where the archive builder writes an archive: an in-memory image, or a file written block by
// block.
#pragma once

#include "quillmere/testkit/archive_builder.hpp"

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace quillmere::testkit {

/// Receives the archive's bytes piece by piece, each at its absolute offset.
class ArchiveBuilder::Sink {
  public:
    virtual ~Sink() = default;
    virtual void write(std::uint64_t offset, std::span<const std::uint8_t> bytes) = 0;
};

/// Copies into a byte vector already sized to the whole archive.
class VectorSink final : public ArchiveBuilder::Sink {
  public:
    explicit VectorSink(std::vector<std::uint8_t>& out) : out_(out) {}
    void write(std::uint64_t offset, std::span<const std::uint8_t> bytes) override;

  private:
    std::vector<std::uint8_t>& out_;
};

/// Writes a file of `length` bytes. Adjacent writes are collected into one buffer and written
/// with pwrite when the next write is elsewhere or the buffer is full, so an unshuffled archive
/// goes out in large pieces. Any failure throws `std::runtime_error` naming the call and path.
class FileSink final : public ArchiveBuilder::Sink {
  public:
    FileSink(const std::filesystem::path& path, std::uint64_t length);
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;
    ~FileSink() override;

    void write(std::uint64_t offset, std::span<const std::uint8_t> bytes) override;
    /// Writes what is still buffered and closes the file.
    void finish();

  private:
    static constexpr std::size_t kFlushAt = 1 << 20;

    void flush();
    [[noreturn]] void fail(const char* what) const;

    std::filesystem::path path_;
    int fd_ = -1;
    std::uint64_t start_ = 0;
    std::vector<std::uint8_t> pending_;
};

} // namespace quillmere::testkit
