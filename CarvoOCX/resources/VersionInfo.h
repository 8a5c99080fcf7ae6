#pragma once
// The library file's version information. It sits in the built file as the section
// ".carvo.version" (key=value lines, UTF-8), so a tool reads it without loading the library.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace carvo {

inline constexpr const char* kVersionSection = ".carvo.version";

using VersionInfo = std::vector<std::pair<std::string, std::string>>;

// This library's own entries, in their stored order.
VersionInfo versionInfo();
// Reads key=value lines; lines without "=" and a trailing NUL are ignored.
VersionInfo parseVersionInfo(std::string_view text);

}  // namespace carvo
