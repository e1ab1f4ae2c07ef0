// The strict JSON reader: nlohmann-json checks the syntax and resolves the strings; this file
// notes where each value starts and words the errors.
#include "json_reader.hpp"

#include "quillmere/common/try.hpp"

#include <limits>
#include <nlohmann/json.hpp>

namespace quillmere::dat_tool {
namespace {

using Token = JsonReader::Token;
using Kind = Token::Kind;

constexpr std::string_view kUnsigned = "an unsigned 32-bit integer";

bool is_space(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool is_digit(char c) noexcept {
    return c >= '0' && c <= '9';
}

// What comes next in a document, once the tokens so far are read: where the next token starts,
// and what it must be.
enum class Expect : std::uint8_t { Value, Member, Other };

struct Expectation {
    Expect expect = Expect::Value;
    std::size_t at = 0;
    // For `Member` and `Other`: the words after "expected" ("':'"), or the whole message.
    std::string_view what;
    bool is_message = false;
};

// Collects the tokens of a document as nlohmann-json's parser reports them (its SAX interface),
// each with the offset where it starts. The parser reports no offsets but that of an error, so
// they are found in the text: the next token starts after white space and at most one ',' or
// ':' after the end of the last one, and its own length is known from its kind.
class TokenCollector {
  public:
    using Json = nlohmann::json;

    TokenCollector(std::string_view text, std::vector<Token>& tokens, std::string& strings,
                   std::vector<std::pair<std::uint32_t, std::uint32_t>>& spans)
        : text_(text), tokens_(tokens), strings_(strings), spans_(spans) {}

    bool null() { return value(Kind::Literal, 4); }
    bool boolean(bool truth) { return value(Kind::Literal, truth ? 4 : 5); }
    bool number_integer(Json::number_integer_t /*value*/) {
        if (leading_zero(next_start() + 1)) {
            error_at(next_start(), "malformed number");
            return false;
        }
        return value(Kind::OtherNumber, number_length());
    }
    bool number_unsigned(Json::number_unsigned_t number) {
        if (leading_zero(next_start())) {
            error_at(next_start(), "malformed number").leading_zero = true;
            return false;
        }
        return value(Kind::Unsigned, number_length(), number);
    }
    bool number_float(Json::number_float_t /*value*/, const std::string& text) {
        return value(Kind::OtherNumber, text.size());
    }
    bool string(std::string& text) { return value(Kind::String, string_length(), keep(text)); }
    bool binary(Json::binary_t& /*bytes*/) { return false; }
    bool key(std::string& text) {
        const bool taken = add(Kind::Name, string_length(), keep(text));
        after_name_ = true;
        return taken;
    }
    bool start_object(std::size_t /*elements*/) { return open(Kind::BeginObject, '}'); }
    bool end_object() { return close(Kind::EndObject); }
    bool start_array(std::size_t /*elements*/) { return open(Kind::BeginArray, ']'); }
    bool end_array() { return close(Kind::EndArray); }

    bool parse_error(std::size_t position, const std::string& /*last_token*/,
                     const nlohmann::detail::exception& failure) {
        refuse(position, failure.what());
        return false;
    }

    // After a parse that went through: requires nothing but white space after the document
    // (nlohmann-json stops at a zero byte), then marks the end.
    void finish() {
        const std::size_t end = skip_space(end_);
        if (end < text_.size()) {
            error_at(end, "unexpected text after the document");
            return;
        }
        tokens_.push_back({Kind::End, false, false, false, static_cast<std::uint32_t>(end), 0});
    }

    // A document that starts with a byte-order mark: nlohmann-json would skip it.
    void refuse_start() { error_at(0, "a value", true); }

  private:
    std::size_t skip_space(std::size_t at) const noexcept {
        while (at < text_.size() && is_space(text_[at])) {
            ++at;
        }
        return at;
    }

    // Where the token being reported starts.
    std::size_t next_start() const noexcept {
        std::size_t at = skip_space(end_);
        if (at < text_.size() && (text_[at] == ',' || text_[at] == ':')) {
            at = skip_space(at + 1);
        }
        return at;
    }

    // nlohmann-json reads "01" as the numbers 0 and 1; it is one malformed number.
    bool leading_zero(std::size_t digits) const noexcept {
        return digits + 1 < text_.size() && text_[digits] == '0' && is_digit(text_[digits + 1]);
    }

    std::size_t number_length() const noexcept {
        std::size_t end = next_start();
        while (end < text_.size() &&
               (is_digit(text_[end]) || text_[end] == '-' || text_[end] == '+' ||
                text_[end] == '.' || text_[end] == 'e' || text_[end] == 'E')) {
            ++end;
        }
        return end - next_start();
    }

    // A string the parser accepted: escapes come in pairs, the first unescaped quote ends it.
    std::size_t string_length() const noexcept {
        const std::size_t start = next_start();
        std::size_t at = start + 1;
        while (at < text_.size() && text_[at] != '"') {
            at += text_[at] == '\\' ? std::size_t{2} : std::size_t{1};
        }
        return at + 1 - start;
    }

    std::uint64_t keep(const std::string& text) {
        spans_.emplace_back(static_cast<std::uint32_t>(strings_.size()),
                            static_cast<std::uint32_t>(text.size()));
        strings_ += text;
        return spans_.size() - 1;
    }

    bool add(Kind kind, std::size_t length, std::uint64_t value = 0) {
        const std::size_t start = next_start();
        tokens_.push_back({kind, false, false, false, static_cast<std::uint32_t>(start), value});
        end_ = start + length;
        return true;
    }

    bool value(Kind kind, std::size_t length, std::uint64_t number = 0) {
        after_name_ = false;
        return add(kind, length, number);
    }

    bool open(Kind kind, char close) {
        if (open_.size() == JsonReader::kMaxDepth) {
            error_at(next_start(),
                     "nesting deeper than " + std::to_string(JsonReader::kMaxDepth) + " levels");
            return false;
        }
        after_name_ = false;
        open_.push_back(close);
        return add(kind, 1);
    }

    bool close(Kind kind) {
        open_.pop_back();
        return value(kind, 1);
    }

    Token& error_at(std::size_t at, const std::string& message, bool expected = false) {
        const std::uint64_t index = keep(message);
        tokens_.push_back({Kind::Error, expected, expected && at >= text_.size(), false,
                           static_cast<std::uint32_t>(at), index});
        return tokens_.back();
    }

    // What the grammar allows after the tokens so far.
    Expectation expectation() const noexcept {
        const std::size_t at = skip_space(end_);
        const bool comma = at < text_.size() && text_[at] == ',';
        if (tokens_.empty()) {
            return {Expect::Value, at, "a value"};
        }
        if (open_.empty()) {
            return {Expect::Other, at, "unexpected text after the document", true};
        }
        const Kind last = tokens_.back().kind;
        const bool in_object = open_.back() == '}';
        if (after_name_) {
            if (at < text_.size() && text_[at] == ':') {
                return {Expect::Value, skip_space(at + 1), "a value"};
            }
            return {Expect::Other, at, "':'"};
        }
        if (last == Kind::BeginObject) {
            return {Expect::Member, at, "a member name or '}'"};
        }
        if (last == Kind::BeginArray) {
            return {Expect::Value, at, "a value"};
        }
        if (comma) {
            const std::size_t next = skip_space(at + 1);
            return in_object ? Expectation{Expect::Member, next, "a member name"}
                             : Expectation{Expect::Value, next, "a value"};
        }
        return {Expect::Other, at, in_object ? "',' or '}'" : "',' or ']'"};
    }

    // The error of a string the parser refused while reading byte `last_read`: the escape it
    // lies in, the start of a broken UTF-8 sequence or the byte itself.
    void refuse_string(std::size_t start, std::size_t last_read, std::string_view why) {
        if (last_read >= text_.size()) {
            error_at(start, "unterminated string");
            return;
        }
        std::size_t escape = text_.rfind('\\', last_read);
        if (why.find("control character") != std::string_view::npos) {
            error_at(last_read, "control character in a string");
        } else if (why.find("surrogate") != std::string_view::npos) {
            // The pair starts at the high surrogate, when one came before this escape.
            if (escape >= start + 6 && text_.substr(escape - 6, 2) == "\\u" &&
                (text_[escape - 4] == 'd' || text_[escape - 4] == 'D') &&
                std::string_view("89abAB").find(text_[escape - 3]) != std::string_view::npos) {
                escape -= 6;
            }
            error_at(escape, "unpaired surrogate escape");
        } else if (why.find("'\\u'") != std::string_view::npos) {
            error_at(escape, "malformed \\u escape");
        } else if (why.find("after backslash") != std::string_view::npos) {
            error_at(escape, "invalid escape");
        } else if (why.find("UTF-8") != std::string_view::npos) {
            error_at(utf8_start(last_read), "invalid UTF-8 in a string");
        } else {
            error_at(start, "unterminated string");
        }
    }

    // The first byte of the UTF-8 sequence that byte `at` breaks.
    std::size_t utf8_start(std::size_t at) const noexcept {
        const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text_[i]); };
        if (byte(at) >= 0xC0) {
            return at;
        }
        std::size_t lead = at;
        while (lead > 0 && byte(lead - 1) >= 0x80 && byte(lead - 1) < 0xC0) {
            --lead;
        }
        return lead > 0 && byte(lead - 1) >= 0xC0 ? lead - 1 : at;
    }

