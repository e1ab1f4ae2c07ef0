// Physics scripts: decoding, and encoding that reproduces the decoded bytes.
#include "quillmere/dat/file_type/physics_script.hpp"

#include "file_type/detail/physics_script.hpp"
#include "quillmere/common/le.hpp"
#include "quillmere/common/text.hpp"
#include "quillmere/common/try.hpp"

#include <bit>
#include <limits>
#include <string>

namespace quillmere::dat::file_type::physics_script {

using common::ByteCursor;
using common::ByteWriter;
using common::DecodeError;
using common::DecodeResult;

namespace {

// Start time bits, then the hook: the one encoding of an entry, owned or viewed.
template <class Hook>
DecodeResult<void> write_entry(ByteWriter& writer, double start_time, const Hook& hook) {
    writer.write_le(std::bit_cast<std::uint64_t>(start_time));
    return hook.write(writer);
}

// Id, entry count and entries: the one encoding of a script, for its owned form and its view.
// The count is checked before the first byte, so a refused script leaves the output untouched.
template <class Entries>
DecodeResult<void> write_script(ByteWriter& writer, std::uint32_t id, const Entries& entries,
                                std::uint64_t entry_count) {
    QM_TRY(std::uint32_t count, detail::entry_count(id, entry_count, writer.position()));
    writer.write_u32(id);
    writer.write_u32(count);
    for (const auto& entry : entries) {
        QM_TRY_VOID(entry.write(writer));
    }
    return {};
}

} // namespace

namespace detail {

DecodeResult<std::uint32_t> entry_count(std::uint32_t id, std::uint64_t count, std::uint64_t pos) {
    if (count > std::numeric_limits<std::uint32_t>::max()) {
        return std::unexpected(DecodeError::custom(
            pos, "PhysicsScript 0x" + common::hex8(id) + " has " + std::to_string(count) +
                     " entries, more than a 32-bit count can hold"));
    }
    return static_cast<std::uint32_t>(count);
}

} // namespace detail

// The start time travels as its bit pattern so that no float conversion can touch it.
bool PhysicsScriptDataStep::operator()(std::span<const std::uint8_t> data, std::uint64_t& pos,
                                       PhysicsScriptDataView& out) const noexcept {
    if (pos > data.size() || data.size() - pos < 8) {
        return false;
    }
    std::uint64_t end = pos + 8;
    setup_model::HookView hook;
    if (!setup_model::HookStep{}(data, end, hook)) {
        return false;
    }
    out = PhysicsScriptDataView{
        std::bit_cast<double>(common::load_le<std::uint64_t>(data.data() + pos)), hook};
    pos = end;
    return true;
}

DecodeResult<PhysicsScriptDataView> PhysicsScriptDataView::read(ByteCursor& cursor) {
    std::uint64_t pos = cursor.position();
    if (PhysicsScriptDataView entry; PhysicsScriptDataStep{}(cursor.data(), pos, entry)) {
        cursor.set_position(pos);
        return entry;
    }
    QM_TRY(std::uint64_t start_time_bits, cursor.read_le<std::uint64_t>());
    QM_TRY(setup_model::HookView hook, setup_model::HookView::read(cursor));
    return PhysicsScriptDataView{std::bit_cast<double>(start_time_bits), hook};
}

DecodeResult<void> PhysicsScriptDataView::write(ByteWriter& writer) const {
    return write_entry(writer, start_time, hook);
}

PhysicsScriptData PhysicsScriptDataView::to_owned() const {
    return PhysicsScriptData{start_time, hook.to_owned()};
}

DecodeResult<PhysicsScriptView> PhysicsScriptView::read(ByteCursor& cursor) {
    QM_TRY(std::uint32_t id, cursor.read_u32());
    QM_TRY(std::uint32_t num_script_datas, cursor.read_u32());
    // Every entry takes at least 16 bytes, so a huge count ends with the input.
    const std::uint64_t entries_start = cursor.position();
    for (std::uint32_t i = 0; i < num_script_datas; ++i) {
        QM_TRY_VOID(PhysicsScriptDataView::read(cursor));
    }
    return PhysicsScriptView{id, {cursor.data(), entries_start, num_script_datas}};
}

DecodeResult<void> PhysicsScriptView::write(ByteWriter& writer) const {
    return write_script(writer, id, script_data, script_data.size());
}

DecodeResult<PhysicsScriptData> PhysicsScriptData::read(ByteCursor& cursor) {
    QM_TRY(const PhysicsScriptDataView entry, PhysicsScriptDataView::read(cursor));
    return entry.to_owned();
}

DecodeResult<void> PhysicsScriptData::write(ByteWriter& writer) const {
    return write_entry(writer, start_time, hook);
}

DecodeResult<PhysicsScript> PhysicsScript::unpack(std::span<const std::uint8_t> data) {
    ByteCursor cursor(data);
    return read(cursor);
}

DecodeResult<PhysicsScript> PhysicsScript::read(ByteCursor& cursor) {
    QM_TRY(const PhysicsScriptView view, PhysicsScriptView::read(cursor));
    PhysicsScript script{view.id, {}};
    // The view's `read` found every entry, so the count is what the input holds.
    script.script_data.reserve(view.script_data.size());
    for (const PhysicsScriptDataView& entry : view.script_data) {
        script.script_data.push_back(entry.to_owned());
    }
    return script;
}

DecodeResult<std::vector<std::uint8_t>> PhysicsScript::pack() const {
    std::size_t size = 8;
    for (const auto& entry : script_data) {
        size += 8 + entry.hook.encoded_size();
    }
    std::vector<std::uint8_t> out;
    out.reserve(size);
    ByteWriter writer(out);
    QM_TRY_VOID(write(writer));
    return out;
}

DecodeResult<void> PhysicsScript::write(ByteWriter& writer) const {
    return write_script(writer, id, script_data, script_data.size());
}

DecodeResult<PhysicsScript> PhysicsScript::read(std::span<const std::uint8_t> data,
                                                std::uint64_t* consumed) {
    ByteCursor cursor(data);
    auto decoded = read(cursor);
    if (decoded && consumed != nullptr) {
        *consumed = cursor.position();
    }
    return decoded;
}

} // namespace quillmere::dat::file_type::physics_script
