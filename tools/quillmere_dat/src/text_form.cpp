// The text form of a hook-carrying file: written straight into a string (so that floats come
// out as their shortest exact text), read back through nlohmann's SAX parser into a small tree
// that keeps each number's text, and encoded by the library's encoders.
#include "text_form.hpp"

#include "payload_fields.hpp"
#include "quillmere/common/byte_writer.hpp"
#include "quillmere/common/le.hpp"
#include "quillmere/common/overloaded.hpp"
#include "quillmere/common/text.hpp"
#include "quillmere/common/try.hpp"
#include "quillmere/dat/file_type/animation.hpp"
#include "quillmere/dat/file_type/hook_payload.hpp"
#include "quillmere/dat/file_type/physics_script.hpp"
#include "quillmere/dat/file_type/setup_model.hpp"
#include "quillmere/tools/hook_type_names.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>

namespace quillmere::dat_tool {
namespace {

namespace ft = dat::file_type;
namespace setup = dat::file_type::setup_model;
using dat::graphics::Frame;

constexpr std::uint32_t kReplaceObject = 5;

// ---- Writing ---------------------------------------------------------------------------------

void put_u32(std::string& out, std::uint32_t value) {
    char buffer[16];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    out.append(buffer, end);
}

void put_i32(std::string& out, std::int32_t value) {
    char buffer[16];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    out.append(buffer, end);
}

void put_hex(std::string& out, std::uint64_t value, int digits) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out += "0x";
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
        out.push_back(kDigits[(value >> shift) & 0xF]);
    }
}

void put_id(std::string& out, std::uint32_t id) {
    out.push_back('"');
    put_hex(out, id, 8);
    out.push_back('"');
}

// A float as the shortest text that reads back to its bits (negative zero as -0.0, which every
// JSON reader takes for a float); one that is not finite as its bits.
template <class Float, class Bits>
void put_float(std::string& out, Float value) {
    if (!std::isfinite(value)) {
        out += "{\"bits\": \"";
        put_hex(out, std::bit_cast<Bits>(value), static_cast<int>(sizeof(Bits) * 2));
        out += "\"}";
    } else if (value == 0 && std::signbit(value)) {
        out += "-0.0";
    } else {
        char buffer[40];
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
        out.append(buffer, end);
    }
}

void put_f32(std::string& out, float value) {
    put_float<float, std::uint32_t>(out, value);
}
void put_f64(std::string& out, double value) {
    put_float<double, std::uint64_t>(out, value);
}

void put_bytes(std::string& out, std::span<const std::uint8_t> bytes) {
    out.push_back('"');
    out += common::hex_bytes(bytes);
    out.push_back('"');
}

// Members of one-line objects: `"name": ` after a ", " for all but the first.
void key(std::string& out, std::string_view name, bool first = false) {
    if (!first) {
        out += ", ";
    }
    out.push_back('"');
    out += name;
    out += "\": ";
}

void put_vector(std::string& out, const common::Vector3& v) {
    out += "{\"x\": ";
    put_f32(out, v.x);
    key(out, "y");
    put_f32(out, v.y);
    key(out, "z");
    put_f32(out, v.z);
    out.push_back('}');
}

void put_frame(std::string& out, const Frame& f) {
    out += "{\"origin\": ";
    put_vector(out, f.origin);
    out += ", \"orientation\": {\"w\": ";
    put_f32(out, f.orientation.w);
    key(out, "x");
    put_f32(out, f.orientation.x);
    key(out, "y");
    put_f32(out, f.orientation.y);
    key(out, "z");
    put_f32(out, f.orientation.z);
    out += "}}";
}

void put_sphere(std::string& out, const common::Sphere& s) {
    out += "{\"center\": ";
    put_vector(out, s.center);
    key(out, "radius");
    put_f32(out, s.radius);
    out.push_back('}');
}

// A one-line list.
template <class List, class Put>
void put_list(std::string& out, const List& list, Put put) {
    out.push_back('[');
    bool first = true;
    for (const auto& item : list) {
        if (!first) {
            out += ", ";
        }
        first = false;
        put(out, item);
    }
    out.push_back(']');
}

// The payload bytes of a hook of a known type as its data holds them: the fixed size, or for
// ReplaceObject 3 or 5 as bit 15 of its first word says.
std::size_t payload_size(std::uint32_t hook_type, std::span<const std::uint8_t> data) {
    if (const auto size = setup::fixed_payload_size(hook_type)) {
        return *size;
    }
    return data.size() >= 3 && (data[2] & 0x80) != 0 ? 5 : 3;
}

Gathered<void> put_hook(std::string& out, const setup::AnimationHook& hook) {
    out += "{\"hook_type\": ";
    put_u32(out, hook.hook_type);
    const std::string_view name = tools::hook_type_name(hook.hook_type);
    if (name.empty()) {
        key(out, "direction");
        put_i32(out, hook.direction);
        key(out, "data");
        put_bytes(out, hook.data);
        out.push_back('}');
        return {};
    }
    key(out, "name");
    out.push_back('"');
    out += name;
    out.push_back('"');
    key(out, "direction");
    put_i32(out, hook.direction);
    key(out, "payload");
    const auto payload = setup::unpack_payload(hook.hook_type, hook.data);
    if (!payload) {
        return std::unexpected(payload.error().one_line());
    }
    out.push_back('{');
    bool first = true;
    for (const PayloadField& field : payload_fields(*payload)) {
        key(out, field.name, first);
        first = false;
        std::visit(common::Overloaded{
                       [&](FileIdValue v) { put_id(out, v.id); },
                       [&](std::uint32_t v) { put_u32(out, v); },
                       [&](std::int32_t v) { put_i32(out, v); },
                       [&](float v) { put_f32(out, v); },
                       [&](const common::Vector3& v) { put_vector(out, v); },
                       [&](const Frame& v) { put_frame(out, v); },
                   },
                   field.value);
    }
    out.push_back('}');
    const std::span<const std::uint8_t> data = hook.data;
    const std::size_t size = std::min(payload_size(hook.hook_type, data), data.size());
    const auto padding = data.subspan(size);
    if (std::any_of(padding.begin(), padding.end(), [](std::uint8_t b) { return b != 0; })) {
        key(out, "padding");
        put_bytes(out, padding);
    }
    if (hook.hook_type == kReplaceObject && size == 5 &&
        std::get<setup::AnimPartChange>(*payload).part_id < 0x8000) {
        key(out, "wide_part_id");
        out += "true";
    }
    out.push_back('}');
    return {};
}

