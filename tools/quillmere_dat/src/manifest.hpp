// The manifest of an extracted archive, manifest.json: the header's fields and every file's
// directory fields, written by extract and read back by pack.
#pragma once

#include "command.hpp"
#include "quillmere/dat/dat_header.hpp"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillmere::dat_tool {

/// The manifest format written. Format 1 had no "preamble" member; it is still read, with the
/// bytes before the header taken as zeros.
inline constexpr std::uint32_t kManifestFormat = 2;
inline constexpr std::uint32_t kOldestManifestFormat = 1;

/// One file's directory fields; its contents lie beside the manifest (see `content_path`).
struct ManifestFile {
    std::uint32_t id = 0;
    std::uint32_t bit_flags = 0;
    std::uint32_t timestamp = 0;
    std::uint32_t version = 0;

    friend bool operator==(const ManifestFile&, const ManifestFile&) = default;
};

/// What a manifest holds. The header's `file_size`, `root_offset`, `free_head`, `free_tail`
/// and `free_count` describe one archive's layout, not its contents: a manifest leaves them out
/// and they read back as 0.
struct Manifest {
    dat::DatHeader header;
    std::vector<ManifestFile> files;
    /// The archive's bytes before the header.
    std::array<std::uint8_t, dat::kPreambleSize> preamble{};
};

/// The manifest as a JSON document:
///
///     {
///       "format": 2,
///       "preamble": "<640 hex>",
///       "header": {"magic": 19537, "block_size": 1024, ..., "version_string": "<32 hex>", ...},
///       "files": [
///         {"id": "0x03000001", "bit_flags": 0, "timestamp": 0, "version": 0},
///         ...
///       ]
///     }
///
/// The header's members, one per line, are the `DatHeader` fields it keeps, in file order,
/// numbers as numbers and `version_string` as 32 upper-case hex digits (cut or padded with zero
/// bytes to 16 bytes). The preamble is the 320 bytes before the header as 640 upper-case hex
/// digits. Files come one per line, in the order given.
[[nodiscard]] std::string render_manifest(const Manifest& manifest);

/// Reads a manifest, as strictly as it is written: members in any order, but each of them
/// present once and no other; "format" 2, or 1 without "preamble"; ids as "0x" and eight hex
/// digits, each listed once; numbers from 0 to 4294967295. Files are kept in document order. Errors
/// read "{problem} at byte {offset}", the offset of the offending value in `text`.
[[nodiscard]] Gathered<Manifest> read_manifest(std::string_view text);

/// Where a file's contents lie under the extracted directory: the id's top byte, a slash, the
/// id, ".bin", in upper-case hex ("03/03000001.bin").
[[nodiscard]] std::string content_path(std::uint32_t id);

} // namespace quillmere::dat_tool
