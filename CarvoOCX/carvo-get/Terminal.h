#pragma once
// carvo-get's hold on its terminal and its signals for the length of one run: keys read one
// at a time without echo, Ctrl-C turned into a request to cancel, and the terminal given back
// as it was, whether the run ends normally or by a signal.

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
    // True once Ctrl-C (SIGINT) arrived.
    bool interrupted() const;

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
