#pragma once
// What a property page and its property-sheet frame say to each other, and the small field
// interfaces through which a page's behaviour reaches its widgets. Free of any toolkit: the
// library holds the pages' behaviour, a view (Qt, or a test's fakes) supplies the fields.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "automation/Dispatch.h"

namespace carvo {

// ---- fields ---------------------------------------------------------------------------------

// A field runs its page's handler whenever its value changes, whether the user edited it or
// the page set it: a page cannot tell a load from an edit, and must not need to.
class PageField {
  public:
    virtual ~PageField() = default;
    void setChangeHandler(std::function<void()> handler) { handler_ = std::move(handler); }

  protected:
    PageField() = default;
    // Implementations call this after the value changed, synchronously.
    void changed() {
        if (handler_) handler_();
    }

  private:
    std::function<void()> handler_;
};

// A single-line text box. Setting the text it already has changes nothing (no handler call).
class TextField : public PageField {
  public:
    virtual std::string text() const = 0;
    virtual void setText(const std::string& text) = 0;
};

// A combo box with an editable text part; the handler follows the text part. Adding an item
// never changes the text part.
class ComboField : public TextField {
  public:
    virtual void addItem(const std::string& item) = 0;
    virtual std::vector<std::string> items() const = 0;
};

// A check box: 0 unchecked, 1 checked, 2 greyed. Setting a different state runs the handler
// exactly as a click does; setting the same state does nothing.
class CheckField : public PageField {
  public:
    static constexpr int Unchecked = 0;
    static constexpr int Checked = 1;
    static constexpr int Greyed = 2;
    virtual int value() const = 0;
    virtual void setValue(int value) = 0;
};

// ---- page and frame -------------------------------------------------------------------------

// The property-sheet frame as a page sees it.
class PropertyPageSite {
  public:
    virtual ~PropertyPageSite() = default;
    // The page's changed mark moved; the frame enables Apply while any page is changed.
    virtual void onStatusChange() = 0;
};

struct PageInfo {
    std::string_view title;  // the tab caption
    int widthTwips;
    int heightTwips;
};

class PropertyPage {
  public:
    virtual ~PropertyPage() = default;
    virtual PageInfo pageInfo() const = 0;
    virtual void setPageSite(PropertyPageSite* site) = 0;
    // The frame's selection changed: the selected objects, first selected first. Read failures
    // of the selected object end the load and come back as ComError.
    virtual void setObjects(std::vector<std::shared_ptr<Dispatch>> objects) = 0;
    virtual bool isPageDirty() const = 0;
    // Writes the page's values to the selection. A failure comes back as ComError and leaves
    // the page changed; success clears the mark.
    virtual void apply() = 0;
};

// The frame-facing plumbing that every page of this library shares.
class PropertyPageBase : public PropertyPage {
  public:
    void setPageSite(PropertyPageSite* site) override { site_ = site; }
    void setObjects(std::vector<std::shared_ptr<Dispatch>> objects) override {
        objects_ = std::move(objects);
        selectionChanged();
    }
    bool isPageDirty() const override { return changed_; }
    void apply() override {
        applyChanges();
        setChanged(false);
    }

    bool changed() const { return changed_; }
    const std::vector<std::shared_ptr<Dispatch>>& selectedControls() const { return objects_; }

  protected:
    virtual void selectionChanged() = 0;
    virtual void applyChanges() = 0;
    void setChanged(bool changed) {
        if (changed_ == changed) return;
        changed_ = changed;
        if (site_) site_->onStatusChange();
    }

  private:
    PropertyPageSite* site_ = nullptr;
    std::vector<std::shared_ptr<Dispatch>> objects_;
    bool changed_ = false;
};

}  // namespace carvo
