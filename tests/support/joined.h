// Text joined from its pieces (strings, characters and integers, the integers in decimal), each
// appended in turn. Test data such as "P" + std::to_string(i) is written this way: on that form
// GCC 12's optimiser reports an overlap that cannot happen (-Wrestrict, in the insert it inlines),
// and warnings are errors.
#pragma once

#include <string>
#include <type_traits>

namespace testbed {

template <typename... Pieces>
std::string joined(const Pieces&... pieces) {
    std::string text;
    auto add = [&text](const auto& piece) {
        using Piece = std::decay_t<decltype(piece)>;
        if constexpr (std::is_integral_v<Piece> && !std::is_same_v<Piece, char>)
            text += std::to_string(piece);
        else
            text += piece;
    };
    (add(pieces), ...);
    return text;
}

}  // namespace testbed
