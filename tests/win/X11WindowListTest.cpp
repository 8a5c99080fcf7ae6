#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "ScriptedHost.h"
#include "mdlRegistry.h"
#include "win/WindowList.h"

// Xlib's macros (None, Bool, Status) clash with names in the headers above: it comes last.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

extern char** environ;

namespace {

std::string findProgram(const std::string& name) {
    for (const char* dir : {"/usr/bin", "/usr/local/bin", "/bin"}) {
        std::string p = std::string(dir) + "/" + name;
        if (::access(p.c_str(), X_OK) == 0) return p;
    }
    return {};
}

// A private X server. It picks a free display itself and writes its number to a pipe when
// it is ready to take connections, so there is neither guessing nor a wait on a timer.
class Xvfb {
public:
    explicit Xvfb(const std::string& program) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, fds[1], 3);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        std::vector<std::string> args = {program, "-displayfd", "3", "-nolisten", "tcp",
                                         "-screen", "0", "640x480x24", "-noreset"};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        int rc = posix_spawn(&pid_, program.c_str(), &fa, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        ::close(fds[1]);
        if (rc != 0) {
            pid_ = -1;
            ::close(fds[0]);
            return;
        }
        std::string number;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (number.find('\n') == std::string::npos) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{fds[0], POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            char buf[16];
            ssize_t n = ::read(fds[0], buf, sizeof buf);
            if (n <= 0) break;
            number.append(buf, static_cast<std::size_t>(n));
        }
        ::close(fds[0]);
        if (number.find('\n') != std::string::npos)
            display_.assign(":").append(number, 0, number.find('\n'));
    }
    ~Xvfb() { stop(); }
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    const std::string& display() const { return display_; }
    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    std::string display_;
};

Window makeWindow(Display* d, const char* wmName, const char* netWmName) {
    Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 10, 10, 200, 100, 1, 0, 0);
    if (wmName != nullptr) {
        XChangeProperty(d, w, XA_WM_NAME, XA_STRING, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(wmName),
                        static_cast<int>(std::strlen(wmName)));
    }
    if (netWmName != nullptr) {
        XChangeProperty(d, w, XInternAtom(d, "_NET_WM_NAME", False),
                        XInternAtom(d, "UTF8_STRING", False), 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(netWmName),
                        static_cast<int>(std::strlen(netWmName)));
    }
    XMapWindow(d, w);
    return w;
}

std::ptrdiff_t indexOf(const std::vector<carvo::WindowHandle>& v, Window w) {
    auto it = std::find(v.begin(), v.end(), w);
    return it == v.end() ? -1 : it - v.begin();
}

}  // namespace

TEST(X11WindowList, WithoutADisplayThereIsNothing) {
    auto list = carvo::makeX11WindowList(":65000");
    EXPECT_TRUE(list->topLevelWindows().empty());
    EXPECT_EQ(list->title(1234), "");
}

TEST(X11WindowList, FindsARealWindowOnARealServer) {
    std::string program = findProgram("Xvfb");
    if (program.empty()) GTEST_SKIP() << "Xvfb is not installed";
    Xvfb server(program);
    ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";

    Display* d = XOpenDisplay(server.display().c_str());
    ASSERT_NE(d, nullptr);
    Window product = makeWindow(d, "parvix 2002 v3.1", "parvix 2002 v3.1");
    Window updater = makeWindow(d, nullptr, "Parvix 2002 :: Auto Atualização");
    // Latin-1 in the old property, as older programs set it.
    Window old = makeWindow(d, "Atualiza\xE7\xE3o antiga", nullptr);
    XSync(d, False);

    auto list = carvo::makeX11WindowList(server.display());
    auto windows = list->topLevelWindows();
    // No window manager here: the root's children, the newest (top) first.
    ASSERT_GE(indexOf(windows, product), 0);
    EXPECT_LT(indexOf(windows, old), indexOf(windows, updater));
    EXPECT_LT(indexOf(windows, updater), indexOf(windows, product));

    EXPECT_EQ(list->title(product), "parvix 2002 v3.1");
    EXPECT_EQ(list->title(updater), "Parvix 2002 :: Auto Atualização");
    EXPECT_EQ(list->title(old), "Atualização antiga");
    EXPECT_EQ(list->title(0), "");
    EXPECT_EQ(list->title(0x1ABCDEF), "");  // no such window: an X error, caught

    carvo::test::ScriptedHost host;
    EXPECT_EQ(veltrup::FindWindowByTitle(*list, host, "Parvix 2002 v", false), product);
    EXPECT_GE(host.yieldCount(), 3);
    EXPECT_EQ(veltrup::FindWindowByTitle(*list, host, "Parvix 2002 v", true), 0u);

    // A window manager's stacking list wins over the root's children, bottom to top.
    unsigned long stacking[] = {product, updater};
    XChangeProperty(d, DefaultRootWindow(d), XInternAtom(d, "_NET_CLIENT_LIST_STACKING", False),
                    XA_WINDOW, 32, PropModeReplace, reinterpret_cast<unsigned char*>(stacking),
                    2);
    XSync(d, False);
    EXPECT_EQ(list->topLevelWindows(), (std::vector<carvo::WindowHandle>{updater, product}));

    // A window that closes reads as untitled.
    XDestroyWindow(d, product);
    XSync(d, False);
    EXPECT_EQ(list->title(product), "");
    EXPECT_EQ(veltrup::FindWindowByTitle(*list, host, "Parvix 2002 v", false), 0u);

    // The server goes away: the list empties and the program lives on.
    XCloseDisplay(d);
    server.stop();
    EXPECT_TRUE(list->topLevelWindows().empty());
    EXPECT_EQ(list->title(updater), "");
    EXPECT_TRUE(list->topLevelWindows().empty());
}
