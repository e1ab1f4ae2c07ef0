// Running a built program from a test and collecting what it printed, and running a check in a
// child process under a memory and CPU budget.
#include "quillmere/testkit/process.hpp"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <new>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quillmere::testkit {
namespace {

std::vector<char*> c_strings(const std::vector<std::string>& strings) {
    std::vector<char*> out;
    out.reserve(strings.size() + 1);
    for (const auto& s : strings) {
        out.push_back(const_cast<char*>(s.c_str()));
    }
    out.push_back(nullptr);
    return out;
}

// Reads a "Vm...: N kB" line of /proc/self/status, in bytes (0 when it cannot be read).
std::uint64_t status_bytes(const std::string& key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key + ":", 0) == 0) {
            return std::strtoull(line.c_str() + key.size() + 1, nullptr, 10) * 1024;
        }
    }
    return 0;
}

} // namespace

ProcessOutput run_process(const std::filesystem::path& program,
                          const std::vector<std::string>& argv, const std::vector<std::string>& env,
                          int timeout_ms) {
    int out_pipe[2];
    int err_pipe[2];
    if (::pipe2(out_pipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    if (::pipe2(err_pipe, O_CLOEXEC) != 0) {
        ::close(out_pipe[0]);
        ::close(out_pipe[1]);
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
    auto c_argv = c_strings(argv);
    auto c_env = c_strings(env);
    pid_t pid = 0;
    const int spawned =
        ::posix_spawn(&pid, program.c_str(), &actions, nullptr, c_argv.data(), c_env.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    if (spawned != 0) {
        ::close(out_pipe[0]);
        ::close(err_pipe[0]);
        throw std::runtime_error("cannot start " + program.string());
    }

    ProcessOutput result;
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_count = 2;
    bool timed_out = false;
    while (open_count > 0 && !timed_out) {
        const int ready = ::poll(fds, 2, timeout_ms);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            timed_out = true;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char buffer[65536];
            const auto count = ::read(fds[i].fd, buffer, sizeof buffer);
            if (count > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(count));
            } else if (count == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    for (auto& fd : fds) {
        if (fd.fd >= 0) {
            ::close(fd.fd);
        }
    }
    if (timed_out) {
        ::kill(pid, SIGKILL);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (timed_out) {
        throw std::runtime_error(program.string() + " printed nothing for " +
                                 std::to_string(timeout_ms) + " ms");
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

int run_with_memory_budget(std::uint64_t budget_bytes, unsigned cpu_seconds,
                           const std::function<bool()>& check) {
    const std::uint64_t data_now = status_bytes("VmData");
    const pid_t child = fork();
    if (child < 0) {
        return -1;
    }
    if (child == 0) {
        rlimit data{};
        rlimit cpu{};
        if (getrlimit(RLIMIT_DATA, &data) == 0 && data_now != 0) {
            const rlim_t wanted = data_now + budget_bytes;
            data.rlim_cur =
                data.rlim_max == RLIM_INFINITY || wanted < data.rlim_max ? wanted : data.rlim_max;
            setrlimit(RLIMIT_DATA, &data);
        }
        if (getrlimit(RLIMIT_CPU, &cpu) == 0) {
            cpu.rlim_cur = cpu_seconds;
            setrlimit(RLIMIT_CPU, &cpu);
        }
        int code = 1;
        try {
            code = check() ? 0 : 1;
        } catch (const std::bad_alloc&) {
            code = 2;
        }
        _exit(code);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

} // namespace quillmere::testkit
