// What a writing command wrote, or would write with --dry-run: counted as it goes, shown as one
// line of text or one JSON document.
#pragma once

#include "command.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace quillmere::dat_tool {

struct WriteSummary {
    std::string command;
    /// The archive or directory written.
    std::string output;
    bool dry_run = false;
    /// Files written, their bytes as stored (for extract, as written out), and how many of them
    /// are stored compressed.
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
    std::uint64_t compressed = 0;
    /// The ids left out (--force).
    std::vector<std::uint32_t> left_out;

    void count(std::uint64_t stored_bytes, bool is_compressed) {
        ++files;
        bytes += stored_bytes;
        compressed += is_compressed ? 1U : 0U;
    }
};

/// Reports `summary` as the command was asked: with --json one document, `{"command", "output",
/// "dry_run", "files", "bytes", "compressed", "left_out": ["0x…", …]}`; without it, for a dry
/// run, one line ("repack would write out.dat: 12 files, 3456 bytes, 2 compressed, 1 left
/// out"), and nothing for a real run. Gives the exit status.
[[nodiscard]] int report_written(const Streams& streams, const WriteSummary& summary);

} // namespace quillmere::dat_tool
