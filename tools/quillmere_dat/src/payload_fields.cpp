// A hook payload as a list of named fields, rendered as text or JSON.
#include "payload_fields.hpp"

#include "command.hpp"
#include "quillmere/common/overloaded.hpp"
#include "quillmere/common/text.hpp"

#include <initializer_list>

namespace quillmere::dat_tool {

namespace setup = dat::file_type::setup_model;

namespace {

// Built by appending: GCC 12 at -O3 warns falsely (-Wrestrict) on "(" + std::string&&.
std::string tuple_text(std::initializer_list<float> values) {
    std::string out = "(";
    for (float value : values) {
        if (out.size() > 1) {
            out += ", ";
        }
        out += common::float_text(value);
    }
    out += ")";
    return out;
}

std::string vector_text(const common::Vector3& v) {
    return tuple_text({v.x, v.y, v.z});
}

std::string frame_text(const dat::graphics::Frame& f) {
    const auto& q = f.orientation;
    std::string out = "{origin=";
    out += vector_text(f.origin);
    out += " orientation=";
    out += tuple_text({q.w, q.x, q.y, q.z});
    out += "}";
    return out;
}

Json vector_json(const common::Vector3& v) {
    auto out = Json::object();
    out.set("x", Json::number(v.x)).set("y", Json::number(v.y)).set("z", Json::number(v.z));
    return out;
}

Json frame_json(const dat::graphics::Frame& f) {
    const auto& q = f.orientation;
    auto orientation = Json::object();
    orientation.set("w", Json::number(q.w))
        .set("x", Json::number(q.x))
        .set("y", Json::number(q.y))
        .set("z", Json::number(q.z));
    auto out = Json::object();
    out.set("origin", vector_json(f.origin)).set("orientation", std::move(orientation));
    return out;
}

// The values of a payload's fields in stored order; numbers that name files are marked so.
std::vector<FieldValue> field_values(const setup::HookPayload& payload) {
    using Values = std::vector<FieldValue>;
    using File = FileIdValue;
    return std::visit(
        common::Overloaded{
            [](const setup::EmptyPayload&) { return Values{}; },
            [](const setup::SoundPayload& p) { return Values{File{p.id}}; },
            [](const setup::SoundTablePayload& p) { return Values{p.sound_type}; },
            [](const setup::AttackCone& p) {
                return Values{p.part_index, p.left_x, p.left_y, p.right_x,
                              p.right_y,    p.radius, p.height};
            },
            [](const setup::AnimPartChange& p) {
                return Values{std::uint32_t{p.part_index}, File{p.part_id}};
            },
            [](const setup::EtherealPayload& p) { return Values{p.ethereal}; },
            [](const setup::PartRamp& p) {
                return Values{p.part, p.start, p.end, p.time};
            },
            [](const setup::Ramp& p) {
                return Values{p.start, p.end, p.time};
            },
            [](const setup::ScalePayload& p) {
                return Values{p.end, p.time};
            },
            [](const setup::CreateParticleHookPayload& p) {
                return Values{File{p.emitter_info_id}, p.part_index, p.offset, p.emitter_id};
            },
            [](const setup::ParticleEmitterPayload& p) { return Values{p.emitter_id}; },
            [](const setup::NoDrawPayload& p) { return Values{p.no_draw}; },
            [](const setup::DefaultScriptPartPayload& p) { return Values{p.part_index}; },
            [](const setup::CallPesPayload& p) {
                return Values{File{p.pes}, p.pause};
            },
            [](const setup::SoundTweakedPayload& p) {
                return Values{File{p.sound_id}, p.probability, p.priority, p.volume};
            },
            [](const setup::SetOmegaPayload& p) { return Values{p.axis}; },
            [](const setup::TextureVelocityPayload& p) {
                return Values{p.u_speed, p.v_speed};
            },
            [](const setup::TextureVelocityPartPayload& p) {
                return Values{p.part_index, p.u_speed, p.v_speed};
            },
            [](const setup::SetLightPayload& p) { return Values{p.lights_on}; },
        },
        payload);
}

} // namespace

// The names come from the library's hook type table, the values from the record.
std::vector<PayloadField> payload_fields(const setup::HookPayload& payload) {
    const auto names = setup::payload_field_names(payload);
    std::vector<FieldValue> values = field_values(payload);
    std::vector<PayloadField> fields;
    fields.reserve(values.size());
    for (std::size_t i = 0; i < values.size() && i < names.size(); ++i) {
        fields.push_back({names[i], std::move(values[i])});
    }
    return fields;
}

std::string fields_text(const std::vector<PayloadField>& fields) {
    std::string out;
    for (const auto& field : fields) {
        if (!out.empty()) {
            out.push_back(' ');
        }
        out.append(field.name).push_back('=');
        out += std::visit(common::Overloaded{
                              [](FileIdValue v) { return id_text(v.id); },
                              [](std::uint32_t v) { return std::to_string(v); },
                              [](std::int32_t v) { return std::to_string(v); },
                              [](float v) { return common::float_text(v); },
                              [](const common::Vector3& v) { return vector_text(v); },
                              [](const dat::graphics::Frame& v) { return frame_text(v); },
                          },
                          field.value);
    }
    return out;
}

Json fields_json(const std::vector<PayloadField>& fields) {
    auto out = Json::object();
    for (const auto& field : fields) {
        out.set(field.name,
                std::visit(common::Overloaded{
                               [](FileIdValue v) { return Json::string(id_text(v.id)); },
                               [](std::uint32_t v) { return Json::number(v); },
                               [](std::int32_t v) { return Json::number(v); },
                               [](float v) { return Json::number(v); },
                               [](const common::Vector3& v) { return vector_json(v); },
                               [](const dat::graphics::Frame& v) { return frame_json(v); },
                           },
                           field.value));
    }
    return out;
}

} // namespace quillmere::dat_tool
