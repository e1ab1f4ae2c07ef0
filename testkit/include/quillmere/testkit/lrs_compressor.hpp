// A compressor for the archive's compressed-file format, for building test and benchmark
// archives. Written apart from the library's decompressor, so a bug they shared would not cancel.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace quillmere::testkit {

struct LrsCompressOptions {
    /// How many earlier positions with the same two leading bytes are tried per position;
    /// higher finds longer matches, slower.
    unsigned max_chain = 32;
    /// Appends an end marker (a back-reference of distance 0) after the last token.
    bool end_marker = false;
};

/// Compresses `input`: a u32 little-endian length, then groups of a control byte (most
/// significant bit first; 1 = back-reference) and up to eight tokens. Matches are found with
/// hash chains keyed on two bytes over the last 4095 bytes, lengths 2 to 17, and may overlap
/// the bytes they produce (distance below length). The result always decompresses to `input`.
[[nodiscard]] std::vector<std::uint8_t> lrs_compress(std::span<const std::uint8_t> input,
                                                     const LrsCompressOptions& options = {});

} // namespace quillmere::testkit
