// Running a piece of a case outside the runner and seeing how it failed.
#pragma once

#include "quillmere/case_runner/checks.hpp"

#include <string>

namespace quillmere::parity {

/// Runs `body` and returns the message of the check it failed, or "" when it passed.
template <class Body>
std::string failure_of(Body&& body) {
    try {
        body();
    } catch (const case_runner::CaseFailure& failure) {
        return failure.message();
    }
    return "";
}

} // namespace quillmere::parity
