// The hook parity checker: hands its command line and its two cases to the case runner.
#include "cases.hpp"

int main(int argc, char** argv) {
    const auto cases = quillmere::parity::parity_cases();
    return quillmere::case_runner::run_main(argc, argv, cases);
}