    // Words the parser's error `why`, found on reading byte `position` (counted from 1).
    void refuse(std::size_t position, std::string_view why) {
        const Expectation next = expectation();
        const bool in_string = why.find("invalid string") != std::string_view::npos;
        const bool starts_string = next.at < text_.size() && text_[next.at] == '"';
        if (next.expect == Expect::Value && in_string) {
            refuse_string(next.at, position - 1, why);
        } else if (next.expect == Expect::Value &&
                   why.find("invalid number") != std::string_view::npos) {
            error_at(next.at, "malformed number");
        } else if (next.expect == Expect::Value &&
                   why.find("number overflow") != std::string_view::npos) {
            error_at(next.at, "number out of range");
        } else if (next.expect == Expect::Member && in_string && starts_string) {
            refuse_string(next.at, position - 1, why);
        } else if (next.is_message) {
            error_at(next.at, std::string(next.what));
        } else {
            error_at(next.at, std::string(next.what), true);
        }
    }

    std::string_view text_;
    std::vector<Token>& tokens_;
    std::string& strings_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>>& spans_;
    // The closing brackets of the containers open.
    std::string open_;
    // The end of the last token.
    std::size_t end_ = 0;
    // The last token is a member's name.
    bool after_name_ = false;
};

} // namespace

JsonReader::JsonReader(std::string_view text) : text_(text) {
    TokenCollector collector(text, tokens_, strings_, string_spans_);
    if (text.size() > std::numeric_limits<std::uint32_t>::max()) {
        // Offsets are kept in 32 bits; no document the tool reads comes near.
        collector.refuse_start();
    } else if (!text.empty() && static_cast<unsigned char>(text.front()) == 0xEF) {
        collector.refuse_start();
    } else if (nlohmann::json::sax_parse(text.begin(), text.end(), &collector)) {
        collector.finish();
    }
    if (tokens_.empty() ||
        (tokens_.back().kind != Kind::Error && tokens_.back().kind != Kind::End)) {
        collector.refuse_start(); // not reached: a refused document ends with its error
    }
}

