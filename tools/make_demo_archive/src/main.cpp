// make_demo_archive: writes a synthetic portal archive for trying out and timing the checker.
#include "demo_archive.hpp"

#include <charconv>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view kUsage =
    R"(Usage: make_demo_archive [OPTIONS]

Writes a synthetic portal archive (block size 1024, B-tree directory) holding animations, setup
models and physics scripts with hooks of every common type among files of many other types, some
of them compressed. The same seed and scale give the same bytes.

Options:
  -o, --output PATH   where to write the archive (default: demo_portal.dat)
      --seed N        seed of the contents (default: 1)
      --files N       number of directory entries (default: 4000 when no --size is given)
      --size MIB      stop once the files' contents reach MIB mebibytes
      --scatter       scatter every block over the archive instead of storing each file in
                      consecutive blocks (the worst case for reading)
  -h, --help          show this text

About 60000 files make a retail-sized archive of some 450 MiB.
)";

constexpr std::uint64_t kMaxFiles = 500'000;
constexpr std::uint64_t kMaxMib = 3'500;

std::optional<std::uint64_t> parse_number(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

int usage_error(const std::string& message) {
    std::cerr << "make_demo_archive: " << message << "\n(see make_demo_archive --help)\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    quillmere::demo::DemoOptions options;
    std::string output = "demo_portal.dat";
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 0;
        }
        if (arg == "--scatter") {
            options.scatter = true;
            continue;
        }
        const bool takes_value = arg == "-o" || arg == "--output" || arg == "--seed" ||
                                 arg == "--files" || arg == "--size";
        if (!takes_value) {
            return usage_error("unknown argument '" + std::string(arg) + "'");
        }
        if (i + 1 >= argc) {
            return usage_error(std::string(arg) + " needs a value");
        }
        const std::string_view value = argv[++i];
        if (arg == "-o" || arg == "--output") {
            output = value;
            continue;
        }
        const auto number = parse_number(value);
        if (!number) {
            return usage_error(std::string(arg) + " takes a whole number, not '" +
                               std::string(value) + "'");
        }
        if (arg == "--seed") {
            options.seed = *number;
        } else if (arg == "--files") {
            if (*number == 0 || *number > kMaxFiles) {
                return usage_error("--files takes 1 to " + std::to_string(kMaxFiles));
            }
            options.files = static_cast<std::uint32_t>(*number);
        } else {
            if (*number == 0 || *number > kMaxMib) {
                return usage_error("--size takes 1 to " + std::to_string(kMaxMib) + " (MiB)");
            }
            options.target_bytes = *number * 1024 * 1024;
        }
    }
    try {
        const auto summary = quillmere::demo::write_demo_archive(output, options);
        std::cout << quillmere::demo::summary_line(output, options, summary) << "\n";
    } catch (const std::exception& error) {
        std::cerr << "make_demo_archive: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
