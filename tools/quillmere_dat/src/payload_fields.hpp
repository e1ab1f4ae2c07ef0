// A hook payload as a list of named fields, the one form both the text and the JSON output of
// the hooks command print.
#pragma once

#include "json.hpp"
#include "quillmere/common/math.hpp"
#include "quillmere/dat/file_type/hook_payload.hpp"
#include "quillmere/dat/graphics.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quillmere::dat_tool {

/// A number that names another file of the archive: printed as "0x" and eight hex digits.
struct FileIdValue {
    std::uint32_t id = 0;
};

/// The value of one payload field.
using FieldValue = std::variant<FileIdValue, std::uint32_t, std::int32_t, float, common::Vector3,
                                dat::graphics::Frame>;

/// One payload field: its name as in the payload's record, and its value.
struct PayloadField {
    std::string_view name;
    FieldValue value;
};

/// The fields of a payload in wire order; empty for a payload without bytes.
[[nodiscard]] std::vector<PayloadField>
payload_fields(const dat::file_type::setup_model::HookPayload& payload);

/// The fields as text: `name=value` separated by single blanks. File ids as 0x0A000001, floats
/// in their shortest exact form, a vector as (x, y, z), a frame as
/// {origin=(x, y, z) orientation=(w, x, y, z)}.
[[nodiscard]] std::string fields_text(const std::vector<PayloadField>& fields);

/// The fields as a JSON object: file ids as "0x0A000001" strings, numbers as numbers, a vector as
/// {"x", "y", "z"}, a frame as {"origin": vector, "orientation": {"w", "x", "y", "z"}}.
[[nodiscard]] Json fields_json(const std::vector<PayloadField>& fields);

} // namespace quillmere::dat_tool
