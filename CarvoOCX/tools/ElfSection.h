#pragma once
// Reads one named section of an ELF file (32 or 64 bits, little-endian) without loading it.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace carvo {

// The section's bytes; nullopt when the file has no such section. Throws std::runtime_error
// for a file that cannot be read or is not a well-formed ELF file.
std::optional<std::string> readElfSection(const std::filesystem::path& file, std::string_view name);

}  // namespace carvo
