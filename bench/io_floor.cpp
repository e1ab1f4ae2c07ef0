// io_floor: the least work a full sweep of an archive can do, as yardsticks for the checker.
// Opens the archive, walks the directory, and reads every animation, setup model and physics
// script, decoding nothing. Plain POSIX and no library code (only the header-only table that says
// which ids those types have), so nothing of the system under test is in a floor. Three floors:
//   --per-block  one positional read per block (link word and payload together);
//   --runs       one positional read per run of consecutive blocks, link words checked after,
//                every payload byte folded into a checksum: the bandwidth floor of positional
//                reads, which is how the library reads;
//   --mmap       the same walk over a read-only memory map of the archive, every payload byte
//                folded, no system call per block: the memory floor.
// And one floor for quillmere-dat verify on a scattered archive, where a positional read of a
// run fetches a block at a time:
//   --verify-reads  the reading such a verify cannot do without, on two threads: one pass over
//                the whole file in 256 KiB windows keeping every block's link word (chunks of
//                4 MiB taken in turn), then one positional read per block of every file that is
//                compressed or of a hook-carrying type, following the kept links, every payload
//                byte folded. Nothing is decompressed or decoded, and no other chain followed.
//
// Usage: io_floor [--per-block | --runs | --mmap | --verify-reads] ARCHIVE   (default --per-block)
// Prints "files=N blocks=N bytes=N checksum=N" on success.
#include "quillmere/dat/file_type/file_type.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::uint64_t kHeaderBlockSize = 324;
constexpr std::uint64_t kHeaderRoot = 352;
constexpr std::size_t kNodeSize = 1716;
constexpr std::size_t kBranches = 62;
constexpr std::size_t kEntrySize = 24;
// Blocks one vectored read asks for at most: two parts per block within the 1024-part limit.
constexpr std::size_t kMaxRun = 512;

enum class Mode { PerBlock, Runs, Map, VerifyReads };

struct Entry {
    std::uint32_t id;
    std::uint32_t offset;
    std::uint32_t size;
};

constexpr std::size_t kWindow = std::size_t{1} << 18;
constexpr std::uint64_t kChunk = std::uint64_t{4} << 20;

std::uint32_t load_u32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Adds every byte of `bytes` to `sum`: a plain byte sum, so the result does not depend on how a
// file is cut into pieces. Eight bytes at a time into four 16-bit lanes (two bytes each per
// word, so 128 words cannot overflow a lane), touching bytes at about the speed of memory.
void fold(const std::uint8_t* bytes, std::size_t size, std::uint64_t& sum) {
    constexpr std::uint64_t kEvenBytes = 0x00FF00FF00FF00FFULL;
    std::size_t i = 0;
    while (size - i >= 8) {
        const std::size_t words = std::min<std::size_t>((size - i) / 8, 128);
        std::uint64_t lanes = 0;
        for (std::size_t w = 0; w < words; ++w, i += 8) {
            std::uint64_t word;
            std::memcpy(&word, bytes + i, 8);
            lanes += (word & kEvenBytes) + ((word >> 8) & kEvenBytes);
        }
        lanes = (lanes & 0x0000FFFF0000FFFFULL) + ((lanes >> 16) & 0x0000FFFF0000FFFFULL);
        sum += (lanes & 0xFFFFFFFFULL) + (lanes >> 32);
    }
    for (; i < size; ++i) {
        sum += bytes[i];
    }
}

// The archive, read either through positional reads or through a memory map.
class Archive {
  public:
    Archive(int fd, Mode mode, std::uint64_t length, const std::uint8_t* map)
        : fd_(fd), mode_(mode), length_(length), map_(map) {}

    [[nodiscard]] std::uint64_t length() const { return length_; }

    bool read_exact(std::uint8_t* buf, std::size_t size, std::uint64_t offset) const {
        if (map_ != nullptr) {
            if (offset > length_ || size > length_ - offset) {
                return false;
            }
            std::memcpy(buf, map_ + offset, size);
            return true;
        }
        std::size_t done = 0;
        while (done < size) {
            const ssize_t got =
                ::pread(fd_, buf + done, size - done, static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                return false;
            }
            done += static_cast<std::size_t>(got);
        }
        return true;
    }

