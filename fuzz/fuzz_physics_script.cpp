// Fuzz target: physics scripts. `pack` of a script that `unpack` decoded gives exactly the bytes
// the decoder consumed, and decoding those bytes gives the same script again.
#include "fuzz_support.hpp"
#include "quillmere/common/byte_cursor.hpp"
#include "quillmere/dat/file_type/physics_script.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

using quillmere::common::ByteCursor;
using quillmere::dat::file_type::physics_script::PhysicsScript;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = quillmere::fuzz::input_bytes(data, size);
    auto script = PhysicsScript::unpack(input);
    // `read` at position 0 is what `unpack` does; it also tells how many bytes were consumed.
    ByteCursor cursor(input);
    auto read = PhysicsScript::read(cursor);
    FUZZ_CHECK(script.has_value() == read.has_value());
    if (!script) {
        quillmere::fuzz::exercise_error(script.error());
        FUZZ_CHECK(script.error().message() == read.error().message());
        return 0;
    }
    FUZZ_CHECK(cursor.position() <= size);

    auto packed = script->pack();
    FUZZ_CHECK(packed.has_value());
    FUZZ_CHECK(packed->size() == cursor.position());
    FUZZ_CHECK(std::equal(packed->begin(), packed->end(), input.begin()));
    auto read_packed = read->pack();
    FUZZ_CHECK(read_packed.has_value() && *read_packed == *packed);

    auto again = PhysicsScript::unpack(*packed);
    FUZZ_CHECK(again.has_value());
    auto repacked = again->pack();
    FUZZ_CHECK(repacked.has_value() && *repacked == *packed);
    return 0;
}
