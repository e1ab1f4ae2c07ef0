// Tests of the atomic output's system calls, through the archive writer: the order in which
// they make the new archive durable, and a failure of each leaving the old output and no
// temporary file.
#include "detail/atomic_output.hpp"
#include "quillmere/dat/archive_writer.hpp"
#include "quillmere/testkit/temp_file.hpp"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace quillmere::dat {
namespace {

namespace fs = std::filesystem;

// The calls made, by name ("write", "fsync", "fsync dir", ...), and the one to fail: the
// `countdown`-th call named `failing` fails with EIO instead of being made.
struct Recorder {
    std::vector<std::string> calls;
    std::string failing;
    int countdown = 0;
    int directory_fd = -1;
};
Recorder g_recorder;

bool fails(const std::string& call) {
    g_recorder.calls.push_back(call);
    if (call == g_recorder.failing && --g_recorder.countdown == 0) {
        errno = EIO;
        return true;
    }
    return false;
}

std::string on(int fd, const char* call) {
    return fd == g_recorder.directory_fd ? std::string(call) + " dir" : std::string(call);
}

constexpr detail::FileOperations kRecording{
    .open =
        [](const char* path, int flags, mode_t mode) {
            const bool directory = (flags & O_DIRECTORY) != 0;
            if (fails(directory ? "open dir" : "open")) {
                return -1;
            }
            const int fd = ::open(path, flags, mode);
            g_recorder.directory_fd = directory ? fd : g_recorder.directory_fd;
            return fd;
        },
    .pwrite = [](int fd, const void* bytes, std::size_t count, off_t offset) -> ssize_t {
        return fails("write") ? -1 : ::pwrite(fd, bytes, count, offset);
    },
    .fsync = [](int fd) { return fails(on(fd, "fsync")) ? -1 : ::fsync(fd); },
    .close = [](int fd) { return fails(on(fd, "close")) ? (::close(fd), -1) : ::close(fd); },
    .rename = [](const char* from,
                 const char* to) { return fails("rename") ? -1 : ::rename(from, to); },
    .exchange =
        [](const char* from, const char* to) {
            return fails("exchange") ? -1 : detail::system_file_operations().exchange(from, to);
        },
    .unlink = [](const char* path) { return fails("unlink") ? -1 : ::unlink(path); },
};

std::string contents_of(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> names_in(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

class AtomicOutputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_recorder = {};
        detail::use_file_operations(&kRecording);
    }
    void TearDown() override { detail::use_file_operations(nullptr); }

    // Writes an archive of 3 MiB (three buffer-sized writes and the header's) to `out`,
    // failing the `nth` call named `failing` if given. Gives whether it succeeded, and the
    // calls made with runs of writes shown once.
    std::pair<bool, std::vector<std::string>> write_archive(const std::string& failing = {},
                                                            int nth = 1) {
        g_recorder.failing = failing;
        g_recorder.countdown = nth;
        bool ok = false;
        if (auto writer = ArchiveWriter::create(out_, DatHeader{})) {
            const std::vector<std::uint8_t> contents(3U << 20, 7);
            ok = writer->add_file(0x06000001, contents) && writer->finish();
        }
        std::vector<std::string> calls;
        for (const auto& call : g_recorder.calls) {
            if (calls.empty() || call != "write" || calls.back() != "write") {
                calls.push_back(call);
            }
        }
        return {ok, calls};
    }

    testkit::TempDir dir_{"atomic-output"};
    fs::path out_ = dir_.path() / "out.dat";
};

TEST_F(AtomicOutputTest, DataIsFlushedBeforeTheRenameAndTheDirectoryAfterIt) {
    const auto [made, made_calls] = write_archive();
    ASSERT_TRUE(made);
    // A new output: nothing to exchange with, so the file is renamed into place.
    EXPECT_EQ(made_calls,
              (std::vector<std::string>{"open", "write", "fsync", "close", "exchange", "rename",
                                        "open dir", "fsync dir", "close dir", "unlink"}));
    g_recorder = {};
    const auto [replaced, replaced_calls] = write_archive();
    ASSERT_TRUE(replaced);
    // An existing output is exchanged, and its old content unlinked once the rename is durable.
    EXPECT_EQ(replaced_calls,
              (std::vector<std::string>{"open", "write", "fsync", "close", "exchange", "open dir",
                                        "fsync dir", "close dir", "unlink"}));
    EXPECT_EQ(names_in(dir_.path()), std::vector<std::string>{"out.dat"});
}

TEST_F(AtomicOutputTest, EachFailedCallLeavesTheOldOutputAndNoTemporary) {
    struct Fault {
        std::string call;
        int nth;
    };
    const Fault faults[] = {{"open", 1},  {"write", 1},    {"write", 3},    {"fsync", 1},
                            {"close", 1}, {"exchange", 1}, {"open dir", 1}, {"fsync dir", 1}};
    for (const bool existing : {true, false}) {
        for (const Fault& fault : faults) {
            if (existing) {
                std::ofstream(out_) << "old";
            } else {
                fs::remove(out_);
            }
            g_recorder = {};
            EXPECT_FALSE(write_archive(fault.call, fault.nth).first) << fault.call;
            EXPECT_EQ(names_in(dir_.path()),
                      existing ? std::vector<std::string>{"out.dat"} : std::vector<std::string>{})
                << fault.call << " " << fault.nth;
            if (existing) {
                EXPECT_TRUE(contents_of(out_) == "old") << fault.call << " " << fault.nth;
            }
        }
    }
    // A new output is renamed into place: a failed rename leaves none.
    fs::remove(out_);
    g_recorder = {};
    EXPECT_FALSE(write_archive("rename").first);
    EXPECT_EQ(names_in(dir_.path()), std::vector<std::string>{});
}

} // namespace
} // namespace quillmere::dat
