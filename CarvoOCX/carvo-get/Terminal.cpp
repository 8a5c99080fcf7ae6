#include "Terminal.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <iterator>

namespace carvo::cli {

namespace {

// Signal handlers can reach nothing else: this is the state they share with the program.
struct SharedWithHandlers {
    volatile sig_atomic_t interrupted = 0;
    volatile sig_atomic_t quitBy = 0;  // the signal that asked to quit at once, or 0
    volatile sig_atomic_t inQuestion = 0;
    volatile sig_atomic_t rawActive = 0;
    termios original{};
    termios raw{};
};
SharedWithHandlers gShared;

// Signals that end the program soon: the transfer is cancelled at its next yield, which writes
// out every byte already reported, and then the program ends by the signal (SIGPIPE too: a
// --trace read by a program that stops reading). The terminal is given back first.
constexpr int kQuitSignals[] = {SIGTERM, SIGHUP, SIGPIPE};
// Signals that end the program at once.
constexpr int kFatalSignals[] = {SIGQUIT};
// How long a quit may wait for the control to reach a yield before the signal ends the program
// anyway (a write that hangs on a dead disk, say).
constexpr unsigned kQuitGraceSeconds = 1;
struct sigaction gOldInt, gOldTstp, gOldCont, gOldAlarm, gOldFatal[std::size(kFatalSignals)],
    gOldQuit[std::size(kQuitSignals)];

void restoreTerminal() {
    if (gShared.rawActive) ::tcsetattr(STDIN_FILENO, TCSANOW, &gShared.original);
}

void say(const char* text) {
    std::size_t n = 0;
    while (text[n]) ++n;
    ssize_t ignored = ::write(STDERR_FILENO, text, n);
    (void)ignored;
}

// Takes the signal's default action now, from inside its own handler (where it is blocked).
void raiseDefault(int sig) {
    ::signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(sig);
}

// Gives the terminal back and ends the process by the signal's own default action, so the
// shell sees how it ended.
void dieBy(int sig) {
    restoreTerminal();
    raiseDefault(sig);
}

// A quit: cancel at the next yield, and end by sig once the control has written out its bytes.
void quitSoon(int sig) {
    gShared.interrupted = 1;
    gShared.quitBy = sig;
    ::alarm(kQuitGraceSeconds);
}

void onInterrupt(int sig) {
    // Inside a question nothing has been written yet; a third Ctrl-C does not wait any more.
    if (gShared.inQuestion || gShared.quitBy) {
        say("\n");
        dieBy(sig);
        return;
    }
    if (gShared.interrupted) {
        say("\ncarvo-get: quitting at once; the partial file stays.\n");
        quitSoon(sig);
        return;
    }
    gShared.interrupted = 1;
}

void onQuit(int sig) {
    // Every further write to a closed pipe repeats SIGPIPE: that is no new request to hurry.
    if (gShared.quitBy && sig == SIGPIPE) return;
    if (gShared.inQuestion || gShared.quitBy) {
        dieBy(sig);
        return;
    }
    quitSoon(sig);
}

// The quit's grace ran out.
void onAlarm(int sig) { dieBy(gShared.quitBy ? static_cast<int>(gShared.quitBy) : sig); }

void onFatal(int sig) { dieBy(sig); }

void onStop(int sig) {
    // Ctrl-Z: give the terminal back while stopped, take it again when continued.
    const bool wasRaw = gShared.rawActive;
    restoreTerminal();
    raiseDefault(sig);
    // Here again after SIGCONT: still inside the handler, so block the signal again.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    ::sigprocmask(SIG_BLOCK, &set, nullptr);
    struct sigaction sa {};
    sa.sa_handler = onStop;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGTSTP, &sa, nullptr);
    if (wasRaw && ::tcgetpgrp(STDIN_FILENO) == ::getpgrp())
        ::tcsetattr(STDIN_FILENO, TCSANOW, &gShared.raw);
}

void onContinue(int) {
    if (gShared.rawActive && !gShared.inQuestion && ::tcgetpgrp(STDIN_FILENO) == ::getpgrp())
        ::tcsetattr(STDIN_FILENO, TCSANOW, &gShared.raw);
}

void install(int sig, void (*handler)(int), struct sigaction* old) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    for (int s : kFatalSignals) sigaddset(&sa.sa_mask, s);
    for (int s : kQuitSignals) sigaddset(&sa.sa_mask, s);
    sigaddset(&sa.sa_mask, SIGINT);
    sigaddset(&sa.sa_mask, SIGALRM);
    sa.sa_flags = SA_RESTART;
    ::sigaction(sig, &sa, old);
}

}  // namespace

