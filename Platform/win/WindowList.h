#pragma once
// The desktop's top-level windows and their titles, for finding a running program by a piece
// of its window title.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace carvo {

using WindowHandle = std::uint64_t;  // 0 = no window

class WindowList {
public:
    virtual ~WindowList() = default;
    // Every top-level window, in stacking order, top first.
    virtual std::vector<WindowHandle> topLevelWindows() = 0;
    // UTF-8; "" for 0, for a window that has gone and for one without a title.
    virtual std::string title(WindowHandle w) = 0;
};

// The X11 desktop's windows: the window manager's client list in stacking order, or the root
// window's children where no window manager publishes one. The display ("" for the desktop's
// own) is opened on first use and again after the connection is lost; without a display the
// list is empty. X errors never end the program.
std::unique_ptr<WindowList> makeX11WindowList(std::string displayName = "");

}  // namespace carvo
