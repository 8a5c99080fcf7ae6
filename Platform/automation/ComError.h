#pragma once
// Errors of the automation layer. A failed call raises ComError carrying an HRESULT-style
// code, so hosts can tell "member not found" from "type mismatch" as a late-bound caller would.

#include <cstdint>
#include <stdexcept>
#include <string>

#include <carvo/CarvoExport.h>

namespace carvo {

using HResult = std::int32_t;

namespace hr {
inline constexpr HResult Ok = 0;
inline constexpr HResult False = 1;
inline constexpr HResult MemberNotFound = static_cast<HResult>(0x80020003);
inline constexpr HResult TypeMismatch = static_cast<HResult>(0x80020005);
inline constexpr HResult UnknownName = static_cast<HResult>(0x80020006);
inline constexpr HResult Overflow = static_cast<HResult>(0x8002000A);
inline constexpr HResult BadParamCount = static_cast<HResult>(0x8002000E);
inline constexpr HResult InvalidArg = static_cast<HResult>(0x80070057);
inline constexpr HResult Fail = static_cast<HResult>(0x80004005);
inline constexpr HResult NoInterface = static_cast<HResult>(0x80004002);
inline constexpr HResult ClassNotAvailable = static_cast<HResult>(0x80040111);
inline constexpr HResult ClassNotRegistered = static_cast<HResult>(0x80040154);
inline constexpr HResult DivisionByZero = static_cast<HResult>(0x800A000B);  // run-time error 11
inline constexpr HResult InvalidProcedureCall = static_cast<HResult>(0x800A0005);  // run-time error 5
inline constexpr HResult FileError = static_cast<HResult>(0x800A0035);  // run-time error 53-ish
}  // namespace hr

class CARVO_API ComError : public std::runtime_error {
public:
    ComError(HResult code, const std::string& message) : std::runtime_error(message), code_(code) {}
    HResult code() const noexcept { return code_; }

private:
    HResult code_;
};

[[noreturn]] inline void throwTypeMismatch(const std::string& what = "Type mismatch") {
    throw ComError(hr::TypeMismatch, what);
}
[[noreturn]] inline void throwOverflow(const std::string& what = "Overflow") {
    throw ComError(hr::Overflow, what);
}

}  // namespace carvo
