#pragma once
// carvo-get's hold on its terminal and its signals for the length of one run: keys read one
// at a time without echo, Ctrl-C turned into a request to cancel (a second one, or SIGTERM,
// into a quit that still keeps the bytes already reported), and the terminal given back as it
// was, whether the run ends normally or by a signal.

#include <termios.h>

namespace carvo::cli {

class TerminalSession {
  public:
    // Installs the signal handlers; when keys is true, standard input is a terminal and we
    // are its foreground job, switches it to reading single keys without echo.
    explicit TerminalSession(bool keys);
    ~TerminalSession();
    TerminalSession(const TerminalSession&) = delete;
    TerminalSession& operator=(const TerminalSession&) = delete;

    bool keysEnabled() const { return keys_; }
    // The next key pressed, or -1 when none is waiting. Never blocks.
    int readKey();
    // True once Ctrl-C (SIGINT) arrived, or a signal that asks to quit.
    bool interrupted() const;
    // The signal that asked to quit at once (a second Ctrl-C, SIGTERM, SIGHUP, SIGPIPE), or 0.
    // The run cancels at its next yield, which writes out every byte already reported, then
    // calls quitNow(); should it not get there within a second, the signal ends it anyway.
    int quitSignal() const;
    // Gives the terminal back and ends the process by the quit signal.
    [[noreturn]] void quitNow();

    // Around a question asked on the terminal: lines with echo again, and Ctrl-C quits at once
    // (nothing has been written yet when the control asks).
    void beginQuestion();
    void endQuestion();

    // Gives the terminal back as it was, for good (before ending the program from within).
    void release();

    // Columns of the terminal on fd, or 80 when it cannot be told.
    static int columns(int fd);

  private:
    bool keys_ = false;
};

}  // namespace carvo::cli
