#include "Formatting.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <locale>
#include <vector>

#include "automation/ComError.h"
#include "automation/Variant.h"

namespace carvo {

namespace {

// Byte offsets of each character of a UTF-8 text, so positions count characters.
std::vector<std::size_t> charOffsets(std::string_view s) {
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < s.size(); ++i)
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) offsets.push_back(i);
    return offsets;
}

// 1-based position of the first "." at or after character `start` (1-based), 0 for none.
std::size_t findDotFrom(std::string_view s, const std::vector<std::size_t>& offsets,
                        std::size_t start) {
    for (std::size_t c = start - 1; c < offsets.size(); ++c)
        if (s[offsets[c]] == '.') return c + 1;
    return 0;
}

// The first "." among the last six characters; shorter texts are an invalid argument.
std::size_t dotAmongLastSix(std::string_view s, const std::vector<std::size_t>& offsets) {
    if (offsets.size() < 6)
        throw ComError(hr::InvalidProcedureCall, "Invalid procedure call or argument");
    return findDotFrom(s, offsets, offsets.size() - 5);
}

// A value already rounded to a whole number, without a fraction.
std::string formatWhole(double v) {
    if (v == 0) return "0";  // no "-0"
    char buf[32];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 0);
    return std::string(buf, ec == std::errc() ? end : buf);
}

}  // namespace

std::size_t utf8Length(std::string_view s) { return charOffsets(s).size(); }

std::string GFN(std::string_view url) {
    std::size_t p = url.rfind('/');
    return std::string(p == std::string_view::npos ? url : url.substr(p + 1));
}

std::string KeepTypeName(std::string_view url, std::string_view saveLocation) {
    auto uo = charOffsets(url);
    std::size_t p = dotAmongLastSix(url, uo);
    std::string extension(p == 0 ? url : url.substr(uo[p - 1] + 1));
    auto so = charOffsets(saveLocation);
    std::size_t q = dotAmongLastSix(saveLocation, so);
    std::string base(q == 0 ? std::string_view{} : saveLocation.substr(0, so[q - 1] + 1));
    return base + extension;
}

std::string FormatRate(double r, char decimalPoint) {
    if (!std::isfinite(r) || r < 0) return {};
    // The unit is chosen by the rounded number, so that no rate reads "1024 Bytes/s" or
    // "1024 Kb/s": those are 1 Kb/s and 1 Mb/s.
    const double bytes = std::nearbyint(r);
    if (bytes < 1024) return formatNumber(bytes, decimalPoint) + " Bytes/s";
    auto twoDecimals = [](double v) { return std::nearbyint(v * 100) / 100; };
    const double kilobytes = twoDecimals(r / 1024);
    if (kilobytes < 1024) return formatNumber(kilobytes, decimalPoint) + " Kb/s";
    return formatNumber(twoDecimals(r / 1048576), decimalPoint) + " Mb/s";
}

std::string FormatTimeLeft(float seconds) {
    const double s = seconds;
    if (s >= 0 && s <= 59) return formatWhole(std::round(s)) + " seg";  // halves away from zero
    if (s >= 60 && s <= 3599) {
        std::int32_t whole = roundToLong(s);
        return formatWhole(std::floor(s / 60)) + " min " + std::to_string(whole % 60) + " seg";
    }
    if (!std::isfinite(s)) throwOverflow();
    double hours = std::floor(s / 3600);
    std::int32_t minutes = roundToLong(s / 60);  // overflow-checked, halves to even
    return formatWhole(hours) + " hr " + std::to_string(minutes % 60) + " min";
}

char userDecimalPoint() {
    try {
        std::locale user("");
        return std::use_facet<std::numpunct<char>>(user).decimal_point();
    } catch (const std::exception&) {
        return '.';
    }
}

}  // namespace carvo
