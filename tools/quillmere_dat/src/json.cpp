// A small JSON document builder for the tool's --json output and extract's manifest.json.
//
// The tool's one JSON writer. It is its own rather than nlohmann-json's (which the tool reads
// JSON with) for the numbers: a payload's float must print as the shortest text that reads back
// as the same float ("0.1"), where nlohmann-json widens it to a double and prints that double's
// digits ("0.10000000149011612"); the documents' layout (two levels one member per line) is the
// tool's own too.
#include "json.hpp"

#include "quillmere/common/text.hpp"

#include <cassert>
#include <cmath>

namespace quillmere::dat_tool {
namespace {

// A float as a JSON value: its shortest text, or for NaN and the infinities (which JSON lacks)
// that text as a string.
template <class Float>
std::string float_json(Float value) {
    const std::string text = common::float_text(value);
    return std::isfinite(value) ? text : common::json_quote(text);
}

void newline(std::string& out, int depth) {
    out.push_back('\n');
    out.append(static_cast<std::size_t>(depth) * 2, ' ');
}

} // namespace

Json Json::boolean(bool value) {
    return Json(std::in_place_type<bool>, value);
}
Json Json::number(float value) {
    return Json(std::in_place_type<Number>, float_json(value));
}
Json Json::number(double value) {
    return Json(std::in_place_type<Number>, float_json(value));
}
Json Json::string(std::string_view value) {
    return Json(std::in_place_type<std::string>, value);
}
Json Json::array() {
    return Json(std::in_place_type<Array>);
}
Json Json::object() {
    return Json(std::in_place_type<Object>);
}

Json& Json::push(Json value) {
    auto* array = std::get_if<Array>(&value_);
    assert(array != nullptr && "push on a JSON value that is not an array");
    array->push_back(std::move(value));
    return *this;
}

Json& Json::set(std::string_view key, Json value) {
    auto* object = std::get_if<Object>(&value_);
    assert(object != nullptr && "set on a JSON value that is not an object");
    object->emplace_back(std::string(key), std::move(value));
    return *this;
}

std::string Json::dump() const {
    std::string out;
    write(out, 0);
    out.push_back('\n');
    return out;
}

void Json::write(std::string& out, int depth) const {
    // Containers of the top two levels get one member per line; deeper ones stay on one line.
    const bool multiline = depth < 2;
    if (const auto* array = std::get_if<Array>(&value_)) {
        out.push_back('[');
        for (std::size_t i = 0; i < array->size(); ++i) {
            out += i == 0 ? "" : (multiline ? "," : ", ");
            if (multiline) {
                newline(out, depth + 1);
            }
            (*array)[i].write(out, depth + 1);
        }
        if (multiline && !array->empty()) {
            newline(out, depth);
        }
        out.push_back(']');
    } else if (const auto* object = std::get_if<Object>(&value_)) {
        out.push_back('{');
        for (std::size_t i = 0; i < object->size(); ++i) {
            out += i == 0 ? "" : (multiline ? "," : ", ");
            if (multiline) {
                newline(out, depth + 1);
            }
            out += common::json_quote((*object)[i].first);
            out += ": ";
            (*object)[i].second.write(out, depth + 1);
        }
        if (multiline && !object->empty()) {
            newline(out, depth);
        }
        out.push_back('}');
    } else if (const auto* number = std::get_if<Number>(&value_)) {
        out += number->text;
    } else if (const auto* text = std::get_if<std::string>(&value_)) {
        out += common::json_quote(*text);
    } else if (const auto* flag = std::get_if<bool>(&value_)) {
        out += *flag ? "true" : "false";
    } else {
        out += "null";
    }
}

} // namespace quillmere::dat_tool