Gathered<void> put_anim_frame(std::string& out, const setup::AnimationFrame& frame) {
    out += "{\"frames\": ";
    put_list(out, frame.frames, put_frame);
    key(out, "hooks");
    out.push_back('[');
    for (std::size_t i = 0; i < frame.hooks.size(); ++i) {
        out += i == 0 ? "" : ", ";
        if (auto put = put_hook(out, frame.hooks[i]); !put) {
            return put;
        }
    }
    out += "]}";
    return {};
}

// The document's members, each on a line of its own; lists one item a line.
class Document {
  public:
    Document(std::uint32_t id, ft::FileType type) {
        out_ = "{\n  \"format\": ";
        put_u32(out_, kTextFormFormat);
        member("id");
        put_id(out_, id);
        member("file_type");
        out_ += '"';
        out_ += ft::name(type);
        out_ += '"';
    }

    // Starts member `name`; its value is then written to `out()`.
    std::string& member(std::string_view name) {
        out_ += ",\n  \"";
        out_ += name;
        out_ += "\": ";
        return out_;
    }

    // Member `name` as a list of `items`, each written by `put` on a line of its own.
    template <class List, class Put>
    Gathered<void> list(std::string_view name, const List& items, Put put) {
        member(name);
        out_.push_back('[');
        bool first = true;
        for (const auto& item : items) {
            out_ += first ? "\n    " : ",\n    ";
            first = false;
            if (auto done = put(out_, item); !done) {
                return done;
            }
        }
        out_ += first ? "]" : "\n  ]";
        return {};
    }

    std::string finish(std::span<const std::uint8_t> trailing) {
        if (!trailing.empty()) {
            put_bytes(member("trailing"), trailing);
        }
        out_ += "\n}\n";
        return std::move(out_);
    }

  private:
    std::string out_;
};

// Adapts a writer that cannot fail to `Document::list`.
template <class Put>
auto infallible(Put put) {
    return [put](std::string& out, const auto& item) -> Gathered<void> {
        put(out, item);
        return {};
    };
}

template <class Record, class PutValue>
auto keyed(PutValue put_value) {
    return [put_value](std::string& out, const setup::Keyed<Record>& entry) -> Gathered<void> {
        out += "{\"key\": ";
        put_i32(out, entry.key);
        out += ", \"value\": ";
        if (auto done = put_value(out, entry.value); !done) {
            return done;
        }
        out.push_back('}');
        return {};
    };
}

Gathered<void> put_location(std::string& out, const setup::LocationType& location) {
    out += "{\"part_id\": ";
    put_i32(out, location.part_id);
    key(out, "frame");
    put_frame(out, location.frame);
    out.push_back('}');
    return {};
}

Gathered<void> put_light(std::string& out, const setup::LightInfo& light) {
    out += "{\"viewer_space_location\": ";
    put_frame(out, light.viewer_space_location);
    key(out, "color");
    put_u32(out, light.color);
    key(out, "intensity");
    put_f32(out, light.intensity);
    key(out, "falloff");
    put_f32(out, light.falloff);
    key(out, "cone_angle");
    put_f32(out, light.cone_angle);
    out.push_back('}');
    return {};
}

Gathered<std::string> animation_text(std::span<const std::uint8_t> bytes) {
    std::uint64_t consumed = 0;
    const auto animation = ft::animation::Animation::read(bytes, &consumed);
    if (!animation) {
        return std::unexpected(animation.error().one_line());
    }
    Document doc(animation->id, ft::FileType::Animation);
    put_u32(doc.member("flags"), animation->flags.bits());
    put_u32(doc.member("num_parts"), animation->num_parts);
    put_u32(doc.member("num_frames"), animation->num_frames);
    QM_TRY_VOID(doc.list("pos_frames", animation->pos_frames, infallible(put_frame)));
    QM_TRY_VOID(doc.list("part_frames", animation->part_frames, put_anim_frame));
    return doc.finish(bytes.subspan(consumed));
}

Gathered<std::string> setup_model_text(std::span<const std::uint8_t> bytes) {
    std::uint64_t consumed = 0;
    const auto model = setup::StoredSetupModel::read(bytes, &consumed);
    if (!model) {
        return std::unexpected(model.error().one_line());
    }
    Document doc(model->id, ft::FileType::SetupModel);
    put_u32(doc.member("flags"), model->flags);
    put_list(doc.member("parts"), model->parts, put_id);
    put_list(doc.member("parent_index"), model->parent_index, put_u32);
    put_list(doc.member("default_scale"), model->default_scale, put_vector);
    QM_TRY_VOID(doc.list("holding_locations", model->holding_locations,
                         keyed<setup::LocationType>(put_location)));
    QM_TRY_VOID(doc.list("connection_points", model->connection_points,
                         keyed<setup::LocationType>(put_location)));
    QM_TRY_VOID(
        doc.list("placement_frames", model->placement_frames,
                 keyed<setup::PlacementType>(
                     [](std::string& out, const setup::PlacementType& placement) -> Gathered<void> {
                         out += "{\"anim_frame\": ";
                         QM_TRY_VOID(put_anim_frame(out, placement.anim_frame));
                         out.push_back('}');
                         return Gathered<void>{};
                     })));
    QM_TRY_VOID(doc.list("cyl_spheres", model->cyl_spheres,
                         infallible([](std::string& out, const setup::CylSphere& cyl) {
                             out += "{\"origin\": ";
                             put_vector(out, cyl.origin);
                             key(out, "radius");
                             put_f32(out, cyl.radius);
                             key(out, "height");
                             put_f32(out, cyl.height);
                             out.push_back('}');
                         })));
    QM_TRY_VOID(doc.list("spheres", model->spheres, infallible(put_sphere)));
    put_f32(doc.member("height"), model->height);
    put_f32(doc.member("radius"), model->radius);
    put_f32(doc.member("step_up"), model->step_up);
    put_f32(doc.member("step_down"), model->step_down);
    put_sphere(doc.member("sorting_sphere"), model->sorting_sphere);
    put_sphere(doc.member("selection_sphere"), model->selection_sphere);
    QM_TRY_VOID(doc.list("lights", model->lights, keyed<setup::LightInfo>(put_light)));
    const std::pair<std::string_view, const std::optional<std::uint32_t>*> defaults[] = {
        {"default_animation", &model->default_animation},
        {"default_script", &model->default_script},
        {"default_motion_table", &model->default_motion_table},
        {"default_sound_table", &model->default_sound_table},
        {"default_script_table", &model->default_script_table}};
    for (const auto& [name, value] : defaults) {
        std::string& out = doc.member(name);
        if (value->has_value()) {
            put_id(out, **value);
        } else {
            out += "null";
        }
    }
    return doc.finish(bytes.subspan(consumed));
}

