// The built quillmere-dat against other processes, kills, limits and hostile inputs: two
// writers at once, killed runs followed by a finished one, inputs that are no regular file,
// memory limits, members that are links or too large, and extraction into a directory that
// must keep what it is.
#include "quillmere/common/random.hpp"
#include "quillmere/testkit/archive_builder.hpp"
#include "quillmere/testkit/process.hpp"
#include "quillmere/testkit/temp_file.hpp"
#include "sample_archive.hpp"
#include "write_checks.hpp"

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace quillmere::dat_tool {
namespace {

namespace fs = std::filesystem;
using testing::bytes_of;
using testing::names_in;

struct Outcome {
    // The exit status, or 128 + the signal that ended the process.
    int status = -1;
    std::string err;
};

// Starts the tool with standard error to `err_path`, under `limit` on `resource` if given.
pid_t start(const std::vector<std::string>& args, const fs::path& err_path,
            std::optional<std::pair<int, rlim_t>> limit = std::nullopt) {
    std::vector<std::string> argv = {"quillmere-dat"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> c_argv;
    for (auto& arg : argv) {
        c_argv.push_back(arg.data());
    }
    c_argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(err, 2);
        if (limit) {
            const rlimit value{limit->second, limit->second};
            ::setrlimit(static_cast<__rlimit_resource>(limit->first), &value);
        }
        ::execv(QUILLMERE_DAT_TOOL_PATH, c_argv.data());
        ::_exit(127);
    }
    return pid;
}

// Waits for the tool, killing it after `seconds` (a hang shows as 128 + SIGKILL).
Outcome finish(pid_t pid, const fs::path& err_path, int seconds = 20) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const auto err = bytes_of(err_path);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
            std::string(err.begin(), err.end())};
}

class ProcessSafetyE2eTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { data_ = std::make_unique<testkit::TempDir>("safety-e2e"); }
    static void TearDownTestSuite() { data_.reset(); }

    // 32 MiB that do not compress, in 512 files: long enough to write that runs overlap.
    static fs::path big_path() {
        const fs::path path = data_->path() / "big.dat";
        if (!fs::exists(path)) {
            testkit::ArchiveBuilder big(1024);
            common::SplitMix64 random(1);
            for (std::uint32_t i = 0; i < 512; ++i) {
                std::vector<std::uint8_t> contents(64 * 1024);
                for (std::size_t at = 0; at < contents.size(); at += 8) {
                    const std::uint64_t word = random.next();
                    std::memcpy(contents.data() + at, &word, 8);
                }
                big.add_file(0x06000000 + i, std::move(contents));
            }
            big.write_to(path);
        }
        return path;
    }

    // Three small files, quick to extract.
    static fs::path small_path() {
        const fs::path path = data_->path() / "small.dat";
        if (!fs::exists(path)) {
            testkit::ArchiveBuilder small(1024);
            for (std::uint32_t i = 0; i < 3; ++i) {
                small.add_file(0x06000001 + i, std::vector<std::uint8_t>(100 + i, 7));
            }
            small.write_to(path);
        }
        return path;
    }

    [[nodiscard]] std::string at(const std::string& name) const {
        return (dir_.path() / name).string();
    }

    Outcome tool(const std::vector<std::string>& args,
                 std::optional<std::pair<int, rlim_t>> limit = std::nullopt) {
        return finish(start(args, err_path_, limit), err_path_);
    }

    static std::unique_ptr<testkit::TempDir> data_;
    testkit::TempDir dir_{"safety-e2e-run"};
    fs::path err_path_ = data_->path() / "err";
};

std::unique_ptr<testkit::TempDir> ProcessSafetyE2eTest::data_;

TEST_F(ProcessSafetyE2eTest, TwoWritersOfOneArchiveNeverLoseAnUpdate) {
    fs::copy_file(big_path(), at("x.dat"));
    testkit::write_file(at("a.bin"), std::vector<std::uint8_t>{'a'});
    testkit::write_file(at("b.bin"), std::vector<std::uint8_t>{'b'});
    const pid_t first =
        start({"repack", at("x.dat"), at("x.dat"), "--put", "0x07000001=" + at("a.bin")},
              data_->path() / "err1");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const pid_t second =
        start({"repack", at("x.dat"), at("x.dat"), "--put", "0x07000002=" + at("b.bin")},
              data_->path() / "err2");
    const Outcome runs[] = {finish(first, data_->path() / "err1"),
                            finish(second, data_->path() / "err2")};
    const auto archive = dat::DatDatabase::open(at("x.dat"));
    ASSERT_TRUE(archive);
    for (std::uint32_t i = 0; i < 2; ++i) {
        if (runs[i].status == 0) {
            EXPECT_TRUE(archive->files().contains(0x07000001 + i)) << "run " << i << "'s file lost";
        } else {
            EXPECT_EQ(runs[i].status, 1);
            EXPECT_EQ(runs[i].err,
                      "error: " + at("x.dat") + " is being written by another process\n");
        }
    }
    EXPECT_EQ(names_in(dir_.path()), (std::vector<std::string>{"a.bin", "b.bin", "x.dat"}));
}

