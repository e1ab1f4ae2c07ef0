// The I/O error shared by the byte cursor, the decoders and the archive layer.
#include "quillmere/common/io_error.hpp"

#include "quillmere/common/text.hpp"

#include <cerrno>
#include <cstring>

namespace quillmere::common {
namespace {

IoError::Kind kind_of_errno(int code) {
    switch (code) {
    case ENOENT:
        return IoError::Kind::NotFound;
    case EACCES:
    case EPERM:
        return IoError::Kind::PermissionDenied;
    case EISDIR:
        return IoError::Kind::IsADirectory;
    case ENOTDIR:
        return IoError::Kind::NotADirectory;
    case EINVAL:
        return IoError::Kind::InvalidInput;
    case EINTR:
        return IoError::Kind::Interrupted;
    case ENOMEM:
        return IoError::Kind::OutOfMemory;
    default:
        return IoError::Kind::Other;
    }
}

std::string errno_text(int code) {
    char buffer[256] = {};
    // GNU strerror_r may return a static string instead of filling the buffer.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return text;
}

} // namespace

IoError IoError::unexpected_eof() {
    return IoError(Kind::UnexpectedEof, 0, "failed to fill whole buffer");
}

IoError IoError::from_errno(int code) {
    return IoError(kind_of_errno(code), code, errno_text(code));
}

IoError IoError::other(Kind kind, std::string message) {
    return IoError(kind, 0, std::move(message));
}

std::string_view kind_name(IoError::Kind kind) noexcept {
    switch (kind) {
    case IoError::Kind::NotFound:
        return "NotFound";
    case IoError::Kind::PermissionDenied:
        return "PermissionDenied";
    case IoError::Kind::IsADirectory:
        return "IsADirectory";
    case IoError::Kind::NotADirectory:
        return "NotADirectory";
    case IoError::Kind::InvalidInput:
        return "InvalidInput";
    case IoError::Kind::Interrupted:
        return "Interrupted";
    case IoError::Kind::OutOfMemory:
        return "OutOfMemory";
    case IoError::Kind::UnexpectedEof:
        return "UnexpectedEof";
    case IoError::Kind::Other:
        return "Other";
    }
    return "Other";
}

std::string IoError::diagnostic() const {
    if (os_code_ != 0) {
        return "Os { code: " + std::to_string(os_code_) +
               ", kind: " + std::string(kind_name(kind_)) +
               ", message: " + common::quoted(message_) + " }";
    }
    return "Error { kind: " + std::string(kind_name(kind_)) +
           ", message: " + common::quoted(message_) + " }";
}

} // namespace quillmere::common