std::size_t JsonReader::offset() noexcept {
    return peek().offset;
}

std::string_view JsonReader::string_of(const Token& token) const noexcept {
    const auto [start, length] = string_spans_[static_cast<std::size_t>(token.value)];
    return std::string_view(strings_).substr(start, length);
}

std::unexpected<std::string> JsonReader::refuse(const Token& token, std::string_view wanted,
                                                bool value_wanted) const {
    std::string message;
    if (token.kind == Kind::Error && token.leading_zero && wanted == kUnsigned) {
        message = "number with a leading zero";
    } else if (token.kind == Kind::Error && !token.expected) {
        message = string_of(token);
    } else {
        // Where the document has no value, a caller that wants one names the kind it wants.
        const bool own =
            token.kind == Kind::Error && !(value_wanted && string_of(token) == "a value");
        const std::string_view what = own ? string_of(token) : wanted;
        message = "expected " + std::string(what);
        if (token.kind == Kind::End || token.ends) {
            message += " but the document ends";
        }
    }
    return std::unexpected(message + " at byte " + std::to_string(token.offset));
}

Gathered<void> JsonReader::begin_object() {
    if (peek().kind != Kind::BeginObject) {
        return refuse(peek(), "an object", true);
    }
    ++next_;
    started_.push_back(false);
    return {};
}

