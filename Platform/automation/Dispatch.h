#pragma once
// Late-bound calls by dispatch identifier, as a host reaches a control it knows only by its
// type library. Arguments are passed by reference: a callee may write back into them.

#include <memory>
#include <span>
#include <string_view>

#include <carvo/CarvoExport.h>
#include <carvo/automation/ComError.h>
#include <carvo/automation/TypeInfo.h>
#include <carvo/automation/Variant.h>

namespace carvo {

enum class InvokeKind { Method = 1, PropertyGet = 2, PropertyPut = 4 };

class CARVO_API Dispatch {
public:
    virtual ~Dispatch() = default;
    // The interface this object answers for (its type information).
    virtual const InterfaceInfo& typeInfo() const = 0;
    // Throws ComError(UnknownName) for a name the interface does not have.
    DispId idOfName(std::string_view name) const;
    // Throws ComError with MemberNotFound, BadParamCount, TypeMismatch or the member's failure.
    virtual Variant invoke(DispId id, InvokeKind kind, std::span<Variant> args) = 0;
};

// Checks a call against the table: the member must exist for that kind and take that many
// arguments. Returns the member.
CARVO_API const MemberInfo& checkInvoke(const InterfaceInfo& info, DispId id, InvokeKind kind,
                              std::size_t argCount);

// Convenience wrappers a host uses.
CARVO_API Variant getProperty(Dispatch& d, DispId id);
CARVO_API void putProperty(Dispatch& d, DispId id, Variant value);
CARVO_API Variant callMethod(Dispatch& d, DispId id, std::span<Variant> args = {});
CARVO_API Variant getProperty(Dispatch& d, std::string_view name);
CARVO_API void putProperty(Dispatch& d, std::string_view name, Variant value);
CARVO_API Variant callMethod(Dispatch& d, std::string_view name, std::span<Variant> args = {});

}  // namespace carvo