Gathered<std::string> physics_script_text(std::span<const std::uint8_t> bytes) {
    std::uint64_t consumed = 0;
    const auto script = ft::physics_script::PhysicsScript::read(bytes, &consumed);
    if (!script) {
        return std::unexpected(script.error().one_line());
    }
    Document doc(script->id, ft::FileType::PhysicsScript);
    QM_TRY_VOID(doc.list(
        "script_data", script->script_data,
        [](std::string& out, const ft::physics_script::PhysicsScriptData& entry) -> Gathered<void> {
            out += "{\"start_time\": ";
            put_f64(out, entry.start_time);
            out += ", \"hook\": ";
            QM_TRY_VOID(put_hook(out, entry.hook));
            out.push_back('}');
            return Gathered<void>{};
        }));
    return doc.finish(bytes.subspan(consumed));
}

// ---- Reading ---------------------------------------------------------------------------------

// A JSON value as parsed, numbers kept as the kind and text the parser saw.
struct Value {
    enum class Kind : std::uint8_t {
        Null,
        Boolean,
        Integer,
        Unsigned,
        Float,
        String,
        Array,
        Object
    };
    Kind kind = Kind::Null;
    bool boolean = false;
    std::int64_t integer = 0;
    std::uint64_t unsigned_integer = 0;
    // A float's text as written, or a string's value.
    std::string text;
    std::vector<Value> items;
    std::vector<std::pair<std::string, Value>> members;
};

constexpr std::size_t kMaxDepth = 64;

// Builds a `Value` tree from nlohmann's SAX events; refuses nesting deeper than kMaxDepth, so
// that no document can make the tree's destruction recurse too deep.
class TreeBuilder final : public nlohmann::json_sax<nlohmann::json> {
  public:
    Value root;
    std::string error;

    bool null() override { return add(Value{}); }
    bool boolean(bool value) override {
        Value v;
        v.kind = Value::Kind::Boolean;
        v.boolean = value;
        return add(std::move(v));
    }
    bool number_integer(number_integer_t value) override {
        Value v;
        v.kind = Value::Kind::Integer;
        v.integer = value;
        return add(std::move(v));
    }
    bool number_unsigned(number_unsigned_t value) override {
        Value v;
        v.kind = Value::Kind::Unsigned;
        v.unsigned_integer = value;
        return add(std::move(v));
    }
    bool number_float(number_float_t, const string_t& text) override {
        Value v;
        v.kind = Value::Kind::Float;
        v.text = text;
        return add(std::move(v));
    }
    bool string(string_t& value) override {
        Value v;
        v.kind = Value::Kind::String;
        v.text = std::move(value);
        return add(std::move(v));
    }
    bool binary(binary_t&) override { return false; }
    bool start_object(std::size_t) override {
        Value v;
        v.kind = Value::Kind::Object;
        return open(std::move(v));
    }
    bool key(string_t& name) override {
        stack_.back()->members.emplace_back(std::move(name), Value{});
        return true;
    }
    bool end_object() override {
        stack_.pop_back();
        return true;
    }
    bool start_array(std::size_t) override {
        Value v;
        v.kind = Value::Kind::Array;
        return open(std::move(v));
    }
    bool end_array() override {
        stack_.pop_back();
        return true;
    }
    bool parse_error(std::size_t position, const std::string&,
                     const nlohmann::json::exception& ex) override {
        std::string what = ex.what();
        // "[json.exception.parse_error.101] parse error at line 1, column 2: ..." loses its tag.
        if (const auto tag_end = what.find("] "); tag_end != std::string::npos) {
            what = what.substr(tag_end + 2);
        }
        error = "not JSON: " + what + " (byte " + std::to_string(position == 0 ? 0 : position - 1) +
                ")";
        return false;
    }

  private:
    // Where the next value goes, or null for the root.
    Value* slot() {
        if (stack_.empty()) {
            return &root;
        }
        Value* parent = stack_.back();
        if (parent->kind == Value::Kind::Array) {
            return &parent->items.emplace_back();
        }
        return &parent->members.back().second;
    }
    bool add(Value value) {
        *slot() = std::move(value);
        return true;
    }
    bool open(Value value) {
        if (stack_.size() >= kMaxDepth) {
            error = "nesting deeper than " + std::to_string(kMaxDepth) + " levels";
            return false;
        }
        Value* at = slot();
        *at = std::move(value);
        stack_.push_back(at);
        return true;
    }

    std::vector<Value*> stack_;
};

// A document that does not describe a file: the path of the value at fault and what is wrong.
struct Refusal {
    std::string path;
    std::string what;
};

[[noreturn]] void refuse(const std::string& path, std::string what) {
    throw Refusal{path, std::move(what)};
}