    // Reads a chain of `size` payload bytes into `out` (in the map mode, folds them where they
    // lie instead; `out` is then unused). Counts the blocks read.
    bool read_chain(std::uint32_t block_size, std::uint32_t offset, std::uint32_t size,
                    std::uint8_t* out, std::uint64_t& blocks, std::uint64_t& sum) const {
        switch (mode_) {
        case Mode::PerBlock:
        case Mode::VerifyReads: // reads its chains on its own (verify_reads)
            return per_block(block_size, offset, size, out, blocks);
        case Mode::Runs:
            if (!runs(block_size, offset, size, out, blocks)) {
                return false;
            }
            fold(out, size, sum);
            return true;
        case Mode::Map:
            return mapped(block_size, offset, size, blocks, sum);
        }
        return false;
    }

  private:
    // One read per block: the link word into a local, the payload straight into its place.
    bool per_block(std::uint32_t block_size, std::uint32_t offset, std::uint32_t size,
                   std::uint8_t* out, std::uint64_t& blocks) const {
        std::size_t filled = 0;
        std::uint64_t at = offset;
        while (filled < size) {
            const std::size_t want = std::min<std::size_t>(size - filled, block_size - 4);
            std::uint8_t link[4];
            iovec parts[2] = {{link, sizeof link}, {out + filled, want}};
            const ssize_t got = ::preadv(fd_, parts, 2, static_cast<off_t>(at));
            if (got != static_cast<ssize_t>(want + 4) &&
                !(read_exact(link, 4, at) && read_exact(out + filled, want, at + 4))) {
                return false;
            }
            ++blocks;
            filled += want;
            const std::uint32_t next = load_u32(link);
            if (next == 0 && filled < size) {
                // A last block holds everything still missing, contiguously.
                return read_exact(out + filled, size - filled, at + 4 + want);
            }
            at = next;
        }
        return true;
    }

    // One vectored read per run of blocks guessed consecutive; the link words then say how far
    // the guess held, and the next run starts at the first block that links elsewhere.
    bool runs(std::uint32_t block_size, std::uint32_t offset, std::uint32_t size, std::uint8_t* out,
              std::uint64_t& blocks) const {
        std::uint8_t links[kMaxRun][4];
        iovec parts[2 * kMaxRun];
        std::size_t filled = 0;
        std::uint64_t at = offset;
        while (filled < size) {
            std::size_t planned = 0;
            std::size_t wanted = 0;
            for (std::size_t to = filled; planned < kMaxRun && to < size; ++planned) {
                const std::size_t want = std::min<std::size_t>(size - to, block_size - 4);
                parts[2 * planned] = {links[planned], 4};
                parts[2 * planned + 1] = {out + to, want};
                to += want;
                wanted += 4 + want;
            }
            const ssize_t got =
                ::preadv(fd_, parts, static_cast<int>(2 * planned), static_cast<off_t>(at));
            if (got != static_cast<ssize_t>(wanted)) {
                return per_block(block_size, static_cast<std::uint32_t>(at),
                                 static_cast<std::uint32_t>(size - filled), out + filled, blocks);
            }
            for (std::size_t b = 0; b < planned; ++b) {
                ++blocks;
                filled += parts[2 * b + 1].iov_len;
                const std::uint32_t next = load_u32(links[b]);
                if (filled == size) {
                    return true;
                }
                if (next == 0) {
                    return read_exact(out + filled, size - filled,
                                      at + 4 + parts[2 * b + 1].iov_len);
                }
                if (next != at + block_size) {
                    at = next;
                    break;
                }
                at = next;
            }
        }
        return true;
    }

    bool mapped(std::uint32_t block_size, std::uint32_t offset, std::uint32_t size,
                std::uint64_t& blocks, std::uint64_t& sum) const {
        std::size_t filled = 0;
        std::uint64_t at = offset;
        while (filled < size) {
            if (at + 4 > length_) {
                return false;
            }
            const std::uint32_t next = load_u32(map_ + at);
            std::size_t want = std::min<std::size_t>(size - filled, block_size - 4);
            if (next == 0) {
                want = size - filled;
            }
            if (want > length_ - at - 4) {
                return false;
            }
            fold(map_ + at + 4, want, sum);
            ++blocks;
            filled += want;
            at = next;
        }
        return true;
    }

    int fd_;
    Mode mode_;
    std::uint64_t length_;
    const std::uint8_t* map_;
};

