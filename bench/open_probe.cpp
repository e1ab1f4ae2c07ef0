// open_probe: the directory-opening target in one process of its own.
//   open_probe --make PATH N   writes an archive whose directory holds N entries (no file data)
//   open_probe PATH            opens it and prints entries, seconds and peak resident memory
#include "quillmere/dat/dat_database.hpp"
#include "quillmere/testkit/archive_builder.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <sys/resource.h>

int main(int argc, char** argv) {
    if (argc == 4 && std::string_view(argv[1]) == "--make") {
        const auto entries = static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10));
        quillmere::testkit::ArchiveBuilder builder(1024);
        for (std::uint32_t i = 0; i < entries; ++i) {
            quillmere::testkit::EntrySpec entry;
            entry.id = 0x01000000U + i * 3U;
            entry.offset = 0x1000U + i;
            entry.size = 100 + i % 5000;
            builder.add_entry(entry);
        }
        builder.write_to(argv[2]);
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: open_probe --make PATH N | open_probe PATH\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    auto dat = quillmere::dat::DatDatabase::open(argv[1]);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (!dat) {
        std::fprintf(stderr, "open_probe: %s\n", dat.error().message().c_str());
        return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("entries=%zu seconds=%.3f peak_rss_mib=%.1f\n", dat->files().size(), took.count(),
                static_cast<double>(usage.ru_maxrss) / 1024.0);
    return 0;
}
