// The strict token-by-token JSON reader behind the manifest of an extracted archive.
#include "json_reader.hpp"

#include "quillmere/common/text.hpp"
#include "quillmere/common/try.hpp"

#include <cassert>
#include <limits>

namespace quillmere::inspect {
namespace {

bool is_digit(char c) noexcept {
    return c >= '0' && c <= '9';
}

std::optional<std::uint32_t> hex_digit(char c) noexcept {
    if (is_digit(c)) {
        return static_cast<std::uint32_t>(c - '0');
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<std::uint32_t>(c - 'a' + 10);
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<std::uint32_t>(c - 'A' + 10);
    }
    return std::nullopt;
}

void append_utf8(std::string& out, std::uint32_t code_point) {
    const auto byte = [](std::uint32_t value) { return static_cast<char>(value); };
    if (code_point < 0x80) {
        out += byte(code_point);
    } else if (code_point < 0x800) {
        out += byte(0xC0 | code_point >> 6);
        out += byte(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        out += byte(0xE0 | code_point >> 12);
        out += byte(0x80 | (code_point >> 6 & 0x3F));
        out += byte(0x80 | (code_point & 0x3F));
    } else {
        out += byte(0xF0 | code_point >> 18);
        out += byte(0x80 | (code_point >> 12 & 0x3F));
        out += byte(0x80 | (code_point >> 6 & 0x3F));
        out += byte(0x80 | (code_point & 0x3F));
    }
}

} // namespace

void JsonReader::skip_space() noexcept {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                   text_[pos_] == '\n' || text_[pos_] == '\r')) {
        ++pos_;
    }
}

std::size_t JsonReader::offset() noexcept {
    skip_space();
    return pos_;
}

std::unexpected<std::string> JsonReader::error_at(std::string_view what, std::size_t at) const {
    return std::unexpected(std::string(what) + " at byte " + std::to_string(at));
}

std::unexpected<std::string> JsonReader::unexpected_token(std::string_view expected) {
    skip_space();
    const std::string what = "expected " + std::string(expected);
    if (pos_ == text_.size()) {
        return error_at(what + " but the document ends", pos_);
    }
    return error_at(what, pos_);
}

Gathered<void> JsonReader::enter(char open, char close) {
    skip_space();
    if (pos_ == text_.size() || text_[pos_] != open) {
        return unexpected_token(open == '{' ? "an object" : "an array");
    }
    if (open_.size() == kMaxDepth) {
        return error_at("nesting deeper than " + std::to_string(kMaxDepth) + " levels", pos_);
    }
    ++pos_;
    open_.push_back({close, false});
    return {};
}

Gathered<void> JsonReader::begin_object() {
    return enter('{', '}');
}

Gathered<void> JsonReader::begin_array() {
    return enter('[', ']');
}

Gathered<bool> JsonReader::next_in(char close, std::string_view expected) {
    assert(!open_.empty() && open_.back().close == close && "not inside that container");
    skip_space();
    if (pos_ < text_.size() && text_[pos_] == close) {
        ++pos_;
        open_.pop_back();
        return false;
    }
    if (!open_.back().started) {
        open_.back().started = true;
        return true;
    }
    if (pos_ < text_.size() && text_[pos_] == ',') {
        ++pos_;
        return true;
    }
    return unexpected_token(expected);
}

Gathered<std::optional<std::string>> JsonReader::next_member() {
    assert(!open_.empty() && "next_member outside an object");
    const bool first = !open_.back().started;
    QM_TRY(const bool more, next_in('}', "',' or '}'"));
    if (!more) {
        return std::nullopt;
    }
    skip_space();
    if (pos_ == text_.size() || text_[pos_] != '"') {
        return unexpected_token(first ? "a member name or '}'" : "a member name");
    }
    QM_TRY(std::string name, read_string());
    skip_space();
    if (pos_ == text_.size() || text_[pos_] != ':') {
        return unexpected_token("':'");
    }
    ++pos_;
    return name;
}

Gathered<bool> JsonReader::next_element() {
    return next_in(']', "',' or ']'");
}

Gathered<std::uint32_t> JsonReader::read_u32() {
    skip_space();
    const std::size_t start = pos_;
    if (pos_ == text_.size() || !is_digit(text_[pos_])) {
        return unexpected_token("an unsigned 32-bit integer");
    }
    if (text_[pos_] == '0' && pos_ + 1 < text_.size() && is_digit(text_[pos_ + 1])) {
        return error_at("number with a leading zero", start);
    }
    std::uint64_t value = 0;
    bool too_large = false;
    while (pos_ < text_.size() && is_digit(text_[pos_])) {
        value = value * 10 + static_cast<std::uint64_t>(text_[pos_] - '0');
        too_large = too_large || value > std::numeric_limits<std::uint32_t>::max();
        value = too_large ? 0 : value;
        ++pos_;
    }
    if (pos_ < text_.size() && (text_[pos_] == '.' || text_[pos_] == 'e' || text_[pos_] == 'E')) {
        return error_at("expected an unsigned 32-bit integer", start);
    }
    if (too_large) {
        return error_at("number above 4294967295", start);
    }
    return static_cast<std::uint32_t>(value);
}

