#pragma once
// The automation value that crosses every late-bound call and event. Text is UTF-8; Boolean is
// the 16-bit automation boolean (True -1, False 0), never a C++ bool, because callers compare
// with -1 and a stored 1 must stay 1.

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <carvo/CarvoExport.h>

namespace carvo {

using VBool = std::int16_t;
inline constexpr VBool VTrue = -1;
inline constexpr VBool VFalse = 0;

inline VBool toVBool(bool b) { return b ? VTrue : VFalse; }

struct Empty {
    bool operator==(const Empty&) const = default;
};

// A 16-bit automation boolean held in a Variant (distinct from Integer).
struct Boolean {
    VBool value = VFalse;
    bool operator==(const Boolean&) const = default;
};

using ByteArray = std::vector<std::uint8_t>;

enum class VarType { Empty, String, Boolean, Integer, Long, Single, Double, Bytes };

class CARVO_API Variant {
public:
    Variant() = default;
    Variant(Empty) {}
    Variant(std::string s) : v_(std::move(s)) {}
    Variant(std::string_view s) : v_(std::string(s)) {}
    Variant(const char* s) : v_(std::string(s)) {}
    Variant(Boolean b) : v_(b) {}
    Variant(std::int16_t i) : v_(i) {}
    Variant(std::int32_t l) : v_(l) {}
    Variant(float f) : v_(f) {}
    Variant(double d) : v_(d) {}
    Variant(ByteArray b) : v_(std::move(b)) {}

    static Variant fromBool(VBool b) { return Variant(Boolean{b}); }

    VarType type() const { return static_cast<VarType>(v_.index()); }
    bool isEmpty() const { return type() == VarType::Empty; }

    // Direct access; throws type mismatch when the held type differs.
    const std::string& str() const;
    const ByteArray& bytes() const;

    // Conversions with the automation rules: text to number takes an optional sign, digits, a
    // "." decimal point and an exponent, rounds halves to even, fails with type mismatch on ""
    // or non-numeric text and with overflow outside the target range.
    std::int32_t toLong() const;
    std::int16_t toInteger() const;
    VBool toBool() const;
    float toSingle() const;
    double toDouble() const;
    std::string toString() const;

    bool operator==(const Variant&) const = default;

private:
    std::variant<Empty, std::string, Boolean, std::int16_t, std::int32_t, float, double, ByteArray>
        v_;
};

// Text to double with the automation's numeric rules (see Variant); decimalPoint lets the
// locale's separator be used where a caller needs it.
CARVO_API double parseNumber(std::string_view text, char decimalPoint = '.');
// Rounds to the nearest whole number, halves to even, and checks the 32-bit range.
CARVO_API std::int32_t roundToLong(double value);
// Shortest general form ("1.5", "1024", "9.09"), as automation prints numbers.
CARVO_API std::string formatNumber(double value, char decimalPoint = '.');

}  // namespace carvo
