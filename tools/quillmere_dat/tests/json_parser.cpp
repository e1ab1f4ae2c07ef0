// A tiny strict JSON reader for the tests.
#include "json_parser.hpp"

#include <charconv>
#include <cstdlib>
#include <stdexcept>

namespace quillmere::inspect::testing {
namespace {

class Parser {
  public:
    explicit Parser(std::string_view text) : text_(text) {}

    std::optional<JsonValue> document(std::string* error) {
        auto value = parse_value(0);
        skip_space();
        if (value && pos_ != text_.size()) {
            fail("trailing characters");
            value.reset();
        }
        if (!value && error != nullptr) {
            *error = error_ + " at offset " + std::to_string(pos_);
        }
        return value;
    }

  private:
    std::optional<JsonValue> fail(std::string message) {
        if (error_.empty()) {
            error_ = std::move(message);
        }
        return std::nullopt;
    }

    void skip_space() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\n' ||
                                       text_[pos_] == '\r' || text_[pos_] == '\t')) {
            ++pos_;
        }
    }

    bool literal(std::string_view word) {
        if (text_.substr(pos_, word.size()) == word) {
            pos_ += word.size();
            return true;
        }
        return false;
    }

    std::optional<JsonValue> parse_value(int depth) {
        if (depth > 64) {
            return fail("nesting too deep");
        }
        skip_space();
        if (pos_ >= text_.size()) {
            return fail("unexpected end");
        }
        const char c = text_[pos_];
        if (c == '{') {
            return parse_object(depth);
        }
        if (c == '[') {
            return parse_array(depth);
        }
        if (c == '"') {
            auto s = parse_string();
            if (!s) {
                return std::nullopt;
            }
            return JsonValue{std::move(*s)};
        }
        if (literal("true")) {
            return JsonValue{true};
        }
        if (literal("false")) {
            return JsonValue{false};
        }
        if (literal("null")) {
            return JsonValue{nullptr};
        }
        return parse_number();
    }

    std::optional<JsonValue> parse_number() {
        const std::size_t start = pos_;
        auto digits = [&] {
            const std::size_t from = pos_;
            while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
                ++pos_;
            }
            return pos_ - from;
        };
        if (pos_ < text_.size() && text_[pos_] == '-') {
            ++pos_;
        }
        const std::size_t int_start = pos_;
        const std::size_t int_digits = digits();
        if (int_digits == 0 || (int_digits > 1 && text_[int_start] == '0')) {
            return fail("bad number");
        }
        if (pos_ < text_.size() && text_[pos_] == '.') {
            ++pos_;
            if (digits() == 0) {
                return fail("bad fraction");
            }
        }
        if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
            ++pos_;
            if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) {
                ++pos_;
            }
            if (digits() == 0) {
                return fail("bad exponent");
            }
        }
        std::string literal_text(text_.substr(start, pos_ - start));
        return JsonValue{JsonNumber{literal_text, std::strtod(literal_text.c_str(), nullptr)}};
    }

    std::optional<unsigned> hex4() {
        if (pos_ + 4 > text_.size()) {
            return std::nullopt;
        }
        unsigned value = 0;
        auto [end, ec] = std::from_chars(text_.data() + pos_, text_.data() + pos_ + 4, value, 16);
        if (ec != std::errc() || end != text_.data() + pos_ + 4) {
            return std::nullopt;
        }
        pos_ += 4;
        return value;
    }

    static void append_utf8(std::string& out, unsigned cp) {
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }

    std::optional<std::string> parse_string() {
        ++pos_; // opening quote
        std::string out;
        while (true) {
            if (pos_ >= text_.size()) {
                fail("unterminated string");
                return std::nullopt;
            }
            const auto c = static_cast<unsigned char>(text_[pos_++]);
            if (c == '"') {
                return out;
            }
            if (c < 0x20) {
                fail("raw control character in string");
                return std::nullopt;
            }
            if (c != '\\') {
                out.push_back(static_cast<char>(c));
                continue;
            }
            if (pos_ >= text_.size()) {
                fail("unterminated escape");
                return std::nullopt;
            }
            const char e = text_[pos_++];
            switch (e) {
            case '"':
            case '\\':
            case '/':
                out.push_back(e);
                break;
            case 'b':
                out.push_back('\b');
                break;
            case 'f':
                out.push_back('\f');
                break;
            case 'n':
                out.push_back('\n');
                break;
            case 'r':
                out.push_back('\r');
                break;
            case 't':
                out.push_back('\t');
                break;
            case 'u': {
                auto cp = hex4();
                if (!cp) {
                    fail("bad \\u escape");
                    return std::nullopt;
                }
                if (*cp >= 0xD800 && *cp <= 0xDBFF) {
                    if (!literal("\\u")) {
                        fail("lone surrogate");
                        return std::nullopt;
                    }
                    auto low = hex4();
                    if (!low || *low < 0xDC00 || *low > 0xDFFF) {
                        fail("bad surrogate pair");
                        return std::nullopt;
                    }
                    *cp = 0x10000 + ((*cp - 0xD800) << 10) + (*low - 0xDC00);
                } else if (*cp >= 0xDC00 && *cp <= 0xDFFF) {
                    fail("lone surrogate");
                    return std::nullopt;
                }
                append_utf8(out, *cp);
                break;
            }
            default:
                fail("bad escape");
                return std::nullopt;
            }
        }
    }

    std::optional<JsonValue> parse_array(int depth) {
        ++pos_;
        JsonArray items;
        skip_space();
        if (literal("]")) {
            return JsonValue{std::move(items)};
        }
        while (true) {
            auto item = parse_value(depth + 1);
            if (!item) {
                return std::nullopt;
            }
            items.push_back(std::move(*item));
            skip_space();
            if (literal("]")) {
                return JsonValue{std::move(items)};
            }
            if (!literal(",")) {
                return fail("expected ',' or ']'");
            }
        }
    }

    std::optional<JsonValue> parse_object(int depth) {
        ++pos_;
        JsonObject members;
        skip_space();
        if (literal("}")) {
            return JsonValue{std::move(members)};
        }
        while (true) {
            skip_space();
            if (pos_ >= text_.size() || text_[pos_] != '"') {
                return fail("expected a member name");
            }
            auto key = parse_string();
            if (!key) {
                return std::nullopt;
            }
            for (const auto& [name, value] : members) {
                if (name == *key) {
                    return fail("duplicate member '" + *key + "'");
                }
            }
            skip_space();
            if (!literal(":")) {
                return fail("expected ':'");
            }
            auto value = parse_value(depth + 1);
            if (!value) {
                return std::nullopt;
            }
            members.emplace_back(std::move(*key), std::move(*value));
            skip_space();
            if (literal("}")) {
                return JsonValue{std::move(members)};
            }
            if (!literal(",")) {
                return fail("expected ',' or '}'");
            }
        }
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::string error_;
};