// The --verify-reads floor: see the top of the file. `read` lists the chains whose payloads are
// read; returns false when a read fails.
bool verify_reads(int fd, std::uint64_t length, std::uint32_t block_size,
                  const std::vector<Entry>& read, std::uint64_t& blocks, std::uint64_t& sum) {
    if (read.empty() || block_size > kWindow) {
        return true;
    }
    const std::uint64_t origin = read.front().offset % block_size;
    const std::uint64_t count = length > origin ? (length - origin) / block_size : 0;
    std::vector<std::uint32_t> links(count);
    const std::uint64_t chunks = (length + kChunk - 1) / kChunk;
    std::atomic<std::uint64_t> next_chunk = 0;
    std::atomic<std::uint64_t> chunks_done = 0;
    std::atomic<bool> failed = false;
    std::uint64_t side_blocks[2] = {0, 0};
    std::uint64_t side_sums[2] = {0, 0};
    const auto learn = [&](std::uint8_t* window) {
        for (std::uint64_t chunk = next_chunk++; chunk < chunks; chunk = next_chunk++) {
            const std::uint64_t end = std::min(length, (chunk + 1) * kChunk);
            for (std::uint64_t at = chunk * kChunk; at < end && !failed; at += kWindow) {
                const auto want =
                    static_cast<std::size_t>(std::min<std::uint64_t>(kWindow, end - at));
                if (::pread(fd, window, want, static_cast<off_t>(at)) !=
                    static_cast<ssize_t>(want)) {
                    failed = true;
                }
                // The blocks whose link words lie wholly in this window.
                std::uint64_t index = at > origin ? (at - origin + block_size - 1) / block_size : 0;
                for (; !failed && index < count && origin + index * block_size + 4 <= at + want;
                     ++index) {
                    links[index] = load_u32(window + (origin + index * block_size - at));
                }
            }
            ++chunks_done;
        }
    };
    // Side k reads every other chain: files of all sizes on both.
    // Each read lands at its offset's place within a page (windows start on a page, as the
    // file's windows do; a block at its offset modulo the page size), as the library places
    // its reads: a copy between addresses that differ by a few bytes modulo the page size runs
    // several times slower on some processors.
    const auto side = [&](int k) {
        constexpr std::size_t kPage = 4096;
        std::vector<std::uint8_t> buffer(kWindow + 2 * kPage);
        const auto address = reinterpret_cast<std::uintptr_t>(buffer.data());
        std::uint8_t* const page = buffer.data() + (kPage - address % kPage) % kPage;
        learn(page);
        while (chunks_done.load() < chunks) {
            std::this_thread::yield(); // the other side's last chunk
        }
        for (std::size_t f = static_cast<std::size_t>(k); f < read.size(); f += 2) {
            std::uint64_t at = read[f].offset;
            for (std::uint64_t left = read[f].size; left != 0;) {
                const std::uint64_t want = std::min<std::uint64_t>(left, block_size - 4);
                std::uint8_t* const block = page + at % kPage;
                if (at % kPage + want + 4 > kWindow + kPage ||
                    ::pread(fd, block, want + 4, static_cast<off_t>(at)) !=
                        static_cast<ssize_t>(want + 4)) {
                    failed = true;
                    return;
                }
                fold(block + 4, want, side_sums[k]);
                ++side_blocks[k];
                left -= want;
                const std::uint64_t index = (at - origin) / block_size;
                at = index < count ? links[index] : 0;
                if (left != 0 && at == 0) {
                    failed = true; // a last block with more: not in the archives measured
                    return;
                }
            }
        }
    };
    std::thread helper(side, 1);
    side(0);
    helper.join();
    blocks += side_blocks[0] + side_blocks[1];
    sum += side_sums[0] + side_sums[1];
    return !failed;
}

} // namespace

