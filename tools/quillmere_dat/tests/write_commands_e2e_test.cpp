// The built quillmere-dat changing archives as a user runs it: on the demo archive (a clean
// result, every file kept, the checker's report unchanged), stopped half-way by a signal, and
// past a file-size limit.
#include "demo_archive.hpp"
#include "quillmere/common/random.hpp"
#include "quillmere/testkit/archive_builder.hpp"
#include "quillmere/testkit/process.hpp"
#include "quillmere/testkit/temp_file.hpp"
#include "write_checks.hpp"

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <optional>
#include <regex>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace quillmere::dat_tool {
namespace {

namespace fs = std::filesystem;
using testing::bytes_of;
using testing::expect_clean;
using testing::expect_same_files;
using testing::names_in;

testkit::ProcessOutput tool(std::vector<std::string> args) {
    args.insert(args.begin(), "quillmere-dat");
    return testkit::run_process(QUILLMERE_DAT_TOOL_PATH, args, {});
}

// The checker's report on an archive, one case after the other so the lines come in one order,
// with the run's duration taken out.
std::string checker_report(const fs::path& archive) {
    const auto run = testkit::run_process(
        QUILLMERE_CHECKER_PATH, {"animation_hook_parity", "--no-capture", "--test-threads", "1"},
        {"QUILLMERE_PORTAL_DAT=" + archive.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    return run.err + std::regex_replace(run.out, std::regex("finished in [0-9.]+s"), "");
}

// The tool started with standard error to `err_path`, past a file-size limit if one is given,
// with the default action for every signal the test sends.
pid_t start_tool(const std::vector<std::string>& args, const fs::path& err_path,
                 std::optional<rlim_t> file_size_limit = std::nullopt) {
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
        if (file_size_limit) {
            const rlimit limit{*file_size_limit, *file_size_limit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        // The tool must ignore SIGXFSZ itself; it finds the default here.
        ::signal(SIGXFSZ, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execv(QUILLMERE_DAT_TOOL_PATH, c_argv.data());
        ::_exit(127);
    }
    return pid;
}

// The exit status, or 128 + the signal that ended the process.
int wait_for(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Waits until the running tool has written into its temporary file or directory (a name in
// `dir` starting with `prefix`), then stops it there. False when the tool ended first.
bool stop_half_way(pid_t pid, const fs::path& dir, const std::string& prefix) {
    while (true) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(dir, ec)) {
            const bool started =
                entry.is_directory(ec) ? !fs::is_empty(entry.path(), ec) : entry.file_size(ec) > 0;
            if (entry.path().filename().string().starts_with(prefix) && started && !ec) {
                ::kill(pid, SIGSTOP);
                int status = 0;
                ::waitpid(pid, &status, WUNTRACED);
                return WIFSTOPPED(status);
            }
        }
        if (::waitpid(pid, nullptr, WNOHANG) == pid) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
}

std::vector<std::string> temporaries(const fs::path& dir) {
    std::vector<std::string> found;
    for (const auto& name : names_in(dir)) {
        if (name.find(".tmp-") != std::string::npos) {
            found.push_back(name);
        }
    }
    return found;
}

class WriteCommandsE2eTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { data_ = std::make_unique<testkit::TempDir>("write-e2e"); }
    static void TearDownTestSuite() { data_.reset(); }

    // The demo archive of 1500 files, made on first use.
    static fs::path demo_path() {
        const fs::path path = data_->path() / "demo.dat";
        if (!fs::exists(path)) {
            demo::DemoOptions options;
            options.seed = 3;
            options.files = 1500;
            demo::write_demo_archive(path, options);
        }
        return path;
    }

    // 64 MiB that do not compress, in 1024 files: big enough that writing it takes a while.
    static fs::path big_path() {
        const fs::path path = data_->path() / "big.dat";
        if (!fs::exists(path)) {
            testkit::ArchiveBuilder big(1024);
            common::SplitMix64 random(1);
            for (std::uint32_t i = 0; i < 1024; ++i) {
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

    [[nodiscard]] std::string at(const std::string& name) const {
        return (dir_.path() / name).string();
    }

    static std::unique_ptr<testkit::TempDir> data_;
    testkit::TempDir dir_{"write-e2e-run"};
};

std::unique_ptr<testkit::TempDir> WriteCommandsE2eTest::data_;

TEST_F(WriteCommandsE2eTest, DemoArchiveKeepsEveryFileAndTheCheckersReport) {
    const auto before = bytes_of(demo_path());
    const std::string report = checker_report(demo_path());
    const auto repacked = tool({"repack", demo_path().string(), at("b.dat")});
    EXPECT_EQ(repacked.status, 0) << repacked.err;
    EXPECT_EQ(repacked.out + repacked.err, "");
    expect_clean(at("b.dat"));
    expect_same_files(demo_path(), at("b.dat"), testing::Stored::Same);
    EXPECT_EQ(checker_report(at("b.dat")), report);

    EXPECT_EQ(tool({"extract", demo_path().string(), at("tree")}).status, 0);
    const auto packed = tool({"pack", at("tree"), at("c.dat")});
    EXPECT_EQ(packed.status, 0) << packed.err;
    EXPECT_EQ(packed.out + packed.err, "");
    expect_clean(at("c.dat"));
    expect_same_files(demo_path(), at("c.dat"), testing::Stored::Recompressed);
    EXPECT_EQ(checker_report(at("c.dat")), report);
    EXPECT_EQ(bytes_of(demo_path()), before);
}

// SIGKILL leaves the temporary file (nothing can remove it) but never a damaged output;
// SIGTERM removes it.
TEST_F(WriteCommandsE2eTest, RepackStoppedHalfWayLosesNothing) {
    const auto input = bytes_of(big_path());
    const std::vector<std::uint8_t> old_output = {'o', 'l', 'd'};
    for (const int signal_number : {SIGKILL, SIGKILL, SIGTERM}) {
        const bool had_output = fs::exists(at("out.dat"));
        const pid_t pid =
            start_tool({"repack", big_path().string(), at("out.dat")}, data_->path() / "err");
        ASSERT_TRUE(stop_half_way(pid, dir_.path(), ".out.dat.tmp-")) << "finished too soon";
        ::kill(pid, signal_number);
        ::kill(pid, SIGCONT);
        EXPECT_EQ(wait_for(pid), 128 + signal_number);
        EXPECT_EQ(bytes_of(big_path()), input);
        if (had_output) {
            EXPECT_EQ(bytes_of(at("out.dat")), old_output);
        } else {
            EXPECT_FALSE(fs::exists(at("out.dat")));
        }
        const auto left = temporaries(dir_.path());
        EXPECT_EQ(left.size(), signal_number == SIGKILL ? 1U : 0U);
        for (const auto& name : left) {
            fs::remove(dir_.path() / name);
        }
        testkit::write_file(at("out.dat"), old_output);
    }
}

TEST_F(WriteCommandsE2eTest, ExtractStoppedHalfWayLeavesNoTree) {
    const pid_t pid =
        start_tool({"extract", big_path().string(), at("tree")}, data_->path() / "err");
    ASSERT_TRUE(stop_half_way(pid, dir_.path(), ".tree.tmp-")) << "finished too soon";
    ::kill(pid, SIGTERM);
    ::kill(pid, SIGCONT);
    EXPECT_EQ(wait_for(pid), 128 + SIGTERM);
    EXPECT_EQ(names_in(dir_.path()), std::vector<std::string>{});
}

TEST_F(WriteCommandsE2eTest, FileSizeLimitIsAClearErrorThatLeavesNothing) {
    // Animations alone make a tree far above the limit, and a quicker one to write.
    ASSERT_EQ(tool({"extract", demo_path().string(), at("tree"), "--type", "03"}).status, 0);
    testkit::write_file(at("old.dat"), std::vector<std::uint8_t>{'o', 'l', 'd'});
    const auto err_path = data_->path() / "err";
    struct Case {
        std::vector<std::string> args;
        std::string error_start;
    };
    const std::vector<Case> cases = {
        {{"repack", demo_path().string(), at("old.dat")}, "error: cannot write " + at("old.dat")},
        {{"pack", at("tree"), at("new.dat")}, "error: cannot write " + at("new.dat")},
        {{"extract", demo_path().string(), at("copy")}, "error: cannot write " + at("copy/")},
    };
    for (const auto& c : cases) {
        const pid_t pid = start_tool(c.args, err_path, 16 * 1024);
        EXPECT_EQ(wait_for(pid), 1) << c.args[0];
        const auto err = bytes_of(err_path);
        const std::string text(err.begin(), err.end());
        EXPECT_TRUE(text.starts_with(c.error_start)) << text;
        EXPECT_TRUE(text.ends_with(": File too large\n")) << text;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
        EXPECT_EQ(names_in(dir_.path()), (std::vector<std::string>{"old.dat", "tree"}));
        EXPECT_EQ(bytes_of(at("old.dat")), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    }
}

} // namespace
} // namespace quillmere::dat_tool
