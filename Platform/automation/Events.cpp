#include "automation/Events.h"

#include <algorithm>

namespace carvo {

std::uint32_t ConnectionPoint::advise(std::shared_ptr<EventSink> sink) {
    std::uint32_t cookie = nextCookie_++;
    auto next = std::make_shared<Sinks>(*sinks_);
    next->emplace_back(cookie, std::move(sink));
    sinks_ = std::move(next);
    return cookie;
}

bool ConnectionPoint::unadvise(std::uint32_t cookie) {
    auto next = std::make_shared<Sinks>(*sinks_);
    auto removed = std::erase_if(*next, [cookie](const auto& s) { return s.first == cookie; });
    if (removed == 0) return false;
    sinks_ = std::move(next);
    return true;
}

void ConnectionPoint::fire(DispId id, std::span<Variant> args) {
    // A handler may advise or unadvise while we iterate; the list taken here stays as it is
    // and keeps every sink alive for the length of its call.
    std::shared_ptr<const Sinks> snapshot = sinks_;
    for (const auto& [cookie, sink] : *snapshot) sink->onEvent(id, args);
}

}  // namespace carvo
