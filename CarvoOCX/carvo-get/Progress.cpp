#include "Progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace carvo::cli {

namespace {

constexpr std::size_t kBarWidth = 20;

bool isContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

std::string scaled(double value, const char* const* units, std::size_t unitCount) {
    std::size_t u = 0;
    while (std::fabs(value) >= 1024 && u + 1 < unitCount) {
        value /= 1024;
        ++u;
    }
    char buf[64];
    if (u == 0)
        std::snprintf(buf, sizeof buf, "%.0f %s", value, units[u]);
    else if (std::fabs(value) < 10)
        std::snprintf(buf, sizeof buf, "%.2f %s", value, units[u]);
    else if (std::fabs(value) < 100)
        std::snprintf(buf, sizeof buf, "%.1f %s", value, units[u]);
    else
        std::snprintf(buf, sizeof buf, "%.0f %s", value, units[u]);
    return buf;
}

}  // namespace

std::string formatBytes(std::int64_t bytes) {
    static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    return scaled(static_cast<double>(bytes), units, std::size(units));
}

std::string formatByteRate(double bytesPerSecond) {
    static const char* const units[] = {"B/s", "KiB/s", "MiB/s", "GiB/s"};
    if (!std::isfinite(bytesPerSecond) || bytesPerSecond < 0) return {};
    return scaled(bytesPerSecond, units, std::size(units));
}

std::string truncateChars(std::string_view text, std::size_t width) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isContinuationByte(text[i])) continue;
        if (chars == width) return std::string(text.substr(0, i));
        ++chars;
    }
    return std::string(text);
}

std::string renderProgress(const ProgressState& s, std::size_t width) {
    std::string line;
    const bool sized = s.fileSize > 0;
    if (sized) {
        const std::int32_t shown = std::clamp<std::int32_t>(s.percent, 0, 100);
        const std::size_t filled = static_cast<std::size_t>(shown) * kBarWidth / 100;
        line += '[';
        line.append(filled, '#');
        line.append(kBarWidth - filled, '.');
        line += ']';
        char pct[16];
        std::snprintf(pct, sizeof pct, " %3d%%", static_cast<int>(s.percent));
        line += pct;
        line += "  " + formatBytes(s.received) + " of " + formatBytes(s.fileSize);
    } else {
        line += formatBytes(s.received);
    }
    for (const std::string* part : {&s.rate, &s.timeLeft, &s.status})
        if (!part->empty()) line += "  " + *part;
    return truncateChars(line, width);
}

}  // namespace carvo::cli
