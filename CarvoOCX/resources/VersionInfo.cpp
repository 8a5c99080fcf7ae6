#include "resources/VersionInfo.h"

namespace carvo {

VersionInfo parseVersionInfo(std::string_view text) {
    VersionInfo out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.back() == '\0' || line.back() == '\r')) line.remove_suffix(1);
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        out.emplace_back(std::string(line.substr(0, eq)), std::string(line.substr(eq + 1)));
    }
    return out;
}

}  // namespace carvo
