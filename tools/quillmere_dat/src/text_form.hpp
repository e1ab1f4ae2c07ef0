// The text form of a hook-carrying file: an animation, setup model or physics script as one JSON
// document holding every value the file holds, and that document encoded back into the file's
// bytes. Unedited, encode(decode(bytes)) is the bytes.
#pragma once

#include "command.hpp"
#include "quillmere/dat/file_type/file_type.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillmere::dat_tool {

/// The version of the document's shape, its "format" member.
inline constexpr std::uint32_t kTextFormFormat = 1;

/// The file `bytes` decoded as a file of `type`, as one JSON document (ending with a newline):
///
///     {"format": 1, "id": "0x03000001", "file_type": "animation", ...every field...,
///      "trailing": "hex"}
///
/// The fields are the library records' (`Animation`, `StoredSetupModel`, `PhysicsScript`),
/// named as they are, lists in file order; a setup model's keyed entries as lists of
/// {"key", "value"} items, every stored one (a key stored twice gives two items). File ids as
/// "0x" and eight hex digits (an absent default resource as null). Floats as the shortest
/// decimal that reads back to the same bits (negative zero as -0.0); a float that is not finite
/// as its bits, {"bits": "0x7FC00001"} (sixteen digits for the f64 start time). Hooks as
/// `hooks --json` shows them: {"hook_type", "name", "direction", "payload"}, plus "padding" as
/// hex when the padding bytes are not zero, and "wide_part_id": true for a ReplaceObject id
/// below 0x8000 stored in two words; a hook type without a name as {"hook_type", "direction",
/// "data"}. "trailing" only when bytes follow the decoded file.
///
/// Fails with the decoder's error as one line when it refuses the bytes.
[[nodiscard]] Gathered<std::string> decode_text_form(dat::file_type::FileType type,
                                                     std::span<const std::uint8_t> bytes);

/// A file encoded from its text form.
struct EncodedFile {
    /// The "id" member: the id word the file stores.
    std::uint32_t id = 0;
    dat::file_type::FileType type = dat::file_type::FileType::Animation;
    std::vector<std::uint8_t> bytes;
};

/// The file a document of `decode_text_form`'s shape describes. Every member is required but
/// "name" (checked against "hook_type" when given), "padding", "wide_part_id" and "trailing";
/// no other member is taken. Integers must fit their field, ids may be given as numbers too.
/// A document that does not describe a file is refused with "{path}: {what}", the path in the
/// document of the value at fault such as "part_frames[3].hooks[1].payload.id" (empty for the
/// document itself), or a syntax error with its byte offset.
[[nodiscard]] Gathered<EncodedFile> encode_text_form(std::string_view text);

/// Where extract --decode puts file `id`'s text form under the tree: "TT/XXXXXXXX.json" (see
/// `content_path`, whose ".bin" it replaces).
[[nodiscard]] std::string text_form_path(std::uint32_t id);

/// The text form extract --decode writes for file `id` holding `bytes`: the document, when `id`
/// is of a hook-carrying type, its decoder accepts the bytes, the id word the file stores is
/// `id`, and the document encodes back to `bytes` exactly; else nothing (the file stays .bin).
[[nodiscard]] std::optional<std::string> text_form_for(std::uint32_t id,
                                                       std::span<const std::uint8_t> bytes);

} // namespace quillmere::dat_tool
