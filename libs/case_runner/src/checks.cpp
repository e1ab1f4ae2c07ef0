// Failed checks: the failure they raise and the text of an equality failure.
#include "quillmere/case_runner/checks.hpp"

namespace quillmere::case_runner {

void fail(std::string message, std::source_location location) {
    throw CaseFailure(std::move(message), location);
}

void require(bool condition, std::string_view message, std::source_location location) {
    if (!condition) {
        fail(std::string(message), location);
    }
}

namespace detail {

std::string equality_message(std::string_view message, std::string_view left,
                             std::string_view right) {
    std::string text = "assertion `left == right` failed";
    if (!message.empty()) {
        text += ": ";
        text += message;
    }
    text += "\n  left: ";
    text += left;
    text += "\n right: ";
    text += right;
    return text;
}

} // namespace detail

} // namespace quillmere::case_runner