std::string member_path(const std::string& path, std::string_view name) {
    return path.empty() ? std::string(name) : path + "." + std::string(name);
}

std::string item_path(const std::string& path, std::size_t index) {
    return path + "[" + std::to_string(index) + "]";
}

std::string_view kind_name(Value::Kind kind) {
    switch (kind) {
    case Value::Kind::Null:
        return "null";
    case Value::Kind::Boolean:
        return "a boolean";
    case Value::Kind::Integer:
    case Value::Kind::Unsigned:
    case Value::Kind::Float:
        return "a number";
    case Value::Kind::String:
        return "a string";
    case Value::Kind::Array:
        return "an array";
    case Value::Kind::Object:
        return "an object";
    }
    return "a value";
}

[[noreturn]] void wrong(const Value& value, const std::string& path, std::string_view expected) {
    refuse(path,
           "expected " + std::string(expected) + ", found " + std::string(kind_name(value.kind)));
}

// An object whose members are taken by name; `done` refuses any member not taken.
class Object {
  public:
    Object(const Value& value, std::string path) : value_(value), path_(std::move(path)) {
        if (value.kind != Value::Kind::Object) {
            wrong(value, path_, "an object");
        }
        for (std::size_t i = 0; i < value.members.size(); ++i) {
            for (std::size_t j = 0; j < i; ++j) {
                if (value.members[i].first == value.members[j].first) {
                    refuse(member_path(path_, value.members[i].first), "given twice");
                }
            }
        }
        taken_.assign(value.members.size(), false);
    }

    // Member `name`, or nothing when absent.
    [[nodiscard]] const Value* find(std::string_view name) {
        for (std::size_t i = 0; i < value_.members.size(); ++i) {
            if (value_.members[i].first == name) {
                taken_[i] = true;
                return &value_.members[i].second;
            }
        }
        return nullptr;
    }
    // Member `name`, refused when absent.
    [[nodiscard]] const Value& get(std::string_view name) {
        const Value* found = find(name);
        if (found == nullptr) {
            refuse(member_path(path_, name), "missing");
        }
        return *found;
    }
    [[nodiscard]] std::string path(std::string_view name) const { return member_path(path_, name); }
    [[nodiscard]] const std::string& path() const { return path_; }
    void done() const {
        for (std::size_t i = 0; i < taken_.size(); ++i) {
            if (!taken_[i]) {
                refuse(member_path(path_, value_.members[i].first), "unknown member");
            }
        }
    }

  private:
    const Value& value_;
    std::string path_;
    std::vector<bool> taken_;
};

std::int64_t integer_in(const Value& value, const std::string& path, std::int64_t least,
                        std::int64_t most) {
    std::int64_t number = 0;
    if (value.kind == Value::Kind::Integer) {
        number = value.integer;
    } else if (value.kind == Value::Kind::Unsigned &&
               value.unsigned_integer <= static_cast<std::uint64_t>(most)) {
        number = static_cast<std::int64_t>(value.unsigned_integer);
    } else if (value.kind == Value::Kind::Unsigned) {
        number = most;
        refuse(path, "out of range: an integer from " + std::to_string(least) + " to " +
                         std::to_string(most) + " is expected");
    } else {
        wrong(value, path, "an integer");
    }
    if (number < least || number > most) {
        refuse(path, "out of range: an integer from " + std::to_string(least) + " to " +
                         std::to_string(most) + " is expected");
    }
    return number;
}

std::uint32_t read_u32(const Value& value, const std::string& path) {
    return static_cast<std::uint32_t>(
        integer_in(value, path, 0, std::numeric_limits<std::uint32_t>::max()));
}

std::int32_t read_i32(const Value& value, const std::string& path) {
    return static_cast<std::int32_t>(integer_in(value, path,
                                                std::numeric_limits<std::int32_t>::min(),
                                                std::numeric_limits<std::int32_t>::max()));
}

// "0x" and one to `digits` hex digits.
std::optional<std::uint64_t> hex_number(std::string_view text, std::size_t digits) {
    if (text.size() < 3 || text.size() > digits + 2 || text[0] != '0' ||
        (text[1] != 'x' && text[1] != 'X')) {
        return std::nullopt;
    }
    std::uint64_t number = 0;
    const auto [end, ec] = std::from_chars(text.data() + 2, text.data() + text.size(), number, 16);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return number;
}

std::uint32_t read_id(const Value& value, const std::string& path) {
    if (value.kind == Value::Kind::Integer || value.kind == Value::Kind::Unsigned) {
        return read_u32(value, path);
    }
    if (value.kind != Value::Kind::String) {
        wrong(value, path, "a file id such as \"0x0A000001\"");
    }
    const auto number = hex_number(value.text, 8);
    if (!number) {
        refuse(path, "expected a file id such as \"0x0A000001\", found \"" + value.text + "\"");
    }
    return static_cast<std::uint32_t>(*number);
}

template <class Float, class Bits>
Float read_float(const Value& value, const std::string& path) {
    constexpr std::size_t kDigits = sizeof(Bits) * 2;
    const std::string_view type = sizeof(Float) == 4 ? "a 32-bit float" : "a 64-bit float";
    switch (value.kind) {
    case Value::Kind::Integer:
        return static_cast<Float>(value.integer);
    case Value::Kind::Unsigned:
        return static_cast<Float>(value.unsigned_integer);
    case Value::Kind::Float: {
        Float number = 0;
        const char* first = value.text.data();
        const char* last = first + value.text.size();
        const auto [end, ec] = std::from_chars(first, last, number);
        if (ec == std::errc::result_out_of_range) {
            refuse(path, "out of range of " + std::string(type) + ": " + value.text);
        }
        if (ec != std::errc() || end != last) {
            refuse(path, "not " + std::string(type) + ": " + value.text);
        }
        return number;
    }
    case Value::Kind::Object: {
        Object object(value, path);
        const Value& bits = object.get("bits");
        object.done();
        const std::string bits_path = object.path("bits");
        if (bits.kind != Value::Kind::String) {
            wrong(bits, bits_path, "a string of hex digits such as \"0x7FC00001\"");
        }
        const auto number = hex_number(bits.text, kDigits);
        if (!number) {
            refuse(bits_path, "expected \"0x\" and up to " + std::to_string(kDigits) +
                                  " hex digits, found \"" + bits.text + "\"");
        }
        return std::bit_cast<Float>(static_cast<Bits>(*number));
    }
    default:
        wrong(value, path, "a number or {\"bits\": \"0x...\"}");
    }
}