// Whatever signal ends a run, the next finished run of the same command leaves only its output.
TEST_F(ProcessSafetyE2eTest, KilledRunsThenAFinishedRunLeaveOnlyTheOutput) {
    const fs::path out_dir = dir_.path() / "out";
    fs::create_directory(out_dir);
    const std::string out = (out_dir / "out.dat").string();
    for (const int signal_number : {SIGKILL, SIGHUP, SIGQUIT, SIGKILL}) {
        const pid_t pid = start({"repack", big_path().string(), out}, err_path_);
        // Killed once its temporary file holds data, half-way through.
        bool started = false;
        while (!started && ::waitpid(pid, nullptr, WNOHANG) == 0) {
            std::error_code ec;
            for (const auto& entry : fs::directory_iterator(out_dir, ec)) {
                started =
                    started || (entry.path().filename().string().starts_with(".out.dat.tmp-") &&
                                entry.file_size(ec) > 0 && !ec);
            }
        }
        ASSERT_TRUE(started) << "finished too soon";
        ::kill(pid, signal_number);
        EXPECT_EQ(finish(pid, err_path_).status, 128 + signal_number);
    }
    EXPECT_EQ(tool({"repack", big_path().string(), out}).status, 0);
    EXPECT_EQ(names_in(out_dir), std::vector<std::string>{"out.dat"});
    testing::expect_same_files(big_path(), out, testing::Stored::Same);
}

TEST_F(ProcessSafetyE2eTest, OnlyRegularFilesAreReadAsArchivesOrInputs) {
    ASSERT_EQ(::mkfifo(at("fifo").c_str(), 0600), 0);
    fs::create_directory(at("tree"));
    for (const std::string& path : {at("fifo"), std::string("/dev/zero"), at("tree")}) {
        for (const std::vector<std::string>& args : {std::vector<std::string>{"info", path},
                                                     {"ls", path},
                                                     {"verify", path},
                                                     {"repack", path, at("out.dat")},
                                                     {"extract", path, at("new")}}) {
            const Outcome run = tool(args);
            EXPECT_EQ(run.status, 1) << args[0] << " " << path;
            EXPECT_EQ(run.err, "error: " + path + " is not a regular file\n") << args[0];
        }
    }
    const Outcome put =
        tool({"repack", big_path().string(), at("out.dat"), "--put", "1=" + at("fifo")});
    EXPECT_EQ(put.err, "error: cannot read " + at("fifo") + ": not a regular file\n");
    EXPECT_EQ(names_in(dir_.path()), (std::vector<std::string>{"fifo", "tree"}));
}

