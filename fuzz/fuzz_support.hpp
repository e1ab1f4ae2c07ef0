// What every fuzz target shares: the always-on check macro and error exercising. A target is
// built two ways, linked with libFuzzer (clang, `fuzz` preset) or with replay_main.cpp (any
// compiler, run by CTest over a corpus), so nothing here depends on either.
#pragma once

#include "quillmere/common/decode_error.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace quillmere::fuzz {

/// Prints where and what failed, then aborts so that libFuzzer (or the replay driver) records
/// the input. Unlike `assert`, it stays on in every build type.
[[noreturn]] inline void check_failed(const char* condition, const char* file, int line,
                                      const std::string& detail) {
    std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, condition);
    if (!detail.empty()) {
        std::fprintf(stderr, "  %s\n", detail.c_str());
    }
    std::fflush(stderr);
    std::abort();
}

/// A span of the fuzzer's bytes, which may be a null pointer with size 0.
[[nodiscard]] inline std::span<const std::uint8_t> input_bytes(const std::uint8_t* data,
                                                               std::size_t size) noexcept {
    return size == 0 ? std::span<const std::uint8_t>() : std::span<const std::uint8_t>(data, size);
}

} // namespace quillmere::fuzz

/// Aborts with the condition's text when `condition` is false, in every build type.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            ::quillmere::fuzz::check_failed(#condition, __FILE__, __LINE__, {});                   \
        }                                                                                          \
    } while (false)

/// As FUZZ_CHECK, with a detail text (built only when the check fails).
#define FUZZ_CHECK_MSG(condition, detail)                                                          \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            ::quillmere::fuzz::check_failed(#condition, __FILE__, __LINE__, (detail));             \
        }                                                                                          \
    } while (false)

namespace quillmere::fuzz {

/// Writes `bytes` to one anonymous in-memory file kept for the whole run (rewritten for every
/// input) and returns a path that opens it, "/proc/self/fd/N".
inline std::string as_memory_file(std::span<const std::uint8_t> bytes) {
    static const int fd = [] {
        const int created = ::memfd_create("quillmere-fuzz-archive", MFD_CLOEXEC);
        FUZZ_CHECK_MSG(created >= 0, "memfd_create failed: errno " + std::to_string(errno));
        return created;
    }();
    FUZZ_CHECK(::ftruncate(fd, 0) == 0);
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.data() + written, bytes.size() - written,
                                   static_cast<off_t>(written));
        FUZZ_CHECK(n > 0 || (n < 0 && errno == EINTR));
        if (n > 0) {
            written += static_cast<std::size_t>(n);
        }
    }
    return "/proc/self/fd/" + std::to_string(fd);
}

/// Renders both text forms of an error, so formatting code runs on hostile values too, and
/// requires neither to be empty.
inline void exercise_error(const common::DecodeError& error) {
    const std::string message = error.message();
    const std::string diagnostic = error.diagnostic();
    FUZZ_CHECK(!message.empty());
    FUZZ_CHECK(!diagnostic.empty());
}

} // namespace quillmere::fuzz
