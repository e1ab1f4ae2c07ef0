// The commands of quillmere-dat, each described and run in a file of its own and listed in the
// command line's table.
#pragma once

#include "command.hpp"

namespace quillmere::dat_tool {

/// `info ARCHIVE [--json]`: the header, the entry count and a summary per file type.
extern const Command kInfoCommand;
/// `ls ARCHIVE [--type HEX] [--json]`: one line per file in ascending id order.
extern const Command kLsCommand;
/// `cat ARCHIVE ID`: a file's bytes, decompressed, to standard output.
extern const Command kCatCommand;
/// `hooks ARCHIVE ID [--json]`: the hooks of an animation, setup model or physics script.
extern const Command kHooksCommand;
/// `decode ARCHIVE ID [-o FILE]`: an animation, setup model or physics script as JSON.
extern const Command kDecodeCommand;
/// `encode JSON [-o FILE]`: the bytes of the file a decoded document describes.
extern const Command kEncodeCommand;
/// `verify ARCHIVE [--json] [--max-problems N]`: the whole archive checked, every problem listed.
extern const Command kVerifyCommand;
/// `extract ARCHIVE DIR [--type HEX]`: every file and manifest.json into a new directory.
extern const Command kExtractCommand;
/// `pack DIR OUT`: a new archive from an extracted directory.
extern const Command kPackCommand;
/// `repack IN OUT [--put ID=FILE]... [--delete ID]... [--compress]`: a fresh, compacted copy.
extern const Command kRepackCommand;
/// `diff A B [--json] [--hooks] [--type HEX]`: what differs between two archives.
extern const Command kDiffCommand;

} // namespace quillmere::dat_tool
