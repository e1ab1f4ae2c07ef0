// The single error type of every record reader, hook reader and file-type decoder.
#include "quillmere/common/decode_error.hpp"

#include "quillmere/common/text.hpp"

namespace quillmere::common {
namespace {

std::string inner_message(const std::variant<IoError, CustomError>& inner) {
    if (const auto* io = std::get_if<IoError>(&inner)) {
        return io->message();
    }
    const auto& custom = std::get<CustomError>(inner);
    return custom.message + " at 0x" + hex_lower(custom.pos);
}

std::string inner_diagnostic(const std::variant<IoError, CustomError>& inner) {
    if (const auto* io = std::get_if<IoError>(&inner)) {
        return "Io(" + io->diagnostic() + ")";
    }
    const auto& custom = std::get<CustomError>(inner);
    return "Custom { pos: " + std::to_string(custom.pos) + ", message: " + quoted(custom.message) +
           " }";
}

} // namespace

DecodeError::Kind DecodeError::kind() const noexcept {
    if (!contexts_.empty()) {
        return Kind::Backtrace;
    }
    return std::holds_alternative<IoError>(inner_) ? Kind::Io : Kind::Custom;
}

void DecodeError::add_context(std::string message, std::source_location location) {
    contexts_.push_back(ErrorContext{std::move(message), location});
}

std::string DecodeError::message() const {
    std::string out = inner_message(inner_);
    for (std::size_t i = 0; i < contexts_.size(); ++i) {
        const auto& context = contexts_[i];
        out += "\n " + std::to_string(i) + ": " + context.message + "\n     at " +
               context.location.file_name() + ":" + std::to_string(context.location.line());
    }
    return out;
}

std::string DecodeError::one_line() const {
    std::string out = inner_message(inner_);
    for (const auto& context : contexts_) {
        out += "; " + context.message;
    }
    return out;
}

std::string DecodeError::diagnostic() const {
    if (contexts_.empty()) {
        return inner_diagnostic(inner_);
    }
    std::string out = "Backtrace { error: " + inner_diagnostic(inner_) + ", contexts: [";
    for (std::size_t i = 0; i < contexts_.size(); ++i) {
        out += (i == 0 ? "" : ", ") + quoted(contexts_[i].message);
    }
    return out + "] }";
}

} // namespace quillmere::common
