// The single error type of every record reader, hook reader and file-type decoder.
#pragma once

#include "quillmere/common/export.hpp"
#include "quillmere/common/io_error.hpp"

#include <cstdint>
#include <expected>
#include <source_location>
#include <string>
#include <variant>
#include <vector>

namespace quillmere::common {

/// A decoder's complaint about a value it read: the message and the input offset just after it.
struct CustomError {
    std::uint64_t pos = 0;
    std::string message;

    friend bool operator==(const CustomError&, const CustomError&) = default;
};

/// One field-context entry, such as "While parsing field 'x' in Vector3", with the location
/// of the reading code.
struct ErrorContext {
    std::string message;
    std::source_location location;
};

/// A decoding failure of one of three kinds:
/// - `Io`: a short read or another I/O failure;
/// - `Custom`: a decoder rejected a value (`pos` and message);
/// - `Backtrace`: an `Io` or `Custom` error wrapped in field contexts, innermost first.
class QUILLMERE_COMMON_EXPORT DecodeError {
  public:
    enum class Kind : std::uint8_t { Io, Custom, Backtrace };

    /// An `Io` error, so `QM_TRY` passes I/O failures on without ceremony.
    DecodeError(IoError error) : inner_(std::move(error)) {} // NOLINT: implicit by design
    /// A `Custom` error.
    DecodeError(CustomError error) : inner_(std::move(error)) {} // NOLINT: implicit by design

    /// A `Custom` error: `message` about the value that ends at input offset `pos`.
    [[nodiscard]] static DecodeError custom(std::uint64_t pos, std::string message) {
        return DecodeError(CustomError{pos, std::move(message)});
    }

    /// `Backtrace` once a context has been added, else the kind of the inner error.
    [[nodiscard]] Kind kind() const noexcept;

    /// The innermost error, never a backtrace.
    [[nodiscard]] const std::variant<IoError, CustomError>& inner() const noexcept {
        return inner_;
    }
    /// The I/O error at the core, or null for a `Custom` core.
    [[nodiscard]] const IoError* io_error() const noexcept { return std::get_if<IoError>(&inner_); }
    /// The custom error at the core, or null for an `Io` core.
    [[nodiscard]] const CustomError* custom_error() const noexcept {
        return std::get_if<CustomError>(&inner_);
    }
    /// Field contexts, innermost first; empty unless the kind is `Backtrace`.
    [[nodiscard]] const std::vector<ErrorContext>& contexts() const noexcept { return contexts_; }

    /// Appends a context entry as the new outermost one; turns `Io` or `Custom` into `Backtrace`.
    void add_context(std::string message, std::source_location location);

    /// The text form: the I/O message; "{message} at 0x{pos in lower-case hex}"; or for a
    /// backtrace the inner text followed by one line per context entry with its location.
    [[nodiscard]] std::string message() const;
    /// The text form on one line: the inner error's text, then each context message, innermost
    /// first, after "; " (no source locations), as in "failed to fill whole buffer; While
    /// parsing field 'y' in Quaternion; While parsing field 'orientation' in Frame".
    [[nodiscard]] std::string one_line() const;
    /// Debug rendering: `Io(Error { ... })`, `Custom { pos: 8, message: "..." }` or
    /// `Backtrace { error: ..., contexts: ["...", ...] }`.
    [[nodiscard]] std::string diagnostic() const;

  private:
    std::variant<IoError, CustomError> inner_;
    std::vector<ErrorContext> contexts_;
};

template <class T>
using DecodeResult = std::expected<T, DecodeError>;

} // namespace quillmere::common
