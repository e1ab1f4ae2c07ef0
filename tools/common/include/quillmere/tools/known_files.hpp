// Files every retail archive holds, which the checker's smoke case reads and the demo archive
// therefore provides.
#pragma once

#include <cstdint>

namespace quillmere::tools {

/// The physics script the smoke case always checks.
inline constexpr std::uint32_t kKnownPhysicsScript = 0x330007DB;

} // namespace quillmere::tools
