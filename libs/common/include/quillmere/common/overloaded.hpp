// One visitor made of several lambdas, for std::visit over a variant.
#pragma once

namespace quillmere::common {

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
// Spelled out for compilers without aggregate deduction (clang before 17, used for fuzzing).
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

} // namespace quillmere::common
