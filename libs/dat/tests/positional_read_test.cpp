// Tests of exact positional reads: retries, partial reads, end of file and platform errors; and
// of the archive file they read.
#include "detail/archive_file.hpp"
#include "detail/positional_read.hpp"
#include "quillmere/dat/positional_read.hpp"
#include "quillmere/testkit/process.hpp"
#include "quillmere/testkit/temp_file.hpp"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <numeric>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quillmere::dat::utils {
namespace {

using common::IoError;

// A scripted stand-in for pread: each call takes the next step, and records where it read.
struct Step {
    ssize_t result; // bytes to deliver, or -1
    int error = 0;
};
std::vector<Step> g_script;
std::size_t g_next = 0;
std::vector<off_t> g_positions;

ssize_t scripted_pread(int /*fd*/, void* buf, std::size_t count, off_t offset) {
    g_positions.push_back(offset);
    const Step step = g_next < g_script.size() ? g_script[g_next++] : Step{0};
    if (step.result < 0) {
        errno = step.error;
        return -1;
    }
    const auto n = std::min(count, static_cast<std::size_t>(step.result));
    std::memset(buf, static_cast<int>(offset & 0xFF), n);
    return static_cast<ssize_t>(n);
}

void run_script(std::vector<Step> script) {
    g_script = std::move(script);
    g_next = 0;
    g_positions.clear();
}

TEST(PositionalReadTest, InterruptedAndPartialReadsContinueAtTheNextPosition) {
    run_script({{-1, EINTR}, {3}, {-1, EINTR}, {2}, {5}});
    std::vector<std::uint8_t> buf(10);
    auto read = detail::read_at_using(scripted_pread, 0, buf, 100, true);
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, 10U);
    EXPECT_EQ(g_positions, (std::vector<off_t>{100, 100, 103, 103, 105}));
    EXPECT_EQ(buf, (std::vector<std::uint8_t>{100, 100, 100, 103, 103, 105, 105, 105, 105, 105}));
}

TEST(PositionalReadTest, EndOfFileBeforeTheBufferIsFullIsAShortRead) {
    run_script({{4}, {0}});
    std::vector<std::uint8_t> buf(10);
    auto exact = detail::read_at_using(scripted_pread, 0, buf, 0, true);
    ASSERT_FALSE(exact);
    EXPECT_EQ(exact.error(), IoError::unexpected_eof());
    EXPECT_EQ(exact.error().message(), "failed to fill whole buffer");

    run_script({{4}, {0}});
    auto at_most = detail::read_at_using(scripted_pread, 0, buf, 0, false);
    ASSERT_TRUE(at_most);
    EXPECT_EQ(*at_most, 4U);
}

TEST(PositionalReadTest, OtherFailuresKeepThePlatformError) {
    run_script({{2}, {-1, EIO}});
    std::vector<std::uint8_t> buf(10);
    auto read = detail::read_at_using(scripted_pread, 0, buf, 0, true);
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error(), IoError::from_errno(EIO));

    // The prefix read keeps what arrived before the failure.
    run_script({{2}, {-1, EINTR}, {3}, {-1, EIO}});
    const detail::PartialRead prefix = detail::read_prefix_using(scripted_pread, 0, buf, 0);
    EXPECT_EQ(prefix.filled, 5U);
    EXPECT_EQ(prefix.error, IoError::from_errno(EIO));
}

TEST(PositionalReadTest, PositionBeyondThePlatformRangeFailsWithoutReading) {
    run_script({});
    std::vector<std::uint8_t> buf(4);
    auto read = detail::read_at_using(scripted_pread, 0, buf, 0xFFFFFFFFFFFFFFFEULL, true);
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error().os_code(), EINVAL);
    EXPECT_TRUE(g_positions.empty());
}

TEST(PositionalReadTest, ReadsARealFileAtAnyOffsetWithoutMovingItsPosition) {
    std::vector<std::uint8_t> contents(5000);
    std::iota(contents.begin(), contents.end(), std::uint8_t{0});
    const testkit::TempFile file(contents, "pread");
    const int fd = ::open(file.path().c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);

    std::vector<std::uint8_t> buf(100);
    ASSERT_TRUE(read_exact_at_compat(fd, buf, 4900));
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), contents.begin() + 4900));
    EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 0);

    auto past_end = read_exact_at_compat(fd, buf, 4901);
    ASSERT_FALSE(past_end);
    EXPECT_EQ(past_end.error(), IoError::unexpected_eof());

    auto at_most = detail::read_at_using(&::pread, fd, buf, 4950, false);
    ASSERT_TRUE(at_most);
    EXPECT_EQ(*at_most, 50U);

    EXPECT_TRUE(read_exact_at_compat(fd, {}, 1ULL << 40)) << "an empty read reads nothing";
    ::close(fd);
}

TEST(PositionalReadTest, UnseekableDescriptorFailsWithThePlatformError) {
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    std::vector<std::uint8_t> buf(4);
    auto read = read_exact_at_compat(pipe_fds[0], buf, 0);
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error(), IoError::from_errno(ESPIPE));
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
}

// Under the default `relatime` a read sets an access time older than the last change; an archive
// file is opened so that reading it leaves the time as it was.
TEST(PositionalReadTest, ReadingAnArchiveFileLeavesItsAccessTimeAlone) {
    const std::vector<std::uint8_t> contents(4096, 7);
    const testkit::TempFile file(contents, "atime");
    const timespec times[2] = {{1000000000, 0}, {0, UTIME_NOW}}; // access in 2001, change now
    ASSERT_EQ(::utimensat(AT_FDCWD, file.path().c_str(), times, 0), 0);

    auto archive = dat::detail::ArchiveFile::open(file.path());
    ASSERT_TRUE(archive);
    std::vector<std::uint8_t> buf(100);
    ASSERT_TRUE(archive->read_exact_at(buf, 10));
    struct stat info {};
    ASSERT_EQ(::stat(file.path().c_str(), &info), 0);
    EXPECT_EQ(info.st_atim.tv_sec, 1000000000);
}

// Only its owner may read a file without moving its access time; anyone else reads it all the
// same. Needs root, to read as another user.
TEST(PositionalReadTest, AnArchiveFileOfAnotherUserOpensAllTheSame) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "reading as another user needs root";
    }
    const std::vector<std::uint8_t> contents(4096, 7);
    const testkit::TempFile file(contents, "other-user");
    ASSERT_EQ(::chmod(file.path().c_str(), 0644), 0);
    const auto read_as_nobody = [&file] {
        constexpr uid_t kNobody = 65534;
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
            return false;
        }
        auto archive = dat::detail::ArchiveFile::open(file.path());
        std::vector<std::uint8_t> buf(100);
        return archive && archive->length() == 4096 && archive->read_exact_at(buf, 10);
    };
    EXPECT_EQ(testkit::run_with_memory_budget(std::uint64_t{64} << 20, 10, read_as_nobody), 0);
}

} // namespace
} // namespace quillmere::dat::utils