float read_f32(const Value& value, const std::string& path) {
    return read_float<float, std::uint32_t>(value, path);
}

double read_f64(const Value& value, const std::string& path) {
    return read_float<double, std::uint64_t>(value, path);
}

std::vector<std::uint8_t> read_hex_bytes(const Value& value, const std::string& path) {
    if (value.kind != Value::Kind::String) {
        wrong(value, path, "a string of hex digits");
    }
    const std::string& text = value.text;
    if (text.size() % 2 != 0) {
        refuse(path, "expected an even number of hex digits");
    }
    std::vector<std::uint8_t> bytes(text.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto [end, ec] =
            std::from_chars(text.data() + 2 * i, text.data() + 2 * i + 2, bytes[i], 16);
        if (ec != std::errc() || end != text.data() + 2 * i + 2) {
            refuse(path, "expected hex digits, found \"" + text + "\"");
        }
    }
    return bytes;
}

// Each item of an array, read by `read_item(value, path)`.
template <class ReadItem>
auto read_list(const Value& value, const std::string& path, ReadItem read_item) {
    using Item = decltype(read_item(value, path));
    if (value.kind != Value::Kind::Array) {
        wrong(value, path, "an array");
    }
    std::vector<Item> items;
    items.reserve(value.items.size());
    for (std::size_t i = 0; i < value.items.size(); ++i) {
        items.push_back(read_item(value.items[i], item_path(path, i)));
    }
    return items;
}

common::Vector3 read_vector(const Value& value, const std::string& path) {
    Object object(value, path);
    common::Vector3 v;
    v.x = read_f32(object.get("x"), object.path("x"));
    v.y = read_f32(object.get("y"), object.path("y"));
    v.z = read_f32(object.get("z"), object.path("z"));
    object.done();
    return v;
}

Frame read_frame(const Value& value, const std::string& path) {
    Object object(value, path);
    Frame frame;
    frame.origin = read_vector(object.get("origin"), object.path("origin"));
    Object q(object.get("orientation"), object.path("orientation"));
    frame.orientation.w = read_f32(q.get("w"), q.path("w"));
    frame.orientation.x = read_f32(q.get("x"), q.path("x"));
    frame.orientation.y = read_f32(q.get("y"), q.path("y"));
    frame.orientation.z = read_f32(q.get("z"), q.path("z"));
    q.done();
    object.done();
    return frame;
}

common::Sphere read_sphere(const Value& value, const std::string& path) {
    Object object(value, path);
    common::Sphere sphere;
    sphere.center = read_vector(object.get("center"), object.path("center"));
    sphere.radius = read_f32(object.get("radius"), object.path("radius"));
    object.done();
    return sphere;
}

// Where each field of a payload lives, in the order `payload_fields` lists them.
using FieldSlot =
    std::variant<std::uint32_t*, std::int32_t*, float*, common::Vector3*, Frame*, std::uint8_t*>;
struct FileIdSlot {
    std::uint32_t* id;
};
using Slot = std::variant<FileIdSlot, FieldSlot>;

std::vector<Slot> payload_slots(setup::HookPayload& payload) {
    using Slots = std::vector<Slot>;
    const auto id = [](std::uint32_t& v) { return Slot{FileIdSlot{&v}}; };
    const auto field = [](auto& v) { return Slot{FieldSlot{&v}}; };
    return std::visit(
        common::Overloaded{
            [](setup::EmptyPayload&) { return Slots{}; },
            [&](setup::SoundPayload& p) { return Slots{id(p.id)}; },
            [&](setup::SoundTablePayload& p) { return Slots{field(p.sound_type)}; },
            [&](setup::AttackCone& p) {
                return Slots{field(p.part_index), field(p.left_x),  field(p.left_y),
                             field(p.right_x),    field(p.right_y), field(p.radius),
                             field(p.height)};
            },
            [&](setup::AnimPartChange& p) {
                return Slots{field(p.part_index), id(p.part_id)};
            },
            [&](setup::EtherealPayload& p) { return Slots{field(p.ethereal)}; },
            [&](setup::PartRamp& p) {
                return Slots{field(p.part), field(p.start), field(p.end), field(p.time)};
            },
            [&](setup::Ramp& p) {
                return Slots{field(p.start), field(p.end), field(p.time)};
            },
            [&](setup::ScalePayload& p) {
                return Slots{field(p.end), field(p.time)};
            },
            [&](setup::CreateParticleHookPayload& p) {
                return Slots{id(p.emitter_info_id), field(p.part_index), field(p.offset),
                             field(p.emitter_id)};
            },
            [&](setup::ParticleEmitterPayload& p) { return Slots{field(p.emitter_id)}; },
            [&](setup::NoDrawPayload& p) { return Slots{field(p.no_draw)}; },
            [&](setup::DefaultScriptPartPayload& p) { return Slots{field(p.part_index)}; },
            [&](setup::CallPesPayload& p) {
                return Slots{id(p.pes), field(p.pause)};
            },
            [&](setup::SoundTweakedPayload& p) {
                return Slots{id(p.sound_id), field(p.probability), field(p.priority),
                             field(p.volume)};
            },
            [&](setup::SetOmegaPayload& p) { return Slots{field(p.axis)}; },
            [&](setup::TextureVelocityPayload& p) {
                return Slots{field(p.u_speed), field(p.v_speed)};
            },
            [&](setup::TextureVelocityPartPayload& p) {
                return Slots{field(p.part_index), field(p.u_speed), field(p.v_speed)};
            },
            [&](setup::SetLightPayload& p) { return Slots{field(p.lights_on)}; },
        },
        payload);
}

