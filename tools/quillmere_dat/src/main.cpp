// quillmere-dat: the tool that looks inside portal archives, tests them and changes them (info,
// ls, cat, hooks, verify, extract, pack, repack).
#include "command_line.hpp"

#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const quillmere::dat_tool::Streams streams{.out = std::cout,
                                               .err = std::cerr,
                                               .out_is_terminal = isatty(STDOUT_FILENO) == 1,
                                               .err_is_terminal = isatty(STDERR_FILENO) == 1,
                                               .in = &std::cin};
    return quillmere::dat_tool::run(args, streams);
}
