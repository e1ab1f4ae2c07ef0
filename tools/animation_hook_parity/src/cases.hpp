// The checker's two cases and the table the entry hands to the case runner.
#pragma once

#include "quillmere/case_runner/case_runner.hpp"

#include <vector>

namespace quillmere::parity {

/// The quick case: the known physics script and the 50 lowest animation and setup-model ids.
void animation_hook_parity_smoke_against_known_retail_files();

/// The full case: every animation, setup model and physics script, then the report.
void animation_hook_parity_sweep_against_retail_portal_dat();

/// Both cases, in ascending name order.
[[nodiscard]] std::vector<case_runner::Case> parity_cases();

} // namespace quillmere::parity
