// Temporary files and directories for tests.
#include "quillmere/testkit/temp_file.hpp"

#include <atomic>
#include <fstream>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace quillmere::testkit {
namespace {

std::filesystem::path unique_path(std::string_view tag) {
    static std::atomic<unsigned> counter{0};
    const auto name = "quillmere-" + std::string(tag) + "-" + std::to_string(::getpid()) + "-" +
                      std::to_string(counter++);
    return std::filesystem::temp_directory_path() / name;
}

} // namespace

void write_file(const std::filesystem::path& path, std::span<const std::uint8_t> contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(contents.data()),
              static_cast<std::streamsize>(contents.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

TempFile::TempFile(std::span<const std::uint8_t> contents, std::string_view tag)
    : path_(unique_path(tag)) {
    write_file(path_, contents);
}

TempFile::~TempFile() {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
}

TempDir::TempDir(std::string_view tag) : path_(unique_path(tag)) {
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

} // namespace quillmere::testkit
