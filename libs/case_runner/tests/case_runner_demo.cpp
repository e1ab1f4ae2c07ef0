// A program with the checker's two case names for the golden tests of the runner's output.
// Environment: QUILLMERE_DEMO_FAIL_SMOKE / QUILLMERE_DEMO_FAIL_SWEEP make a case fail,
// QUILLMERE_DEMO_SLOW_MS delays the smoke case, QUILLMERE_DEMO_EXTRA adds an ignored case and two
// cases expected to fail (one does, one returns).
#include "quillmere/case_runner/case_runner.hpp"
#include "quillmere/case_runner/checks.hpp"

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace runner = quillmere::case_runner;

bool is_set(const char* name) {
    return std::getenv(name) != nullptr;
}

void smoke() {
    runner::err() << "[animation_hook_parity_smoke] SKIP — no archive\n";
    if (const char* delay = std::getenv("QUILLMERE_DEMO_SLOW_MS")) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(delay)));
    }
    if (is_set("QUILLMERE_DEMO_FAIL_SMOKE")) {
        runner::err() << "[animation_hook_parity_smoke] FAIL line\n";
        runner::require(false, "smoke sweep must observe at least one hook");
    }
}

void sweep() {
    runner::err() << "[animation_hook_parity] SKIP — no archive\n";
    if (is_set("QUILLMERE_DEMO_FAIL_SWEEP")) {
        runner::err() << "[animation_hook_parity] FAIL 0x03000001: boom\n";
        runner::require_eq(1U, 2U, "Sound (type 1) must appear in retail");
    }
}

} // namespace

int main(int argc, char** argv) {
    std::vector<runner::Case> cases;
    if (is_set("QUILLMERE_DEMO_EXTRA")) {
        // Listed out of order on purpose: the runner sorts by name.
        cases.push_back({"extra_should_fail_passes",
                         [] { runner::out() << "should-fail case returns\n"; }, false, true});
        cases.push_back(
            {"extra_ignored_case", [] { runner::err() << "ignored case ran\n"; }, true, false});
        cases.push_back({"extra_should_fail_fails",
                         [] {
                             runner::err() << "should-fail case fails as expected\n";
                             runner::fail("expected failure");
                         },
                         false, true});
    }
    cases.push_back({"animation_hook_parity_sweep_against_retail_portal_dat", sweep});
    cases.push_back({"animation_hook_parity_smoke_against_known_retail_files", smoke});
    return runner::run_main(argc, argv, cases);
}
