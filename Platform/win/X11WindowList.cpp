#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <optional>

#include "win/WindowList.h"

namespace carvo {

namespace {

// Xlib reports protocol errors through one process-wide handler; ErrorTrap installs a counting
// handler for the length of one of our calls and restores whatever was there before.
thread_local int tErrors = 0;

int countError(Display*, XErrorEvent*) {
    ++tErrors;
    return 0;
}

// A lost connection is reported here first and then to the display's exit handler, which we
// replace so that the program goes on.
int quietIOError(Display*) { return 0; }

class ErrorTrap {
public:
    explicit ErrorTrap(Display* d) : d_(d) {
        prevIO_ = XSetIOErrorHandler(quietIOError);
        XSync(d_, False);  // earlier errors are not ours to count
        tErrors = 0;
        prev_ = XSetErrorHandler(countError);
    }
    ~ErrorTrap() {
        XSync(d_, False);
        XSetErrorHandler(prev_);
        XSetIOErrorHandler(prevIO_);
    }
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

    bool failed() {
        XSync(d_, False);
        return tErrors != 0;
    }

private:
    Display* d_;
    XErrorHandler prev_;
    XIOErrorHandler prevIO_;
};

struct XFreeDeleter {
    void operator()(void* p) const {
        if (p != nullptr) XFree(p);
    }
};

struct Property {
    Atom type = None;
    int format = 0;
    unsigned long items = 0;
    std::unique_ptr<unsigned char, XFreeDeleter> data;
};

std::optional<Property> getProperty(Display* d, Window w, Atom prop, Atom reqType,
                                    long maxLongs) {
    Property p;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    int rc = XGetWindowProperty(d, w, prop, 0, maxLongs, False, reqType, &p.type, &p.format,
                                &p.items, &after, &data);
    p.data.reset(data);
    if (rc != Success || p.type == None) return std::nullopt;
    return p;
}

std::string latin1ToUtf8(const unsigned char* s, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char c = s[i];
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string upToNul(std::string s) {
    s.resize(std::min(s.size(), s.find('\0')));
    return s;
}

class X11WindowList final : public WindowList {
public:
    explicit X11WindowList(std::string name) : name_(std::move(name)) {}
    ~X11WindowList() override { closeDisplay(); }
    X11WindowList(const X11WindowList&) = delete;
    X11WindowList& operator=(const X11WindowList&) = delete;

    std::vector<WindowHandle> topLevelWindows() override {
        Display* d = display();
        if (d == nullptr) return {};
        std::vector<WindowHandle> out;
        {
            ErrorTrap trap(d);
            out = collect(d);
        }
        if (lost_) return {};
        return out;
    }

    std::string title(WindowHandle w) override {
        // X identifiers are 29-bit; anything else is no window of ours to ask about.
        if (w == 0 || w > 0x1FFFFFFFu) return {};
        Display* d = display();
        if (d == nullptr) return {};
        std::string text;
        {
            ErrorTrap trap(d);
            text = readTitle(d, static_cast<Window>(w));
            if (trap.failed()) text.clear();
        }
        if (lost_) return {};
        return upToNul(std::move(text));
    }

private:
    static constexpr long kMaxListLongs = 1 << 20;
    static constexpr long kMaxTitleLongs = 16384;

    std::string readTitle(Display* d, Window w) {
        Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
        Atom netName = XInternAtom(d, "_NET_WM_NAME", False);
        if (auto p = getProperty(d, w, netName, utf8, kMaxTitleLongs);
            p && p->type == utf8 && p->format == 8 && p->items > 0)
            return std::string(reinterpret_cast<const char*>(p->data.get()), p->items);

        auto p = getProperty(d, w, XA_WM_NAME, AnyPropertyType, kMaxTitleLongs);
        if (!p || p->format != 8 || p->items == 0) return {};
        if (p->type == XA_STRING) return latin1ToUtf8(p->data.get(), p->items);
        if (p->type == utf8)
            return std::string(reinterpret_cast<const char*>(p->data.get()), p->items);
        // Compound text and the like: let Xlib convert.
        XTextProperty tp{p->data.get(), p->type, p->format, p->items};
        char** list = nullptr;
        int count = 0;
        std::string out;
        if (Xutf8TextPropertyToTextList(d, &tp, &list, &count) >= Success && list != nullptr) {
            if (count > 0 && list[0] != nullptr) out = list[0];
            XFreeStringList(list);
        }
        return out;
    }

    static std::vector<WindowHandle> collect(Display* d) {
        std::vector<WindowHandle> out;
        Window root = DefaultRootWindow(d);
        // The window manager's lists hold the client windows (which carry the titles) rather
        // than its own frames around them.
        for (const char* name : {"_NET_CLIENT_LIST_STACKING", "_NET_CLIENT_LIST"}) {
            Atom atom = XInternAtom(d, name, True);
            if (atom == None) continue;
            auto p = getProperty(d, root, atom, XA_WINDOW, kMaxListLongs);
            if (!p || p->type != XA_WINDOW || p->format != 32) continue;
            // Format-32 items come back as longs; the lists run bottom to top.
            const auto* ids = reinterpret_cast<const unsigned long*>(p->data.get());
            out.assign(ids, ids + p->items);
            std::reverse(out.begin(), out.end());
            return out;
        }
        Window rootRet = 0, parent = 0;
        Window* children = nullptr;
        unsigned int n = 0;
        if (XQueryTree(d, root, &rootRet, &parent, &children, &n) != 0 && children != nullptr) {
            std::unique_ptr<Window, XFreeDeleter> hold(children);
            out.assign(children, children + n);
            std::reverse(out.begin(), out.end());
        }
        return out;
    }

    Display* display() {
        if (lost_) closeDisplay();
        if (dpy_ == nullptr) {
            dpy_ = XOpenDisplay(name_.empty() ? nullptr : name_.c_str());
            if (dpy_ != nullptr) XSetIOErrorExitHandler(dpy_, &X11WindowList::onLost, this);
        }
        return dpy_;
    }

    void closeDisplay() {
        if (dpy_ != nullptr) XCloseDisplay(dpy_);
        dpy_ = nullptr;
        lost_ = false;
    }

    static void onLost(Display*, void* self) { static_cast<X11WindowList*>(self)->lost_ = true; }

    std::string name_;
    Display* dpy_ = nullptr;
    bool lost_ = false;
};

}  // namespace

std::unique_ptr<WindowList> makeX11WindowList(std::string displayName) {
    return std::make_unique<X11WindowList>(std::move(displayName));
}

}  // namespace carvo