// The payload record of hook type `hook_type` (at most 26), every field zero.
setup::HookPayload empty_payload(std::uint32_t hook_type) {
    static const std::vector<std::uint8_t> kZeros(64, 0);
    auto payload = setup::unpack_payload(hook_type, kZeros);
    return payload ? *payload : setup::HookPayload{};
}

// Reads one payload field into where `slot` says it lives.
void read_slot(const Slot& slot, const Value& field, const std::string& path) {
    std::visit(common::Overloaded{
                   [&](FileIdSlot id) { *id.id = read_id(field, path); },
                   [&](const FieldSlot& place) {
                       std::visit(common::Overloaded{
                                      [&](std::uint32_t* v) { *v = read_u32(field, path); },
                                      [&](std::int32_t* v) { *v = read_i32(field, path); },
                                      [&](float* v) { *v = read_f32(field, path); },
                                      [&](common::Vector3* v) { *v = read_vector(field, path); },
                                      [&](Frame* v) { *v = read_frame(field, path); },
                                      [&](std::uint8_t* v) {
                                          *v = static_cast<std::uint8_t>(
                                              integer_in(field, path, 0, 255));
                                      },
                                  },
                                  place);
                   },
               },
               slot);
}

// Refuses a "name" member that is not the name of the hook's type (`name`).
void check_hook_name(Object& hook, std::uint32_t hook_type, std::string_view name) {
    const Value* given = hook.find("name");
    if (given == nullptr) {
        return;
    }
    if (given->kind != Value::Kind::String) {
        wrong(*given, hook.path("name"), "a string");
    }
    if (given->text != name) {
        refuse(hook.path("name"), "\"" + given->text + "\" is not the name of hook type " +
                                      std::to_string(hook_type) + " (\"" + std::string(name) +
                                      "\")");
    }
}

// The payload of a hook of type `hook_type` (which has a name), every field read from the
// object at `payload_path`, which must hold each of them and nothing else.
setup::HookPayload read_payload(const Value& value, const std::string& payload_path,
                                std::uint32_t hook_type) {
    setup::HookPayload payload = empty_payload(hook_type);
    Object fields(value, payload_path);
    const auto names = payload_fields(payload);
    const auto slots = payload_slots(payload);
    for (std::size_t i = 0; i < slots.size(); ++i) {
        read_slot(slots[i], fields.get(names[i].name), fields.path(names[i].name));
    }
    fields.done();
    return payload;
}

// The hook's "wide_part_id" flag, which only a ReplaceObject hook may give; false when absent.
bool read_wide_part_id(Object& hook, std::uint32_t hook_type) {
    const Value* given = hook.find("wide_part_id");
    if (given == nullptr) {
        return false;
    }
    if (hook_type != kReplaceObject) {
        refuse(hook.path("wide_part_id"), "only a ReplaceObject hook has one");
    }
    if (given->kind != Value::Kind::Boolean) {
        wrong(*given, hook.path("wide_part_id"), "a boolean");
    }
    return given->boolean;
}

// A ReplaceObject payload's bytes when its small part id is to be stored in the wide form
// (`wide`), which the payload encoder never writes; otherwise nothing, left to the encoder.
// Refuses a part id that no packed id holds.
std::vector<std::uint8_t> replace_object_bytes(const setup::AnimPartChange& change,
                                               const std::string& payload_path, bool wide) {
    if (change.part_id > 0x7FFFFFFF) {
        refuse(member_path(payload_path, "part_id"),
               "out of range: a packed id is at most 0x7FFFFFFF");
    }
    if (!wide || change.part_id >= 0x8000) {
        return {};
    }
    return {change.part_index,
            0x00,
            0x80,
            static_cast<std::uint8_t>(change.part_id & 0xFF),
            static_cast<std::uint8_t>(change.part_id >> 8),
            0,
            0,
            0};
}

// Puts the hook's "padding" member, if given, into the bytes after its payload, which it must
// fill exactly.
void read_padding(Object& object, setup::AnimationHook& hook) {
    const Value* given = object.find("padding");
    if (given == nullptr) {
        return;
    }
    const std::string padding_path = object.path("padding");
    const auto padding = read_hex_bytes(*given, padding_path);
    const std::size_t size = payload_size(hook.hook_type, hook.data);
    if (padding.size() != hook.data.size() - size) {
        refuse(padding_path, "expected " + std::to_string(hook.data.size() - size) +
                                 " bytes of padding, found " + std::to_string(padding.size()));
    }
    std::copy(padding.begin(), padding.end(), hook.data.begin() + static_cast<long>(size));
}

setup::AnimationHook read_hook(const Value& value, const std::string& path) {
    Object object(value, path);
    setup::AnimationHook hook;
    hook.hook_type = read_u32(object.get("hook_type"), object.path("hook_type"));
    hook.direction = read_i32(object.get("direction"), object.path("direction"));
    const std::string_view name = tools::hook_type_name(hook.hook_type);
    if (name.empty()) {
        // A type without a name keeps its bytes as they are.
        hook.data = read_hex_bytes(object.get("data"), object.path("data"));
        object.done();
        return hook;
    }
    check_hook_name(object, hook.hook_type, name);
    const std::string payload_path = object.path("payload");
    const setup::HookPayload payload =
        read_payload(object.get("payload"), payload_path, hook.hook_type);
    const bool wide = read_wide_part_id(object, hook.hook_type);
    if (hook.hook_type == kReplaceObject) {
        hook.data =
            replace_object_bytes(std::get<setup::AnimPartChange>(payload), payload_path, wide);
    }
    if (hook.data.empty()) {
        auto packed = setup::pack_payload(hook.hook_type, payload);
        if (!packed) {
            refuse(payload_path, packed.error().one_line());
        }
        hook.data = std::move(*packed);
    }
    read_padding(object, hook);
    object.done();
    return hook;
}

