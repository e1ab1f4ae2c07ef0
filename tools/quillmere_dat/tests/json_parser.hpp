// A tiny strict JSON reader for the tests: checks that the tool's --json output is one valid
// document, and gives access to its values. Written independently of the tool's writer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace quillmere::inspect::testing {

struct JsonValue;
using JsonArray = std::vector<JsonValue>;
using JsonObject = std::vector<std::pair<std::string, JsonValue>>;

/// A number keeps its literal text (compared exactly) and its value as a double.
struct JsonNumber {
    std::string text;
    double value = 0;
    friend bool operator==(const JsonNumber& a, const JsonNumber& b) { return a.text == b.text; }
};

struct JsonValue {
    std::variant<std::nullptr_t, bool, JsonNumber, std::string, JsonArray, JsonObject> value;

    [[nodiscard]] bool is_null() const { return std::holds_alternative<std::nullptr_t>(value); }
    [[nodiscard]] const JsonObject& object() const { return std::get<JsonObject>(value); }
    [[nodiscard]] const JsonArray& array() const { return std::get<JsonArray>(value); }
    [[nodiscard]] const std::string& string() const { return std::get<std::string>(value); }
    [[nodiscard]] double number() const { return std::get<JsonNumber>(value).value; }
    [[nodiscard]] const std::string& number_text() const {
        return std::get<JsonNumber>(value).text;
    }
    [[nodiscard]] bool boolean() const { return std::get<bool>(value); }
    /// The member `key` of an object; throws std::out_of_range when it is absent.
    [[nodiscard]] const JsonValue& operator[](std::string_view key) const;
    [[nodiscard]] bool has(std::string_view key) const;
    /// The member names in document order.
    [[nodiscard]] std::vector<std::string> keys() const;

    friend bool operator==(const JsonValue&, const JsonValue&) = default;
};

/// Parses exactly one JSON document (surrounding white space allowed). On failure returns
/// nothing and, when `error` is given, a description with the offset.
[[nodiscard]] std::optional<JsonValue> parse_json(std::string_view text,
                                                  std::string* error = nullptr);

/// The value written back compactly (objects in member order, strings escaped minimally).
[[nodiscard]] std::string to_json(const JsonValue& value);

} // namespace quillmere::inspect::testing
