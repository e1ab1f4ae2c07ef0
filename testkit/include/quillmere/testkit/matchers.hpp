// Helpers for checking decoding errors precisely in tests.
#pragma once

#include "quillmere/common/decode_error.hpp"

#include <string>
#include <vector>

namespace quillmere::testkit {

/// The context messages of an error, innermost first.
[[nodiscard]] inline std::vector<std::string> contexts_of(const common::DecodeError& error) {
    std::vector<std::string> out;
    for (const auto& context : error.contexts()) {
        out.push_back(context.message);
    }
    return out;
}

/// True when `error` is a short read, wrapped or not.
[[nodiscard]] inline bool is_short_read(const common::DecodeError& error) {
    const auto* io = error.io_error();
    return io != nullptr && io->kind() == common::IoError::Kind::UnexpectedEof &&
           io->message() == "failed to fill whole buffer";
}

} // namespace quillmere::testkit
