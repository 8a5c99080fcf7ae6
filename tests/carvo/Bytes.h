#pragma once
// Bodies for download tests: bytes that differ from one position to the next, so a piece
// written at the wrong place or twice never compares equal.

#include <cstddef>
#include <string>

namespace carvo::test {

inline std::string pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 2654435761u) >> 13);
    return s;
}

}  // namespace carvo::test