setup::AnimationFrame read_anim_frame(const Value& value, const std::string& path,
                                      std::size_t num_parts) {
    Object object(value, path);
    setup::AnimationFrame frame;
    const std::string frames_path = object.path("frames");
    frame.frames = read_list(object.get("frames"), frames_path, read_frame);
    if (frame.frames.size() != num_parts) {
        refuse(frames_path, "holds " + std::to_string(frame.frames.size()) +
                                " placements where there are " + std::to_string(num_parts) +
                                " parts");
    }
    frame.hooks = read_list(object.get("hooks"), object.path("hooks"), read_hook);
    object.done();
    return frame;
}

void check_count(const std::string& path, std::size_t count, std::size_t size,
                 std::string_view list) {
    if (count != size) {
        refuse(path, "is " + std::to_string(count) + " but " + std::string(list) + " holds " +
                         std::to_string(size));
    }
}

std::vector<std::uint8_t> encoded(const common::DecodeResult<std::vector<std::uint8_t>>& bytes) {
    if (!bytes) {
        refuse("", bytes.error().one_line());
    }
    return *bytes;
}

std::vector<std::uint8_t> encode_animation(Object& doc, std::uint32_t id) {
    ft::animation::Animation animation;
    animation.id = id;
    animation.flags =
        ft::animation::AnimationFlags::from_bits_retain(read_u32(doc.get("flags"), "flags"));
    animation.num_parts = read_u32(doc.get("num_parts"), "num_parts");
    animation.num_frames = read_u32(doc.get("num_frames"), "num_frames");
    animation.pos_frames = read_list(doc.get("pos_frames"), "pos_frames", read_frame);
    const bool roots = animation.flags.contains(ft::animation::AnimationFlags::POS_FRAMES);
    if (roots) {
        check_count("num_frames", animation.num_frames, animation.pos_frames.size(), "pos_frames");
    } else if (!animation.pos_frames.empty()) {
        refuse("pos_frames", "must be empty: flags has no POS_FRAMES bit (0x1)");
    }
    animation.part_frames =
        read_list(doc.get("part_frames"), "part_frames", [&](const Value& v, const std::string& p) {
            return read_anim_frame(v, p, animation.num_parts);
        });
    check_count("num_frames", animation.num_frames, animation.part_frames.size(), "part_frames");
    doc.done();
    return encoded(animation.pack());
}

template <class Record, class ReadValue>
std::vector<setup::Keyed<Record>> read_keyed(Object& doc, std::string_view name,
                                             ReadValue read_value) {
    return read_list(doc.get(name), std::string(name),
                     [&](const Value& v, const std::string& path) {
                         Object entry(v, path);
                         setup::Keyed<Record> keyed_entry;
                         keyed_entry.key = read_i32(entry.get("key"), entry.path("key"));
                         keyed_entry.value = read_value(entry.get("value"), entry.path("value"));
                         entry.done();
                         return keyed_entry;
                     });
}

setup::LocationType read_location(const Value& value, const std::string& path) {
    Object object(value, path);
    setup::LocationType location;
    location.part_id = read_i32(object.get("part_id"), object.path("part_id"));
    location.frame = read_frame(object.get("frame"), object.path("frame"));
    object.done();
    return location;
}

// Refuses a per-part list (`name`, of `size` items) that does not hold one item per part
// when `bit` of the flags is set and none when it is clear.
void check_per_part(const setup::StoredSetupModel& model, std::string_view name, std::size_t size,
                    std::uint32_t bit) {
    const std::size_t wanted = (model.flags & bit) != 0 ? model.parts.size() : 0;
    if (size != wanted) {
        refuse(std::string(name), "holds " + std::to_string(size) + " items where " +
                                      std::to_string(wanted) + " are expected (" +
                                      ((model.flags & bit) != 0 ? "one per part: flags has bit 0x"
                                                                : "none: flags lacks bit 0x") +
                                      std::to_string(bit) + ")");
    }
}

setup::CylSphere read_cyl_sphere(const Value& value, const std::string& path) {
    Object object(value, path);
    setup::CylSphere cyl;
    cyl.origin = read_vector(object.get("origin"), object.path("origin"));
    cyl.radius = read_f32(object.get("radius"), object.path("radius"));
    cyl.height = read_f32(object.get("height"), object.path("height"));
    object.done();
    return cyl;
}

setup::LightInfo read_light(const Value& value, const std::string& path) {
    Object object(value, path);
    setup::LightInfo light;
    light.viewer_space_location =
        read_frame(object.get("viewer_space_location"), object.path("viewer_space_location"));
    light.color = read_u32(object.get("color"), object.path("color"));
    light.intensity = read_f32(object.get("intensity"), object.path("intensity"));
    light.falloff = read_f32(object.get("falloff"), object.path("falloff"));
    light.cone_angle = read_f32(object.get("cone_angle"), object.path("cone_angle"));
    object.done();
    return light;
}

// The five default ids, each a file id or null for none.
void read_default_ids(Object& doc, setup::StoredSetupModel& model) {
    const std::pair<std::string_view, std::optional<std::uint32_t>*> defaults[] = {
        {"default_animation", &model.default_animation},
        {"default_script", &model.default_script},
        {"default_motion_table", &model.default_motion_table},
        {"default_sound_table", &model.default_sound_table},
        {"default_script_table", &model.default_script_table}};
    for (const auto& [name, slot] : defaults) {
        const Value& value = doc.get(name);
        if (value.kind != Value::Kind::Null) {
            *slot = read_id(value, std::string(name));
        }
    }
}

