#include "automation/Events.h"

#include <algorithm>

namespace carvo {

std::uint32_t ConnectionPoint::advise(std::shared_ptr<EventSink> sink) {
    std::uint32_t cookie = nextCookie_++;
    sinks_.emplace_back(cookie, std::move(sink));
    return cookie;
}

bool ConnectionPoint::unadvise(std::uint32_t cookie) {
    auto it = std::find_if(sinks_.begin(), sinks_.end(),
                           [cookie](const auto& s) { return s.first == cookie; });
    if (it == sinks_.end()) return false;
    sinks_.erase(it);
    return true;
}

void ConnectionPoint::fire(DispId id, std::span<Variant> args) {
    // A handler may unadvise (or advise) while we iterate; work on a snapshot that also keeps
    // every sink alive for the length of its call.
    auto snapshot = sinks_;
    for (auto& [cookie, sink] : snapshot) sink->onEvent(id, args);
}

}  // namespace carvo