Gathered<std::string> JsonReader::read_string() {
    skip_space();
    if (pos_ == text_.size() || text_[pos_] != '"') {
        return unexpected_token("a string");
    }
    const std::size_t start = pos_++;
    std::string out;
    // Four hex digits after "\u" at `at`; the code unit they give.
    const auto code_unit = [&](std::size_t at) -> Gathered<std::uint32_t> {
        std::uint32_t unit = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            const auto digit = at + i < text_.size() ? hex_digit(text_[at + i]) : std::nullopt;
            if (!digit) {
                return error_at("malformed \\u escape", at - 2);
            }
            unit = unit << 4 | *digit;
        }
        return unit;
    };
    while (true) {
        if (pos_ == text_.size()) {
            return error_at("unterminated string", start);
        }
        const auto c = static_cast<unsigned char>(text_[pos_]);
        if (c == '"') {
            ++pos_;
            return out;
        }
        if (c < 0x20) {
            return error_at("control character in a string", pos_);
        }
        if (c >= 0x80) {
            const auto sequence = common::utf8_sequence_at(text_, pos_);
            if (!sequence.valid) {
                return error_at("invalid UTF-8 in a string", pos_);
            }
            out.append(text_.substr(pos_, sequence.length));
            pos_ += sequence.length;
            continue;
        }
        if (c != '\\') {
            // The plain run up to the next byte that needs a look, in one piece.
            std::size_t end = pos_ + 1;
            while (end < text_.size() && text_[end] != '"' && text_[end] != '\\' &&
                   static_cast<unsigned char>(text_[end]) >= 0x20 &&
                   static_cast<unsigned char>(text_[end]) < 0x80) {
                ++end;
            }
            out.append(text_.substr(pos_, end - pos_));
            pos_ = end;
            continue;
        }
        const std::size_t escape = pos_;
        if (pos_ + 1 == text_.size()) {
            return error_at("unterminated string", start);
        }
        const char kind = text_[pos_ + 1];
        pos_ += 2;
        switch (kind) {
        case '"':
        case '\\':
        case '/':
            out += kind;
            continue;
        case 'b':
            out += '\b';
            continue;
        case 'f':
            out += '\f';
            continue;
        case 'n':
            out += '\n';
            continue;
        case 'r':
            out += '\r';
            continue;
        case 't':
            out += '\t';
            continue;
        case 'u':
            break;
        default:
            return error_at("invalid escape", escape);
        }
        QM_TRY(std::uint32_t unit, code_unit(pos_));
        pos_ += 4;
        if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return error_at("unpaired surrogate escape", escape);
        }
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (text_.substr(pos_, 2) != "\\u") {
                return error_at("unpaired surrogate escape", escape);
            }
            QM_TRY(const std::uint32_t low, code_unit(pos_ + 2));
            if (low < 0xDC00 || low > 0xDFFF) {
                return error_at("unpaired surrogate escape", escape);
            }
            pos_ += 6;
            unit = 0x10000 + ((unit - 0xD800) << 10 | (low - 0xDC00));
        }
        append_utf8(out, unit);
    }
}

Gathered<void> JsonReader::skip_number() {
    const std::size_t start = pos_;
    const auto digits = [&] {
        const std::size_t from = pos_;
        while (pos_ < text_.size() && is_digit(text_[pos_])) {
            ++pos_;
        }
        return pos_ - from;
    };
    if (text_[pos_] == '-') {
        ++pos_;
    }
    const std::size_t integer_start = pos_;
    const std::size_t integer = digits();
    bool ok = integer != 0 && !(integer > 1 && text_[integer_start] == '0');
    if (ok && pos_ < text_.size() && text_[pos_] == '.') {
        ++pos_;
        ok = digits() != 0;
    }
    if (ok && pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
        ++pos_;
        if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) {
            ++pos_;
        }
        ok = digits() != 0;
    }
    if (!ok) {
        return error_at("malformed number", start);
    }
    return {};
}

Gathered<void> JsonReader::skip_literal() {
    for (const std::string_view literal : {"true", "false", "null"}) {
        if (text_.substr(pos_, literal.size()) == literal) {
            pos_ += literal.size();
            return {};
        }
    }
    return unexpected_token("a value");
}

Gathered<void> JsonReader::skip_value() {
    const std::size_t base = open_.size();
    bool need_value = true;
    while (true) {
        if (need_value) {
            skip_space();
            const char c = pos_ < text_.size() ? text_[pos_] : '\0';
            if (c == '{' || c == '[') {
                QM_TRY_VOID(c == '{' ? begin_object() : begin_array());
            } else if (c == '"') {
                QM_TRY_VOID(read_string());
            } else if (c == '-' || is_digit(c)) {
                QM_TRY_VOID(skip_number());
            } else {
                QM_TRY_VOID(skip_literal());
            }
        }
        if (open_.size() == base) {
            return {};
        }
        if (open_.back().close == '}') {
            QM_TRY(const auto name, next_member());
            need_value = name.has_value();
        } else {
            QM_TRY(need_value, next_element());
        }
    }
}

Gathered<void> JsonReader::finish() {
    skip_space();
    if (pos_ != text_.size()) {
        return error_at("unexpected text after the document", pos_);
    }
    return {};
}

} // namespace quillmere::inspect
