// Writes the tool's sample test-kit archive to the path given as the only argument.
#include "sample_archive.hpp"

#include <exception>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: quillmere_dat_sample_archive PATH\n";
        return 2;
    }
    try {
        quillmere::dat_tool::sample::sample_archive().write_to(argv[1]);
    } catch (const std::exception& e) {
        std::cerr << "error: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
