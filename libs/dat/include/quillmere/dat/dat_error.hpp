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

/// Why an `ArchiveWriter` refused a call: the errors of kind `Other` it raises carry one
/// (`DatError::write_refusal`), so a caller can tell them apart without reading their text.
enum class WriteRefusal : std::uint8_t {
    /// `create`: a block size of 4 or less, or above 1048576.
    BlockSize,
    /// `create`: a version string longer than 16 bytes.
    VersionString,
    /// `add_file`: `Storage::Plain` with bit 0 of the flags set.
    FlagsContradictStorage,
    /// `add_file`: contents of 4 GiB or more to compress.
    ContentsTooLong,
    /// `add_stored`: stored bytes of another length than the entry's `size`.
    StoredSizeMismatch,
    /// A file or the directory would end the archive past the reach of 32-bit offsets.
    ArchiveTooLarge,
    /// A call after `finish` succeeded.
    Finished,
    /// A call after a write failed.
    StoppedAtError,
    /// `copy_archive`: a file both put and deleted.
    EditConflict,
};

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

    /// Where a read of the archive failed: the block being read, and the file or directory node
    /// whose chain it belonged to when the reader knew it.
    struct ReadPlace {
        /// Offset of the block whose link word or payload could not be read.
        std::uint64_t block_offset = 0;
        /// The file whose chain was read (`get_file`, `read_stored`).
        std::optional<std::uint32_t> file_id;
        /// Offset of the directory node whose chain was read (`open`).
        std::optional<std::uint32_t> node_offset;

        friend bool operator==(const ReadPlace&, const ReadPlace&) = default;
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
    /// `Other` with `what` as its text, raised by the archive writer for `reason`.
    [[nodiscard]] static DatError refused(WriteRefusal reason, std::string what);

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

    /// Where the archive read that failed was: set on the `Io` errors of chain reads (file
    /// contents, stored bytes, directory nodes), else nothing.
    [[nodiscard]] const std::optional<ReadPlace>& read_place() const noexcept {
        return read_place_;
    }
    /// Records where a read failed. A place already recorded keeps its block and gains the file
    /// id or node offset it lacked, so each layer adds what it knows.
    void add_read_place(const ReadPlace& place);
    /// The writer's reason for an `Other` error it raised, else nothing.
    [[nodiscard]] std::optional<WriteRefusal> write_refusal() const noexcept { return refusal_; }

    /// The error on one line, for a caller to print: `message()` with a decoding error in its
    /// one-line form (no source locations, contexts after "; ") and line breaks turned into
    /// spaces; then, for a failed read whose place is known, where it was: " (file 06000001,
    /// block at offset 5120)" or " (directory node at offset 1024, block at offset 2048)".
    [[nodiscard]] std::string one_line() const;
    /// `one_line` without the place: the message alone, on one line.
    [[nodiscard]] std::string message_line() const;

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
    std::optional<ReadPlace> read_place_;
    std::optional<WriteRefusal> refusal_;
};

/// The name of a kind as the diagnostic form writes it (`NotFound`).
[[nodiscard]] QUILLMERE_DAT_EXPORT std::string_view kind_name(DatError::Kind kind) noexcept;

template <class T>
using DatResult = std::expected<T, DatError>;

} // namespace quillmere::dat
