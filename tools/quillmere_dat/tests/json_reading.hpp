// Reading the tool's --json output in the tests: nlohmann's parser, made strict about members
// named twice, and the member names of an object in document order.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace quillmere::dat_tool::testing {

/// A parsed document; objects keep their members in document order.
using JsonDocument = nlohmann::ordered_json;

/// Parses exactly one JSON document (surrounding white space allowed) and refuses an object that
/// names a member twice, which nlohmann alone would accept. On failure gives nothing and, when
/// `error` is given, the reason.
inline std::optional<JsonDocument> parse_json(std::string_view text, std::string* error = nullptr) {
    std::vector<std::set<std::string>> open_objects;
    std::string duplicate;
    const auto watch = [&](int, JsonDocument::parse_event_t event, JsonDocument& parsed) {
        using Event = JsonDocument::parse_event_t;
        if (event == Event::object_start) {
            open_objects.emplace_back();
        } else if (event == Event::object_end) {
            open_objects.pop_back();
        } else if (event == Event::key && duplicate.empty() &&
                   !open_objects.back().insert(parsed.get<std::string>()).second) {
            duplicate = parsed.get<std::string>();
        }
        return true;
    };
    try {
        auto doc = JsonDocument::parse(text, watch);
        if (duplicate.empty()) {
            return doc;
        }
        if (error != nullptr) {
            *error = "duplicate member '" + duplicate + "'";
        }
    } catch (const JsonDocument::parse_error& e) {
        if (error != nullptr) {
            *error = e.what();
        }
    }
    return std::nullopt;
}

/// The elements of an array; throws nlohmann's type_error when `value` is not an array.
inline const JsonDocument::array_t& elements(const JsonDocument& value) {
    return value.get_ref<const JsonDocument::array_t&>();
}

/// The member names of an object in document order; throws when `object` is not an object.
inline std::vector<std::string> keys(const JsonDocument& object) {
    std::vector<std::string> names;
    for (const auto& [name, value] : object.get_ref<const JsonDocument::object_t&>()) {
        names.push_back(name);
    }
    return names;
}

} // namespace quillmere::dat_tool::testing
