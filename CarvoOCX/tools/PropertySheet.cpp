#include "tools/PropertySheet.h"

#include <algorithm>

#include "automation/ComError.h"

namespace carvo {

namespace {

int himetricToTwips(std::int32_t himetric) {
    return static_cast<int>((static_cast<long long>(himetric) * 1440 + 1270) / 2540);
}

}  // namespace

// The form's side of one control: it hears the control's change notifications and accepts
// the size the control asks for, as a form designer does.
class DesignForm::Site final : public ContainerSite {
  public:
    Site(DesignForm& form, std::string name) : form_(form), name_(std::move(name)) {}
    void onPropertyChanged(std::string_view property) override {
        form_.modified_ = true;
        form_.notifications_.push_back(name_ + "." + std::string(property));
    }
    void requestExtent(const Extent&) override {}
    HostServices* hostServices() override { return nullptr; }

  private:
    DesignForm& form_;
    std::string name_;
};

DesignForm::DesignForm(const FormFile& file, const ObjectCreator& create) {
    try {
        for (const FormControl& saved : file.controls) {
            Control c{saved.progId, saved.name, create(saved.progId), nullptr};
            c.ole = dynamic_cast<OleControl*>(c.object.get());
            if (c.ole == nullptr)
                throw ComError(hr::NoInterface,
                               saved.progId + " (" + saved.name + ") is not a control");
            sites_.push_back(std::make_unique<Site>(*this, saved.name));
            c.ole->setClientSite(sites_.back().get());
            controls_.push_back(std::move(c));
            OleControl& ole = *controls_.back().ole;
            TextPropertyBag bag = saved.bag;
            ole.load(bag);
            const Variant noExtent{std::int32_t{0}};
            const std::int32_t cx = bag.read(kExtentXKey, noExtent).toLong();
            const std::int32_t cy = bag.read(kExtentYKey, noExtent).toLong();
            if (cx > 0 && cy > 0) ole.resize({himetricToTwips(cx), himetricToTwips(cy)});
        }
    } catch (...) {
        // No control may keep a site that goes with this half-made form.
        for (auto& c : controls_) c.ole->setClientSite(nullptr);
        throw;
    }
}

DesignForm::~DesignForm() {
    for (auto& c : controls_) c.ole->setClientSite(nullptr);
}

FormFile DesignForm::toFormFile() const {
    FormFile file;
    for (const Control& c : controls_) {
        FormControl saved{c.progId, c.name, {}};
        const Extent e = c.ole->extent();
        saved.bag.set(kExtentXKey, static_cast<std::int32_t>(twipsToHimetric(e.widthTwips)));
        saved.bag.set(kExtentYKey, static_cast<std::int32_t>(twipsToHimetric(e.heightTwips)));
        c.ole->save(saved.bag);
        file.controls.push_back(std::move(saved));
    }
    return file;
}

PropertySheet::PropertySheet(std::vector<std::shared_ptr<Dispatch>> selection,
                             const PageCreator& create) {
    std::vector<Guid> common;
    bool first = true;
    for (const auto& object : selection) {
        auto* ole = dynamic_cast<OleControl*>(object.get());
        std::vector<Guid> names = ole ? ole->propertyPages() : std::vector<Guid>{};
        if (first) {
            common = names;
            first = false;
        } else {
            std::erase_if(common, [&](const Guid& g) {
                return std::find(names.begin(), names.end(), g) == names.end();
            });
        }
    }
    for (const Guid& clsid : common) {
        Page p{clsid, create(clsid), nullptr};
        p.page = dynamic_cast<PropertyPage*>(p.object.get());
        if (p.page == nullptr)
            throw ComError(hr::NoInterface, clsid.toString() + " is not a property page");
        p.page->setPageSite(this);
        pages_.push_back(std::move(p));
    }
    for (auto& p : pages_) p.page->setObjects(selection);
}

PropertySheet::~PropertySheet() {
    for (auto& p : pages_) p.page->setPageSite(nullptr);
}

bool PropertySheet::applyEnabled() const {
    return std::any_of(pages_.begin(), pages_.end(),
                       [](const Page& p) { return p.page->isPageDirty(); });
}

std::optional<std::string> PropertySheet::apply() {
    for (auto& p : pages_) {
        if (!p.page->isPageDirty()) continue;
        try {
            p.page->apply();
        } catch (const ComError& e) {
            return std::string(e.what());
        }
    }
    return std::nullopt;
}

void PropertySheet::onStatusChange() {
    if (listener_) listener_();
}

}  // namespace carvo
