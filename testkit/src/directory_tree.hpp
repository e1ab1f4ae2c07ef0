// Planning the archive builder's automatic directory: a B-tree over the entries added.
#pragma once

#include "quillmere/testkit/archive_builder.hpp"

#include <vector>

namespace quillmere::testkit {

/// The nodes of a B-tree holding `entries` (in any order; stably sorted by id here): up to 61
/// entries per node, entry count + 1 children per inner node, all leaves at one depth and ids
/// ascending in order. The root comes first, then the other nodes depth-first, parent before
/// children; branch words name nodes by their index in the result. Empty for no entries.
[[nodiscard]] std::vector<NodeSpec> plan_directory_tree(std::vector<EntrySpec> entries);

} // namespace quillmere::testkit
