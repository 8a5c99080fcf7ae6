#pragma once
// The updater's free routines over the platform: one registry value, one profile-file key, a
// running program found by a piece of its window title, and the shell's "open". Nothing here
// writes anything or keeps state.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "automation/Variant.h"
#include "host/HostServices.h"
#include "win/RegistryStore.h"
#include "win/WindowList.h"

class QWidget;

namespace veltrup {

inline constexpr std::uint32_t HKEY_LOCAL_MACHINE = 0x80000002;

// Reads one value of an opened key into value. Returns 0; the platform's code when the query
// fails (2 for a missing value, 6 for a key that did not open, 234 for a DWORD of more than
// four bytes), value untouched; -1 for a type other than REG_SZ and REG_DWORD, value untouched.
// REG_SZ gives the stored text with its terminating NUL; REG_DWORD gives a signed Long.
std::int32_t QueryRegValue(const carvo::RegKey& key, std::string_view valueName,
                           carvo::Variant& value);

// One value under a predefined root: text, Long, or Empty when the key or value is missing or
// of another type. The key is opened for reading only, so a store the user may not write
// still reads.
carvo::Variant ReadRegValue(std::uint32_t root, std::string_view subKey,
                            std::string_view valueName,
                            const std::filesystem::path& store = carvo::defaultRegistryPath());

// One key of a profile file (see carvo::readProfileString): at most 127 characters; the
// default, taken as text, when the file, section or key is missing.
std::string ReadProfileString(std::string_view section, std::string_view key,
                              const carvo::Variant& defaultValue,
                              const std::filesystem::path& file);

// The first top-level window, top of the stack first, whose title contains text (in any case
// when caseSensitive is false); 0 when none does. Every window is examined, and the host's
// message loop runs once per window examined.
carvo::WindowHandle FindWindowByTitle(carvo::WindowList& windows, carvo::HostServices& host,
                                      std::string_view text, bool caseSensitive);

// The window's title; "" for 0.
std::string GetWindowTitle(carvo::WindowList& windows, carvo::WindowHandle window);

// Opens a document or an address with the desktop's opener; the outcome is not reported.
void ShellOpen(QWidget* owner, const std::string& target);

// The text a registry value shows as: a text up to its first NUL (so the stored terminator is
// never shown), a number in digits, Empty as "".
std::string RegValueText(const carvo::Variant& v);

}  // namespace veltrup