std::string quote(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (static_cast<unsigned char>(c) < 0x20) {
            static constexpr char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out.push_back(kHex[(c >> 4) & 0xF]);
            out.push_back(kHex[c & 0xF]);
        } else {
            out.push_back(c);
        }
    }
    return out + "\"";
}

} // namespace

const JsonValue& JsonValue::operator[](std::string_view key) const {
    for (const auto& [name, member] : object()) {
        if (name == key) {
            return member;
        }
    }
    throw std::out_of_range("no member '" + std::string(key) + "'");
}

bool JsonValue::has(std::string_view key) const {
    for (const auto& [name, member] : object()) {
        if (name == key) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> JsonValue::keys() const {
    std::vector<std::string> out;
    for (const auto& [name, member] : object()) {
        out.push_back(name);
    }
    return out;
}

std::optional<JsonValue> parse_json(std::string_view text, std::string* error) {
    return Parser(text).document(error);
}

std::string to_json(const JsonValue& value) {
    struct Writer {
        std::string operator()(std::nullptr_t) const { return "null"; }
        std::string operator()(bool b) const { return b ? "true" : "false"; }
        std::string operator()(const JsonNumber& n) const { return n.text; }
        std::string operator()(const std::string& s) const { return quote(s); }
        std::string operator()(const JsonArray& a) const {
            std::string out = "[";
            for (std::size_t i = 0; i < a.size(); ++i) {
                out += (i ? "," : "") + to_json(a[i]);
            }
            return out + "]";
        }
        std::string operator()(const JsonObject& o) const {
            std::string out = "{";
            for (std::size_t i = 0; i < o.size(); ++i) {
                out += (i ? "," : "") + quote(o[i].first) + ":" + to_json(o[i].second);
            }
            return out + "}";
        }
    };
    return std::visit(Writer{}, value.value);
}

} // namespace quillmere::inspect::testing