// A member is stored from the tree as it is: never through a link, never a directory, never
// one that a size word cannot hold (a sparse 5 GiB file, refused by its size alone), and OUT is
// never one of the files read.
TEST_F(ProcessSafetyE2eTest, PackTakesTheTreeAsItIs) {
    ASSERT_EQ(tool({"extract", small_path().string(), at("t")}).status, 0);
    const std::string member = at("t/06/06000001.bin");
    const auto replace_member = [&](const std::function<void()>& make) {
        fs::remove_all(member);
        make();
    };
    struct Case {
        std::function<void()> make;
        std::string out;
        std::string err;
    };
    const std::vector<Case> cases = {
        {[&] { fs::create_symlink("/etc/passwd", member); }, at("o.dat"),
         "cannot read " + member + ": a symbolic link"},
        {[&] { fs::create_directory(member); }, at("o.dat"),
         "cannot read " + member + ": not a regular file"},
        {[&] {
             testkit::write_file(member, std::vector<std::uint8_t>{1});
             fs::resize_file(member, 5ULL << 30);
         },
         at("o.dat"),
         "cannot read " + member + ": 5368709120 bytes, more than an archive file can hold"},
        {[&] { testkit::write_file(member, std::vector<std::uint8_t>{1}); }, at("t/manifest.json"),
         "cannot write " + at("t/manifest.json") + ": it is " + at("t/manifest.json") +
             ", which pack reads"},
        {[&] { testkit::write_file(member, std::vector<std::uint8_t>{1}); }, member,
         "cannot write " + member + ": it is " + member + ", which pack reads"},
    };
    const auto started = std::chrono::steady_clock::now();
    for (const Case& c : cases) {
        replace_member(c.make);
        const auto manifest = bytes_of(at("t/manifest.json"));
        const Outcome run = tool({"pack", at("t"), c.out});
        EXPECT_EQ(run.status, 1) << c.err;
        EXPECT_EQ(run.err, "error: " + c.err + "\n");
        EXPECT_EQ(bytes_of(at("t/manifest.json")), manifest);
        EXPECT_EQ(names_in(dir_.path()), std::vector<std::string>{"t"}) << c.err;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    std::vector<std::uint8_t> text = bytes_of(at("t/manifest.json"));
    std::string manifest(text.begin(), text.end());
    manifest.replace(manifest.find("\"block_size\": 1024"), 18, "\"block_size\": 0");
    testkit::write_file(
        at("t/manifest.json"),
        std::span(reinterpret_cast<const std::uint8_t*>(manifest.data()), manifest.size()));
    EXPECT_EQ(tool({"pack", at("t"), at("o.dat")}).err,
              "error: " + at("t/manifest.json") +
                  ": block_size 0 is not supported: it must be above 4 and at most 1048576\n");
}

// Files of 160 MiB under an address-space limit of 128 MiB: plain ones are streamed and stored,
// compressed ones fail with one line; never a signal, never a temporary left.
TEST_F(ProcessSafetyE2eTest, MemoryLimitsEndInOneErrorLineOrSuccess) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the tool, built with AddressSanitizer, cannot map its shadow memory under "
                    "an address-space limit";
#endif
    ASSERT_EQ(tool({"extract", small_path().string(), at("t")}).status, 0);
    const std::string member = at("t/06/06000001.bin");
    fs::resize_file(member, 160U << 20);
    const std::string put = "0x07000001=" + member;
    const std::pair<int, rlim_t> limit{RLIMIT_AS, 128U << 20};
    const auto expect_outcome = [&](const std::vector<std::string>& args, int status) {
        const Outcome run = tool(args, limit);
        EXPECT_EQ(run.status, status) << args[0] << ": " << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), status) << run.err;
    };
    expect_outcome({"repack", big_path().string(), at("p.dat"), "--put", put}, 0);
    expect_outcome({"repack", big_path().string(), at("c.dat"), "--put", put, "--compress"}, 1);
    expect_outcome({"pack", at("t"), at("q.dat")}, 0);
    const auto text = bytes_of(at("t/manifest.json"));
    std::string manifest(text.begin(), text.end());
    const std::string plain_entry = "\"0x06000001\", \"bit_flags\": 0";
    manifest.replace(manifest.find(plain_entry), plain_entry.size(),
                     "\"0x06000001\", \"bit_flags\": 1");
    testkit::write_file(
        at("t/manifest.json"),
        std::span(reinterpret_cast<const std::uint8_t*>(manifest.data()), manifest.size()));
    expect_outcome({"pack", at("t"), at("d.dat")}, 1);
    EXPECT_EQ(names_in(dir_.path()), (std::vector<std::string>{"p.dat", "q.dat", "t"}));
}

TEST_F(ProcessSafetyE2eTest, ExtractIntoAnEmptyDirectoryKeepsTheDirectory) {
    const fs::path target = dir_.path() / "private";
    fs::create_directory(target);
    fs::permissions(target, fs::perms::owner_all);
    struct stat before {};
    ::stat(target.c_str(), &before);
    // The sample archive's broken chain ends the run after files were written: none stays.
    sample::sample_archive().write_to(at("damaged.dat"));
    const Outcome failed = tool({"extract", at("damaged.dat"), target.string()});
    EXPECT_EQ(failed.status, 1) << failed.err;
    EXPECT_EQ(names_in(target), std::vector<std::string>{});
    EXPECT_EQ(tool({"extract", small_path().string(), target.string() + "/."}).status, 0);
    struct stat after {};
    ::stat(target.c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(names_in(target), (std::vector<std::string>{"06", "manifest.json"}));
}

} // namespace
} // namespace quillmere::dat_tool
