#include "About.h"

#include "DownLoad.h"
#include "TypeLib.h"

namespace carvo {

namespace {
constexpr const char* kAuthor = "Ivo Lima";
}  // namespace

const InterfaceInfo& About::typeInfo() const { return aboutInterface(); }

Variant About::invoke(DispId id, InvokeKind kind, std::span<Variant> args) {
    checkInvoke(aboutInterface(), id, kind, args.size());  // throws: there are no members
    throw ComError(hr::MemberNotFound, "Member not found");
}

PageInfo About::pageInfo() const { return {"About", kAboutPageWidth, kAboutPageHeight}; }

// The control's default address is the maker's home page; the link shows and opens the same.
std::string About::homePage() { return kDefaultUrl; }
std::string About::Label1Caption() { return std::string("Carvo OCX - Feita por ") + kAuthor; }
std::string About::Label2Caption() { return "Visite Meu Site: " + homePage(); }

void About::Label2_Click() {
    if (opener_) opener_(homePage());
}

}  // namespace carvo
