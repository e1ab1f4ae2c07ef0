// Reading an extracted tree on two threads, ahead of the archive writer.
#include "read_ahead.hpp"

#include "local_files.hpp"

#include <array>
#include <cassert>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace quillmere::inspect {
namespace {

// Files per batch: the threads meet once per batch rather than once per file.
constexpr std::size_t kBatchFiles = 128;
// How far the reading may run ahead of the writer.
constexpr std::size_t kAheadBytes = std::size_t{16} << 20;
constexpr std::size_t kAheadBatches = 16;
constexpr std::size_t kReaders = 2;

// Each file type's directory, opened on first use, so each file is opened by its name in it
// rather than by its whole path.
class TypeDirectories {
  public:
    TypeDirectories() { fds_.fill(-1); }
    ~TypeDirectories() {
        for (const int fd : fds_) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    TypeDirectories(const TypeDirectories&) = delete;
    TypeDirectories& operator=(const TypeDirectories&) = delete;

    // The directory of the file whose path under `prefix` is `relative` ("03/03000001.bin"),
    // or -1 with errno set.
    int of(const std::string& prefix, std::uint32_t id, const std::string& relative) {
        int& fd = fds_[id >> 24];
        if (fd < 0) {
            fd = ::open((prefix + relative.substr(0, 2)).c_str(),
                        O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        }
        return fd;
    }

  private:
    std::array<int, 256> fds_{};
};

} // namespace

ReadAhead::ReadAhead(const std::filesystem::path& dir, std::span<const ManifestFile> files)
    : shown_prefix_((dir / "").string()), files_(files) {
    for (std::size_t i = 0; i < kReaders; ++i) {
        threads_.emplace_back([this] { read_batches(); });
    }
}

ReadAhead::~ReadAhead() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    drained_.notify_all();
    for (auto& thread : threads_) {
        thread.join();
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
        filled_.wait(lock, [&] { return ready_.contains(next_to_take_); });
        const auto found = ready_.find(next_to_take_++);
        current_ = std::move(found->second);
        ready_.erase(found);
        ready_bytes_ -= current_.used();
        lock.unlock();
        drained_.notify_all();
        taken_ = 0;
    }
    const auto [offset, length] = current_.files[taken_++];
    return std::span<const std::uint8_t>(current_.bytes.data() + offset, length);
}

void ReadAhead::read_batches() {
    TypeDirectories directories;
    while (true) {
        std::size_t index = 0;
        Batch batch;
        {
            std::unique_lock lock(mutex_);
            drained_.wait(lock, [&] {
                return stop_ || (ready_bytes_ < kAheadBytes &&
                                 next_to_read_ < next_to_take_ + kAheadBatches);
            });
            if (stop_ || next_to_read_ * kBatchFiles >= files_.size()) {
                return;
            }
            index = next_to_read_++;
            if (!spare_.empty()) {
                batch = std::move(spare_.back());
                spare_.pop_back();
            }
        }
        batch.files.clear();
        batch.error.reset();
        const std::size_t first = index * kBatchFiles;
        const std::size_t last = std::min(first + kBatchFiles, files_.size());
        for (std::size_t i = first; i < last && !batch.error; ++i) {
            const std::string relative = content_path(files_[i].id);
            const std::string shown = shown_prefix_ + relative;
            const int directory = directories.of(shown_prefix_, files_[i].id, relative);
            if (directory < 0) {
                batch.error = "cannot read " + shown + ": " + system_reason(errno);
                break;
            }
            const std::size_t at = batch.used();
            const auto length =
                read_local_file_into(directory, relative.c_str() + 3, shown, batch.bytes, at);
            if (length) {
                batch.files.emplace_back(at, *length);
            } else {
                batch.error = length.error();
            }
        }
        {
            const std::lock_guard lock(mutex_);
            // After a failed read nothing further is handed out: no need to read on.
            stop_ = stop_ || batch.error.has_value();
            ready_bytes_ += batch.used();
            ready_.emplace(index, std::move(batch));
        }
        filled_.notify_all();
    }
}

} // namespace quillmere::inspect
