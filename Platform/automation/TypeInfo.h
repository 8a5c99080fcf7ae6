#pragma once
// The description of a type library: interfaces with their members in slot order, dispatch
// identifiers and types, and the classes that implement them. Dispatch, name lookup and
// registration all read one such table, so nothing repeats it.

#include <cstdint>
#include <string_view>
#include <vector>

#include <carvo/CarvoExport.h>
#include <carvo/automation/Guid.h>

namespace carvo {

using DispId = std::int32_t;

enum class MemberKind { PropertyGet, PropertyPut, Method };
enum class VType { Void, String, Boolean, Long, Integer, Single, Double, Variant };

struct ParamInfo {
    std::string_view name;
    VType type;
    bool byRef;
};

struct MemberInfo {
    int slot;
    std::string_view name;
    MemberKind kind;
    DispId dispid;
    VType type;  // the property's type, or a method's result (Void for none)
    std::vector<ParamInfo> params;
};

namespace ifflags {
inline constexpr unsigned Hidden = 0x10;
inline constexpr unsigned Dual = 0x40;
inline constexpr unsigned NonExtensible = 0x80;
inline constexpr unsigned OleAutomation = 0x100;
inline constexpr unsigned Dispatchable = 0x1000;
}  // namespace ifflags

struct CARVO_API InterfaceInfo {
    std::string_view name;
    Guid iid;
    unsigned flags;
    bool isEventInterface;
    std::vector<MemberInfo> members;

    // Members with this identifier (a get and a let share one); empty when unknown.
    std::vector<const MemberInfo*> byDispId(DispId id) const;
    const MemberInfo* find(DispId id, MemberKind kind) const;
    // Case-insensitive, as late-bound callers expect; nullptr when unknown.
    const MemberInfo* findByName(std::string_view name) const;
};

struct CoClassInfo {
    std::string_view name;
    Guid clsid;
    std::string_view progId;  // "" when the class has none
    const InterfaceInfo* defaultInterface;
    const InterfaceInfo* sourceInterface;  // nullptr when the class raises no events
    bool isControl;
    std::uint32_t miscStatus;
    int toolboxBitmap;  // resource number, 0 for none
};

struct CARVO_API TypeLibInfo {
    std::string_view name;
    Guid libid;
    unsigned short majorVersion;
    unsigned short minorVersion;
    std::uint32_t lcid;
    unsigned flags;  // 2 = control library
    std::string_view helpString;
    std::vector<const InterfaceInfo*> interfaces;
    std::vector<CoClassInfo> classes;

    const CoClassInfo* findClass(const Guid& clsid) const;
    const CoClassInfo* findClass(std::string_view progIdOrName) const;
};

}  // namespace carvo
