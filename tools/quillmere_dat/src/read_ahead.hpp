// The files of an extracted tree read on two threads of their own, a bounded distance ahead of
// the archive writer that takes them in order.
#pragma once

#include "command.hpp"
#include "manifest.hpp"

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace quillmere::inspect {

/// Reads `files` from under `dir` (each at `content_path` of its id) and hands them out in the
/// order given, so that reading the tree overlaps compressing and writing the archive. Opening
/// and reading tens of thousands of small files is most of a pack's work, so two threads share
/// it: each claims the next batch of consecutive files and reads them into one buffer; buffers
/// are used again and again. At most about 16 MiB wait to be taken, whatever the tree's size
/// (a batch in the making may add its files to that). Stops at the first file it cannot read.
class ReadAhead {
  public:
    ReadAhead(const std::filesystem::path& dir, std::span<const ManifestFile> files);
    /// Stops the reading, even half-way, and waits for the threads to end.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    /// The next file's contents, valid until the next call. Called at most once per file, and
    /// not after an error: "cannot read {path}: {reason}" as `read_local_file` gives it.
    [[nodiscard]] Gathered<std::span<const std::uint8_t>> next();

  private:
    // Consecutive files read one after the other into one buffer.
    struct Batch {
        // Sized to the most it ever held; only the files' ranges mean anything.
        std::vector<std::uint8_t> bytes;
        // Offset and length of each file in `bytes`.
        std::vector<std::pair<std::size_t, std::size_t>> files;
        // The failed read that ended the batch, after its files.
        std::optional<std::string> error;
        [[nodiscard]] std::size_t used() const noexcept {
            return files.empty() ? 0 : files.back().first + files.back().second;
        }
    };

    void read_batches();

    // The tree's path with a '/' at the end, as errors show it.
    std::string shown_prefix_;
    std::span<const ManifestFile> files_;

    // The batch being taken, on the writer's side, and how many of its files were.
    Batch current_;
    std::size_t taken_ = 0;
    // Files handed out so far.
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

} // namespace quillmere::inspect
