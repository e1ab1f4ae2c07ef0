// One hook as quillmere-dat prints it, in text and in JSON: where it sits, its type's name,
// direction and payload fields. Shared by `hooks` and `diff --hooks`.
#pragma once

#include "command.hpp"
#include "hook_listing.hpp"
#include "json.hpp"
#include "payload_fields.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillmere::dat_tool {

/// A hook where it sits (raw payload bytes included), with its payload decoded.
struct HookRow {
    LocatedHook located;
    std::string_view name;
    std::vector<PayloadField> fields;
};

/// The rows of every hook of `listing`, in its order; or the message of the first payload that
/// does not decode ("cannot decode the payload of hook 3 of 0x03000001: ...").
[[nodiscard]] Gathered<std::vector<HookRow>> hook_rows(HookListing listing, std::uint32_t id);

/// Where a hook sits: "frame 3", "placement -1" or "time 0.5".
[[nodiscard]] std::string location_text(const LocatedHook& located);

/// The hook without its place: "Sound (1)  direction=0  sound=0x0A000001 volume=0.5".
[[nodiscard]] std::string hook_text(const HookRow& row);

/// The hook as `hooks --json` lists it: {frame|placement|start_time, hook_type, name,
/// direction, payload, data}.
[[nodiscard]] Json hook_json(const HookRow& row);

} // namespace quillmere::dat_tool