int main(int argc, char** argv) {
    Mode mode = Mode::PerBlock;
    int arg = 1;
    if (argc == 3) {
        const std::string_view flag = argv[1];
        if (flag == "--runs") {
            mode = Mode::Runs;
        } else if (flag == "--mmap") {
            mode = Mode::Map;
        } else if (flag == "--verify-reads") {
            mode = Mode::VerifyReads;
        } else if (flag != "--per-block") {
            argc = 0; // usage below
        }
        arg = 2;
    }
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr,
                     "usage: io_floor [--per-block | --runs | --mmap | --verify-reads] ARCHIVE\n");
        return 2;
    }
    const char* path = argv[arg];
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::perror(path);
        return 1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        std::perror(path);
        return 1;
    }
    const auto length = static_cast<std::uint64_t>(info.st_size);
    const std::uint8_t* map = nullptr;
    if (mode == Mode::Map) {
        void* mapped = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, 0);
        if (mapped == MAP_FAILED) {
            std::perror(path);
            return 1;
        }
        map = static_cast<const std::uint8_t*>(mapped);
    }
    const Archive archive(fd, mode, length, map);

    std::uint8_t header[8];
    if (!archive.read_exact(header, 4, kHeaderBlockSize) ||
        !archive.read_exact(header + 4, 4, kHeaderRoot)) {
        std::fprintf(stderr, "io_floor: no header\n");
        return 1;
    }
    const std::uint32_t block_size = load_u32(header);
    const std::uint32_t root = load_u32(header + 4);
    if (block_size <= 4) {
        std::fprintf(stderr, "io_floor: bad block size\n");
        return 1;
    }

    std::vector<std::uint8_t> node(kNodeSize);
    std::vector<Entry> swept;
    std::vector<std::uint32_t> pending;
    std::uint64_t blocks = 0;
    std::uint64_t sum = 0;
    if (root != 0) {
        pending.push_back(root);
    }
    const auto max_nodes = length / kNodeSize;
    std::uint64_t nodes = 0;
    // Nodes are read whole in every mode: the directory is not what the floors measure.
    const Archive direct(fd, Mode::PerBlock, length, nullptr);
    while (!pending.empty() && nodes++ <= max_nodes) {
        const std::uint32_t at = pending.back();
        pending.pop_back();
        std::uint64_t unused = 0;
        if (!direct.read_chain(block_size, at, kNodeSize, node.data(), blocks, unused)) {
            std::fprintf(stderr, "io_floor: short directory node\n");
            return 1;
        }
        const std::uint32_t count =
            std::min<std::uint32_t>(load_u32(node.data() + 4 * kBranches), 61);
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint8_t* e = node.data() + 4 * kBranches + 4 + kEntrySize * i;
            const std::uint32_t id = load_u32(e + 4);
            const bool compressed = (load_u32(e) & 1U) != 0;
            if (quillmere::dat::file_type::of(id) || (mode == Mode::VerifyReads && compressed)) {
                swept.push_back({id, load_u32(e + 8), load_u32(e + 12)});
            }
        }
        if (load_u32(node.data()) != 0) {
            for (std::uint32_t slot = count + 1; slot-- > 0;) {
                if (const std::uint32_t child = load_u32(node.data() + 4 * slot); child != 0) {
                    pending.push_back(child);
                }
            }
        }
    }
    if (mode == Mode::VerifyReads) {
        // Files in offset order, as verify lists them.
        std::uint64_t bytes = 0;
        std::sort(swept.begin(), swept.end(),
                  [](const Entry& a, const Entry& b) { return a.offset < b.offset; });
        if (!verify_reads(fd, length, block_size, swept, blocks, sum)) {
            std::fprintf(stderr, "io_floor: a read failed\n");
            return 1;
        }
        for (const Entry& entry : swept) {
            bytes += entry.size;
        }
        std::printf("files=%zu blocks=%llu bytes=%llu checksum=%llu\n", swept.size(),
                    static_cast<unsigned long long>(blocks), static_cast<unsigned long long>(bytes),
                    static_cast<unsigned long long>(sum));
        return 0;
    }
    // The checker sweeps the types in the order of the library's table of id ranges (animations,
    // then setup models, then physics scripts), each by id.
    const auto order = [](std::uint32_t id) {
        const auto type = quillmere::dat::file_type::of(id);
        std::size_t index = 0;
        while (quillmere::dat::file_type::kIdRanges[index].type != type) {
            ++index;
        }
        return index;
    };
    std::sort(swept.begin(), swept.end(), [&order](const Entry& a, const Entry& b) {
        return order(a.id) != order(b.id) ? order(a.id) < order(b.id) : a.id < b.id;
    });

    std::uint64_t bytes = 0;
    std::vector<std::uint8_t> contents;
    for (const Entry& entry : swept) {
        if (mode != Mode::Map) {
            contents.resize(entry.size);
        }
        if (!archive.read_chain(block_size, entry.offset, entry.size, contents.data(), blocks,
                                sum)) {
            std::fprintf(stderr, "io_floor: short file 0x%08X\n", entry.id);
            return 1;
        }
        bytes += entry.size;
    }
    std::printf("files=%zu blocks=%llu bytes=%llu checksum=%llu\n", swept.size(),
                static_cast<unsigned long long>(blocks), static_cast<unsigned long long>(bytes),
                static_cast<unsigned long long>(sum));
    ::close(fd);
    return 0;
}
