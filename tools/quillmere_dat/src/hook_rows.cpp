// One hook as quillmere-dat prints it.
#include "hook_rows.hpp"

#include "quillmere/common/text.hpp"
#include "quillmere/dat/file_type/hook_payload.hpp"
#include "quillmere/tools/hook_type_names.hpp"

namespace quillmere::dat_tool {

Gathered<std::vector<HookRow>> hook_rows(HookListing listing, std::uint32_t id) {
    std::vector<HookRow> rows;
    rows.reserve(listing.hooks.size());
    for (std::size_t i = 0; i < listing.hooks.size(); ++i) {
        auto& located = listing.hooks[i];
        auto payload = dat::file_type::setup_model::unpack_payload(located.hook);
        if (!payload) {
            return std::unexpected("cannot decode the payload of hook " + std::to_string(i) +
                                   " of " + id_text(id) + ": " + payload.error().one_line());
        }
        const auto name = tools::hook_type_name(located.hook.hook_type);
        rows.push_back({std::move(located), name, payload_fields(*payload)});
    }
    return rows;
}

std::string location_text(const LocatedHook& located) {
    if (located.frame) {
        return "frame " + std::to_string(*located.frame);
    }
    if (located.placement) {
        return "placement " + std::to_string(*located.placement);
    }
    return "time " + common::float_text(located.start_time.value_or(0.0));
}

std::string hook_text(const HookRow& row) {
    const auto& hook = row.located.hook;
    std::string text = std::string(row.name) + " (" + std::to_string(hook.hook_type) +
                       ")  direction=" + std::to_string(hook.direction);
    if (!row.fields.empty()) {
        text += "  " + fields_text(row.fields);
    }
    return text;
}

Json hook_json(const HookRow& row) {
    const auto& located = row.located;
    auto item = Json::object();
    if (located.frame) {
        item.set("frame", Json::number(*located.frame));
    } else if (located.placement) {
        item.set("placement", Json::number(*located.placement));
    } else {
        item.set("start_time", Json::number(located.start_time.value_or(0.0)));
    }
    item.set("hook_type", Json::number(located.hook.hook_type))
        .set("name", Json::string(row.name))
        .set("direction", Json::number(located.hook.direction))
        .set("payload", fields_json(row.fields))
        .set("data", Json::string(common::hex_bytes(located.hook.data)));
    return item;
}

} // namespace quillmere::dat_tool
