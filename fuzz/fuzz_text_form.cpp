// Fuzz target: the text form. Any bytes, taken as each hook-carrying type in turn, either fail
// to decode cleanly or decode to a document that encodes back to exactly those bytes (trailing
// bytes included), of the same type and stored id; and the library's lossless encoders give the
// bytes the decoders consumed.
#include "fuzz_support.hpp"
#include "quillmere/common/le.hpp"
#include "quillmere/dat/file_type/animation.hpp"
#include "quillmere/dat/file_type/physics_script.hpp"
#include "quillmere/dat/file_type/setup_model.hpp"
#include "text_form.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace ft = quillmere::dat::file_type;

namespace {

// The bytes a lossless owned form of `type` encodes the input's decoded prefix to.
void check_library_encoder(ft::FileType type, std::span<const std::uint8_t> input) {
    std::uint64_t consumed = 0;
    quillmere::common::DecodeResult<std::vector<std::uint8_t>> packed;
    switch (type) {
    case ft::FileType::Animation: {
        auto decoded = ft::animation::Animation::read(input, &consumed);
        if (!decoded) {
            return;
        }
        packed = decoded->pack();
        break;
    }
    case ft::FileType::SetupModel: {
        auto decoded = ft::setup_model::StoredSetupModel::read(input, &consumed);
        if (!decoded) {
            FUZZ_CHECK(!ft::setup_model::SetupModel::read(input).has_value());
            return;
        }
        packed = decoded->pack();
        break;
    }
    case ft::FileType::PhysicsScript: {
        auto decoded = ft::physics_script::PhysicsScript::read(input, &consumed);
        if (!decoded) {
            return;
        }
        packed = decoded->pack();
        break;
    }
    }
    FUZZ_CHECK(packed.has_value());
    FUZZ_CHECK(packed->size() == consumed);
    FUZZ_CHECK(std::equal(packed->begin(), packed->end(), input.begin()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = quillmere::fuzz::input_bytes(data, size);
    for (const ft::FileType type :
         {ft::FileType::Animation, ft::FileType::SetupModel, ft::FileType::PhysicsScript}) {
        check_library_encoder(type, input);
        const auto text = quillmere::dat_tool::decode_text_form(type, input);
        if (!text) {
            FUZZ_CHECK(!text.error().empty());
            continue;
        }
        const auto file = quillmere::dat_tool::encode_text_form(*text);
        FUZZ_CHECK(file.has_value());
        FUZZ_CHECK(file->type == type);
        FUZZ_CHECK(file->id == quillmere::common::load_le<std::uint32_t>(input.data()));
        FUZZ_CHECK(file->bytes.size() == input.size());
        FUZZ_CHECK(std::equal(file->bytes.begin(), file->bytes.end(), input.begin()));
    }
    // Any bytes as a document: refused with a message, or a file.
    const std::string_view as_text(reinterpret_cast<const char*>(data), size);
    if (const auto file = quillmere::dat_tool::encode_text_form(as_text); !file) {
        FUZZ_CHECK(!file.error().empty());
    }
    return 0;
}