Gathered<void> JsonReader::begin_array() {
    if (peek().kind != Kind::BeginArray) {
        return refuse(peek(), "an array", true);
    }
    ++next_;
    started_.push_back(false);
    return {};
}

Gathered<bool> JsonReader::next_in(Kind close, std::string_view expected) {
    if (peek().kind == close) {
        ++next_;
        started_.pop_back();
        return false;
    }
    if (peek().kind == Kind::Error && started_.back()) {
        return refuse(peek(), expected, false);
    }
    started_.back() = true;
    return true;
}

Gathered<std::optional<std::string>> JsonReader::next_member() {
    const bool first = !started_.back();
    QM_TRY(const bool more, next_in(Kind::EndObject, "',' or '}'"));
    if (!more) {
        return std::nullopt;
    }
    if (peek().kind != Kind::Name) {
        return refuse(peek(), first ? "a member name or '}'" : "a member name", false);
    }
    return std::string(string_of(tokens_[next_++]));
}

Gathered<bool> JsonReader::next_element() {
    return next_in(Kind::EndArray, "',' or ']'");
}

Gathered<std::uint32_t> JsonReader::read_u32() {
    const Token& token = peek();
    // Digits alone that nlohmann-json took as a float: too large even for 64 bits.
    std::size_t digits_end = text_.find_first_not_of("0123456789", token.offset);
    digits_end = digits_end == std::string_view::npos ? text_.size() : digits_end;
    const bool huge = token.kind == Kind::OtherNumber && digits_end > token.offset &&
                      (digits_end == text_.size() ||
                       std::string_view("-+.eE").find(text_[digits_end]) == std::string_view::npos);
    if (huge ||
        (token.kind == Kind::Unsigned && token.value > std::numeric_limits<std::uint32_t>::max())) {
        return std::unexpected("number above 4294967295 at byte " + std::to_string(token.offset));
    }
    if (token.kind != Kind::Unsigned) {
        return refuse(token, kUnsigned, true);
    }
    ++next_;
    return static_cast<std::uint32_t>(token.value);
}

Gathered<std::string> JsonReader::read_string() {
    if (peek().kind != Kind::String) {
        return refuse(peek(), "a string", true);
    }
    return std::string(string_of(tokens_[next_++]));
}

Gathered<void> JsonReader::skip_value() {
    std::size_t depth = 0;
    do {
        const Token& token = peek();
        switch (token.kind) {
        case Kind::BeginObject:
        case Kind::BeginArray:
            ++depth;
            break;
        case Kind::EndObject:
        case Kind::EndArray:
            if (depth == 0) {
                return refuse(token, "a value", true);
            }
            --depth;
            break;
        case Kind::Error:
        case Kind::End:
            return refuse(token, "a value", true);
        default:
            break;
        }
        ++next_;
    } while (depth != 0);
    return {};
}

Gathered<void> JsonReader::finish() {
    if (peek().kind != Kind::End) {
        return refuse(peek(), "the end of the document", false);
    }
    return {};
}

} // namespace quillmere::dat_tool
