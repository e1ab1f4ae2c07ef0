// The archive layer's error value: twelve kinds, each with a fixed message and a diagnostic form.
#pragma once

#include "quillmere/common/decode_error.hpp"
#include "quillmere/common/io_error.hpp"
#include "quillmere/dat/export.hpp"

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>

namespace quillmere::dat {

/// One failure of an archive operation (opening, loading the directory, reading a block chain,
/// looking a file up). A plain value: it owns its fields and is moved to the caller.
///
/// Kinds, their fields and message forms ({:08X}: eight upper-case hex digits, no prefix):
/// - `Io` (IoError): "IO error: {}"
/// - `BinRead` (DecodeError): "Binary read error: {}"
/// - `NotFound` (file id): "File ID {:08X} not found in provider"
/// - `DuplicateId` (file id): "Duplicate File ID {:08X} detected"
/// - `DuplicateNamespacedId` (namespace, file id): "Duplicate namespaced file {}:{:08X} detected"
/// - `InvalidMagic` (text): "Invalid magic for format: {}"
/// - `UnsupportedVersion` (version): "Unsupported version: {}" (decimal)
/// - `InvalidNamespace` (text): "Invalid namespace: {}"
/// - `Corruption` (text): "Corruption detected: {}"
/// - `DecompressionFailed` (file id): "Failed to recover compressed file {:08X}"
/// - `PathError` (path, IoError): "Failed to open file at {}: {}"
/// - `Other` (text): "Other error: {}"
///
/// Converts implicitly from `common::IoError` (to `Io`) and `common::DecodeError` (to `BinRead`)
/// and from nothing else; every other kind is made by its named constructor.
class QUILLMERE_DAT_EXPORT DatError {
  public:
    enum class Kind : std::uint8_t {
        Io,
        BinRead,
        NotFound,
        DuplicateId,
        DuplicateNamespacedId,
        InvalidMagic,
        UnsupportedVersion,
        InvalidNamespace,
        Corruption,
        DecompressionFailed,
        PathError,
        Other,
    };

    /// The fields of `DuplicateNamespacedId`.
    struct NamespacedId {
        std::string name_space;
        std::uint32_t file_id = 0;
    };

    /// The fields of `PathError`: the path exactly as given to the opener, and the open's error.
    struct PathFailure {
        std::filesystem::path path;
        common::IoError source;
    };

    /// `Io` carrying `error`.
    DatError(common::IoError error); // NOLINT(google-explicit-constructor): implicit by design
    /// `BinRead` carrying `error` unchanged, field contexts included.
    DatError(common::DecodeError error); // NOLINT(google-explicit-constructor): implicit by design

    /// Named constructors, one per remaining kind, taking that kind's fields (see above). Only
    /// `NotFound` (from `get_file`), `Corruption` (damaged chains and directories) and
    /// `PathError` (from `open`) are raised by the library itself.
    [[nodiscard]] static DatError not_found(std::uint32_t file_id);
    [[nodiscard]] static DatError duplicate_id(std::uint32_t file_id);
    [[nodiscard]] static DatError duplicate_namespaced_id(std::string name_space,
                                                          std::uint32_t file_id);
    [[nodiscard]] static DatError invalid_magic(std::string format);
    [[nodiscard]] static DatError unsupported_version(std::uint32_t version);
    [[nodiscard]] static DatError invalid_namespace(std::string name_space);
    [[nodiscard]] static DatError corruption(std::string what);
    [[nodiscard]] static DatError decompression_failed(std::uint32_t file_id);
    [[nodiscard]] static DatError path_error(std::filesystem::path path, common::IoError source);
    [[nodiscard]] static DatError other(std::string what);

    /// Which of the twelve kinds this is.
    [[nodiscard]] Kind kind() const noexcept { return kind_; }

    /// The I/O error of `Io`, else null (a `PathError`'s error is in `path_failure()`).
    [[nodiscard]] const common::IoError* io_error() const noexcept;
    /// The decoding error of `BinRead`, else null.
    [[nodiscard]] const common::DecodeError* decode_error() const noexcept;
    /// The file id of `NotFound`, `DuplicateId`, `DuplicateNamespacedId` and
    /// `DecompressionFailed`, else nothing.
    [[nodiscard]] std::optional<std::uint32_t> file_id() const noexcept;
    /// The number of `UnsupportedVersion`, else nothing.
    [[nodiscard]] std::optional<std::uint32_t> version() const noexcept;
    /// The text of `InvalidMagic`, `InvalidNamespace`, `Corruption` and `Other`, else null.
    [[nodiscard]] const std::string* text() const noexcept;
    /// The fields of `DuplicateNamespacedId`, else null.
    [[nodiscard]] const NamespacedId* namespaced_id() const noexcept;
    /// The fields of `PathError`, else null.
    [[nodiscard]] const PathFailure* path_failure() const noexcept;

    /// The display text from the kind's template; a wrapped error is inserted as its own
    /// `message()` renders it (a backtrace of a `DecodeError` spans several lines).
    [[nodiscard]] std::string message() const;
    /// The kind's name and its fields: `NotFound(3221227483)`, `Corruption("...")`,
    /// `Io(<IoError diagnostic>)`, `BinRead(<DecodeError diagnostic>)`,
    /// `DuplicateNamespacedId { namespace: "...", file_id: 123 }`,
    /// `PathError { path: "...", source: <IoError diagnostic> }`. Numbers are decimal.
    [[nodiscard]] std::string diagnostic() const;

  private:
    using Payload = std::variant<common::IoError, common::DecodeError, std::uint32_t, std::string,
                                 NamespacedId, PathFailure>;

    DatError(Kind kind, Payload payload) : kind_(kind), payload_(std::move(payload)) {}

    Kind kind_;
    Payload payload_;
};

/// The name of a kind as the diagnostic form writes it (`NotFound`).
[[nodiscard]] QUILLMERE_DAT_EXPORT std::string_view kind_name(DatError::Kind kind) noexcept;

template <class T>
using DatResult = std::expected<T, DatError>;

} // namespace quillmere::dat
