// Checking an archive with the library's verifier for a command: on two threads, with problems
// worded as `verify` prints them. `verify` reports the result; the writing commands run it as a
// gate before they write anything.
#pragma once

#include "command.hpp"
#include "quillmere/dat/verifier.hpp"

#include <string>

namespace quillmere::dat_tool {

/// The whole check of an opened verifier, the file list cut in stretches of about equal stored
/// bytes checked on two threads (one when no second thread can be had); the report is exactly
/// that of one pass.
[[nodiscard]] dat::VerifyReport check_on_two_threads(const dat::Verifier& verifier);

/// One problem as `verify` prints it: "error overlap 0x0A000012 at 1051648: file ...", with '-'
/// for an absent id or offset (no line end).
[[nodiscard]] std::string problem_line(const dat::Problem& problem);

/// The line that follows the problems shown when `more` were not: "… and 5123 more".
[[nodiscard]] std::string more_line(std::uint64_t more);

/// What the gate found: whether the input has errors (then only `--force` goes on, copying what
/// reads).
struct GateVerdict {
    bool has_errors = false;
};

/// The check a writing command makes of its input `archive` before it writes anything: every
/// error kind but `decode` (files are copied as stored, so whether they decode does not matter).
/// Up to 10 problems go to standard error as `verify` prints them. The command may go on when the
/// input has no error (warnings allowed, unless `in_place`, where any problem refuses, since an
/// in-place write is the one that destroys), or always with `force`. A refusal is the message of
/// the command's one "error:" line: "IN has 3 errors; nothing was written (...)". An input that
/// cannot be opened as a file at all is refused with the library's message.
[[nodiscard]] Gathered<GateVerdict> check_before_writing(const std::string& archive, bool in_place,
                                                         bool force, const Streams& streams);

} // namespace quillmere::dat_tool
