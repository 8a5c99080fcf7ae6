#pragma once
// The rules Veltrup applies to what a version file offers: how a version text becomes a number
// and which names an update may take. The maker's signing tool applies the same ones, so that
// it never signs what Veltrup would refuse or read otherwise.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "automation/Variant.h"

namespace veltrup {

// The product this Veltrup updates: the name in the registry key it reads the installed
// version from (Software\Parvix 2002\Version). A signed statement names the product it is
// for, and only one made for this one is believed (UpdateVerifier.h says why this name).
inline constexpr const char* kProductName = "Parvix 2002";

// The largest version file Veltrup accepts. A version file is a few hundred bytes: a dozen
// lines, two signatures of 88 characters. 64 KiB leaves room for hundreds of mirror lines and
// comments, and stays far below what the profile reader reads at all (carvo::kProfileMaxBytes,
// 4 MiB), so a file within it is always read whole and never taken for a missing one. Past it
// the file is refused and deleted, so a server cannot fill the disk with a version file that
// never ends.
inline constexpr std::int32_t kMaxVersionFileBytes = 64 * 1024;
// Where links.ini names the version file: UpdateFile, and backup addresses UpdateFile2 to
// UpdateFile9, tried in that order when one fails. Copies from before them read only
// UpdateFile.
inline constexpr int kMaxVersionFileAddresses = 9;

// Converts a version text the same way on every machine: the text ends at its first NUL,
// "." is the decimal point, a fraction rounds half to even. Throws carvo::ComError (type
// mismatch, overflow) for an empty or non-numeric text or one outside 32 bits.
std::int32_t versionFromText(std::string_view text);
// The installed version from the registry's answer: status is what reading the value gave
// (QueryRegValue's code, or the key's open status when the key did not open) and value what
// it read. Nothing recorded (no store, no key, no value) is 0, nothing installed, as always;
// a 32-bit number is itself; a text is converted as above. Anything else is nullopt: a text
// that is not a version ("5.0.1", "5,1", "v5", "99999999999"), a value of another type, a
// store that exists but cannot be read (a FIFO, one over its size limit). Counting those as 0
// would let any older signed release through as an update.
std::optional<std::int32_t> installedVersionNumber(std::int32_t status,
                                                   const carvo::Variant& value);

// The name Veltrup runs under, as an update must never take it.
std::string ownProgramName();
// Whether a name from the version file may be written and started beside the program: a plain
// file name that is none of our own (links.ini, Update.ini, the program), compared without
// regard to case.
bool isSafeUpdateName(std::string_view name, std::string_view ownProgram);

}  // namespace veltrup
