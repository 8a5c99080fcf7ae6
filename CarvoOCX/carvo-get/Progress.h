#pragma once
// The one progress line carvo-get draws on a terminal, made from what the control's events
// last said.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace carvo::cli {

struct ProgressState {
    std::int32_t percent = 0;   // Percent, as raised (above 100 when the body is longer)
    std::int64_t received = 0;  // RecievedBytes
    std::int64_t fileSize = 0;  // FileSize after the probe; 0 or less when unknown
    std::string rate;           // Rate's text, or carvo-get's own measure when it is empty
    std::string timeLeft;       // TimeLeft's text
    std::string status;         // the last StatusChange sentence
};

// "[#######.............]  35%  12.3 MiB of 35.1 MiB  9.09 Kb/s  1 min 36 seg  Puxando..."
// cut to at most `width` characters (not bytes), never inside a character.
std::string renderProgress(const ProgressState& state, std::size_t width);

// "512 B", "1.5 KiB", "12.3 MiB", "1.00 GiB".
std::string formatBytes(std::int64_t bytes);
// "812 KiB/s", "1.2 GiB/s".
std::string formatByteRate(double bytesPerSecond);

// At most `width` characters of a UTF-8 text.
std::string truncateChars(std::string_view text, std::size_t width);

}  // namespace carvo::cli