TerminalSession::TerminalSession(bool keys) {
    gShared.interrupted = 0;
    gShared.quitBy = 0;
    gShared.inQuestion = 0;
    gShared.rawActive = 0;
    // A job in the background would be stopped for touching the terminal: only the foreground
    // job takes keys.
    if (keys && ::isatty(STDIN_FILENO) && ::tcgetpgrp(STDIN_FILENO) == ::getpgrp() &&
        ::tcgetattr(STDIN_FILENO, &gShared.original) == 0) {
        gShared.raw = gShared.original;
        gShared.raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        gShared.raw.c_cc[VMIN] = 0;
        gShared.raw.c_cc[VTIME] = 0;
        keys_ = true;
    }
    install(SIGINT, onInterrupt, &gOldInt);
    for (std::size_t i = 0; i < std::size(kFatalSignals); ++i)
        install(kFatalSignals[i], onFatal, &gOldFatal[i]);
    for (std::size_t i = 0; i < std::size(kQuitSignals); ++i)
        install(kQuitSignals[i], onQuit, &gOldQuit[i]);
    install(SIGALRM, onAlarm, &gOldAlarm);
    install(SIGTSTP, onStop, &gOldTstp);
    install(SIGCONT, onContinue, &gOldCont);
    if (keys_) {
        gShared.rawActive = 1;
        ::tcsetattr(STDIN_FILENO, TCSANOW, &gShared.raw);
    }
}

TerminalSession::~TerminalSession() {
    release();
    ::sigaction(SIGINT, &gOldInt, nullptr);
    for (std::size_t i = 0; i < std::size(kFatalSignals); ++i)
        ::sigaction(kFatalSignals[i], &gOldFatal[i], nullptr);
    for (std::size_t i = 0; i < std::size(kQuitSignals); ++i)
        ::sigaction(kQuitSignals[i], &gOldQuit[i], nullptr);
    ::alarm(0);
    ::sigaction(SIGALRM, &gOldAlarm, nullptr);
    ::sigaction(SIGTSTP, &gOldTstp, nullptr);
    ::sigaction(SIGCONT, &gOldCont, nullptr);
}

int TerminalSession::readKey() {
    if (!keys_ || gShared.inQuestion) return -1;
    unsigned char c = 0;
    // VMIN and VTIME are 0: read returns at once with nothing when no key is waiting.
    return ::read(STDIN_FILENO, &c, 1) == 1 ? c : -1;
}

bool TerminalSession::interrupted() const { return gShared.interrupted != 0; }

int TerminalSession::quitSignal() const { return gShared.quitBy; }

void TerminalSession::quitNow() {
    const int sig = gShared.quitBy;
    release();
    ::alarm(0);
    // Unblocked here (outside any handler): the default action ends the process now.
    ::signal(sig, SIG_DFL);
    ::raise(sig);
    std::_Exit(128 + sig);
}

void TerminalSession::beginQuestion() {
    gShared.inQuestion = 1;
    if (keys_) ::tcsetattr(STDIN_FILENO, TCSANOW, &gShared.original);
    // A Ctrl-C that came before the question was asked ends the program now.
    if (gShared.interrupted) {
        say("\n");
        dieBy(SIGINT);
    }
}

void TerminalSession::endQuestion() {
    if (keys_) ::tcsetattr(STDIN_FILENO, TCSANOW, &gShared.raw);
    gShared.inQuestion = 0;
}

void TerminalSession::release() {
    restoreTerminal();
    gShared.rawActive = 0;
    keys_ = false;
}

int TerminalSession::columns(int fd) {
    winsize ws{};
    if (::ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 80;
}

}  // namespace carvo::cli
