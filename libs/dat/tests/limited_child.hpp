// Running a check in a forked child whose CPU time and memory are limited, with a failure that
// says which limit it hit: a hostile archive that makes a read allocate or loop out of proportion
// fails quickly and plainly instead of exhausting the machine or hanging the suite.
#pragma once

#include "quillmere/testkit/process.hpp"

#include <csignal>
#include <cstdint>
#include <functional>
#include <gtest/gtest.h>

namespace quillmere::dat {

/// Success when `check` returned true in a child allowed `cpu_seconds` of CPU time and
/// `budget_bytes` of memory beyond what this process holds; otherwise the failure names what
/// went wrong in the child.
inline testing::AssertionResult within_limits(std::uint64_t budget_bytes, unsigned cpu_seconds,
                                              const std::function<bool()>& check) {
    const int code = testkit::run_with_memory_budget(budget_bytes, cpu_seconds, check);
    switch (code) {
    case 0:
        return testing::AssertionSuccess();
    case 1:
        return testing::AssertionFailure() << "the check failed in the child";
    case 2:
        return testing::AssertionFailure()
               << "an allocation failed: more than " << (budget_bytes >> 20) << " MiB were needed";
    case 128 + SIGXCPU:
    case 128 + SIGKILL:
        return testing::AssertionFailure()
               << "the child did not end within " << cpu_seconds
               << " s of CPU time: a walk or read that should end keeps going";
    default:
        return testing::AssertionFailure() << "the child ended with status " << code;
    }
}

} // namespace quillmere::dat
