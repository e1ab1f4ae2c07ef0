// The test-kit archive the tool's end-to-end tests and scripts/check-install run on: a few files of
// each hook-carrying type with hand-picked hooks, compressed and plain files, files of other types
// and two damaged files.
#pragma once

#include "quillmere/testkit/archive_builder.hpp"

#include <cstdint>
#include <vector>

namespace quillmere::dat_tool::sample {

/// An animation: one part, two frames; frame 0 holds a Sound and both ReplaceObject forms, frame 1
/// a CreateParticle and an AnimationDone.
inline constexpr std::uint32_t kAnimation = 0x03000001;
/// A compressed animation whose frames carry every hook type (from the test kit's plan maker).
inline constexpr std::uint32_t kEveryHookType = 0x03000002;
/// An animation cut short inside its second frame's placement.
inline constexpr std::uint32_t kTruncatedAnimation = 0x03000009;
/// A compressed setup model with placements 5 (Scale, Luminous) and -1 (NoOp).
inline constexpr std::uint32_t kSetupModel = 0x02000001;
/// A physics script: a Sound at 0.5 and a CallPES at 1.25.
inline constexpr std::uint32_t kPhysicsScript = 0x33000001;
/// A compressed file of another type: 600 bytes of text.
inline constexpr std::uint32_t kCompressedBlob = 0x01000001;
/// A plain file of another type: 10 bytes.
inline constexpr std::uint32_t kPlainBlob = 0x06000001;
/// A physics script whose entry's block chain leads past the end of the archive.
inline constexpr std::uint32_t kBrokenChain = 0x33000002;

/// The contents of kCompressedBlob as stored before compression.
[[nodiscard]] std::vector<std::uint8_t> compressed_blob_contents();

/// The builder, ready for `write_to`; its header carries engine version 5, game version 7,
/// version_minor 2 and the version string bytes 0x10 to 0x1F.
[[nodiscard]] testkit::ArchiveBuilder sample_archive();

} // namespace quillmere::dat_tool::sample
