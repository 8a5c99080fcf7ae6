#pragma once
// The control's small text routines: the file-name part of a URL, the target renamed after
// the URL's extension, and the texts of the Rate and TimeLeft events.

#include <string>
#include <string_view>

namespace carvo {

// The text after the last "/" (the whole text when there is none).
std::string GFN(std::string_view url);
// The save location with the URL's extension. Throws ComError (invalid procedure call) when
// either text is shorter than six characters.
std::string KeepTypeName(std::string_view url, std::string_view saveLocation);
// "512 Bytes/s", "9.09 Kb/s", "1.5 Mb/s", the unit chosen after rounding (1023.5 bytes per
// second is "1 Kb/s"); "" for a negative or undefined rate.
std::string FormatRate(double bytesPerSecond, char decimalPoint);
// "42 seg", "1 min 36 seg", "1 hr 23 min". Throws ComError (overflow) for a value that no
// 32-bit count can hold.
std::string FormatTimeLeft(float seconds);

// The decimal separator of the user's regional settings ("." when they cannot be read).
char userDecimalPoint();

// Number of characters (not bytes) in a UTF-8 text.
std::size_t utf8Length(std::string_view s);

}  // namespace carvo
