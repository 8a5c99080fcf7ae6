#include "automation/Dispatch.h"

#include <algorithm>
#include <cctype>

namespace carvo {

namespace {

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

MemberKind kindOf(InvokeKind k) {
    switch (k) {
        case InvokeKind::PropertyGet: return MemberKind::PropertyGet;
        case InvokeKind::PropertyPut: return MemberKind::PropertyPut;
        case InvokeKind::Method: break;
    }
    return MemberKind::Method;
}

}  // namespace

std::vector<const MemberInfo*> InterfaceInfo::byDispId(DispId id) const {
    std::vector<const MemberInfo*> out;
    for (const auto& m : members)
        if (m.dispid == id) out.push_back(&m);
    return out;
}

const MemberInfo* InterfaceInfo::find(DispId id, MemberKind kind) const {
    for (const auto& m : members)
        if (m.dispid == id && m.kind == kind) return &m;
    return nullptr;
}

const MemberInfo* InterfaceInfo::findByName(std::string_view wanted) const {
    for (const auto& m : members)
        if (equalsNoCase(m.name, wanted)) return &m;
    return nullptr;
}

const CoClassInfo* TypeLibInfo::findClass(const Guid& clsid) const {
    for (const auto& c : classes)
        if (c.clsid == clsid) return &c;
    return nullptr;
}

const CoClassInfo* TypeLibInfo::findClass(std::string_view progIdOrName) const {
    for (const auto& c : classes)
        if ((!c.progId.empty() && equalsNoCase(c.progId, progIdOrName)) ||
            equalsNoCase(c.name, progIdOrName))
            return &c;
    return nullptr;
}

DispId Dispatch::idOfName(std::string_view name) const {
    if (const MemberInfo* m = typeInfo().findByName(name)) return m->dispid;
    throw ComError(hr::UnknownName, "Unknown name: " + std::string(name));
}

const MemberInfo& checkInvoke(const InterfaceInfo& info, DispId id, InvokeKind kind,
                              std::size_t argCount) {
    const MemberInfo* m = info.find(id, kindOf(kind));
    // A method may also be called as a property get (automation allows either form).
    if (!m && kind == InvokeKind::PropertyGet) m = info.find(id, MemberKind::Method);
    if (!m) throw ComError(hr::MemberNotFound, "Member not found");
    std::size_t expected = m->params.size() + (m->kind == MemberKind::PropertyPut ? 1 : 0);
    if (argCount != expected) throw ComError(hr::BadParamCount, "Invalid number of parameters");
    return *m;
}

Variant getProperty(Dispatch& d, DispId id) { return d.invoke(id, InvokeKind::PropertyGet, {}); }

void putProperty(Dispatch& d, DispId id, Variant value) {
    Variant args[1] = {std::move(value)};
    d.invoke(id, InvokeKind::PropertyPut, args);
}

Variant callMethod(Dispatch& d, DispId id, std::span<Variant> args) {
    return d.invoke(id, InvokeKind::Method, args);
}

Variant getProperty(Dispatch& d, std::string_view name) { return getProperty(d, d.idOfName(name)); }

void putProperty(Dispatch& d, std::string_view name, Variant value) {
    putProperty(d, d.idOfName(name), std::move(value));
}

Variant callMethod(Dispatch& d, std::string_view name, std::span<Variant> args) {
    return callMethod(d, d.idOfName(name), args);
}

}  // namespace carvo
