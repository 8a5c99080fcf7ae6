#include "win/ProfileFile.h"

#include <optional>
#include <system_error>

#include "file/RegularFile.h"
#include "win/TextCodec.h"

namespace carvo {

namespace {

// A profile file bigger than this is not a profile file; it reads as missing.
constexpr std::size_t kMaxProfileBytes = 4u * 1024 * 1024;

std::string_view trim(std::string_view s) {
    constexpr std::string_view blanks = " \t\r\f\v";
    std::size_t b = s.find_first_not_of(blanks);
    if (b == std::string_view::npos) return {};
    std::size_t e = s.find_last_not_of(blanks);
    return s.substr(b, e - b + 1);
}

std::optional<std::string_view> findValue(std::string_view text, std::string_view section,
                                          std::string_view key) {
    const std::string wantSection = foldCase(trim(section));
    const std::string wantKey = foldCase(trim(key));
    bool inSection = false;
    while (!text.empty()) {
        std::size_t nl = text.find('\n');
        std::string_view line = trim(text.substr(0, nl));
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            // Only the first section of a name counts.
            if (inSection) return std::nullopt;
            std::size_t close = line.find(']');
            if (close == std::string_view::npos) continue;
            inSection = foldCase(trim(line.substr(1, close - 1))) == wantSection;
            continue;
        }
        if (!inSection) continue;
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        if (foldCase(trim(line.substr(0, eq))) == wantKey) return trim(line.substr(eq + 1));
    }
    return std::nullopt;
}

// A FIFO or a device in the file's place reads as missing, never hangs the reader.
std::optional<std::string> readSmallFile(const std::filesystem::path& file) {
    try {
        return readRegularFile(file, kMaxProfileBytes);
    } catch (const std::system_error&) {
        return std::nullopt;
    }
}

}  // namespace

std::string profileStringFromText(std::string_view text, std::string_view section,
                                  std::string_view key, std::string_view defaultValue,
                                  std::size_t maxChars) {
    std::string decoded;
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    } else if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) {
        decoded = utf16ToUtf8(text.substr(2), text.front() == '\xFE');
        text = decoded;
    }
    std::string_view result = defaultValue;
    if (auto value = findValue(text, section, key)) {
        result = *value;
        if (result.size() >= 2 && (result.front() == '"' || result.front() == '\'') &&
            result.back() == result.front())
            result = result.substr(1, result.size() - 2);
    }
    return std::string(utf8Prefix(result, maxChars));
}

std::string readProfileString(std::string_view section, std::string_view key,
                              std::string_view defaultValue, const std::filesystem::path& file,
                              std::size_t maxChars) {
    auto text = readSmallFile(file);
    if (!text) return std::string(utf8Prefix(defaultValue, maxChars));
    return profileStringFromText(*text, section, key, defaultValue, maxChars);
}

}  // namespace carvo
