// A small JSON document builder for the tool's --json output and extract's manifest.json:
// values are built in memory and written as one document with stable field order and proper
// string escaping.
#pragma once

#include <concepts>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace quillmere::dat_tool {

/// One JSON value. Numbers are kept as their rendered text, so integers of any width and floats
/// come out exactly; object members keep the order they were added in.
class Json {
  public:
    using Array = std::vector<Json>;
    using Object = std::vector<std::pair<std::string, Json>>;

    /// `null`.
    Json() = default;

    [[nodiscard]] static Json boolean(bool value);
    /// Any integer, in decimal.
    template <std::integral T>
    requires(!std::same_as<T, bool>) [[nodiscard]] static Json number(T value) {
        return Json(std::in_place_type<Number>, std::to_string(value));
    }
    /// The shortest text that reads back as the same float. JSON has no NaN or infinity, so
    /// those become the strings "nan", "inf" and "-inf".
    [[nodiscard]] static Json number(float value);
    /// As for float, at double precision.
    [[nodiscard]] static Json number(double value);
    [[nodiscard]] static Json string(std::string_view value);
    [[nodiscard]] static Json array();
    [[nodiscard]] static Json object();

    /// Appends to an array (the value must be one).
    Json& push(Json value);
    /// Appends a member to an object (the value must be one); returns the object for chaining.
    Json& set(std::string_view key, Json value);

    /// The whole document: containers at the top two levels one member per line (indented by
    /// two blanks per level), deeper ones on a single line; ends with a newline.
    [[nodiscard]] std::string dump() const;

  private:
    struct Number {
        std::string text;
    };
    using Value = std::variant<std::monostate, bool, Number, std::string, Array, Object>;

    // Values are built in place: moving a whole variant of vectors makes GCC 12 warn falsely
    // (-Wmaybe-uninitialized) at some optimisation levels.
    template <class T, class... Args>
    explicit Json(std::in_place_type_t<T> type, Args&&... args)
        : value_(type, std::forward<Args>(args)...) {}
    void write(std::string& out, int depth) const;

    Value value_;
};

} // namespace quillmere::dat_tool
