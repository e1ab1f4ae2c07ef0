// Writes quillmere-dat's manual page or its bash completion script to standard output, for the
// build to install: quillmere_dat_manual man|completion.
#include "manual.hpp"

#include <iostream>
#include <string_view>

int main(int argc, char** argv) {
    const std::string_view what = argc == 2 ? argv[1] : "";
    if (what == "man") {
        std::cout << quillmere::dat_tool::render_man_page();
    } else if (what == "completion") {
        std::cout << quillmere::dat_tool::render_bash_completion();
    } else {
        std::cerr << "usage: quillmere_dat_manual man|completion\n";
        return 2;
    }
    return std::cout.flush() ? 0 : 1;
}
