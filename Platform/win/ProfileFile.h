#pragma once
// Reading one key of a profile (INI) file, with the rules programs written against the
// platform's profile calls rely on:
//   - section and key names match without regard to case (ASCII and Latin-1 letters);
//   - the value is trimmed, then one pair of matching surrounding quotes (' or ") is removed;
//   - lines starting with ';' are comments; the first matching section and key win;
//   - the default is returned when the file, the section or the key is missing, and ""
//     for a key that is present with an empty value;
//   - the result holds at most maxChars characters (UTF-8 characters, never half of one);
//   - CRLF line ends are accepted.
// The file is UTF-8, with or without a byte-order mark, or UTF-16 (either byte order) with
// one, as editors on the platform save it.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace carvo {

inline constexpr std::size_t kProfileMaxChars = 127;

std::string readProfileString(std::string_view section, std::string_view key,
                              std::string_view defaultValue, const std::filesystem::path& file,
                              std::size_t maxChars = kProfileMaxChars);

// A profile file bigger than this is not a profile file: readProfileString gives the default
// for it, as for a missing file.
inline constexpr std::size_t kProfileMaxBytes = 4u * 1024 * 1024;

// What a reader found at a profile file's place, for a caller that must tell a missing file
// from one it may not or cannot read (readProfileString gives the default for all of them).
enum class ProfileFileState {
    Read,        // the text is the file's
    Missing,     // no file there
    TooLarge,    // more than maxBytes
    NotAFile,    // a folder, a FIFO, a device, ...
    Unreadable,  // any other failure (permissions, I/O)
};

struct ProfileFileText {
    ProfileFileState state = ProfileFileState::Missing;
    std::string text;  // empty unless Read
};

// Reads a profile file whole, once, for profileStringFromText: the same read as
// readProfileString's, with the reason when it fails. A caller with a tighter bound of its own
// (a downloaded version file) gives it as maxBytes.
ProfileFileText readProfileFile(const std::filesystem::path& file,
                                std::size_t maxBytes = kProfileMaxBytes);

// The same rules over text already in memory.
std::string profileStringFromText(std::string_view text, std::string_view section,
                                  std::string_view key, std::string_view defaultValue,
                                  std::size_t maxChars = kProfileMaxChars);

}  // namespace carvo
