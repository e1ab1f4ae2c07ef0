// What the tests of the writing commands check about their results: two archives holding the
// same files, an archive the verifier finds clean, and the files left in a directory.
#pragma once

#include "command_line.hpp"
#include "quillmere/dat/dat_database.hpp"
#include "quillmere/dat/verifier.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace quillmere::dat_tool::testing {

/// The whole file; empty when it does not exist.
inline std::vector<std::uint8_t> bytes_of(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/// What a command run in this process gave: its exit status and both output streams.
struct InProcessRun {
    int status;
    std::string out;
    std::string err;
};

/// Runs one quillmere-dat command line (`args` without the program name) in this process.
inline InProcessRun run_here(std::vector<std::string> args) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = run(args, Streams{out, err});
    return {status, out.str(), err.str()};
}

/// The names in a directory, hidden ones included, sorted.
inline std::vector<std::string> names_in(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

/// The verifier finds neither an error nor a warning.
inline void expect_clean(const std::filesystem::path& path) {
    const auto report = dat::verify_archive(path);
    ASSERT_TRUE(report) << report.error().message();
    EXPECT_EQ(report->error_count, 0U) << report->problems.front().message;
    EXPECT_EQ(report->warning_count, 0U) << report->problems.front().message;
}

/// Whether the second archive stores each file's bytes as the first does, or compressed anew.
enum class Stored { Same, Recompressed };

/// Both archives hold the same ids, each with the same bit_flags, timestamp, version and
/// contents (as get_file returns them), and with `Stored::Same` the same stored bytes.
inline void expect_same_files(const std::filesystem::path& a_path,
                              const std::filesystem::path& b_path, Stored stored) {
    auto a = dat::DatDatabase::open(a_path);
    auto b = dat::DatDatabase::open(b_path);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(b->files().size(), a->files().size());
    for (const auto& [id, old] : a->files()) {
        const auto found = b->files().find(id);
        ASSERT_NE(found, b->files().end()) << std::hex << id;
        const dat::DatFileEntry& entry = found->second;
        EXPECT_EQ(std::tie(entry.bit_flags, entry.timestamp, entry.version),
                  std::tie(old.bit_flags, old.timestamp, old.version))
            << std::hex << id;
        const auto old_contents = a->get_file(id);
        const auto contents = b->get_file(id);
        ASSERT_TRUE(old_contents && contents) << std::hex << id;
        EXPECT_TRUE(*contents == *old_contents) << std::hex << id;
        if (stored == Stored::Same) {
            const auto old_bytes = a->read_file_data(old.offset, old.size);
            const auto bytes = b->read_file_data(entry.offset, entry.size);
            ASSERT_TRUE(old_bytes && bytes) << std::hex << id;
            EXPECT_TRUE(*bytes == *old_bytes) << std::hex << id;
        }
    }
}

} // namespace quillmere::dat_tool::testing