std::vector<std::uint8_t> encode_setup_model(Object& doc, std::uint32_t id) {
    setup::StoredSetupModel model;
    model.id = id;
    model.flags = read_u32(doc.get("flags"), "flags");
    model.parts = read_list(doc.get("parts"), "parts", read_id);
    model.parent_index = read_list(doc.get("parent_index"), "parent_index", read_u32);
    model.default_scale = read_list(doc.get("default_scale"), "default_scale", read_vector);
    check_per_part(model, "parent_index", model.parent_index.size(),
                   setup::SetupModel::kHasParentIndex);
    check_per_part(model, "default_scale", model.default_scale.size(),
                   setup::SetupModel::kHasDefaultScale);
    model.holding_locations =
        read_keyed<setup::LocationType>(doc, "holding_locations", read_location);
    model.connection_points =
        read_keyed<setup::LocationType>(doc, "connection_points", read_location);
    model.placement_frames = read_keyed<setup::PlacementType>(
        doc, "placement_frames", [&](const Value& v, const std::string& path) {
            Object placement(v, path);
            setup::PlacementType type{read_anim_frame(
                placement.get("anim_frame"), placement.path("anim_frame"), model.parts.size())};
            placement.done();
            return type;
        });
    model.cyl_spheres = read_list(doc.get("cyl_spheres"), "cyl_spheres", read_cyl_sphere);
    model.spheres = read_list(doc.get("spheres"), "spheres", read_sphere);
    model.height = read_f32(doc.get("height"), "height");
    model.radius = read_f32(doc.get("radius"), "radius");
    model.step_up = read_f32(doc.get("step_up"), "step_up");
    model.step_down = read_f32(doc.get("step_down"), "step_down");
    model.sorting_sphere = read_sphere(doc.get("sorting_sphere"), "sorting_sphere");
    model.selection_sphere = read_sphere(doc.get("selection_sphere"), "selection_sphere");
    model.lights = read_keyed<setup::LightInfo>(doc, "lights", read_light);
    read_default_ids(doc, model);
    if (model.placement_frames.size() > static_cast<std::size_t>(INT32_MAX)) {
        refuse("placement_frames", "holds more placements than a file can");
    }
    doc.done();
    return encoded(model.pack());
}

std::vector<std::uint8_t> encode_physics_script(Object& doc, std::uint32_t id) {
    ft::physics_script::PhysicsScript script;
    script.id = id;
    script.script_data = read_list(
        doc.get("script_data"), "script_data", [](const Value& v, const std::string& path) {
            Object object(v, path);
            ft::physics_script::PhysicsScriptData entry;
            entry.start_time = read_f64(object.get("start_time"), object.path("start_time"));
            entry.hook = read_hook(object.get("hook"), object.path("hook"));
            object.done();
            return entry;
        });
    doc.done();
    return encoded(script.pack());
}

EncodedFile encode_document(const Value& root) {
    Object doc(root, "");
    const Value& format = doc.get("format");
    if (format.kind != Value::Kind::Integer && format.kind != Value::Kind::Unsigned) {
        wrong(format, "format", "the number " + std::to_string(kTextFormFormat));
    }
    if (read_u32(format, "format") != kTextFormFormat) {
        refuse("format", "format " + std::to_string(read_u32(format, "format")) +
                             " is not known: this tool reads format " +
                             std::to_string(kTextFormFormat));
    }
    EncodedFile file;
    file.id = read_id(doc.get("id"), "id");
    const Value& type = doc.get("file_type");
    if (type.kind != Value::Kind::String) {
        wrong(type, "file_type", "a string");
    }
    if (type.text == ft::name(ft::FileType::Animation)) {
        file.type = ft::FileType::Animation;
    } else if (type.text == ft::name(ft::FileType::SetupModel)) {
        file.type = ft::FileType::SetupModel;
    } else if (type.text == ft::name(ft::FileType::PhysicsScript)) {
        file.type = ft::FileType::PhysicsScript;
    } else {
        refuse("file_type", "\"" + type.text +
                                "\" is not one of \"animation\", \"setup model\", "
                                "\"physics script\"");
    }
    std::vector<std::uint8_t> trailing;
    if (const Value* given = doc.find("trailing")) {
        trailing = read_hex_bytes(*given, "trailing");
    }
    switch (file.type) {
    case ft::FileType::Animation:
        file.bytes = encode_animation(doc, file.id);
        break;
    case ft::FileType::SetupModel:
        file.bytes = encode_setup_model(doc, file.id);
        break;
    case ft::FileType::PhysicsScript:
        file.bytes = encode_physics_script(doc, file.id);
        break;
    }
    file.bytes.insert(file.bytes.end(), trailing.begin(), trailing.end());
    return file;
}

} // namespace

Gathered<std::string> decode_text_form(ft::FileType type, std::span<const std::uint8_t> bytes) {
    switch (type) {
    case ft::FileType::Animation:
        return animation_text(bytes);
    case ft::FileType::SetupModel:
        return setup_model_text(bytes);
    case ft::FileType::PhysicsScript:
        return physics_script_text(bytes);
    }
    return std::unexpected("not a hook-carrying file type");
}

Gathered<EncodedFile> encode_text_form(std::string_view text) {
    TreeBuilder tree;
    if (!nlohmann::json::sax_parse(text, &tree)) {
        return std::unexpected(tree.error.empty() ? std::string("not JSON") : tree.error);
    }
    try {
        return encode_document(tree.root);
    } catch (const Refusal& refusal) {
        return std::unexpected((refusal.path.empty() ? std::string("the document") : refusal.path) +
                               ": " + refusal.what);
    }
}

std::string text_form_path(std::uint32_t id) {
    const std::string digits = common::hex8(id);
    return digits.substr(0, 2) + "/" + digits + ".json";
}

std::optional<std::string> text_form_for(std::uint32_t id, std::span<const std::uint8_t> bytes) {
    const auto type = ft::of(id);
    if (!type || bytes.size() < 4 || common::load_le<std::uint32_t>(bytes.data()) != id) {
        return std::nullopt;
    }
    auto text = decode_text_form(*type, bytes);
    if (!text) {
        return std::nullopt;
    }
    const auto back = encode_text_form(*text);
    if (!back || back->type != *type || !std::ranges::equal(back->bytes, bytes)) {
        return std::nullopt;
    }
    return std::move(*text);
}

} // namespace quillmere::dat_tool
