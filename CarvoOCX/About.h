#pragma once
// About: the control's second property page, a credit line and a link to the maker's home
// page. Its behaviour (texts, the link's hover colour, the click) lives here; a view draws it.

#include <cstdint>
#include <functional>
#include <string>

#include "Library.h"
#include "automation/Dispatch.h"
#include "pages/PropertyPage.h"

namespace carvo {

inline constexpr int kAboutPageWidth = 5295;
inline constexpr int kAboutPageHeight = 990;
// Text colours as 0x00BBGGRR values.
inline constexpr std::uint32_t kColourBlack = 0x000000;
inline constexpr std::uint32_t kColourBlue = 0xFF0000;

class About final : public Dispatch, public PropertyPageBase {
  public:
    // Opens an address with the desktop's browser. The page hands over the address itself,
    // never a command line built from it.
    using UrlOpener = std::function<void(const std::string& url)>;

    About() = default;
    About(const About&) = delete;
    About& operator=(const About&) = delete;

    const InterfaceInfo& typeInfo() const override;
    Variant invoke(DispId id, InvokeKind kind, std::span<Variant> args) override;
    PageInfo pageInfo() const override;

    static std::string homePage();
    static std::string Label1Caption();
    static std::string Label2Caption();

    void setOpener(UrlOpener opener) { opener_ = std::move(opener); }
    bool hasOpener() const { return static_cast<bool>(opener_); }
    std::uint32_t Label2ForeColor() const { return label2ForeColor_; }

    // Pointer notifications. Label1 has none: moving over it changes nothing.
    void Label2_MouseMove() { label2ForeColor_ = kColourBlue; }
    void PropertyPage_MouseMove() { label2ForeColor_ = kColourBlack; }
    // Every click asks for one more launch; the launcher's result is not examined.
    void Label2_Click();

  private:
    void selectionChanged() override {}
    void applyChanges() override {}

    LiveObject live_;
    UrlOpener opener_;
    std::uint32_t label2ForeColor_ = kColourBlack;
};

}  // namespace carvo
