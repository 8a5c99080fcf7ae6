#pragma once
// Design time without a screen: a form's controls brought to life from their saved bags, and
// the property sheet over a selection of them (the pages the controls name, the changed marks
// that enable Apply, Apply itself). The Qt windows of carvo-propsheet only show these.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "automation/Container.h"
#include "automation/Dispatch.h"
#include "pages/PropertyPage.h"
#include "tools/FormFile.h"

namespace carvo {

// Creates an object by ProgID (or CLSID in braces); throws ComError when it cannot.
using ObjectCreator = std::function<std::shared_ptr<Dispatch>(std::string_view progIdOrClsid)>;

// The container's own bag entries: the control's extent in HIMETRIC.
inline constexpr const char* kExtentXKey = "_ExtentX";
inline constexpr const char* kExtentYKey = "_ExtentY";

class DesignForm {
  public:
    struct Control {
        std::string progId;
        std::string name;
        std::shared_ptr<Dispatch> object;
        OleControl* ole = nullptr;
    };

    // Creates and loads every control of the file; throws ComError when a class cannot be
    // created or is no control, or a saved value cannot be loaded.
    DesignForm(const FormFile& file, const ObjectCreator& create);
    ~DesignForm();
    DesignForm(const DesignForm&) = delete;
    DesignForm& operator=(const DesignForm&) = delete;

    const std::vector<Control>& controls() const { return controls_; }
    // The controls' bags as they stand now.
    FormFile toFormFile() const;

    // True once a control reported a property change since loading or markSaved().
    bool modified() const { return modified_; }
    void markSaved() { modified_ = false; }
    // Every change notification so far, as "name.Property".
    const std::vector<std::string>& notifications() const { return notifications_; }

  private:
    class Site;
    std::vector<Control> controls_;
    std::vector<std::unique_ptr<Site>> sites_;
    bool modified_ = false;
    std::vector<std::string> notifications_;
};

class PropertySheet final : public PropertyPageSite {
  public:
    struct Page {
        Guid clsid;
        std::shared_ptr<Dispatch> object;
        PropertyPage* page = nullptr;
    };
    using PageCreator = std::function<std::shared_ptr<Dispatch>(const Guid&)>;

    // The pages that every selected control names, in the first control's order, each given
    // the whole selection (first selected first).
    PropertySheet(std::vector<std::shared_ptr<Dispatch>> selection, const PageCreator& create);
    ~PropertySheet() override;
    PropertySheet(const PropertySheet&) = delete;
    PropertySheet& operator=(const PropertySheet&) = delete;

    const std::vector<Page>& pages() const { return pages_; }
    // Apply is enabled while any page is changed.
    bool applyEnabled() const;
    // Applies the changed pages in tab order and stops at the first failure, whose text it
    // returns (that page stays changed).
    std::optional<std::string> apply();

    // Called whenever a page's changed mark moves.
    void setStatusListener(std::function<void()> listener) { listener_ = std::move(listener); }
    void onStatusChange() override;

  private:
    std::vector<Page> pages_;
    std::function<void()> listener_;
};

}  // namespace carvo
