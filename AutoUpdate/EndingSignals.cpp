#include "EndingSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "frmMain.h"
#include "win/UniqueFd.h"

namespace veltrup {

namespace {

constexpr std::array<int, 3> kEndingSignals{SIGTERM, SIGHUP, SIGINT};

// The write end of the pipe that a signal handler tells its signal through: a handler can reach
// nothing but a variable of this kind. Set while an endOnSignals watch lives.
std::atomic<int> signalPipe{-1};

extern "C" void tellEndingSignal(int signal) {
    const int saved = errno;
    const auto number = static_cast<unsigned char>(signal);
    if (const int fd = signalPipe.load(); fd >= 0) (void)!::write(fd, &number, 1);
    errno = saved;
}

// The pipe's read end, watched by the message loop; the handlers go with it.
class EndingSignals : public QSocketNotifier {
  public:
    EndingSignals(int read, int write)
        : QSocketNotifier(read, QSocketNotifier::Read), read_(read), write_(write) {
        signalPipe.store(write_.get());
        for (int n : kEndingSignals) {
            struct sigaction old {};
            ::sigaction(n, nullptr, &old);
            if (old.sa_handler == SIG_IGN) continue;  // as nohup left it
            struct sigaction sa {};
            sa.sa_handler = &tellEndingSignal;
            // Once only: should the loop not come round (a wait that does not yield), a
            // second signal ends the program at once, as before.
            sa.sa_flags = SA_RESTART | SA_RESETHAND;
            ::sigemptyset(&sa.sa_mask);
            ::sigaction(n, &sa, nullptr);
            handled_.push_back(n);
        }
    }
    ~EndingSignals() override {
        for (int n : handled_) ::signal(n, SIG_DFL);
        signalPipe.store(-1);
    }
    EndingSignals(const EndingSignals&) = delete;
    EndingSignals& operator=(const EndingSignals&) = delete;
    int readEnd() const { return read_.get(); }

  private:
    carvo::UniqueFd read_, write_;
    std::vector<int> handled_;
};

}  // namespace

std::unique_ptr<QObject> endOnSignals(std::function<void(int signal)> end) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return nullptr;
    auto watch = std::make_unique<EndingSignals>(ends[0], ends[1]);
    QObject::connect(watch.get(), &QSocketNotifier::activated, watch.get(),
                     [fd = watch->readEnd(), end = std::move(end)] {
                         unsigned char number = 0;
                         if (::read(fd, &number, 1) != 1) return;
                         // The partial file of a checked update is useless to anyone else.
                         for (QWidget* w : QApplication::topLevelWidgets())
                             if (auto* form = dynamic_cast<frmMain*>(w))
                                 form->discardHiddenPartial();
                         end(number);
                     });
    return watch;
}

void endBySignal(int signal) {
    std::fflush(nullptr);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
    std::_Exit(128 + signal);
}

}  // namespace veltrup
