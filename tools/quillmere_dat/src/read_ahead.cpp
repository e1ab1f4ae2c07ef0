// Reading an extracted tree on a second thread, ahead of the archive writer.
#include "read_ahead.hpp"

#include "local_files.hpp"

#include <cassert>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace quillmere::inspect {
namespace {

// A batch is handed over once it holds this much, so the threads meet once per batch rather
// than once per file; at most kBatchesAhead batches wait to be taken.
constexpr std::size_t kBatchBytes = std::size_t{1} << 20;
constexpr std::size_t kBatchFiles = 256;
constexpr std::size_t kBatchesAhead = 16;

} // namespace

ReadAhead::ReadAhead(const std::filesystem::path& dir, std::span<const ManifestFile> files)
    : shown_prefix_((dir / "").string()), files_(files), type_directories_(256, -1),
      thread_([this] { run(); }) {}

ReadAhead::~ReadAhead() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    drained_.notify_all();
    thread_.join();
    for (const int fd : type_directories_) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

Gathered<std::span<const std::uint8_t>> ReadAhead::next() {
    assert(handed_ < files_.size() && "next called past the last file");
    ++handed_;
    while (taken_ == current_.files.size()) {
        if (current_.error) {
            return std::unexpected(*current_.error);
        }
        std::unique_lock lock(mutex_);
        spare_.push_back(std::move(current_));
        filled_.wait(lock, [&] { return !ready_.empty(); });
        current_ = std::move(ready_.front());
        ready_.pop_front();
        lock.unlock();
        drained_.notify_one();
        taken_ = 0;
    }
    const auto [offset, length] = current_.files[taken_++];
    return std::span<const std::uint8_t>(current_.bytes.data() + offset, length);
}

Gathered<std::size_t> ReadAhead::read_one(const ManifestFile& file, Batch& batch, std::size_t at) {
    const std::string relative = content_path(file.id);
    int& directory = type_directories_[file.id >> 24];
    if (directory < 0) {
        directory = ::open((shown_prefix_ + relative.substr(0, 2)).c_str(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (directory < 0) {
            return std::unexpected("cannot read " + shown_prefix_ + relative + ": " +
                                   system_reason(errno));
        }
    }
    return read_local_file_into(directory, relative.c_str() + 3, shown_prefix_ + relative,
                                batch.bytes, at);
}

void ReadAhead::run() {
    Batch batch;
    std::size_t used = 0;
    for (std::size_t i = 0; i < files_.size(); ++i) {
        const auto length = read_one(files_[i], batch, used);
        if (length) {
            batch.files.emplace_back(used, *length);
            used += *length;
        } else {
            batch.error = length.error();
        }
        if (length && i + 1 < files_.size() && used < kBatchBytes &&
            batch.files.size() < kBatchFiles) {
            continue;
        }
        {
            std::unique_lock lock(mutex_);
            drained_.wait(lock, [&] { return stop_ || ready_.size() < kBatchesAhead; });
            if (stop_) {
                return;
            }
            ready_.push_back(std::move(batch));
            batch = {};
            if (!spare_.empty()) {
                batch = std::move(spare_.back());
                spare_.pop_back();
            }
        }
        filled_.notify_one();
        if (!length) {
            return;
        }
        batch.files.clear();
        batch.error.reset();
        used = 0;
    }
}

} // namespace quillmere::inspect
