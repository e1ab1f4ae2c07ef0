// The hooks of one animation, setup model or physics script with their places in the file, as
// the library's hook visitor finds them.
#include "hook_listing.hpp"

#include "archive_access.hpp"
#include "command.hpp"
#include "quillmere/common/text.hpp"
#include "quillmere/common/try.hpp"
#include "quillmere/dat/hooks/hook_visitor.hpp"

namespace quillmere::dat_tool {

using dat::file_type::FileType;

namespace {

// "an " before "animation", "a " before the others.
std::string with_article(FileType type) {
    const std::string name(dat::file_type::name(type));
    return (name.starts_with('a') ? "an " : "a ") + name;
}

} // namespace

std::string hook_file_types_text() {
    std::string text;
    const auto& ranges = dat::file_type::kIdRanges;
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        if (i != 0) {
            text += i + 1 == ranges.size() ? " or " : ", ";
        }
        text += i == 0 ? with_article(ranges[i].type)
                       : std::string(dat::file_type::name(ranges[i].type));
        text += " (0x" + common::hex8(ranges[i].first).substr(0, 2) + "......)";
    }
    return text;
}

std::string cannot_decode(std::uint32_t id, FileType type, const common::DecodeError& error) {
    return cannot_decode(id, type, error.one_line());
}

std::string cannot_decode(std::uint32_t id, FileType type, std::string_view why) {
    return "cannot decode " + id_text(id) + " as " + with_article(type) + ": " + std::string(why);
}

Gathered<HookFile> read_hook_file(const std::string& path, std::uint32_t id) {
    QM_TRY(const dat::DatDatabase db, open_archive(path));
    if (!db.files().contains(id)) {
        return std::unexpected(one_line(dat::DatError::not_found(id)));
    }
    const auto type = dat::file_type::of(id);
    if (!type) {
        return std::unexpected(id_text(id) + " is not " + hook_file_types_text());
    }
    QM_TRY(std::vector<std::uint8_t> bytes, read_file(db, id, path));
    return HookFile{*type, std::move(bytes)};
}

common::DecodeResult<HookListing> list_hooks(FileType type, std::span<const std::uint8_t> bytes) {
    HookListing listing;
    listing.type = type;
    dat::hooks::HookFileOutline outline;
    const auto note = [&](const dat::hooks::HookSite& site, const dat::hooks::HookView& hook) {
        const std::optional<double> start_time =
            site.script_entry ? std::optional(site.start_time) : std::nullopt;
        listing.hooks.push_back({site.frame, site.placement_key, start_time, hook.to_owned()});
    };
    QM_TRY_VOID(dat::hooks::visit_hooks(type, bytes, note, &outline));
    listing.stored_id = outline.stored_id;
    listing.parts = outline.parts;
    listing.groups = outline.groups;
    return listing;
}

} // namespace quillmere::dat_tool
