#pragma once
// What a container and a control say to each other beside the dispatch interface: the site
// (change notifications, size, host services), and the control's own container-facing side
// (new instance, load, save, resize, property pages).

#include <cstdint>
#include <string_view>
#include <vector>

#include <carvo/CarvoExport.h>
#include <carvo/automation/Events.h>
#include <carvo/automation/Guid.h>

namespace carvo {

class HostServices;
class PropertyBag;

struct Extent {
    int widthTwips = 0;
    int heightTwips = 0;
    bool operator==(const Extent&) const = default;
};

// Twips (1/1440 inch) to HIMETRIC (1/100 mm), rounded as a container stores them.
inline int twipsToHimetric(int twips) {
    return static_cast<int>((static_cast<long long>(twips) * 2540 + 720) / 1440);
}

class CARVO_API ContainerSite {
public:
    virtual ~ContainerSite() = default;
    // Tells the container that a property changed; may throw ComError, which goes back to
    // whoever set the property.
    virtual void onPropertyChanged(std::string_view name) = 0;
    // The control asks for a new size; may throw ComError.
    virtual void requestExtent(const Extent& extent) = 0;
    // The services of the host the control lives in; nullptr for none.
    virtual HostServices* hostServices() = 0;
};

class CARVO_API OleControl {
public:
    virtual ~OleControl() = default;
    virtual void setClientSite(ContainerSite* site) = 0;
    virtual void initNew() = 0;
    virtual void load(PropertyBag& bag) = 0;
    virtual void save(PropertyBag& bag) = 0;
    // The container resized the control to this extent.
    virtual void resize(const Extent& requested) = 0;
    virtual Extent extent() const = 0;
    virtual bool visibleAtRunTime() const = 0;
    virtual std::uint32_t miscStatus() const = 0;
    virtual std::vector<Guid> propertyPages() const = 0;
    virtual ConnectionPoint& connectionPoint() = 0;
};

}  // namespace carvo
