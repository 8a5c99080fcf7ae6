#pragma once
// The ending signals: a logout or a kill still leaves no hidden partial file behind.

#include <QObject>
#include <functional>
#include <memory>

namespace veltrup {

// While the result lives, a signal that ends a session or a program from outside (SIGTERM,
// SIGHUP, SIGINT; one that was ignored at the start stays ignored) is taken by the message
// loop, which deletes the hidden partial file of every frmMain (as the exit button does) and
// then calls end with the signal. nullptr when the signals cannot be watched.
std::unique_ptr<QObject> endOnSignals(std::function<void(int signal)> end);
// Ends the process by the signal's default action.
[[noreturn]] void endBySignal(int signal);

}  // namespace veltrup
