// The I/O error shared by the byte cursor, the decoders and the archive layer.
#pragma once

#include "quillmere/common/export.hpp"

#include <cstdint>
#include <string>

namespace quillmere::common {

/// An I/O failure: a kind plus the platform's message.
///
/// Short reads are `UnexpectedEof` with the message "failed to fill whole buffer"; failures of
/// system calls keep their errno and the platform's text for it.
class QUILLMERE_COMMON_EXPORT IoError {
  public:
    enum class Kind : std::uint8_t {
        NotFound,
        PermissionDenied,
        IsADirectory,
        NotADirectory,
        InvalidInput,
        Interrupted,
        OutOfMemory,
        UnexpectedEof,
        Other,
    };

    /// The end-of-input error of every short read.
    [[nodiscard]] static IoError unexpected_eof();
    /// An error from a failed system call, with its errno.
    [[nodiscard]] static IoError from_errno(int code);
    /// An error of a given kind with a message of the caller's, and no errno.
    [[nodiscard]] static IoError other(Kind kind, std::string message);

    /// What went wrong, in the platform-independent classification above.
    [[nodiscard]] Kind kind() const noexcept { return kind_; }
    /// The errno the error came from, or 0.
    [[nodiscard]] int os_code() const noexcept { return os_code_; }
    /// The display text, such as "failed to fill whole buffer" or "No such file or directory".
    [[nodiscard]] const std::string& message() const noexcept { return message_; }
    /// Debug rendering: `Os { code: 2, kind: NotFound, message: "..." }` for system errors,
    /// `Error { kind: UnexpectedEof, message: "..." }` otherwise.
    [[nodiscard]] std::string diagnostic() const;

    friend bool operator==(const IoError&, const IoError&) = default;

  private:
    IoError(Kind kind, int os_code, std::string message)
        : kind_(kind), os_code_(os_code), message_(std::move(message)) {}

    Kind kind_;
    int os_code_;
    std::string message_;
};

/// The name of a kind as the diagnostic form writes it (`UnexpectedEof`).
[[nodiscard]] QUILLMERE_COMMON_EXPORT std::string_view kind_name(IoError::Kind kind) noexcept;

} // namespace quillmere::common
