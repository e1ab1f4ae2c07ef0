// The files of an extracted tree read on a second thread, a bounded distance ahead of the
// archive writer that takes them in order.
#pragma once

#include "command.hpp"
#include "manifest.hpp"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace quillmere::inspect {

/// Reads `files` from under `dir` (each at `content_path` of its id) in the order given, on a
/// thread of its own, so that reading the tree overlaps compressing and writing the archive
/// (which take about as long). Files travel in batches of about 1 MiB whose buffers are used
/// again and again, so at most about 18 MiB are held, whatever the tree's size (more only for
/// a single file above 1 MiB). Stops at the first file it cannot read.
class ReadAhead {
  public:
    ReadAhead(const std::filesystem::path& dir, std::span<const ManifestFile> files);
    /// Stops the reading, even half-way, and waits for the thread to end.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    /// The next file's contents, valid until the next call. Called at most once per file, and
    /// not after an error: "cannot read {path}: {reason}" as `read_local_file` gives it.
    [[nodiscard]] Gathered<std::span<const std::uint8_t>> next();

  private:
    // Files read one after the other into one buffer.
    struct Batch {
        // Sized to the most it ever held; only the files' ranges mean anything.
        std::vector<std::uint8_t> bytes;
        // Offset and length of each file in `bytes`.
        std::vector<std::pair<std::size_t, std::size_t>> files;
        // The failed read that ended the batch, after its files.
        std::optional<std::string> error;
    };

    void run();
    [[nodiscard]] Gathered<std::size_t> read_one(const ManifestFile& file, Batch& batch,
                                                 std::size_t at);

    // The tree's path with a '/' at the end, as errors show it.
    std::string shown_prefix_;
    std::span<const ManifestFile> files_;
    // Each file type's directory, opened on first use; -1 before.
    std::vector<int> type_directories_;

    // The batch being taken, on the writer's side, and how many of its files were.
    Batch current_;
    std::size_t taken_ = 0;
    // Files handed out so far.
    std::size_t handed_ = 0;

    std::mutex mutex_;
    std::condition_variable filled_;
    std::condition_variable drained_;
    std::deque<Batch> ready_;
    // Batches taken, kept for their buffers.
    std::vector<Batch> spare_;
    bool stop_ = false;
    std::thread thread_;
};

} // namespace quillmere::inspect
