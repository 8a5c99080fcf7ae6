#pragma once
// Small text helpers for the platform stand-ins, whose files are UTF-8 while the formats they
// imitate count in UTF-16 or ignore case.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace carvo {

// UTF-16 bytes (little- or big-endian) to UTF-8. Lone surrogates and an odd last byte become
// U+FFFD.
std::string utf16ToUtf8(std::string_view bytes, bool bigEndian);
std::string utf16leToUtf8(const std::vector<std::uint8_t>& bytes);
// UTF-8 to UTF-16LE bytes. Each byte that does not start a valid sequence becomes U+FFFD.
std::vector<std::uint8_t> utf8ToUtf16le(std::string_view text);

// Lower-cases ASCII and Latin-1 letters (A-Z, À-Þ except ×), leaving every other byte as it is,
// for comparisons that ignore case the way names in these files are written.
std::string foldCase(std::string_view text);

// The longest prefix of text that holds at most maxChars characters and never ends inside a
// character. A byte that does not start a valid sequence counts as one character.
std::string_view utf8Prefix(std::string_view text, std::size_t maxChars);

}  // namespace carvo
