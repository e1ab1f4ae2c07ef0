// Runs a fuzz target's LLVMFuzzerTestOneInput over saved inputs, without libFuzzer: every file
// named on the command line, and every regular file of every directory named, in name order.
// CTest runs it over each target's corpus, so an input that once crashed keeps being tried with
// any compiler (and under the sanitizers of the asan preset).
//
// Usage: replay_<target> PATH...    Exit status 0 when every input ran; a failed check aborts.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::uint8_t> read_whole(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::filesystem::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path arg(argv[i]);
        std::error_code error;
        if (std::filesystem::is_directory(arg, error)) {
            std::vector<std::filesystem::path> found;
            for (const auto& item : std::filesystem::directory_iterator(arg, error)) {
                if (item.is_regular_file()) {
                    found.push_back(item.path());
                }
            }
            std::sort(found.begin(), found.end());
            inputs.insert(inputs.end(), found.begin(), found.end());
        } else if (std::filesystem::is_regular_file(arg, error)) {
            inputs.push_back(arg);
        } else {
            std::fprintf(stderr, "replay: no such file or directory: %s\n", argv[i]);
            return 2;
        }
    }
    // A corpus directory that lost its files would otherwise pass without testing anything.
    if (inputs.empty()) {
        std::fprintf(stderr, "replay: no inputs found\n");
        return 2;
    }
    for (const auto& path : inputs) {
        const std::vector<std::uint8_t> bytes = read_whole(path);
        std::fprintf(stderr, "replay: %s (%zu bytes)\n", path.c_str(), bytes.size());
        std::fflush(stderr);
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("replayed %zu inputs\n", inputs.size());
    return 0;
}
