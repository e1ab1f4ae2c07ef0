// The archive layer's error value.
#include "quillmere/dat/dat_error.hpp"

#include "quillmere/common/text.hpp"

#include <algorithm>

namespace quillmere::dat {

using common::hex8;

DatError::DatError(common::IoError error) : kind_(Kind::Io), payload_(std::move(error)) {}

DatError::DatError(common::DecodeError error) : kind_(Kind::BinRead), payload_(std::move(error)) {}

DatError DatError::not_found(std::uint32_t file_id) {
    return {Kind::NotFound, file_id};
}

DatError DatError::duplicate_id(std::uint32_t file_id) {
    return {Kind::DuplicateId, file_id};
}

DatError DatError::duplicate_namespaced_id(std::string name_space, std::uint32_t file_id) {
    return {Kind::DuplicateNamespacedId, NamespacedId{std::move(name_space), file_id}};
}

DatError DatError::invalid_magic(std::string format) {
    return {Kind::InvalidMagic, std::move(format)};
}

DatError DatError::unsupported_version(std::uint32_t version) {
    return {Kind::UnsupportedVersion, version};
}

DatError DatError::invalid_namespace(std::string name_space) {
    return {Kind::InvalidNamespace, std::move(name_space)};
}

DatError DatError::corruption(std::string what) {
    return {Kind::Corruption, std::move(what)};
}

DatError DatError::decompression_failed(std::uint32_t file_id) {
    return {Kind::DecompressionFailed, file_id};
}

DatError DatError::path_error(std::filesystem::path path, common::IoError source) {
    return {Kind::PathError, PathFailure{std::move(path), std::move(source)}};
}

DatError DatError::other(std::string what) {
    return {Kind::Other, std::move(what)};
}

DatError DatError::refused(WriteRefusal reason, std::string what) {
    DatError error = other(std::move(what));
    error.refusal_ = reason;
    return error;
}

void DatError::add_read_place(const ReadPlace& place) {
    if (!read_place_) {
        read_place_ = place;
        return;
    }
    if (!read_place_->file_id) {
        read_place_->file_id = place.file_id;
    }
    if (!read_place_->node_offset) {
        read_place_->node_offset = place.node_offset;
    }
}

std::string DatError::message_line() const {
    if (const auto* decode = decode_error()) {
        return "Binary read error: " + decode->one_line();
    }
    std::string out = message();
    std::replace(out.begin(), out.end(), '\n', ' ');
    return out;
}

std::string DatError::one_line() const {
    std::string out = message_line();
    if (read_place_) {
        out += " (";
        if (read_place_->file_id) {
            out += "file " + hex8(*read_place_->file_id) + ", ";
        }
        if (read_place_->node_offset) {
            out += "directory node at offset " + std::to_string(*read_place_->node_offset) + ", ";
        }
        out += "block at offset " + std::to_string(read_place_->block_offset) + ")";
    }
    return out;
}

const common::IoError* DatError::io_error() const noexcept {
    return std::get_if<common::IoError>(&payload_);
}

const common::DecodeError* DatError::decode_error() const noexcept {
    return std::get_if<common::DecodeError>(&payload_);
}

std::optional<std::uint32_t> DatError::file_id() const noexcept {
    if (kind_ == Kind::UnsupportedVersion) {
        return std::nullopt;
    }
    if (const auto* id = std::get_if<std::uint32_t>(&payload_)) {
        return *id;
    }
    if (const auto* namespaced = std::get_if<NamespacedId>(&payload_)) {
        return namespaced->file_id;
    }
    return std::nullopt;
}

std::optional<std::uint32_t> DatError::version() const noexcept {
    if (kind_ != Kind::UnsupportedVersion) {
        return std::nullopt;
    }
    return std::get<std::uint32_t>(payload_);
}

const std::string* DatError::text() const noexcept {
    return std::get_if<std::string>(&payload_);
}

const DatError::NamespacedId* DatError::namespaced_id() const noexcept {
    return std::get_if<NamespacedId>(&payload_);
}

const DatError::PathFailure* DatError::path_failure() const noexcept {
    return std::get_if<PathFailure>(&payload_);
}

std::string DatError::message() const {
    switch (kind_) {
    case Kind::Io:
        return "IO error: " + io_error()->message();
    case Kind::BinRead:
        return "Binary read error: " + decode_error()->message();
    case Kind::NotFound:
        return "File ID " + hex8(*file_id()) + " not found in provider";
    case Kind::DuplicateId:
        return "Duplicate File ID " + hex8(*file_id()) + " detected";
    case Kind::DuplicateNamespacedId:
        return "Duplicate namespaced file " + namespaced_id()->name_space + ":" +
               hex8(namespaced_id()->file_id) + " detected";
    case Kind::InvalidMagic:
        return "Invalid magic for format: " + *text();
    case Kind::UnsupportedVersion:
        return "Unsupported version: " + std::to_string(*version());
    case Kind::InvalidNamespace:
        return "Invalid namespace: " + *text();
    case Kind::Corruption:
        return "Corruption detected: " + *text();
    case Kind::DecompressionFailed:
        return "Failed to recover compressed file " + hex8(*file_id());
    case Kind::PathError:
        return "Failed to open file at " + path_failure()->path.string() + ": " +
               path_failure()->source.message();
    case Kind::Other:
        return "Other error: " + *text();
    }
    return {};
}

std::string DatError::diagnostic() const {
    const std::string name(kind_name(kind_));
    switch (kind_) {
    case Kind::Io:
        return name + "(" + io_error()->diagnostic() + ")";
    case Kind::BinRead:
        return name + "(" + decode_error()->diagnostic() + ")";
    case Kind::NotFound:
    case Kind::DuplicateId:
    case Kind::DecompressionFailed:
    case Kind::UnsupportedVersion:
        return name + "(" + std::to_string(std::get<std::uint32_t>(payload_)) + ")";
    case Kind::InvalidMagic:
    case Kind::InvalidNamespace:
    case Kind::Corruption:
    case Kind::Other:
        return name + "(" + common::quoted(*text()) + ")";
    case Kind::DuplicateNamespacedId:
        return name + " { namespace: " + common::quoted(namespaced_id()->name_space) +
               ", file_id: " + std::to_string(namespaced_id()->file_id) + " }";
    case Kind::PathError:
        return name + " { path: " + common::quoted(path_failure()->path.string()) +
               ", source: " + path_failure()->source.diagnostic() + " }";
    }
    return name;
}

std::string_view kind_name(DatError::Kind kind) noexcept {
    switch (kind) {
    case DatError::Kind::Io:
        return "Io";
    case DatError::Kind::BinRead:
        return "BinRead";
    case DatError::Kind::NotFound:
        return "NotFound";
    case DatError::Kind::DuplicateId:
        return "DuplicateId";
    case DatError::Kind::DuplicateNamespacedId:
        return "DuplicateNamespacedId";
    case DatError::Kind::InvalidMagic:
        return "InvalidMagic";
    case DatError::Kind::UnsupportedVersion:
        return "UnsupportedVersion";
    case DatError::Kind::InvalidNamespace:
        return "InvalidNamespace";
    case DatError::Kind::Corruption:
        return "Corruption";
    case DatError::Kind::DecompressionFailed:
        return "DecompressionFailed";
    case DatError::Kind::PathError:
        return "PathError";
    case DatError::Kind::Other:
        return "Other";
    }
    return "Other";
}

} // namespace quillmere::dat
