// Fuzz target: animation hooks decoded back to back until the input ends or a hook fails. Every
// decoded hook must encode to exactly the bytes it was decoded from.
#include "fuzz_support.hpp"
#include "quillmere/common/byte_cursor.hpp"
#include "quillmere/common/byte_writer.hpp"
#include "quillmere/common/le.hpp"
#include "quillmere/dat/file_type/animation_hook.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using quillmere::common::ByteCursor;
using quillmere::common::ByteWriter;
using quillmere::common::DecodeError;
using quillmere::dat::file_type::setup_model::AnimationHook;
using quillmere::dat::file_type::setup_model::fixed_payload_size;
using quillmere::dat::file_type::setup_model::kHookTypeCount;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = quillmere::fuzz::input_bytes(data, size);
    ByteCursor cursor(input);
    while (cursor.remaining() > 0) {
        const std::uint64_t start = cursor.position();
        auto hook = AnimationHook::read(cursor);
        if (!hook) {
            quillmere::fuzz::exercise_error(hook.error());
            // A complete header with a type above 26 is refused by type; anything else that
            // fails ran short.
            const bool has_header = input.size() - start >= 8;
            const bool known_type = has_header && quillmere::common::load_le<std::uint32_t>(
                                                      data + start) < kHookTypeCount;
            FUZZ_CHECK((hook.error().kind() == DecodeError::Kind::Custom) ==
                       (has_header && !known_type));
            break;
        }
        const std::uint64_t consumed = cursor.position() - start;
        FUZZ_CHECK(hook->hook_type < kHookTypeCount);
        FUZZ_CHECK(hook->data.size() % 4 == 0);
        FUZZ_CHECK(consumed == hook->encoded_size());
        if (const auto fixed = fixed_payload_size(hook->hook_type)) {
            FUZZ_CHECK(hook->data.size() == *fixed);
        } else {
            FUZZ_CHECK(hook->data.size() == 4 || hook->data.size() == 8); // ReplaceObject
        }

        std::vector<std::uint8_t> encoded;
        ByteWriter writer(encoded);
        FUZZ_CHECK(hook->write(writer).has_value());
        FUZZ_CHECK_MSG(
            encoded.size() == consumed && std::equal(encoded.begin(), encoded.end(), data + start),
            "hook at offset " + std::to_string(start) + " did not re-encode to its bytes");
    }
    return 0;
}
