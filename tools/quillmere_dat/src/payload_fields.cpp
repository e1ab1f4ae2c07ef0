// A hook payload as a list of named fields, rendered as text or JSON.
#include "payload_fields.hpp"

#include "command.hpp"
#include "quillmere/common/overloaded.hpp"
#include "quillmere/common/text.hpp"

#include <initializer_list>

namespace quillmere::inspect {

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

} // namespace

std::vector<PayloadField> payload_fields(const setup::HookPayload& payload) {
    using Fields = std::vector<PayloadField>;
    return std::visit(
        common::Overloaded{
            [](const setup::EmptyPayload&) { return Fields{}; },
            [](const setup::SoundPayload& p) {
                return Fields{{"id", FileIdValue{p.id}}};
            },
            [](const setup::SoundTablePayload& p) {
                return Fields{{"sound_type", p.sound_type}};
            },
            [](const setup::AttackCone& p) {
                return Fields{{"part_index", p.part_index}, {"left_x", p.left_x},
                              {"left_y", p.left_y},         {"right_x", p.right_x},
                              {"right_y", p.right_y},       {"radius", p.radius},
                              {"height", p.height}};
            },
            [](const setup::AnimPartChange& p) {
                return Fields{{"part_index", std::uint32_t{p.part_index}},
                              {"part_id", FileIdValue{p.part_id}}};
            },
            [](const setup::EtherealPayload& p) {
                return Fields{{"ethereal", p.ethereal}};
            },
            [](const setup::PartRamp& p) {
                return Fields{
                    {"part", p.part}, {"start", p.start}, {"end", p.end}, {"time", p.time}};
            },
            [](const setup::Ramp& p) {
                return Fields{{"start", p.start}, {"end", p.end}, {"time", p.time}};
            },
            [](const setup::ScalePayload& p) {
                return Fields{{"end", p.end}, {"time", p.time}};
            },
            [](const setup::CreateParticleHookPayload& p) {
                return Fields{{"emitter_info_id", FileIdValue{p.emitter_info_id}},
                              {"part_index", p.part_index},
                              {"offset", p.offset},
                              {"emitter_id", p.emitter_id}};
            },
            [](const setup::ParticleEmitterPayload& p) {
                return Fields{{"emitter_id", p.emitter_id}};
            },
            [](const setup::NoDrawPayload& p) {
                return Fields{{"no_draw", p.no_draw}};
            },
            [](const setup::DefaultScriptPartPayload& p) {
                return Fields{{"part_index", p.part_index}};
            },
            [](const setup::CallPesPayload& p) {
                return Fields{{"pes", FileIdValue{p.pes}}, {"pause", p.pause}};
            },
            [](const setup::SoundTweakedPayload& p) {
                return Fields{{"sound_id", FileIdValue{p.sound_id}},
                              {"probability", p.probability},
                              {"priority", p.priority},
                              {"volume", p.volume}};
            },
            [](const setup::SetOmegaPayload& p) {
                return Fields{{"axis", p.axis}};
            },
            [](const setup::TextureVelocityPayload& p) {
                return Fields{{"u_speed", p.u_speed}, {"v_speed", p.v_speed}};
            },
            [](const setup::TextureVelocityPartPayload& p) {
                return Fields{
                    {"part_index", p.part_index}, {"u_speed", p.u_speed}, {"v_speed", p.v_speed}};
            },
            [](const setup::SetLightPayload& p) {
                return Fields{{"lights_on", p.lights_on}};
            },
        },
        payload);
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

} // namespace quillmere::inspect
