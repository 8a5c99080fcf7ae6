#pragma once
// The rules Veltrup applies to what a version file offers: how a version text becomes a number
// and which names an update may take. The maker's signing tool applies the same ones, so that
// it never signs what Veltrup would refuse or read otherwise.

#include <cstdint>
#include <string>
#include <string_view>

#include "automation/Variant.h"

namespace veltrup {

// The product this Veltrup updates: the name in the registry key it reads the installed
// version from (Software\Parvix 2002\Version). A signed statement names the product it is
// for, and only one made for this one is believed (UpdateVerifier.h says why this name).
inline constexpr const char* kProductName = "Parvix 2002";

// Converts a version text the same way on every machine: the text ends at its first NUL,
// "." is the decimal point, a fraction rounds half to even. Throws carvo::ComError (type
// mismatch, overflow) for an empty or non-numeric text or one outside 32 bits.
std::int32_t versionFromText(std::string_view text);
// The installed version: a 32-bit number as it is, text converted as above, Empty and
// anything unreadable counting as 0.
std::int32_t installedVersionNumber(const carvo::Variant& value);

// The name Veltrup runs under, as an update must never take it.
std::string ownProgramName();
// Whether a name from the version file may be written and started beside the program: a plain
// file name that is none of our own (links.ini, Update.ini, the program), compared without
// regard to case.
bool isSafeUpdateName(std::string_view name, std::string_view ownProgram);

}  // namespace veltrup
