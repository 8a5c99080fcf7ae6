#include "automation/Variant.h"

#include <cfenv>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "automation/ComError.h"

namespace carvo {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::int32_t checkedLong(double rounded) {
    if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) throwOverflow();
    return static_cast<std::int32_t>(rounded);
}

}  // namespace

double parseNumber(std::string_view text, char decimalPoint) {
    std::size_t b = 0, e = text.size();
    while (b < e && isSpace(text[b])) ++b;
    while (e > b && isSpace(text[e - 1])) --e;
    std::string_view t = text.substr(b, e - b);
    if (t.empty()) throwTypeMismatch();
    // Normalise to the "C" form that from_chars reads, refusing anything it would not consume.
    std::string norm;
    norm.reserve(t.size());
    std::size_t i = 0;
    if (t[0] == '+' || t[0] == '-') {
        if (t[0] == '-') norm.push_back('-');
        ++i;
    }
    bool digits = false;
    for (; i < t.size(); ++i) {
        char c = t[i];
        if (c >= '0' && c <= '9') {
            norm.push_back(c);
            digits = true;
        } else if (c == decimalPoint) {
            norm.push_back('.');
        } else if (c == 'e' || c == 'E') {
            norm.push_back('e');
        } else if ((c == '+' || c == '-') && !norm.empty() && norm.back() == 'e') {
            norm.push_back(c);
        } else {
            throwTypeMismatch();
        }
    }
    if (!digits) throwTypeMismatch();
    double value = 0;
    auto [ptr, ec] = std::from_chars(norm.data(), norm.data() + norm.size(), value);
    if (ec == std::errc::result_out_of_range) throwOverflow();
    if (ec != std::errc() || ptr != norm.data() + norm.size()) throwTypeMismatch();
    return value;
}

std::int32_t roundToLong(double value) {
    if (std::isnan(value)) throwOverflow();
    // nearbyint rounds halves to even in the default rounding mode.
    return checkedLong(std::nearbyint(value));
}

std::string formatNumber(double value, char decimalPoint) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
    if (value == 0) return "0";  // never "-0"
    // Automation prints at most 15 significant digits, without trailing zeros. to_chars gives
    // what "%.15g" gives, many times faster: rates are formatted on every piece of a download.
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
    std::string s(buf, ec == std::errc() ? end : buf);
    if (decimalPoint != '.') {
        for (char& c : s)
            if (c == '.') c = decimalPoint;
    }
    return s;
}

const std::string& Variant::str() const {
    if (auto* s = std::get_if<std::string>(&v_)) return *s;
    throwTypeMismatch();
}

const ByteArray& Variant::bytes() const {
    if (auto* b = std::get_if<ByteArray>(&v_)) return *b;
    throwTypeMismatch();
}

double Variant::toDouble() const {
    switch (type()) {
        case VarType::Empty: return 0;
        case VarType::String: return parseNumber(std::get<std::string>(v_));
        case VarType::Boolean: return std::get<Boolean>(v_).value;
        case VarType::Integer: return std::get<std::int16_t>(v_);
        case VarType::Long: return std::get<std::int32_t>(v_);
        case VarType::Single: return std::get<float>(v_);
        case VarType::Double: return std::get<double>(v_);
        case VarType::Bytes: break;
    }
    throwTypeMismatch();
}

std::int32_t Variant::toLong() const {
    switch (type()) {
        case VarType::Long: return std::get<std::int32_t>(v_);
        case VarType::Integer: return std::get<std::int16_t>(v_);
        case VarType::Boolean: return std::get<Boolean>(v_).value;
        case VarType::Empty: return 0;
        default: return roundToLong(toDouble());
    }
}

std::int16_t Variant::toInteger() const {
    std::int32_t l = toLong();
    if (l < std::numeric_limits<std::int16_t>::min() || l > std::numeric_limits<std::int16_t>::max())
        throwOverflow();
    return static_cast<std::int16_t>(l);
}

VBool Variant::toBool() const {
    switch (type()) {
        case VarType::Boolean: return std::get<Boolean>(v_).value;
        case VarType::Empty: return VFalse;
        case VarType::String: {
            const std::string& s = std::get<std::string>(v_);
            std::string t;
            for (char c : s)
                if (!isSpace(c)) t.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c));
            if (t == "true" || t == "#true#") return VTrue;
            if (t == "false" || t == "#false#") return VFalse;
            return toVBool(parseNumber(s) != 0.0);
        }
        case VarType::Bytes: throwTypeMismatch();
        default: return toVBool(toDouble() != 0.0);
    }
}

float Variant::toSingle() const {
    double d = toDouble();
    if (std::isfinite(d) && std::fabs(d) > static_cast<double>(std::numeric_limits<float>::max()))
        throwOverflow();
    return static_cast<float>(d);
}

std::string Variant::toString() const {
    switch (type()) {
        case VarType::Empty: return {};
        case VarType::String: return std::get<std::string>(v_);
        case VarType::Boolean: return std::get<Boolean>(v_).value ? "True" : "False";
        case VarType::Integer: return std::to_string(std::get<std::int16_t>(v_));
        case VarType::Long: return std::to_string(std::get<std::int32_t>(v_));
        case VarType::Single: {
            // A single prints with 7 significant digits, as automation does.
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.7g", static_cast<double>(std::get<float>(v_)));
            return buf;
        }
        case VarType::Double: return formatNumber(std::get<double>(v_));
        case VarType::Bytes: {
            const ByteArray& b = std::get<ByteArray>(v_);
            return std::string(b.begin(), b.end());
        }
    }
    return {};
}

}  // namespace carvo
