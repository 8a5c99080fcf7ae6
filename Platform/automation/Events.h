#pragma once
// The outgoing side of a control: sinks advise a connection point and are invoked with the
// event's dispatch identifier and its arguments by reference, synchronously, in advise order.

#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include <carvo/CarvoExport.h>
#include <carvo/automation/TypeInfo.h>
#include <carvo/automation/Variant.h>

namespace carvo {

class CARVO_API EventSink {
public:
    virtual ~EventSink() = default;
    virtual void onEvent(DispId id, std::span<Variant> args) = 0;
};

class CARVO_API ConnectionPoint {
public:
    explicit ConnectionPoint(const InterfaceInfo& events) : info_(&events) {}

    const InterfaceInfo& interfaceInfo() const { return *info_; }
    // Returns a cookie for unadvise; never 0.
    std::uint32_t advise(std::shared_ptr<EventSink> sink);
    // Returns false when the cookie is unknown.
    bool unadvise(std::uint32_t cookie);
    std::size_t sinkCount() const { return sinks_->size(); }

    // Invokes every sink; a sink advised or removed by a handler takes effect at the next fire.
    void fire(DispId id, std::span<Variant> args);

private:
    using Sinks = std::vector<std::pair<std::uint32_t, std::shared_ptr<EventSink>>>;
    const InterfaceInfo* info_;
    // Replaced, never changed in place: a fire in progress keeps the list it started with,
    // and firing costs one reference instead of a copy of the list.
    std::shared_ptr<const Sinks> sinks_ = std::make_shared<const Sinks>();
    std::uint32_t nextCookie_ = 1;
};

}  // namespace carvo
