// io_floor: the least work a full sweep of an archive can do. Opens the archive, walks the
// directory, and reads every block of every animation, setup model and physics script with one
// positional read per block (link word and payload together), decoding nothing. The timing
// script compares the checker with it. Plain POSIX, no library code, so nothing of the system
// under test is in the floor.
//
// Usage: io_floor ARCHIVE   (prints "files=N blocks=N bytes=N" on success)
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::uint64_t kHeaderBlockSize = 324;
constexpr std::uint64_t kHeaderRoot = 352;
constexpr std::size_t kNodeSize = 1716;
constexpr std::size_t kBranches = 62;
constexpr std::size_t kEntrySize = 24;

struct Entry {
    std::uint32_t id;
    std::uint32_t offset;
    std::uint32_t size;
};

std::uint32_t load_u32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool read_exact(int fd, std::uint8_t* buf, std::size_t size, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(fd, buf + done, size - done, static_cast<off_t>(offset + done));
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

// Reads a chain of `size` payload bytes into `out` with one read per block: the link word into
// a local, the payload straight into its place.
bool read_chain(int fd, std::uint32_t block_size, std::uint32_t offset, std::uint32_t size,
                std::uint8_t* out, std::uint64_t& blocks) {
    std::size_t filled = 0;
    std::uint64_t at = offset;
    while (filled < size) {
        const std::size_t want = std::min<std::size_t>(size - filled, block_size - 4);
        std::uint8_t link[4];
        iovec parts[2] = {{link, sizeof link}, {out + filled, want}};
        const ssize_t got = ::preadv(fd, parts, 2, static_cast<off_t>(at));
        if (got != static_cast<ssize_t>(want + 4) &&
            !(read_exact(fd, link, 4, at) && read_exact(fd, out + filled, want, at + 4))) {
            return false;
        }
        ++blocks;
        filled += want;
        const std::uint32_t next = load_u32(link);
        if (next == 0 && filled < size) {
            // A last block holds everything still missing, contiguously.
            return read_exact(fd, out + filled, size - filled, at + 4 + want);
        }
        at = next;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: io_floor ARCHIVE\n");
        return 2;
    }
    const int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::perror(argv[1]);
        return 1;
    }
    std::uint8_t header[8];
    if (!read_exact(fd, header, 4, kHeaderBlockSize) ||
        !read_exact(fd, header + 4, 4, kHeaderRoot)) {
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
    if (root != 0) {
        pending.push_back(root);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    const auto max_nodes = static_cast<std::uint64_t>(info.st_size) / kNodeSize;
    std::uint64_t nodes = 0;
    while (!pending.empty() && nodes++ <= max_nodes) {
        const std::uint32_t at = pending.back();
        pending.pop_back();
        if (!read_chain(fd, block_size, at, kNodeSize, node.data(), blocks)) {
            std::fprintf(stderr, "io_floor: short directory node\n");
            return 1;
        }
        const std::uint32_t count =
            std::min<std::uint32_t>(load_u32(node.data() + 4 * kBranches), 61);
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint8_t* e = node.data() + 4 * kBranches + 4 + kEntrySize * i;
            const std::uint32_t id = load_u32(e + 4);
            const std::uint32_t type = id >> 24;
            if (type == 0x02 || type == 0x03 || type == 0x33) {
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
    // The checker sweeps animations, then setup models, then physics scripts, each by id.
    const auto order = [](std::uint32_t id) {
        return (id >> 24) == 0x03 ? 0U : ((id >> 24) == 0x02 ? 1U : 2U);
    };
    std::sort(swept.begin(), swept.end(), [&order](const Entry& a, const Entry& b) {
        return order(a.id) != order(b.id) ? order(a.id) < order(b.id) : a.id < b.id;
    });

    std::uint64_t bytes = 0;
    std::vector<std::uint8_t> contents;
    for (const Entry& entry : swept) {
        contents.resize(entry.size);
        if (!read_chain(fd, block_size, entry.offset, entry.size, contents.data(), blocks)) {
            std::fprintf(stderr, "io_floor: short file 0x%08X\n", entry.id);
            return 1;
        }
        bytes += entry.size;
    }
    std::printf("files=%zu blocks=%llu bytes=%llu\n", swept.size(),
                static_cast<unsigned long long>(blocks), static_cast<unsigned long long>(bytes));
    ::close(fd);
    return 0;
}
